// The setup run, refreshes and the entry points of the setup window, on a desktop whose answers
// the test gives in any order, with the guide page missing so that the native panel shows (no
// web content process starts).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "settings/AppSettings.h"
#include "settings/UIStrings.h"
#include "setup/onboarding/tests/OnboardingTestSupport.h"

namespace tolvani {
namespace {

using State = InputSourceRegistration::State;
using testing::settle;

const InputSourceSnapshot kNotRegistered{State::notRegistered, false};
const InputSourceSnapshot kEnabled{State::enabled, false};
const InputSourceSnapshot kSelected{State::enabled, true};

class OnboardingStateTest : public testing::ControllerTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(resources_.isValid());
    platform::bundle::testSetResourcesDir(resources_.path());  // no Setup folder in it
    makeController();
  }

  // As show() does for a closed window.
  void open() {
    controller_->loadGuide();
    controller_->window()->show();
    settle();
  }
  QString state() const { return controller_->describe(); }
  QString fallbackStatus() const {
    return controller_->window()->findChild<QLabel*>("fallbackStatus")->text();
  }
  void click(const char* button) {
    QTest::mouseClick(controller_->window()->findChild<QPushButton*>(button), Qt::LeftButton);
    settle();
  }
  // Opens the window and lets the first run find everything set up.
  void openSetUp() {
    open();
    desktop_.menuVisible = true;
    ASSERT_TRUE(desktop_.answer("probe", kSelected));
    desktop_.log.clear();
  }

  QTemporaryDir resources_;
};

TEST_F(OnboardingStateTest, MissingGuideShowsThePanelAndTheRunStillStarts) {
  controller_->loadGuide();
  // The text stays until the next render (showing the window renders at once).
  EXPECT_EQ(fallbackStatus(),
            UIStrings::setupGuideMissing() + "\n" + UIStrings::setupSettingsPath());
  controller_->window()->show();
  settle();
  EXPECT_EQ(clock_.pendingTimers(), 1)
      << "no watchdog waits for a page that never loads; one bounds the probe's answer";
  EXPECT_EQ(desktop_.log.join(' '), "probe");
  EXPECT_EQ(state(),
            "stage=setup tour=0 lang=en status=notRegistered selected=0 menu=0 running=- "
            "failed=- failure=\"\" busy=1 refresh=0 epoch=1 ready=0 page=fallback");

  // The run adds, shows and selects; a run that ends with everything set completes onboarding.
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  EXPECT_EQ(fallbackStatus(), UIStrings::setupWorking());
  ASSERT_TRUE(desktop_.answer("activate"));
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  EXPECT_FALSE(AppSettings::onboardingCompleted());
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu select probe");
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  EXPECT_EQ(fallbackStatus(), UIStrings::setupDoneDetail());
  EXPECT_EQ(state(),
            "stage=setup tour=0 lang=en status=enabled selected=1 menu=1 running=- failed=- "
            "failure=\"\" busy=0 refresh=0 epoch=1 ready=0 page=fallback");

  // The retry button forces every step again, in order; a second retry while busy does nothing.
  desktop_.log.clear();
  click("retryButton");
  const QString busy = state();
  click("retryButton");
  EXPECT_EQ(state(), busy);
  ASSERT_TRUE(desktop_.answerRun(kSelected));
  EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu select probe");
  EXPECT_TRUE(desktop_.waiting().isEmpty());
}

// Without an IBus daemon the run tried to switch, which cannot work before the session starts
// one, and ended on a failed switch instead of saying what is left.
TEST_F(OnboardingStateTest, WithoutADaemonTheRunNeverSwitchesAndSaysWhatIsLeft) {
  const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
  qputenv("XDG_CURRENT_DESKTOP", "XFCE");
  const InputSourceSnapshot addedNoDaemon{State::enabled, false, false};
  for (const int language : {1, 0}) {
    SCOPED_TRACE(language);
    AppSettings::setUiLanguage(language);
    desktop_.log.clear();
    desktop_.menuVisible = false;
    open();
    ASSERT_TRUE(desktop_.answer("probe", {State::notRegistered, false, false}));
    ASSERT_TRUE(desktop_.answer("activate"));
    desktop_.menuVisible = true;
    ASSERT_TRUE(desktop_.answer("showInputMenu"));
    ASSERT_TRUE(desktop_.answer("probe", addedNoDaemon));
    EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu probe");
    EXPECT_TRUE(state().contains("running=- failed=- failure=\"\" busy=0")) << state();
    EXPECT_FALSE(AppSettings::onboardingCompleted());
    EXPECT_EQ(fallbackStatus(), UIStrings::setupIBusNotRunning());
    EXPECT_TRUE(fallbackStatus().contains("\"im-config -n ibus\"")) << fallbackStatus();
    EXPECT_TRUE(fallbackStatus().contains("Super+Space")) << fallbackStatus();
    // IBus Preferences would only offer to start a daemon of their own.
    EXPECT_FALSE(controller_->window()
                     ->findChild<QPushButton*>("settingsButton")
                     ->isVisibleTo(controller_->window()));

    // Retrying takes again every step that can be taken now.
    desktop_.log.clear();
    click("retryButton");
    ASSERT_TRUE(desktop_.answer("probe", addedNoDaemon));
    ASSERT_TRUE(desktop_.answer("activate"));
    ASSERT_TRUE(desktop_.answer("showInputMenu"));
    ASSERT_TRUE(desktop_.answer("probe", addedNoDaemon));
    EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu probe");
    EXPECT_EQ(fallbackStatus(), UIStrings::setupIBusNotRunning());
  }
  // Once the session runs IBus, the switch follows.
  desktop_.log.clear();
  click("retryButton");
  ASSERT_TRUE(desktop_.answerRun(kEnabled));
  EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu select probe");
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  EXPECT_EQ(fallbackStatus(), UIStrings::setupDoneDetail());
  qputenv("XDG_CURRENT_DESKTOP", desktop);
}

TEST_F(OnboardingStateTest, NonForcedRunsDoOnlyWhatIsMissing) {
  // Completed and enabled: nothing runs, nothing fails.
  AppSettings::setOnboardingCompleted(true);
  open();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  EXPECT_EQ(desktop_.log.join(' '), "probe");
  EXPECT_TRUE(state().contains("running=- failed=- failure=\"\" busy=0")) << state();

  // Enabled and the menu visible but not selected: select only.
  AppSettings::setOnboardingCompleted(false);
  desktop_.log.clear();
  desktop_.menuVisible = true;
  open();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_EQ(desktop_.log.join(' '), "probe select probe");
  EXPECT_TRUE(AppSettings::onboardingCompleted());
}

TEST_F(OnboardingStateTest, AFailedStepStopsTheRunAndKeepsItsOwnMessage) {
  open();
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.fail("showInputMenu", "menu failed"));
  ASSERT_TRUE(desktop_.fail("probe", "probe failed"));  // the re-probe's own error is dropped
  EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu probe");
  EXPECT_TRUE(state().contains("running=- failed=show failure=\"menu failed\" busy=0")) << state();
  EXPECT_EQ(fallbackStatus(), "menu failed");

  // A failing probe at the start fails add with the probe's message.
  click("retryButton");
  ASSERT_TRUE(desktop_.fail("probe", "cannot tell"));
  EXPECT_TRUE(state().contains("failed=add failure=\"cannot tell\"")) << state();

  // All steps succeed but the re-probe fails: the first unmet step (by the first probe) fails.
  click("retryButton");
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(desktop_.fail("probe", "gone"));
  EXPECT_TRUE(state().contains("failed=show failure=\"gone\"")) << state();
  EXPECT_FALSE(AppSettings::onboardingCompleted());
}

TEST_F(OnboardingStateTest, RefreshesCoalesceAndStaleResultsChangeNothing) {
  openSetUp();
  // Three refreshes while one is in flight give exactly one more.
  controller_->refreshStatus();
  controller_->refreshStatus();
  controller_->refreshStatus();
  EXPECT_TRUE(state().contains("refresh=1+queued")) << state();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_EQ(desktop_.log.join(' '), "probe probe");
  EXPECT_TRUE(desktop_.waiting().isEmpty());

  // A refresh started before a run and answered after it (out of order) changes nothing.
  desktop_.log.clear();
  controller_->refreshStatus();
  controller_->retrySetup();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));  // the refresh's, answered first...
  const QString afterRefresh = state();
  EXPECT_TRUE(afterRefresh.contains("status=enabled selected=1 menu=1")) << afterRefresh;
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));  // ...then the run's
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", kSelected));

  controller_->refreshStatus();
  controller_->retrySetup();
  settle();
  ASSERT_EQ(desktop_.waiting().join(' '), "probe probe");
  // This time the run's probe answers first and the refresh's stale one last.
  ASSERT_TRUE(desktop_.answerNewest("probe", kSelected));
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(desktop_.answerNewest("probe", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  EXPECT_TRUE(
      state().contains("status=enabled selected=1 menu=1 running=- failed=- failure=\"\" "
                       "busy=0 refresh=0"))
      << state();
}

TEST_F(OnboardingStateTest, ReloadingOrClosingDuringAStepDropsItsResult) {
  open();
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  ASSERT_TRUE(desktop_.waiting().contains("activate"));
  const QString oldSession = controller_->session();
  controller_->loadGuide();
  EXPECT_NE(controller_->session(), oldSession);
  desktop_.log.clear();
  ASSERT_TRUE(desktop_.answer("activate"));  // the old run's step
  EXPECT_EQ(desktop_.log.join(' '), "probe") << "the new run's probe, and no step of the old";
  EXPECT_TRUE(state().contains("status=notRegistered selected=0 menu=0 running=- failed=-"))
      << state();

  // Closing: the pending probe of the new run answers into nothing; deferral is recorded.
  controller_->window()->close();
  settle();
  EXPECT_TRUE(AppSettings::onboardingDeferred());
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_TRUE(state().contains("status=notRegistered selected=0 menu=0 running=- failed=-"))
      << state();
  EXPECT_TRUE(state().contains("busy=0")) << state();
}

TEST_F(OnboardingStateTest, ARefreshThatFindsTheFailedStepMetClearsOrRunsAgain) {
  openSetUp();
  // A failed switch...
  controller_->retrySetup();
  settle();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.fail("select", "no switch"));
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  ASSERT_TRUE(state().contains("failed=select")) << state();
  // ...then the desktop reports the source selected: completed onboarding clears the failure.
  controller_->refreshStatus();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_TRUE(state().contains("failed=- failure=\"\" busy=0")) << state();

  // Not completed: the refresh starts a non-forced run instead.
  AppSettings::setOnboardingCompleted(false);
  controller_->retrySetup();
  settle();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.fail("select", "no switch"));
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  desktop_.log.clear();
  controller_->refreshStatus();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_TRUE(state().contains("busy=1")) << state();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_EQ(desktop_.log.join(' '), "probe probe");
  EXPECT_TRUE(AppSettings::onboardingCompleted());
}

// A step whose children each ran into their deadline kept the window on "Working…" for half a
// minute and more: every wait of a run now has one bound, after which the run ends and says so.
TEST_F(OnboardingStateTest, AStepThatNeverAnswersEndsTheRunWithinTheBound) {
  // Each answer within the bound: the bound is each wait's, not the run's.
  const auto almost = [&] {
    clock_.advance(OnboardingWindowController::kAnswerLimit - std::chrono::milliseconds(1));
    settle();
  };
  open();
  almost();
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  almost();
  ASSERT_TRUE(desktop_.answer("activate"));
  desktop_.menuVisible = true;
  almost();
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_EQ(desktop_.waiting().join(' '), "select");
  almost();
  EXPECT_TRUE(state().contains("running=select failed=- failure=\"\" busy=1")) << state();
  clock_.advance(std::chrono::milliseconds(1));
  settle();
  EXPECT_TRUE(state().contains("running=- failed=select failure=\"" + UIStrings::setupNoAnswer() +
                               "\" busy=0"))
      << state();
  EXPECT_EQ(fallbackStatus(), UIStrings::setupNoAnswer());
  // Its late answer finds the run gone; a retry starts afresh.
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  EXPECT_TRUE(desktop_.waiting().isEmpty()) << desktop_.waiting().join(' ');
  EXPECT_TRUE(state().contains("failed=select")) << state();
  click("retryButton");
  EXPECT_TRUE(state().contains("busy=1")) << state();

  // A probe that never answers is bounded too.
  clock_.advance(OnboardingWindowController::kAnswerLimit);
  settle();
  EXPECT_TRUE(state().contains("running=- failed=add failure=\"" + UIStrings::setupNoAnswer() +
                               "\" busy=0"))
      << state();
  EXPECT_FALSE(AppSettings::onboardingCompleted());
}

// On GNOME only the shell switches and it does not follow a switch made in IBus behind it: the
// run switched anyway, and the window said all set while the shell showed another keyboard. The
// run does what the program can, the switch waits for the person's choice in the shell's menu,
// which completes the setup; Retry does the same.
TEST_F(OnboardingStateTest, WhereTheShellSwitchesTheRunLeavesTheChoiceToThePerson) {
  desktop_.selectedByPerson = true;
  open();
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  ASSERT_TRUE(desktop_.answer("activate"));
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu probe");
  EXPECT_TRUE(state().contains("running=- failed=- failure=\"\" busy=0")) << state();
  EXPECT_EQ(fallbackStatus(), UIStrings::setupChooseInTopBar());
  EXPECT_FALSE(AppSettings::onboardingCompleted());

  desktop_.log.clear();
  click("retryButton");
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu probe");
  EXPECT_EQ(fallbackStatus(), UIStrings::setupChooseInTopBar());
  // A check that fails after the steps blames no switch, which is the person's to make.
  click("retryButton");
  ASSERT_TRUE(desktop_.answer("probe", kEnabled) && desktop_.answer("activate") &&
              desktop_.answer("showInputMenu") && desktop_.fail("probe", "gone"));
  EXPECT_TRUE(state().contains("failed=add failure=\"gone\"")) << state();

  // The person chooses Tolvani in the shell's menu: the window follows and setup is complete.
  desktop_.log.clear();
  controller_->refreshStatus();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_EQ(desktop_.log.join(' '), "probe probe");
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  EXPECT_EQ(fallbackStatus(), UIStrings::setupDoneDetail());
  // Then another keyboard: no step is left, and the window says how to come back.
  controller_->refreshStatus();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  EXPECT_EQ(fallbackStatus(), UIStrings::setupSwitchBack(true));
  EXPECT_TRUE(state().contains("running=- failed=- failure=\"\" busy=0")) << state();
}

// Each check of the run in the one situation where it decides: late answers for an earlier
// session, runs that end with a step unmet or failed, a reload after everything was set, a close
// after a failure.
TEST_F(OnboardingStateTest, LateAnswersReloadsAndClosesLeaveNoStaleState) {
  struct Case {
    const char* name;
    std::function<void()> run;
    const char* expected;  // part of describe()
    bool completed;
  };
  const Case cases[] = {
      {"the re-probe of a run answered after a reload",
       [&] {
         open();
         desktop_.menuVisible = true;
         ASSERT_TRUE(desktop_.answer("probe", kNotRegistered) && desktop_.answer("activate") &&
                     desktop_.answer("select", kSelected));
         controller_->loadGuide();
         ASSERT_TRUE(desktop_.answer("probe", kSelected));  // the old run's, asked first
       },
       "status=notRegistered selected=0 menu=1 running=- failed=- failure=\"\" busy=1", false},
      {"a run that ends with the input menu still hidden",
       [&] {
         open();
         ASSERT_TRUE(desktop_.answer("probe", kSelected) && desktop_.answer("showInputMenu") &&
                     desktop_.answer("probe", kSelected));
       },
       "status=enabled selected=1 menu=0 running=- failed=- failure=\"\" busy=0", false},
      {"a run whose re-probe finds the source not selected",
       [&] {
         desktop_.menuVisible = true;
         open();
         ASSERT_TRUE(desktop_.answer("probe", kEnabled) && desktop_.answer("select", kSelected) &&
                     desktop_.answer("probe", kEnabled));
       },
       "status=enabled selected=0 menu=1 running=- failed=- failure=\"\" busy=0", false},
      {"a step that failed though the re-probe finds everything set",
       [&] {
         desktop_.menuVisible = true;
         open();
         ASSERT_TRUE(desktop_.answer("probe", kEnabled) && desktop_.fail("select", "no switch") &&
                     desktop_.answer("probe", kSelected));
       },
       "status=enabled selected=1 menu=1 running=- failed=select failure=\"no switch\" busy=0",
       false},
      {"a refresh answered after a close",
       [&] {
         openSetUp();
         controller_->refreshStatus();
         controller_->window()->close();
         settle();
         ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
       },
       "status=enabled selected=1 menu=1", true},
      {"a reload after everything was set",
       [&] {
         openSetUp();
         controller_->loadGuide();
       },
       "status=notRegistered selected=0 menu=1 running=- failed=- failure=\"\" busy=1", true},
      {"a close after a failure",
       [&] {
         open();
         ASSERT_TRUE(desktop_.fail("probe", "no state"));
         controller_->window()->close();
         settle();
       },
       "running=- failed=- failure=\"\" busy=0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppSettings::setOnboardingCompleted(false);
    desktop_ = testing::ScriptedDesktop();
    controller_ = std::make_unique<OnboardingWindowController>();
    c.run();
    EXPECT_TRUE(state().contains(c.expected)) << state();
    EXPECT_EQ(AppSettings::onboardingCompleted(), c.completed);
  }
}

TEST_F(OnboardingStateTest, CommittedBanglaCompletesOnboardingAndClosingDefersOtherwise) {
  openSetUp();
  AppSettings::setOnboardingCompleted(false);
  EXPECT_FALSE(OnboardingWindowController::confirmSetup(QStringLiteral("hello")));
  EXPECT_FALSE(OnboardingWindowController::confirmSetup(QString::fromUtf8("\u09BE\u09E6")));
  EXPECT_FALSE(AppSettings::onboardingCompleted());
  EXPECT_TRUE(OnboardingWindowController::confirmSetup(QString::fromUtf8("\u0995")));
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  EXPECT_TRUE(OnboardingWindowController::confirmSetup(QStringLiteral("latin again")));

  // Closing after completion leaves the deferral alone.
  controller_->window()->close();
  settle();
  EXPECT_FALSE(AppSettings::onboardingDeferred());
}

// The first start offered a window saying all was set, which took the keys the person typed: the
// offer is made only with a step left, and the window it shows takes no focus.
TEST_F(OnboardingStateTest, ShowIfNeededOffersOnlyWithAStepLeftAndTakesNoFocus) {
  desktop_.menuVisible = true;
  OnboardingWindowController::showIfNeeded();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  EXPECT_EQ(OnboardingWindowController::existing(), nullptr);
  desktop_.panelRuns = false;
  OnboardingWindowController::showIfNeeded();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_NE(OnboardingWindowController::existing(), nullptr);
  QWidget* window = OnboardingWindowController::existing()->window();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
  EXPECT_FALSE(window->isMinimized());
  // Opened on request, it comes forward.
  OnboardingWindowController::show();
  EXPECT_FALSE(window->testAttribute(Qt::WA_ShowWithoutActivating));
  window->close();
  // On KDE on Wayland the offered window took the focus and the keys typed next: there no window
  // asks to be mapped without it, and an offered one waits minimized in the task manager. X11 and
  // GNOME's shell (without a task bar) show it.
  EXPECT_TRUE(OnboardingWindowController::offerMinimized(QStringLiteral("wayland"), false));
  EXPECT_TRUE(OnboardingWindowController::offerMinimized(QStringLiteral("wayland-egl"), false));
  EXPECT_FALSE(OnboardingWindowController::offerMinimized(QStringLiteral("wayland"), true));
  EXPECT_FALSE(OnboardingWindowController::offerMinimized(QStringLiteral("xcb"), false));
}

// Under Sway the offered window took the keys typed next: Sway focuses every new window and
// minimizes none. Nothing is offered there, not even a probe runs; elsewhere the offer goes on.
TEST_F(OnboardingStateTest, NothingIsOfferedUnderSway) {
  const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
  qputenv("XDG_CURRENT_DESKTOP", "sway");
  desktop_.panelRuns = false;
  OnboardingWindowController::showIfNeeded();
  settle();
  EXPECT_TRUE(desktop_.waiting().isEmpty()) << desktop_.waiting().join(' ').toStdString();
  EXPECT_EQ(OnboardingWindowController::existing(), nullptr);
  qputenv("XDG_CURRENT_DESKTOP", desktop);
  OnboardingWindowController::showIfNeeded();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_NE(OnboardingWindowController::existing(), nullptr);
  EXPECT_TRUE(OnboardingWindowController::existing()->window()->isVisible());
}

// The window the first start offered switched to Tolvani after the person had tapped back to
// their layout. The offered window's runs leave the keyboard alone and say how to switch; Retry
// Setup, the person's own, switches, and so does the person's tap, which completes the setup.
TEST_F(OnboardingStateTest, AnOfferedWindowLeavesTheSwitchToThePerson) {
  desktop_.menuVisible = true;
  OnboardingWindowController::showIfNeeded();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  OnboardingWindowController* offered = OnboardingWindowController::existing();
  ASSERT_NE(offered, nullptr);
  const auto status = [&] {
    return offered->window()->findChild<QLabel*>("fallbackStatus")->text();
  };
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  settle();
  EXPECT_FALSE(desktop_.log.contains("select")) << desktop_.log.join(' ').toStdString();
  EXPECT_TRUE(desktop_.waiting().isEmpty()) << desktop_.waiting().join(' ').toStdString();
  EXPECT_EQ(status(), UIStrings::setupSwitchBack(false));
  EXPECT_FALSE(AppSettings::onboardingCompleted());
  // A check after a change of the desktop's sources leaves it alone too.
  offered->refreshStatus();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  settle();
  EXPECT_FALSE(desktop_.log.contains("select")) << desktop_.log.join(' ').toStdString();

  offered->retrySetup();
  settle();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled) && desktop_.answer("activate") &&
              desktop_.answer("showInputMenu") && desktop_.answer("select", kSelected) &&
              desktop_.answer("probe", kSelected))
      << desktop_.log.join(' ').toStdString();
  settle();
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  EXPECT_EQ(status(), UIStrings::setupDoneDetail());
  AppSettings::setOnboardingCompleted(false);

  // The person's own tap: the check finds Tolvani chosen and a run with nothing to do completes.
  offered->window()->close();
  settle();
  AppSettings::setOnboardingDeferred(false);
  desktop_.log.clear();
  OnboardingWindowController::showIfNeeded();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  settle();
  offered->refreshStatus();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  settle();
  EXPECT_FALSE(desktop_.log.contains("select")) << desktop_.log.join(' ').toStdString();
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  EXPECT_EQ(status(), UIStrings::setupDoneDetail());
  offered->window()->close();
}

TEST_F(OnboardingStateTest, ShowIfNeededAfterADeferralAsksTheDesktopFirst) {
  AppSettings::setOnboardingDeferred(true);
  OnboardingWindowController::showIfNeeded();
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  EXPECT_EQ(OnboardingWindowController::existing(), nullptr);
  AppSettings::setOnboardingCompleted(true);
  OnboardingWindowController::showIfNeeded();
  EXPECT_TRUE(desktop_.waiting().isEmpty());
  EXPECT_EQ(OnboardingWindowController::existing(), nullptr);
}

TEST_F(OnboardingStateTest, ShowBringsTheWindowForwardAndReloadsOnlyAfterAClose) {
  ASSERT_EQ(OnboardingWindowController::existing(), nullptr);
  OnboardingWindowController::show();
  OnboardingWindowController* shown = OnboardingWindowController::existing();
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->window()->isVisible());
  const QString first = shown->session();
  settle();
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("probe", kSelected));

  // Shown again: the same page, back at the setup stage, re-probed.
  OnboardingWindowController::showTour();
  EXPECT_TRUE(shown->describe().startsWith("stage=tour tour=0")) << shown->describe();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  OnboardingWindowController::show();
  EXPECT_EQ(OnboardingWindowController::existing(), shown);
  EXPECT_EQ(shown->session(), first);
  EXPECT_TRUE(shown->describe().startsWith("stage=setup")) << shown->describe();
  EXPECT_EQ(desktop_.waiting().join(' '), "probe");
  ASSERT_TRUE(desktop_.answer("probe", kSelected));

  // Minimised: brought back without a reload.
  shown->window()->showMinimized();
  settle();
  ASSERT_TRUE(desktop_.answer("probe", kSelected));  // minimising re-probes
  OnboardingWindowController::show();
  EXPECT_FALSE(shown->window()->isMinimized());
  EXPECT_EQ(shown->session(), first);
  settle();
  while (desktop_.answer("probe", kSelected)) {
  }

  // Closed: notifications do nothing, and the next show() reloads under a new session.
  shown->window()->close();
  settle();
  desktop_.log.clear();
  AppSettings::setUiLanguage(0);
  AppSettings::postDidChange();
  settle();
  EXPECT_TRUE(shown->describe().contains("lang=en ")) << shown->describe();
  EXPECT_TRUE(desktop_.log.isEmpty()) << desktop_.log.join(' ');
  OnboardingWindowController::show();
  EXPECT_NE(shown->session(), first);
  EXPECT_TRUE(shown->describe().contains("lang=bn ")) << shown->describe();
  settle();
  EXPECT_EQ(desktop_.log.join(' '), "probe");
}

TEST_F(OnboardingStateTest, PanelTextsAndScreenshotsInBothLanguages) {
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  for (const int language : {0, 1}) {
    for (const bool dark : {false, true}) {
      AppSettings::setUiLanguage(language);
      controller_ = std::make_unique<OnboardingWindowController>();
      if (dark) {
        QPalette palette = controller_->window()->palette();
        palette.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
        palette.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        palette.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
        palette.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
        controller_->window()->setPalette(palette);
      }
      open();
      ASSERT_TRUE(desktop_.fail("probe", "IBus did not report the keyboard's state."));
      QWidget* window = controller_->window();
      EXPECT_EQ(window->windowTitle(), UIStrings::setupTitle());
      QStringList buttons;
      for (const char* name : {"retryButton", "settingsButton", "reloadButton"}) {
        const QPushButton* button = window->findChild<QPushButton*>(name);
        buttons << button->text();
        // Without a probe's answer IBus Preferences are not offered.
        if (button->isVisibleTo(window)) {
          EXPECT_GE(button->width(), button->sizeHint().width()) << name;
        }
      }
      EXPECT_EQ(buttons.join('|'), UIStrings::setupRetry() + "|" + UIStrings::setupOpenSettings() +
                                       "|" + UIStrings::setupReloadGuide());
      const QColor background = window->palette().color(QPalette::Window);
      EXPECT_EQ(background.name(), dark ? "#1a1d1b" : "#fbf8f1");
      const QLabel* status = window->findChild<QLabel*>("fallbackStatus");
      EXPECT_GT(std::abs(status->palette().color(QPalette::WindowText).lightness() -
                         background.lightness()),
                100);
      const QString path =
          QStringLiteral("%1/onboarding-fallback-%2%3.png")
              .arg(folder, language == 0 ? "bangla" : "english", dark ? "-dark" : "");
      EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
    }
  }
}

// The panel's three buttons in both languages, each clicked under its own text: retry runs every
// step again; "Open Keyboard Settings" starts GNOME's Keyboard page on GNOME and IBus's
// preferences elsewhere, and writes the path where neither is installed; "Reload Guide" loads the
// guide again under a new session.
TEST_F(OnboardingStateTest, PanelButtonsDoTheirWorkInBothLanguages) {
  QTemporaryDir bin;
  ASSERT_TRUE(bin.isValid());
  const QString started = bin.path() + "/started.txt";
  for (const char* tool : {"gnome-control-center", "ibus-setup"}) {
    QFile script(bin.path() + "/" + tool);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho \"${0##*/} $*\" >> '" + started.toUtf8() + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  const auto startedTools = [&] {
    QFile file(started);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
  };
  const QByteArray path = qgetenv("PATH");
  const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");

  struct Case {
    int language;
    const char* retry;
    const char* settings;
    const char* reload;
  };
  for (const Case& c : {Case{1, "Retry Setup", "Open Keyboard Settings", "Reload Guide"},
                        Case{0, "আবার চেষ্টা করুন", "কীবোর্ড সেটিংস খুলুন", "গাইড আবার খুলুন"}}) {
    SCOPED_TRACE(c.language);
    // GNOME's wording; elsewhere the window IBus Preferences is named.
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    AppSettings::setUiLanguage(c.language);
    controller_ = std::make_unique<OnboardingWindowController>();
    ASSERT_NO_FATAL_FAILURE(openSetUp());
    const auto button = [&](const char* name) {
      return controller_->window()->findChild<QPushButton*>(name);
    };
    EXPECT_EQ(button("retryButton")->text(), QString::fromUtf8(c.retry));
    EXPECT_EQ(button("settingsButton")->text(), QString::fromUtf8(c.settings));
    EXPECT_EQ(button("reloadButton")->text(), QString::fromUtf8(c.reload));

    click("retryButton");
    EXPECT_TRUE(state().contains("busy=1")) << state();
    ASSERT_TRUE(desktop_.answerRun(kSelected));
    EXPECT_EQ(desktop_.log.join(' '), "probe activate showInputMenu select probe");
    EXPECT_EQ(fallbackStatus(), UIStrings::setupDoneDetail());

    QFile::remove(started);
    qputenv("PATH", bin.path().toUtf8());
    qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    click("settingsButton");
    ASSERT_TRUE(testing::settleUntil([&] { return !startedTools().isEmpty(); }, 10000));
    EXPECT_EQ(startedTools(), "gnome-control-center keyboard");
    QFile::remove(started);
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    click("settingsButton");
    ASSERT_TRUE(testing::settleUntil([&] { return !startedTools().isEmpty(); }, 10000));
    EXPECT_EQ(startedTools(), "ibus-setup");
    EXPECT_EQ(fallbackStatus(), UIStrings::setupDoneDetail()) << "nothing to report";
    qputenv("PATH", "/nonexistent");
    click("settingsButton");
    EXPECT_EQ(fallbackStatus(), UIStrings::setupSettingsPath());
    qputenv("PATH", path);

    const QString session = controller_->session();
    desktop_.log.clear();
    click("reloadButton");
    EXPECT_NE(controller_->session(), session);
    EXPECT_EQ(desktop_.log.join(' '), "probe") << "the run starts again";
    EXPECT_EQ(fallbackStatus(),
              UIStrings::setupGuideMissing() + "\n" + UIStrings::setupSettingsPath());
    EXPECT_TRUE(fallbackStatus().startsWith(c.language == 0 ? QString::fromUtf8("সেটআপ গাইডটি")
                                                            : QString("The setup guide")));
    ASSERT_TRUE(desktop_.answer("probe", kSelected));
  }
  qputenv("XDG_CURRENT_DESKTOP", desktop);
}

}  // namespace
}  // namespace tolvani
