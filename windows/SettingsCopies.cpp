#include "windows/SettingsCopies.h"

namespace tolvani {

SettingsCopies SettingsCopies::read() {
  SettingsCopies copies;
  copies.defaultMode = AppSettings::defaultMode();
  copies.suggestionCount = AppSettings::suggestionCount();
  copies.suggestionsEnabled = AppSettings::suggestionsEnabled();
  copies.banglaDigits = AppSettings::banglaDigitsEnabled();
  copies.autocorrect = AppSettings::autocorrectEnabled();
  copies.englishPassthrough = AppSettings::englishPassthroughEnabled();
  copies.panelAppearance = AppSettings::panelAppearance();
  copies.uiLanguage = AppSettings::uiLanguage();
  return copies;
}

}  // namespace tolvani
