#include "english.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tolvani::engine {
namespace {

TEST(EnglishTest, WordTableIsSortedUniqueLowerCaseAndSized) {
  const std::span<const std::string_view> words = common_english_words();
  ASSERT_EQ(words.size(), 354u);
  const auto unsorted = std::adjacent_find(words.begin(), words.end(), std::greater_equal<>());
  EXPECT_EQ(unsorted, words.end()) << "out of order at: " << *unsorted;

  std::map<size_t, int> by_length;
  for (const std::string_view word : words) {
    ++by_length[word.size()];
    EXPECT_TRUE(std::ranges::all_of(word, [](char c) { return c >= 'a' && c <= 'z'; })) << word;
  }
  const std::map<size_t, int> want = {{2, 23}, {3, 42}, {4, 84},  {5, 59}, {6, 47}, {7, 37},
                                      {8, 34}, {9, 13}, {10, 11}, {11, 3}, {12, 1}};
  EXPECT_EQ(by_length, want);
}

TEST(EnglishTest, EveryTableWordIsFoundInAnyCaseAndPadding) {
  for (const std::string_view word : common_english_words()) {
    std::string upper(word);
    std::ranges::transform(upper, upper.begin(),
                           [](char c) { return static_cast<char>(c - 'a' + 'A'); });
    EXPECT_TRUE(is_common_english_word(word)) << word;
    EXPECT_TRUE(is_common_english_word(upper)) << upper;
    EXPECT_TRUE(is_common_english_word(" \t" + upper + "\n")) << upper;
    EXPECT_FALSE(is_common_english_word(std::string(word) + "q")) << word;
  }
}

TEST(EnglishTest, CommonWordLookup) {
  struct Row {
    std::string text;
    bool want;
  };
  const std::vector<Row> rows = {
      {"the", true},
      {"  The ", true},
      {"tHe", true},
      {"\u00A0the\u3000", true},
      {"\u0085the\u2028", true},
      {"\u1680\u2000\u200Athe\u2029\u202F\u205F", true},
      {"\x0B\x0C\rthe", true},
      {"about", true},
      {"your", true},
      {"SUBSCRIPTION", true},
      {"", false},
      {"    ", false},
      {"\u00A0\u3000", false},
      {"the.", false},
      {"t he", false},
      {"th", false},
      {"aa", false},
      {"zzz", false},
      {"subscriptions", false},
      {"\u200Bthe", false},           // zero-width space is not white space
      {"\uFF34\uFF28\uFF25", false},  // full-width capitals are not lowered
      {"the\xFF", false},
      {"\xA0the", false},  // a lone byte, not U+00A0
      {std::string("the\0", 4), false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(is_common_english_word(row.text), row.want) << '"' << row.text << '"';
  }
}

TEST(EnglishTest, AbbreviationNeedsTwoOrMoreAsciiCapitals) {
  struct Row {
    std::string text;
    bool want;
  };
  const std::vector<Row> rows = {
      {"AB", true},
      {"AZ", true},
      {"NASA", true},
      {"", false},
      {"A", false},
      {"Ab", false},
      {"aB", false},
      {"AB1", false},
      {"A B", false},
      {" AB", false},
      {"AB\n", false},
      {"A@", false},  // neighbours of A and Z in ASCII
      {"Z[", false},
      {"\u00C0B", false},
      {"\uFF21\uFF22", false},
      {"\u0995\u0996", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(is_abbreviation(row.text), row.want) << '"' << row.text << '"';
  }
}

}  // namespace
}  // namespace tolvani::engine
