// The shipped autocorrect table (engine/data/autocorrect.json) against the full lexicon, and the
// reader of autocorrect documents.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lexicon.h"
#include "suggest.h"
#include "utf8.h"

namespace tolvani::engine::suggest {
namespace {

// A key whose best word is at least this frequent is a word people type on purpose: the lowest
// peak of the lexicon's first (most common) tier.
constexpr int32_t kCommonFrequency = 27;

const char* const kEmoticons[] = {
    ":)", ":(", ":D",  ":P",  ":O",  ":/",   ":|", ":*", ";)",  ":'(", ":')", "<3", "</3",
    "^^", ":3", "-_-", ">:(", ">:)", "\\o/", "XD", "B)", "o.o", "O_O", "T_T", "xP",
};

const char* const kShortcodes[] = {
    "(y)",          "(n)",        "(ok)",     "(pray)",     "(clap)",     "(wave)",   "(flex)",
    "(fist)",       "(peace)",    "(point)",  "(star)",     "(fire)",     "(sun)",    "(moon)",
    "(rain)",       "(snow)",     "(flower)", "(tree)",     "(coffee)",   "(cake)",   "(gift)",
    "(music)",      "(phone)",    "(mail)",   "(book)",     "(clock)",    "(key)",    "(lock)",
    "(bulb)",       "(flag)",     "(party)",  "(balloon)",  "(confetti)", "(trophy)", "(medal)",
    "(crown)",      "(100)",      "(check)",  "(cross)",    "(warn)",     "(idea)",   "(zzz)",
    "(boom)",       "(poop)",     "(eyes)",   "(think)",    "(shh)",      "(hug)",    "(cry)",
    "(laugh)",      "(angry)",    "(sad)",    "(happy)",    "(love)",     "(cool)",   "(sick)",
    "(skull)",      "(ghost)",    "(alien)",  "(robot)",    "(cat)",      "(dog)",    "(bird)",
    "(fish)",       "(monkey)",   "(rabbit)", "(bear)",     "(tiger)",    "(pizza)",  "(burger)",
    "(rice)",       "(noodle)",   "(tea)",    "(beer)",     "(wine)",     "(fruit)",  "(car)",
    "(bus)",        "(plane)",    "(train)",  "(rocket)",   "(ship)",     "(bike)",   "(house)",
    "(bangladesh)", "(rickshaw)", "(mosque)", "(crescent)", "(salam)",
};

const char* const kPhrases[] = {
    "allahu akbar",     "shab e barat",     "shab e qadr",      "assalamu alaikum",
    "assalamu alaykum", "walaikum assalam", "wa alaikum salam", "eid mubarak",
    "ki khobor",        "ki obostha",       "pohela boishakh",
};

struct Row {
  std::string input;
  std::string output;
};

// The document's records in order, read without the engine's reader.
std::vector<Row> document_rows() {
  std::vector<Row> rows;
  const nlohmann::json doc = nlohmann::json::parse(autocorrect_document());
  for (const auto& item : doc) rows.push_back({item.at("input"), item.at("output")});
  return rows;
}

bool has_bangla(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const char32_t c = utf8::decode_next(text, pos);
    if (c >= 0x0980 && c <= 0x09FF) return true;
  }
  return false;
}

TEST(AutocorrectDataTest, InputsAreDistinctAsciiAndShort) {
  const std::vector<Row> rows = document_rows();
  std::set<std::string> seen;
  for (const Row& row : rows) {
    EXPECT_TRUE(seen.insert(row.input).second) << "repeated: " << row.input;
    EXPECT_GE(row.input.size(), 2u) << row.input;
    EXPECT_LE(row.input.size(), 16u) << row.input;
    for (char c : row.input) EXPECT_TRUE(c > 0 && c < 0x7F) << row.input;
    EXPECT_FALSE(row.output.empty()) << row.input;
    EXPECT_TRUE(utf8::is_valid(row.output)) << row.input;
  }
  // Every record is read, and in the table.
  const AutocorrectRows table = load_autocorrect(autocorrect_document());
  EXPECT_EQ(table.size(), rows.size());
  for (const Row& row : rows) EXPECT_EQ(autocorrect_for(row.input), row.output) << row.input;
}

TEST(AutocorrectDataTest, EmoticonsAndShortcodesComeLastAndMeanEmoji) {
  const std::vector<Row> rows = document_rows();
  const size_t emoji = std::size(kEmoticons) + std::size(kShortcodes);
  ASSERT_EQ(emoji, 114u);
  ASSERT_GT(rows.size(), emoji);
  std::vector<std::string> expected(std::begin(kEmoticons), std::end(kEmoticons));
  expected.insert(expected.end(), std::begin(kShortcodes), std::end(kShortcodes));
  for (size_t i = 0; i < emoji; ++i) {
    const Row& row = rows[rows.size() - emoji + i];
    EXPECT_EQ(row.input, expected[i]) << i;
    // Pictographs, with their joiners and selectors: nothing from the letters below U+2000.
    for (size_t pos = 0; pos < row.output.size();) {
      EXPECT_GE(utf8::decode_next(row.output, pos), U'\u2000') << row.input;
    }
  }
  for (size_t i = 0; i + emoji < rows.size(); ++i) {
    EXPECT_TRUE(has_bangla(rows[i].output)) << rows[i].input;
  }
  // The rows that must read exactly so.
  const Row fixed[] = {
      {":)", "\U0001F60A"},
      {"<3", "\u2764\uFE0F"},
      {"(y)", "\U0001F44D"},
      {"(100)", "\U0001F4AF"},
      {"(flag)", "\U0001F1E7\U0001F1E9"},
      {"(bangladesh)", "\U0001F1E7\U0001F1E9"},
      {"(rickshaw)", "\U0001F6FA"},
  };
  for (const Row& row : fixed) EXPECT_EQ(autocorrect_for(row.input), row.output) << row.input;
  // Case matters: only text as typed matches.
  EXPECT_TRUE(autocorrect_for(":D"));
  EXPECT_FALSE(autocorrect_for(":d"));
  EXPECT_FALSE(autocorrect_for("xd"));
}

TEST(AutocorrectDataTest, BanglaOutputsAreLexiconWords) {
  const std::vector<Row> rows = document_rows();
  std::set<std::string> phrases(std::begin(kPhrases), std::end(kPhrases));
  size_t misspellings = 0;
  for (const Row& row : rows) {
    if (!has_bangla(row.output)) continue;
    const bool phrase = phrases.erase(row.input) > 0;
    EXPECT_EQ(row.input.find(' ') != std::string::npos, phrase) << row.input;
    const std::vector<std::string_view> words = utf8::split_white_space(row.output);
    EXPECT_EQ(words.size() > 1, phrase) << row.input;
    for (std::string_view word : words) {
      EXPECT_TRUE(lexicon_contains_with_cache_policy(word, true))
          << row.input << " -> " << word << " is not a lexicon word";
      EXPECT_GT(frequency_for(word), 0u) << word;
    }
    if (!phrase) ++misspellings;
  }
  EXPECT_TRUE(phrases.empty()) << "missing phrase: " << *phrases.begin();
  EXPECT_GE(misspellings, 300u);
}

TEST(AutocorrectDataTest, NoInputIsTheKeyOfAnotherCommonWord) {
  for (const Row& row : document_rows()) {
    const IdRange run = exact_key_range(row.input);
    if (run.empty()) continue;
    const auto best = best_exact_entry(row.input);
    ASSERT_TRUE(best) << row.input;
    EXPECT_TRUE(best->first == row.output || best->second < kCommonFrequency)
        << row.input << " is the key of " << best->first << " (" << best->second << "), not of "
        << row.output;
  }
}

TEST(AutocorrectDataTest, ReaderSkipsBadRecordsAndFailsBadDocuments) {
  struct Case {
    const char* what;
    const char* document;
    const char* rows;     // "input=output;..." in key order
    const char* message;  // the line on standard error, if any
  };
  const Case cases[] = {
      {"plain", R"([{"input":"ab","output":"x"},{"input":"cd","output":"y"}])", "ab=x;cd=y;", ""},
      {"later repeat wins", R"([{"input":"ab","output":"x"},{"input":"ab","output":"y"}])", "ab=y;",
       ""},
      {"missing or mistyped fields",
       R"([{"input":"ab"},{"output":"x"},{"input":1,"output":"x"},{"input":"cd","output":null},)"
       R"("ef",[],{"input":"gh","output":"z","note":1}])",
       "gh=z;", ""},
      {"a field named twice", R"([{"input":"ab","input":"cd","output":"x"}])", "", ""},
      {"empty array", "[]", "", ""},
      {"not an array", R"({"input":"ab","output":"x"})", "",
       "[Tolvani] autocorrect data is not an array\n"},
      {"a string", R"("ab")", "", "[Tolvani] autocorrect data is not an array\n"},
      {"broken", R"([{"input":"ab",)", "", "[Tolvani] failed to parse autocorrect data: "},
      {"empty", "", "", "[Tolvani] failed to parse autocorrect data: "},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    const AutocorrectRows rows = load_autocorrect(c.document);
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::string got;
    for (const auto& [input, output] : rows) got += input + "=" + output + ";";
    EXPECT_EQ(got, c.rows) << c.what;
    if (*c.message == '\0') {
      EXPECT_EQ(err, "") << c.what;
    } else {
      EXPECT_TRUE(err.starts_with(c.message)) << c.what << ": " << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.what;
    }
  }
}

}  // namespace
}  // namespace tolvani::engine::suggest
