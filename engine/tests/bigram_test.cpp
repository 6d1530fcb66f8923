// The built-in word pairs: counting the seed list, ranking and curating the follow-up lists, the
// cache policy of the process-wide tables, and the embedded data they are built from.
#include "bigram.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "json_reader.h"
#include "lexicon.h"
#include "spelling_preferences.h"

namespace tolvani::engine::bigram {
namespace {

// "first>following@position×count" for every pair, sorted.
std::string render(const BigramCounts& counts) {
  std::set<std::string> rows;
  for (const auto& [first, followers] : counts) {
    for (const auto& [following, seen] : followers) {
      rows.insert(first + ">" + following + "@" + std::to_string(seen.first) + "x" +
                  std::to_string(seen.count));
    }
  }
  std::string out;
  for (const std::string& row : rows) out += (out.empty() ? "" : " ") + row;
  return out;
}

std::string join(std::span<const std::string> words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : ",") + w;
  return out;
}

// Everything under `first`, or "(none)".
std::string list_of(const BigramRanked& ranked, const std::string& first) {
  const auto it = ranked.find(first);
  return it == ranked.end() ? "(none)" : join(it->second);
}

struct Pair {
  std::string first;
  std::string following;
  uint32_t position;
  uint16_t count;
};

BigramCounts counts_of(const std::vector<Pair>& pairs) {
  BigramCounts counts;
  for (const Pair& p : pairs) counts[p.first][p.following] = Seen{p.position, p.count};
  return counts;
}

RankingLookups lookups_of(std::map<std::string, uint32_t> frequencies,
                          std::map<std::string, std::string> standard = {}) {
  return RankingLookups{
      [frequencies = std::move(frequencies)](std::string_view w) -> std::optional<uint32_t> {
        const auto it = frequencies.find(std::string(w));
        if (it == frequencies.end()) return std::nullopt;
        return it->second;
      },
      [standard = std::move(standard)](std::string_view w) -> std::optional<std::string_view> {
        const auto it = standard.find(std::string(w));
        if (it == standard.end()) return std::nullopt;
        return std::string_view(it->second);
      },
  };
}

TEST(BigramTest, CountsKeepFirstPositionAndSaturate) {
  EXPECT_EQ(render(load_counts(R"([["a","b"],["a","c"],["a","b"],["b","a"],["b","b"]])")),
            "a>b@0x2 a>c@1x1 b>a@3x1 b>b@4x1");

  std::string many = R"([["x","y"])";
  for (int i = 0; i < 65540; ++i) many += R"(,["x","y"])";
  many += R"(,["x","z"]])";
  EXPECT_EQ(render(load_counts(many)), "x>y@0x65535 x>z@65541x1");
}

TEST(BigramTest, MalformedSeedDocumentIsReportedAndGivesNoPairs) {
  const char* const rejected[] = {
      "",
      "{}",
      R"([["a"]])",
      R"([["a","b","c"]])",
      R"([["a",1]])",
      R"([[null,"b"]])",
      R"(["ab"])",
      R"([["a","b"],)",
  };
  for (const char* document : rejected) {
    ::testing::internal::CaptureStderr();
    const BigramCounts counts = load_counts(document);
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(counts.empty()) << document;
    EXPECT_TRUE(message.starts_with("[Tolvani] failed to parse bigram data: ")) << document;
    EXPECT_GT(message.size(), std::string_view("[Tolvani] failed to parse bigram data: \n").size())
        << document;
    EXPECT_EQ(message.find('\n'), message.size() - 1) << document;
  }
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(load_counts("[]").empty());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(BigramTest, FollowersAreRankedByScore) {
  struct Row {
    const char* name;
    std::vector<Pair> pairs;
    std::map<std::string, uint32_t> frequencies;
    std::map<std::string, std::string> standard;
    const char* expected;  // the list under "x"
  };
  const Row rows[] = {
      {"count and frequency outweigh an earlier first occurrence",
       {{"x", "a", 0, 1}, {"x", "b", 1, 5}},
       {{"a", 1}, {"b", 1000}},
       {},
       "b,a"},
      {"equal evidence keeps first-occurrence order",
       {{"x", "b", 0, 1}, {"x", "a", 1, 1}},
       {{"a", 5}, {"b", 5}},
       {},
       "b,a"},
      // b first: 1000 ln 100 − 500 ln p against a second: 1000 ln 100 − 1500 ln 2, where p counts
      // first words, not occurrences.
      {"a follower of 8 first words still wins, however often it follows them",
       {{"x", "b", 0, 1},
        {"x", "a", 1, 1},
        {"w1", "b", 0, 3},
        {"w2", "b", 0, 3},
        {"w3", "b", 0, 3},
        {"w4", "b", 0, 3},
        {"w5", "b", 0, 3},
        {"w6", "b", 0, 3},
        {"w7", "b", 0, 3}},
       {{"a", 100}, {"b", 100}},
       {},
       "b,a"},
      {"a follower of 9 first words loses",
       {{"x", "b", 0, 1},
        {"x", "a", 1, 1},
        {"w1", "b", 0, 1},
        {"w2", "b", 0, 1},
        {"w3", "b", 0, 1},
        {"w4", "b", 0, 1},
        {"w5", "b", 0, 1},
        {"w6", "b", 0, 1},
        {"w7", "b", 0, 1},
        {"w8", "b", 0, 1}},
       {{"a", 100}, {"b", 100}},
       {},
       "a,b"},
      // With x and z counted as places, a would sit third and b fourth, and b would win.
      {"the first word itself and words outside the lexicon take no place",
       {{"x", "x", 0, 5}, {"x", "z", 1, 5}, {"x", "a", 2, 1}, {"x", "b", 3, 1}},
       {{"x", 1000}, {"a", 1}, {"b", 2}},
       {},
       "a,b"},
      {"a frequency of 0 counts as 1",
       {{"x", "b", 0, 1}, {"x", "a", 1, 1}},
       {{"a", 2}, {"b", 0}},
       {},
       "b,a"},
      {"variants are written in their standard spelling, once",
       {{"x", "a1", 0, 3}, {"x", "b", 1, 2}, {"x", "a", 2, 1}},
       {{"a1", 10}, {"b", 10}, {"a", 10}},
       {{"a1", "a"}},
       "a,b"},
      {"at most eight followers are kept",
       {{"x", "f1", 0, 1},
        {"x", "f2", 1, 1},
        {"x", "f3", 2, 1},
        {"x", "f4", 3, 1},
        {"x", "f5", 4, 1},
        {"x", "f6", 5, 1},
        {"x", "f7", 6, 1},
        {"x", "f8", 7, 1},
        {"x", "f9", 8, 1},
        {"x", "f10", 9, 9}},
       {{"f1", 1},
        {"f2", 1},
        {"f3", 1},
        {"f4", 1},
        {"f5", 1},
        {"f6", 1},
        {"f7", 1},
        {"f8", 1},
        {"f9", 1},
        {"f10", 1000}},
       {},
       "f10,f1,f2,f3,f4,f5,f6,f7"},
      {"no follower in the lexicon leaves an empty list", {{"x", "z", 0, 1}}, {}, {}, ""},
  };
  for (const Row& row : rows) {
    ::testing::internal::CaptureStderr();
    const BigramRanked ranked =
        load_ranked(counts_of(row.pairs), "{}", lookups_of(row.frequencies, row.standard));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << row.name;
    EXPECT_EQ(list_of(ranked, "x"), row.expected) << row.name;
  }
}

TEST(BigramTest, ScoresAreTruncatedTowardZeroAndTiesKeepFirstOccurrence) {
  // "zz" scores 1000 × (ln 23 − 0.5 ln 530) ≈ −0.94 and "aa" 1000 × (ln 25 − 0.5 ln 78 − 1.5 ln 2)
  // ≈ +0.80: both truncate to 0, so "zz" stays ahead by first occurrence. Rounding down, rounding
  // to nearest or breaking ties by text would put "aa" first.
  std::vector<Pair> pairs = {{"x", "zz", 0, 1}, {"x", "aa", 1, 1}};
  for (int i = 1; i < 530; ++i) pairs.push_back({"w" + std::to_string(i), "zz", 0, 1});
  for (int i = 1; i < 78; ++i) pairs.push_back({"w" + std::to_string(i), "aa", 1, 1});
  const BigramRanked ranked =
      load_ranked(counts_of(pairs), "{}", lookups_of({{"zz", 23}, {"aa", 25}}));
  EXPECT_EQ(list_of(ranked, "x"), "zz,aa");
}

TEST(BigramTest, CuratedFollowersComeFirst) {
  const BigramCounts counts =
      counts_of({{"x", "a", 0, 9}, {"x", "n", 1, 5}, {"x", "b", 2, 1}, {"y", "a", 3, 1}});
  const RankingLookups lookups = lookups_of({{"a", 10}, {"n", 10}, {"b", 10}});
  struct Row {
    const char* curated;
    const char* first;
    const char* expected;
  };
  const Row rows[] = {
      {R"({"x": ["m", "x", "n", "m"]})", "x", "m,n,a,b"},
      {R"({"x": ["m"]})", "y", "a"},
      {R"({"q": ["r", "s"]})", "q", "r,s"},
      {R"({"x": ["m1","m2","m3","m4","m5","m6","m7"]})", "x", "m1,m2,m3,m4,m5,m6,m7,a"},
      {R"({"x": ["m1","m2","m3","m4","m5","m6","m7","m8","m9"]})", "x", "m1,m2,m3,m4,m5,m6,m7,m8"},
      {R"({"x": []})", "x", "a,n,b"},
      {R"({"x": ["m"], "x": ["k"]})", "x", "k,a,n,b"},
      {R"({"x": ["x"]})", "x", "a,n,b"},
  };
  for (const Row& row : rows) {
    ::testing::internal::CaptureStderr();
    const BigramRanked ranked = load_ranked(counts, row.curated, lookups);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << row.curated;
    EXPECT_EQ(list_of(ranked, row.first), row.expected) << row.curated;
  }
}

TEST(BigramTest, MalformedCuratedDocumentIsReportedAndSkipped) {
  const BigramCounts counts = counts_of({{"x", "a", 0, 1}});
  const RankingLookups lookups = lookups_of({{"a", 10}});
  const char* const rejected[] = {
      "", "[]", R"({"x": "m"})", R"({"x": [1]})", R"({"x": ["m"],)", R"({"x": [["m"]]})",
  };
  for (const char* document : rejected) {
    ::testing::internal::CaptureStderr();
    const BigramRanked ranked = load_ranked(counts, document, lookups);
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(list_of(ranked, "x"), "a") << document;
    EXPECT_TRUE(message.starts_with("[Tolvani] failed to parse curated follow-ups: ")) << document;
    EXPECT_EQ(message.find('\n'), message.size() - 1) << document;
  }
}

// Before anything has built the tables, a non-blocking lookup answers empty and builds nothing.
// (When the whole binary runs in one process an earlier test may have built them already.)
TEST(BigramTest, NonBlockingLookupsWaitForWarm) {
  if (bigram_counts(false) == nullptr) {
    EXPECT_EQ(seed_pair("কেমন", "আছো", false), std::nullopt);
    EXPECT_TRUE(ranked_followers("কেমন", false).empty());
    EXPECT_EQ(bigram_counts(false), nullptr);
    EXPECT_EQ(bigram_ranked(false), nullptr);
  }
  warm();
  ASSERT_NE(bigram_counts(false), nullptr);
  ASSERT_NE(bigram_ranked(false), nullptr);
  EXPECT_EQ(seed_pair("কেমন", "আছো", false), seed_pair("কেমন", "আছো", true));
  EXPECT_EQ(seed_pair("কেমন", "আছো", false)->first, 0u);
  EXPECT_EQ(ranked_followers("কেমন", false).data(), ranked_followers("কেমন", true).data());
  EXPECT_FALSE(ranked_followers("কেমন", false).empty());
}

TEST(BigramTest, ConcurrentFirstUsesShareOneTable) {
  constexpr int kThreads = 8;
  std::vector<const std::string*> seen(kThreads, nullptr);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&seen, &go, t] {
      while (!go.load()) std::this_thread::yield();
      seen[t] = ranked_followers("কেমন", true).data();
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_NE(seen[t], nullptr) << t;
    EXPECT_EQ(seen[t], seen[0]) << t;
  }
}

// The embedded seed list and curated table, as the engine builds them.
TEST(BigramTest, EmbeddedTables) {
  // The seed list opens with these pairs, in this order.
  const std::vector<std::pair<std::string, std::string>> opening = {
      {"কেমন", "আছো"}, {"কেমন", "আছেন"}, {"কেমন", "আছ"}, {"কেমন", "হলো"}, {"কেমন", "চলছে"}};
  json::Value seeds;
  std::string error;
  ASSERT_TRUE(json::parse(seed_document(), seeds, error)) << error;
  ASSERT_GE(seeds.items.size(), opening.size());
  for (size_t i = 0; i < opening.size(); ++i) {
    ASSERT_EQ(seeds.items[i].items.size(), 2u) << i;
    EXPECT_EQ(seeds.items[i].items[0].string, opening[i].first) << i;
    EXPECT_EQ(seeds.items[i].items[1].string, opening[i].second) << i;
    EXPECT_EQ(seed_pair(opening[i].first, opening[i].second, true)->first, i) << i;
  }
  // Pairs from the everyday sentences and from the written corpus.
  for (const auto& [first, following] : std::vector<std::pair<std::string, std::string>>{
           {"শুভ", "সকাল"}, {"অনেক", "ধন্যবাদ"}, {"সিমেন্ট", "উৎপাদন"}, {"একটি", "আমেরিকান"}}) {
    EXPECT_TRUE(seed_pair(first, following, true).has_value()) << first << " " << following;
  }
  EXPECT_GT(bigram_counts(true)->size(), 2000u);

  // The curated keys in document order, and the follow-ups the text quotes.
  const std::vector<std::string> keys = {
      "কেমন",  "ভালো",  "আমি",    "তুমি",     "আপনি",     "তুই",       "ধন্যবাদ", "অনেক",  "শুভ",
      "কি",    "কী",    "কোথায়",  "কখন",     "এখন",      "আমার",     "তোমার",  "আপনার", "আমরা",
      "একটু",   "খুব",    "ঠিক",    "কোনো",    "কোন",      "সমস্যা",    "কিছু",    "বাড়ি",  "কাল",
      "পরে",   "কথা",   "দেখা",   "আসসালামু", "ওয়ালাইকুম", "জন্মদিনের", "ঈদ",     "মন",    "কাজ",
      "তাহলে", "আমাকে", "তোমাকে", "আপনাকে",  "সবাইকে",   "সময়",      "চলো",    "আল্লাহ", "ভালোবাসা",
      "মিস",   "ফোন",   "এটা",    "কত",      "শুনে",      "নাম",      "আবার",   "খুশি",   "দুঃখিত"};
  json::Value curated;
  ASSERT_TRUE(json::parse(curated_document(), curated, error)) << error;
  ASSERT_TRUE(curated.is_object());
  ASSERT_EQ(curated.members.size(), keys.size());
  const BigramRanked& ranked = *bigram_ranked(true);
  for (size_t i = 0; i < keys.size(); ++i) {
    const json::Member& m = curated.members[i];
    EXPECT_EQ(m.key, keys[i]) << i;
    EXPECT_GE(m.value.items.size(), 1u) << m.key;
    EXPECT_LE(m.value.items.size(), 3u) << m.key;
    std::vector<std::string> preferred;
    for (const json::Value& v : m.value.items) {
      EXPECT_TRUE(lexicon_frequency(v.string).has_value()) << m.key << " > " << v.string;
      EXPECT_NE(v.string, m.key);
      preferred.push_back(v.string);
    }
    const std::string list = list_of(ranked, m.key);
    EXPECT_TRUE(list.starts_with(join(preferred))) << m.key << ": " << list;
  }
  EXPECT_TRUE(join(ranked_followers("কেমন", true)).starts_with("আছেন,আছো,আছিস"));
  EXPECT_TRUE(join(ranked_followers("আসসালামু", true)).starts_with("আলাইকুম"));

  // Every list: at most eight words, none twice; the seed-derived words are lexicon words in their
  // standard spelling.
  const std::set<std::string> curated_keys(keys.begin(), keys.end());
  for (const auto& [first, list] : ranked) {
    EXPECT_LE(list.size(), kMaxRanked) << first;
    EXPECT_EQ(std::set<std::string>(list.begin(), list.end()).size(), list.size()) << first;
    if (curated_keys.contains(first)) continue;
    for (const std::string& word : list) {
      EXPECT_TRUE(lexicon_frequency(word).has_value()) << first << " > " << word;
      EXPECT_FALSE(spelling::standard_form(word, false).has_value()) << first << " > " << word;
    }
  }
}

}  // namespace
}  // namespace tolvani::engine::bigram
