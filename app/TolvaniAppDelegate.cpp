#include "app/TolvaniAppDelegate.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <utility>

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

// Qt's X11 plugin ends the process with exit(1) when it finds its display connection broken, as
// it is once the X server ends with the desktop session. This source looks at the connection at
// a higher priority than the plugin's source, so in the turn of the loop that would run the
// plugin's it runs instead and quits every loop: the shut-down that follows the loop saves, as on
// SIGTERM. It stays attached and ready for the process's life, so no later turn reaches the
// plugin's source either.
struct DisplayWatch {
  GSource source;
  xcb_connection_t* connection;
};

gboolean displayBroken(GSource* source) {
  return xcb_connection_has_error(reinterpret_cast<DisplayWatch*>(source)->connection) != 0;
}

gboolean displayBrokenBeforePoll(GSource* source, gint* timeout) {
  *timeout = -1;
  return displayBroken(source);
}

gboolean quitOnBrokenDisplay(GSource*, GSourceFunc, gpointer) {
  static bool said = false;
  if (!std::exchange(said, true))
    platform::log::line(QStringLiteral("The X display went away; quitting"));
  QCoreApplication::exit(0);
  return G_SOURCE_CONTINUE;
}

GSourceFuncs displayWatchFunctions = {
    displayBrokenBeforePoll, displayBroken, quitOnBrokenDisplay, nullptr, nullptr, nullptr};

void watchDisplay() {
  static bool watching = false;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (watching || !x11 || !x11->connection()) return;
  watching = true;
  GSource* source = g_source_new(&displayWatchFunctions, sizeof(DisplayWatch));
  reinterpret_cast<DisplayWatch*>(source)->connection = x11->connection();
  g_source_set_priority(source, G_PRIORITY_HIGH);
  // The main thread's loop turns the default context.
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

// exit() called while the loop runs skips the shut-down after it: the X11 plugin's exit(1) when
// the display broke between the watch's look and the plugin's, Xlib's on an I/O error. The main
// thread's thread_local objects end before any static one, so the services the shut-down needs
// are still there.
struct ShutDownOnExit {
  TolvaniAppDelegate* delegate = nullptr;
  ~ShutDownOnExit() {
    if (delegate) delegate->applicationWillTerminate();
  }
};
thread_local ShutDownOnExit shutDownOnExit;

}  // namespace

TolvaniAppDelegate::TolvaniAppDelegate(Services services) : services_(std::move(services)) {}

TolvaniAppDelegate::~TolvaniAppDelegate() {
  if (shutDownOnExit.delegate == this) shutDownOnExit.delegate = nullptr;
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
  // A normal quit, SIGTERM, a lost IBus connection and a lost display all end the event loop:
  // one shut-down.
  if (QCoreApplication* app = QCoreApplication::instance()) {
    connect(app, &QCoreApplication::aboutToQuit, this, [this] { applicationWillTerminate(); });
  }
  watchDisplay();
  shutDownOnExit.delegate = this;
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
