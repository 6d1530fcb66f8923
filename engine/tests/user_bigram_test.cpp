// The user bigrams as predictions and the file see them: what a recording changes, when a save
// is queued, which pairs the cap keeps, and what a sync merges.
#include "user_bigram.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "store_test_util.h"

namespace tolvani::engine {
namespace {

using namespace store_test;

std::string n(int i) { return std::to_string(i); }

TEST(UserBigramsTest, RecordingRules) {
  TempFolder dir;
  FixedClock clock(7'200);
  UserBigramsDocument doc;
  doc.pairs["x"]["y"] = BigramEntry{.frequency = UINT32_MAX, .last_used = 5};
  UserBigrams store(dir / "unused.json", doc);
  const uint64_t revision = store.writer().revision();
  const std::pair<const char*, const char*> ignored[] = {
      {"a", "a"}, {"", "b"}, {"a", ""}, {"a\xff", "b"}, {"a", "\xc3"}};
  for (const auto& [first, second] : ignored) store.record(first, second);
  EXPECT_EQ(store.writer().revision(), revision);
  EXPECT_EQ(store.pending_changes(), 0u);

  store.record("a", "b");
  clock.set(7'300);
  store.record("a", "b");
  store.record("x", "y");
  EXPECT_EQ(render(store.document()), "reset \"\" | a>[b{2 u7300}] x>[y{4294967295 u7300}]");
  EXPECT_EQ(store.writer().revision(), revision + 3);
}

TEST(UserBigramsTest, TenthRecordingQueuesOneSave) {
  TempFolder dir;
  const fs::path path = dir / "user-bigrams.json";
  UserBigrams store(path);
  for (int i = 0; i < 9; ++i) store.record("a", "b" + n(i));
  test_wait_for_persistence_worker();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(store.pending_changes(), 9u);

  store.record("a", "b9");
  EXPECT_EQ(store.pending_changes(), 0u);
  test_wait_for_persistence_worker();
  EXPECT_EQ(read_document<UserBigramsDocument>(path).pairs.at("a").size(), 10u);
  store.record("a", "b10");
  EXPECT_EQ(store.pending_changes(), 1u);
}

TEST(UserBigramsTest, CapKeepsThePairsUsedMostAndLatest) {
  TempFolder dir;
  constexpr uint64_t kHour = 3'600;
  constexpr uint64_t h = 1'000;
  UserBigramsDocument doc;
  // 499 weakest pairs under one first word, which goes with them.
  for (int i = 0; i < 499; ++i) doc.pairs["low"]["w" + n(i)] = BigramEntry{1, 0};
  // C weighs a little less than A and B, which weigh the same.
  doc.pairs["c-first"]["c"] = BigramEntry{1, (h - 1) * kHour};
  doc.pairs["tie"]["a"] = BigramEntry{1, h * kHour};
  doc.pairs["tie"]["b"] = BigramEntry{2, (h - 100) * kHour};
  for (int i = 0; i < 4'499; ++i) doc.pairs["high"]["w" + n(i)] = BigramEntry{100, h * kHour};

  UserBigrams store(dir / "unused.json", doc);
  ASSERT_EQ(store.size(), 5'001u);
  store.evict_if_needed();
  EXPECT_EQ(store.size(), 4'500u);
  EXPECT_FALSE(store.pairs().contains("low"));
  EXPECT_FALSE(store.pairs().contains("c-first"));
  EXPECT_EQ(store.pairs().at("tie").size(), 1u);
  EXPECT_EQ(store.pairs().at("high").size(), 4'499u);

  // 5,000 pairs stay; the recording that reaches 5,001 and a save leaves 4,500.
  struct Row {
    int existing;
    size_t expected;
  };
  for (const Row row : {Row{4'990, 5'000}, Row{4'991, 4'500}}) {
    UserBigramsDocument filled;
    for (int i = 0; i < row.existing; ++i) filled.pairs["f" + n(i % 7)]["s" + n(i)] = {1, 0};
    UserBigrams recorded(dir / "user-bigrams.json", filled);
    for (int i = 0; i < 10; ++i) recorded.record("new", "s" + n(i));
    EXPECT_EQ(recorded.size(), row.expected) << row.existing;
  }
  test_wait_for_persistence_worker();
}

TEST(UserBigramsTest, SyncTakesTheLargerOfEachField) {
  TempFolder dir;
  const fs::path path = dir / "user-bigrams.json";
  UserBigramsDocument file;
  file.pairs["a"]["b"] = BigramEntry{7, 100};
  file.pairs["only"]["file"] = BigramEntry{2, 50};
  file.pairs["empty"];
  write_document(path, file);
  UserBigramsDocument mine;
  mine.pairs["a"]["b"] = BigramEntry{5, 200};
  mine.pairs["only"]["mine"] = BigramEntry{1, 60};
  UserBigrams store(path, mine);
  ASSERT_TRUE(store.sync());
  EXPECT_EQ(render(read_document<UserBigramsDocument>(path)),
            "reset \"\" | a>[b{7 u200}] empty>[] only>[file{2 u50} mine{1 u60}]");
  // The file's pair reaches memory only with the next load.
  EXPECT_EQ(store.find("only", "file"), nullptr);
  EXPECT_NE(UserBigrams::load(path).find("only", "file"), nullptr);
}

}  // namespace
}  // namespace tolvani::engine
