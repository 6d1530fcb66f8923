#include "utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvani::engine::utf8 {
namespace {

TEST(Utf8Test, Validity) {
  const char* valid[] = {
      "",        "abc", "\u0986\u09AE\u09BF", "\U0001F44D", "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBF",
      "\xC2\x80"};
  const char* invalid[] = {"\xFF",         "\xC0\xAF",     "\xC1\xBF",         "\xE0\x80\xAF",
                           "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                           "\xE0\xA6",     "a\x80",        "\xF0\x9F\x91"};
  for (const char* s : valid) EXPECT_TRUE(is_valid(s)) << s;
  for (const char* s : invalid) EXPECT_FALSE(is_valid(s)) << s;
}

TEST(Utf8Test, DecodeAndStepBack) {
  const std::string text = "a\u0986\U0001F44D\xFF";
  std::vector<char32_t> decoded;
  for (size_t pos = 0; pos < text.size();) decoded.push_back(decode_next(text, pos));
  EXPECT_EQ(decoded, (std::vector<char32_t>{U'a', U'\u0986', U'\U0001F44D', kReplacement}));
  EXPECT_EQ(last_char_start(text), text.size() - 1);
  EXPECT_EQ(last_char_start("a\u0986"), 1u);
  EXPECT_EQ(last_char_start("\U0001F44D"), 0u);
  EXPECT_EQ(last_char_start(""), 0u);
  // A stray continuation byte is a character of its own.
  EXPECT_EQ(last_char_start("ab\x80"), 2u);
  EXPECT_EQ(scalar_count(text), 4u);
  std::string built;
  for (char32_t c : decoded) append(built, c);
  EXPECT_EQ(built, "a\u0986\U0001F44D\uFFFD");
}

TEST(Utf8Test, WhiteSpace) {
  EXPECT_EQ(trim_white_space(" \t\u00A0ami\u3000\n"), "ami");
  EXPECT_EQ(trim_white_space("\u2003"), "");
  EXPECT_EQ(trim_white_space("a b"), "a b");
  EXPECT_EQ(split_white_space(" ami\u00A0tumi  se\n"),
            (std::vector<std::string_view>{"ami", "tumi", "se"}));
  EXPECT_TRUE(split_white_space(" \u2028 ").empty());
  EXPECT_FALSE(is_white_space(0x200B));  // zero width space is not white space
  EXPECT_FALSE(is_white_space(0x180E));
}

}  // namespace
}  // namespace tolvani::engine::utf8
