// The tolvani program: the IBus input-method server, its windows, and the input-source steps of
// command mode.
#include <malloc.h>

#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/SetupWindowProcess.h"
#include "app/SingleInstance.h"
#include "app/TestWindowReport.h"
#include "app/TolvaniAppDelegate.h"
#include "help/KeyboardHelpController.h"
#include "ime/EngineBridge.h"
#include "ime/InputMenuWindows.h"
#include "ime/TolvaniInputController.h"
#include "ime/fcitx5/Fcitx5FrontEnd.h"
#include "ime/ibus/IBusFrontEnd.h"
#include "platform/Bundle.h"
#include "platform/PrivateFiles.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"
#include "settings/BackupPanels.h"
#include "settings/SettingsFileWatcher.h"
#include "setup/InputSourceCommand.h"
#include "setup/InputSourceSetup.h"
#include "setup/SetupWindow.h"
#include "windows/CustomLayoutEditor.h"
#include "windows/PreferencesWindowController.h"
#include "windows/TextShortcutsEditor.h"
#include "windows/UserDictionaryWork.h"

namespace {

bool hasArgument(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

void printUsage(std::FILE* to) {
  std::fprintf(
      to,
      "Usage: tolvani [--setup]\n"
      "       tolvani --enable-input-source | --refresh-input-menu | --select-input-source |\n"
      "               --input-source-state\n"
      "Tolvani, an input method for typing Bangla, served through IBus.\n\n"
      "  --setup                 open the setup window (in the running Tolvani, if there is one)\n"
      "  --enable-input-source   add Tolvani to the desktop's input sources, then exit\n"
      "  --refresh-input-menu    restart IBus so that its menu shows Tolvani, then exit\n"
      "  --select-input-source   make Tolvani the current input source, then exit\n"
      "  --input-source-state    print whether Tolvani is registered, enabled and selected\n"
      "  --ibus                  serve IBus (IBus starts the program so)\n"
      "  --fcitx5                serve fcitx5 (Tolvani's fcitx5 addon starts the program so)\n"
      "  --help, --version       print this text, or the version, and exit\n");
}

// Anything else is refused before the program touches the display, IBus or the user's folders.
bool knownArguments(int argc, char** argv) {
  static constexpr const char* kKnown[] = {"--setup",
                                           "--setup-window",
                                           "--enable-input-source",
                                           "--refresh-input-menu",
                                           "--select-input-source",
                                           "--input-source-state",
                                           "--ibus",
                                           "--fcitx5",
                                           "--help",
                                           "--version"};
  for (int i = 1; i < argc; ++i) {
    bool known = false;
    for (const char* name : kKnown) known = known || std::strcmp(argv[i], name) == 0;
    if (!known) {
      std::fprintf(stderr, "tolvani: unknown argument %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

// Qt ends the process when it cannot open the display; say why instead.
bool hasDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    if (!qEnvironmentVariableIsEmpty(name)) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvani;
  // Blocks this large are mapped on their own, so that freeing one gives it back to the system.
  // Left to itself, the allocator raises the bound to the largest block freed so far (up to
  // 32 MB): the largest dictionary's file and text, read and written at each of a window's edits,
  // would then come from the heap and stay in it, free, for the rest of the session.
  (void)::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  if (!knownArguments(argc, argv)) {
    printUsage(stderr);
    return 2;
  }
  // Command mode: the input-source steps run and the process ends, with no user interface.
  if (const std::optional<int> status = InputSourceCommand::runIfRequested(argc, argv)) {
    return *status;
  }
  if (hasArgument(argc, argv, "--help")) {
    printUsage(stdout);
    return 0;
  }
  if (hasArgument(argc, argv, "--version")) {
    std::printf("tolvani %s\n", qPrintable(platform::bundle::shortVersion()));
    return 0;
  }
  if (!hasDisplay()) {
    std::fprintf(stderr,
                 "tolvani: no graphical display (DISPLAY and WAYLAND_DISPLAY are not set); "
                 "start Tolvani from a desktop session\n");
    return 2;
  }
  // IBus is served by Qt's GLib event loop, which this variable would turn off.
  qunsetenv("QT_NO_GLIB");
  // Qt's IBus module in our own windows must not wait for the input method: that is this
  // process, and it would never answer.
  qunsetenv("IBUS_ENABLE_SYNC_MODE");
  // KWin gives what it starts (fcitx5, and through it this program) QT_QPA_PLATFORM=wayland. Qt
  // ends the process when its Wayland plugin is not installed (Debian's qt6-wayland, which
  // Plasma 5 does not bring) or reaches no compositor: Xwayland's display serves then.
  if (qgetenv("QT_QPA_PLATFORM") == "wayland" && !qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "wayland;xcb");
  // The setup window's own process, which this one starts (setup/SetupWindow.h).
  if (hasArgument(argc, argv, "--setup-window")) return SetupWindowProcess::run(argc, argv);
  // The desktop names the windows after the desktop entry they match: on X11 by their class
  // (StartupWMClass there), on Wayland by the entry's name; not after the file the program runs as.
  QCoreApplication::setApplicationName(QStringLiteral("tolvani"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tolvani"));
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  // Earlier versions left the learned words and the settings readable by every local account.
  platform::privatefiles::tighten(AppSettings::supportDirectoryURL());
  platform::privatefiles::tighten(QFileInfo(AppSettings::suite().filePath()).absolutePath());
  TestWindowReport::startIfRequested();

  const bool startedByDaemon = hasArgument(argc, argv, "--ibus");
  // Started by the fcitx5 addon: the program serves fcitx5 instead of IBus.
  const bool servesFcitx5 = hasArgument(argc, argv, "--fcitx5");
  // Set when another Tolvani holds the program's name: there, the setup window started before
  // the session's IBus, whose selecting Tolvani started this one, is already open.
  bool anotherShowsSetup = false;
  auto delegate = std::make_unique<TolvaniAppDelegate>(TolvaniAppDelegate::Services{
      [startedByDaemon, servesFcitx5] {
        if (servesFcitx5) return Fcitx5FrontEnd::start();
        return IBusFrontEnd::start(startedByDaemon, QCoreApplication::applicationFilePath());
      },
      [] { SetupWindow::show(); },
      [&anotherShowsSetup] {
        if (!anotherShowsSetup) SetupWindow::showIfNeeded();
      },
      // The display's loss ends the process without its static objects, the worker among them.
      [](std::chrono::milliseconds limit) { return UserDictionaryWork::waitForQueuedWork(limit); },
      // Nothing else keeps a program that serves nothing: it ends with the window.
      [] {
        SetupWindow::setClosedObserver(
            [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); });
        SetupWindow::show();
      },
  });
  TolvaniAppDelegate* served = delegate.get();
  // A later start of the program (the desktop entry, "tolvani --setup") reopens this one. The
  // program IBus starts serves the input method whatever else runs, and takes the name when the
  // program holding it ends (the setup window alone, closed): a later start then hands its request
  // to it instead of serving IBus a second time beside it.
  const SingleInstance::Claim claim = SingleInstance::claim(
      [served] { served->applicationShouldHandleReopen(); }, startedByDaemon || servesFcitx5);
  if (claim == SingleInstance::Claim::another && !startedByDaemon && !servesFcitx5) {
    if (SingleInstance::handOver()) return 0;
    std::fprintf(stderr, "tolvani: another Tolvani runs but did not answer\n");
    return 1;
  }
  anotherShowsSetup = claim == SingleInstance::Claim::another;

  // The windows the input menu opens that live above the input method.
  InputMenuWindows::setKeyboardHelpOpener([] {
    KeyboardHelpController& help = KeyboardHelpController::shared();
    help.showWindow();
    return help.window();
  });
  InputMenuWindows::setPreferencesOpener([] {
    PreferencesWindowController& settings = PreferencesWindowController::shared();
    settings.showWindow();
    return settings.window();
  });
  InputMenuWindows::setCustomLayoutEditorOpener([] {
    CustomLayoutEditorController& editor = CustomLayoutEditorController::shared();
    editor.showWindow();
    return editor.window();
  });
  InputMenuWindows::setKeyboardSetupOpener([] { SetupWindow::show(); });
  InputMenuWindows::setKeyboardTourOpener([] { SetupWindow::showTour(); });
  // Typing Bangla completes setup, and the setup window, when it shows, follows.
  TolvaniInputController::setSetupConfirmer(
      [](const QString& committed) { return SetupWindow::confirmSetup(committed); });
  // The settings side cannot reach the engine sessions; an export must hold their latest learning.
  BackupPanels::setLearnedDataSaver([] { EngineBridge::syncAllForShutdown(); });
  // The setup window's tour opens these; it sits below the windows that hold them.
  SetupWindow::setPreferencesOpener([] { PreferencesWindowController::shared().showWindow(); });
  SetupWindow::setShortcutEditorOpener(
      [] { TextShortcutsEditorController::shared().showWindow(); });
  SetupWindow::setHelpOpener([] { KeyboardHelpController::shared().showWindow(); });
  // Settings and key mappings stored by another process reach the input contexts served here.
  const SettingsFileWatcher settingsWatcher;
  InputSourceSetup::setServesIBus(true);
  // The server has said why it could not start.
  if (!delegate->applicationDidFinishLaunching(app.arguments())) return 1;
  const int status = app.exec();
  // A quit that did not come through the event loop's end still saves.
  delegate->applicationWillTerminate();
  // The setup window's process ends with the program: its input is closed, and it is waited for.
  SetupWindow::endProcess(TolvaniAppDelegate::kShutdownWaitLimit);
  // The sessions and their panel windows end before the application object does; what they
  // write on their way out is waited for, bounded.
  IBusFrontEnd::stop();
  Fcitx5FrontEnd::stop();
  EngineBridge::waitForReleasedWrites(TolvaniAppDelegate::kShutdownWaitLimit);
  return status;
}
