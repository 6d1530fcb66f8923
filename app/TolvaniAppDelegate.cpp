#include "app/TolvaniAppDelegate.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>

#include "ime/EngineBridge.h"
#include "ime/ibus/IBusFrontEnd.h"
#include "platform/Log.h"
#include "platform/Queues.h"
#include "settings/AppSettings.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/TypingStatsStore.h"

namespace tolvani {
namespace {

// The pipe that carries SIGTERM from the signal handler to the main thread's event loop.
int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // Only async-signal-safe calls here; a full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TolvaniAppDelegate::TolvaniAppDelegate(Services services) : services_(std::move(services)) {}

TolvaniAppDelegate::~TolvaniAppDelegate() {
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
  installTerminationSignal();
  // A normal quit, SIGTERM and a lost IBus connection all end the event loop: one shut-down.
  if (QCoreApplication* app = QCoreApplication::instance()) {
    connect(app, &QCoreApplication::aboutToQuit, this, [this] { applicationWillTerminate(); });
  }
  // Nothing to do when the last window closes: the program keeps serving the input method with no
  // window at all (the application does not quit on its last window).
  if (!services_.startServer || !services_.startServer()) return false;

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
}

bool TolvaniAppDelegate::applicationShouldHandleReopen() {
  IBusFrontEnd::testEvent(QStringLiteral("reopen"));
  if (services_.showSetup) services_.showSetup();
  return true;
}

void TolvaniAppDelegate::installTerminationSignal() {
  if (terminationPipe[0] < 0 && ::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    platform::log::line(QStringLiteral("Could not watch for SIGTERM: ") +
                        QString::fromLocal8Bit(strerror(errno)));
    return;
  }
  sigtermNotifier_ = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, this);
  connect(sigtermNotifier_, &QSocketNotifier::activated, this, [] {
    char bytes[16];
    while (::read(terminationPipe[0], bytes, sizeof bytes) > 0) {
    }
    // The shut-down runs on the way out of the event loop; main then returns 0.
    QCoreApplication::exit(0);
  });
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tolvani
