// The JSON reader is two readers: a fast one for the documents the stores hold and the general
// one for everything else. Whatever the fast one takes on, the general one must read the same.
#include "json_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tolvani::engine::json {
namespace {

// Both readers over `text`: the combined answer is the general reader's, error text included.
void expect_as_general(const std::string& text) {
  Value general;
  std::string general_error;
  const bool general_ok = parse_general(text, general, general_error);
  Value fast;
  if (parse_fast(text, fast)) {
    ASSERT_TRUE(general_ok) << "the fast reader took a document the general one refuses: " << text
                            << " (" << general_error << ")";
    EXPECT_TRUE(fast == general) << text;
  }
  Value combined;
  std::string combined_error;
  EXPECT_EQ(parse(text, combined, combined_error), general_ok) << text;
  EXPECT_TRUE(combined == general) << text;
  EXPECT_EQ(combined_error, general_error) << text;
}

TEST(JsonReaderTest, TheFastReaderReadsStoreDocumentsAsTheGeneralOneDoes) {
  const std::vector<std::string> taken = {
      R"({"reset_id":"","words":{"আমি":{"frequency":3,"last_used":1700000000}},"tombstones":{}})",
      " \t\r\n{ \"a\" : [ 1 , -2 , 0 , -0 , true , false , null , \"\" ] } \n",
      // Repeats are kept in document order: a map keeps the last, a record refuses the second.
      R"({"k":1,"k":2,"j":{"k":3}})",
      R"(["\"\\\/\b\f\n\r\t", "\u0041\u00e9\u09A4\u200D\uFFFF\u0000"])",
      "[\"\xC2\xA0\xE0\xA6\x95\xE2\x80\x8D\xEF\xBF\xBD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"]",
      "[18446744073709551615, -9223372036854775808, 9223372036854775807]",
      "[[[[[[[[[[]]]]]]]]]]",
      "{}",
      "\"only a string\"",
      "7",
  };
  for (const std::string& text : taken) {
    Value fast;
    EXPECT_TRUE(parse_fast(text, fast)) << text;
    expect_as_general(text);
  }
  Value v;
  ASSERT_TRUE(parse_fast(R"({"k":1,"k":2})", v));
  ASSERT_EQ(v.members.size(), 2u);
  EXPECT_EQ(v.members[1].value.uint_value, 2u);
  ASSERT_TRUE(parse_fast("[-0, 18446744073709551615, -9223372036854775808]", v));
  EXPECT_EQ(v.items[0].kind, Value::Kind::kInt);  // "-0" is no unsigned number
  EXPECT_EQ(v.items[1].uint_value, 18446744073709551615u);
  EXPECT_EQ(v.items[2].int_value, INT64_MIN);
}

TEST(JsonReaderTest, WhatTheFastReaderLeavesTheGeneralOneDecides) {
  const std::vector<std::string> left = {
      // Numbers the general reader reads as floating point, or refuses.
      "[1.5]",
      "[1e3]",
      "[18446744073709551616]",
      "[-9223372036854775809]",
      "[1e400]",
      "[01]",
      "[-]",
      "[1.]",
      "[.5]",
      "[+1]",
      // A byte order mark, escaped surrogates (paired or not), unknown escapes.
      "\xEF\xBB\xBF{}",
      R"(["\uD83D\uDE00"])",
      R"(["\uD800"])",
      R"(["\uDC00x"])",
      R"(["\x"])",
      R"(["\u12G4"])",
      // Ill-formed UTF-8: overlong, surrogate, past U+10FFFF, cut short, a lone continuation.
      "[\"\xC0\xAF\"]",
      "[\"\xE0\x80\xAF\"]",
      "[\"\xED\xA0\x80\"]",
      "[\"\xF4\x90\x80\x80\"]",
      "[\"\xF5\x80\x80\x80\"]",
      "[\"\xE0\xA6\"]",
      "[\"\xE0\xA6",
      "[\"\x80\"]",
      "\xE0\xA6\x95",
      // Control characters, a NUL, things after the value, nothing at all.
      "[\"a\tb\"]",
      std::string("[\"a\0b\"]", 7),
      std::string("{}\0{}", 5),
      "{} {}",
      "",
      " ",
      "[1,]",
      "{\"a\":1,}",
      "{\"a\" 1}",
      "{1:2}",
      "[tru]",
      "nul",
      "[1 2]",
      "{\"a\":}",
  };
  for (const std::string& text : left) {
    Value fast;
    EXPECT_FALSE(parse_fast(text, fast)) << text;
    expect_as_general(text);
  }
  // Nesting up to the bound is read; one more level is refused with the general reader's words.
  const std::string deepest = std::string(kMaxDepth, '[') + std::string(kMaxDepth, ']');
  Value v;
  EXPECT_TRUE(parse_fast(deepest, v));
  const std::string deeper = "[" + deepest + "]";
  EXPECT_FALSE(parse_fast(deeper, v));
  std::string error;
  EXPECT_FALSE(parse(deeper, v, error));
  EXPECT_EQ(error, "nesting deeper than 128 levels");
}

// Store-like documents with bytes changed, put in and cut out at random: every one the fast
// reader takes must read as the general reader reads it.
TEST(JsonReaderTest, ChangedDocumentsReadAlikeOrFallToTheGeneralReader) {
  const std::string seed =
      "{\"reset_id\":\"x\",\"words\":{\"\xE0\xA6\x86\xE0\xA6\xAE\xE0\xA6\xBF\":{\"frequency\":3,"
      "\"last_used\":1700000000},\"a\\\"b\":{\"frequency\":-1}},\"tombstones\":{\"\\u09A4\":"
      "18446744073709551615,\"k\":[true,false,null,0]}}";
  const std::string alphabet = "{}[]\":,-0123456789.eE+\\/ubfnrtx \t\n\xE0\xA6\x95\xC2\xED\xF0\x80";
  std::mt19937 random(20261208);
  int taken = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text = seed;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % (text.size() + 1);
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0:
          if (at < text.size()) text[at] = c;
          break;
        case 1:
          text.insert(at, 1, c);
          break;
        default:
          if (at < text.size()) text.erase(at, 1);
          break;
      }
    }
    Value fast;
    if (parse_fast(text, fast)) ++taken;
    expect_as_general(text);
    if (HasFailure()) break;
  }
  // The changes leave many documents well formed: the comparison has something to compare.
  EXPECT_GT(taken, 1000);
}

}  // namespace
}  // namespace tolvani::engine::json
