#include "help/KeyboardHelpController.h"

#include "help/KeyboardHelpWindow.h"
#include "settings/Dialogs.h"

namespace tolvani {

KeyboardHelpController& KeyboardHelpController::shared() {
  // Never released: the window must outlive every caller, and destroying widgets after the
  // application object at exit would crash.
  static KeyboardHelpController* const instance = new KeyboardHelpController();
  return *instance;
}

KeyboardHelpController::KeyboardHelpController()
    : window_(std::make_unique<KeyboardHelpWindow>()) {}

KeyboardHelpController::~KeyboardHelpController() = default;

QWidget* KeyboardHelpController::window() const { return window_.get(); }

void KeyboardHelpController::showWindow() { openWindow(window_.get()); }

}  // namespace tolvani
