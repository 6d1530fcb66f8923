#include "ime/EmojiSearch.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QStringList>
#include <optional>

#include "lexicon.h"

namespace tolvani {
namespace {

using EmojiSearch::concepts;
using EmojiSearch::inlineSuggestion;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

TEST(EmojiSearchTest, SuggestionsFollowTheRawInputThenTheWord) {
  struct Case {
    const char* raw;
    const char* word;
    std::optional<const char*> emoji;
  };
  const Case cases[] = {
      {"lol", "", "\U0001F602"},
      {"Lol", "", "\U0001F602"},
      {"cha", "", "\u2615"},
      {"hey", "", "\U0001F44B"},
      {"hi", "হি", std::nullopt},
      {"na", "না", std::nullopt},
      {"nah", "", "\U0001F44E"},
      {"xyz", "ভালোবাসা", "\u2764\uFE0F"},
      {"abc", "কিছু", std::nullopt},
      {"  okay ", "", "\U0001F44D"},
      // The raw input decides when both are keys.
      {"cha", "ভালোবাসা", "\u2615"},
      // A word of two Bangla characters passes the length test on its own.
      {"xy", "মজা", "\U0001F602"},
      // Line breaks are not trimmed.
      {"lol\n", "", std::nullopt},
      {"family", "", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"},
      {"eid mubarak", "", "\U0001F319"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    const std::optional<QString> got = inlineSuggestion(u(c.raw), u(c.word));
    if (c.emoji) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(got->toStdString(), std::string(*c.emoji));
    } else {
      EXPECT_FALSE(got.has_value()) << got->toStdString();
    }
  }
}

TEST(EmojiSearchTest, TableHasEveryRowInOrderWithItsInlineEmoji) {
  const char* expected[][2] = {
      {"Laugh", "😂"},
      {"Happy", "😊"},
      {"Love", "❤️"},
      {"Cry", "😢"},
      {"Sad", "😔"},
      {"Angry", "😠"},
      {"Scared", "😱"},
      {"Wow", "😮"},
      {"Fun", "😂"},
      {"Sleep", "😴"},
      {"Yes", "👍"},
      {"No", "👎"},
      {"Thanks", "🙏"},
      {"Salam", "👋"},
      {"Prayer", "🤲"},
      {"Eid", "🌙"},
      {"Iftar", "🌙"},
      {"Puja", "🙏"},
      {"Birthday", "🎂"},
      {"Wedding", "💍"},
      {"Party", "🎉"},
      {"Congrats", "🎉"},
      {"Food", "🍛"},
      {"Rice", "🍚"},
      {"Sweet", "🍰"},
      {"Tea", "☕"},
      {"Water", "💧"},
      {"Fruit", "🥭"},
      {"Cat", "🐱"},
      {"Dog", "🐶"},
      {"Bird", "🐦"},
      {"Fish", "🐟"},
      {"Tiger", "🐯"},
      {"Flower", "🌸"},
      {"Tree", "🌳"},
      {"Moon", "🌙"},
      {"Star", "⭐"},
      {"Sun", "☀️"},
      {"Fire", "🔥"},
      {"Rain", "🌧️"},
      {"Storm", "🌪️"},
      {"Cold", "🥶"},
      {"Car", "🚗"},
      {"Bus", "🚌"},
      {"Train", "🚂"},
      {"Plane", "✈️"},
      {"Boat", "⛵"},
      {"Home", "🏠"},
      {"Mosque", "🕌"},
      {"Work", "💼"},
      {"Study", "📚"},
      {"Money", "💰"},
      {"Cricket", "🏏"},
      {"Football", "⚽"},
      {"Games", "🎮"},
      {"Music", "🎵"},
      {"Photo", "📸"},
      {"Phone", "📱"},
      {"Doctor", "🤒"},
      {"Bangladesh", "🇧🇩"},
      {"Victory", "🏆"},
      {"Miss you", "🥺"},
      {"Sorry", "🙏"},
      {"Please", "🙏"},
      {"Hug", "🤗"},
      {"Kiss", "😘"},
      {"Think", "🤔"},
      {"Awesome", "🔥"},
      {"Cool", "😎"},
      {"Strong", "💪"},
      {"Friend", "🤝"},
      {"Family", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"},
      {"Mother", "🤱"},
      {"Father", "\U0001F468\u200D\U0001F467"},
      {"Baby", "👶"},
      {"Gift", "🎁"},
      {"Time", "⏰"},
      {"Wait", "⏳"},
      {"Heat", "🥵"},
      {"Run", "🏃"},
      {"Shopping", "🛍️"},
      {"School", "🏫"},
      {"Computer", "💻"},
      {"Internet", "📶"},
      {"Dance", "💃"},
      {"Cooking", "🍳"},
      {"Chicken", "🍗"},
      {"Cow", "🐄"},
      {"Goat", "🐐"},
      {"Sea", "🌊"},
      {"Mountain", "⛰️"},
      {"River", "🏞️"},
      {"Idea", "💡"},
      {"Question", "❓"},
      {"Beautiful", "😍"},
      {"Bye", "👋"},
      {"Welcome", "🤗"},
      {"Good", "👍"},
      {"Crazy", "🤪"},
      {"Shy", "🙈"},
      {"Done", "✅"},
      {"Perfect", "💯"},
  };
  ASSERT_EQ(concepts().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const EmojiSearch::Concept& c = concepts()[i];
    SCOPED_TRACE(expected[i][0]);
    EXPECT_EQ(c.english, u(expected[i][0]));
    EXPECT_EQ(c.emojis.value(0), u(expected[i][1]));
    EXPECT_GE(c.emojis.size(), 2);
    EXPECT_EQ(c.inPicker, i < 61);
    EXPECT_FALSE(c.bangla.isEmpty());
    EXPECT_FALSE(c.words.isEmpty());
    EXPECT_FALSE(c.banglaKeys.isEmpty());
  }
}

TEST(EmojiSearchTest, RowsGivenInFullAreExact) {
  struct Row {
    int position;
    const char* bangla;
    QStringList words;
    QStringList banglaKeys;
    QStringList emojis;
  };
  const Row rows[] = {
      {0,
       "হাসি",
       {"laugh", "laughing", "smile", "lol", "haha", "hahaha", "lmao", "rofl"},
       {u("হাসি"), u("হাসছি"), u("হাসলাম"), u("হাহা"), "hashi", "hasi", "hashchi", "hasci"},
       QString::fromUtf8("😂 😀 😄 😁 😆 🤣 🙂 😊 😜 🤪 😹 🙈").split(' ')},
      {2,
       "ভালোবাসা",
       {"love", "loves", "loved", "loving", "lovely", "ilu", "heart"},
       {u("ভালোবাসা"), u("ভালবাসা"), u("ভালোবাসি"), u("ভালবাসি"), u("ভালোবাসো"), u("ভালবাসো"),
        u("ভালোবাসে"), u("ভালোবাসার"), u("প্রেম"), "bhalobasha", "valobasha", "bhalobashi",
        "bhalobasi", "valobashi", "valobasi", "prem"},
       QString::fromUtf8("❤️ 😍 🥰 😘 💕 💖 💗 💞 🫶 💌 🌹").split(' ')},
      {4,
       "দুঃখ",
       {"sad", "upset", "heartbroken"},
       {u("দুঃখ"), u("মন খারাপ"), "dukkho", "dukho"},
       {u("😔"), u("😞"), u("🙁"), u("😟"), u("💔"), u("😩"), u("😫"),
        u("\u2764\uFE0F\u200D\U0001FA79")}},
      {10,
       "হ্যাঁ",
       {"yes", "ok", "okay", "yep", "sure"},
       {u("হ্যাঁ"), u("ঠিক"), u("ঠিক আছে"), "hya", "thik"},
       QString::fromUtf8("👍 ✅ 👌 💯 🫡 🙌 👏").split(' ')},
      {11,
       "না",
       {"no", "nah", "nope"},
       {u("না"), "na"},
       QString::fromUtf8("👎 ❌ 🚫 🙅 😑 🙄").split(' ')},
      {25,
       "চা",
       {"tea", "coffee"},
       {u("চা"), u("কফি"), "cha"},
       QString::fromUtf8("☕ 🫖 🍵 🧋").split(' ')},
      {36, "তারা", {"star", "stars"}, {u("তারকা")}, QString::fromUtf8("⭐ 🌟 ✨ 💫 🌠").split(' ')},
      {59,
       "বাংলাদেশ",
       {"bangladesh", "flag"},
       {u("বাংলাদেশ"), u("দেশ"), "desh"},
       QString::fromUtf8("🇧🇩 ❤️ 💚 🏏").split(' ')},
      {61,
       "মিস",
       {"miss", "missed", "missing"},
       {u("মিস")},
       QString::fromUtf8("🥺 💔 😢 ❤️").split(' ')},
      {63,
       "প্লিজ",
       {"please", "pls", "plz"},
       {u("প্লিজ"), u("অনুগ্রহ")},
       QString::fromUtf8("🙏 🥺").split(' ')},
      {71,
       "পরিবার",
       {"family"},
       {u("পরিবার"), "poribar"},
       {u("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"), u("🏡"), u("❤️")}},
      {75,
       "উপহার",
       {"gift", "gifts", "present", "surprise gift"},
       {u("উপহার"), u("গিফট"), "upohar"},
       QString::fromUtf8("🎁 🎀 💝").split(' ')},
      {101,
       "পারফেক্ট",
       {"perfect", "exactly"},
       {u("পারফেক্ট")},
       QString::fromUtf8("💯 👌 ✨").split(' ')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.position);
    const EmojiSearch::Concept& c = concepts()[row.position];
    EXPECT_EQ(c.bangla, u(row.bangla));
    EXPECT_EQ(c.words, row.words);
    EXPECT_EQ(c.banglaKeys, row.banglaKeys);
    EXPECT_EQ(c.emojis, row.emojis);
  }
}

// The keys given by the rows above are the table's own; every other key was written here and must
// neither collide with another key nor make an emoji pop up while the user types a common word
// that means something else.
TEST(EmojiSearchTest, AuthoredKeysAreDistinctNormalizedAndNoCommonWordOfAnotherMeaning) {
  const QSet<int> givenRows = {0, 2, 4, 10, 11, 25, 36, 59, 61, 63, 71, 75, 101};
  const QSet<QString> givenKeys = {"hey", "hi"};
  int keyCount = 0;
  for (const EmojiSearch::Concept& c : concepts()) keyCount += c.words.size() + c.banglaKeys.size();
  EXPECT_EQ(EmojiSearch::testIndex().size(), keyCount) << "two concepts share a key";

  // The lexicon's frequencies run to 10,000; 250 is about the five-thousandth commonest word.
  constexpr int kCommon = 250;
  for (int p = 0; p < static_cast<int>(concepts().size()); ++p) {
    const EmojiSearch::Concept& c = concepts()[p];
    for (const QString& key : c.words + c.banglaKeys) {
      SCOPED_TRACE(key.toStdString());
      EXPECT_EQ(key, EmojiSearch::normalizedKey(key));
      EXPECT_EQ(key, key.normalized(QString::NormalizationForm_C));
      EXPECT_EQ(EmojiSearch::testIndex().value(key, -1), p);
      if (givenRows.contains(p) || givenKeys.contains(key) || key[0].unicode() >= 0x80) continue;
      const auto best = engine::best_exact_entry(key.toStdString());
      if (!best || best->second < kCommon) continue;
      EXPECT_TRUE(c.banglaKeys.contains(QString::fromStdString(std::string(best->first))))
          << "\"" << key.toStdString() << "\" is the common word " << best->first << " ("
          << best->second << ")";
    }
  }
}

}  // namespace
}  // namespace tolvani
