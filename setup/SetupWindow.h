// The setup window as the rest of the program reaches it. The window's code, and Qt WebEngine with
// it, lives in a module (setup/onboarding/, setup/SetupWindowModule.h) that is loaded when the
// window is first shown, so that the process serving IBus maps no web engine while nobody looks at
// the guide. What needs no window is decided here without loading it: whether to offer the window
// at start, and whether a commit completes setup. Thread-safety: main thread only.
#ifndef TOLVANI_SETUP_SETUPWINDOW_H_
#define TOLVANI_SETUP_SETUPWINDOW_H_

#include <QString>
#include <functional>

#include "setup/InputSourceSnapshot.h"
#include "setup/SetupError.h"

class QWidget;

namespace tolvani::SetupWindow {

// Call before the web engine can start: for the superuser only (as on CI) its sandbox, which
// cannot start as root, is turned off; an engine without its sandbox starts no zygote helpers.
void prepareApplication();

// OnboardingWindowController's entry points (show() opens the window or brings it forward,
// showIfNeeded() offers it when onboarding is not completed, showTour() opens its tour, and
// confirmSetup() completes onboarding on a commit holding a Bangla letter). show() and showTour()
// load the module when it is not loaded yet; when it cannot be loaded they log why and show
// nothing. showIfNeeded() loads it only to show the window, confirmSetup() never.
void show();
void showIfNeeded();
void showTour();
bool confirmSetup(const QString& committed);

// The settings window and the text-shortcut editor, which the tour opens; kept until the module
// is loaded and handed to it then.
void setPreferencesOpener(std::function<void()> open);
void setShortcutEditorOpener(std::function<void()> open);

// True once the module is loaded.
bool isLoaded();
// Where the module is looked for: installed beside the engine's library when the program runs
// installed, else in the build tree.
QString modulePath();

// For TestWindowReport: the guide page's buttons in a web view of the window (see
// SetupWindowModule::testPageButtons); empty while the module is not loaded.
QString testPageButtons(QWidget* view);

// The decisions the window's own entry points share with these.
using Probe = std::function<void(CancellationRef, SetupCompletion<InputSourceSnapshot>)>;
// Calls `show` unless onboarding is completed; after an earlier deferral only when `probe` finds
// the input source not enabled (or cannot tell).
void offerIfNeeded(const Probe& probe, const std::function<void()>& show);
// Marks onboarding completed when `committed` holds a Bangla letter, then calls `completed`. True
// when onboarding is (now) completed. Cheap once completed: the text is not looked at.
bool confirmByCommitting(const QString& committed, const std::function<void()>& completed);

}  // namespace tolvani::SetupWindow

#endif  // TOLVANI_SETUP_SETUPWINDOW_H_
