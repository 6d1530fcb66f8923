// Suggestion generation over the small test lexicon (engine/tests/data/fixture_lexicon.tsv, the
// rows under "# suggestion tests"), where the score of every source can be worked out by hand.
#include "suggest.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "store_documents.h"
#include "user_dict.h"
#include "utf8.h"

namespace tolvani::engine::suggest {
namespace {

// "পা 17000 3, পাঃ 8002 3": text, score and kind of each candidate, in order.
std::string show(const std::vector<Candidate>& candidates) {
  std::string out;
  for (const Candidate& c : candidates) {
    if (!out.empty()) out += ", ";
    out += c.text + " " + std::to_string(c.score) + " " + std::to_string(static_cast<int>(c.kind));
  }
  return out;
}

constexpr uint8_t kPhonetic = 0;
constexpr uint8_t kProbhat = 1;
constexpr uint8_t kNational = 2;
constexpr uint8_t kUnijoy = 3;

#define MEYE "\u09AE\u09C7\u09AF\u09BC\u09C7"  // মেয়ে, with the nukta decomposed

class SuggestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_set_autocorrect_rows(AutocorrectRows{
        {"bnagla", "বাংলা"},
        {"pxx", "পাখি"},
    });
  }
  void TearDown() override { test_set_autocorrect_rows(std::nullopt); }

  std::vector<Candidate> suggest(uint8_t mode, std::string_view key, std::string_view rendered,
                                 size_t limit, bool autocorrect) {
    return suggestions_for(mode, key, rendered, dict_, limit, autocorrect);
  }

  UserDictionary dict_;
};

TEST_F(SuggestTest, ScoresOfEachSource) {
  struct Row {
    const char* what;
    uint8_t mode;
    const char* key;
    const char* rendered;
    const char* expected;
  };
  const Row rows[] = {
      // One character: every entry of the key gets the full bonus however rare (পঃ); longer
      // keys in its bucket get frequency + 1,500, Bangla words starting with the rendering
      // frequency + 2,000. No near keys (they would add nothing here), no folded or exact run.
      {"one character", kPhonetic, "p", "প",
       "প 13000 3, পা 11000 2, পঃ 8002 3, পাখি 8000 2, পরিবারও 7000 2, পাত 7000 2, পানি 3200 2, "
       "প্রেম 3000 2, পাতা 2900 2, পথ 2800 2, পান 2700 2, পাগল 2600 2, পরিবার 2500 2, "
       "পুকুর 2400 2, পেট 2300 2"},
      // Two characters: still no 1 % rule (পাঃ keeps 8,000); near keys come in (প, পেট, প্যা);
      // no folded key, which would give প্যা ("p,,a" folds to "pa") 1,800.
      {"two characters", kPhonetic, "pa", "পা",
       "পা 17000 3, পাঃ 8002 3, পাখি 8000 2, পাত 7000 2, প 3800 3, পানি 3200 2, পাতা 2900 2, "
       "পান 2700 2, পাগল 2600 2, পাট 2020 2, পেট 1000 3, প্যা 1000 3, পঃ 802 3"},
      // Three characters: পাট is below 1 % of the run's best and gets 1,500, not 8,000.
      {"three characters", kPhonetic, "pat", "পাত",
       "পাত 13000 3, পা 3800 3, প 3700 3, পাতা 2900 2, পানি 1900 3, পাট 1520 3, পথ 1500 3, "
       "পান 1500 3, পেট 1100 3, পাঃ 802 3, পঃ 702 3"},
      // A folded key: "paa" folds to "pa", like "p,,a" and "pa".
      {"folded key", kPhonetic, "paa", "পাআ",
       "পা 10500 3, পাত 3800 3, প 3700 3, পানি 1900 3, প্যা 1800 3, পাতা 1700 3, পাঃ 1502 3, "
       "পান 1500 3, পেট 1000 3, পাট 820 3, পঃ 702 3"},
      // Eight characters: keys sharing the first seven, walked across all three sections, score
      // 1,600 - 200 d + f, above what the near keys give them.
      {"long key", kPhonetic, "poribart", "পরিবারট",
       "পরিবারও 6400 3, পরিবার 1900 3, পরিবারী 1415 3, পরিবারো 1402 3, পরিবারের 1205 3"},
      // The typed key itself is never offered through the long keys: পরিবারো stays at 1,502
      // (f + 1,500, below 1 % of its run) instead of 1,602.
      {"long key equal to the typed key", kPhonetic, "poribaro", "পরিবারও",
       "পরিবারও 13000 3, পরিবার 2000 3, পরিবারো 1502 3, পরিবারী 1415 3, পরিবারের 1205 3"},
      // "yey": the rendering without the last "y" is a word.
      {"yey ending", kPhonetic, "meyey", MEYE "\u09AF\u09BC", MEYE " 4800 3"},
      {"exact key", kPhonetic, "meye", MEYE, MEYE " 8800 3"},
      // Layouts: no phonetic source whatever the key; near Bangla words instead.
      {"probhat", kProbhat, "meye", MEYE, MEYE " 2800 2"},
      {"national", kNational, "meye", MEYE, MEYE " 2800 2"},
      {"unijoy", kUnijoy, "meye", MEYE, MEYE " 2800 2"},
      // মেয়ে is in the prefix bucket of মো but does not start with it: not offered.
      {"layout near word", kProbhat, "", "\u09AE\u09CB", "\u09AE\u09C1 605 2"},
      // Equal scores: the rendered word (2,500, kind 0) keeps its kind against the prefix bucket
      // (500 + 2,000, kind 2).
      {"tie keeps the earlier kind", kProbhat, "", "পরিবার",
       "পরিবারও 7000 2, পরিবার 2500 0, পরিবারী 2015 2, পরিবারের 2005 2, পরিবারো 2002 2"},
      // Nothing but the rendering, which is no word, and nothing near it.
      {"unknown", kPhonetic, "qqq", "ক্ক্ক", ""},
      {"phonetic with an empty key", kPhonetic, "", "পরিবার",
       "পরিবারও 7000 2, পরিবার 2500 0, পরিবারী 2015 2, পরিবারের 2005 2, পরিবারো 2002 2"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(show(suggest(row.mode, row.key, row.rendered, 15, false)), row.expected) << row.what;
  }
}

// Words the user has written: boost 1,000 + 10 × frequency (never used, so no recency).
UserDictionary dictionary_of(std::initializer_list<std::pair<const char*, uint32_t>> words) {
  UserDictionaryDocument doc;
  for (const auto& [word, frequency] : words) doc.words[word] = UserEntry{0, 0, frequency};
  return UserDictionary("unused-user-dictionary.json", std::move(doc));
}

TEST_F(SuggestTest, UserWordsCarryTheirBoostAndKind) {
  const UserDictionary dict = dictionary_of({{MEYE, 10}, {"\u09AE\u09BE\u09AE\u09BE", 100}});
  ASSERT_EQ(dict.boost_for(MEYE), 1100u);
  struct Row {
    const char* what;
    uint8_t mode;
    const char* key;
    const char* rendered;
    const char* expected;
  };
  const Row rows[] = {
      // In the prefix bucket of মো without starting with it: offered for the user, at the boost.
      {"prefix bucket", kProbhat, "", "\u09AE\u09CB", MEYE " 1100 1, \u09AE\u09C1 605 2"},
      // মামা is no lexicon word, but the user's: the rendered word, boost + 2,500.
      {"rendered word", kProbhat, "", "\u09AE\u09BE\u09AE\u09BE",
       "\u09AE\u09BE\u09AE\u09BE 4500 1, " MEYE " 1100 1"},
      {"exact key", kPhonetic, "meye", MEYE, MEYE " 9900 1"},
      // 800 + 1,100 + 4,000.
      {"yey ending", kPhonetic, "meyey", MEYE "\u09AF\u09BC", MEYE " 5900 1"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(show(suggestions_for(row.mode, row.key, row.rendered, dict, 15, false)), row.expected)
        << row.what;
  }
}

TEST_F(SuggestTest, Autocorrection) {
  struct Row {
    const char* what;
    const char* key;
    const char* rendered;
    bool autocorrect;
    const char* expected;
  };
  const Row rows[] = {
      {"empty rendering", "bnagla", "", true, ""},
      // Only the near key "bangla" (distance 2) finds it otherwise.
      {"rendering differs", "bnagla", "বনাগ্লা", true, "বাংলা 8000 4"},
      {"switch off", "bnagla", "বনাগ্লা", false, "বাংলা 3700 3"},
      {"rendering equals the correction", "bnagla", "বাংলা", true, "বাংলা 10500 4, বাংলায় 2700 2"},
      // Trimmed and lowercased before the lookup.
      {"typed in capitals", " BNAGLA ", "বনাগ্লা", true, "বাংলা 8000 4"},
      // পাখি also scores 8,000 from the Bangla prefix bucket; the correction was pushed first.
      {"tie with the prefix bucket", "pxx", "পা", true,
       "পা 11000 2, পাখি 8000 4, পাত 7000 2, প 3700 3, পানি 3200 2, পাতা 2900 2, পান 2700 2, "
       "পাগল 2600 2, পাট 2020 2, পাঃ 2002 2, পেট 1000 3, পঃ 702 3"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(show(suggest(kPhonetic, row.key, row.rendered, 15, row.autocorrect)), row.expected)
        << row.what;
  }
}

TEST_F(SuggestTest, LimitIsBetweenOneAndFifteen) {
  // "p" finds 21 words.
  struct Row {
    size_t limit;
    size_t count;
  };
  const Row rows[] = {{0, 1}, {1, 1}, {5, 5}, {15, 15}, {16, 15}, {20, 15}};
  const std::vector<Candidate> all = suggest(kPhonetic, "p", "প", 15, false);
  for (const Row& row : rows) {
    const std::vector<Candidate> got = suggest(kPhonetic, "p", "প", row.limit, false);
    ASSERT_EQ(got.size(), row.count) << row.limit;
    // A smaller limit cuts the same order.
    EXPECT_EQ(show(got), show({all.begin(), all.begin() + static_cast<std::ptrdiff_t>(row.count)}))
        << row.limit;
  }
  EXPECT_EQ(show(suggest(kPhonetic, "p", "প", 0, false)), "প 13000 3");
  EXPECT_TRUE(suggest(kPhonetic, "p", "", 0, false).empty());
}

TEST_F(SuggestTest, EmojiQuestionsFollowTheTable) {
  test_set_autocorrect_rows(AutocorrectRows{
      {"(bear)", "\U0001F43B"},
      {"(bearded)", "x"},
      {":)", "\U0001F60A"},
      {"<3", "\u2764\uFE0F"},
      {"<3<3", "x"},
      {"bangladseh", "বাংলাদেশ"},
      {"9)", "x"},
      {"\u00BD)", "x"},  // ½ is numeric
      {"\u09A6)", "x"},  // দ is alphabetic
  });
  struct Row {
    const char* text;
    bool expected;
  };
  const Row starts[] = {{"(", true},       {":", true},       {"b", false}, {"9", false},
                        {"\u00BD", false}, {"\u09A6", false}, {")", false}};
  for (const Row& row : starts) {
    size_t pos = 0;
    const char32_t c = utf8::decode_next(row.text, pos);
    EXPECT_EQ(could_start_emoji(c), row.expected) << row.text;
  }
  const Row prefixes[] = {
      {"(bea", true},  {"(bear", true},       {"(bear)", false}, {"(beard", true},
      {":)", false},   {":", true},           {"<3", true},      {"<3<3", false},
      {"bangl", true}, {"bangladseh", false}, {"x", false},
  };
  for (const Row& row : prefixes) {
    EXPECT_EQ(could_be_emoji_prefix(row.text), row.expected) << row.text;
  }
}

}  // namespace
}  // namespace tolvani::engine::suggest
