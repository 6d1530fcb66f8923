#include "app/SetupWindowProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>

#include "app/DisplayWatch.h"
#include "app/TerminationSignals.h"
#include "app/TestWindowReport.h"
#include "settings/AppSettings.h"
#include "settings/SettingsFileWatcher.h"
#include "setup/InputSourceSetup.h"
#include "setup/SetupWindow.h"

namespace tolvani::SetupWindowProcess {
namespace {

// No request is longer; a longer line is dropped.
constexpr qsizetype kRequestLimit = 4096;

void tell(const QByteArray& answer) {
  const QByteArray line = answer + '\n';
  const char* bytes = line.constData();
  qsizetype left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes, static_cast<size_t>(left));
    if (written < 0 && errno == EINTR) continue;
    // The program is gone; the input's end says so and ends this process.
    if (written <= 0) return;
    bytes += written;
    left -= written;
  }
}

// The display's loss ends the window: nothing is left to save, and ending the web view on a dead
// connection would end the process from inside its destructor (see DisplayWatch.h).
[[noreturn]] void leaveWithoutTheDisplay() { ::_exit(0); }

struct LeaveOnLostDisplay {
  bool armed = false;
  ~LeaveOnLostDisplay() {
    if (armed && DisplayWatch::lost()) leaveWithoutTheDisplay();
  }
};
// Ends before the static objects, when exit() comes from Xlib's error handler mid-call.
thread_local LeaveOnLostDisplay leaveOnLostDisplay;

}  // namespace

int run(int argc, char** argv) {
  if (::isatty(STDIN_FILENO) || ::isatty(STDOUT_FILENO)) {
    std::fprintf(stderr, "tolvani: --setup-window is started by Tolvani; run tolvani --setup\n");
    return 2;
  }
  // A write to a program that is gone fails instead of ending this process.
  ::signal(SIGPIPE, SIG_IGN);
  SetupWindow::prepareApplication();
  // Qt WebEngine draws its views with GL contexts that share the application's own.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // Its window belongs to Tolvani's desktop entry, as the program's own do (see main.cpp).
  QCoreApplication::setApplicationName(QStringLiteral("tolvani"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tolvani"));
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  AppSettings::registerDefaults();
  // The program that started this one serves IBus.
  InputSourceSetup::setServesIBus(true);
  // Settings the program stores reach the window as they change.
  const SettingsFileWatcher settingsWatcher;
  // A logout signals this process too: it ends as when the program ends, the window left as it is.
  TerminationSignals::endEventLoopOnThem(&app);
  DisplayWatch::start(&leaveWithoutTheDisplay);
  leaveOnLostDisplay.armed = true;
  TestWindowReport::forwardIfRequested(
      [](const QString& lines) { tell(SetupWindow::answer::kReport + lines.toUtf8().toBase64()); });

  const SetupWindow::Openers openers{
      [] { tell(SetupWindow::answer::kPreferences); },
      [] { tell(SetupWindow::answer::kShortcutEditor); },
      [] { tell(SetupWindow::answer::kHelp); },
      [] {
        tell(SetupWindow::answer::kClosed);
        // Ends the process once the page has gone (a turn of the loop later); the engine's
        // helpers go with it.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
      },
  };
  int status = 0;
  QByteArray pending;
  ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
    char buffer[4096];
    bool ended = false;
    for (;;) {
      const ssize_t read = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (read > 0) {
        pending.append(buffer, read);
        continue;
      }
      if (read < 0 && errno == EINTR) continue;
      ended = read == 0 || errno != EAGAIN;
      break;
    }
    for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
      const QByteArray request = pending.left(end);
      pending.remove(0, end + 1);
      if (!SetupWindow::showHere(request, openers)) {
        status = 1;
        ended = true;
        break;
      }
    }
    if (pending.size() > kRequestLimit) pending.clear();
    if (ended) {
      // The program is gone, or the window cannot show: so is the window. Not closed as a person
      // closes it (quit() would): that would put off the offer of setup at the next start.
      input.setEnabled(false);
      QCoreApplication::exit(status);
    }
  });
  return app.exec();
}

}  // namespace tolvani::SetupWindowProcess
