// Start-up of the program on the test clock: the setup window at once for "--setup", the delayed
// offer only while onboarding is not completed, nothing when the server cannot start.
#include "app/TolvaniAppDelegate.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QString>
#include <QTimer>
#include <cstdlib>
#include <optional>

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/testing/ChildProcess.h"
#include "settings/AppSettings.h"
#include "stats/TypingStatsStore.h"

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
    return std::make_unique<TolvaniAppDelegate>(
        TolvaniAppDelegate::Services{[serverStarts] { return serverStarts; },
                                     [this] { shown_ += "setup;"; }, [this] { shown_ += "offer;"; },
                                     [this](milliseconds limit) {
                                       waits_ << limit;
                                       return true;
                                     },
                                     nullptr});
  }
  // Moves the test clock and runs what it handed to the main queue.
  void advance(milliseconds by) {
    clock_.advance(by);
    QCoreApplication::processEvents();
  }

  platform::ManualClock clock_;
  QString shown_;
  QList<milliseconds> waits_;  // the windows' work waited for, with each wait's limit
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

// The display's loss ends the process without its static objects, whose ends would run the
// windows' queued edits: the shut-down waits for them, once.
TEST_F(TolvaniAppDelegateTest, TheShutDownWaitsForTheWindowsWorkOnce) {
  AppSettings::setOnboardingCompleted(true);
  auto delegate = make();
  ASSERT_TRUE(delegate->applicationDidFinishLaunching({"tolvani"}));
  EXPECT_TRUE(waits_.isEmpty());
  delegate->applicationWillTerminate();
  delegate->applicationWillTerminate();
  ASSERT_EQ(waits_.size(), 1);
  EXPECT_GT(waits_[0], milliseconds(0));
  EXPECT_LE(waits_[0], TolvaniAppDelegate::kShutdownWaitLimit);
}

// On a desktop that has not started IBus yet, "--setup" (the applications menu's entry) ended at
// once with a line on standard error that nobody saw: the window now shows alone.
TEST_F(TolvaniAppDelegateTest, NoServerStillShowsTheSetupWindowAloneForSetup) {
  AppSettings::setOnboardingCompleted(false);
  const auto make = [this] {
    return std::make_unique<TolvaniAppDelegate>(TolvaniAppDelegate::Services{
        [] { return false; }, [this] { shown_ += "setup;"; }, [this] { shown_ += "offer;"; },
        [](milliseconds) { return true; }, [this] { shown_ += "alone;"; }});
  };
  auto plain = make();
  EXPECT_FALSE(plain->applicationDidFinishLaunching({"tolvani"}));
  advance(milliseconds(5000));
  EXPECT_EQ(shown_, "");

  auto setup = make();
  ASSERT_TRUE(setup->applicationDidFinishLaunching({"tolvani", "--setup"}));
  EXPECT_EQ(shown_, "alone;");
  advance(milliseconds(5000));
  EXPECT_EQ(shown_, "alone;") << "no offer follows";
  EXPECT_TRUE(setup->applicationShouldHandleReopen());
  EXPECT_EQ(shown_, "alone;setup;");
}

TEST_F(TolvaniAppDelegateTest, NoServerShowsNothing) {
  AppSettings::setOnboardingCompleted(false);
  auto delegate = make(/*serverStarts=*/false);
  EXPECT_FALSE(delegate->applicationDidFinishLaunching({"tolvani", "--setup"}));
  advance(milliseconds(5000));
  EXPECT_EQ(shown_, "");
}

// exit() called while the event loop runs (Qt's X11 plugin's on a display that broke, Xlib's on an
// I/O error) skipped the shut-down after the loop: the statistics were never written.
TEST_F(TolvaniAppDelegateTest, ExitCalledInsideTheEventLoopStillFlushesTheStatistics) {
  QFile::remove(TypingStatsStore::statsPath());
  const testing::ChildResult child = testing::runChild(QStringLiteral("exitInsideTheLoop"));
  EXPECT_EQ(child.exitCode, 3) << child.standardError.toStdString();
  QFile file(TypingStatsStore::statsPath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const std::optional<TypingStats> stats = TypingStats::fromJson(file.readAll());
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->totalKeystrokes, 1);
}

TOLVANI_CHILD_ROLE(exitInsideTheLoop) {
  AppSettings::setOnboardingCompleted(true);
  TolvaniAppDelegate delegate({[] { return true; }, {}, {}, {}, {}});
  delegate.applicationDidFinishLaunching({"tolvani"});
  TypingStatsStore::recordKeystroke();
  QTimer::singleShot(0, [] { std::exit(3); });
  return QCoreApplication::exec();
}

}  // namespace
}  // namespace tolvani
