#include "windows/PreferencesWindowController.h"

#include <QWidget>

#include "settings/Dialogs.h"
#include "settings/UIStrings.h"
#include "windows/SettingsRootView.h"
#include "windows/ViewWindow.h"

namespace tolvani {

PreferencesWindowController& PreferencesWindowController::shared() {
  // Never released: destroying widgets after the application object at exit would crash.
  static PreferencesWindowController* const instance = new PreferencesWindowController();
  return *instance;
}

PreferencesWindowController::PreferencesWindowController() : window_(std::make_unique<QWidget>()) {
  window_->setObjectName(QStringLiteral("settingsWindow"));
  rootView_ = new SettingsRootView;
  setUpViewWindow(window_.get(), rootView_, UIStrings::appTitle());
}

PreferencesWindowController::~PreferencesWindowController() = default;

void PreferencesWindowController::showWindow() {
  // A fresh view: no page pushed, no tab but the first, every value read anew.
  auto* fresh = new SettingsRootView;
  replaceView(window_.get(), rootView_, fresh);
  rootView_ = fresh;
  window_->setWindowTitle(UIStrings::appTitle());
  openWindow(window_.get());
}

}  // namespace tolvani
