// Through a private ibus-daemon: the controllers the engine process keeps for the input contexts
// of a client application, as the engine process reports them.
#include <gtest/gtest.h>
#include <ibus.h>

#include "ime/testing/IBusDaemonHarness.h"

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::TestInputContext;

class IBusDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness_ = std::make_unique<IBusDaemonHarness>(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
    ASSERT_TRUE(harness_->ready()) << harness_->failure().toStdString();
  }
  void TearDown() override { harness_.reset(); }

  // Waits until the engine process has reported `line` `count` times.
  bool waitForEvent(const QString& line, int count = 1) {
    return harness_->waitFor([&] { return harness_->events().count(line) >= count; });
  }
  std::string events() const { return harness_->events().join('\n').toStdString(); }

  std::unique_ptr<IBusDaemonHarness> harness_;
};

TEST_F(IBusDaemonTest, EachContextGetsItsControllerAndFocusAndDestructionReachIt) {
  TestInputContext first(*harness_, "first-app");
  ASSERT_TRUE(first.valid());
  const QString a = first.objectPath();
  first.focusIn();
  first.selectEngine("tolvani");
  ASSERT_TRUE(waitForEvent("activate " + a)) << events();
  EXPECT_EQ(first.engineName(), "tolvani");
  // No controller for the daemon's placeholder context before it.
  EXPECT_EQ(harness_->events().filter(QStringLiteral("controller ")).first(), "controller " + a);
  first.setSurroundingText("ami", 3, 3);
  first.setCursorLocation(100, 200, 1, 18);
  first.sendKey('a', 30, 0);

  // A second application's context: a controller of its own.
  first.focusOut();
  ASSERT_TRUE(waitForEvent("deactivate " + a)) << events();
  TestInputContext second(*harness_, "second-app");
  const QString b = second.objectPath();
  second.focusIn();
  ASSERT_TRUE(waitForEvent("activate " + b)) << events();

  // Back to the first: its controller again, not a new one.
  second.focusOut();
  first.focusIn();
  ASSERT_TRUE(waitForEvent("activate " + a, 2)) << events();
  EXPECT_EQ(harness_->events().count("controller " + a), 1);
  EXPECT_EQ(harness_->events().filter("controller ").size(), 2) << events();

  // The second application closes its context: its controller ends.
  second.destroy();
  first.focusOut();
  first.focusIn();
  ASSERT_TRUE(waitForEvent("release " + b)) << events();

  // The first closes while another context has the focus.
  first.focusOut();
  first.destroy();
  TestInputContext third(*harness_, "third-app");
  third.focusIn();
  ASSERT_TRUE(waitForEvent("release " + a)) << events();
}

}  // namespace
}  // namespace tolvani
