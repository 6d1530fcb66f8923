#include "ime/InputMenuWindows.h"

#include <QDesktopServices>
#include <QWidget>

#include "settings/AppSettings.h"
#include "stats/TypingStatsWindowController.h"

namespace tolvani::InputMenuWindows {
namespace {

struct Openers {
  WindowOpener preferences;
  WindowOpener customLayoutEditor;
  WindowOpener keyboardHelp;
  std::function<void()> keyboardSetup;
  std::function<void()> keyboardTour;
};

Openers& openers() {
  static Openers o;
  return o;
}

void open(const WindowOpener& opener) {
  if (opener) bringToFront(opener());
}

}  // namespace

void setPreferencesOpener(WindowOpener open) { openers().preferences = std::move(open); }
void setCustomLayoutEditorOpener(WindowOpener open) {
  openers().customLayoutEditor = std::move(open);
}
void setKeyboardHelpOpener(WindowOpener open) { openers().keyboardHelp = std::move(open); }
void setKeyboardSetupOpener(std::function<void()> open) {
  openers().keyboardSetup = std::move(open);
}
void setKeyboardTourOpener(std::function<void()> open) { openers().keyboardTour = std::move(open); }

void openPreferences() { open(openers().preferences); }
void openCustomLayoutEditor() { open(openers().customLayoutEditor); }
void openKeyboardHelp() { open(openers().keyboardHelp); }

void openTypingStats() {
  TypingStatsWindowController& stats = TypingStatsWindowController::shared();
  stats.showWindow();
  bringToFront(&stats);
}

void openKeyboardSetup() {
  if (openers().keyboardSetup) openers().keyboardSetup();
}

void openKeyboardTour() {
  if (openers().keyboardTour) openers().keyboardTour();
}

void checkForUpdates() { QDesktopServices::openUrl(AppSettings::updateCheckURL()); }

void bringToFront(QWidget* window) {
  if (!window) return;
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace tolvani::InputMenuWindows
