// A host whose lookups may skip what is not built yet (TOLVANI_NONBLOCKING_CACHES=1, the front
// end) gets its learned stores read beside its first keys: a session and its keys never wait for
// them, whatever is learned meanwhile waits and is kept, and once they are in, their words rank as
// ever. The reads are held by a file system that lets them go only when told.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "engine_client.h"
#include "store_test_util.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {
namespace {

using namespace store_test;
using namespace std::chrono_literals;
using tolvani::testing::EngineClient;

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

  // A session made on another thread, so that one that waited for the stores fails the test
  // instead of hanging it.
  std::unique_ptr<EngineClient> session() {
    auto made = std::async(std::launch::async, [] { return std::make_unique<EngineClient>(); });
    if (made.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "the session waited for its learned stores";
      held_.let_go();
    }
    return made.get();
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
