// A host whose lookups may skip what is not built yet (TOLVANI_NONBLOCKING_CACHES=1, the front
// end) gets its learned stores read beside its first keys: a session and its keys never wait for
// them, whatever is learned meanwhile waits and is kept, and once they are in, their words rank as
// ever. A reload after another writer's change is read beside the keys too, and when that change
// was a reset, nothing learned before it reaches the reset files. The reads are held by a file
// system that lets them go only when told.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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
    const IoStatus status = ForwardingFileSystem::read_file(path, out);
    std::lock_guard lock(mu_);
    read_.push_back(path.filename().string());
    changed_.notify_all();
    return status;
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
    read_.clear();
  }
  // Whether a read of the file `name` has been let through since the last hold().
  bool has_read(std::string_view name) {
    std::unique_lock lock(mu_);
    return changed_.wait_for(
        lock, 10s, [&] { return std::find(read_.begin(), read_.end(), name) != read_.end(); });
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
  std::vector<std::string> read_;  // names of the files read since the last hold()
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

// What the learned stores hold, each map as a sorted list: the words, the pairs ("a>b") and the
// triples ("a b>c"), and the reset identities of the five files.
struct OnDisk {
  std::vector<std::string> words, pairs, triples, reset_ids;
};

OnDisk on_disk(const fs::path& dir) {
  OnDisk out;
  const auto dictionary = read_document<UserDictionaryDocument>(dir / "user-dictionary.json");
  for (const auto& [word, entry] : dictionary.words) out.words.push_back(word);
  const auto bigrams = read_document<UserBigramsDocument>(dir / "user-bigrams.json");
  for (const auto& [first, followers] : bigrams.pairs) {
    for (const auto& [second, entry] : followers) out.pairs.push_back(first + ">" + second);
  }
  const auto trigrams = read_document<UserTrigramsDocument>(dir / "user-trigrams.json");
  for (const auto& [key, followers] : trigrams.triples) {
    std::string words = key;
    std::replace(words.begin(), words.end(), '\t', ' ');
    for (const auto& [third, count] : followers) out.triples.push_back(words + ">" + third);
  }
  out.reset_ids = {dictionary.reset_id, bigrams.reset_id, trigrams.reset_id,
                   read_document<RejectionsDocument>(dir / "rejections.json").reset_id,
                   read_document<SelectionMemoryDocument>(dir / "selection-memory.json").reset_id};
  for (auto* list : {&out.words, &out.pairs, &out.triples}) std::sort(list->begin(), list->end());
  return out;
}

// Only "ekhon ghumabo ", typed after the reset, is on disk, under the reset's identity.
void expect_only_typed_after_reset(const fs::path& dir) {
  const OnDisk stored = on_disk(dir);
  EXPECT_EQ(stored.words, std::vector<std::string>({"এখন", "ঘুমাবো"}));
  EXPECT_EQ(stored.pairs, std::vector<std::string>{"এখন>ঘুমাবো"});
  EXPECT_EQ(stored.triples, std::vector<std::string>());
  EXPECT_EQ(stored.reset_ids, std::vector<std::string>(5, "RESET"));
}

// The settings window's reset of the learned data: every store written afresh with the one
// document that holds every store's map, empty, and one new reset identity.
void reset_learned_data(const fs::path& dir, std::string_view id) {
  const std::string document = R"({"entries":{},"pairs":{},"reset_id":")" + std::string(id) +
                               R"(","selections":{},"tombstones":{},"triples":{},"words":{}})";
  for (const char* store : {"user-dictionary.json", "user-bigrams.json", "user-trigrams.json",
                            "rejections.json", "selection-memory.json"})
    write_file(dir / store, document);
}

// A reset clicked while the stores reloaded after a window's edit (over the largest dictionary,
// where the reload takes long) left on disk pairs and triples of words committed before the
// click: what the keys learned during the reload waited for it and was learned into the stores it
// read, and those were the reset ones, which the next save wrote. The words learned before the
// reset are gone with it in every session, and what is learned after it is kept.
TEST_F(ConcurrentStoreLoadTest, AResetWhileTheStoresReloadKeepsNothingLearnedBeforeIt) {
  std::unique_ptr<EngineClient> sessions[] = {session(), session()};
  held_.let_go();
  for (auto& engine : sessions) tolvani_snapshot_free(tolvani_engine_snapshot(engine->get()));
  // A word removed in the dictionary window: each input context's session reloads.
  UserDictionaryDocument removed;
  removed.tombstones["দীন"] = now_secs();
  write_document(dir_ / "user-dictionary.json", removed);
  held_.hold();
  for (auto& engine : sessions) {
    without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  }
  ASSERT_TRUE(held_.reading());
  // Committed while the stores are read: three words, their pairs and a triple in each session.
  without_waiting([&] { sessions[0]->type(U"ami tumi bhalo "); }, "commits during the reload");
  without_waiting([&] { sessions[1]->type(U"amra kal jabo "); }, "commits during the reload");
  EXPECT_EQ(sessions[0]->committed(), "আমি তুমি ভালো ");
  EXPECT_EQ(sessions[1]->committed(), "আমরা কাল যাবো ");

  // The reset, then the reload it asks of every session, while the first reload still reads.
  reset_learned_data(dir_.path(), "RESET");
  for (auto& engine : sessions) {
    without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  }
  // Typed after the reset, from a fresh start: kept.
  for (auto& engine : sessions) take(tolvani_engine_seed_prediction_context(engine->get(), ""));
  without_waiting([&] { sessions[0]->type(U"ekhon ghumabo "); }, "commits after the reset");
  EXPECT_EQ(sessions[0]->committed(), "আমি তুমি ভালো এখন ঘুমাবো ");

  held_.let_go();
  for (auto& engine : sessions)
    ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine->get())));
  test_wait_for_persistence_worker();
  expect_only_typed_after_reset(dir_.path());
}

// The settings window writes the reset files on a worker and its reload call reaches the keys'
// thread after them, so a reload may read the reset files and come in at a key before that call:
// what the keys learned before the click must not be learned into it. The window asks for a
// reload when reset is clicked, before it writes the files; what was learned before that call
// stays out of the reset files, and what is learned after the reset's own call is kept.
TEST_F(ConcurrentStoreLoadTest, WhatWasLearnedBeforeAResetIsKeptOutOfItsFilesBeforeItsReload) {
  std::unique_ptr<EngineClient> engine = session();
  held_.let_go();
  tolvani_snapshot_free(tolvani_engine_snapshot(engine->get()));  // the stores are in
  ASSERT_EQ(kind_of(engine->type(U"din"), "দীন"), TOLVANI_KIND_USER);
  engine->key(TOLVANI_KEY_ESCAPE, 0);
  // A backup imported (no new reset_id): the session reloads.
  UserDictionaryDocument imported;
  imported.words["দীন"] = UserEntry{.last_used = now_secs(), .last_decay = 0, .frequency = 9};
  write_document(dir_ / "user-dictionary.json", imported);
  held_.hold();
  without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  ASSERT_TRUE(held_.reading());
  without_waiting([&] { engine->type(U"ami tumi bhalo "); }, "commits during the reload");
  EXPECT_EQ(engine->committed(), "আমি তুমি ভালো ");

  // Reset clicked: the window's reload call, then the files written afresh.
  without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  reset_learned_data(dir_.path(), "RESET");
  held_.let_go();
  // The reloads come in at keys, before the reset's own call: the reset files, nothing learned.
  std::optional<uint8_t> kind = TOLVANI_KIND_USER;
  for (const auto deadline = std::chrono::steady_clock::now() + 10s;
       kind == TOLVANI_KIND_USER && std::chrono::steady_clock::now() < deadline;) {
    engine->key(TOLVANI_KEY_ESCAPE, 0);
    kind = kind_of(engine->type(U"din"), "দীন");
  }
  EXPECT_NE(kind, TOLVANI_KIND_USER);
  engine->key(TOLVANI_KEY_ESCAPE, 0);
  test_wait_for_persistence_worker();
  OnDisk stored = on_disk(dir_.path());
  EXPECT_EQ(stored.words, std::vector<std::string>());
  EXPECT_EQ(stored.pairs, std::vector<std::string>());
  EXPECT_EQ(stored.triples, std::vector<std::string>());

  // The reset's own call; what is typed while it reads is kept.
  held_.hold();
  without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  ASSERT_TRUE(held_.reading());
  take(tolvani_engine_seed_prediction_context(engine->get(), ""));
  without_waiting([&] { engine->type(U"ekhon ghumabo "); }, "commits after the reset");
  held_.let_go();
  ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine->get())));
  test_wait_for_persistence_worker();
  expect_only_typed_after_reset(dir_.path());
}

// A reload that had read the reset files and was done, but not yet taken in at a key, when the
// reset's call came was taken in by that call as if no change had followed it, and what the keys
// learned before the reset went into the reset stores.
TEST_F(ConcurrentStoreLoadTest, AReloadDoneWhenTheResetsCallComesKeepsWhatWasLearnedBeforeOut) {
  std::unique_ptr<EngineClient> engine = session();
  held_.let_go();
  tolvani_snapshot_free(tolvani_engine_snapshot(engine->get()));  // the stores are in
  UserDictionaryDocument imported;
  imported.words["দীন"] = UserEntry{.last_used = now_secs(), .last_decay = 0, .frequency = 9};
  write_document(dir_ / "user-dictionary.json", imported);
  held_.hold();
  without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  ASSERT_TRUE(held_.reading());
  without_waiting([&] { engine->type(U"ami tumi bhalo "); }, "commits during the reload");

  reset_learned_data(dir_.path(), "RESET");
  held_.let_go();
  // The reload reads the selection memory last; then it is done, and no key takes it in.
  ASSERT_TRUE(held_.has_read("selection-memory.json"));
  std::this_thread::sleep_for(100ms);
  without_waiting([&] { take(tolvani_engine_reload_user_data(engine->get())); }, "the reload");
  ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine->get())));
  test_wait_for_persistence_worker();
  const OnDisk stored = on_disk(dir_.path());
  EXPECT_EQ(stored.words, std::vector<std::string>());
  EXPECT_EQ(stored.pairs, std::vector<std::string>());
  EXPECT_EQ(stored.triples, std::vector<std::string>());
  EXPECT_EQ(stored.reset_ids, std::vector<std::string>(5, "RESET"));
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
