// A host whose lookups may skip what is not built yet (TOLVANI_NONBLOCKING_CACHES=1, the front
// end) gets its learned stores read beside its first keys: a session and its keys never wait for
// them, whatever is learned meanwhile waits and is kept, and once they are in, their words rank as
// ever. A reload after another writer's change is read beside the keys too. The reads are held by
// a file system that lets them go only when told.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string_view>
#include <thread>

#include "engine_client.h"
#include "store_test_util.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {
namespace {

using namespace store_test;
using namespace std::chrono_literals;
using tolvani::testing::EngineClient;
using tolvani::testing::take;

// Holds every store read until let go.
class HeldReads final : public ForwardingFileSystem {
 public:
  IoStatus read_file(const fs::path& path, std::string& out) override {
    {
      std::unique_lock lock(mu_);
      ++reading_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
    }
    return ForwardingFileSystem::read_file(path, out);
  }
  void let_go() {
    std::lock_guard lock(mu_);
    open_ = true;
    changed_.notify_all();
  }
  // Holds the reads that come from now on.
  void hold() {
    std::lock_guard lock(mu_);
    open_ = false;
    reading_ = 0;
  }
  bool reading() {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, 10s, [this] { return reading_ > 0; });
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  int reading_ = 0;
  bool open_ = false;
};

// A folder whose dictionary knows দীন (typed "din"), which the lexicon lists below ডিন.
class ConcurrentStoreLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tolvani_engine_warm_caches();  // only the stores are left to wait for
    UserDictionaryDocument doc;
    doc.words["দীন"] = UserEntry{.last_used = now_secs(), .last_decay = 0, .frequency = 5};
    write_document(dir_ / "user-dictionary.json", doc);
  }
  void TearDown() override { held_.let_go(); }

  // Runs `call` on another thread, so that one that waits for the held reads fails the test
  // instead of hanging it.
  template <typename Call>
  auto without_waiting(Call call, std::string_view what) {
    auto done = std::async(std::launch::async, std::move(call));
    if (done.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << what << " waited for the learned stores";
      held_.let_go();
    }
    return done.get();
  }
  std::unique_ptr<EngineClient> session() {
    return without_waiting([] { return std::make_unique<EngineClient>(); }, "the session");
  }

  static std::optional<uint8_t> kind_of(const std::optional<EngineState>& s, std::string_view w) {
    if (s) {
      for (const EngineCandidate& c : s->candidates) {
        if (c.text == w) return c.kind;
      }
    }
    return std::nullopt;
  }

  TempFolder dir_;
  ScopedEnv data_{"TOLVANI_DATA_DIR", dir_.path().string()};
  ScopedEnv nonblocking_{"TOLVANI_NONBLOCKING_CACHES", "1"};
  HeldReads held_;
  ScopedFileSystem file_system_{held_};
};

TEST_F(ConcurrentStoreLoadTest, KeysAreAnsweredWhileTheStoresAreReadAndTheirWordsComeAfter) {
  std::unique_ptr<EngineClient> engine = session();
  ASSERT_TRUE(held_.reading());
  const std::optional<EngineState> before = engine->type(U"din");
  ASSERT_TRUE(before) << "a key waited for the learned stores";
  EXPECT_EQ(before->preedit, "দিন");
  EXPECT_NE(kind_of(before, "দীন"), TOLVANI_KIND_USER);

  held_.let_go();
  // The stores come in at a key once they are read; no call here waits for them.
  std::optional<uint8_t> kind;
  for (const auto deadline = std::chrono::steady_clock::now() + 10s;
       kind != TOLVANI_KIND_USER && std::chrono::steady_clock::now() < deadline;) {
    engine->key(TOLVANI_KEY_ESCAPE, 0);
    kind = kind_of(engine->type(U"din"), "দীন");
  }
  EXPECT_EQ(kind, TOLVANI_KIND_USER);
}

TEST_F(ConcurrentStoreLoadTest, WhatIsLearnedWhileTheStoresAreReadWaitsForThemAndIsKept) {
  std::unique_ptr<EngineClient> engine = session();
  ASSERT_TRUE(held_.reading());
  ASSERT_TRUE(engine->type(U"dIn"));
  auto committed = std::async(std::launch::async, [&engine] { return engine->type(U" "); });
  EXPECT_EQ(committed.wait_for(300ms), std::future_status::timeout)
      << "a commit learned before the stores were in";
  held_.let_go();
  ASSERT_TRUE(committed.get());
  EXPECT_EQ(engine->committed(), "দীন ");
  EXPECT_EQ(kind_of(engine->type(U"din"), "দীন"), TOLVANI_KIND_USER);

  TolvaniSnapshot* snapshot = tolvani_engine_snapshot(engine->get());
  ASSERT_NE(snapshot, nullptr);
  ASSERT_TRUE(tolvani_snapshot_write(snapshot));
  const auto written = read_document<UserDictionaryDocument>(dir_ / "user-dictionary.json");
  ASSERT_TRUE(written.words.contains("দীন"));
  EXPECT_EQ(written.words.at("দীন").frequency, 6u);  // the five read and the one learned
}

// A word the user had learned, typed while the stores were read, went uncounted: the commit asked
// the stores, still empty, whether the word was known before learning waited for them, and
// dropped its use and its pair with the word before. Typed with Space, the empty stores also
// chose what was committed.
TEST_F(ConcurrentStoreLoadTest, AKnownWordCommittedWhileTheStoresAreReadIsCountedWithItsPair) {
  // "abhin" renders আভিন; with none of the user's words, the lexicon's এভিন is its reading.
  const struct {
    const char* how;
    std::function<void(EngineClient&)> commit;
  } kCommits[] = {
      {"typed", [](EngineClient& e) { e.type(U"abhin "); }},
      {"inserted by the host",
       [](EngineClient& e) { take(tolvani_engine_note_committed_word(e.get(), "আভিন")); }},
  };
  for (const auto& row : kCommits) {
    SCOPED_TRACE(row.how);
    UserDictionaryDocument doc;
    doc.words["আভিন"] = UserEntry{.last_used = now_secs(), .last_decay = 0, .frequency = 40};
    write_document(dir_ / "user-dictionary.json", doc);
    fs::remove(dir_ / "user-bigrams.json");
    held_.hold();
    std::unique_ptr<EngineClient> engine = session();
    ASSERT_TRUE(held_.reading());
    take(tolvani_engine_seed_prediction_context(engine->get(), "আমি "));
    auto committed = std::async(std::launch::async, [&] { row.commit(*engine); });
    // Made while the stores are read (a commit that learns waits for them).
    (void)committed.wait_for(300ms);
    held_.let_go();
    committed.get();

    ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine->get())));
    const auto words = read_document<UserDictionaryDocument>(dir_ / "user-dictionary.json").words;
    const auto pairs = read_document<UserBigramsDocument>(dir_ / "user-bigrams.json").pairs;
    EXPECT_EQ(words.contains("আভিন") ? words.at("আভিন").frequency : 0u, 41u);
    EXPECT_TRUE(pairs.contains("আমি") && pairs.at("আমি").contains("আভিন"));
  }
}

// A reload after another writer's change (the dictionary window removing a word) saved and read
// the stores on the host's thread, so the host's next key waited for the largest dictionary to
// be written and parsed twice. The reload runs beside the keys; what they learn meanwhile waits
// for it without holding them, and both changes are kept.
TEST_F(ConcurrentStoreLoadTest, AReloadRunsBesideTheKeysAndKeepsWhatTheyLearnMeanwhile) {
  std::unique_ptr<EngineClient> engine = session();
  held_.let_go();
  tolvani_snapshot_free(tolvani_engine_snapshot(engine->get()));  // the stores are in
  ASSERT_EQ(kind_of(engine->type(U"din"), "দীন"), TOLVANI_KIND_USER);
  engine->key(TOLVANI_KEY_ESCAPE, 0);
  UserDictionaryDocument removed;
  removed.tombstones["দীন"] = now_secs();
  write_document(dir_ / "user-dictionary.json", removed);

  held_.hold();
  without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  ASSERT_TRUE(held_.reading());
  without_waiting([&] { engine->type(U"ami "); }, "a commit during the reload");
  EXPECT_EQ(engine->committed(), "আমি ");

  held_.let_go();
  // The reloaded stores come in at a key once they are read.
  std::optional<uint8_t> kind = TOLVANI_KIND_USER;
  for (const auto deadline = std::chrono::steady_clock::now() + 10s;
       kind == TOLVANI_KIND_USER && std::chrono::steady_clock::now() < deadline;) {
    engine->key(TOLVANI_KEY_ESCAPE, 0);
    kind = kind_of(engine->type(U"din"), "দীন");
  }
  EXPECT_NE(kind, TOLVANI_KIND_USER);
  engine->key(TOLVANI_KEY_ESCAPE, 0);

  ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine->get())));
  const auto written = read_document<UserDictionaryDocument>(dir_ / "user-dictionary.json");
  EXPECT_FALSE(written.words.contains("দীন"));
  EXPECT_TRUE(written.tombstones.contains("দীন"));
  EXPECT_EQ(written.words.contains("আমি") ? written.words.at("আমি").frequency : 0u, 1u);
}

// The stores a reload read came into the session only at its next key: until the person typed
// again, the session held them beside the ones they replace. The host takes them in once they are
// read, and is told while they are not.
TEST_F(ConcurrentStoreLoadTest, ReloadedStoresAreTakenInWithoutAKeyOnceRead) {
  std::unique_ptr<EngineClient> engine = session();
  held_.let_go();
  tolvani_snapshot_free(tolvani_engine_snapshot(engine->get()));  // the stores are in
  EXPECT_FALSE(tolvani_engine_take_reloaded_stores(engine->get()));
  UserDictionaryDocument removed;
  removed.tombstones["দীন"] = now_secs();
  write_document(dir_ / "user-dictionary.json", removed);

  held_.hold();
  without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  ASSERT_TRUE(held_.reading());
  EXPECT_TRUE(without_waiting([&] { return tolvani_engine_take_reloaded_stores(engine->get()); },
                              "a look at the reload"))
      << "said to be in while being read";
  held_.let_go();
  bool reading = true;
  for (const auto deadline = std::chrono::steady_clock::now() + 10s;
       reading && std::chrono::steady_clock::now() < deadline;) {
    reading = tolvani_engine_take_reloaded_stores(engine->get());
    if (reading) std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(reading);
  // No key took them in: the first key reads the reloaded dictionary.
  EXPECT_NE(kind_of(engine->type(U"din"), "দীন"), TOLVANI_KIND_USER);
}

// A session ended before its stores are read leaves their files as they were.
TEST_F(ConcurrentStoreLoadTest, ASessionEndedWhileItsStoresAreReadChangesNoFile) {
  const std::string before = read_file(dir_ / "user-dictionary.json").value_or("");
  {
    std::unique_ptr<EngineClient> engine = session();
    ASSERT_TRUE(held_.reading());
    engine->type(U"din");
    auto ended = std::async(std::launch::async, [&engine] { engine.reset(); });
    held_.let_go();
    ended.get();
  }
  test_wait_for_persistence_worker();
  EXPECT_EQ(read_file(dir_ / "user-dictionary.json").value_or(""), before);
}

}  // namespace
}  // namespace tolvani::engine
