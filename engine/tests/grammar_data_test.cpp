// Checks the shape of the embedded phonetic grammar document: it reads whole, no rule is lost
// or given twice, nukta letters stay decomposed, and the fixed word overrides are exact. What
// each rule types is checked by the conversions of phonetic_test.cpp and the typed-word sets.
#include "phonetic.h"
#include "utf8.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvani::engine::phonetic {
namespace {

using nlohmann::json;

struct PairRow {
  const char* latin;
  const char* bangla;
};

// Overrides that must stay exactly as they are.
const PairRow kFixedOverrides[] = {
    {"ami", "\u0986\u09AE\u09BF"},
    {"tumi", "\u09A4\u09C1\u09AE\u09BF"},
    {"apni", "\u0986\u09AA\u09A8\u09BF"},
    {"r", "\u09B0"},
    {"o", "\u0993"},
    {"se", "\u09B8\u09C7"},
    {"she", "\u09B8\u09C7"},
    {"achhe", "\u0986\u099B\u09C7"},
    {"ache", "\u0986\u099B\u09C7"},
    {"aw", "\u0985"},
    {"ow", "\u0985"},
    {"ha", "\u09B9\u09CD\u09AF\u09BE\u0981"},
    {"tv", "\u099F\u09BF\u09AD\u09BF"},
    {"ok", "\u0993\u0995\u09C7"},
    {"rank", "\u09B0\u200D\u09CD\u09AF\u09BE\u0982\u0995"},
    {"gaRi", "\u0997\u09BE\u09A1\u09BC\u09BF"},
    {"kiborD", "\u0995\u09C0\u09AC\u09CB\u09B0\u09CD\u09A1"},
    {"ekTi", "\u098F\u0995\u099F\u09BF"},
    {"amar", "\u0986\u09AE\u09BE\u09B0"},
    {"tomar", "\u09A4\u09CB\u09AE\u09BE\u09B0"},
    {"kintu", "\u0995\u09BF\u09A8\u09CD\u09A4\u09C1"},
    {"valo", "\u09AD\u09BE\u09B2\u09CB"},
    {"bhalo", "\u09AD\u09BE\u09B2\u09CB"},
    {"keno", "\u0995\u09C7\u09A8\u09CB"},
    {"jonno", "\u099C\u09A8\u09CD\u09AF"},
    {"dhonnobad", "\u09A7\u09A8\u09CD\u09AF\u09AC\u09BE\u09A6"},
    {"shundor", "\u09B8\u09C1\u09A8\u09CD\u09A6\u09B0"},
};

const json& document() {
  static const json doc = json::parse(grammar_document());
  return doc;
}

// Shows a text as its code points ("U+0995 U+09CD U+09B7"), so a mismatch names the character.
std::string code_points(std::string_view text) {
  std::string out;
  for (size_t pos = 0; pos < text.size();) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%sU+%04X", out.empty() ? "" : " ",
                  static_cast<unsigned>(utf8::decode_next(text, pos)));
    out += buf;
  }
  return out;
}

// Records every name that occurs twice in one object; the DOM parser would keep only the last.
class RepeatedNames : public nlohmann::json_sax<json> {
 public:
  std::vector<std::string> repeated;

  bool start_object(std::size_t) override {
    names_.emplace_back();
    return true;
  }
  bool end_object() override {
    names_.pop_back();
    return true;
  }
  bool key(string_t& name) override {
    if (!names_.back().insert(name).second) repeated.push_back(name);
    return true;
  }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  std::vector<std::set<std::string>> names_;
};

TEST(GrammarDataTest, DocumentIsReadWholeByTheEngine) {
  RepeatedNames sax;
  ASSERT_TRUE(json::sax_parse(grammar_document(), &sax));
  EXPECT_EQ(sax.repeated, std::vector<std::string>{}) << "names given twice in one object";

  std::string error;
  const std::optional<Grammar> g = parse_grammar(grammar_document(), error);
  ASSERT_TRUE(g.has_value()) << error;
  EXPECT_EQ(g->vowels.size(), document().at("vowels").size());
  EXPECT_EQ(g->consonants.size(), document().at("consonants").size());
  EXPECT_EQ(g->marks.size(), document().at("marks").size());
  EXPECT_EQ(g->digits.size(), 10u);
  EXPECT_EQ(g->word_overrides.size(), document().at("word_overrides").size());

  const json& metadata = document().at("metadata");
  EXPECT_EQ(metadata.at("name"), "Tolvani phonetic");
  EXPECT_EQ(metadata.at("version"), 2);
  EXPECT_TRUE(metadata.at("description").is_string());
}

TEST(GrammarDataTest, RuleCountsByKindAndKeyLength) {
  const json& doc = document();
  EXPECT_EQ(doc.at("vowels").size(), 15u);
  EXPECT_EQ(doc.at("consonants").size(), 251u);
  EXPECT_EQ(doc.at("marks").size(), 8u);
  EXPECT_EQ(doc.at("digits").size(), 10u);

  std::map<std::string, int> by_kind;
  std::map<size_t, int> by_length;
  std::vector<std::string> ending_with_vowel;
  for (const json& rule : doc.at("consonants")) {
    const std::string latin = rule.at("latin");
    ++by_kind[rule.at("kind").get<std::string>()];
    ++by_length[latin.size()];
    if (rule.contains("ends_with_vowel")) {
      EXPECT_EQ(rule.at("ends_with_vowel"), true) << latin;
      ending_with_vowel.push_back(latin);
    }
  }
  EXPECT_EQ(by_kind, (std::map<std::string, int>{
                         {"consonant", 60}, {"cluster", 188}, {"mark", 1}, {"letter", 2}}));
  EXPECT_EQ(by_length, (std::map<size_t, int>{{1, 42}, {2, 117}, {3, 76}, {4, 14}, {5, 2}}));
  EXPECT_EQ(ending_with_vowel, std::vector<std::string>{"ngo"});
}

TEST(GrammarDataTest, NoLatinKeyRepeatedWithinOrAcrossLists) {
  std::map<std::string, std::string> seen;  // key -> list it was first seen in
  for (const char* list : {"vowels", "consonants", "marks"}) {
    for (const json& rule : document().at(list)) {
      const std::string latin = rule.at("latin");
      EXPECT_FALSE(latin.empty()) << list;
      const auto [it, inserted] = seen.emplace(latin, list);
      EXPECT_TRUE(inserted) << latin << " in " << list << " and in " << it->second;
    }
  }
}

// Every string of the document, keys included, with where it was found.
void collect_strings(const json& value, const std::string& where,
                     std::vector<std::pair<std::string, std::string>>& out) {
  if (value.is_string()) {
    out.emplace_back(value.get<std::string>(), where);
  } else if (value.is_object()) {
    for (const auto& [name, member] : value.items()) {
      out.emplace_back(name, where + "/" + name);
      collect_strings(member, where + "/" + name, out);
    }
  } else if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i) {
      collect_strings(value[i], where + "/" + std::to_string(i), out);
    }
  }
}

TEST(GrammarDataTest, NuktaLettersAreAlwaysDecomposed) {
  std::vector<std::pair<std::string, std::string>> strings;
  collect_strings(document(), "", strings);
  for (const auto& [text, where] : strings) {
    for (size_t pos = 0; pos < text.size();) {
      const char32_t cp = utf8::decode_next(text, pos);
      EXPECT_TRUE(cp != U'\u09DC' && cp != U'\u09DD' && cp != U'\u09DF')
          << where << ": " << code_points(text);
    }
  }
}

TEST(GrammarDataTest, FixedOverridesAreExact) {
  const json& overrides = document().at("word_overrides");
  for (const PairRow& row : kFixedOverrides) {
    if (!overrides.contains(row.latin)) {
      ADD_FAILURE() << row.latin << " is missing";
      continue;
    }
    EXPECT_EQ(code_points(overrides.at(row.latin).get<std::string>()), code_points(row.bangla))
        << row.latin;
  }
}

TEST(GrammarDataTest, OverridesMapAsciiWordsToBanglaText) {
  for (const auto& [latin, value] : document().at("word_overrides").items()) {
    EXPECT_FALSE(latin.empty());
    for (char c : latin) {
      EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) << latin;
    }
    ASSERT_TRUE(value.is_string()) << latin;
    const std::string bangla = value;
    EXPECT_FALSE(bangla.empty()) << latin;
    // Bengali block only, plus the joiners that shape conjuncts.
    for (size_t pos = 0; pos < bangla.size();) {
      const char32_t cp = utf8::decode_next(bangla, pos);
      EXPECT_TRUE((cp >= 0x0980 && cp <= 0x09FF) || cp == 0x200C || cp == 0x200D)
          << latin << ": " << code_points(bangla);
    }
  }
}

}  // namespace
}  // namespace tolvani::engine::phonetic
