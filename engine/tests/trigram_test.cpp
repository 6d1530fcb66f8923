// The user trigrams as predictions and the file see them: what a recording changes, which
// triples the cap keeps, and what a sync merges.
#include "trigram.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "store_test_util.h"

namespace tolvani::engine {
namespace {

using namespace store_test;

std::string n(int i) { return std::to_string(i); }

TEST(UserTrigramsTest, RecordingRules) {
  TempFolder dir;
  UserTrigramsDocument doc;
  doc.triples["x\ty"]["z"] = UINT32_MAX;
  UserTrigrams store(dir / "unused.json", doc);
  const uint64_t revision = store.writer().revision();
  store.record("", "b", "c");
  store.record("a", "", "c");
  store.record("a", "b", "");
  store.record("a", "b", "\xff");
  EXPECT_EQ(store.writer().revision(), revision);

  store.record("w", "w", "w");
  store.record("a", "b", "c");
  store.record("a", "b", "c");
  store.record("x", "y", "z");
  EXPECT_EQ(render(store.document()), "reset \"\" | a\tb>[c=2] w\tw>[w=1] x\ty>[z=4294967295]");
  EXPECT_EQ(store.count("a", "b", "c"), 2u);
  EXPECT_EQ(store.count("a", "b", "d"), 0u);
  EXPECT_EQ(store.count("b", "a", "c"), 0u);
  EXPECT_EQ(store.writer().revision(), revision + 4);
}

TEST(UserTrigramsTest, CapKeepsTheMostCountedTriples) {
  TempFolder dir;
  UserTrigramsDocument doc;
  // Each of the 300 weakest triples has its context to itself; those contexts go with them.
  for (int i = 0; i < 300; ++i) doc.triples["low\t" + n(i)]["w"] = 1;
  doc.triples["tie\ta"]["x"] = 2;
  doc.triples["tie\tb"]["x"] = 2;
  for (int i = 0; i < 2'699; ++i) doc.triples["high\th"]["w" + n(i)] = 5;
  UserTrigrams store(dir / "unused.json", doc);
  ASSERT_EQ(store.size(), 3'001u);
  store.evict_if_needed();
  EXPECT_EQ(store.size(), 2'700u);
  EXPECT_EQ(store.triples().size(), 2u);  // "high" and one of the tied contexts
  EXPECT_TRUE(store.triples().contains("high\th"));

  struct Row {
    int existing;
    size_t expected;
  };
  for (const Row row : {Row{2'990, 3'000}, Row{2'991, 2'700}}) {
    UserTrigramsDocument filled;
    for (int i = 0; i < row.existing; ++i) filled.triples["f\t" + n(i % 7)]["t" + n(i)] = 1;
    UserTrigrams recorded(dir / "user-trigrams.json", filled);
    for (int i = 0; i < 10; ++i) recorded.record("new", "pair", "t" + n(i));
    EXPECT_EQ(recorded.size(), row.expected) << row.existing;
  }
  test_wait_for_persistence_worker();
}

TEST(UserTrigramsTest, SyncTakesTheLargerCount) {
  TempFolder dir;
  const fs::path path = dir / "user-trigrams.json";
  UserTrigramsDocument file;
  file.triples["a\tb"]["c"] = 7;
  file.triples["a\tb"]["file"] = 1;
  file.triples["d\te"]["f"] = 2;
  write_document(path, file);
  UserTrigramsDocument mine;
  mine.triples["a\tb"]["c"] = 5;
  mine.triples["d\te"]["f"] = 9;
  mine.triples["d\te"]["mine"] = 1;
  UserTrigrams store(path, mine);
  ASSERT_TRUE(store.sync());
  EXPECT_EQ(render(read_document<UserTrigramsDocument>(path)),
            "reset \"\" | a\tb>[c=7 file=1] d\te>[f=9 mine=1]");
  EXPECT_EQ(render(store.document()), render(mine));
}

}  // namespace
}  // namespace tolvani::engine
