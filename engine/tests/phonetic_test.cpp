#include "phonetic.h"

#include <gtest/gtest.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <random>
#include <string>
#include <vector>

#include "engine_client.h"
#include "normalize.h"
#include "utf8.h"

namespace tolvani::engine::phonetic {
namespace {

struct Row {
  const char* latin;
  const char* bangla;
};

std::string convert(std::string_view latin, bool digits = true) {
  return convert_with_options(latin, digits);
}

TEST(PhoneticTest, RulesRenderTheseWordsExactly) {
  const Row rows[] = {
      {"korrmo", "\u0995\u09B0\u09CD\u09AE"},
      {"bOrrD", "\u09AC\u09CB\u09B0\u09CD\u09A1"},
      {"rrk", "\u09B0\u09CD\u0995"},
      {"krr", "\u0995\u09CD\u09B0\u09B0"},
      {"kr", "\u0995\u09CD\u09B0"},
      {"kya", "\u0995\u09CD\u09AF\u09BE"},
      {"ry", "\u09B0\u200D\u09CD\u09AF"},
      {"rya", "\u09B0\u200D\u09CD\u09AF\u09BE"},
      {"bangla", "\u09AC\u09BE\u0982\u09B2\u09BE"},
      {"bhalo", "\u09AD\u09BE\u09B2\u09CB"},
      {"jNG", "\u099C\u09CD\u099E"},
      {"ngo", "\u0999\u09CD\u0997"},
      {"wa", "\u0993\u09AF\u09BC\u09BE"},
      {"wo", "\u0993\u09AF\u09BC"},
      {"w", "\u0993"},
      {"x", "\u098F\u0995\u09CD\u09B8"},
      {"xa", "\u098F\u0995\u09CD\u09B8\u09BE"},
      {"ia", "\u0987\u09AF\u09BC\u09BE"},
      {"ao", "\u0986\u0993"},
      {"ooo", "\u0989\u0985"},
      {"a`", "\u09BE"},
      {"ko`", "\u0995"},
      {"t``", "\u09CE"},
      {"rri", "\u098B"},
      {"krri", "\u0995\u09C3"},
      {"r`ya", "\u09B0\u0987\u09AF\u09BC\u09BE"},
      {"$", "\u09F3"},
      {"ha.", "\u09B9\u09BE\u0964"},
      {"...", "..."},
      {".`", "."},
      {":`", ":"},
      {"^`", "^"},
      {"karjo", "\u0995\u09BE\u09B0\u09CD\u099C"},
      {"kK", "\u0995\u09CD\u0995"},
      {"kb", "\u0995\u09AC"},
      {"aMi", "\u0986\u09AE\u09BF"},
      {"kw", "\u0995\u09CD\u09AC"},
      {"ami", "\u0986\u09AE\u09BF"},
      {"  ami ", "\u0986\u09AE\u09BF"},
      {"", ""},
      {" \t\u3000", ""},
      {"k,,", "\u0995\u09CD\u200C"},
      {"Yo", "\u09AF\u09BC"},
      {"ay", "\u0986\u09AF\u09BC"},
      {"y", "\u0987\u09AF\u09BC"},
      {"?!", "?!"},
      {"\u0995", "\u0995"},
  };
  for (const Row& row : rows) EXPECT_EQ(convert(row.latin), row.bangla) << row.latin;
}

TEST(PhoneticTest, DigitsFollowTheOption) {
  EXPECT_EQ(convert("12", true), "\u09E7\u09E8");
  EXPECT_EQ(convert("12", false), "12");
  EXPECT_EQ(convert("$", false), "\u09F3");
  EXPECT_EQ(convert("0123456789", true),
            "\u09E6\u09E7\u09E8\u09E9\u09EA\u09EB\u09EC\u09ED\u09EE\u09EF");
}

TEST(PhoneticTest, OverridesAreExactAndCaseSensitive) {
  EXPECT_EQ(word_override("ami"), "\u0986\u09AE\u09BF");
  EXPECT_EQ(word_override(" ami\n"), "\u0986\u09AE\u09BF");
  EXPECT_EQ(word_override("aMi"), std::nullopt);
  EXPECT_EQ(word_override("amii"), std::nullopt);
  EXPECT_EQ(word_override(""), std::nullopt);
  EXPECT_EQ(word_override("rank"), "\u09B0\u200D\u09CD\u09AF\u09BE\u0982\u0995");
}

TEST(PhoneticTest, ExplicitCase) {
  for (const char* yes : {"kiborD", "T", "O", "gaRi", "aZ", "ekTi"}) {
    EXPECT_TRUE(has_explicit_case(yes)) << yes;
  }
  for (const char* no : {"Ami", "", "kibord", "A", "BCEFHKLMPQVWX", "\u0995"}) {
    EXPECT_FALSE(has_explicit_case(no)) << no;
  }
}

TEST(PhoneticTest, MatchesTakeTheLongestKey) {
  const std::u32string input = U"kkhONGa";
  const auto kkh = match_consonant(input, 0);
  ASSERT_TRUE(kkh);
  EXPECT_EQ(kkh->bangla, "\u0995\u09CD\u09B7");
  EXPECT_EQ(kkh->length, 3u);
  EXPECT_EQ(kkh->kind, ConsonantKind::kCluster);
  const auto o = match_vowel(input, 3);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->independent, "\u0993");
  EXPECT_EQ(o->dependent, "\u09CB");
  EXPECT_EQ(o->length, 1u);
  EXPECT_FALSE(match_vowel(input, 7));
  EXPECT_FALSE(match_consonant(input, 99));
  const auto ngo = match_consonant(U"ngo", 0);
  ASSERT_TRUE(ngo);
  EXPECT_TRUE(ngo->ends_with_vowel);
  EXPECT_TRUE(matches_latin(U"abc", 1, U"bc"));
  EXPECT_FALSE(matches_latin(U"abc", 2, U"cd"));
  EXPECT_TRUE(matches_latin(U"abc", 3, U""));
}

TEST(PhoneticTest, EmptyGrammarStillAppliesTheFixedCases) {
  const Grammar empty;
  const Row rows[] = {
      {"t``", "\u09CE"},
      {"rri", "\u098B"},
      {"$", "\u09F3"},
      {"...", "..."},
      {"kw", "k\u0993"},
      {"wa",
       "\u0993"
       "a"},
      {"x", "\u098F\u0995\u09CD\u09B8"},
      {"Y", "\u09AF\u09BC"},
      {"ami", "ami"},
      {"12", "12"},
      {"rrk",
       "\u09B0\u09CD"
       "k"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(convert_with_grammar(empty, row.latin, true), row.bangla) << row.latin;
}

TEST(PhoneticTest, StrictReadingFailsTheWholeDocument) {
  const std::string base_rules =
      R"("vowels": [{"latin": "a", "independent": "আ", "dependent": "া"}],
         "consonants": [{"latin": "k", "bangla": "ক", "kind": "consonant"}],
         "marks": [{"latin": ".", "bangla": "।"}],
         "digits": {"1": "১"})";
  std::string error;
  const auto ok = parse_grammar("{" + base_rules + R"(, "word_overrides": {"x": "a", "x": "b"},
                                     "metadata": {"version": 2}})",
                                error);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(ok->word_overrides.at("x"), "b");  // a repeated map key keeps the last value
  EXPECT_EQ(convert_with_grammar(*ok, "ka1.", true), "\u0995\u09BE\u09E7\u0964");

  struct Bad {
    const char* name;
    std::string document;
    const char* error_part;
  };
  const Bad bads[] = {
      {"repeated field in a rule",
       R"({"vowels": [{"latin": "a", "latin": "b", "independent": "আ", "dependent": "া"}],
           "consonants": [], "marks": [], "digits": {}, "word_overrides": {}})",
       "duplicate field `latin`"},
      {"missing field in a rule",
       R"({"vowels": [], "consonants": [{"latin": "k", "kind": "consonant"}], "marks": [],
           "digits": {}, "word_overrides": {}})",
       "missing field `bangla`"},
      {"wrong type in a rule",
       R"({"vowels": [], "consonants": [{"latin": "k", "bangla": "ক", "kind": "consonant",
           "ends_with_vowel": 1}], "marks": [], "digits": {}, "word_overrides": {}})",
       "expected a boolean"},
      {"unknown kind",
       R"({"vowels": [], "consonants": [{"latin": "k", "bangla": "ক", "kind": "vowel"}],
           "marks": [], "digits": {}, "word_overrides": {}})",
       "unknown variant `vowel`"},
      {"missing list", "{" + base_rules + "}", "missing field `word_overrides`"},
      {"repeated list", "{" + base_rules + R"(, "word_overrides": {}, "marks": []})",
       "duplicate field `marks`"},
      {"map value of the wrong type", "{" + base_rules + R"(, "word_overrides": {"x": 1}})",
       "expected a string"},
      {"list of the wrong type",
       R"({"vowels": {}, "consonants": [], "marks": [], "digits": {}, "word_overrides": {}})",
       "expected a sequence"},
      {"not an object", "[]", "expected a record"},
      {"trailing text", "{" + base_rules + R"(, "word_overrides": {}} x)", "parse error"},
      {"invalid UTF-8", "{" + base_rules + ", \"word_overrides\": {\"x\": \"\xC3\x28\"}}",
       "parse error"},
      // The parser stops at a NUL byte; what follows it must not slip through.
      {"text after a NUL byte",
       "{" + base_rules + R"(, "word_overrides": {}})" + std::string(1, '\0') + "garbage",
       "NUL byte"},
  };
  for (const Bad& bad : bads) {
    error.clear();
    EXPECT_FALSE(parse_grammar(bad.document, error)) << bad.name;
    EXPECT_NE(error.find(bad.error_part), std::string::npos) << bad.name << ": " << error;
  }
}

TEST(NormalizeTest, BengaliNormalisation) {
  const Row rows[] = {
      {"\uFEFF\u0989\u09A4\u09CD\u200D\u00A0\u0995", "\u0989\u09CE \u0995"},
      {"\u09A1\u09BC", "\u09A1\u09BC"},
      {"\u09DC", "\u09A1\u09BC"},
      {"\u09DD\u09DF", "\u09A2\u09BC\u09AF\u09BC"},
      {"\u0995\u09C7\u09BE", "\u0995\u09CB"},  // e-kar and aa-kar compose to o-kar
      {"  \u0986\u09AE\u09BF\u3000", "\u0986\u09AE\u09BF"},
      {"abc", "abc"},
      {"", ""},
      {"\u00A0", ""},
      {"\u09A4\u09CD", "\u09A4\u09CD"},
      // U+FEFF between a letter and the parts of its sign, or inside "ত্" with a joiner, is gone
      // before anything is composed, so the form is final
      {"\u0995\u09C7\uFEFF\u09BE", "\u0995\u09CB"},
      {"\u09A4\u09CD\uFEFF\u200D", "\u09CE"},
      {"e\uFEFF\u0301", "\u00E9"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(normalize_bengali(row.latin), row.bangla) << row.latin;
    EXPECT_EQ(normalize_bengali(row.bangla), row.bangla) << row.bangla;
  }
  EXPECT_EQ(normalize_bengali("\xFF"), "\uFFFD");
  EXPECT_EQ(normalize_phonetic_input("\t ami \u2028"), "ami");
}

// Long runs of combining marks are put in order before ICU sees them; the result must be ICU's
// own NFC of the text, whatever the marks, their order, and characters that decompose into marks
// or compose with them.
TEST(NormalizeTest, LongRunsOfMarksComposeAsICUDoes) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  ASSERT_TRUE(U_SUCCESS(status));
  const auto icu_nfc = [&](const std::string& text) {
    UErrorCode s = U_ZERO_ERROR;
    std::string out;
    nfc->normalize(icu::UnicodeString::fromUTF8(text), s).toUTF8String(out);
    EXPECT_TRUE(U_SUCCESS(s));
    return out;
  };
  const std::vector<char32_t> pieces = {
      U'\u0301', U'\u0316', U'\u0327', U'\u0334', U'\u0308',     U'\u05B0',
      U'\u05B9', U'\u09CD', U'\u09BC', U'\u0F71', U'\u0F72',
      U'\u0344',                        // decomposes to two marks of class 230
      U'\u0F73',                        // class 0, decomposes to marks of classes 129 and 130
      U'\u1E09',                        // c with cedilla and acute: a letter and two marks
      U'\u09C7', U'\u09BE', U'\u09D7',  // e-kar composes with aa-kar and the au length mark
      U'e',      U'\u0995', U'\uAC00', U'\u1161', U'\U0001D165', U'\U0001D16D'};
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string text = round % 2 == 0 ? "\u0995" : "e";
    const size_t length = 20 + random() % 300;
    // Mostly marks, so that runs grow long; now and then a letter or a composing sign.
    for (size_t i = 0; i < length; ++i) {
      const bool mark = random() % 16 != 0;
      const size_t index = mark ? random() % 13 : 13 + random() % (pieces.size() - 13);
      utf8::append(text, pieces[index]);
    }
    const std::string form = normalize_bengali(text);
    ASSERT_EQ(form, icu_nfc(text)) << "round " << round;
    ASSERT_EQ(normalize_bengali(form), form) << "round " << round;
  }
  // One run of 3,000 marks in falling class order, as composed by ICU.
  std::string falling = "\u0995";
  for (char32_t mark : {U'\u0301', U'\u0316', U'\u0327', U'\u0334'}) {
    for (int i = 0; i < 750; ++i) utf8::append(falling, mark);
  }
  EXPECT_EQ(normalize_bengali(falling), icu_nfc(falling));
}

TEST(PhoneticSessionTest, TypingRendersThroughTheGrammar) {
  testing::EngineClient engine;
  EXPECT_EQ(engine.type(U"ami")->preedit, "\u0986\u09AE\u09BF");
  EXPECT_EQ(engine.key(TOLVANI_KEY_SPACE, ' ')->commit_text, "\u0986\u09AE\u09BF ");
  EXPECT_EQ(engine.type(U"12")->preedit, "\u09E7\u09E8");
  EXPECT_EQ(engine.config(5, TOLVANI_FLAG_ENGLISH_PASSTHROUGH)->preedit, "12");
  engine.config(5, testing::kDefaultFlags);
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  // Each word reads on its own, and a tail of marks stays with the last one.
  EXPECT_EQ(engine.type(U"ami,tumi?")->preedit, "\u0986\u09AE\u09BF,\u09A4\u09C1\u09AE\u09BF?");
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  // "ha" alone is a whole word of its own; the full stop after it is read apart.
  EXPECT_EQ(engine.type(U"ha.")->preedit, "\u09B9\u09CD\u09AF\u09BE\u0981\u0964");
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  // The preedit shows what Space would commit: after digits the particle.
  EXPECT_EQ(engine.type(U"12ta")->preedit, "\u09E7\u09E8\u099F\u09BE");
}

}  // namespace
}  // namespace tolvani::engine::phonetic
