// Start-up of the program on the test clock: the setup window at once for "--setup", the delayed
// offer only while onboarding is not completed, nothing when the server cannot start.
#include "app/TolvaniAppDelegate.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using std::chrono::milliseconds;

class TolvaniAppDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testSetClock(&clock_);
    platform::Defaults::testResetStandard();
  }
  void TearDown() override { platform::testSetClock(nullptr); }

  // A delegate whose windows write what they were asked to show into `shown_`.
  std::unique_ptr<TolvaniAppDelegate> make(bool serverStarts = true) {
    return std::make_unique<TolvaniAppDelegate>(TolvaniAppDelegate::Services{
        [serverStarts] { return serverStarts; }, [this] { shown_ += "setup;"; },
        [this] { shown_ += "offer;"; }});
  }
  // Moves the test clock and runs what it handed to the main queue.
  void advance(milliseconds by) {
    clock_.advance(by);
    QCoreApplication::processEvents();
  }

  platform::ManualClock clock_;
  QString shown_;
};

TEST_F(TolvaniAppDelegateTest, OfferFollowsAfterADelayOnlyWhileOnboardingIsNotCompleted) {
  AppSettings::setOnboardingCompleted(false);
  auto delegate = make();
  ASSERT_TRUE(delegate->applicationDidFinishLaunching({"tolvani"}));
  advance(milliseconds(1499));
  EXPECT_EQ(shown_, "");
  advance(milliseconds(1));
  EXPECT_EQ(shown_, "offer;");
  advance(milliseconds(5000));
  EXPECT_EQ(shown_, "offer;");

  // Completed: nothing at all.
  shown_.clear();
  AppSettings::setOnboardingCompleted(true);
  auto done = make();
  ASSERT_TRUE(done->applicationDidFinishLaunching({"tolvani"}));
  EXPECT_FALSE(done->testOfferPending());
  advance(milliseconds(5000));
  EXPECT_EQ(shown_, "");

  // Quitting before the delay cancels the offer.
  AppSettings::setOnboardingCompleted(false);
  auto quitting = make();
  ASSERT_TRUE(quitting->applicationDidFinishLaunching({"tolvani"}));
  quitting->applicationWillTerminate();
  advance(milliseconds(5000));
  EXPECT_EQ(shown_, "");
}

TEST_F(TolvaniAppDelegateTest, SetupArgumentShowsTheWindowAtOnceAndNoOfferFollows) {
  for (const bool completed : {false, true}) {
    SCOPED_TRACE(completed ? "completed" : "not completed");
    shown_.clear();
    AppSettings::setOnboardingCompleted(completed);
    auto delegate = make();
    ASSERT_TRUE(delegate->applicationDidFinishLaunching({"tolvani", "--setup"}));
    EXPECT_EQ(shown_, "setup;");
    advance(milliseconds(5000));
    EXPECT_EQ(shown_, "setup;");
    // A later start of the program reopens the window, whatever shows.
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_EQ(shown_, "setup;setup;");
  }
}

TEST_F(TolvaniAppDelegateTest, NoServerShowsNothing) {
  AppSettings::setOnboardingCompleted(false);
  auto delegate = make(/*serverStarts=*/false);
  EXPECT_FALSE(delegate->applicationDidFinishLaunching({"tolvani", "--setup"}));
  advance(milliseconds(5000));
  EXPECT_EQ(shown_, "");
}

}  // namespace
}  // namespace tolvani
