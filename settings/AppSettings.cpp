#include "settings/AppSettings.h"

#include <QUrl>
#include <QVariantMap>
#include <algorithm>

#include "platform/Bundle.h"

namespace tolvani {

namespace {

const QString kPredictiveTextKey = QStringLiteral("predictiveText");
const QString kInstallationPage = QStringLiteral("https://tolvani.org/install/linux/");

bool storedBool(const QString& key, bool fallback) {
  return AppSettings::suite().boolean(key).value_or(fallback);
}

void storeBool(const QString& key, bool value) { AppSettings::suite().set(key, value); }

int storedInt(const QString& key, int fallback) {
  const std::optional<qint64> value = AppSettings::suite().integer(key);
  if (!value) return fallback;
  return static_cast<int>(std::clamp<qint64>(*value, INT32_MIN, INT32_MAX));
}

void storeInt(const QString& key, int value) {
  AppSettings::suite().set(key, static_cast<qint64>(value));
}

}  // namespace

std::optional<KeyboardMode> keyboardModeFromRawValue(qint64 raw) {
  switch (raw) {
    case 0:
      return KeyboardMode::phonetic;
    case 1:
      return KeyboardMode::probhat;
    case 2:
      return KeyboardMode::national;
    case 3:
      return KeyboardMode::unijoy;
    default:
      return std::nullopt;
  }
}

QString title(KeyboardMode mode) {
  switch (mode) {
    case KeyboardMode::probhat:
      return QStringLiteral("তোলভানি প্রভাত");
    case KeyboardMode::national:
      return QStringLiteral("তোলভানি জাতীয়");
    case KeyboardMode::unijoy:
      return QStringLiteral("তোলভানি ইউনিজয়");
    case KeyboardMode::phonetic:
      break;
  }
  return QStringLiteral("তোলভানি ফোনেটিক");
}

std::uint32_t EnginePreferences::flags() const {
  const bool switches[] = {autocorrectEnabled,  banglaDigitsEnabled, englishPassthroughEnabled,
                           suggestionsDisabled, learningDisabled,    preferModernSpellings,
                           offerSpokenStandard};
  std::uint32_t word = 0;
  for (std::uint32_t bit = 0; bit < std::size(switches); ++bit) {
    if (switches[bit]) word |= 1u << bit;
  }
  return word;
}

namespace AppSettings {

platform::Defaults& suite() { return platform::Defaults::standard(); }

void registerDefaults() {
  suite().registerDefaults(QVariantMap{
      {kDefaultModeKey, qint64{0}},
      {kSuggestionCountKey, qint64{kDefaultSuggestionCount}},
      {kEnglishPassthroughKey, true},
      {kBanglaDigitsKey, true},
      {kAutocorrectKey, false},
      {kPanelAppearanceKey, qint64{0}},
      {kOnboardingCompletedKey, false},
      {kOnboardingDeferredKey, false},
      {kUiLanguageKey, qint64{0}},
      {kPredictiveTextKey, false},
  });
}

KeyboardMode defaultMode() {
  const std::optional<qint64> raw = suite().integer(kDefaultModeKey);
  return keyboardModeFromRawValue(raw.value_or(0)).value_or(KeyboardMode::phonetic);
}

void setDefaultMode(KeyboardMode mode) { storeInt(kDefaultModeKey, rawValue(mode)); }

int suggestionCount() {
  const std::optional<qint64> stored = suite().integer(kSuggestionCountKey);
  if (!stored) return kDefaultSuggestionCount;
  return static_cast<int>(std::clamp<qint64>(*stored, kMinSuggestionCount, kMaxSuggestionCount));
}

void setSuggestionCount(int count) {
  storeInt(kSuggestionCountKey, std::clamp(count, kMinSuggestionCount, kMaxSuggestionCount));
}

bool englishPassthroughEnabled() { return storedBool(kEnglishPassthroughKey, true); }
void setEnglishPassthroughEnabled(bool enabled) { storeBool(kEnglishPassthroughKey, enabled); }
bool banglaDigitsEnabled() { return storedBool(kBanglaDigitsKey, true); }
void setBanglaDigitsEnabled(bool enabled) { storeBool(kBanglaDigitsKey, enabled); }
bool autocorrectEnabled() { return storedBool(kAutocorrectKey, false); }
void setAutocorrectEnabled(bool enabled) { storeBool(kAutocorrectKey, enabled); }
bool onboardingCompleted() { return storedBool(kOnboardingCompletedKey, false); }
void setOnboardingCompleted(bool completed) { storeBool(kOnboardingCompletedKey, completed); }
bool onboardingDeferred() { return storedBool(kOnboardingDeferredKey, false); }
void setOnboardingDeferred(bool deferred) { storeBool(kOnboardingDeferredKey, deferred); }

int panelAppearance() { return storedInt(kPanelAppearanceKey, 0); }
void setPanelAppearance(int appearance) { storeInt(kPanelAppearanceKey, appearance); }

std::optional<PanelAppearance> panelNSAppearance() {
  switch (suite().integer(kPanelAppearanceKey).value_or(0)) {
    case 1:
      return PanelAppearance::dark;
    case 2:
      return PanelAppearance::light;
    default:
      return std::nullopt;
  }
}

int uiLanguage() { return storedInt(kUiLanguageKey, 0); }
void setUiLanguage(int language) { storeInt(kUiLanguageKey, language); }
// Compared as stored so that a huge value is not narrowed to 0.
bool isBanglaUI() { return suite().integer(kUiLanguageKey).value_or(0) == 0; }

bool suggestionsEnabled() { return storedBool(kSuggestionsEnabledKey, true); }
void setSuggestionsEnabled(bool enabled) { storeBool(kSuggestionsEnabledKey, enabled); }

const QString& predictiveTextKey() { return kPredictiveTextKey; }
bool predictiveTextEnabled() { return storedBool(kPredictiveTextKey, false); }
bool inlineEmojiEnabled() { return storedBool(kInlineEmojiEnabledKey, true); }

EnginePreferences enginePreferences() {
  EnginePreferences preferences;
  preferences.suggestionCount = static_cast<std::uint32_t>(suggestionCount());
  preferences.autocorrectEnabled = storedBool(kAutocorrectKey, false);
  preferences.banglaDigitsEnabled = storedBool(kBanglaDigitsKey, true);
  preferences.englishPassthroughEnabled = storedBool(kEnglishPassthroughKey, true);
  preferences.suggestionsDisabled = !suggestionsEnabled();
  preferences.learningDisabled = false;
  preferences.preferModernSpellings = storedBool(kPreferModernSpellingsKey, false);
  preferences.offerSpokenStandard = storedBool(kSpokenStandardKey, false);
  return preferences;
}

const QString& didChangeNotification() {
  static const QString name = QStringLiteral("TolvaniSettingsDidChange");
  return name;
}

void postDidChange(bool reloadUserData) {
  platform::NotificationCenter::defaultCenter().post(
      didChangeNotification(), QVariantMap{{kReloadUserDataKey, reloadUserData}});
}

bool reloadUserDataRequested(const platform::Notification& notification) {
  if (!notification.userInfo) return false;
  const QVariant entry = notification.userInfo->value(kReloadUserDataKey);
  return entry.typeId() == QMetaType::Bool && entry.toBool();
}

QUrl updateCheckURL() {
  QUrl url(kInstallationPage, QUrl::StrictMode);
  if (!url.isValid()) return QUrl(kInstallationPage);
  url.setFragment(QStringLiteral("installed=") + platform::bundle::shortVersion());
  return url;
}

}  // namespace AppSettings
}  // namespace tolvani
