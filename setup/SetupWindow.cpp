#include "setup/SetupWindow.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include "platform/Log.h"
#include "platform/PowerState.h"
#include "settings/AppSettings.h"
#include "setup/GuideSnapshot.h"
#include "setup/InputSourceProbe.h"
#include "setup/SetupWindowModule.h"

// QtGui's own, exported in its Qt 6 ABI but declared in no public header; Qt WebEngine declares
// and calls it in the same way when it starts after the application exists.
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE

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

struct State {
  const SetupWindowModule* module = nullptr;  // set once loaded, never unloaded
  std::function<void()> preferencesOpener;
  std::function<void()> shortcutEditorOpener;
};

State& state() {
  static State instance;
  return instance;
}

void deleteShareContext() {
  delete QOpenGLContext::globalShareContext();
  qt_gl_set_global_share_context(nullptr);
}

// Qt WebEngine renders into contexts that share one application-wide GL context. An application
// that sets Qt::AA_ShareOpenGLContexts before it starts makes that context at once, which loads the
// graphics driver into a process that may only ever type; made here, before the web engine loads,
// it comes with the window. No context exists before it: the program's other windows draw
// without GL.
void shareGraphicsContexts() {
  if (QOpenGLContext::globalShareContext()) return;
  auto* context = new QOpenGLContext;
  context->setFormat(QSurfaceFormat::defaultFormat());
  context->create();
  qt_gl_set_global_share_context(context);
  qAddPostRoutine(deleteShareContext);
  // Widgets that draw with GL look for the attribute.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

const SetupWindowModule* load() {
  State& s = state();
  if (s.module) return s.module;
  shareGraphicsContexts();
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
  module->setOpeners(s.preferencesOpener, s.shortcutEditorOpener);
  s.module = module;
  return module;
}

}  // namespace

void prepareApplication() {
  if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // A sandboxed engine starts its pages' processes from zygotes, helpers that live as long as the
  // engine does, which is as long as this process. Without the sandbox it starts them directly, and
  // they end with the setup window's page.
  const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  const QList<QByteArray> switches = flags.simplified().split(' ');
  const bool unsandboxed =
      qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") || switches.contains("--no-sandbox");
  if (unsandboxed && !switches.contains("--no-zygote"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-zygote").trimmed());
}

void show() {
  if (const SetupWindowModule* module = load()) module->show();
}

void showIfNeeded() {
  offerIfNeeded(
      [](CancellationRef cancellation, SetupCompletion<InputSourceSnapshot> done) {
        InputSourceProbe::state(std::move(cancellation), std::move(done));
      },
      [] { show(); });
}

void showTour() {
  if (const SetupWindowModule* module = load()) module->showTour();
}

bool confirmSetup(const QString& committed) {
  if (const SetupWindowModule* module = state().module) return module->confirmSetup(committed);
  // No window has been shown, so none follows the completion.
  return confirmByCommitting(committed, {});
}

void setPreferencesOpener(std::function<void()> open) {
  State& s = state();
  s.preferencesOpener = std::move(open);
  if (s.module) s.module->setOpeners(s.preferencesOpener, s.shortcutEditorOpener);
}

void setShortcutEditorOpener(std::function<void()> open) {
  State& s = state();
  s.shortcutEditorOpener = std::move(open);
  if (s.module) s.module->setOpeners(s.preferencesOpener, s.shortcutEditorOpener);
}

bool isLoaded() { return state().module != nullptr; }

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

void offerIfNeeded(const Probe& probe, const std::function<void()>& show) {
  if (AppSettings::onboardingCompleted()) return;
  if (!AppSettings::onboardingDeferred()) return show();
  probe(nullptr, [show](SetupResult<InputSourceSnapshot> probed) {
    if (AppSettings::onboardingCompleted()) return;
    if (probed.ok() && probed.value().status == InputSourceRegistration::State::enabled) return;
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
