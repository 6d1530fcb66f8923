// The fuzzy phonetic lookup over the small test lexicon (engine/tests/data/fixture_lexicon.tsv).
#include "phonetic_suggest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store_documents.h"
#include "user_dict.h"

namespace tolvani::engine::phonetic_suggest {
namespace {

// "অত 4700 3, ওত 4030 3".
std::string show(const std::vector<Candidate>& candidates) {
  std::string out;
  for (const Candidate& c : candidates) {
    if (!out.empty()) out += ", ";
    out += c.text + " " + std::to_string(c.score) + " " + std::to_string(static_cast<int>(c.kind));
  }
  return out;
}

// "ksh|o|m|a".
std::string show(const std::vector<Segment>& segments) {
  std::string out;
  for (const Segment& s : segments) {
    if (!out.empty()) out += "|";
    out += s.latin;
  }
  return out;
}

TEST(PhoneticSegmentTest, GreedyLongestRowFirst) {
  struct Row {
    const char* key;
    const char* expected;
  };
  const Row rows[] = {
      {"ami", "a|m|i"},
      {"kshoma", "ksh|o|m|a"},  // not k|sh|o|m|a
      {"khaa", "kh|aa"},        // not k|h|a|a
      {"aaa", "aa|a"},
      {"rri", "r|ri"},
      {"kkh", "k|kh"},
      {"shh", "sh|h"},
      {"ngo", "ng|o"},
      {"oiu", "oi|u"},
      {"KHaa", "KH|aa"},  // looked up lowercased, kept
                          // as typed
      {"x1.", "x|1|."},
      {"\u0995a", "\u0995|a"},
      {"", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(show(segment_key(row.key)), row.expected) << row.key;

  const std::vector<Segment> x = segment_key("x");
  ASSERT_EQ(x.size(), 1u);
  EXPECT_EQ(x[0].option_count, 1);
  EXPECT_EQ(x[0].options[0], "x");
  EXPECT_FALSE(x[0].consonant);

  const auto ksh = match_segment("KSH", "ksh");
  ASSERT_TRUE(ksh);
  EXPECT_EQ(ksh->latin, "KSH");
  ASSERT_EQ(ksh->option_count, 1);
  EXPECT_EQ(ksh->options[0], "\u0995\u09CD\u09B7");
  EXPECT_TRUE(ksh->consonant);
  EXPECT_FALSE(match_segment("KSH", "KSH"));
  EXPECT_FALSE(match_segment("kk", "kk"));
}

TEST(PhoneticSegmentTest, PrefixChecksAreRemembered) {
  PrefixCache cache;
  EXPECT_TRUE(cached_prefix_check("\u09AA\u09B0\u09BF", cache));  // পরি…
  EXPECT_FALSE(cached_prefix_check("\u09AA\u09B0\u09CB", cache));
  ASSERT_EQ(cache.size(), 2u);
  // A remembered answer is taken as it stands.
  cache["\u09AA\u09B0\u09CB"] = true;
  EXPECT_TRUE(cached_prefix_check("\u09AA\u09B0\u09CB", cache));
  EXPECT_EQ(cache.size(), 2u);
}

TEST(PhoneticLookupTest, WordsSpeltBySegments) {
  struct Row {
    const char* key;
    size_t limit;
    const char* expected;
  };
  const Row rows[] = {
      {"ami", 5, "আমি 13000 3"},
      {"  AMI\t", 5, "আমি 13000 3"},
      // After a consonant, the next consonant is tried with and without a hasanta.
      {"shkt", 5, "শক্ত 4400 3, শকট 4060 3"},
      // Never a hasanta after a vowel: অ্ত is a word but is not found.
      {"ot", 5, "অত 4700 3, ওত 4030 3, ওট 4020 3"},
      {"pat", 5, "পাত 9000 3, পাট 4020 3"},
      // A character outside the table stands for itself.
      {"ux", 5, "উx 4010 3"},
      {"xu", 5, ""},
      // Twice the limit ends the search: with a limit of 1 only ওট and ওত are reached (the last
      // option is explored first), so the better অত is never seen.
      {"ot", 1, "ওত 4030 3"},
      {"ot", 0, ""},
      {"", 5, ""},
      {" \t ", 5, ""},
      {"aaaaaaaaaaaaaaaaaaaa", 5, ""},   // 20 bytes, searched, nothing found
      {"aaaaaaaaaaaaaaaaaaaaa", 5, ""},  // 21 bytes, not searched
  };
  UserDictionary dict;
  for (const Row& row : rows) {
    EXPECT_EQ(show(fuzzy_phonetic_lookup(row.key, dict, row.limit)), row.expected)
        << row.key << " limit " << row.limit;
  }
}

TEST(PhoneticLookupTest, UserWords) {
  UserDictionaryDocument doc;
  doc.words["\u09AA\u09B0\u09BF"] = UserEntry{0, 0, 10};  // পরি: no lexicon word, a prefix of one
  doc.words["\u0993\u099F"] = UserEntry{0, 0, 10};        // ওট: a lexicon word too
  const UserDictionary dict("unused-user-dictionary.json", std::move(doc));
  struct Row {
    const char* key;
    const char* expected;
  };
  const Row rows[] = {
      // Frequency 0: boost + 4,000.
      {"pri", "\u09AA\u09B0\u09BF 5100 1"},
      {"ot", "\u0993\u099F 5120 1, অত 4700 3, ওত 4030 3"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(show(fuzzy_phonetic_lookup(row.key, dict, 5)), row.expected) << row.key;
  }
}

TEST(PhoneticLookupTest, WorkStopsAtItsBounds) {
  UserDictionary dict;
  struct Row {
    const char* key;
    size_t limit;
    size_t found;
    bool searched;
  };
  const Row rows[] = {
      {"ot", 5, 3, true},
      {"ot", 2, 3, true},  // 3 < 4: the whole tree is searched
      {"ot", 1, 2, true},
      {"aaaaaaaaaaaaaaaaaaaa", 5, 0, true},
      {"aaaaaaaaaaaaaaaaaaaaa", 5, 0, false},
  };
  for (const Row& row : rows) {
    SearchStats stats;
    fuzzy_phonetic_lookup(row.key, dict, row.limit, lexicon_words(), stats);
    EXPECT_EQ(stats.found, row.found) << row.key << " limit " << row.limit;
    EXPECT_EQ(stats.states > 0, row.searched) << row.key;
    EXPECT_LE(stats.states, 1500u) << row.key;
  }
  // One-letter spellings are pushed without a lexicon search; longer ones are searched once
  // each however many paths reach them.
  SearchStats stats;
  fuzzy_phonetic_lookup("ot", dict, 5, lexicon_words(), stats);
  EXPECT_EQ(stats.prefix_searches, 6u);  // ো অ ও, each followed by ত or ট
  // Root, 3 vowels, 3 words-or-not for each of ত and ট among the surviving prefixes.
  EXPECT_EQ(stats.states, 1u + 3u + 3u);
}

// A lexicon in which every text begins some word, and (when `words`) every text is a word of
// frequency 1: nothing is pruned, so the search's own bounds are all that stop it.
class Boundless final : public WordSource {
 public:
  explicit Boundless(bool words) : words_(words) {}
  bool has_word_with_prefix(std::string_view) const override { return true; }
  std::optional<uint32_t> frequency(std::string_view) const override {
    return words_ ? std::optional<uint32_t>(1) : std::nullopt;
  }

 private:
  bool words_;
};

TEST(PhoneticLookupTest, EveryCombinationInOrderOfDiscovery) {
  const Boundless all(true);
  struct Row {
    const char* key;
    const char* expected;  // texts, in order; all score 4,001
  };
  const Row rows[] = {
      // The last option first, its plain spelling before its hasanta join.
      {"kt", "কট ক্ট কত ক্ত"},
      // No hasanta after a vowel.
      {"at", "অট অত াট াত আট আত"},
      {"kx", "কx"},  // x stands for itself and joins nothing
      {"xk", "xক"},
      {"ksh", "ক্ষ"},
      {"y", "য় য"},
      {"ng", "ঙ ং"},
      {"ri", "রি ৃ ঋ"},
  };
  UserDictionary dict;
  for (const Row& row : rows) {
    SearchStats stats;
    std::string got;
    for (const Candidate& c : fuzzy_phonetic_lookup(row.key, dict, 20, all, stats)) {
      if (!got.empty()) got += " ";
      got += c.text;
      EXPECT_EQ(c.score, 4001) << row.key;
      EXPECT_EQ(c.kind, CandidateKind::kPhonetic) << row.key;
    }
    EXPECT_EQ(got, row.expected) << row.key;
  }
}

TEST(PhoneticLookupTest, BudgetAndResultCap) {
  const Boundless prefixes_only(false);
  const Boundless all(true);
  struct Row {
    const WordSource* words;
    size_t limit;
    size_t states;
    size_t found;
  };
  const Row rows[] = {
      // 1,500 states below a limit of 6, 5,000 from 6 on.
      {&prefixes_only, 1, 1'500, 0},
      {&prefixes_only, 5, 1'500, 0},
      {&prefixes_only, 6, 5'000, 0},
      {&prefixes_only, 15, 5'000, 0},
      // Twice the limit in words ends it first: twelve states down to the first words, then
      // four words under each parent (দ and ড, each joined and plain).
      {&all, 1, 12 + 2, 2},
      {&all, 5, 12 + 4 + 1 + 4 + 1 + 2, 10},
      {&all, 6, 12 + 4 + 1 + 4 + 1 + 4, 12},
  };
  UserDictionary dict;
  for (const Row& row : rows) {
    SearchStats stats;
    const auto got = fuzzy_phonetic_lookup("tdtdtdtdtdtd", dict, row.limit, *row.words, stats);
    EXPECT_EQ(stats.states, row.states) << row.limit;
    EXPECT_EQ(stats.found, row.found) << row.limit;
    EXPECT_EQ(got.size(), std::min(row.found, row.limit)) << row.limit;
  }
}

}  // namespace
}  // namespace tolvani::engine::phonetic_suggest
