// The rejections as ranking, spelling offers and the file see them: penalties and their cap, the
// size cap, and what a sync merges.
#include "rejections.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "store_test_util.h"

namespace tolvani::engine {
namespace {

using namespace store_test;

std::string n(int i) { return std::to_string(i); }

TEST(RejectionMapTest, PenaltiesRiseByAHundredUpToTwoThousand) {
  TempFolder dir;
  RejectionsDocument doc;
  doc.entries["read"]["above cap"] = 5'000;
  doc.entries["read"]["lowest"] = INT32_MIN;
  doc.entries["read"]["negative"] = -5;
  RejectionMap store(dir / "rejections.json", doc);
  const uint64_t revision = store.writer().revision();
  store.record_rejection("", "c");
  store.record_rejection("raw", "");
  store.record_rejection("raw\xff", "c");
  EXPECT_EQ(store.writer().revision(), revision);
  EXPECT_EQ(store.pending_changes(), 0u);

  // Choosing the third candidate rejects the two above it.
  store.record_rejection("raw", "first");
  store.record_rejection("raw", "second");
  EXPECT_EQ(store.penalty_for("raw", "first"), 100);
  EXPECT_EQ(store.penalty_for("raw", "second"), 100);
  EXPECT_EQ(store.penalty_for("raw", "third"), 0);
  EXPECT_EQ(store.penalty_for("absent", "first"), 0);

  for (int i = 1; i < 20; ++i) store.record_rejection("raw", "first");
  EXPECT_EQ(store.penalty_for("raw", "first"), 2'000);
  store.record_rejection("raw", "first");
  EXPECT_EQ(store.penalty_for("raw", "first"), 2'000);

  for (const char* c : {"above cap", "lowest", "negative"}) store.record_rejection("read", c);
  EXPECT_EQ(store.penalty_for("read", "above cap"), 2'000);
  EXPECT_EQ(store.penalty_for("read", "lowest"), INT32_MIN + 100);
  EXPECT_EQ(store.penalty_for("read", "negative"), 95);

  // Two ignored spelling offers silence the offer (its penalty reaches 200).
  const std::string offer = std::string(kStandardSpellingKeyPrefix) + "word";
  store.record_rejection(offer, "standard");
  EXPECT_LT(store.penalty_for(offer, "standard"), 200);
  store.record_rejection(offer, "standard");
  EXPECT_EQ(store.penalty_for(offer, "standard"), 200);
  test_wait_for_persistence_worker();
}

TEST(RejectionMapTest, CapKeepsTheHighestPenalties) {
  TempFolder dir;
  RejectionsDocument doc;
  for (int i = 0; i < 501; ++i) doc.entries["low" + n(i)]["c"] = -1;
  for (int i = 0; i < 4'500; ++i) doc.entries["high"]["c" + n(i)] = 500;
  RejectionMap store(dir / "unused.json", doc);
  ASSERT_EQ(store.size(), 5'001u);
  store.evict_if_needed();
  EXPECT_EQ(store.size(), 4'500u);
  EXPECT_EQ(store.entries().size(), 1u);

  struct Row {
    int existing;
    size_t expected;
  };
  for (const Row row : {Row{4'990, 5'000}, Row{4'991, 4'500}}) {
    RejectionsDocument filled;
    for (int i = 0; i < row.existing; ++i) filled.entries["r" + n(i % 7)]["c" + n(i)] = 100;
    RejectionMap recorded(dir / "rejections.json", filled);
    for (int i = 0; i < 10; ++i) recorded.record_rejection("new", "c" + n(i));
    EXPECT_EQ(recorded.size(), row.expected) << row.existing;
  }
  test_wait_for_persistence_worker();
}

TEST(RejectionMapTest, SyncTakesTheLargerPenaltyNeverTheSum) {
  TempFolder dir;
  const fs::path path = dir / "rejections.json";
  RejectionsDocument file;
  file.entries["raw"]["both"] = 700;
  file.entries["raw"]["file lower"] = 100;
  file.entries["raw"]["only file, negative"] = -5;
  file.entries["#standard:word"]["standard"] = 200;
  write_document(path, file);
  RejectionsDocument mine;
  mine.entries["raw"]["both"] = 300;
  mine.entries["raw"]["file lower"] = 400;
  mine.entries["raw"]["only mine"] = 100;
  RejectionMap store(path, mine);
  ASSERT_TRUE(store.sync());
  EXPECT_EQ(render(read_document<RejectionsDocument>(path)),
            "reset \"\" | #standard:word>[standard=200] raw>[both=700 file lower=400 "
            "only file, negative=0 only mine=100]");
  EXPECT_EQ(render(store.document()), render(mine));
}

}  // namespace
}  // namespace tolvani::engine
