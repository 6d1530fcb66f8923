// The setup window as the rest of the program reaches it. The window's code, and Qt WebEngine with
// it, lives in a module (setup/onboarding/, setup/SetupWindowModule.h) that only the window's own
// process loads: "tolvani --setup-window", started when the window opens and ending when it
// closes. The engine's sandbox starts helper processes (zygotes) that live as long as the engine,
// so the engine must live no longer than the window; the process serving IBus never maps it. What
// needs no window is decided here without it: whether to offer the window at start, and whether a
// commit completes setup. Thread-safety: main thread only.
#ifndef TOLVANI_SETUP_SETUPWINDOW_H_
#define TOLVANI_SETUP_SETUPWINDOW_H_

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

#include "setup/InputSourceSnapshot.h"
#include "setup/SetupError.h"

class QWidget;

namespace tolvani::SetupWindow {

// ---- In the program.

// OnboardingWindowController's entry points (show() opens the window or brings it forward,
// showIfNeeded() offers it, without taking the focus, when onboarding is not completed and a step
// is left, showTour() opens its tour, and confirmSetup() completes onboarding on a commit holding
// a Bangla letter). show() and showTour() start the window's process when none holds the window;
// when it cannot start, or cannot show the window, the failure is logged and nothing shows.
// confirmSetup() starts nothing.
void show();
void showIfNeeded();
void showTour();
bool confirmSetup(const QString& committed);

// The settings window, the text-shortcut editor and the keyboard help, which the tour opens in the
// program (they outlive the setup window).
void setPreferencesOpener(std::function<void()> open);
void setShortcutEditorOpener(std::function<void()> open);
void setHelpOpener(std::function<void()> open);
// Called whenever no process holds the window any more: it closed, or its process ended or could
// not start.
void setClosedObserver(std::function<void()> closed);

// For TestWindowReport: the lines the window's process last reported of its shown windows, while
// it holds the window; empty otherwise.
QString testReport();
// At the program's end: a window's process is told to end (as when the program is gone), waited
// for up to `limit`, then killed.
void endProcess(std::chrono::milliseconds limit);

// ---- In the window's process (app/SetupWindowProcess.h).

// Call before the application object: for the superuser only (as on CI) the engine's sandbox,
// which cannot start as root, is turned off; an engine without its sandbox starts no zygotes.
void prepareApplication();

// What the window's process and the program say to each other, a line each. The program asks:
namespace request {
inline constexpr char kShow[] = "show";
inline constexpr char kOffer[] = "offer";  // the program's own offer: shown without the focus
inline constexpr char kTour[] = "tour";
inline constexpr char kRefresh[] = "refresh";  // onboarding was completed by typing
}  // namespace request
// The window's process answers ("report " is followed by its report's lines, base64-coded):
namespace answer {
inline constexpr char kPreferences[] = "preferences";
inline constexpr char kShortcutEditor[] = "shortcuts";
inline constexpr char kHelp[] = "help";
inline constexpr char kClosed[] = "closed";
inline constexpr char kReport[] = "report ";
}  // namespace answer

// What the window's tour opens and what follows its close, handed to the module as it loads.
struct Openers {
  std::function<void()> preferences;
  std::function<void()> shortcutEditor;
  std::function<void()> help;
  std::function<void()> closed;
};
// Loads the module (once) and does as asked: show, tour or refresh; false when the module cannot
// be loaded (logged). Any other line loads nothing and is answered with true.
bool showHere(const QByteArray& request, const Openers& openers);
// Where the module is looked for: installed beside the engine's library when the program runs
// installed, else in the build tree.
QString modulePath();
// For TestWindowReport: the guide page's buttons in a web view of the window (see
// SetupWindowModule::testPageButtons); empty while the module is not loaded.
QString testPageButtons(QWidget* view);

// The decisions the window's own entry points share with these.
using Probe = std::function<void(CancellationRef, SetupCompletion<InputSourceSnapshot>)>;
// Calls `show` unless onboarding is completed or `probe` finds every step done (`menuShows`: the
// input menu's preference is on and a panel shows it, read once the probe answered); after an
// earlier deferral only when it finds the input source not enabled (or cannot tell).
void offerIfNeeded(const Probe& probe, const std::function<bool()>& menuShows,
                   const std::function<void()>& show);
// Marks onboarding completed when `committed` holds a Bangla letter, then calls `completed`. True
// when onboarding is (now) completed. Cheap once completed: the text is not looked at.
bool confirmByCommitting(const QString& committed, const std::function<void()>& completed);

}  // namespace tolvani::SetupWindow

#endif  // TOLVANI_SETUP_SETUPWINDOW_H_
