// The setup window module's one export: the table of the window's entry points that the program
// looks up after loading the module (setup/SetupWindow.cpp).
#include "setup/SetupWindowModule.h"

#include <QPointer>
#include <QQuickWindow>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <map>

#include "setup/onboarding/OnboardingWindowController.h"

#ifndef TOLVANI_SETUP_WINDOW_BUILD
#define TOLVANI_SETUP_WINDOW_BUILD ""
#endif

namespace tolvani {
namespace {

// The page's shown buttons, its status line and its setup rows (a row's state in the chapter's
// place), in its own coordinates.
constexpr char kButtonsScript[] =
    "[...document.querySelectorAll('button[data-action], #chapter-counter, #phase, .row')]"
    ".filter(b => b.offsetParent !== null && !b.disabled).map(b => { const r ="
    " b.getBoundingClientRect(); return [b.dataset.action || (b.dataset.step ? 'row-' +"
    " b.dataset.step : '#' + b.id), b.dataset.chapter || b.dataset.state || '',"
    " b.textContent.trim().replace(/\\s+/g, ' '), Math.round(r.x), Math.round(r.y),"
    " Math.round(r.width), Math.round(r.height)].join('\\t'); }).join('\\n')";

QString testPageButtons(QWidget* widget) {
  static std::map<QWebEngineView*, QString> buttons;
  auto* view = qobject_cast<QWebEngineView*>(widget);
  if (!view) return {};
  // A view made later may take a closed one's address: it starts with no buttons.
  if (buttons.find(view) == buttons.end()) {
    buttons[view] = QString();
    QObject::connect(view, &QObject::destroyed, [view] { buttons.erase(view); });
  }
  QPointer<QWebEngineView> alive(view);
  view->page()->runJavaScript(QString::fromLatin1(kButtonsScript), [alive](const QVariant& v) {
    if (alive) buttons[alive.data()] = v.toString();
  });
  return buttons[view];
}

void setOpeners(std::function<void()> preferences, std::function<void()> shortcutEditor,
                std::function<void()> help, std::function<void()> closed) {
  OnboardingWindowController::setPreferencesOpener(std::move(preferences));
  OnboardingWindowController::setShortcutEditorOpener(std::move(shortcutEditor));
  OnboardingWindowController::setHelpOpener(std::move(help));
  OnboardingWindowController::setClosedObserver(std::move(closed));
}

}  // namespace
}  // namespace tolvani

extern "C" Q_DECL_EXPORT const tolvani::SetupWindowModule* tolvani_setup_window_module() {
  using tolvani::OnboardingWindowController;
  // Qt WebEngine loaded after the application exists skips its own start routine, which picks the
  // scene graph's graphics API for the web views; pick it the same way before the first one. (The
  // shared GL context it also needs was asked for before the application; see
  // app/SetupWindowProcess.cpp.)
  static const bool graphicsChosen = [] {
    const QSGRendererInterface::GraphicsApi api = QQuickWindow::graphicsApi();
    if (api != QSGRendererInterface::OpenGL && api != QSGRendererInterface::Vulkan)
      QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    return true;
  }();
  (void)graphicsChosen;
  static const tolvani::SetupWindowModule table{
      sizeof(tolvani::SetupWindowModule),
      TOLVANI_SETUP_WINDOW_BUILD,
      &OnboardingWindowController::show,
      &OnboardingWindowController::offer,
      &OnboardingWindowController::showTour,
      &OnboardingWindowController::refreshShown,
      &tolvani::setOpeners,
      &tolvani::testPageButtons,
  };
  return &table;
}
