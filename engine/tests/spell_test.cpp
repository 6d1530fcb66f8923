#include "spell.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tolvani::engine {
namespace {

// U+09BC, written out so the decomposed spellings below are visible as such.
#define NUKTA "\u09BC"

TEST(SpellTest, FoldNuktaComposesOnlyAfterItsBaseLetters) {
  struct Row {
    const char* name;
    std::string input;
    std::vector<char32_t> want;
  };
  const std::vector<Row> rows = {
      {"empty", "", {}},
      {"da", "\u09A1" NUKTA, {0x09DC}},
      {"dha", "\u09A2" NUKTA, {0x09DD}},
      {"ya", "\u09AF" NUKTA, {0x09DF}},
      {"inside a word", "\u09AC\u09A1" NUKTA "\u09BE", {0x09AC, 0x09DC, 0x09BE}},
      {"precomposed kept", "\u09DC", {0x09DC}},
      {"leading nukta", NUKTA "\u09A1", {0x09BC, 0x09A1}},
      {"after another letter", "\u0995" NUKTA, {0x0995, 0x09BC}},
      {"after a folded letter", "\u09A1" NUKTA NUKTA, {0x09DC, 0x09BC}},
      {"after precomposed", "\u09DC" NUKTA, {0x09DC, 0x09BC}},
      {"ill-formed byte", "\xFF" NUKTA, {0xFFFD, 0x09BC}},
      {"ascii", "ab", {U'a', U'b'}},
  };
  for (const Row& row : rows) {
    std::vector<char32_t> out = {U'x', U'y', U'z'};  // stale content must be cleared
    fold_nukta_into(row.input, out);
    EXPECT_EQ(out, row.want) << row.name;
  }
}

struct DistanceRow {
  const char* name;
  std::string a;
  std::string b;
  uint32_t want;
};

const std::vector<DistanceRow>& distance_rows() {
  static const std::vector<DistanceRow> rows = {
      {"both empty", "", "", 0},
      {"identical", "\u0986\u09AE\u09BE\u09B0", "\u0986\u09AE\u09BE\u09B0", 0},
      {"nukta decomposed vs precomposed", "\u09AC\u09A1" NUKTA "\u09BE", "\u09AC\u09DC\u09BE", 0},
      {"ya nukta decomposed vs precomposed", "\u09AF" NUKTA "\u09BE", "\u09DF\u09BE", 0},
      {"nukta after other letter is a character", "\u0995" NUKTA, "\u0995", 1},
      {"empty vs one Bangla letter", "", "\u0995", 1},
      {"empty vs two letters", "", "\u0995\u0996", 2},
      {"empty vs three letters", "", "\u0995\u0996\u0997", 3},
      {"counts characters, not bytes", "\u0995\u0996\u0997", "\u0995", 2},
      {"substitution", "\u0995\u09BE\u09B2", "\u0996\u09BE\u09B2", 1},
      {"insertion", "\u0995\u09B2", "\u0995\u09BE\u09B2", 1},
      {"deletion at end", "\u0995\u09BE\u09B2\u09BE", "\u0995\u09BE\u09B2", 1},
      {"adjacent swap costs two", "\u0995\u09BE\u09B2", "\u0995\u09B2\u09BE", 2},
      {"lengths differ by three", "abcdef", "abc", 3},
      {"lengths differ by three, b longer", "ab", "abcde", 3},
      {"all substituted", "abc", "xyz", 3},
      {"capped far distance", "abcdefgh", "stuvwxyz", 3},
      {"three scattered substitutions", "abcdefgh", "xbcyefgz", 3},
      {"two scattered substitutions", "abcdefgh", "xbcdefgz", 2},
      {"past the cap at the last cell only", "ab", "wxyz", 3},
      {"kitten sitting", "kitten", "sitting", 3},
      {"flaw lawn", "flaw", "lawn", 2},
      {"rotation by one", "xabcdefg", "abcdefgx", 2},
      {"ill-formed bytes each count one", "a\xFF\xFE", "a", 2},
  };
  return rows;
}

TEST(SpellTest, EditDistanceIsCappedLevenshteinOverFoldedCharacters) {
  for (const DistanceRow& row : distance_rows()) {
    EXPECT_EQ(bounded_edit_distance(row.a, row.b), row.want) << row.name;
    EXPECT_EQ(bounded_edit_distance(row.b, row.a), row.want) << row.name << " (swapped)";
  }
}

TEST(SpellTest, EditDistanceAgreesAcrossThreadsAndCallOrders) {
  const std::vector<DistanceRow>& rows = distance_rows();
  constexpr size_t kThreads = 8;
  constexpr size_t kRounds = 200;
  // Each thread walks the rows from a different start, so every thread's scratch is reused
  // across words of different lengths.
  std::vector<std::vector<std::string>> failures(kThreads);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&rows, &failures, t] {
      for (size_t round = 0; round < kRounds; ++round) {
        for (size_t k = 0; k < rows.size(); ++k) {
          const DistanceRow& row = rows[(k + t * 3 + round) % rows.size()];
          if (bounded_edit_distance(row.a, row.b) != row.want) failures[t].push_back(row.name);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(failures[t].empty())
        << "thread " << t << " first failure: " << (failures[t].empty() ? "" : failures[t].front());
  }
}

TEST(SpellTest, CosmeticFoldMapsEachConfusableLetter) {
  struct Row {
    const char* name;
    std::string input;
    std::string want;
  };
  const std::vector<Row> rows = {
      {"empty", "", ""},
      {"long i", "\u0995\u09C0", "\u0995\u09BF"},
      {"long u", "\u0995\u09C2", "\u0995\u09C1"},
      {"sha", "\u09B6", "\u09B8"},
      {"ssa", "\u09B7", "\u09B8"},
      {"chha", "\u099B", "\u099A"},
      {"nna", "\u09A3", "\u09A8"},
      {"ya", "\u09AF", "\u099C"},
      {"precomposed yya untouched", "\u09DF", "\u09DF"},
      {"every hasant dropped", "\u0995\u09CD\u09B7\u09CD", "\u0995\u09B8"},
      {"shit", "\u09B6\u09C0\u09A4", "\u09B8\u09BF\u09A4"},
      {"final o dropped", "\u09AD\u09BE\u09B2\u09CB", "\u09AD\u09BE\u09B2"},
      {"final o dropped once", "\u0995\u09CB\u09CB", "\u0995\u09CB"},
      {"o alone", "\u09CB", ""},
      {"inner o kept", "\u0995\u09CB\u09A8", "\u0995\u09CB\u09A8"},
      {"o before trailing hasant", "\u0995\u09CB\u09CD", "\u0995"},
      {"decomposed o is not o", "\u0995\u09C7\u09BE", "\u0995\u09C7\u09BE"},
      {"other scripts pass through", "abc", "abc"},
      {"ill-formed byte becomes replacement", "\xFF\u09B6", "\uFFFD\u09B8"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(cosmetic_fold(row.input), row.want) << row.name;
  }
}

TEST(SpellTest, CosmeticFoldUnifiesOnlyCosmeticVariants) {
  struct Row {
    const char* name;
    std::string a;
    std::string b;
    bool same;
  };
  const std::vector<Row> rows = {
      {"shit / sit", "\u09B6\u09C0\u09A4", "\u09B8\u09BF\u09A4", true},
      {"conjunct / unjoined", "\u0995\u09CD\u09B7", "\u0995\u09B7", true},
      {"purna / puran", "\u09AA\u09C2\u09B0\u09CD\u09A3", "\u09AA\u09C1\u09B0\u09A8", true},
      {"chhabi / chabi", "\u099B\u09AC\u09BF", "\u099A\u09AC\u09BF", true},
      {"yadi / jadi", "\u09AF\u09A6\u09BF", "\u099C\u09A6\u09BF", true},
      {"bhalo / bhal", "\u09AD\u09BE\u09B2\u09CB", "\u09AD\u09BE\u09B2", true},
      {"kon / kan", "\u0995\u09CB\u09A8", "\u0995\u09A8", false},
      {"rra / da", "\u09DC", "\u09A1", false},
      {"ka / kha", "\u0995", "\u0996", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(cosmetic_fold(row.a) == cosmetic_fold(row.b), row.same) << row.name;
  }
}

}  // namespace
}  // namespace tolvani::engine
