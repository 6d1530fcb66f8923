// The windows the input menu opens that live above the input method (the settings window, the
// custom-keys editor, the keyboard help, the setup window): the program sets an opener for each at
// start-up. An opener left unset makes its menu row do nothing. Thread-safety: main thread only.
#ifndef TOLVANI_IME_INPUTMENUWINDOWS_H_
#define TOLVANI_IME_INPUTMENUWINDOWS_H_

#include <functional>

class QWidget;

namespace tolvani::InputMenuWindows {

// Tells a window controller's shared instance to show its window, and returns that window (null
// when it has none); the menu then raises and activates it.
using WindowOpener = std::function<QWidget*()>;

// "Settings...": PreferencesWindowController::shared().
void setPreferencesOpener(WindowOpener open);
// "Custom Keys...": the custom-keys editor's shared controller.
void setCustomLayoutEditorOpener(WindowOpener open);
// "Keyboard Help...": KeyboardHelpController::shared().
void setKeyboardHelpOpener(WindowOpener open);
// "Keyboard Setup": OnboardingWindowController::show(), which brings its window forward itself.
void setKeyboardSetupOpener(std::function<void()> open);
// "Keyboard Tour": OnboardingWindowController::showTour().
void setKeyboardTourOpener(std::function<void()> open);

// The commands behind the rows.
void openPreferences();
void openCustomLayoutEditor();
void openTypingStats();
void openKeyboardHelp();
void openKeyboardSetup();
void openKeyboardTour();
// The update page in the desktop's browser.
void checkForUpdates();

// Shows `window`, raised above the others and active. Null does nothing.
void bringToFront(QWidget* window);

}  // namespace tolvani::InputMenuWindows

#endif  // TOLVANI_IME_INPUTMENUWINDOWS_H_
