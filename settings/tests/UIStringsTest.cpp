#include "settings/UIStrings.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "settings/tests/SettingsTestSupport.h"

namespace tolvani {
namespace {

class UIStringsTest : public testing::SettingsSuiteTest {
 protected:
  static void setLanguage(qint64 language) {
    ASSERT_TRUE(AppSettings::suite().set(AppSettings::kUiLanguageKey, language));
  }
  static void setBangla() { setLanguage(0); }
  static void setEnglish() { setLanguage(1); }
};

struct TextRow {
  const char* name;
  std::function<QString()> text;
  QStringView english;
  QStringView bangla;
};

// One or two texts of every group, chosen for their punctuation and script mix.
const TextRow kSample[] = {
    {"appTitle", UIStrings::appTitle, u"Tolvani", u"তোলভানি"},
    {"setupWorking", UIStrings::setupWorking, u"Setting up Tolvani…", u"তোলভানি চালু করা হচ্ছে…"},
    {"privacySection", UIStrings::privacySection, u"Memory & Privacy", u"মেমরি ও গোপনীয়তা"},
    {"editDictionary", UIStrings::editDictionary, u"Edit Dictionary...", u"অভিধান সম্পাদনা..."},
    {"menuSettings", UIStrings::menuSettings, u"Settings...", u"সেটিংস..."},
    {"menuFullyOffline", UIStrings::menuFullyOffline, u"Fully Offline", u"সম্পূর্ণ অফলাইন"},
    {"facebookPage", UIStrings::facebookPage, u"Facebook Page", u"Facebook পেজ"},
    {"typingInsights", UIStrings::typingInsights, u"Typing Insights", u"টাইপিং পরিসংখ্যান"},
    {"textShortcutsSubtitle", UIStrings::textShortcutsSubtitle,
     u"Type a shortcut and press Space to insert the full phrase.",
     u"শর্টকাট টাইপ করে স্পেস চাপলে পুরো লেখাটি বসে যাবে।"},
    {"convertSelectFirst", UIStrings::convertSelectFirst, u"Select Banglish text first",
     u"আগে বাংলিশ লেখা সিলেক্ট করুন"},
    {"convertSelectionHidden", UIStrings::convertSelectionHidden,
     u"Can't read the selection here; use a text editor",
     u"এই ফিল্ডের সিলেকশন পড়া যায় না; টেক্সট এডিটরে করুন"},
    {"okButton", UIStrings::okButton, u"OK", u"ঠিক আছে"},
    {"shortcutsTooLarge", UIStrings::shortcutsTooLarge,
     u"The file is too large. Choose one under 200 KB.",
     u"ফাইলটি অনেক বড়। ২০০ কিলোবাইটের ছোট ফাইল বেছে নিন।"},
};

TEST_F(UIStringsTest, EveryCallFollowsTheCurrentInterfaceLanguage) {
  // 0 and a missing value are Bangla; every other value is English.
  const struct {
    std::optional<qint64> stored;
    bool bangla;
  } kLanguages[] = {{0, true},   {1, false},           {2, false},
                    {-1, false}, {std::nullopt, true}, {qint64{1} << 32, false}};
  for (const auto& language : kLanguages) {
    if (language.stored) {
      setLanguage(*language.stored);
    } else {
      ASSERT_TRUE(AppSettings::suite().remove(AppSettings::kUiLanguageKey));
    }
    for (const TextRow& row : kSample) {
      EXPECT_EQ(row.text(), (language.bangla ? row.bangla : row.english).toString())
          << row.name << " with uiLanguage " << language.stored.value_or(999);
    }
  }
}

TEST_F(UIStringsTest, FormattersPutNumbersInEachLanguagesOrder) {
  const struct {
    std::function<QString()> text;
    QStringView english;
    QStringView bangla;
  } kRows[] = {
      {[] { return UIStrings::wordCount(3, 10); }, u"3 of 10 words", u"10 টির মধ্যে 3 টি শব্দ"},
      {[] { return UIStrings::wordCount(0, 0); }, u"0 of 0 words", u"0 টির মধ্যে 0 টি শব্দ"},
      // ASCII digits without grouping in both languages.
      {[] { return UIStrings::wordCount(1234567, 10000000); }, u"1234567 of 10000000 words",
       u"10000000 টির মধ্যে 1234567 টি শব্দ"},
      {[] { return UIStrings::savedFile(QStringLiteral(u"backup.json")); },
       u"Saved to “backup.json”.", u"“backup.json” ফাইলে সংরক্ষণ করা হয়েছে।"},
      {[] { return UIStrings::savedFile(QStringLiteral(u"শব্দ.json")); }, u"Saved to “শব্দ.json”.",
       u"“শব্দ.json” ফাইলে সংরক্ষণ করা হয়েছে।"},
      {[] { return UIStrings::learnedWordsImported(0); }, u"Imported learned data.",
       u"শেখা ডেটা ইমপোর্ট হয়েছে।"},
      {[] { return UIStrings::learnedWordsImported(1); }, u"Imported 1 learned word.",
       u"1 টি শেখা শব্দ ইমপোর্ট হয়েছে।"},
      {[] { return UIStrings::learnedWordsImported(2); }, u"Imported 2 learned words.",
       u"2 টি শেখা শব্দ ইমপোর্ট হয়েছে।"},
      {[] { return UIStrings::shortcutsImported(2, 0); }, u"Imported 2 shortcuts.",
       u"2 টি শর্টকাট আনা হয়েছে।"},
      {[] { return UIStrings::shortcutsImported(1, 0); }, u"Imported 1 shortcut.",
       u"1 টি শর্টকাট আনা হয়েছে।"},
      {[] { return UIStrings::shortcutsImported(1, 1); }, u"Imported 1 shortcut; skipped 1.",
       u"1 টি শর্টকাট আনা হয়েছে; 1 টি বাদ গেছে।"},
      {[] { return UIStrings::shortcutsImported(0, 12); }, u"Imported 0 shortcuts; skipped 12.",
       u"0 টি শর্টকাট আনা হয়েছে; 12 টি বাদ গেছে।"},
  };
  for (bool bangla : {false, true}) {
    setLanguage(bangla ? 0 : 1);
    for (const auto& row : kRows) {
      EXPECT_EQ(row.text(), (bangla ? row.bangla : row.english).toString());
    }
  }
}

TEST_F(UIStringsTest, TrickyTextsHaveTheirExactCodePoints) {
  setBangla();
  // The ranking word keeps a zero-width joiner between RA and the virama.
  EXPECT_EQ(UIStrings::confirmResetWords(),
            QStringLiteral(u"এটি শেখা শব্দ, প্রার্থী পছন্দ এবং ব্যক্তিগত র\u200D্যাঙ্কিং স্থায়ীভাবে মুছে "
                           u"ফেলবে। এই ক্রিয়া পূর্বাবস্থায় ফেরানো যাবে না।"));
  EXPECT_EQ(UIStrings::confirmResetWords().count(QChar(0x200D)), 1);
  // Bangla digits where the text itself has them.
  EXPECT_TRUE(UIStrings::learnedDataTooLarge().contains(u"\u09E8 \u09AE\u09C7\u0997\u09BE"));
  // GNOME's path; elsewhere it goes through IBus Preferences.
  const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
  qputenv("XDG_CURRENT_DESKTOP", "GNOME");
  const QString banglaSettingsPath = UIStrings::setupSettingsPath();

  setEnglish();
  EXPECT_EQ(UIStrings::setupSettingsPath(), banglaSettingsPath);
  EXPECT_EQ(
      UIStrings::setupSettingsPath(),
      QStringLiteral(u"Settings \u2192 Keyboard \u2192 Input Sources \u2192 + \u2192 Bangla \u2192 "
                     u"\u09A4\u09CB\u09B2\u09AD\u09BE\u09A8\u09BF"));
  if (desktop.isNull())
    qunsetenv("XDG_CURRENT_DESKTOP");
  else
    qputenv("XDG_CURRENT_DESKTOP", desktop);
  EXPECT_EQ(UIStrings::setupDoneDetail(),
            QStringLiteral(
                u"You\u2019re all set. Tolvani is in your input menu; press Super-Space (usually) "
                u"to switch keyboards."));
  EXPECT_EQ(UIStrings::confirmResetWords().count(QChar(0x200D)), 0);
  // An ellipsis character in the backup menu, three full stops in the settings window.
  EXPECT_EQ(UIStrings::exportLearnedWords(), QStringLiteral(u"Export Learned Words\u2026"));
  EXPECT_EQ(UIStrings::customKeys(), QStringLiteral(u"Custom Keys..."));
  EXPECT_EQ(UIStrings::dynamicShortcutsHint(),
            QStringLiteral(
                u"Dynamic: type tarikh or aj (today's date), shomoy (current time), or bdate, "
                u"btarikh or bongabdo (Bangla calendar date), press Escape to keep it in English, "
                u"then press Space."));
}

}  // namespace
}  // namespace tolvani
