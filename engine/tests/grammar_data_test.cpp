// Checks the embedded phonetic grammar document against tables typed here by code point, so a
// wrong character, a lost rule or a misplaced key in engine/data/grammar.json fails by name.
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

struct VowelRow {
  const char* latin;
  const char* independent;
  const char* dependent;
};

struct PairRow {
  const char* latin;
  const char* bangla;
};

// Document order.
const VowelRow kVowels[] = {
    {"OI", "\u0990", "\u09C8"}, {"OU", "\u0994", "\u09CC"}, {"ee", "\u0988", "\u09C0"},
    {"EE", "\u0988", "\u09C0"}, {"a", "\u0986", "\u09BE"},  {"i", "\u0987", "\u09BF"},
    {"u", "\u0989", "\u09C1"},  {"e", "\u098F", "\u09C7"},  {"o", "\u0985", ""},
    {"A", "\u0986", "\u09BE"},  {"I", "\u0988", "\u09C0"},  {"U", "\u098A", "\u09C2"},
    {"E", "\u098F", "\u09C7"},  {"O", "\u0993", "\u09CB"},  {"oo", "\u0989", "\u09C1"},
};

// Kind "consonant", document order.
const PairRow kConsonants[] = {
    {"chh", "\u099B"}, {"Chh", "\u099B"},      {"NG", "\u099E"},      {"kh", "\u0996"},
    {"Kh", "\u0996"},  {"gh", "\u0998"},       {"Gh", "\u0998"},      {"ch", "\u099B"},
    {"Ch", "\u099B"},  {"jh", "\u099D"},       {"Jh", "\u099D"},      {"Th", "\u09A0"},
    {"th", "\u09A5"},  {"Dh", "\u09A2"},       {"dh", "\u09A7"},      {"ph", "\u09AB"},
    {"Ph", "\u09AB"},  {"bh", "\u09AD"},       {"Bh", "\u09AD"},      {"sh", "\u09B6"},
    {"Sh", "\u09B7"},  {"Rh", "\u09A2\u09BC"}, {"R", "\u09A1\u09BC"}, {"Y", "\u09AF\u09BC"},
    {"T", "\u099F"},   {"D", "\u09A1"},        {"N", "\u09A3"},       {"S", "\u09B6"},
    {"k", "\u0995"},   {"K", "\u0995"},        {"g", "\u0997"},       {"G", "\u0997"},
    {"c", "\u099A"},   {"C", "\u099A"},        {"j", "\u099C"},       {"J", "\u099C"},
    {"t", "\u09A4"},   {"d", "\u09A6"},        {"n", "\u09A8"},       {"p", "\u09AA"},
    {"P", "\u09AA"},   {"b", "\u09AC"},        {"B", "\u09AC"},       {"m", "\u09AE"},
    {"M", "\u09AE"},   {"y", "\u09AF"},        {"r", "\u09B0"},       {"l", "\u09B2"},
    {"L", "\u09B2"},   {"s", "\u09B8"},        {"h", "\u09B9"},       {"H", "\u09B9"},
    {"f", "\u09AB"},   {"F", "\u09AB"},        {"v", "\u09AD"},       {"V", "\u09AD"},
    {"z", "\u09AF"},   {"q", "\u0995"},        {"Q", "\u0995"},       {"Ng", "\u0999"},
};

// Kind "cluster", document order.
const PairRow kClusters[] = {
    {"ksh", "\u0995\u09CD\u09B7"},
    {"Ksh", "\u0995\u09CD\u09B7"},
    {"nch", "\u099E\u09CD\u099B"},
    {"nj", "\u099E\u09CD\u099C"},
    {"NDh", "\u09A3\u09CD\u09A2"},
    {"cch", "\u099A\u09CD\u099B"},
    {"cc", "\u099A\u09CD\u099A"},
    {"tt", "\u09A4\u09CD\u09A4"},
    {"TT", "\u099F\u09CD\u099F"},
    {"dd", "\u09A6\u09CD\u09A6"},
    {"DD", "\u09A1\u09CD\u09A1"},
    {"x", "\u0995\u09CD\u09B8"},
    {"X", "\u0995\u09CD\u09B8"},
    {"Z", "\u09CD\u09AF"},
    {"gg", "\u099C\u09CD\u099E"},
    {"Gg", "\u099C\u09CD\u099E"},
    {"GG", "\u099C\u09CD\u099E"},
    {"gG", "\u099C\u09CD\u099E"},
    {"jNG", "\u099C\u09CD\u099E"},
    {"kk", "\u0995\u09CD\u0995"},
    {"kt", "\u0995\u09CD\u09A4"},
    {"kT", "\u0995\u09CD\u099F"},
    {"kl", "\u0995\u09CD\u09B2"},
    {"ks", "\u0995\u09CD\u09B8"},
    {"kx", "\u0995\u09CD\u09B7"},
    {"kkh", "\u0995\u09CD\u09B7"},
    {"kSh", "\u0995\u09CD\u09B7"},
    {"gl", "\u0997\u09CD\u09B2"},
    {"gm", "\u0997\u09CD\u09AE"},
    {"gn", "\u0997\u09CD\u09A8"},
    {"gdh", "\u0997\u09CD\u09A7"},
    {"ghn", "\u0998\u09CD\u09A8"},
    {"nc", "\u099E\u09CD\u099A"},
    {"nd", "\u09A8\u09CD\u09A6"},
    {"nt", "\u09A8\u09CD\u09A4"},
    {"nk", "\u0999\u09CD\u0995"},
    {"nn", "\u09A8\u09CD\u09A8"},
    {"nm", "\u09A8\u09CD\u09AE"},
    {"ns", "\u09A8\u09CD\u09B8"},
    {"nD", "\u09A8\u09CD\u09A1"},
    {"nT", "\u09A8\u09CD\u099F"},
    {"nth", "\u09A8\u09CD\u09A5"},
    {"ndh", "\u09A8\u09CD\u09A7"},
    {"nTh", "\u09A8\u09CD\u09A0"},
    {"ngh", "\u0999\u09CD\u0998"},
    {"nkh", "\u0999\u09CD\u0996"},
    {"njh", "\u099E\u09CD\u099D"},
    {"ND", "\u09A3\u09CD\u09A1"},
    {"NN", "\u09A3\u09CD\u09A3"},
    {"NT", "\u09A3\u09CD\u099F"},
    {"NTh", "\u09A3\u09CD\u09A0"},
    {"Nm", "\u09A3\u09CD\u09AE"},
    {"Nn", "\u09A3\u09CD\u09A8"},
    {"pt", "\u09AA\u09CD\u09A4"},
    {"pp", "\u09AA\u09CD\u09AA"},
    {"pl", "\u09AA\u09CD\u09B2"},
    {"pn", "\u09AA\u09CD\u09A8"},
    {"ps", "\u09AA\u09CD\u09B8"},
    {"pT", "\u09AA\u09CD\u099F"},
    {"bb", "\u09AC\u09CD\u09AC"},
    {"bd", "\u09AC\u09CD\u09A6"},
    {"bj", "\u09AC\u09CD\u099C"},
    {"bl", "\u09AC\u09CD\u09B2"},
    {"bdh", "\u09AC\u09CD\u09A7"},
    {"mb", "\u09AE\u09CD\u09AC"},
    {"mm", "\u09AE\u09CD\u09AE"},
    {"mn", "\u09AE\u09CD\u09A8"},
    {"mp", "\u09AE\u09CD\u09AA"},
    {"ml", "\u09AE\u09CD\u09B2"},
    {"mv", "\u09AE\u09CD\u09AD"},
    {"mf", "\u09AE\u09CD\u09AB"},
    {"mbh", "\u09AE\u09CD\u09AD"},
    {"mph", "\u09AE\u09CD\u09AB"},
    {"mth", "\u09AE\u09CD\u09A5"},
    {"ll", "\u09B2\u09CD\u09B2"},
    {"lk", "\u09B2\u09CD\u0995"},
    {"lg", "\u09B2\u09CD\u0997"},
    {"lb", "\u09B2\u09CD\u09AC"},
    {"lm", "\u09B2\u09CD\u09AE"},
    {"lp", "\u09B2\u09CD\u09AA"},
    {"lD", "\u09B2\u09CD\u09A1"},
    {"lT", "\u09B2\u09CD\u099F"},
    {"ldh", "\u09B2\u09CD\u09A7"},
    {"lbh", "\u09B2\u09CD\u09AD"},
    {"jj", "\u099C\u09CD\u099C"},
    {"jjh", "\u099C\u09CD\u099D"},
    {"sk", "\u09B8\u09CD\u0995"},
    {"st", "\u09B8\u09CD\u09A4"},
    {"sp", "\u09B8\u09CD\u09AA"},
    {"sm", "\u09B8\u09CD\u09AE"},
    {"sn", "\u09B8\u09CD\u09A8"},
    {"sl", "\u09B8\u09CD\u09B2"},
    {"sf", "\u09B8\u09CD\u09AB"},
    {"sT", "\u09B8\u09CD\u099F"},
    {"sth", "\u09B8\u09CD\u09A5"},
    {"skh", "\u09B8\u09CD\u0996"},
    {"sph", "\u09B8\u09CD\u09AB"},
    {"sht", "\u09B6\u09CD\u09A4"},
    {"shc", "\u09B6\u09CD\u099A"},
    {"shl", "\u09B6\u09CD\u09B2"},
    {"shm", "\u09B6\u09CD\u09AE"},
    {"shn", "\u09B6\u09CD\u09A8"},
    {"shch", "\u09B6\u09CD\u099B"},
    {"ShT", "\u09B7\u09CD\u099F"},
    {"ShTh", "\u09B7\u09CD\u09A0"},
    {"ShN", "\u09B7\u09CD\u09A3"},
    {"Shk", "\u09B7\u09CD\u0995"},
    {"Shm", "\u09B7\u09CD\u09AE"},
    {"Shp", "\u09B7\u09CD\u09AA"},
    {"Shf", "\u09B7\u09CD\u09AB"},
    {"Shph", "\u09B7\u09CD\u09AB"},
    {"Sc", "\u09B6\u09CD\u099A"},
    {"Sl", "\u09B6\u09CD\u09B2"},
    {"Sm", "\u09B6\u09CD\u09AE"},
    {"Sn", "\u09B6\u09CD\u09A8"},
    {"St", "\u09B6\u09CD\u09A4"},
    {"Sch", "\u09B6\u09CD\u099B"},
    {"fl", "\u09AB\u09CD\u09B2"},
    {"phl", "\u09AB\u09CD\u09B2"},
    {"vl", "\u09AD\u09CD\u09B2"},
    {"bhl", "\u09AD\u09CD\u09B2"},
    {"hN", "\u09B9\u09CD\u09A3"},
    {"hl", "\u09B9\u09CD\u09B2"},
    {"hm", "\u09B9\u09CD\u09AE"},
    {"hn", "\u09B9\u09CD\u09A8"},
    {"tm", "\u09A4\u09CD\u09AE"},
    {"tn", "\u09A4\u09CD\u09A8"},
    {"Tm", "\u099F\u09CD\u09AE"},
    {"tth", "\u09A4\u09CD\u09A5"},
    {"ddh", "\u09A6\u09CD\u09A7"},
    {"dg", "\u09A6\u09CD\u0997"},
    {"dm", "\u09A6\u09CD\u09AE"},
    {"dv", "\u09A6\u09CD\u09AD"},
    {"dbh", "\u09A6\u09CD\u09AD"},
    {"dgh", "\u09A6\u09CD\u0998"},
    {"dhm", "\u09A7\u09CD\u09AE"},
    {"dhn", "\u09A7\u09CD\u09A8"},
    {"ngo", "\u0999\u09CD\u0997"},
    {"Gn", "\u0997\u09CD\u09A8"},
    {"Gdh", "\u0997\u09CD\u09A7"},
    {"Ngx", "\u0999\u09CD\u09B7"},
    {"ngO", "\u0999\u09CD\u0997\u09CB"},
    {"nga", "\u0999\u09CD\u0997\u09BE"},
    {"ngA", "\u0999\u09CD\u0997\u09BE"},
    {"ngi", "\u0999\u09CD\u0997\u09BF"},
    {"ngI", "\u0999\u09CD\u0997\u09C0"},
    {"ngu", "\u0999\u09CD\u0997\u09C1"},
    {"ngU", "\u0999\u09CD\u0997\u09C2"},
    {"nge", "\u0999\u09CD\u0997\u09C7"},
    {"ngE", "\u0999\u09CD\u0997\u09C7"},
    {"ngOI", "\u0999\u09CD\u0997\u09C8"},
    {"ngOU", "\u0999\u09CD\u0997\u09CC"},
    {"oZ", "\u0985\u09CD\u09AF"},
    {"aZ", "\u0985\u09CD\u09AF\u09BE"},
    {"AZ", "\u0985\u09CD\u09AF\u09BE"},
    {"gN", "\u0997\u09CD\u09A3"},
    {"GN", "\u0997\u09CD\u09A3"},
    {"cNG", "\u099A\u09CD\u099E"},
    {"km", "\u0995\u09CD\u09AE"},
    {"Rg", "\u09A1\u09BC\u09CD\u0997"},
    {"lv", "\u09B2\u09CD\u09AD"},
    {"skl", "\u09B8\u09CD\u0995\u09CD\u09B2"},
    {"spl", "\u09B8\u09CD\u09AA\u09CD\u09B2"},
    {"Ngk", "\u0999\u09CD\u0995"},
    {"Ngkh", "\u0999\u09CD\u0996"},
    {"Ngg", "\u0999\u09CD\u0997"},
    {"Nggh", "\u0999\u09CD\u0998"},
    {"Ngm", "\u0999\u09CD\u09AE"},
    {"Ghn", "\u0998\u09CD\u09A8"},
    {"Gm", "\u0997\u09CD\u09AE"},
    {"Gl", "\u0997\u09CD\u09B2"},
    {"kkhN", "\u0995\u09CD\u09B7\u09CD\u09A3"},
    {"kxN", "\u0995\u09CD\u09B7\u09CD\u09A3"},
    {"kShN", "\u0995\u09CD\u09B7\u09CD\u09A3"},
    {"kkhm", "\u0995\u09CD\u09B7\u09CD\u09AE"},
    {"kxm", "\u0995\u09CD\u09B7\u09CD\u09AE"},
    {"kShm", "\u0995\u09CD\u09B7\u09CD\u09AE"},
    {"Ngkkh", "\u0999\u09CD\u0995\u09CD\u09B7"},
    {"Ngkx", "\u0999\u09CD\u0995\u09CD\u09B7"},
    {"NgkSh", "\u0999\u09CD\u0995\u09CD\u09B7"},
    {"NGc", "\u099E\u09CD\u099A"},
    {"NGch", "\u099E\u09CD\u099B"},
    {"NGj", "\u099E\u09CD\u099C"},
    {"NGjh", "\u099E\u09CD\u099D"},
    {"lkh", "\u09B2\u0996"},
    {"lgh", "\u09B2\u0998"},
    {"lph", "\u09B2\u09AB"},
    {"nsh", "\u09A8\u09B6"},
};

// Document order.
const PairRow kMarks[] = {
    {"..", "\u0965"}, {",,", "\u09CD\u200C"}, {"^", "\u0981"},   {"~", "\u0981"},
    {":", "\u0983"},  {".", "\u0964"},        {"t,,", "\u09CE"}, {"rri", "\u09C3"},
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
  EXPECT_EQ(g->vowels.size(), std::size(kVowels));
  EXPECT_EQ(g->consonants.size(), std::size(kConsonants) + std::size(kClusters) + 3);
  EXPECT_EQ(g->marks.size(), std::size(kMarks));
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

TEST(GrammarDataTest, VowelsInOrderWithExactCodePoints) {
  const json& vowels = document().at("vowels");
  ASSERT_EQ(vowels.size(), std::size(kVowels));
  for (size_t i = 0; i < vowels.size(); ++i) {
    const VowelRow& row = kVowels[i];
    const json& rule = vowels[i];
    EXPECT_EQ(rule.size(), 3u) << row.latin;
    EXPECT_EQ(rule.at("latin").get<std::string>(), row.latin) << "position " << i;
    EXPECT_EQ(code_points(rule.at("independent").get<std::string>()), code_points(row.independent))
        << row.latin;
    EXPECT_EQ(code_points(rule.at("dependent").get<std::string>()), code_points(row.dependent))
        << row.latin;
  }
}

TEST(GrammarDataTest, ConsonantsInOrderWithExactCodePointsAndKinds) {
  struct Expected {
    PairRow row;
    const char* kind;
  };
  std::vector<Expected> expected;
  for (const PairRow& row : kConsonants) expected.push_back({row, "consonant"});
  for (const PairRow& row : kClusters) expected.push_back({row, "cluster"});
  // "ng", "w" and "W" follow the clusters.
  expected.push_back({{"ng", "\u0982"}, "mark"});
  expected.push_back({{"w", "\u0993"}, "letter"});
  expected.push_back({{"W", "\u0993"}, "letter"});

  const json& consonants = document().at("consonants");
  ASSERT_EQ(consonants.size(), expected.size());
  for (size_t i = 0; i < consonants.size(); ++i) {
    const Expected& want = expected[i];
    const json& rule = consonants[i];
    EXPECT_EQ(rule.at("latin").get<std::string>(), want.row.latin) << "position " << i;
    EXPECT_EQ(code_points(rule.at("bangla").get<std::string>()), code_points(want.row.bangla))
        << want.row.latin;
    EXPECT_EQ(rule.at("kind").get<std::string>(), want.kind) << want.row.latin;
    EXPECT_EQ(rule.size(), rule.contains("ends_with_vowel") ? 4u : 3u) << want.row.latin;
  }
}

TEST(GrammarDataTest, MarksAndDigitsWithExactCodePoints) {
  const json& marks = document().at("marks");
  ASSERT_EQ(marks.size(), std::size(kMarks));
  for (size_t i = 0; i < marks.size(); ++i) {
    const PairRow& row = kMarks[i];
    EXPECT_EQ(marks[i].size(), 2u) << row.latin;
    EXPECT_EQ(marks[i].at("latin").get<std::string>(), row.latin) << "position " << i;
    EXPECT_EQ(code_points(marks[i].at("bangla").get<std::string>()), code_points(row.bangla))
        << row.latin;
  }

  const PairRow digits[] = {
      {"0", "\u09E6"}, {"1", "\u09E7"}, {"2", "\u09E8"}, {"3", "\u09E9"}, {"4", "\u09EA"},
      {"5", "\u09EB"}, {"6", "\u09EC"}, {"7", "\u09ED"}, {"8", "\u09EE"}, {"9", "\u09EF"},
  };
  const json& table = document().at("digits");
  EXPECT_EQ(table.size(), std::size(digits));
  for (const PairRow& row : digits) {
    ASSERT_TRUE(table.contains(row.latin)) << row.latin;
    EXPECT_EQ(code_points(table.at(row.latin).get<std::string>()), code_points(row.bangla))
        << row.latin;
  }
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
