#include "platform/Bundle.h"

#include <gtest/gtest.h>

namespace tolvani::platform {
namespace {

TEST(BundleTest, IdentityVersionAndResources) {
  EXPECT_EQ(bundle::identifier(), QStringLiteral("com.tolvani.inputmethod.TolvaniIME"));
  EXPECT_EQ(bundle::shortVersion(), QStringLiteral("0.1.0"));
  bundle::testSetShortVersion(QString());
  EXPECT_EQ(bundle::shortVersion(), QString());
  bundle::testSetShortVersion(std::nullopt);
  EXPECT_EQ(bundle::shortVersion(), QStringLiteral("0.1.0"));

  // A test program runs from the build tree.
  EXPECT_EQ(bundle::resourcesDir(),
            QStringLiteral(TOLVANI_TEST_BINARY_DIR "/../share/tolvani")
                .replace(QStringLiteral("/platform/../"), QStringLiteral("/")));
  bundle::testSetResourcesDir(QStringLiteral("/opt/r"));
  EXPECT_EQ(bundle::resourcePath(QStringLiteral("layouts/probhat.json")),
            QStringLiteral("/opt/r/layouts/probhat.json"));
  bundle::testSetResourcesDir(std::nullopt);
}

}  // namespace
}  // namespace tolvani::platform
