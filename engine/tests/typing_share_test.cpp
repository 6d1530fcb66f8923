// What people type, committed with Space through the C interface over the shipped lexicon: the
// share of words that come out as meant.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine_client.h"
#include "lexicon.h"
#include "normalize.h"

namespace tolvani::engine {
namespace {

struct Typed {
  std::string key;
  std::string word;
};

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

// The share of `rows` whose key, typed and committed with Space, commits the meant word.
double space_commit_share(const std::vector<Typed>& rows, const char* name) {
  testing::EngineClient client;
  client.config(5, testing::kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED);
  size_t hits = 0;
  std::string misses;
  for (const Typed& row : rows) {
    EXPECT_GT(frequency_for(row.word), 0u) << row.word << " is not a lexicon word";
    std::u32string keys(row.key.begin(), row.key.end());
    const auto state = client.type(keys + U' ');
    const std::string committed = state ? normalize_bengali(state->commit_text) : "";
    if (committed == row.word) {
      ++hits;
    } else {
      misses += " " + row.key + "=" + committed;
    }
  }
  const double share = static_cast<double>(hits) / static_cast<double>(rows.size());
  std::printf("%s: %zu of %zu committed as meant (%.1f%%)\n", name, hits, rows.size(), 100 * share);
  if (std::getenv("TOLVANI_SHOW_MISSES")) std::printf("missed:%s\n", misses.c_str());
  return share;
}

// The floors are what the lexicon reaches today; a change that loses words fails.
TEST(TypingShareTest, ChatSpellingsCommitTheMeantWord) {
  const std::vector<Typed> rows = read_typed("chat_words.tsv");
  ASSERT_GE(rows.size(), 300u);
  EXPECT_GE(space_commit_share(rows, "chat words"), 0.905);
  // The chat spellings the builder takes as data, beyond its rules, each reach their word.
  const std::vector<Typed> data = read_typed(TOLVANI_CHAT_SPELLINGS);
  ASSERT_GE(data.size(), 10u);
  EXPECT_EQ(space_commit_share(data, "chat spellings"), 1.0);
}

TEST(TypingShareTest, HandWrittenSpellingsCommitTheMeantWord) {
  const std::vector<Typed> rows = read_typed("typed_words.tsv");
  ASSERT_GE(rows.size(), 300u);
  EXPECT_GE(space_commit_share(rows, "hand-written words"), 0.915);
}

// With the shipped lexicon তা outranks টা under "ta"; after digits the particle still wins.
TEST(TypingShareTest, ParticlesAfterDigitsOverCommonerWords) {
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

}  // namespace
}  // namespace tolvani::engine
