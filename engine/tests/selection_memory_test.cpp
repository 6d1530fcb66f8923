// The selection memory as ranking and the file see it: picks in a row, the cap and its order,
// and what a sync merges.
#include "selection_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "store_test_util.h"

namespace tolvani::engine {
namespace {

using namespace store_test;

std::string n(int i) { return std::to_string(i); }

SelectionEntry pick(std::string text, uint32_t count, uint64_t last_used) {
  return SelectionEntry{.text = std::move(text), .count = count, .last_used = last_used};
}

TEST(SelectionMemoryTest, PicksInARow) {
  TempFolder dir;
  FixedClock clock(1'000);
  SelectionMemory store(dir / "unused.json");
  const uint64_t revision = store.writer().revision();
  for (auto [raw, text] : {std::pair<const char*, const char*>{"", "a"}, {"k", ""}, {"k\xff", "a"}})
    store.remember(raw, text);
  EXPECT_EQ(store.writer().revision(), revision);

  for (int i = 0; i < 3; ++i) store.remember("k", "A");
  EXPECT_EQ(*store.get("k"), pick("A", 3, 1'000));
  clock.set(2'000);
  store.remember("k", "B");
  EXPECT_EQ(*store.get("k"), pick("B", 1, 2'000));
  EXPECT_EQ(store.get("absent"), nullptr);
  EXPECT_EQ(store.writer().revision(), revision + 4);

  SelectionMemoryDocument full;
  full.selections["k"] = pick("A", UINT32_MAX, 1);
  SelectionMemory saturated(dir / "unused.json", full);
  saturated.remember("k", "A");
  EXPECT_EQ(*saturated.get("k"), pick("A", UINT32_MAX, 2'000));
}

TEST(SelectionMemoryTest, CapKeepsRecentAndRepeatedPicks) {
  TempFolder dir;
  constexpr uint64_t kHour = 3'600;
  constexpr uint64_t h = 10'000;
  FixedClock clock(h * kHour);

  // Of two entries picked once, the one used two hours ago goes before the one used one hour ago.
  SelectionMemoryDocument doc;
  for (int i = 0; i < 500; ++i) doc.selections["low" + n(i)] = pick("x", 1, 0);
  doc.selections["two hours"] = pick("x", 1, (h - 2) * kHour);
  doc.selections["one hour"] = pick("x", 1, (h - 1) * kHour);
  for (int i = 0; i < 4'498; ++i) doc.selections["high" + n(i)] = pick("x", 100, h * kHour);
  SelectionMemory store(dir / "selection-memory.json", doc);
  ASSERT_EQ(store.size(), 5'000u);
  store.remember("new", "x");
  EXPECT_EQ(store.size(), 4'500u);
  EXPECT_EQ(store.get("two hours"), nullptr);
  EXPECT_NE(store.get("one hour"), nullptr);
  EXPECT_NE(store.get("new"), nullptr);

  // Picked twice 100 hours earlier weighs as much as picked once now.
  SelectionMemoryDocument tie;
  for (int i = 0; i < 500; ++i) tie.selections["low" + n(i)] = pick("x", 1, 0);
  tie.selections["twice earlier"] = pick("x", 2, (h - 100) * kHour);
  tie.selections["once now"] = pick("x", 1, h * kHour);
  for (int i = 0; i < 4'499; ++i) tie.selections["high" + n(i)] = pick("x", 100, h * kHour);
  SelectionMemory tied(dir / "tie.json", tie);
  ASSERT_EQ(tied.size(), 5'001u);
  tied.evict();
  EXPECT_EQ(tied.size(), 4'500u);
  EXPECT_EQ((tied.get("twice earlier") != nullptr) + (tied.get("once now") != nullptr), 1);
  test_wait_for_persistence_worker();
}

TEST(SelectionMemoryTest, SyncKeepsTheNewerPick) {
  struct Row {
    uint64_t file_time;
    SelectionEntry written;
  };
  const Row rows[] = {{200, pick("B", 1, 200)}, {199, pick("B", 1, 200)}, {201, pick("A", 9, 201)}};
  for (const Row& row : rows) {
    TempFolder dir;
    const fs::path path = dir / "selection-memory.json";
    SelectionMemoryDocument file;
    file.selections["k"] = pick("A", 9, row.file_time);
    file.selections["only file"] = pick("F", 2, 1);
    write_document(path, file);
    SelectionMemoryDocument mine;
    mine.selections["k"] = pick("B", 1, 200);
    mine.selections["only mine"] = pick("M", 1, 1);
    const SelectionMemory store(path, mine);
    ASSERT_TRUE(store.sync()) << row.file_time;
    const auto written = read_document<SelectionMemoryDocument>(path);
    EXPECT_EQ(written.selections.at("k"), row.written) << row.file_time;
    EXPECT_EQ(written.selections.at("only file"), pick("F", 2, 1)) << row.file_time;
    EXPECT_EQ(written.selections.at("only mine"), pick("M", 1, 1)) << row.file_time;
    EXPECT_EQ(*store.get("k"), pick("B", 1, 200)) << row.file_time;
  }

  // A merge that passes 5,000 raw inputs is evicted in the file.
  TempFolder dir;
  const fs::path path = dir / "selection-memory.json";
  SelectionMemoryDocument file;
  for (int i = 0; i < 3'000; ++i) file.selections["f" + n(i)] = pick("x", 1, 1);
  write_document(path, file);
  SelectionMemoryDocument mine;
  for (int i = 0; i < 3'000; ++i) mine.selections["m" + n(i)] = pick("x", 5, 1);
  ASSERT_TRUE(SelectionMemory(path, mine).sync());
  EXPECT_EQ(read_document<SelectionMemoryDocument>(path).selections.size(), 4'500u);
}

}  // namespace
}  // namespace tolvani::engine
