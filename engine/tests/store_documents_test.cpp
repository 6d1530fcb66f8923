// The five learned-store documents as bytes: what reads, what is undecodable, and the exact
// compact form the engine writes.
#include "store_documents.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <string_view>

#include "store_test_util.h"

namespace tolvani::engine {
namespace {

using store_test::render;

enum class Kind { kDictionary, kBigrams, kTrigrams, kSelections, kRejections };

const char* name(Kind kind) {
  switch (kind) {
    case Kind::kDictionary:
      return "user dictionary";
    case Kind::kBigrams:
      return "bigrams";
    case Kind::kTrigrams:
      return "trigrams";
    case Kind::kSelections:
      return "selections";
    case Kind::kRejections:
      return "rejections";
  }
  return "?";
}

template <typename Doc>
bool decode_rendered(std::string_view text, std::string& out, std::string& error) {
  Doc doc;
  if (!decode_document(text, doc, error)) return false;
  out = render(doc);
  return true;
}

// Decodes `text` as the document of `kind`; the rendering on success.
bool decode_as(Kind kind, std::string_view text, std::string& out, std::string& error) {
  switch (kind) {
    case Kind::kDictionary:
      return decode_rendered<UserDictionaryDocument>(text, out, error);
    case Kind::kBigrams:
      return decode_rendered<UserBigramsDocument>(text, out, error);
    case Kind::kTrigrams:
      return decode_rendered<UserTrigramsDocument>(text, out, error);
    case Kind::kSelections:
      return decode_rendered<SelectionMemoryDocument>(text, out, error);
    case Kind::kRejections:
      return decode_rendered<RejectionsDocument>(text, out, error);
  }
  return false;
}

TEST(StoreDocumentsTest, UndecodableDocuments) {
  struct Row {
    Kind kind;
    std::string_view text;
    std::string_view error_part;
  };
  const Row rows[] = {
      {Kind::kDictionary, R"({"reset_id":"x","tombstones":{}})", "missing field `words`"},
      {Kind::kDictionary, R"({"words":{"a":{"last_used":5}}})", "missing field `frequency`"},
      {Kind::kDictionary, R"({"words":{},"words":{}})", "duplicate field `words`"},
      {Kind::kDictionary, R"({"reset_id":"a","words":{},"reset_id":"a"})",
       "duplicate field `reset_id`"},
      {Kind::kDictionary, R"({"words":{},"tombstones":{},"tombstones":{}})", "duplicate field"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":1,"frequency":1}}})",
       "duplicate field `frequency`"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":1,"last_decay":1,"last_decay":1}}})",
       "duplicate field `last_decay`"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":1.0}}})", "invalid type: floating point"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":1e0}}})", "invalid type: floating point"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":"7"}}})", "invalid type: string"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":null}}})", "invalid type: null"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":true}}})", "invalid type: boolean"},
      {Kind::kDictionary, R"({"reset_id":null,"words":{}})", "invalid type: null"},
      {Kind::kDictionary, R"({"reset_id":7,"words":{}})", "invalid type: integer"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":-1}}})", "invalid value: integer `-1`"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":-0}}})", "invalid value"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":4294967296}}})", "invalid value"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":1,"last_used":-1}}})", "invalid value"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":1,"last_used":18446744073709551616}}})",
       "invalid type"},
      {Kind::kDictionary, R"({"words":{},"tombstones":{"a":-5}})", "invalid value"},
      {Kind::kDictionary, R"({"words":{},"tombstones":[]})", "expected a map"},
      {Kind::kDictionary, R"({"words":[]})", "expected a map"},
      {Kind::kDictionary, R"({"words":{"a":7}})", "expected a record"},
      {Kind::kDictionary, R"([])", "expected a record"},
      {Kind::kDictionary, R"("words")", "expected a record"},
      {Kind::kDictionary, R"({"words":{}} x)", "parse error"},
      {Kind::kDictionary, R"({"words":{}}{})", "parse error"},
      {Kind::kDictionary, "{\"words\":{\"\xff\":{\"frequency\":1}}}", "parse error"},
      {Kind::kDictionary, "{\"words\":{\"a\xc3\":{\"frequency\":1}}}", "parse error"},
      {Kind::kDictionary, "", "parse error"},
      {Kind::kDictionary, "{", "parse error"},
      {Kind::kDictionary, std::string_view("{\"words\":{}}\0", 13), "NUL"},
      {Kind::kBigrams, R"({"reset_id":""})", "missing field `pairs`"},
      {Kind::kBigrams, R"({"pairs":{"a":{"b":{"frequency":1}}}})", "missing field `last_used`"},
      {Kind::kBigrams, R"({"pairs":{"a":{"b":{"last_used":1}}}})", "missing field `frequency`"},
      {Kind::kBigrams, R"({"pairs":{"a":{"b":{"frequency":1,"last_used":2,"last_used":3}}}})",
       "duplicate field `last_used`"},
      {Kind::kBigrams, R"({"pairs":{"a":[]}})", "expected a map"},
      {Kind::kBigrams, R"({"pairs":{"a":{"b":{"frequency":4294967296,"last_used":0}}}})",
       "invalid value"},
      {Kind::kTrigrams, R"({"reset_id":""})", "missing field `triples`"},
      {Kind::kTrigrams, R"({"triples":{"a\tb":{"c":1.5}}})", "invalid type: floating point"},
      {Kind::kTrigrams, R"({"triples":{"a\tb":{"c":-1}}})", "invalid value"},
      {Kind::kTrigrams, R"({"triples":{"a\tb":{"c":"1"}}})", "invalid type: string"},
      {Kind::kSelections, R"({"reset_id":""})", "missing field `selections`"},
      {Kind::kSelections, R"({"selections":{"k":{"text":"a"}}})", "missing field `count`"},
      {Kind::kSelections, R"({"selections":{"k":{"count":1}}})", "missing field `text`"},
      {Kind::kSelections, R"({"selections":{"k":{"text":7,"count":1}}})", "invalid type"},
      {Kind::kSelections, R"({"selections":{"k":{"text":"a","text":"b","count":1}}})",
       "duplicate field `text`"},
      {Kind::kRejections, R"({"reset_id":""})", "missing field `entries`"},
      {Kind::kRejections, R"({"entries":{"k":{"c":2147483648}}})", "invalid value"},
      {Kind::kRejections, R"({"entries":{"k":{"c":-2147483649}}})", "invalid value"},
      {Kind::kRejections, R"({"entries":{"k":{"c":"5"}}})", "invalid type: string"},
      {Kind::kRejections, R"({"entries":{"k":{"c":5.5}}})", "invalid type: floating point"},
  };
  for (const Row& row : rows) {
    std::string rendered;
    std::string error;
    EXPECT_FALSE(decode_as(row.kind, row.text, rendered, error))
        << name(row.kind) << ": " << row.text << " read as " << rendered;
    EXPECT_NE(error.find(row.error_part), std::string::npos)
        << name(row.kind) << ": " << row.text << " gave " << error;
  }
}

TEST(StoreDocumentsTest, LenientReading) {
  constexpr std::string_view kResetDocument =
      R"({"reset_id":"R","words":{},"tombstones":{},"pairs":{},"triples":{},"selections":{},)"
      R"("entries":{}})";
  struct Row {
    Kind kind;
    std::string_view text;
    std::string_view expected;
  };
  const Row rows[] = {
      {Kind::kDictionary, R"({"words":{}})", R"(reset "" |  | tombstones )"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":3}}})",
       R"(reset "" | a{3 u0 d0} | tombstones )"},
      {Kind::kDictionary,
       " {\n \"tombstones\" : {\"x\" : 18446744073709551615},\t\"words\" : { \"\\u0986mi\" : "
       "{\"last_decay\":2, \"frequency\":1} }, \"reset_id\" : \"r\\\"\" }\r\n ",
       "reset \"r\"\" | \u0986mi{1 u0 d2} | tombstones x=18446744073709551615"},
      {Kind::kDictionary, R"({"version":2,"words":{"a":{"frequency":1,"extra":[1,{"z":null}]}}})",
       R"(reset "" | a{1 u0 d0} | tombstones )"},
      {Kind::kDictionary, R"({"words":{"a":{"frequency":1},"a":{"frequency":2,"last_used":9}}})",
       R"(reset "" | a{2 u9 d0} | tombstones )"},
      {Kind::kDictionary,
       R"({"words":{"a":{"frequency":4294967295,"last_used":18446744073709551615}}})",
       R"(reset "" | a{4294967295 u18446744073709551615 d0} | tombstones )"},
      {Kind::kBigrams,
       R"({"pairs":{"a":{"b":{"frequency":1,"last_used":1}},"a":{"c":{"last_used":2,"frequency":2}}}})",
       R"(reset "" | a>[c{2 u2}])"},
      {Kind::kBigrams, R"({"pairs":{"a":{}}})", R"(reset "" | a>[])"},
      {Kind::kTrigrams, R"({"triples":{"a\tb":{"c":4294967295,"c":3}}})",
       "reset \"\" | a\tb>[c=3]"},
      {Kind::kSelections, R"({"selections":{"k":{"count":2,"text":"t"}}})",
       R"(reset "" | k{t 2 u0})"},
      {Kind::kRejections, R"({"entries":{"k":{"a":-5,"b":-2147483648,"c":2147483647}}})",
       R"(reset "" | k>[a=-5 b=-2147483648 c=2147483647])"},
      {Kind::kDictionary, kResetDocument, R"(reset "R" |  | tombstones )"},
      {Kind::kBigrams, kResetDocument, R"(reset "R" | )"},
      {Kind::kTrigrams, kResetDocument, R"(reset "R" | )"},
      {Kind::kSelections, kResetDocument, R"(reset "R" | )"},
      {Kind::kRejections, kResetDocument, R"(reset "R" | )"},
  };
  for (const Row& row : rows) {
    std::string rendered;
    std::string error;
    EXPECT_TRUE(decode_as(row.kind, row.text, rendered, error))
        << name(row.kind) << ": " << row.text << ": " << error;
    EXPECT_EQ(rendered, row.expected) << name(row.kind) << ": " << row.text;
  }
}

// Texts past their bounds (a word 1,152 bytes, a raw input 1,536, a trigram's context 2,305) are
// left out of every store, unread beyond their length; texts at the bounds stay; and an entry under
// a long key is still checked, so a malformed one fails the document as before.
TEST(StoreDocumentsTest, TextsPastTheirBoundsAreLeftOut) {
  const std::string word(1'152, 'w');
  const std::string raw(1'536, 'r');
  const std::string context = std::string(1'152, 'a') + "\t" + std::string(1'152, 'b');
  const std::string context_text = std::string(1'152, 'a') + "\\t" + std::string(1'152, 'b');
  struct Row {
    Kind kind;
    std::string text;
    std::string expected;
  };
  const Row rows[] = {
      {Kind::kDictionary,
       R"({"words":{")" + word + R"(":{"frequency":1},")" + word + R"(x":{"frequency":2},)" +
           R"("a":{"frequency":3}},"tombstones":{")" + word + R"(":5,")" + word + R"(x":6}})",
       "reset \"\" | a{3 u0 d0} " + word + "{1 u0 d0} | tombstones " + word + "=5"},
      {Kind::kBigrams,
       R"({"pairs":{")" + word + R"(x":{"b":{"frequency":1,"last_used":1}},"a":{")" + word +
           R"(":{"frequency":1,"last_used":1},")" + word + R"(x":{"frequency":2,"last_used":2}}}})",
       "reset \"\" | a>[" + word + "{1 u1}]"},
      {Kind::kTrigrams,
       R"({"triples":{")" + context_text + R"(":{"c":1},")" + context_text + R"(x":{"c":2},)" +
           R"("a\tb":{")" + word + R"(":3,")" + word + R"(x":4}}})",
       "reset \"\" | a\tb>[" + word + "=3] " + context + ">[c=1]"},
      {Kind::kSelections,
       R"({"selections":{")" + raw + R"(":{"text":")" + word + R"(","count":1},")" + raw +
           R"(x":{"text":"t","count":2},"k":{"text":")" + word + R"(x","count":3}}})",
       "reset \"\" | " + raw + "{" + word + " 1 u0}"},
      {Kind::kRejections,
       R"({"entries":{")" + raw + R"(":{"c":-1},")" + raw + R"(x":{"c":-2},"k":{")" + word +
           R"(x":-3}}})",
       "reset \"\" | k>[] " + raw + ">[c=-1]"},
  };
  for (const Row& row : rows) {
    std::string rendered;
    std::string error;
    EXPECT_TRUE(decode_as(row.kind, row.text, rendered, error)) << name(row.kind) << ": " << error;
    EXPECT_EQ(rendered, row.expected) << name(row.kind);
  }
  std::string rendered;
  std::string error;
  EXPECT_FALSE(decode_as(Kind::kDictionary, R"({"words":{")" + word + R"(x":{"frequency":"7"}}})",
                         rendered, error));
  EXPECT_NE(error.find("invalid type"), std::string::npos) << error;
}

template <typename Doc>
std::string encoded(const Doc& doc) {
  std::string out;
  std::string error;
  EXPECT_TRUE(encode_document(doc, out, error)) << error;
  return out;
}

TEST(StoreDocumentsTest, CompactFormWithFixedKeyOrder) {
  const std::string empty_dictionary = encoded(UserDictionaryDocument{});
  EXPECT_EQ(empty_dictionary, R"({"reset_id":"","words":{},"tombstones":{}})");
  EXPECT_EQ(empty_dictionary.size(), 42u);

  struct Row {
    std::string what;
    std::string bytes;
    std::string expected;
  };
  UserDictionaryDocument dictionary;
  dictionary.reset_id = "r";
  dictionary.words["\u0986\u09AE\u09BF"] =
      UserEntry{.last_used = UINT64_MAX, .last_decay = 0, .frequency = UINT32_MAX};
  dictionary.tombstones["x"] = kTombstoneForever;
  UserBigramsDocument bigrams;
  bigrams.pairs["a"]["b"] = BigramEntry{.frequency = 1, .last_used = 0};
  UserTrigramsDocument trigrams;
  trigrams.triples["a\tb"]["c"] = 7;
  SelectionMemoryDocument selections;
  selections.selections["k"] = SelectionEntry{.text = "t", .count = 0, .last_used = 2};
  RejectionsDocument low;
  low.entries["k"]["#standard:x"] = INT32_MIN;
  RejectionsDocument high;
  high.entries["k"]["c"] = INT32_MAX;
  UserDictionaryDocument escapes;
  escapes.reset_id =
      std::string("\"\\/\b\f\n\r\t\x01\x1f\x7f", 11) + std::string(1, '\0') + "\u0995\U0001F600";

  const Row rows[] = {
      {"dictionary", encoded(dictionary),
       "{\"reset_id\":\"r\",\"words\":{\"\u0986\u09AE\u09BF\":{\"frequency\":4294967295,"
       "\"last_used\":18446744073709551615,\"last_decay\":0}},\"tombstones\":{\"x\":"
       "18446744073709551615}}"},
      {"bigrams", encoded(bigrams),
       R"({"reset_id":"","pairs":{"a":{"b":{"frequency":1,"last_used":0}}}})"},
      {"trigrams", encoded(trigrams), R"({"reset_id":"","triples":{"a\tb":{"c":7}}})"},
      {"selections", encoded(selections),
       R"({"reset_id":"","selections":{"k":{"text":"t","count":0,"last_used":2}}})"},
      {"lowest penalty", encoded(low),
       R"({"reset_id":"","entries":{"k":{"#standard:x":-2147483648}}})"},
      {"highest penalty", encoded(high), R"({"reset_id":"","entries":{"k":{"c":2147483647}}})"},
      {"escapes", encoded(escapes),
       "{\"reset_id\":\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\\u0000\u0995\U0001F600\","
       "\"words\":{},\"tombstones\":{}}"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.bytes, row.expected) << row.what;
}

TEST(StoreDocumentsTest, IllFormedUtf8IsNeverWritten) {
  struct Row {
    std::string what;
    std::string bytes;
  };
  UserDictionaryDocument word;
  word.words["a\xff"] = UserEntry{.last_used = 1, .last_decay = 0, .frequency = 1};
  SelectionMemoryDocument text;
  text.selections["k"] = SelectionEntry{.text = "\xe0\xa6", .count = 1, .last_used = 1};
  RejectionsDocument reset;
  reset.reset_id = "\xc0\xaf";
  std::string error;
  std::string out;
  EXPECT_FALSE(encode_document(word, out, error)) << "word: " << out;
  EXPECT_FALSE(encode_document(text, out, error)) << "selection text: " << out;
  EXPECT_FALSE(encode_document(reset, out, error)) << "overlong reset_id: " << out;
  EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
}

// Random documents read back as written, and each string is written as an independent JSON
// writer writes it.
TEST(StoreDocumentsTest, RandomDocumentsRoundTrip) {
  std::mt19937_64 rng(::testing::UnitTest::GetInstance()->random_seed());
  const std::vector<std::string> pieces = {"a",
                                           "Z",
                                           "\"",
                                           "\\",
                                           "/",
                                           "\t",
                                           "\n",
                                           "\x01",
                                           "\x1f",
                                           "\x7f",
                                           std::string(1, '\0'),
                                           "\u0986",
                                           "\u09CD",
                                           "\u200D",
                                           "\U0001F600",
                                           " ",
                                           "#standard:",
                                           ".",
                                           "{",
                                           "}"};
  auto text = [&] {
    std::string s;
    const size_t n = rng() % 6;
    for (size_t i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
    return s;
  };
  const uint64_t u64s[] = {0, 1, 3'600, UINT32_MAX, uint64_t{UINT32_MAX} + 1, UINT64_MAX};
  const int32_t i32s[] = {INT32_MIN, -5, 0, 100, 2'000, INT32_MAX};
  for (int round = 0; round < 200; ++round) {
    UserDictionaryDocument dict;
    dict.reset_id = text();
    RejectionsDocument rejections;
    rejections.reset_id = text();
    UserBigramsDocument bigrams;
    SelectionMemoryDocument selections;
    for (int i = 0; i < 4; ++i) {
      dict.words[text()] = UserEntry{.last_used = u64s[rng() % 6],
                                     .last_decay = u64s[rng() % 6],
                                     .frequency = static_cast<uint32_t>(u64s[rng() % 4])};
      dict.tombstones[text()] = u64s[rng() % 6];
      rejections.entries[text()][text()] = i32s[rng() % 6];
      bigrams.pairs[text()][text()] =
          BigramEntry{static_cast<uint32_t>(u64s[rng() % 4]), u64s[rng() % 6]};
      selections.selections[text()] =
          SelectionEntry{text(), static_cast<uint32_t>(rng()), u64s[rng() % 6]};
    }
    auto round_trip = [&](const auto& doc) {
      using Doc = std::decay_t<decltype(doc)>;
      const std::string bytes = encoded(doc);
      Doc back;
      std::string error;
      ASSERT_TRUE(decode_document(bytes, back, error)) << error << "\n" << bytes;
      EXPECT_EQ(render(back), render(doc)) << bytes;
      // Compact, as an independent writer makes it.
      EXPECT_EQ(bytes.find('\n'), std::string::npos) << bytes;
      const std::string prefix = "{\"reset_id\":" + nlohmann::json(doc.reset_id).dump() + ",";
      EXPECT_EQ(bytes.substr(0, prefix.size()), prefix) << bytes;
    };
    round_trip(dict);
    round_trip(rejections);
    round_trip(bigrams);
    round_trip(selections);
  }
}

}  // namespace
}  // namespace tolvani::engine
