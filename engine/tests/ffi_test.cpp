#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine_client.h"
#include "ffi.h"
#include "tolvani_engine.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {
namespace {

using testing::EngineClient;
using testing::show;
using testing::take;

const std::vector<uint8_t> kEmptyRecord(TOLVANI_RECORD_EMPTY_SIZE, 0);

std::vector<uint8_t> bytes_of(CResult r) {
  std::vector<uint8_t> out(r.ptr, r.ptr + r.len);
  tolvani_engine_free_result(r.ptr, r.len);
  return out;
}

TEST(FfiTest, NullHandleAnswersWithEmptyRecordOrNothing) {
  const std::vector<std::pair<const char*, CResult>> calls = {
      {"handle_key_event", tolvani_engine_handle_key_event(nullptr, CKeyEvent{0, 0, 0, 'a'})},
      {"update_config", tolvani_engine_update_config(nullptr, 5, 0)},
      {"note_committed_word", tolvani_engine_note_committed_word(nullptr, "x")},
      {"seed_prediction_context", tolvani_engine_seed_prediction_context(nullptr, "x")},
      {"accept_spelling_offer", tolvani_engine_accept_spelling_offer(nullptr)},
      {"reload_user_data", tolvani_engine_reload_user_data(nullptr)},
  };
  for (const auto& [name, result] : calls) {
    ASSERT_NE(result.ptr, nullptr) << name;
    EXPECT_EQ(bytes_of(result), kEmptyRecord) << name;
  }
  const CResult select = tolvani_engine_select_matching(nullptr, "a", "b");
  EXPECT_EQ(select.ptr, nullptr);
  EXPECT_EQ(select.len, 0u);
  EXPECT_EQ(tolvani_engine_snapshot(nullptr), nullptr);
  EXPECT_FALSE(tolvani_snapshot_write(nullptr));
  EXPECT_FALSE(tolvani_engine_take_reloaded_stores(nullptr));
  // None of these may crash.
  tolvani_engine_destroy(nullptr);
  tolvani_engine_reset(nullptr);
  tolvani_engine_set_mode(nullptr, 1);
  tolvani_snapshot_free(nullptr);
  tolvani_engine_free_result(nullptr, 40);
}

TEST(FfiTest, FreeResultIgnoresZeroLength) {
  // A length of 0 is never a buffer of ours; it must not be released (the host keeps it).
  uint8_t host_owned[4] = {1, 2, 3, 4};
  tolvani_engine_free_result(host_owned, 0);
  EXPECT_EQ(host_owned[0], 1);
}

TEST(FfiTest, KindsOfSevenOrMoreAreText) {
  for (uint32_t kind : {7u, 9u, 255u, 0xFFFFFFFFu}) {
    EngineClient text_session;
    EngineClient other_session;
    const auto expected =
        bytes_of(tolvani_engine_handle_key_event(text_session.get(), CKeyEvent{0, 0, 0, 'a'}));
    const auto actual =
        bytes_of(tolvani_engine_handle_key_event(other_session.get(), CKeyEvent{kind, 0, 0, 'a'}));
    EXPECT_EQ(actual, expected) << "kind " << kind;
  }
}

TEST(FfiTest, AbsentStrings) {
  EngineClient engine;
  engine.type(U"ab");
  // Either string absent: the null result, and the composition stays.
  for (const auto& [raw, candidate] : std::vector<std::pair<const char*, const char*>>{
           {nullptr, "ab"}, {"ab", nullptr}, {"\xC3\x28", "ab"}, {"ab", "\xED\xA0\x80"}}) {
    EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), raw, candidate))), "<null>");
  }
  // A valid pair that matches no candidate returns the preview.
  EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "ab", "zz"))),
            "raw=ab pre=আব commit= status=0");
  // Absent words skip the learning step but still answer with the prediction state.
  for (const char* word : {static_cast<const char*>(nullptr), "\xFF", "\xF4\x90\x80\x80"}) {
    EXPECT_EQ(show(take(tolvani_engine_note_committed_word(engine.get(), word))),
              "raw= pre= commit= status=0");
    EXPECT_EQ(show(take(tolvani_engine_seed_prediction_context(engine.get(), word))),
              "raw= pre= commit= status=0");
  }
  EXPECT_FALSE(tolvani_is_common_english("\xC0\xAF"));
}

TEST(FfiTest, InternalFailureGivesFailureValueAndHandleStaysValid) {
  EngineClient engine;
  engine.type(U"ab");
  test_fail_next_call();
  EXPECT_EQ(show(engine.text('c')), "<null>");
  // The handle still works, and the failed call changed nothing.
  EXPECT_EQ(show(engine.text('d')), "raw=abd pre=আব্দ commit= status=1");

  test_fail_next_call();
  EXPECT_EQ(show(engine.config(5, 0)), "<null>");
  test_fail_next_call();
  EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "abd", "x"))), "<null>");
  test_fail_next_call();
  EXPECT_FALSE(tolvani_is_common_english("the"));
  EXPECT_TRUE(tolvani_is_common_english("the"));
  test_fail_next_call();
  EXPECT_EQ(tolvani_engine_snapshot(engine.get()), nullptr);
  // A failing write still releases the snapshot (the sanitizer build sees any leak).
  TolvaniSnapshot* snapshot = tolvani_engine_snapshot(engine.get());
  ASSERT_NE(snapshot, nullptr);
  test_fail_next_call();
  EXPECT_FALSE(tolvani_snapshot_write(snapshot));
  test_fail_next_call();
  EXPECT_EQ(tolvani_engine_create(), nullptr);
}

TEST(FfiTest, UpdateConfigReturnsRecomputedComposition) {
  EngineClient engine;
  engine.type(U"ab");
  EXPECT_EQ(show(engine.config(0, 0)), "raw=ab pre=আব commit= status=1");
  EXPECT_EQ(show(engine.config(99, 0xFFFFFFFF)), "raw=ab pre=আব commit= status=1");
}

// A session that leaves its ranking for later answers every call exactly as one that ranks at
// once: the preedit comes first, and the list comes from rank() or from whatever call reads it.
TEST(FfiTest, DeferredRankingChangesOnlyWhenTheCandidatesCome) {
  const uint32_t flags =
      TOLVANI_FLAG_AUTOCORRECT | TOLVANI_FLAG_BANGLA_DIGITS | TOLVANI_FLAG_ENGLISH_PASSTHROUGH;
  EXPECT_EQ(tolvani_engine_rank(nullptr).ptr, nullptr);

  // Words, a list opened with the down arrow, a Tab, backspaces down to nothing, a cancelled word.
  std::vector<CKeyEvent> keys;
  for (char32_t c : std::u32string_view(U"ami tomake bhalobashi, kemon acho? bhalo")) {
    const uint32_t kind = c == U' ' ? TOLVANI_KEY_SPACE : TOLVANI_KEY_TEXT;
    keys.push_back({kind, 0, 0, static_cast<uint32_t>(c)});
    if (c == U'a' || c == U'i') keys.push_back({TOLVANI_KEY_DOWN_ARROW, 0, 0, 0});
  }
  for (auto [kind, c] : std::vector<std::pair<uint32_t, char32_t>>{{TOLVANI_KEY_TAB, 0},
                                                                   {TOLVANI_KEY_TEXT, U'b'},
                                                                   {TOLVANI_KEY_TEXT, U'o'},
                                                                   {TOLVANI_KEY_BACKSPACE, 0},
                                                                   {TOLVANI_KEY_BACKSPACE, 0},
                                                                   {TOLVANI_KEY_TEXT, U'n'},
                                                                   {TOLVANI_KEY_TEXT, U'a'},
                                                                   {TOLVANI_KEY_ESCAPE, 0}}) {
    keys.push_back({kind, 0, 0, static_cast<uint32_t>(c)});
  }

  for (const bool rank_each : {true, false}) {
    SCOPED_TRACE(rank_each ? "ranked after each key" : "ranked by the next call");
    EngineClient deferred;
    EngineClient direct;
    deferred.config(5, flags | TOLVANI_FLAG_DEFER_RANKING);
    direct.config(5, flags);
    EXPECT_EQ(tolvani_engine_rank(deferred.get()).ptr, nullptr) << "nothing typed yet";
    int pending = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
      const std::vector<uint8_t> want =
          bytes_of(tolvani_engine_handle_key_event(direct.get(), keys[i]));
      const std::vector<uint8_t> got =
          bytes_of(tolvani_engine_handle_key_event(deferred.get(), keys[i]));
      const auto now = decode_engine_state(got.data(), got.size());
      const auto expected = decode_engine_state(want.data(), want.size());
      ASSERT_TRUE(now && expected) << "key " << i;
      if ((now->status_flags & TOLVANI_STATUS_RANKING_PENDING) == 0) {
        EXPECT_EQ(got, want) << "key " << i << ": " << show(now) << " / " << show(expected);
        continue;
      }
      ++pending;
      EXPECT_EQ(now->status_flags, TOLVANI_STATUS_RANKING_PENDING) << "key " << i;
      EXPECT_EQ(now->preedit, expected->preedit) << "key " << i;
      EXPECT_EQ(now->raw_text, expected->raw_text) << "key " << i;
      EXPECT_TRUE(now->candidates.empty()) << "key " << i;
      if (rank_each) {
        EXPECT_EQ(bytes_of(tolvani_engine_rank(deferred.get())), want) << "key " << i;
        EXPECT_EQ(tolvani_engine_rank(deferred.get()).ptr, nullptr) << "ranked twice, key " << i;
      }
    }
    EXPECT_GT(pending, 20);

    // A pick by text and a new preference each find the list ranked; a reset drops it.
    for (char32_t c : std::u32string_view(U"bhalo")) {
      deferred.text(c);
      direct.text(c);
    }
    EXPECT_EQ(bytes_of(tolvani_engine_select_matching(deferred.get(), "bhalo", "ভালো")),
              bytes_of(tolvani_engine_select_matching(direct.get(), "bhalo", "ভালো")));
    deferred.text(U'k');
    direct.text(U'k');
    EXPECT_EQ(bytes_of(tolvani_engine_update_config(deferred.get(), 3, flags)),
              bytes_of(tolvani_engine_update_config(direct.get(), 3, flags)));
    EXPECT_EQ(tolvani_engine_rank(deferred.get()).ptr, nullptr);
    deferred.config(3, flags | TOLVANI_FLAG_DEFER_RANKING);
    deferred.text(U'i');
    tolvani_engine_reset(deferred.get());
    EXPECT_EQ(tolvani_engine_rank(deferred.get()).ptr, nullptr) << "a reset drops the pending list";
  }
}

TEST(FfiTest, SnapshotsOutliveTheirSession) {
  TolvaniSnapshot* written;
  TolvaniSnapshot* freed;
  {
    EngineClient engine;
    engine.type(U"ami ");
    written = tolvani_engine_snapshot(engine.get());
    freed = tolvani_engine_snapshot(engine.get());
  }
  ASSERT_NE(written, nullptr);
  EXPECT_TRUE(tolvani_snapshot_write(written));
  tolvani_snapshot_free(freed);
  EXPECT_EQ(tolvani_persistence_failures(), 0u);
}

TEST(FfiTest, CommonEnglishWords) {
  struct Row {
    const char* word;
    bool expected;
  };
  const Row rows[] = {{"the", true},   {"  The  ", true}, {"THE", true},  {"\tyour\n", true},
                      {"the.", false}, {"", false},       {"   ", false}, {"bangla", false},
                      {"ami", false},  {"a", false}};
  for (const Row& row : rows)
    EXPECT_EQ(tolvani_is_common_english(row.word), row.expected) << row.word;
  EXPECT_FALSE(tolvani_is_common_english(nullptr));
}

TEST(FfiTest, ProcessWideCallsRunBesideTypingSessions) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> typists;
  for (int t = 0; t < 4; ++t) {
    typists.emplace_back([&stop] {
      EngineClient engine;
      while (!stop.load()) {
        engine.type(U"amar sonar bangla ");
        TolvaniSnapshot* s = tolvani_engine_snapshot(engine.get());
        std::thread([s] { tolvani_snapshot_write(s); }).join();
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    tolvani_engine_warm_caches();
    EXPECT_TRUE(tolvani_is_common_english("week"));
    EXPECT_EQ(tolvani_persistence_failures(), 0u);
  }
  stop.store(true);
  for (auto& t : typists) t.join();
}

}  // namespace
}  // namespace tolvani::engine
