// Standard spellings: reading the tables, the standard form of a word, the offer made for it, the
// silent preference in phonetic typing, and the embedded tables themselves.
#include "spelling_preferences.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bigram.h"
#include "lexicon.h"

namespace tolvani::engine::spelling {
namespace {

// "variant=standard" pairs, sorted.
std::string render(const TextMap& table) {
  const std::map<std::string, std::string> sorted(table.begin(), table.end());
  std::string out;
  for (const auto& [variant, standard] : sorted) {
    out += (out.empty() ? "" : " ") + variant + "=" + standard;
  }
  return out;
}

std::string show(const std::optional<std::string_view>& s) {
  return s ? std::string(*s) : std::string("(none)");
}

TEST(SpellingPreferencesTest, TableLinesAreReadOrSkipped) {
  struct Row {
    const char* text;
    const char* expected;
  };
  const Row rows[] = {
      {"a\tb\nc\td", "a=b c=d"},
      {"a\tb\r\nc\td\r\n", "a=b c=d"},
      {"  a\tb  \n\t\n", "a=b"},
      {"# a\tb\n#c\td\ne\tf", "e=f"},
      {"  # a\tb", ""},
      {"ab\n\ncd", ""},
      {"a\tb\tc", "a=b\tc"},
      {"\tb\na\t\n", ""},
      {"a\ta\n", ""},
      {"a \t b", "a=b"},
      {"a\tb\na\tc", "a=c"},
      // Both sides are normalised: the precomposed "ড়" becomes "ড" with a nukta.
      {"\u09DC\u09BE\tx\ny\t\u09DC", "y=\u09A1\u09BC \u09A1\u09BC\u09BE=x"},
      // Equal once normalised.
      {"\u09DC\t\u09A1\u09BC", ""},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(render(parse_table(row.text)), row.expected) << row.text;
}

TEST(SpellingPreferencesTest, StandardFormAdmitsSpokenFormsOnlyOnRequest) {
  struct Row {
    const char* word;
    bool spoken_forms;
    const char* expected;
  };
  const Row rows[] = {
      {"বেশী", false, "বেশি"},    {"বেশী", true, "বেশি"},   {"নাই", false, "(none)"},
      {"নাই", true, "নেই"},       {"আমারে", true, "আমাকে"}, {"বেশি", true, "(none)"},
      {"বেশী ", false, "(none)"}, {"", true, "(none)"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(show(standard_form(row.word, row.spoken_forms)), row.expected)
        << row.word << " " << row.spoken_forms;
  }
}

TEST(SpellingPreferencesTest, OfferFollowsSwitchesSpacesAndRejections) {
  struct Row {
    const char* word;
    bool suggestions;
    bool spoken;
    int32_t penalty;
    const char* expected;
  };
  const Row rows[] = {
      {"বেশী", true, false, 0, "বেশি"},
      {"বেশী", true, true, 0, "বেশি"},
      {"বেশী", false, true, 0, "(none)"},
      {"নাই", true, false, 0, "(none)"},
      {"নাই", true, true, 0, "নেই"},
      {"নাই", false, true, 0, "(none)"},
      {"বেশী", true, false, 100, "বেশি"},
      {"বেশী", true, false, 199, "বেশি"},
      {"বেশী", true, false, 200, "(none)"},
      {"বেশী", true, false, 300, "(none)"},
      {"বেশী", true, false, -100, "বেশি"},
      {"বেশী বেশী", true, false, 0, "(none)"},
      {"বেশী ", true, false, 0, "(none)"},
      {"\tবেশী", true, false, 0, "(none)"},
      {"বেশী\n", true, false, 0, "(none)"},
      {"বেশী\u00A0", true, false, 0, "(none)"},
      {"বেশী\u2003", true, false, 0, "(none)"},
      {"বেশি", true, true, 0, "(none)"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> asked;
    const PenaltyLookup penalty = [&asked, &row](std::string_view key, std::string_view offer) {
      asked.push_back(std::string(key) + "|" + std::string(offer));
      return row.penalty;
    };
    const std::optional<std::string> offer =
        spelling_offer_for(row.word, row.suggestions, row.spoken, penalty);
    EXPECT_EQ(offer.value_or("(none)"), row.expected)
        << row.word << " " << row.suggestions << row.spoken << " " << row.penalty;
    // The penalty is asked once, of "#standard:" + word and the standard form, when there is one.
    if (offer || row.penalty >= kSilencingPenalty) {
      EXPECT_EQ(asked.size(), 1u) << row.word;
      const std::optional<std::string_view> standard = standard_form(row.word, row.spoken);
      ASSERT_TRUE(standard.has_value()) << row.word;
      EXPECT_EQ(asked.front(), "#standard:" + std::string(row.word) + "|" + std::string(*standard));
    } else {
      EXPECT_TRUE(asked.empty()) << row.word;
    }
  }
  EXPECT_EQ(rejection_key("বেশী"), "#standard:বেশী");
}

TEST(SpellingPreferencesTest, PreferenceRewritesOnlyStandardVariantsInPhoneticTyping) {
  struct Row {
    const char* text;
    bool prefer;
    bool phonetic;
    const char* raw;
    uint32_t selections;
    const char* expected;
  };
  const Row rows[] = {
      {"বেশী", true, true, "beshee", 0, "বেশি"},
      {"বেশী", true, true, "beshee", 1, "বেশি"},
      {"বেশী", true, true, "beshee", 2, "বেশী"},
      {"বেশী", true, true, "beShee", 0, "বেশী"},
      {"বেশী", true, true, "BESHEE", 0, "বেশী"},
      {"বেশী", true, true, "besheeZ", 0, "বেশী"},
      {"বেশী", true, true, "beshee\u00C9", 0, "বেশি"},
      {"বেশী", true, false, "beshee", 0, "বেশী"},
      {"বেশী", false, true, "beshee", 0, "বেশী"},
      // Spoken forms are offered, never written in silently.
      {"নাই", true, true, "nai", 0, "নাই"},
      {"বেশি", true, true, "beshi", 0, "বেশি"},
      {"বেশী ", true, true, "beshee", 0, "বেশী "},
  };
  for (const Row& row : rows) {
    const SelectionCountLookup selections = [&row](std::string_view raw) {
      EXPECT_EQ(raw, row.raw);
      return row.selections;
    };
    EXPECT_EQ(with_spelling_preference(row.text, row.prefer, row.phonetic, row.raw, selections),
              row.expected)
        << row.text << " " << row.prefer << row.phonetic << " " << row.raw << " " << row.selections;
  }
}

// Every line of an embedded table must become a pair: a skipped or repeated line is a mistake.
void expect_clean_table(std::string_view name, std::string_view document, const TextMap& table,
                        const std::vector<std::pair<std::string, std::string>>& opening) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < document.size();) {
    size_t end = document.find('\n', start);
    if (end == std::string_view::npos) end = document.size();
    lines.push_back(document.substr(start, end - start));
    start = end + 1;
  }
  EXPECT_EQ(table.size(), lines.size()) << name;
  for (size_t i = 0; i < opening.size(); ++i) {
    ASSERT_LT(i, lines.size()) << name;
    EXPECT_EQ(lines[i], opening[i].first + "\t" + opening[i].second) << name << " line " << i;
  }
  for (std::string_view line : lines) {
    const size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string_view::npos) << name << ": " << line;
    const std::string variant(line.substr(0, tab));
    const std::string standard(line.substr(tab + 1));
    EXPECT_EQ(table.at(variant), standard) << name << ": " << line;
    EXPECT_TRUE(lexicon_frequency(standard).has_value()) << name << ": " << line;
  }
}

TEST(SpellingPreferencesTest, EmbeddedTables) {
  expect_clean_table("standard", standard_document(), standard_table(),
                     {{"বিদেশী", "বিদেশি"},
                      {"বেশী", "বেশি"},
                      {"কাহিনী", "কাহিনি"},
                      {"উচিৎ", "উচিত"},
                      {"ঘন্টা", "ঘণ্টা"},
                      {"ইসলামী", "ইসলামি"}});
  expect_clean_table("colloquial", colloquial_document(), colloquial_table(),
                     {{"নাই", "নেই"},
                      {"এইটা", "এটা"},
                      {"হইছে", "হয়েছে"},
                      {"আমারে", "আমাকে"},
                      {"তারে", "তাকে"},
                      {"তোমারে", "তোমাকে"}});

  // A standard form is final, and a spoken form the standard table already answers is dead.
  for (const auto& [variant, standard] : standard_table()) {
    EXPECT_FALSE(standard_form(standard, true).has_value()) << variant << " > " << standard;
  }
  for (const auto& [spoken, standard] : colloquial_table()) {
    EXPECT_FALSE(standard_table().contains(spoken)) << spoken;
    EXPECT_FALSE(standard_form(standard, true).has_value()) << spoken << " > " << standard;
  }

  // Nukta letters stay decomposed in every embedded table.
  const std::string_view precomposed[] = {"\u09DC", "\u09DD", "\u09DF"};
  const std::pair<std::string_view, std::string_view> documents[] = {
      {"standard", standard_document()},
      {"colloquial", colloquial_document()},
      {"seed pairs", bigram::seed_document()},
      {"curated follow-ups", bigram::curated_document()},
  };
  for (const auto& [name, document] : documents) {
    for (std::string_view letter : precomposed) {
      EXPECT_EQ(document.find(letter), std::string_view::npos) << name;
    }
  }
}

}  // namespace
}  // namespace tolvani::engine::spelling
