// The lexicon's lookups over the small test lexicon (engine/tests/data/fixture_lexicon.tsv),
// checked against plain scans of its entries.
#include "lexicon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "keyfold.h"
#include "normalize.h"

namespace tolvani::engine {
namespace {

std::vector<LexiconEntry> all_entries() {
  std::vector<LexiconEntry> out;
  for (uint32_t id = 0; id < lexicon_size(); ++id) out.push_back(lexicon_entry(id));
  return out;
}

std::set<std::string> all_keys() {
  std::set<std::string> keys;
  for (const LexiconEntry& e : all_entries()) keys.emplace(e.phonetic);
  return keys;
}

// The words of `range`, in order, with frequencies: "কি 721, কী 609".
std::string show(IdRange range) {
  std::string out;
  for (uint32_t id = range.start; id < range.end; ++id) {
    const LexiconEntry e = lexicon_entry(id);
    if (!out.empty()) out += ", ";
    out += std::string(e.bangla) + " " + std::to_string(e.frequency);
  }
  return out;
}

TEST(LexiconTest, ExactRangesOfTheQuotedKeys) {
  EXPECT_EQ(show(exact_key_range(",,yaaddaam")), "অ্যাডাম 86");
  EXPECT_EQ(exact_key_range(",,yaaddaam"), (IdRange{0, 1}));
  EXPECT_EQ(show(exact_key_range("a")), "আঃ 73, আঁ 12");
  EXPECT_EQ(show(exact_key_range("ki")), "কি 721, কী 609, কই 73, কিঃ 17");
  // The empty key, a key with no row for its prefix, and a mere prefix of keys.
  EXPECT_EQ(exact_key_range(""), (IdRange{0, 0}));
  EXPECT_EQ(exact_key_range("qqq"), (IdRange{0, 0}));
  EXPECT_EQ(exact_key_range("ama"), (IdRange{0, 0}));
  EXPECT_EQ(exact_key_range("amarx"), (IdRange{0, 0}));
  // Keys of one and two bytes are found through their zero-padded prefixes.
  EXPECT_EQ(show(exact_key_range("z")), "য 2");
  EXPECT_EQ(show(exact_key_range("zz")), "জজ 2");
  EXPECT_EQ(show(exact_key_range("zzz")), "জজজ 2");
}

TEST(LexiconTest, LookupsEqualAPlainScan) {
  const std::vector<LexiconEntry> entries = all_entries();
  std::set<std::string> probes = all_keys();
  for (const char* extra : {"", "b", "ba", "kalk", "zzzz", "~", "a,", "kemo", "kemonn"}) {
    probes.insert(extra);
  }
  for (const std::string& key : probes) {
    // Exact: the entries of the key, best first.
    std::vector<uint32_t> expected;
    for (uint32_t id = 0; id < entries.size(); ++id) {
      if (entries[id].phonetic == key) expected.push_back(id);
    }
    const IdRange r = exact_key_range(key);
    std::vector<uint32_t> got;
    for (uint32_t id = r.start; id < r.end; ++id) got.push_back(id);
    EXPECT_EQ(got, expected) << key;
    for (size_t i = 1; i < got.size(); ++i) {
      EXPECT_GE(entries[got[i - 1]].frequency, entries[got[i]].frequency) << key;
    }

    // Folded: every entry whose folded key equals the folded probe.
    const std::string f = fold_key(key);
    std::multiset<uint32_t> expected_folded;
    for (uint32_t id = 0; id < entries.size(); ++id) {
      if (fold_key(entries[id].phonetic) == f) expected_folded.insert(id);
    }
    const auto ids = folded_key_ids(f);
    EXPECT_EQ(std::multiset<uint32_t>(ids.begin(), ids.end()), expected_folded) << key;
    for (size_t i = 1; i < ids.size(); ++i) {
      EXPECT_GE(entries[ids[i - 1]].frequency, entries[ids[i]].frequency) << key;
    }
  }

  // Key prefixes: every prefix of every key, and texts that pad or overflow the index rows.
  std::set<std::string> prefixes;
  for (const std::string& key : probes) {
    for (size_t i = 1; i <= key.size(); ++i) prefixes.insert(key.substr(0, i));
  }
  using namespace std::string_literals;
  for (const std::string& odd :
       {"a\0"s, "k\0a"s, "\xff"s, "a\xff\xff"s, "\xff\xff\xff\xff"s, "zz"s}) {
    prefixes.insert(odd);
  }
  for (const std::string& prefix : prefixes) {
    std::vector<uint32_t> expected;
    for (uint32_t id = 0; id < entries.size(); ++id) {
      if (entries[id].phonetic.starts_with(prefix)) expected.push_back(id);
    }
    std::vector<uint32_t> got;
    for (const IdRange& r : key_prefix_ranges(prefix)) {
      for (uint32_t id = r.start; id < r.end; ++id) got.push_back(id);
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected) << prefix;
  }
  for (const IdRange& r : key_prefix_ranges("")) EXPECT_TRUE(r.empty());

  // Word map: each word's highest frequency.
  std::map<std::string, uint32_t> best;
  for (const LexiconEntry& e : entries) {
    uint32_t& f = best[std::string(e.bangla)];
    f = std::max(f, e.frequency);
  }
  for (const auto& [word, frequency] : best) {
    EXPECT_EQ(lexicon_frequency(word), frequency) << word;
    EXPECT_EQ(frequency_for(word), frequency) << word;
    EXPECT_TRUE(lexicon_contains_with_cache_policy(word, true)) << word;
  }
  EXPECT_EQ(lexicon_frequency("নেই-এমন"), std::nullopt);
  EXPECT_EQ(frequency_for(""), 0u);

  // Buckets: entries whose word or key starts with the bucket key, best first.
  for (bool bangla : {true, false}) {
    const PrefixIndex& index = bangla ? bengali_index() : phonetic_index();
    std::set<std::string> bucket_keys;
    for (const LexiconEntry& e : entries) {
      const std::string_view text = bangla ? e.bangla : e.phonetic;
      const size_t one = bangla ? 3 : 1;  // the fixture's Bangla letters are 3 bytes each
      bucket_keys.emplace(text.substr(0, one));
      if (text.size() > one) bucket_keys.emplace(text.substr(0, 2 * one));
    }
    for (const std::string& bucket : bucket_keys) {
      std::vector<uint32_t> members;
      for (uint32_t id = 0; id < entries.size(); ++id) {
        if ((bangla ? entries[id].bangla : entries[id].phonetic).starts_with(bucket)) {
          members.push_back(id);
        }
      }
      std::stable_sort(members.begin(), members.end(), [&](uint32_t a, uint32_t b) {
        return entries[a].frequency > entries[b].frequency;
      });
      const auto got = index.get(bucket);
      ASSERT_TRUE(got) << bucket;
      EXPECT_EQ(std::vector<uint32_t>(got->begin(), got->end()), members) << bucket;
    }
    EXPECT_FALSE(index.get("Q"));
  }
}

TEST(LexiconTest, BucketFallbacks) {
  // "কো" has no bucket of its own: the first character's bucket answers.
  const auto ka = collect_indices_for_prefix(bengali_index(), "\u0995");
  ASSERT_FALSE(ka.empty());
  const auto fallback = collect_indices_for_prefix(bengali_index(), "\u0995\u09CB\u09A8");
  EXPECT_EQ(std::vector<uint32_t>(fallback.begin(), fallback.end()),
            std::vector<uint32_t>(ka.begin(), ka.end()));
  // The two-character bucket is preferred when it exists.
  const auto ki = collect_indices_for_prefix(bengali_index(), "\u0995\u09BF\u099B\u09C1");
  EXPECT_LT(ki.size(), ka.size());
  for (uint32_t id : ki) EXPECT_TRUE(lexicon_entry(id).bangla.starts_with("\u0995\u09BF"));
  // The fuzzy lookup always takes the first character only.
  const auto fuzzy = bengali_fuzzy_indices("\u0995\u09BF");
  EXPECT_EQ(fuzzy.size(), ka.size());
  EXPECT_TRUE(collect_indices_for_prefix(bengali_index(), "").empty());
  EXPECT_TRUE(collect_indices_for_prefix(bengali_index(), "\u0998").empty());
  EXPECT_FALSE(collect_indices_for_prefix(phonetic_index(), "q").size());
  EXPECT_FALSE(collect_indices_for_prefix(phonetic_index(), "k").empty());
}

TEST(LexiconTest, BestExactEntryTakesTheWordFrequencyThenTheSmallestWord) {
  // ভালো is listed at 3000 under "bhalo", ভাল at 1500.
  const auto bhalo = best_exact_entry("bhalo");
  ASSERT_TRUE(bhalo);
  EXPECT_EQ(bhalo->first, "ভালো");
  EXPECT_EQ(bhalo->second, 3000);
  // "zz" and "z" have one entry each; "bari" picks বাড়ি over বারি.
  EXPECT_EQ(best_exact_entry("bari")->first, "বাড়ি");
  // Equal values: the smallest word in byte order.
  EXPECT_EQ(best_exact_entry("tie")->first, "কক");
  EXPECT_EQ(best_exact_entry("nothing"), std::nullopt);
  EXPECT_EQ(best_exact_entry(""), std::nullopt);
  EXPECT_TRUE(has_exact_entry_for("ki", "কী"));
  EXPECT_FALSE(has_exact_entry_for("ki", "আমি"));
  EXPECT_FALSE(has_exact_entry_for("", ""));
}

TEST(LexiconTest, EntryAccessOutOfRange) {
  const uint32_t n = lexicon_size();
  const LexiconEntry past = lexicon_entry(n);
  EXPECT_TRUE(past.bangla.empty());
  EXPECT_TRUE(past.phonetic.empty());
  EXPECT_EQ(past.frequency, 0u);
  EXPECT_EQ(key_run_end(n), n);
  EXPECT_EQ(key_run_end(UINT32_MAX), UINT32_MAX);
  EXPECT_EQ(entry_phonetic(n + 5), "");
  EXPECT_EQ(first_entry_with_key_at_least(5, 5, "a"), 5u);
  EXPECT_EQ(first_entry_with_key_at_least(7, 3, "a"), 7u);
  // A run ends where the key changes.
  const IdRange ki = exact_key_range("ki");
  EXPECT_EQ(key_run_end(ki.start), ki.end);
  EXPECT_EQ(key_run_end(ki.start + 1), ki.end);
}

TEST(LexiconTest, FoldExamples) {
  struct Row {
    const char* key;
    const char* folded;
  };
  const Row rows[] = {{",,yaaddaam", "yaddam"},
                      {"baachiyoechhil", "bachiyoechhil"},
                      {"dog,,dhaach,,chhilaam", "dogdhachchhilam"},
                      {"Sheesh", "sis"},
                      {"moo", "mu"},
                      {"kaaoo", "kau"},
                      {"ball", "bal"},
                      {"aa", "a"},
                      {"bondho", "bondh"},
                      {"bhalo", "val"},
                      {"valo", "val"},
                      {"bho", "vo"},
                      {"", ""},
                      {"a'b.c^d`e~f", "abcdef"},
                      {"phool", "ful"},
                      {"\xFF", ""}};
  KeyFolder folder;
  for (const Row& row : rows) {
    EXPECT_EQ(fold_key(row.key), row.folded) << row.key;
    EXPECT_EQ(folder.fold(row.key), row.folded) << row.key;
  }
}

TEST(LexiconTest, CorruptBlobGivesMessageAndEmptyMap) {
  std::string blob(lexicon_data().lexicon_map);
  ASSERT_GT(blob.size(), 64u);
  // Damage the trie's header, past the value array.
  const size_t trie_at = blob.size() - 40;
  for (size_t i = trie_at; i < blob.size(); ++i) blob[i] = static_cast<char>(0xA5);
  ::testing::internal::CaptureStderr();
  const FstMap broken = load_fst_map(blob, "lexicon");
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(message.starts_with("[Tolvani] failed to load lexicon FST: ")) << message;
  EXPECT_EQ(broken.size(), 0u);
  EXPECT_FALSE(broken.contains("আমি"));

  ::testing::internal::CaptureStderr();
  const FstMap truncated = load_fst_map(std::string_view(blob).substr(0, 10), "bengali bucket");
  EXPECT_TRUE(::testing::internal::GetCapturedStderr().starts_with(
      "[Tolvani] failed to load bengali bucket FST: "));
  EXPECT_FALSE(truncated.has_key_with_prefix(""));

  // The intact blob opens.
  const FstMap intact = load_fst_map(lexicon_data().lexicon_map, "lexicon");
  EXPECT_TRUE(intact.contains("আমি"));
  EXPECT_TRUE(intact.has_key_with_prefix("আম"));
  EXPECT_FALSE(intact.has_key_with_prefix("আমিx"));
}

// Runs in a process of its own (each test does), so nothing is built before it.
TEST(LexiconColdTest, NonBlockingAnswersBeforeAnythingIsBuilt) {
  EXPECT_FALSE(suggestions_ready());
  EXPECT_FALSE(lexicon_contains_with_cache_policy("আমি", false));
  EXPECT_TRUE(has_exact_phonetic_with_cache_policy("qqqq", false));
  EXPECT_FALSE(has_exact_phonetic_with_cache_policy("  ", false));
  EXPECT_FALSE(suggestions_ready());
  warm_caches();
  EXPECT_TRUE(suggestions_ready());
  EXPECT_TRUE(lexicon_contains_with_cache_policy("আমি", false));
  EXPECT_FALSE(has_exact_phonetic_with_cache_policy("qqqq", false));
  EXPECT_TRUE(has_exact_phonetic_with_cache_policy(" KI ", false));
}

}  // namespace
}  // namespace tolvani::engine
