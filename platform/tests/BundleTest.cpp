#include "platform/Bundle.h"

#include <gtest/gtest.h>

namespace tolvani::platform {
namespace {

TEST(BundleTest, IdentityVersionAndResources) {
  EXPECT_EQ(bundle::identifier(), QStringLiteral("com.tolvani.inputmethod.TolvaniIME"));
  EXPECT_EQ(bundle::shortVersion(), QStringLiteral("0.1.0"));
  // A test program runs from the build tree.
  EXPECT_EQ(bundle::resourcePath(QStringLiteral("layouts/probhat.json")),
            QStringLiteral(TOLVANI_TEST_BINARY_DIR "/../share/tolvani/layouts/probhat.json")
                .replace(QStringLiteral("/platform/../"), QStringLiteral("/")));
}

}  // namespace
}  // namespace tolvani::platform
