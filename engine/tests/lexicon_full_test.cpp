// The shipped lexicon: what people type, by hand-written spellings and in chat, finds and commits
// the word they mean, through the C interface as a host types.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine_client.h"
#include "lexicon.h"
#include "lexicon_constants.h"
#include "normalize.h"

namespace tolvani::engine {
namespace {

struct Typed {
  std::string key;
  std::string word;
};

// "typed<TAB>bangla" rows of a file in the test data folder, or of an absolute path.
std::vector<Typed> read_typed(const std::string& name) {
  std::ifstream in(name.starts_with("/") ? name : std::string(TOLVANI_TEST_DATA_DIR) + "/" + name);
  std::vector<Typed> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    rows.push_back({line.substr(0, tab), normalize_bengali(line.substr(tab + 1))});
  }
  return rows;
}

void show_misses(const std::string& misses) {
  if (std::getenv("TOLVANI_SHOW_MISSES")) std::printf("missed:%s\n", misses.c_str());
}

// The share of `rows` whose key, typed and committed with Space, commits the meant word.
double space_commit_share(const std::vector<Typed>& rows, const char* name) {
  testing::EngineClient client;
  client.config(5, testing::kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED);
  size_t hits = 0;
  std::string misses;
  for (const Typed& row : rows) {
    EXPECT_GT(frequency_for(row.word), 0u) << row.word << " is not a lexicon word";
    // Each row stands alone: the row before is no context for it.
    testing::take(tolvani_engine_seed_prediction_context(client.get(), ""));
    const auto state = client.type(std::u32string(row.key.begin(), row.key.end()) + U' ');
    const std::string committed = state ? normalize_bengali(state->commit_text) : "";
    if (committed == row.word) {
      ++hits;
    } else {
      misses += " " + row.key + "=" + committed;
    }
  }
  const double share = static_cast<double>(hits) / static_cast<double>(rows.size());
  std::printf("%s: %zu of %zu committed as meant (%.1f%%)\n", name, hits, rows.size(), 100 * share);
  show_misses(misses);
  return share;
}

// The floors are what the lexicon reaches today; a change that loses words fails.
TEST(LexiconQualityTest, HandWrittenSpellingsFindAndCommitTheMeantWord) {
  const std::vector<Typed> rows = read_typed("typed_words.tsv");
  ASSERT_GE(rows.size(), 300u);
  // Where the meant word stands in its key's run: first, or among the first three.
  size_t top1 = 0;
  size_t top3 = 0;
  std::string misses;
  for (const Typed& row : rows) {
    const IdRange r = exact_key_range(row.key);
    size_t rank = 0;
    while (r.start + rank < r.end && rank < 3 && lexicon_entry(r.start + rank).bangla != row.word)
      ++rank;
    const bool found = r.start + rank < r.end && rank < 3;
    top1 += found && rank == 0;
    top3 += found;
    if (!found) misses += " " + row.key + "=" + row.word;
  }
  const double share1 = static_cast<double>(top1) / static_cast<double>(rows.size());
  const double share3 = static_cast<double>(top3) / static_cast<double>(rows.size());
  std::printf("typed words: %zu rows, first %zu (%.1f%%), first three %zu (%.1f%%)\n", rows.size(),
              top1, 100 * share1, top3, 100 * share3);
  show_misses(misses);
  EXPECT_GE(share1, 0.88);
  EXPECT_GE(share3, 0.93);
  EXPECT_GE(space_commit_share(rows, "hand-written words"), 0.917);
}

TEST(LexiconQualityTest, ChatSpellingsCommitTheMeantWord) {
  const std::vector<Typed> rows = read_typed("chat_words.tsv");
  ASSERT_GE(rows.size(), 300u);
  EXPECT_GE(space_commit_share(rows, "chat words"), 0.928);
  // The chat spellings the builder takes as data, beyond its rules, each reach their word.
  const std::vector<Typed> data = read_typed(TOLVANI_CHAT_SPELLINGS);
  ASSERT_GE(data.size(), 10u);
  EXPECT_EQ(space_commit_share(data, "chat spellings"), 1.0);
}

// তা outranks টা under "ta"; after digits the particle still wins.
TEST(LexiconFullTest, ParticlesAfterDigitsOverCommonerWords) {
  const std::pair<std::u32string, std::string> rows[] = {{U"12ta ", "১২টা "},
                                                         {U"12tar ", "১২টার "},
                                                         {U"3tir ", "৩টির "},
                                                         {U"2ti ", "২টি "},
                                                         {U"ami 12ta ", "আমি ১২টা "}};
  for (const auto& [typed, committed] : rows) {
    testing::EngineClient client;
    client.type(typed);
    EXPECT_EQ(client.committed(), committed);
  }
}

TEST(LexiconFullTest, GeneratedConstantsDescribeTheEmbeddedTables) {
  namespace constants = lexicon_constants;
  EXPECT_EQ(lexicon_size(), constants::kEntryCount);
  EXPECT_LE(lexicon_size(), 2'000'000u);
  EXPECT_EQ(lexicon_map().size(), constants::kDistinctWords);
  EXPECT_GT(frequency_for("আমি"), frequency_for("আমিষ"));
  EXPECT_GE(frequency_for("এবং"), 5000u);
  // The last section ends at the last entry, and the sections are in order.
  EXPECT_LE(constants::kSectionEnds[0], constants::kSectionEnds[1]);
  EXPECT_EQ(constants::kSectionEnds[2], constants::kEntryCount);
  // Each section is sorted by key, so a key's run lies in one section only.
  for (uint32_t cut : {constants::kSectionEnds[0], constants::kSectionEnds[1]}) {
    if (cut == 0 || cut >= constants::kEntryCount) continue;
    const IdRange before = exact_key_range(lexicon_entry(cut - 1).phonetic);
    EXPECT_LE(before.end, cut);
  }
}

}  // namespace
}  // namespace tolvani::engine
