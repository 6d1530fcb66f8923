#include "settings/BackupSanitizer.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Clock.h"

namespace tolvani {
namespace {

using BackupSanitizer::Json;

constexpr std::int64_t kNow = 1'700'000'000;

std::string repeat(const std::string& unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

// The cleaned document of one store as compact JSON, or "<none>" when it does not survive.
std::string clean(const std::string& storeKey, const std::string& storeJson) {
  const Json backup = Json::object({{storeKey, Json::parse(storeJson)}});
  const auto cleaned = BackupSanitizer::sanitizedUserDataFiles(backup);
  const auto it = cleaned.find(storeKey);
  return it == cleaned.end() ? "<none>" : it->second;
}

class BackupSanitizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testSetClock(&clock_);
    clock_.setWallSeconds(static_cast<double>(kNow) + 0.9);  // the fraction is cut off
  }
  void TearDown() override { platform::testSetClock(nullptr); }

  platform::ManualClock clock_;
};

struct Row {
  std::string store;
  std::string input;
  std::string cleaned;
};

TEST_F(BackupSanitizerTest, EntriesAreKeptOrDroppedByTheirStoresRules) {
  const std::string tomorrow = std::to_string(kNow + 86'400);
  const std::string twoDays = std::to_string(kNow + 2 * 86'400);
  const std::string w96 = repeat("কা", 96);  // 96 clusters of two scalars each
  const std::string w97 = repeat("কা", 97);
  const std::string r128 = repeat("a", 128);
  const Row rows[] = {
      // word entries: frequency 1 to 1,000,000, integral; times up to a day after now
      {"dictionary",
       R"({"words":{"a":{"frequency":0},"b":{"frequency":1000001},"c":{"frequency":2.5},)"
       R"("d":{"frequency":"7"},"e":{"frequency":true},"f":{"frequency":3.0},"g":{"frequency":1e6},)"
       R"("h":{"frequency":-1},"i":[1],"j":{"last_used":5},"k":{"frequency":18446744073709551615},)"
       R"("l":{"frequency":-9223372036854775808},"m":{"frequency":null},"n":{"frequency":[5]},)"
       R"("o":{"frequency":1e1,"last_used":-0}}})",
       R"({"words":{"f":{"frequency":3},"g":{"frequency":1000000},"o":{"frequency":10,"last_used":0}}})"},
      {"dictionary",
       R"({"words":{"a":{"frequency":2,"last_used":)" + twoDays + R"(,"last_decay":)" + tomorrow +
           R"(},"b":{"frequency":1,"last_used":-1,"last_decay":1.5}}})",
       R"({"words":{"a":{"frequency":2,"last_decay":)" + tomorrow + R"(},"b":{"frequency":1}}})"},
      // tombstones: the largest unsigned value or a time up to a day after now
      {"dictionary",
       R"({"words":{},"tombstones":{"a":18446744073709551615,"b":18446744073709551614,"c":true,)"
       R"("d":0,"e":)" +
           twoDays + R"(,"f":1.8446744073709552e19,"g\n":5}})",
       R"({"tombstones":{"a":18446744073709551615,"d":0},"words":{}})"},
      {"dictionary", R"({"words":{},"tombstones":[1]})", R"({"words":{}})"},
      {"dictionary", R"({"words":{"a":{"frequency":0}},"tombstones":{"a":5}})", "<none>"},
      {"dictionary", R"({"tombstones":{"a":5}})", "<none>"},
      {"dictionary", R"({"words":[]})", "<none>"},
      {"dictionary", R"([])", "<none>"},
      {"dictionary", R"(null)", "<none>"},
      // the text rule: not empty, no control or bidirectional control, lengths in clusters
      {"dictionary",
       R"({"words":{"":{"frequency":1},"a\nb":{"frequency":1},"a\tb":{"frequency":1},)"
       R"("a\u202Eb":{"frequency":1},"a\u2066b":{"frequency":1},"a\u0085":{"frequency":1},)"
       R"("a\u200Cb":{"frequency":1},")" +
           w96 + R"(":{"frequency":1},")" + w97 + R"(":{"frequency":1}}})",
       R"({"words":{")" + std::string("a\u200Cb") + R"(":{"frequency":1},")" + w96 +
           R"(":{"frequency":1}}})"},
      // extra fields and reset ids never pass
      {"dictionary",
       R"({"reset_id":"x","version":3,"words":{"a":{"frequency":1,"extra":1,"last_used":4}}})",
       R"({"words":{"a":{"frequency":1,"last_used":4}}})"},
      {"bigrams",
       R"({"reset_id":"x","pairs":{"a":{"b":{"frequency":2},"c":{"frequency":3,"last_used":9,)"
       R"("last_decay":8,"x":1},"d":{"frequency":0}},"e":{"f":{"frequency":0}},"g":7}})",
       R"({"pairs":{"a":{"b":{"frequency":2,"last_used":0},"c":{"frequency":3,"last_decay":8,)"
       R"("last_used":9}}}})"},
      {"bigrams", R"({"pairs":{"a":{"b":{"frequency":2,"last_used":)" + twoDays + R"(}}}})",
       R"({"pairs":{"a":{"b":{"frequency":2,"last_used":0}}}})"},
      {"bigrams", R"({"pairs":{"a":{}}})", "<none>"},
      {"bigrams", R"({"pairs":{}})", R"({"pairs":{}})"},
      {"trigrams",
       R"({"triples":{"a\tb":{"c":2},"a\tb\tc":{"d":1},"a\t":{"d":1},"\tb":{"d":1},"ab":{"d":1},)"
       R"(")" +
           w97 + R"(\tb":{"d":1},")" + w96 + R"(\tb":{"d":0,"e":3,"f\n":1}}})",
       R"({"triples":{"a\tb":{"c":2},")" + w96 + R"(\tb":{"e":3}}})"},
      {"rejections",
       R"({"entries":{")" + r128 + R"(":{"x":5},")" + r128 + R"(a":{"x":5},"k":{"y":-5,"z":2}}})",
       R"({"entries":{")" + r128 + R"(":{"x":5},"k":{"z":2}}})"},
      {"english_pairs",
       R"({"pairs":{")" + repeat("a", 24) + R"(":{"b":1},")" + repeat("a", 25) +
           R"(":{"b":1},)"
           R"("c":{")" +
           repeat("d", 25) + R"(":1,"e":1000000}}})",
       R"({"pairs":{")" + repeat("a", 24) + R"(":{"b":1},"c":{"e":1000000}}})"},
      {"selection_memory",
       R"({"selections":{")" + r128 +
           R"(":{"text":"ক","count":2,"last_used":7,"x":1},)"
           R"("b":{"text":"","count":1},"c":{"text":")" +
           w97 +
           R"(","count":1},)"
           R"("d":{"text":"a\u202Eb","count":1},"e":{"text":5,"count":1},"f":{"text":"x"},)"
           R"("g":{"text":"y","count":1,"last_used":)" +
           twoDays + R"(}}})",
       R"({"selections":{")" + r128 +
           R"(":{"count":2,"last_used":7,"text":"ক"},)"
           R"("g":{"count":1,"text":"y"}}})"},
      {"selection_memory", R"({"selections":{"b":{"text":"","count":1}}})", "<none>"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(clean(row.store, row.input), row.cleaned) << row.store << " " << row.input;
}

TEST_F(BackupSanitizerTest, CapsKeepTheFirstEntriesInComposedOrder) {
  // 12,000 words: the 10,000 smallest stay, whatever order the file had them in.
  Json words = Json::object();
  for (int i = 11'999; i >= 0; --i) words["w" + std::to_string(100'000 + i)] = {{"frequency", 1}};
  const Json wordsStore = {{"words", words}};
  const Json dictionary = *BackupSanitizer::sanitizedDictionary(&wordsStore);
  ASSERT_EQ(dictionary["words"].size(), 10'000u);
  EXPECT_EQ(dictionary["words"].begin().key(), "w100000");
  EXPECT_TRUE(dictionary["words"].contains("w109999"));
  EXPECT_FALSE(dictionary["words"].contains("w110000"));

  // Caps of two-level stores count inner entries across outer keys, in (outer, inner) order;
  // invalid entries do not count.
  Json triples = Json::object();
  for (int outer = 0; outer < 40; ++outer)
    for (int inner = 0; inner < 100; ++inner)
      triples["a" + std::to_string(100 + outer) + "\tb"]["c" + std::to_string(100 + inner)] =
          inner == 0 ? 0 : 1;
  const Json triplesStore = {{"triples", triples}};
  const Json trigrams = *BackupSanitizer::sanitizedTrigrams(&triplesStore);
  std::size_t kept = 0;
  for (const auto& [key, inner] : trigrams["triples"].items()) kept += inner.size();
  EXPECT_EQ(kept, 3'000u);
  EXPECT_EQ(trigrams["triples"].size(), 31u);  // 30 full ones of 99, then 30 of the 31st
  EXPECT_EQ(trigrams["triples"]["a130\tb"].size(), 30u);

  // The walk compares canonical compositions: "é" written decomposed sorts as "é" (U+00E9),
  // after "f", so with a cap of 10,000 it is "f" that stays, not the decomposed word that a walk
  // by bytes would keep.
  Json mixed = Json::object();
  for (int i = 0; i < 9'999; ++i) mixed["a" + std::to_string(10'000 + i)] = {{"frequency", 1}};
  mixed["e\u0301"] = {{"frequency", 1}};
  mixed["f"] = {{"frequency", 1}};
  const Json mixedStore = {{"words", mixed}};
  const Json composed = *BackupSanitizer::sanitizedDictionary(&mixedStore);
  EXPECT_TRUE(composed["words"].contains("f"));
  EXPECT_FALSE(composed["words"].contains("e\u0301"));
  EXPECT_EQ(composed["words"].size(), 10'000u);
}

// Every text is bounded at 12 UTF-8 bytes per character of its limit before anything counts or
// normalises it: a word of two characters may be 1,152 bytes but not 1,153, a raw input 1,536 and
// an English word 288. The marks here have one combining class, so they are in normal form.
TEST_F(BackupSanitizerTest, TextsPastTheirByteBoundAreDroppedUnread) {
  const auto marked = [](const std::string& head, int marks) {
    return head + repeat("\u0301", marks);  // two bytes each
  };
  const std::string w = marked("12", 575);
  const std::string wOver = marked("123", 575);
  const std::string r = marked("12", 767);
  const std::string rOver = marked("123", 767);
  const std::string e = marked("12", 143);
  const std::string eOver = marked("123", 143);
  ASSERT_EQ(w.size(), 1'152u);
  ASSERT_EQ(r.size(), 1'536u);
  ASSERT_EQ(e.size(), 288u);
  const Row rows[] = {
      {"dictionary",
       R"({"words":{")" + w + R"(":{"frequency":1},")" + wOver + R"(":{"frequency":1}},)" +
           R"("tombstones":{")" + w + R"(":5,")" + wOver + R"(":5}})",
       R"({"tombstones":{")" + w + R"(":5},"words":{")" + w + R"(":{"frequency":1}}})"},
      {"bigrams",
       R"({"pairs":{"a":{")" + w + R"(":{"frequency":1},")" + wOver + R"(":{"frequency":1}},")" +
           wOver + R"(":{"b":{"frequency":1}}}})",
       R"({"pairs":{"a":{")" + w + R"(":{"frequency":1,"last_used":0}}}})"},
      {"trigrams",
       R"({"triples":{")" + w + R"(\t)" + w + R"(":{")" + w + R"(":1,")" + wOver + R"(":1},")" +
           wOver + R"(\tb":{"c":1},"b\t)" + wOver + R"(":{"c":1}}})",
       R"({"triples":{")" + w + R"(\t)" + w + R"(":{")" + w + R"(":1}}})"},
      {"rejections",
       R"({"entries":{")" + r + R"(":{")" + w + R"(":1,")" + wOver + R"(":1},")" + rOver +
           R"(":{"x":1}}})",
       R"({"entries":{")" + r + R"(":{")" + w + R"(":1}}})"},
      {"selection_memory",
       R"({"selections":{")" + r + R"(":{"text":")" + w + R"(","count":1},")" + rOver +
           R"(":{"text":"t","count":1},"k":{"text":")" + wOver + R"(","count":1}}})",
       R"({"selections":{")" + r + R"(":{"count":1,"text":")" + w + R"("}}})"},
      {"english_pairs",
       R"({"pairs":{")" + e + R"(":{")" + e + R"(":1,")" + eOver + R"(":1},")" + eOver +
           R"(":{"b":1}}})",
       R"({"pairs":{")" + e + R"(":{")" + e + R"(":1}}})"},
  };
  for (const Row& row : rows) EXPECT_EQ(clean(row.store, row.input), row.cleaned) << row.store;

  // A word within the bound whose normal form is not: U+0344 composes to two marks.
  const std::string growing = "a" + repeat("\u0344", 575);
  ASSERT_EQ(growing.size(), 1'151u);
  EXPECT_EQ(clean("dictionary",
                  R"({"words":{")" + growing + R"(":{"frequency":1},"b":{"frequency":1}}})"),
            R"({"words":{"b":{"frequency":1}}})");

  EXPECT_TRUE(BackupSanitizer::isValidImportedString(marked("a", 5), 1));   // 11 bytes
  EXPECT_FALSE(BackupSanitizer::isValidImportedString(marked("a", 6), 1));  // 13 bytes
  EXPECT_FALSE(BackupSanitizer::isValidImportedString(marked("a", 100'000), 96));
}

// Dictionary words and tombstones are keyed by the engine's normal form (NFC, "ত্" with a joiner
// as "ৎ", no-break spaces as spaces, no U+FEFF, trimmed): spellings of one word become one entry
// with the larger count and the later times, so the engine's load finds no twins to add up. The
// other stores keep their words as spelt, as the engine does.
TEST_F(BackupSanitizerTest, DictionaryWordsAreKeyedByTheEnginesNormalForm) {
  const std::string decomposed = "\u0995\u09C7\u09BE\u09A8";  // কোন with ে + া
  const std::string composed = "\u0995\u09CB\u09A8";
  const Row rows[] = {
      {"dictionary",
       R"({"words":{")" + decomposed + R"(":{"frequency":5,"last_used":10},")" + composed +
           R"(":{"frequency":3,"last_used":20},"\u00A0":{"frequency":1},)"
           R"(" আমি\u00A0":{"frequency":2},"\uFEFFক":{"frequency":2},)"
           R"("হঠাত্\u200D":{"frequency":2}},)"
           R"("tombstones":{")" +
           decomposed + R"(":9,")" + composed + R"(":7,"x":18446744073709551615,"x ":3}})",
       R"({"tombstones":{"x":18446744073709551615,")" + composed +
           R"(":9},"words":{"আমি":)"
           R"({"frequency":2},"ক":{"frequency":2},")" +
           composed + R"(":{"frequency":5,"last_used":20},"হঠাৎ":{"frequency":2}}})"},
      {"dictionary", R"({"words":{"\u00A0":{"frequency":1}}})", "<none>"},
      {"bigrams", R"({"pairs":{")" + decomposed + R"(":{")" + composed + R"(":{"frequency":2}}}})",
       R"({"pairs":{")" + decomposed + R"(":{")" + composed +
           R"(":{"frequency":2,"last_used":0}}}})"},
  };
  for (const Row& row : rows) EXPECT_EQ(clean(row.store, row.input), row.cleaned) << row.input;
}

TEST_F(BackupSanitizerTest, HostileTextsAreRefusedWithoutACrash) {
  const struct {
    std::string bytes;
    bool parses;
  } rows[] = {
      {"{\"dictionary\":{\"words\":{\"\xC3\x28\":{\"frequency\":1}}}}", false},  // bad UTF-8
      {"{\"a\":\"\xED\xA0\x80\"}", false},                                       // a surrogate
      {R"({"a":"\ud800"})", false},                                              // lone surrogate
      {"\xEF\xBB\xBF{}", true},                                                  // byte-order mark
      {repeat("[", 512) + repeat("]", 512), true},
      {repeat("[", 513) + repeat("]", 513), false},
      {repeat("[", 1'000'000), false},
      {repeat("{\"a\":", 600) + "1" + repeat("}", 600), false},
      {R"({"a":1,"a":2})", true},
      {R"({"a":1e400})", false},  // beyond any double
  };
  for (const auto& row : rows)
    EXPECT_EQ(BackupSanitizer::parseJson(row.bytes).has_value(), row.parses)
        << row.bytes.substr(0, 40);

  EXPECT_EQ(BackupSanitizer::parseJson(R"({"a":1,"a":2})")->at("a"), 2);
  EXPECT_FALSE(BackupSanitizer::parseJson(R"({"a":1,"a":2})", true).has_value());
  EXPECT_TRUE(BackupSanitizer::parseJson(R"({"a":{"b":1,"b":2}})", true).has_value());
}

}  // namespace
}  // namespace tolvani
