// The settings window's copies of the stored settings its controls edit, read from the store in
// one pass each time the window's content comes on screen. The learned-word count is not among
// them: the Data tab reads it off the main thread. Thread-safety: a value; read() on the main
// thread.
#ifndef TOLVANI_WINDOWS_SETTINGSCOPIES_H_
#define TOLVANI_WINDOWS_SETTINGSCOPIES_H_

#include "settings/AppSettings.h"

namespace tolvani {

struct SettingsCopies {
  KeyboardMode defaultMode = KeyboardMode::phonetic;
  int suggestionCount = AppSettings::kDefaultSuggestionCount;
  bool suggestionsEnabled = true;
  bool banglaDigits = true;
  bool autocorrect = false;
  bool englishPassthrough = true;
  int panelAppearance = 0;
  int uiLanguage = 0;

  // Reads each in the order above, as the store's readers give them.
  static SettingsCopies read();
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_SETTINGSCOPIES_H_
