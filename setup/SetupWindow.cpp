#include "setup/SetupWindow.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QPointer>
#include <QProcess>
#include <algorithm>
#include <vector>

#include "platform/Desktop.h"
#include "platform/Log.h"
#include "platform/PowerState.h"
#include "settings/AppSettings.h"
#include "setup/GuideSnapshot.h"
#include "setup/InputSourceProbe.h"
#include "setup/InputSourceRegistration.h"
#include "setup/InputSourceSystem.h"
#include "setup/SetupWindowModule.h"

#ifndef TOLVANI_SETUP_WINDOW_BUILD
#define TOLVANI_SETUP_WINDOW_BUILD ""
#endif
#ifndef TOLVANI_SETUP_WINDOW_INSTALLED
#define TOLVANI_SETUP_WINDOW_INSTALLED ""
#endif
#ifndef TOLVANI_SETUP_WINDOW_BUILT
#define TOLVANI_SETUP_WINDOW_BUILT ""
#endif

namespace tolvani::SetupWindow {

namespace {

// A line the window's process sends is far shorter (its longest is a test report); a longer one is
// dropped.
constexpr qint64 kLineLimit = 8 << 20;

struct State {
  // In the window's process: the module, set once loaded, never unloaded.
  const SetupWindowModule* module = nullptr;
  // In the program: the openers the tour asks for, the window's process while it holds the window,
  // every window process not yet ended (one that closed its window may still be on its way out
  // while the next one starts), and the holding process's last report.
  std::function<void()> preferencesOpener;
  std::function<void()> shortcutEditorOpener;
  std::function<void()> helpOpener;
  std::function<void()> closedObserver;
  QPointer<QProcess> holding;
  std::vector<QPointer<QProcess>> running;
  QString report;
};

State& state() {
  static State instance;
  return instance;
}

void call(const std::function<void()>& open) {
  if (open) open();
}

// `process` no longer holds the window: the next show starts a new one.
void letGo(const QProcess* process) {
  State& s = state();
  if (s.holding != process) return;
  s.holding = nullptr;
  s.report.clear();
  call(s.closedObserver);
}

void answered(QProcess* process, QByteArray line) {
  State& s = state();
  if (line.endsWith('\n')) line.chop(1);
  if (line == answer::kPreferences) {
    call(s.preferencesOpener);
  } else if (line == answer::kShortcutEditor) {
    call(s.shortcutEditorOpener);
  } else if (line == answer::kHelp) {
    call(s.helpOpener);
  } else if (line == answer::kClosed) {
    // This one ends, and its engine with it.
    letGo(process);
  } else if (line.startsWith(answer::kReport)) {
    if (process == s.holding)
      s.report = QString::fromUtf8(QByteArray::fromBase64(line.mid(qstrlen(answer::kReport))));
  }
}

QProcess* startProcess() {
  State& s = state();
  auto* process = new QProcess(qApp);
  process->setProgram(QCoreApplication::applicationFilePath());
  process->setArguments({QStringLiteral("--setup-window")});
  // Its log lines join the program's own.
  process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QObject::connect(process, &QProcess::readyReadStandardOutput, process, [process] {
    while (process->canReadLine()) answered(process, process->readLine());
    if (process->bytesAvailable() > kLineLimit) process->readAll();
  });
  QObject::connect(process, &QProcess::finished, process,
                   [process](int code, QProcess::ExitStatus status) {
                     letGo(process);
                     // For a crash, Qt gives the signal's number as the code.
                     if (status != QProcess::NormalExit || code != 0)
                       platform::log::line(
                           (status == QProcess::NormalExit
                                ? QStringLiteral("The setup window's process ended with status %1")
                                : QStringLiteral("The setup window's process ended by signal %1"))
                               .arg(code));
                     process->deleteLater();
                   });
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     platform::log::line(QStringLiteral("cannot start the setup window: ") +
                                         process->errorString());
                     letGo(process);
                     process->deleteLater();
                   });
  std::erase_if(s.running, [](const QPointer<QProcess>& p) { return p.isNull(); });
  s.running.emplace_back(process);
  process->start();
  return process;
}

// Asks the window's process, started when none holds the window.
void ask(const char* request) {
  State& s = state();
  if (!s.holding) {
    QProcess* process = startProcess();
    if (process->state() == QProcess::NotRunning) return call(s.closedObserver);
    s.holding = process;
  }
  if (s.holding) s.holding->write(QByteArray(request) + '\n');
}

const SetupWindowModule* load(const Openers& openers) {
  State& s = state();
  if (s.module) return s.module;
  // The window reads the power state, which the module takes from the program as it takes all it
  // uses of platform: the program must hold it. Made here, on the main thread, it posts its
  // changes there.
  platform::powerState();
  const QString path = modulePath();
  QLibrary library(path);
  // Every symbol at once: one the program lacks fails the load here instead of ending the
  // process at its first call.
  library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
  if (!library.load()) {
    platform::log::line(QStringLiteral("cannot load the setup window: ") + library.errorString());
    return nullptr;
  }
  using Entry = const SetupWindowModule* (*)();
  const auto entry = reinterpret_cast<Entry>(library.resolve(TOLVANI_SETUP_WINDOW_ENTRY));
  const SetupWindowModule* module = entry ? entry() : nullptr;
  if (!module || module->size != sizeof(SetupWindowModule) || !module->build ||
      qstrcmp(module->build, TOLVANI_SETUP_WINDOW_BUILD) != 0) {
    // Left loaded: code of another build may have started something already.
    platform::log::line(
        QStringLiteral("cannot load the setup window: %1 is not this build's").arg(path));
    return nullptr;
  }
  module->setOpeners(openers.preferences, openers.shortcutEditor, openers.help, openers.closed);
  s.module = module;
  return module;
}

}  // namespace

void show() { ask(request::kShow); }

void showIfNeeded() {
  offerIfNeeded(
      [](CancellationRef cancellation, SetupCompletion<InputSourceSnapshot> done) {
        InputSourceProbe::state(std::move(cancellation), std::move(done));
      },
      [] { return InputMenuPreference::isVisible() && inputSourceSystem().panelRuns(); },
      [] { ask(request::kOffer); });
}

void showTour() { ask(request::kTour); }

bool confirmSetup(const QString& committed) {
  // A window that shows follows the completion.
  return confirmByCommitting(committed, [] {
    if (state().holding) ask(request::kRefresh);
  });
}

void setPreferencesOpener(std::function<void()> open) {
  state().preferencesOpener = std::move(open);
}

void setShortcutEditorOpener(std::function<void()> open) {
  state().shortcutEditorOpener = std::move(open);
}

void setHelpOpener(std::function<void()> open) { state().helpOpener = std::move(open); }

void setClosedObserver(std::function<void()> closed) { state().closedObserver = std::move(closed); }

QString testReport() { return state().report; }

void endProcess(std::chrono::milliseconds limit) {
  State& s = state();
  s.holding = nullptr;
  s.report.clear();
  std::vector<QPointer<QProcess>> running;
  running.swap(s.running);
  for (const QPointer<QProcess>& process : running) {
    if (process) process->closeWriteChannel();
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (const QPointer<QProcess>& process : running) {
    if (!process) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (process->state() != QProcess::NotRunning &&
        !process->waitForFinished(static_cast<int>(std::max<qint64>(left.count(), 1)))) {
      platform::log::line(QStringLiteral("The setup window's process did not end; killed"));
      process->kill();
      process->waitForFinished(1000);
    }
    delete process.data();
  }
}

void prepareApplication() {
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // A sandboxed engine starts its pages' processes from zygotes, helpers that live as long as the
  // engine does, which is as long as the window's process. Without the sandbox it starts them
  // directly, and they end with the setup window's page.
  const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  const QList<QByteArray> switches = flags.simplified().split(' ');
  const bool unsandboxed =
      qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") || switches.contains("--no-sandbox");
  if (unsandboxed && !switches.contains("--no-zygote"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-zygote").trimmed());
}

bool showHere(const QByteArray& request, const Openers& openers) {
  // Anything else is no request of the program's: nothing is loaded for it.
  if (request != request::kShow && request != request::kOffer && request != request::kTour &&
      request != request::kRefresh)
    return true;
  const SetupWindowModule* module = load(openers);
  if (!module) return false;
  if (request == request::kShow)
    module->show();
  else if (request == request::kOffer)
    module->offer();
  else if (request == request::kTour)
    module->showTour();
  else if (request == request::kRefresh)
    module->refresh();
  return true;
}

QString modulePath() {
  static const QString path = [] {
    // /proc/self/exe works before a QCoreApplication exists, unlike applicationDirPath().
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString installed =
        program.isEmpty() ? QString()
                          : QDir::cleanPath(QFileInfo(program).absolutePath() +
                                            QStringLiteral("/" TOLVANI_SETUP_WINDOW_INSTALLED));
    const QString built = QStringLiteral(TOLVANI_SETUP_WINDOW_BUILT);
    if (!installed.isEmpty() && QFileInfo::exists(installed)) return installed;
    if (!built.isEmpty() && QFileInfo::exists(built)) return built;
    // Neither: the failure names where a package puts it.
    return installed.isEmpty() ? built : installed;
  }();
  return path;
}

QString testPageButtons(QWidget* view) {
  const SetupWindowModule* module = state().module;
  return module ? module->testPageButtons(view) : QString();
}

void offerIfNeeded(const Probe& probe, const std::function<bool()>& menuShows,
                   const std::function<void()>& show) {
  if (AppSettings::onboardingCompleted()) return;
  // Sway gives every new window the focus, its X11 ones too, and minimizes none: an offered window
  // would take the keys typed into the field. The person opens it from the application launcher.
  if (platform::desktop::isSway()) return;
  const bool deferred = AppSettings::onboardingDeferred();
  probe(nullptr, [menuShows, show, deferred](SetupResult<InputSourceSnapshot> probed) {
    if (AppSettings::onboardingCompleted()) return;
    if (probed.ok()) {
      guide::State state;
      state.status = probed.value().status;
      state.selected = probed.value().selected;
      state.ibusRunning = probed.value().ibusRunning;
      state.menuVisible = state.ibusRunning && menuShows();
      // A window with nothing left to do would only stand in the person's way.
      if (guide::allStepsMet(state)) return;
      if (deferred && state.status == InputSourceRegistration::State::enabled) return;
    }
    show();
  });
}

bool confirmByCommitting(const QString& committed, const std::function<void()>& completed) {
  if (AppSettings::onboardingCompleted()) return true;
  if (!hasBanglaLetters(committed)) return false;
  AppSettings::setOnboardingCompleted(true);
  if (completed) completed();
  return true;
}

}  // namespace tolvani::SetupWindow
