#include "settings/AppSettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Bundle.h"
#include "platform/PropertyList.h"
#include "platform/testing/ChildProcess.h"
#include "settings/tests/SettingsTestSupport.h"

namespace tolvani {
namespace {

using platform::Defaults;

class AppSettingsTest : public testing::SettingsSuiteTest {
 protected:
  void SetUp() override {
    SettingsSuiteTest::SetUp();
    AppSettings::registerDefaults();
  }
  // Stores `value` as another window or a settings page would, bypassing the accessors.
  void store(const QString& key, const QVariant& value) {
    ASSERT_TRUE(AppSettings::suite().set(key, value));
  }
};

TEST_F(AppSettingsTest, SuggestionCountIsClampedAndFallsBackToFive) {
  struct Row {
    QVariant stored;
    int expected;
  };
  const Row rows[] = {{QVariant(), 5},          {qint64{1}, 3},   {qint64{40}, 15},
                      {QStringLiteral("9"), 5}, {2.0 * 4, 5},     {true, 5},
                      {qint64{3}, 3},           {qint64{15}, 15}, {qint64{-1} << 40, 3},
                      {qint64{1} << 40, 15},    {qint64{7}, 7}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored.toString().toStdString());
    if (row.stored.isValid())
      store(AppSettings::kSuggestionCountKey, row.stored);
    else
      AppSettings::suite().remove(AppSettings::kSuggestionCountKey);
    EXPECT_EQ(AppSettings::suggestionCount(), row.expected);
    EXPECT_EQ(AppSettings::enginePreferences().suggestionCount,
              static_cast<uint32_t>(row.expected));
  }
  for (auto [given, stored] : {std::pair{0, 3}, {99, 15}, {8, 8}}) {
    AppSettings::setSuggestionCount(given);
    EXPECT_EQ(AppSettings::suite().integer(AppSettings::kSuggestionCountKey), stored) << given;
  }
}

TEST_F(AppSettingsTest, DefaultModeReadsOnlyKnownRawValues) {
  const std::pair<QVariant, KeyboardMode> rows[] = {
      {qint64{0}, KeyboardMode::phonetic},          {qint64{1}, KeyboardMode::probhat},
      {qint64{2}, KeyboardMode::national},          {qint64{3}, KeyboardMode::unijoy},
      {qint64{4}, KeyboardMode::phonetic},          {qint64{7}, KeyboardMode::phonetic},
      {qint64{-1}, KeyboardMode::phonetic},         {qint64{1} << 32 | 1, KeyboardMode::phonetic},
      {QStringLiteral("1"), KeyboardMode::phonetic}};
  for (const auto& [stored, mode] : rows) {
    store(AppSettings::kDefaultModeKey, stored);
    EXPECT_EQ(AppSettings::defaultMode(), mode) << stored.toString().toStdString();
  }
  QStringList titles;
  for (KeyboardMode mode : kAllKeyboardModes) titles << title(mode);
  EXPECT_EQ(titles,
            QStringList({QStringLiteral("তোলভানি ফোনেটিক"), QStringLiteral("তোলভানি প্রভাত"),
                         QStringLiteral("তোলভানি জাতীয়"), QStringLiteral("তোলভানি ইউনিজয়")}));
}

// The layout as the settings file holds it: Unijoy written and read back after a reopen, the
// layouts of files an older version wrote kept, and a value no version writes read as phonetic.
TEST_F(AppSettingsTest, ChosenLayoutIsReadBackFromTheFile) {
  const QString path = AppSettings::suite().filePath();
  AppSettings::setDefaultMode(KeyboardMode::unijoy);
  Defaults::testResetStandard();
  AppSettings::registerDefaults();
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::unijoy);
  const std::optional<QVariantMap> written =
      platform::propertylist::parseDictionary(QByteArray::fromStdString(testing::readBytes(path)));
  ASSERT_TRUE(written);
  EXPECT_EQ(written->value(AppSettings::kDefaultModeKey), QVariant(qint64{3}));

  const std::pair<QVariantMap, KeyboardMode> files[] = {
      {{{AppSettings::kDefaultModeKey, qint64{1}}, {AppSettings::kSuggestionCountKey, qint64{7}}},
       KeyboardMode::probhat},
      {{{AppSettings::kDefaultModeKey, qint64{2}}}, KeyboardMode::national},
      {{{AppSettings::kDefaultModeKey, qint64{0}}}, KeyboardMode::phonetic},
      {{{AppSettings::kSuggestionCountKey, qint64{7}}}, KeyboardMode::phonetic},
      {{{AppSettings::kDefaultModeKey, qint64{4}}}, KeyboardMode::phonetic},
      {{{AppSettings::kDefaultModeKey, QStringLiteral("unijoy")}}, KeyboardMode::phonetic},
      {{{AppSettings::kDefaultModeKey, qint64{3}}}, KeyboardMode::unijoy},
  };
  for (const auto& [values, mode] : files) {
    const std::optional<QByteArray> bytes = platform::propertylist::toBinary(values);
    ASSERT_TRUE(bytes);
    testing::writeBytes(path, bytes->toStdString());
    Defaults::testResetStandard();
    AppSettings::registerDefaults();
    EXPECT_EQ(AppSettings::defaultMode(), mode)
        << values.value(AppSettings::kDefaultModeKey).toString().toStdString();
  }
}

TEST_F(AppSettingsTest, NothingStoredGivesTheDefaultsAndWritesNothing) {
  EXPECT_TRUE(AppSettings::suggestionsEnabled());
  EXPECT_TRUE(AppSettings::inlineEmojiEnabled());
  EXPECT_TRUE(AppSettings::englishPassthroughEnabled());
  EXPECT_TRUE(AppSettings::banglaDigitsEnabled());
  EXPECT_FALSE(AppSettings::autocorrectEnabled());
  EXPECT_FALSE(AppSettings::onboardingCompleted());
  EXPECT_FALSE(AppSettings::onboardingDeferred());
  EXPECT_FALSE(AppSettings::predictiveTextEnabled());
  EXPECT_EQ(AppSettings::predictiveTextKey(), QStringLiteral("predictiveText"));
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::phonetic);
  EXPECT_EQ(AppSettings::panelAppearance(), 0);
  EXPECT_EQ(AppSettings::panelNSAppearance(), std::nullopt);
  EXPECT_EQ(AppSettings::uiLanguage(), 0);
  EXPECT_EQ(AppSettings::enginePreferences().flags(), 6u);
  EXPECT_FALSE(QDir(config_.path() + QStringLiteral("/tolvani")).exists());
}

TEST_F(AppSettingsTest, StoredValuesOfTheWrongTypeReadAsTheFallback) {
  store(AppSettings::kInlineEmojiEnabledKey, QStringLiteral("no"));
  EXPECT_TRUE(AppSettings::inlineEmojiEnabled());
  store(AppSettings::kInlineEmojiEnabledKey, false);
  EXPECT_FALSE(AppSettings::inlineEmojiEnabled());
  store(AppSettings::kEnglishPassthroughKey, qint64{0});
  EXPECT_TRUE(AppSettings::englishPassthroughEnabled());
  store(AppSettings::kSuggestionsEnabledKey, false);
  EXPECT_FALSE(AppSettings::suggestionsEnabled());
}

TEST_F(AppSettingsTest, PanelAppearance) {
  using A = PanelAppearance;
  const std::pair<int, std::optional<A>> rows[] = {
      {0, {}}, {1, A::dark}, {2, A::light}, {3, {}}, {-1, {}}};
  for (const auto& [stored, appearance] : rows) {
    AppSettings::setPanelAppearance(stored);
    EXPECT_EQ(AppSettings::panelAppearance(), stored);
    EXPECT_EQ(AppSettings::panelNSAppearance(), appearance) << stored;
  }
}

TEST_F(AppSettingsTest, FlagWordHasOneBitPerSwitchInFieldOrder) {
  using Field = bool EnginePreferences::*;
  const Field fields[] = {
      &EnginePreferences::autocorrectEnabled,        &EnginePreferences::banglaDigitsEnabled,
      &EnginePreferences::englishPassthroughEnabled, &EnginePreferences::suggestionsDisabled,
      &EnginePreferences::learningDisabled,          &EnginePreferences::preferModernSpellings,
      &EnginePreferences::offerSpokenStandard};
  EnginePreferences all;
  for (size_t bit = 0; bit < std::size(fields); ++bit) {
    EnginePreferences one;
    one.*fields[bit] = true;
    EXPECT_EQ(one.flags(), 1u << bit);
    all.*fields[bit] = true;
  }
  EXPECT_EQ(all.flags(), 127u);

  // Everything the settings can turn on: learning is never disabled from here.
  AppSettings::setAutocorrectEnabled(true);
  AppSettings::setSuggestionsEnabled(false);
  store(AppSettings::kPreferModernSpellingsKey, true);
  store(AppSettings::kSpokenStandardKey, true);
  AppSettings::setSuggestionCount(15);
  const EnginePreferences most = AppSettings::enginePreferences();
  EXPECT_EQ(most.flags(), 111u);
  EXPECT_EQ(most, (EnginePreferences{15, true, true, true, true, false, true, true}));
}

TEST_F(AppSettingsTest, ChangeNotificationCarriesTheReloadRequest) {
  QStringList seen;
  auto& center = platform::NotificationCenter::defaultCenter();
  const auto token = center.addObserver(
      AppSettings::didChangeNotification(), [&](const platform::Notification& n) {
        seen << n.name + (AppSettings::reloadUserDataRequested(n) ? " reload" : "");
      });
  AppSettings::postDidChange();
  AppSettings::postDidChange(true);
  center.removeObserver(token);
  EXPECT_EQ(seen, QStringList({"TolvaniSettingsDidChange", "TolvaniSettingsDidChange reload"}));

  const QString name = AppSettings::didChangeNotification();
  const std::optional<QVariantMap> noRequest[] = {
      std::nullopt, QVariantMap{}, QVariantMap{{QStringLiteral("other"), true}},
      QVariantMap{{QStringLiteral("reloadUserData"), qint64{1}}},
      QVariantMap{{QStringLiteral("reloadUserData"), QStringLiteral("true")}}};
  for (const auto& info : noRequest)
    EXPECT_FALSE(AppSettings::reloadUserDataRequested({name, info}));
}

TEST_F(AppSettingsTest, UpdateLinkNamesTheInstalledVersion) {
  EXPECT_EQ(AppSettings::updateCheckURL().toString(),
            QStringLiteral("https://tolvani.org/install/linux/#installed=0.1.0"));
  platform::bundle::testSetShortVersion(QString());
  EXPECT_EQ(AppSettings::updateCheckURL().toString(),
            QStringLiteral("https://tolvani.org/install/linux/#installed="));
  platform::bundle::testSetShortVersion(std::nullopt);
}

TEST_F(AppSettingsTest, SettingsSurviveAReopenAndReachAnotherProcess) {
  AppSettings::setDefaultMode(KeyboardMode::probhat);
  AppSettings::setBanglaDigitsEnabled(false);
  Defaults::testResetStandard();
  AppSettings::registerDefaults();
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::probhat);
  EXPECT_FALSE(AppSettings::banglaDigitsEnabled());

  const testing::ChildResult child = testing::runChild(QStringLiteral("writeSettings"));
  ASSERT_EQ(child.exitCode, 0) << child.standardError.toStdString();
  EXPECT_EQ(child.standardOutput, "mode 1\n");
  EXPECT_EQ(AppSettings::suggestionCount(), 9);
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::probhat);
}

TEST_F(AppSettingsTest, ConcurrentReadersSeeOnlyWholeClampedSettings) {
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      while (!stop) {
        const EnginePreferences p = AppSettings::enginePreferences();
        if (p.suggestionCount < 3 || p.suggestionCount > 15 || p.learningDisabled) ++bad;
      }
    });
  for (int i = 0; i < 60; ++i) {
    AppSettings::setSuggestionCount(i % 20);
    AppSettings::setAutocorrectEnabled(i % 2);
  }
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(AppSettings::suggestionCount(), 15);  // 59 % 20 = 19, clamped
}

// Runs with the parent's XDG_CONFIG_HOME, as the command-mode child does.
TOLVANI_CHILD_ROLE(writeSettings) {
  AppSettings::registerDefaults();
  std::printf("mode %d\n", rawValue(AppSettings::defaultMode()));
  AppSettings::setSuggestionCount(9);
  AppSettings::setOnboardingCompleted(true);
  return 0;
}

}  // namespace
}  // namespace tolvani
