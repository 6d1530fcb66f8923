// The application side of the tolvani program: start-up in its fixed order (defaults, the
// engine's shared tables, the termination signals, the input-method server, the setup window or
// its delayed offer), the one shut-down that SIGTERM, SIGHUP, SIGINT, a lost IBus connection, a
// lost X display and a normal quit all run (and exit() called while the event loop runs), and the
// reopen that a second start of the program hands over. Thread-safety: main thread only.
#ifndef TOLVANI_APP_TOLVANIAPPDELEGATE_H_
#define TOLVANI_APP_TOLVANIAPPDELEGATE_H_

#include <QObject>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/Clock.h"

namespace tolvani {

class TolvaniAppDelegate final : public QObject {
 public:
  // What start-up calls out to, so that a test can stand in for the windows and the server.
  struct Services {
    // Serves the input method; false when no IBus daemon answers.
    std::function<bool()> startServer;
    // The setup window, at once.
    std::function<void()> showSetup;
    // The setup window when onboarding is not completed.
    std::function<void()> showSetupIfNeeded;
    // At the end: waits, up to the limit, for the edits the windows have queued; false when some
    // were left.
    std::function<bool(std::chrono::milliseconds)> waitForWindowWork;
    // The setup window when no server runs (no IBus daemon yet): the program lives while it shows
    // and ends when it closes. Unset, nothing shows without a server.
    std::function<void()> showSetupAlone;
  };

  static constexpr std::chrono::milliseconds kOnboardingOfferDelay{1500};
  // How long shut-down waits for writes already queued (the diagnostics file, the last learning
  // of sessions that ended just before).
  static constexpr std::chrono::milliseconds kShutdownWaitLimit{5000};

  explicit TolvaniAppDelegate(Services services);
  ~TolvaniAppDelegate() override;
  TolvaniAppDelegate(const TolvaniAppDelegate&) = delete;
  TolvaniAppDelegate& operator=(const TolvaniAppDelegate&) = delete;

  // Start-up. `arguments` are the program's ("--setup" shows the setup window at once). Returns
  // false when the server could not start; nothing is shown then, except the setup window alone
  // for "--setup" (true then).
  bool applicationDidFinishLaunching(const QStringList& arguments);
  // Saves every live session's learning and the typing statistics, waiting (bounded) for writes
  // already queued. Runs once; later calls do nothing.
  void applicationWillTerminate();
  // A second start of the program: the setup window. Always true.
  bool applicationShouldHandleReopen();

  // True once the delayed onboarding offer has been scheduled and not yet run.
  bool testOfferPending() const { return offerTimer_ != 0; }

 private:
  Services services_;
  platform::Clock::TimerId offerTimer_ = 0;
  bool terminated_ = false;
};

}  // namespace tolvani

#endif  // TOLVANI_APP_TOLVANIAPPDELEGATE_H_
