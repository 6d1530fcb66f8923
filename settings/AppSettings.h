// The names, types, defaults and bounds of the user's settings, over the standard defaults suite,
// with the keyboard mode, the engine's preference record and the settings-change notification.
// Thread-safety: every accessor may be called on any thread; each reads the suite afresh.
#ifndef TOLVANI_SETTINGS_APPSETTINGS_H_
#define TOLVANI_SETTINGS_APPSETTINGS_H_

#include <QString>
#include <QUrl>
#include <array>
#include <cstdint>
#include <optional>

#include "platform/Defaults.h"
#include "platform/NotificationCenter.h"

namespace tolvani {

enum class KeyboardMode : int { phonetic = 0, probhat = 1, national = 2, unijoy = 3 };

// Every mode, in order.
inline constexpr std::array<KeyboardMode, 4> kAllKeyboardModes = {
    KeyboardMode::phonetic, KeyboardMode::probhat, KeyboardMode::national, KeyboardMode::unijoy};

// The mode of a raw value: 0, 1, 2 and 3 only.
std::optional<KeyboardMode> keyboardModeFromRawValue(qint64 raw);
inline int rawValue(KeyboardMode mode) { return static_cast<int>(mode); }
// The mode's name, the same in both interface languages.
QString title(KeyboardMode mode);

struct EnginePreferences {
  std::uint32_t suggestionCount = 5;
  bool autocorrectEnabled = false;
  bool banglaDigitsEnabled = false;
  bool englishPassthroughEnabled = false;
  bool suggestionsDisabled = false;
  bool learningDisabled = false;
  bool preferModernSpellings = false;
  bool offerSpokenStandard = false;

  // One bit per switch, in field order from bit 0; bits 7 to 31 are 0.
  std::uint32_t flags() const;

  bool operator==(const EnginePreferences&) const = default;
};

// The candidate panel's appearance when the user chose one instead of following the system.
enum class PanelAppearance { dark, light };

namespace AppSettings {

inline const QString kDefaultModeKey = QStringLiteral("defaultMode");
inline const QString kSuggestionCountKey = QStringLiteral("suggestionCount");
inline const QString kEnglishPassthroughKey = QStringLiteral("englishPassthrough");
inline const QString kBanglaDigitsKey = QStringLiteral("banglaDigits");
inline const QString kAutocorrectKey = QStringLiteral("autocorrect");
inline const QString kPanelAppearanceKey = QStringLiteral("panelAppearance");
inline const QString kOnboardingCompletedKey = QStringLiteral("onboardingCompleted");
inline const QString kOnboardingDeferredKey = QStringLiteral("onboardingDeferred");
inline const QString kUiLanguageKey = QStringLiteral("uiLanguage");
inline const QString kSuggestionsEnabledKey = QStringLiteral("suggestionsEnabled");
inline const QString kInlineEmojiEnabledKey = QStringLiteral("inlineEmojiEnabled");
inline const QString kPreferModernSpellingsKey = QStringLiteral("preferModernSpellings");
inline const QString kSpokenStandardKey = QStringLiteral("spokenStandard");
inline const QString kTextShortcutsKey = QStringLiteral("textShortcuts");
inline const QString kReloadUserDataKey = QStringLiteral("reloadUserData");

inline constexpr int kMinSuggestionCount = 3;
inline constexpr int kMaxSuggestionCount = 15;
inline constexpr int kDefaultSuggestionCount = 5;

// The standard defaults suite, obtained once and kept.
platform::Defaults& suite();
// Registers the fallback values of the first ten keys; called first thing at launch.
void registerDefaults();

KeyboardMode defaultMode();
void setDefaultMode(KeyboardMode mode);

// Always 3 to 15; 5 when nothing or a non-integer is stored.
int suggestionCount();
void setSuggestionCount(int count);

bool englishPassthroughEnabled();
void setEnglishPassthroughEnabled(bool enabled);
bool banglaDigitsEnabled();
void setBanglaDigitsEnabled(bool enabled);
bool autocorrectEnabled();
void setAutocorrectEnabled(bool enabled);
bool onboardingCompleted();
void setOnboardingCompleted(bool completed);
bool onboardingDeferred();
void setOnboardingDeferred(bool deferred);

int panelAppearance();
void setPanelAppearance(int appearance);
// 1 dark, 2 light, anything else none (follow the system).
std::optional<PanelAppearance> panelNSAppearance();

int uiLanguage();
void setUiLanguage(int language);
// True exactly when "uiLanguage" is 0.
bool isBanglaUI();

bool suggestionsEnabled();
void setSuggestionsEnabled(bool enabled);

// The key the settings pages write directly.
const QString& predictiveTextKey();
bool predictiveTextEnabled();
// True unless a Bool false is stored.
bool inlineEmojiEnabled();

EnginePreferences enginePreferences();

// "TolvaniSettingsDidChange".
const QString& didChangeNotification();
void postDidChange(bool reloadUserData = false);
// The Bool under "reloadUserData" in the user info; false for anything else.
bool reloadUserDataRequested(const platform::Notification& notification);

// The installation page with the fragment "installed=" + the short version.
QUrl updateCheckURL();

}  // namespace AppSettings
}  // namespace tolvani

#endif  // TOLVANI_SETTINGS_APPSETTINGS_H_
