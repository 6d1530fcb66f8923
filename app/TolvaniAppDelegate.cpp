#include "app/TolvaniAppDelegate.h"

#include <unistd.h>

#include <QCoreApplication>
#include <utility>

#include "app/DisplayWatch.h"
#include "app/TerminationSignals.h"
#include "ime/EngineBridge.h"
#include "ime/TestEvents.h"
#include "platform/Log.h"
#include "platform/Queues.h"
#include "settings/AppSettings.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/TypingStatsStore.h"

namespace tolvani {
namespace {

// The serving delegate: the ends that come from outside the event loop run its shut-down. Main
// thread only.
TolvaniAppDelegate* serving = nullptr;
// With the X server gone, no window can end cleanly: ending one talks to the server (a view drawn
// with GL makes its context current), and Xlib answers a dead connection with exit(1) from inside
// that destructor, after which the exit handlers end the rest of the windows on a half-ended Qt.
// So the learning and the statistics are saved and the process leaves at once, ending nothing.
// Main thread only.
[[noreturn]] void leaveWithoutTheDisplay() {
  static bool said = false;
  if (!std::exchange(said, true))
    platform::log::line(QStringLiteral("The X display went away; quitting"));
  if (serving) serving->applicationWillTerminate();
  // Sessions that ended during a shut-down already under way still write their last learning.
  EngineBridge::waitForReleasedWrites(TolvaniAppDelegate::kShutdownWaitLimit);
  ::_exit(0);
}

// exit() called while the loop runs skips the shut-down after it; called during the shut-down,
// it ends the windows from the exit handlers. Qt's X11 plugin calls it when the display broke
// between the watch's look and its own; Xlib, through the plugin's I/O error handler, from inside
// any call that meets the dead connection, such as a GL view's end after a SIGTERM that came with
// the end of the session. The main thread's thread_local objects end before any static one, so
// the services the shut-down needs are still there; with the display lost, the process then
// leaves as the watch does.
struct ShutDownOnExit {
  bool armed = false;
  ~ShutDownOnExit() {
    if (!armed) return;
    if (DisplayWatch::lost()) leaveWithoutTheDisplay();
    if (serving) serving->applicationWillTerminate();
  }
};
thread_local ShutDownOnExit shutDownOnExit;

}  // namespace

TolvaniAppDelegate::TolvaniAppDelegate(Services services) : services_(std::move(services)) {}

TolvaniAppDelegate::~TolvaniAppDelegate() {
  if (serving == this) {
    serving = nullptr;
    // The application may close its connection after this.
    DisplayWatch::forget();
  }
  if (offerTimer_ != 0) platform::clock().cancel(offerTimer_);
  EngineBridge::discardPreparedSession();
}

bool TolvaniAppDelegate::applicationDidFinishLaunching(const QStringList& arguments) {
  AppSettings::registerDefaults();
  // The engine answers without its shared tables until they are built: start them now, off the
  // main thread, so the first words typed already get the full candidates and predictions.
  EngineBridge::warmSharedCaches();
  // The first focus follows the start at once: its session is made meanwhile.
  EngineBridge::prepareSession();
  TerminationSignals::endEventLoopOnThem(this);
  // A normal quit, the termination signals and a lost IBus connection all end the event loop: one
  // shut-down. A lost display runs the same saves, then leaves at once.
  if (QCoreApplication* app = QCoreApplication::instance()) {
    connect(app, &QCoreApplication::aboutToQuit, this, [this] { applicationWillTerminate(); });
  }
  DisplayWatch::start(&leaveWithoutTheDisplay);
  serving = this;
  shutDownOnExit.armed = true;
  // Nothing to do when the last window closes: the program keeps serving the input method with no
  // window at all (the application does not quit on its last window).
  if (!services_.startServer || !services_.startServer()) {
    // The applications menu's entry on a desktop that has not started IBus yet: the window says
    // what is left, which a line on standard error would say to nobody.
    if (!arguments.contains(QStringLiteral("--setup")) || !services_.showSetupAlone) return false;
    EngineBridge::discardPreparedSession();
    platform::log::line(QStringLiteral("Showing the setup window without serving IBus"));
    services_.showSetupAlone();
    return true;
  }

  if (arguments.contains(QStringLiteral("--setup"))) {
    if (services_.showSetup) services_.showSetup();
  } else if (!AppSettings::onboardingCompleted()) {
    offerTimer_ = platform::clock().schedule(kOnboardingOfferDelay, [this] {
      platform::mainQueue().async([this] {
        if (offerTimer_ == 0) return;
        offerTimer_ = 0;
        if (services_.showSetupIfNeeded) services_.showSetupIfNeeded();
      });
    });
  }
  return true;
}

void TolvaniAppDelegate::applicationWillTerminate() {
  if (terminated_) return;
  terminated_ = true;
  if (offerTimer_ != 0) {
    platform::clock().cancel(offerTimer_);
    offerTimer_ = 0;
  }
  EngineBridge::discardPreparedSession();
  EngineBridge::syncAllForShutdown();
  TypingStatsStore::flush();
  // Writes queued before now would otherwise be cut off by the process's end.
  const auto deadline = std::chrono::steady_clock::now() + kShutdownWaitLimit;
  const auto left = [&] {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()));
  };
  if (!EngineBridge::waitForReleasedWrites(left())) {
    platform::log::line(QStringLiteral("Shut down before the last learned data was written"));
  }
  if (!RuntimeDiagnostics::waitForQueue(left())) {
    platform::log::line(QStringLiteral("Shut down before the diagnostics were written"));
  }
  if (services_.waitForWindowWork && !services_.waitForWindowWork(left())) {
    platform::log::line(QStringLiteral("Shut down before the learned-words edits were written"));
  }
}

bool TolvaniAppDelegate::applicationShouldHandleReopen() {
  TestEvents::record(QStringLiteral("reopen"));
  if (services_.showSetup) services_.showSetup();
  return true;
}

}  // namespace tolvani
