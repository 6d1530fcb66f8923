// The shipped lexicon: what people type finds the word they mean.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "lexicon.h"
#include "lexicon_constants.h"

namespace tolvani::engine {
namespace {

struct Typed {
  std::string key;
  std::string word;
};

std::vector<Typed> typed_words() {
  std::ifstream in(TOLVANI_TEST_DATA_DIR "/typed_words.tsv");
  std::vector<Typed> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    rows.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return rows;
}

// How often the meant word is the first entry of its typed key, and how often it is among the
// first three. The floors are what the lexicon reaches today; a change that loses words fails.
TEST(LexiconQualityTest, TypedWordsFindTheMeantWord) {
  const std::vector<Typed> rows = typed_words();
  ASSERT_GE(rows.size(), 300u);
  size_t top1 = 0;
  size_t top3 = 0;
  std::string misses;
  for (const Typed& row : rows) {
    const IdRange r = exact_key_range(row.key);
    size_t rank = 0;
    for (uint32_t id = r.start; id < r.end && rank < 3; ++id, ++rank) {
      if (lexicon_entry(id).bangla == row.word) break;
    }
    const bool found = !r.empty() && rank < 3 && r.start + rank < r.end;
    top1 += found && rank == 0;
    top3 += found;
    if (!found) misses += " " + row.key + "=" + row.word;
  }
  const double share1 = static_cast<double>(top1) / static_cast<double>(rows.size());
  const double share3 = static_cast<double>(top3) / static_cast<double>(rows.size());
  std::printf("typed words: %zu rows, first %zu (%.1f%%), first three %zu (%.1f%%)\n", rows.size(),
              top1, 100 * share1, top3, 100 * share3);
  EXPECT_GE(share1, 0.88) << "missed:" << misses;
  if (std::getenv("TOLVANI_SHOW_MISSES")) std::printf("missed:%s\n", misses.c_str());
  EXPECT_GE(share3, 0.93) << "missed:" << misses;
}

TEST(LexiconFullTest, CommonWordsUnderTheirKeys) {
  struct Row {
    const char* key;
    const char* word;
  };
  const Row rows[] = {{"ami", "আমি"},    {"tomake", "তোমাকে"}, {"kalke", "কালকে"},
                      {"bhalo", "ভালো"}, {"valo", "ভালো"},     {"bangla", "বাংলা"}};
  for (const Row& row : rows) {
    EXPECT_TRUE(has_exact_entry_for(row.key, row.word)) << row.key;
  }
  EXPECT_GT(frequency_for("আমি"), frequency_for("আমিষ"));
  EXPECT_GE(frequency_for("এবং"), 5000u);
  EXPECT_LE(lexicon_size(), 2'000'000u);
}

TEST(LexiconFullTest, GeneratedConstantsDescribeTheEmbeddedTables) {
  namespace constants = lexicon_constants;
  EXPECT_EQ(lexicon_size(), constants::kEntryCount);
  EXPECT_EQ(lexicon_map().size(), constants::kDistinctWords);
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
