// The store files as the user's data meets them: where they live, what a write leaves behind
// (also when the writer is killed), corrupt and unreadable files, failures of the folder, the
// lock and the disk, the reset rule, the background worker and its queue, two processes sharing
// the files, and the learning snapshot.
#include "persistence.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "store_bounds.h"
#include "store_test_util.h"
#include "tolvani_engine.h"

namespace tolvani::engine {
namespace {

using namespace store_test;

// ---- the five stores behind one face, for tests that hold for all of them

struct AnyStore {
  std::string name;
  fs::path path;
  std::function<void(int)> record;  // records change number i
  std::function<bool()> sync;
  std::function<bool()> dirty;
  // Whether the file holds change number i.
  std::function<bool(int)> file_has;
};

template <typename Store, typename Doc>
AnyStore wrap(std::string name, fs::path path, std::function<void(Store&, int)> record,
              std::function<bool(const Doc&, int)> has) {
  auto store = std::make_shared<Store>(Store::load(path));
  return AnyStore{
      .name = std::move(name),
      .path = path,
      .record = [store, record](int i) { record(*store, i); },
      .sync = [store] { return store->sync(); },
      .dirty = [store] { return store->has_unsaved_changes(); },
      .file_has =
          [path, has](int i) {
            Doc doc;
            std::string error;
            const auto bytes = read_file(path);
            return bytes && decode_document(*bytes, doc, error) && has(doc, i);
          },
  };
}

std::string n(int i) { return std::to_string(i); }

AnyStore dictionary_store(const fs::path& folder) {
  return wrap<UserDictionary, UserDictionaryDocument>(
      "user dictionary", folder / "user-dictionary.json",
      [](UserDictionary& s, int i) { s.add("w" + n(i)); },
      [](const UserDictionaryDocument& d, int i) { return d.words.contains("w" + n(i)); });
}
AnyStore bigram_store(const fs::path& folder) {
  return wrap<UserBigrams, UserBigramsDocument>(
      "bigrams", folder / "user-bigrams.json",
      [](UserBigrams& s, int i) { s.record("a", "b" + n(i)); },
      [](const UserBigramsDocument& d, int i) {
        return d.pairs.contains("a") && d.pairs.at("a").contains("b" + n(i));
      });
}
AnyStore trigram_store(const fs::path& folder) {
  return wrap<UserTrigrams, UserTrigramsDocument>(
      "trigrams", folder / "user-trigrams.json",
      [](UserTrigrams& s, int i) { s.record("a", "b", "c" + n(i)); },
      [](const UserTrigramsDocument& d, int i) {
        return d.triples.contains("a\tb") && d.triples.at("a\tb").contains("c" + n(i));
      });
}
AnyStore selection_store(const fs::path& folder) {
  return wrap<SelectionMemory, SelectionMemoryDocument>(
      "selections", folder / "selection-memory.json",
      [](SelectionMemory& s, int i) { s.remember("r" + n(i), "t"); },
      [](const SelectionMemoryDocument& d, int i) { return d.selections.contains("r" + n(i)); });
}
AnyStore rejection_store(const fs::path& folder) {
  return wrap<RejectionMap, RejectionsDocument>(
      "rejections", folder / "rejections.json",
      [](RejectionMap& s, int i) { s.record_rejection("r", "c" + n(i)); },
      [](const RejectionsDocument& d, int i) {
        return d.entries.contains("r") && d.entries.at("r").contains("c" + n(i));
      });
}

using MakeStore = AnyStore (*)(const fs::path&);
const MakeStore kAllStores[] = {dictionary_store, bigram_store, trigram_store, selection_store,
                                rejection_store};

// ---- child processes

// The documents a killed writer leaves: generation g has every pair at frequency g and time g.
constexpr int kGenerationPairs = 200;

UserBigramsDocument generation(uint64_t g) {
  UserBigramsDocument doc;
  auto& followers = doc.pairs["generation"];
  for (int i = 0; i < kGenerationPairs; ++i)
    followers["follower-" + n(i)] =
        BigramEntry{.frequency = static_cast<uint32_t>(g), .last_used = g};
  return doc;
}

// The generation of a document, or nullopt when it is not one whole generation.
std::optional<uint64_t> generation_of(const UserBigramsDocument& doc) {
  if (doc.pairs.size() != 1 || !doc.pairs.contains("generation")) return std::nullopt;
  const auto& followers = doc.pairs.at("generation");
  if (followers.size() != kGenerationPairs) return std::nullopt;
  const uint64_t g = followers.begin()->second.last_used;
  for (const auto& [word, e] : followers) {
    if (e.frequency != g || e.last_used != g) return std::nullopt;
  }
  return g;
}

void announce(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  (void)!::write(3, text.data(), text.size());
}

// Writes generation after generation of the store until it is killed, announcing each one on fd 3
// before its sync starts.
void child_write_loop() {
  const fs::path path = std::getenv("TOLVANI_TEST_STORE");
  const std::optional<uint64_t> start = generation_of(UserBigrams::load(path).document());
  if (!start) {
    announce("bad start");
    return;
  }
  for (uint64_t g = *start + 1;; ++g) {
    UserBigrams store(path, generation(g));
    announce(std::to_string(g));
    if (!store.sync()) announce("sync failed");
  }
}

// Learns 50 changes of its own into all five stores, writing a snapshot after each.
void child_merge_changes() {
  const fs::path dir = std::getenv("TOLVANI_TEST_DIR");
  const std::string tag = std::getenv("TOLVANI_TEST_TAG");
  LearnedStores stores = LearnedStores::load_all(dir);
  char go = 0;
  ASSERT_EQ(::read(0, &go, 1), 1);
  for (int i = 0; i < 50; ++i) {
    stores.user_dictionary.add(tag + "w" + n(i));
    stores.bigrams.record(tag, tag + "n" + n(i));
    stores.trigrams.record(tag, "x", tag + "t" + n(i));
    stores.selections.remember(tag + "r" + n(i), "s");
    stores.rejections.record_rejection(tag, tag + "c" + n(i));
    EXPECT_TRUE(stores.snapshot().sync()) << i;
  }
  test_wait_for_persistence_worker();
}

std::atomic<bool> g_exit_begun{false};

// Holds every new store file until the process has begun to exit, so that the save runs while
// exit tears the process down.
class HoldUntilExitFileSystem final : public ForwardingFileSystem {
 public:
  IoStatus create_new_file(const fs::path& path, int& fd) override {
    while (!g_exit_begun.load()) std::this_thread::yield();
    return ForwardingFileSystem::create_new_file(path, fd);
  }
};

// A host that makes ten selections, which queues a background save, and exits at once without
// tearing its session down.
[[noreturn]] void child_exit_with_queued_save() {
  test_set_store_file_system(new HoldUntilExitFileSystem);  // kept for the life of the process
  TolvaniEngine* engine = tolvani_engine_create();
  auto drop = [](CResult r) { tolvani_engine_free_result(r.ptr, r.len); };
  for (int i = 0; i < 10; ++i) {
    for (char c : std::string_view("ami")) {
      drop(tolvani_engine_handle_key_event(engine, CKeyEvent{TOLVANI_KEY_TEXT, 0, 0, uint32_t(c)}));
    }
    drop(tolvani_engine_select_matching(engine, "ami", "\u0986\u09AE\u09BF"));
  }
  // Registered last, so it runs first at exit.
  std::atexit([] { g_exit_begun = true; });
  std::exit(0);
}

// A host's first minutes: a session, one key, a word committed and a snapshot written, each step
// announced on fd 3.
void child_first_key() {
  auto drop = [](CResult r) { tolvani_engine_free_result(r.ptr, r.len); };
  auto announce = [](std::string_view line) {
    const std::string text = std::string(line) + "\n";
    ASSERT_EQ(::write(3, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  TolvaniEngine* engine = tolvani_engine_create();
  ASSERT_NE(engine, nullptr);
  drop(tolvani_engine_handle_key_event(engine, CKeyEvent{TOLVANI_KEY_TEXT, 0, 0, 'a'}));
  announce("answered");
  for (char c : std::string_view("mi"))
    drop(tolvani_engine_handle_key_event(engine, CKeyEvent{TOLVANI_KEY_TEXT, 0, 0, uint32_t(c)}));
  drop(tolvani_engine_handle_key_event(engine, CKeyEvent{TOLVANI_KEY_SPACE, 0, 0, ' '}));
  TolvaniSnapshot* snapshot = tolvani_engine_snapshot(engine);
  announce(tolvani_snapshot_write(snapshot) ? "written" : "not written");
  tolvani_engine_destroy(engine);
}

constexpr char kChildTest[] = "PersistenceChildProcess.Role";

// Runs only inside a child process that a test below starts.
TEST(PersistenceChildProcess, Role) {
  const char* role = std::getenv(kChildRoleVariable);
  if (role == nullptr) GTEST_SKIP() << "runs only as a child process of the tests below";
  const std::string_view r = role;
  if (r == "write-loop") {
    child_write_loop();
  } else if (r == "merge-changes") {
    child_merge_changes();
  } else if (r == "first-key") {
    child_first_key();
  } else if (r == "exit-with-queued-save") {
    child_exit_with_queued_save();
  } else {
    FAIL() << "unknown role " << r;
  }
}

// The save queued before a clean exit is written whole, and the worker touches nothing that
// exit has destroyed (under AddressSanitizer a use after destruction fails the child).
TEST(PersistenceExitTest, SaveQueuedBeforeExitIsWritten) {
  TempFolder dir;
  Child child(kChildTest, "exit-with-queued-save", {"TOLVANI_DATA_DIR=" + dir.path().string()});
  ASSERT_GT(child.pid(), 0);
  const int status = child.wait();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const auto document = read_document<SelectionMemoryDocument>(dir / "selection-memory.json");
  ASSERT_EQ(document.selections.count("ami"), 1u) << "the queued save was lost";
  EXPECT_EQ(document.selections.at("ami").count, 10u);
  EXPECT_TRUE(names_with(dir.path(), ".tmp.").empty());
}

// The line of `fd` read within `limit`, or "" when none came.
std::string line_within(int fd, std::chrono::milliseconds limit) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (line.empty() || line.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
    char c = 0;
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return "";
    line.push_back(c);
  }
  line.pop_back();
  return line;
}

// Each store file replaced, before the session starts, by what no store can be read from: a FIFO
// (opening it would wait for a writer for ever), a link to /dev/zero (reading it never ends) and a
// file one byte past what the store can grow to. The first key is answered, the thing is set
// aside untouched, a fresh store is written in its place, and the sane files of the other stores
// lose nothing.
TEST(PersistenceExitTest, StoreThatIsNoPlainFileOfASaneSizeIsSetAsideAndTheFirstKeyAnswered) {
  struct StoreFile {
    const char* name;
    const char* sane;  // a document of the store holding one entry
  };
  const StoreFile stores[] = {
      {"user-dictionary.json", R"({"words":{"kept":{"frequency":9}}})"},
      {"user-bigrams.json", R"({"pairs":{"kept":{"pair":{"frequency":9,"last_used":1}}}})"},
      {"user-trigrams.json", R"({"triples":{"kept\tkept":{"triple":9}}})"},
      {"selection-memory.json", R"({"selections":{"kept":{"text":"k","count":9}}})"},
      {"rejections.json", R"({"entries":{"kept":{"rejected":-100}}})"},
  };
  enum class Shape { kFifo, kLinkToZero, kOversized };
  const std::pair<Shape, const char*> shapes[] = {{Shape::kFifo, "FIFO"},
                                                  {Shape::kLinkToZero, "link to /dev/zero"},
                                                  {Shape::kOversized, "oversized file"}};
  for (const auto& [shape, shape_name] : shapes) {
    for (const StoreFile& damaged : stores) {
      const std::string what = std::string(damaged.name) + " as a " + shape_name;
      TempFolder dir;
      for (const StoreFile& store : stores)
        if (&store != &damaged) write_file(dir / store.name, store.sane);
      const fs::path path = dir / damaged.name;
      std::string oversized;
      switch (shape) {
        case Shape::kFifo:
          ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << what;
          break;
        case Shape::kLinkToZero:
          fs::create_symlink("/dev/zero", path);
          break;
        case Shape::kOversized:
          // A valid document, padded with white space to one byte past the bound.
          oversized = damaged.sane;
          oversized.resize(store_io::bounds::max_store_file_bytes(damaged.name) + 1, ' ');
          write_file(path, oversized);
          break;
      }

      Child child(kChildTest, "first-key", {"TOLVANI_DATA_DIR=" + dir.path().string()});
      ASSERT_GT(child.pid(), 0);
      // Generous bounds: they only tell an answer from a hang.
      EXPECT_EQ(line_within(child.from_child(), std::chrono::seconds(10)), "answered") << what;
      EXPECT_EQ(line_within(child.from_child(), std::chrono::seconds(10)), "written") << what;
      ::kill(child.pid(), SIGKILL);  // a child that hangs is ended; one that finished is reaped
      (void)child.wait();

      const auto aside = names_with(dir.path(), ".corrupt.");
      ASSERT_EQ(aside.size(), 1u) << what;
      const std::string stem = fs::path(damaged.name).stem().string();
      EXPECT_EQ(aside[0].rfind(stem + ".corrupt.", 0), 0u) << what << ": " << aside[0];
      const fs::path kept = dir / aside[0];
      switch (shape) {
        case Shape::kFifo:
          EXPECT_TRUE(fs::is_fifo(fs::symlink_status(kept))) << what;
          break;
        case Shape::kLinkToZero:
          EXPECT_EQ(fs::read_symlink(kept), "/dev/zero") << what;
          break;
        case Shape::kOversized:
          EXPECT_EQ(read_file(kept), oversized) << what;
          break;
      }
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path))) << what;
      for (const StoreFile& store : stores) {
        const auto bytes = read_file(dir / store.name);
        ASSERT_TRUE(bytes) << what << ", " << store.name;
        if (&store == &damaged) {
          EXPECT_EQ(bytes->find("kept"), std::string::npos) << what;
        } else {
          EXPECT_NE(bytes->find("kept"), std::string::npos)
              << what << ": " << store.name << " lost "
              << "its entry: " << *bytes;
        }
      }
    }
  }
}

// A store file of exactly its bound is a store like any other: read, and kept where it is.
TEST(PersistenceTest, StoreFileAtItsBoundIsRead) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  std::string bytes = R"({"words":{"kept":{"frequency":9}}})";
  bytes.resize(store_io::bounds::kUserDictionaryFileBytes, ' ');
  write_file(path, bytes);
  UserDictionary dict = UserDictionary::load(path);
  EXPECT_TRUE(dict.contains("kept"));
  dict.add("new");
  EXPECT_TRUE(dict.sync());
  EXPECT_TRUE(names_with(dir.path(), ".corrupt.").empty());
  const auto words = read_document<UserDictionaryDocument>(path).words;
  EXPECT_TRUE(words.contains("kept") && words.contains("new"));
}

TEST(PersistenceCrashTest, KilledWriterLeavesOldOrNewDocument) {
  TempFolder dir;
  const fs::path path = dir / "user-bigrams.json";
  ASSERT_TRUE(UserBigrams(path, generation(0)).sync());
  std::mt19937 rng(::testing::UnitTest::GetInstance()->random_seed());
  uint64_t on_disk = 0;
  for (int round = 0; round < 200; ++round) {
    Child child(kChildTest, "write-loop", {"TOLVANI_TEST_STORE=" + path.string()});
    ASSERT_GT(child.pid(), 0);
    std::string pending;
    std::vector<std::string> lines;
    ASSERT_TRUE(read_lines(child.from_child(), 1 + rng() % 3, pending, lines))
        << "round " << round << ": the writer went silent";
    // The kill lands at a random point of the write that follows.
    ::usleep(rng() % 3'000);
    ::kill(child.pid(), SIGKILL);
    const int status = child.wait();
    EXPECT_TRUE(WIFSIGNALED(status)) << "round " << round << ": status " << status;
    ASSERT_TRUE(read_lines(child.from_child(), 0, pending, lines));

    for (const std::string& line : lines) {
      ASSERT_TRUE(!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit))
          << "round " << round << ": the writer said " << line;
    }
    const uint64_t last = std::stoull(lines.back());
    const std::optional<uint64_t> g = generation_of(read_document<UserBigramsDocument>(path));
    ASSERT_TRUE(g.has_value()) << "round " << round << ": not one whole generation";
    EXPECT_TRUE(*g == last || *g + 1 == last)
        << "round " << round << ": file holds " << *g << ", last announced " << last;
    EXPECT_GE(*g, on_disk) << "round " << round;
    on_disk = *g;
    EXPECT_LE(names_with(dir.path(), ".tmp.").size(), 1u) << "round " << round;
    EXPECT_TRUE(names_with(dir.path(), ".corrupt.").empty()) << "round " << round;
  }
  ASSERT_TRUE(UserBigrams(path, generation(on_disk + 1)).sync());
  EXPECT_EQ(generation_of(read_document<UserBigramsDocument>(path)), on_disk + 1);
  EXPECT_EQ(list_names(dir.path()),
            (std::vector<std::string>{"user-bigrams.json", "user-bigrams.lock"}));
}

// Records the steps of store writes, so that what a power loss after any step would leave on
// disk can be worked out: file data survives only once flushed after its last write, a rename
// only once its folder is flushed after it.
class PowerLossFileSystem final : public ForwardingFileSystem {
 public:
  enum class Step { kWrite, kSyncFile, kRename, kSyncDirectory };
  struct Event {
    Step step;
    fs::path path;  // the file written or flushed, the rename's target, the folder flushed
  };

  IoStatus create_new_file(const fs::path& path, int& fd) override {
    const IoStatus status = ForwardingFileSystem::create_new_file(path, fd);
    if (status.ok()) files_[fd] = path;
    return status;
  }
  IoStatus write_all(int fd, std::string_view bytes) override {
    events_.push_back({Step::kWrite, files_.at(fd)});
    return ForwardingFileSystem::write_all(fd, bytes);
  }
  IoStatus sync_file(int fd) override {
    events_.push_back({Step::kSyncFile, files_.at(fd)});
    return ForwardingFileSystem::sync_file(fd);
  }
  IoStatus rename(const fs::path& from, const fs::path& to) override {
    events_.push_back({Step::kRename, from});
    return ForwardingFileSystem::rename(from, to);
  }
  IoStatus sync_directory(const fs::path& dir) override {
    events_.push_back({Step::kSyncDirectory, dir});
    return ForwardingFileSystem::sync_directory(dir);
  }

  // What the store would hold after a power loss following the first `count` steps: "old",
  // "new" or "garbage" (the new name over data that never reached the disk).
  std::string after_power_loss(size_t count, const fs::path& folder) const {
    bool data_durable = false;
    bool renamed = false;
    bool rename_durable = false;
    for (size_t i = 0; i < count; ++i) {
      const Event& e = events_[i];
      switch (e.step) {
        case Step::kWrite:
          data_durable = false;
          break;
        case Step::kSyncFile:
          data_durable = true;
          break;
        case Step::kRename:
          renamed = true;
          rename_durable = false;
          break;
        case Step::kSyncDirectory:
          if (renamed && e.path == folder) rename_durable = true;
          break;
      }
    }
    if (!rename_durable) return "old";
    return data_durable ? "new" : "garbage";
  }
  size_t steps() const { return events_.size(); }

 private:
  std::map<int, fs::path> files_;
  std::vector<Event> events_;
};

TEST(PersistenceCrashTest, PowerLossLeavesOldOrNewAndASaveIsDurable) {
  TempFolder dir;
  const fs::path path = dir / "selection-memory.json";
  SelectionMemory store(path);
  store.remember("raw", "old");
  ASSERT_TRUE(store.sync());
  store.remember("raw", "new");
  PowerLossFileSystem recorder;
  {
    ScopedFileSystem use(recorder);
    ASSERT_TRUE(store.sync());
  }
  ASSERT_GT(recorder.steps(), 0u);
  for (size_t k = 0; k <= recorder.steps(); ++k) {
    const std::string state = recorder.after_power_loss(k, dir.path());
    EXPECT_NE(state, "garbage") << "power loss after step " << k;
  }
  // Once the sync reported success, the new content survives a power loss.
  EXPECT_EQ(recorder.after_power_loss(recorder.steps(), dir.path()), "new");
}

TEST(PersistenceProcessTest, TwoProcessesSyncingTheSameStoresKeepEveryChange) {
  TempFolder dir;
  const std::vector<std::string> tags = {"a", "b"};
  std::vector<std::unique_ptr<Child>> children;
  for (const std::string& tag : tags) {
    children.push_back(
        std::make_unique<Child>(kChildTest, "merge-changes",
                                std::vector<std::string>{"TOLVANI_TEST_DIR=" + dir.path().string(),
                                                         "TOLVANI_TEST_TAG=" + tag}));
    ASSERT_GT(children.back()->pid(), 0);
  }
  // Both start together, so that their syncs overlap.
  for (auto& child : children) ASSERT_EQ(::write(child->to_child(), "g", 1), 1);
  for (size_t c = 0; c < children.size(); ++c) {
    const int status = children[c]->wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "child " << tags[c] << ": status " << status;
  }

  const LearnedStores stores = LearnedStores::load_all(dir.path());
  for (const std::string& tag : tags) {
    for (int i = 0; i < 50; ++i) {
      EXPECT_TRUE(stores.user_dictionary.contains(tag + "w" + n(i))) << tag << i;
      EXPECT_NE(stores.bigrams.find(tag, tag + "n" + n(i)), nullptr) << tag << i;
      EXPECT_EQ(stores.trigrams.count(tag, "x", tag + "t" + n(i)), 1u) << tag << i;
      EXPECT_NE(stores.selections.get(tag + "r" + n(i)), nullptr) << tag << i;
      EXPECT_EQ(stores.rejections.penalty_for(tag, tag + "c" + n(i)), 100) << tag << i;
    }
  }
  EXPECT_TRUE(names_with(dir.path(), ".tmp.").empty());
  EXPECT_TRUE(names_with(dir.path(), ".corrupt.").empty());
}

// ---- folder, names, reading

TEST(PersistenceTest, UserDataDirectory) {
  struct Row {
    std::optional<std::string> data_dir;
    std::optional<std::string> data_home;
    std::optional<std::string> home;
    std::string expected;
  };
  const Row rows[] = {
      {"/data/tolvani", "/xdg", "/home/u", "/data/tolvani"},
      {"relative/dir/", std::nullopt, "/home/u", "relative/dir/"},
      {"", "/xdg/data", "/home/u", "/xdg/data/tolvani"},
      {std::nullopt, "/xdg/data", std::nullopt, "/xdg/data/tolvani"},
      {"", std::nullopt, "/home/u", "/home/u/.local/share/tolvani"},
      {std::nullopt, "", "/home/u", "/home/u/.local/share/tolvani"},
      {std::nullopt, "relative/data", "/home/u", "/home/u/.local/share/tolvani"},
      {std::nullopt, std::nullopt, std::nullopt, "./.local/share/tolvani"},
      {"", "", std::nullopt, "./.local/share/tolvani"},
  };
  for (const Row& row : rows) {
    ScopedEnv data("TOLVANI_DATA_DIR", row.data_dir);
    ScopedEnv data_home("XDG_DATA_HOME", row.data_home);
    ScopedEnv home("HOME", row.home);
    EXPECT_EQ(user_data_directory().string(), row.expected)
        << row.data_dir.value_or("<unset>") << ", " << row.data_home.value_or("<unset>") << ", "
        << row.home.value_or("<unset>");
  }

  TempFolder dir;
  ScopedEnv data("TOLVANI_DATA_DIR", (dir / "a" / "b").string());
  EXPECT_EQ(user_dict_path(), dir / "a" / "b" / "user-dictionary.json");
  EXPECT_EQ(bigram_path(), dir / "a" / "b" / "user-bigrams.json");
  EXPECT_EQ(trigram_path(), dir / "a" / "b" / "user-trigrams.json");
  EXPECT_EQ(selection_path(), dir / "a" / "b" / "selection-memory.json");
  EXPECT_EQ(rejection_path(), dir / "a" / "b" / "rejections.json");
  EXPECT_EQ(store_lock_path(user_dict_path()), dir / "a" / "b" / "user-dictionary.lock");

  // Reading never creates the folder; the first sync creates it with the lock and store files.
  LearnedStores stores = LearnedStores::load_all();
  EXPECT_FALSE(fs::exists(dir / "a"));
  ASSERT_TRUE(stores.snapshot().sync());
  EXPECT_EQ(
      list_names(dir / "a" / "b"),
      (std::vector<std::string>{"rejections.json", "rejections.lock", "selection-memory.json",
                                "selection-memory.lock", "user-bigrams.json", "user-bigrams.lock",
                                "user-dictionary.json", "user-dictionary.lock",
                                "user-trigrams.json", "user-trigrams.lock"}));
}

TEST(PersistenceTest, UniqueNamesShareOneCounter) {
  test_wait_for_persistence_worker();
  const std::string pid = std::to_string(::getpid());
  const fs::path first = unique_store_path("dir/user-bigrams.json", "tmp");
  const std::string stem = "dir/user-bigrams.tmp." + pid + ".";
  ASSERT_EQ(first.string().substr(0, stem.size()), stem);
  const uint64_t k = std::stoull(first.string().substr(stem.size()));
  EXPECT_EQ(unique_store_path("rejections.json", "corrupt").string(),
            "rejections.corrupt." + pid + "." + std::to_string(k + 1));
  EXPECT_EQ(unique_store_path("dir/user-dictionary.json", "tmp").string(),
            "dir/user-dictionary.tmp." + pid + "." + std::to_string(k + 2));
}

TEST(PersistenceTest, ReadStoreOutcomes) {
  TempFolder dir;
  write_file(dir / "broken.json", "{");
  write_file(dir / "good.json", R"({"reset_id":"r","selections":{}})");
  fs::create_directory(dir / "folder.json");

  EXPECT_TRUE(std::holds_alternative<NoDocument>(
      read_store<SelectionMemoryDocument>(dir / "missing.json")));
  const auto good = read_store<SelectionMemoryDocument>(dir / "good.json");
  ASSERT_TRUE(std::holds_alternative<SelectionMemoryDocument>(good));
  EXPECT_EQ(std::get<SelectionMemoryDocument>(good).reset_id, "r");
  const auto broken = read_store<SelectionMemoryDocument>(dir / "broken.json");
  ASSERT_TRUE(std::holds_alternative<StoreError>(broken));
  EXPECT_EQ(std::get<StoreError>(broken).kind, StoreError::Kind::kInvalidData);
  const auto folder = read_store<SelectionMemoryDocument>(dir / "folder.json");
  ASSERT_TRUE(std::holds_alternative<StoreError>(folder));
  EXPECT_EQ(std::get<StoreError>(folder).kind, StoreError::Kind::kIo);
  EXPECT_NE(std::get<StoreError>(folder).message.find("Is a directory"), std::string::npos);

  // A missing file loads silently, as an empty store that its first sync writes.
  StderrCapture err;
  const SelectionMemory missing = SelectionMemory::load(dir / "missing.json");
  EXPECT_EQ(err.take(), "");
  EXPECT_TRUE(missing.has_unsaved_changes());
  EXPECT_EQ(missing.size(), 0u);
  // One loaded from its file is clean.
  EXPECT_FALSE(SelectionMemory::load(dir / "good.json").has_unsaved_changes());
}

// ---- what a write leaves behind

TEST(PersistenceTest, WriteSweepsOnlyAbandonedTemporaries) {
  TempFolder dir;
  const std::vector<std::string> removed = {"user-dictionary.tmp.12.7",
                                            "user-dictionary.tmp.007.0"};
  const std::vector<std::string> kept = {
      "user-dictionary.tmp.3.4.5", "user-dictionary.tmp.x.1",     "user-dictionary.tmp.1.",
      "user-dictionary.tmp..1",    "user-dictionary.tmp.1",       "user-dictionary.tmp.+1.2",
      "user-dictionary.tmp.1.2a",  "user-bigrams.tmp.1.2",        "user-dictionary.corrupt.1.2",
      "xuser-dictionary.tmp.1.2",  "user-dictionary.tmp.1.2.json"};
  for (const auto& name : removed) write_file(dir / name, "x");
  for (const auto& name : kept) write_file(dir / name, "x");
  fs::create_directory(dir / "user-dictionary.tmp.12.8");
  write_file(dir / "target", "t");
  fs::create_symlink(dir / "target", dir / "user-dictionary.tmp.5.6");

  ASSERT_TRUE(UserDictionary(dir / "user-dictionary.json").sync());

  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {"target", "user-dictionary.json", "user-dictionary.lock",
                                   "user-dictionary.tmp.12.8/", "user-dictionary.tmp.5.6"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(list_names(dir.path()), expected);
  EXPECT_EQ(read_file(dir / "target"), "t");
}

TEST(PersistenceTest, UnremovableLeftoverDoesNotStopTheWrite) {
  TempFolder dir;
  write_file(dir / "user-dictionary.tmp.1.1", "x");
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  faults.arm(Fault::kRemove, EBUSY);
  StderrCapture err;
  EXPECT_TRUE(UserDictionary(dir / "user-dictionary.json").sync());
  EXPECT_EQ(err.take(), "[Tolvani] cannot remove abandoned store temporary file: " +
                            IoStatus{EBUSY}.message() + "\n");
  EXPECT_EQ(read_file(dir / "user-dictionary.json"),
            R"({"reset_id":"","words":{},"tombstones":{}})");
}

TEST(PersistenceTest, WriteFaultsKeepTheOldFileAndRetryLater) {
  struct Row {
    Fault fault;
    int error;
    bool renamed;  // the new file was in place before the failure
  };
  const Row rows[] = {
      {Fault::kCreateTemporary, EACCES, false}, {Fault::kWrite, ENOSPC, false},
      {Fault::kSyncFile, EIO, false},           {Fault::kRename, EXDEV, false},
      {Fault::kSyncDirectory, EIO, true},
  };
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  for (const Row& row : rows) {
    const std::string what = "fault " + std::to_string(static_cast<int>(row.fault));
    TempFolder dir;
    const fs::path path = dir / "user-bigrams.json";
    UserBigrams store(path);
    store.record("old", "pair");
    ASSERT_TRUE(store.sync()) << what;
    const std::string old_bytes = *read_file(path);
    store.record("new", "pair");

    faults.arm(row.fault, row.error);
    const uint64_t failures = persistence_failures();
    StderrCapture err;
    EXPECT_FALSE(store.sync()) << what;
    EXPECT_EQ(err.take(), "[Tolvani] cannot persist " + path.string() + ": " +
                              IoStatus{row.error}.message() + "\n")
        << what;
    EXPECT_EQ(persistence_failures(), failures + 1) << what;
    EXPECT_TRUE(store.has_unsaved_changes()) << what;
    EXPECT_TRUE(names_with(dir.path(), ".tmp.").empty()) << what;
    if (!row.renamed) {
      EXPECT_EQ(read_file(path), old_bytes) << what;
    }

    faults.disarm();
    EXPECT_TRUE(store.sync()) << what;
    EXPECT_FALSE(store.has_unsaved_changes()) << what;
    const auto doc = read_document<UserBigramsDocument>(path);
    EXPECT_TRUE(doc.pairs.contains("old") && doc.pairs.contains("new")) << what;
  }
}

// ---- corrupt and unreadable files

TEST(PersistenceTest, CorruptFileIsSetAsideAndLearningStartsAfresh) {
  const std::string good = R"({"reset_id":"","words":{"old":{"frequency":5}},"tombstones":{}})";
  struct Row {
    std::string what;
    std::string bytes;
  };
  const Row rows[] = {
      {"one brace", "{"},
      {"truncated", good.substr(0, good.size() - 9)},
      {"damaged byte", std::string(good).replace(good.find("old"), 1, "\xff")},
      {"trailing text", good + "x"},
      {"count as text", R"({"words":{"old":{"frequency":"5"}}})"},
      {"empty", ""},
  };
  const std::string pid = std::to_string(::getpid());
  for (const Row& row : rows) {
    TempFolder dir;
    const fs::path path = dir / "user-dictionary.json";
    write_file(path, row.bytes);

    StderrCapture load_err;
    UserDictionary dict = UserDictionary::load(path);
    const std::string load_line = load_err.take();
    EXPECT_EQ(load_line.rfind("[Tolvani] cannot load learned store: ", 0), 0u)
        << row.what << ": " << load_line;
    EXPECT_TRUE(dict.words().empty()) << row.what;

    dict.add("new");
    const uint64_t failures = persistence_failures();
    StderrCapture sync_err;
    EXPECT_TRUE(dict.sync()) << row.what;
    const std::string sync_line = sync_err.take();
    EXPECT_EQ(persistence_failures(), failures) << row.what;

    const auto corrupt = names_with(dir.path(), ".corrupt.");
    ASSERT_EQ(corrupt.size(), 1u) << row.what;
    EXPECT_EQ(corrupt[0].rfind("user-dictionary.corrupt." + pid + ".", 0), 0u) << corrupt[0];
    EXPECT_EQ(read_file(dir / corrupt[0]), row.bytes) << row.what;
    // The preserved line names the copy and repeats the parse error of the load.
    EXPECT_EQ(sync_line, "[Tolvani] preserved corrupt store at " + (dir / corrupt[0]).string() +
                             ": " + load_line.substr(37))
        << row.what;
    EXPECT_EQ(render(read_document<UserDictionaryDocument>(path)).substr(0, 17),
              R"(reset "" | new{1 )")
        << row.what;
  }
}

// Regression: process ids come round again, so "corrupt.<pid>.<n>" of an earlier run may exist;
// setting a file aside with a plain rename replaced that earlier preserved copy.
TEST(PersistenceTest, CorruptCopyNeverReplacesAnEarlierOne) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  test_wait_for_persistence_worker();
  const std::string probe = unique_store_path(path, "corrupt").string();
  const uint64_t k = std::stoull(probe.substr(probe.rfind('.') + 1));
  const std::string base = probe.substr(0, probe.rfind('.') + 1);
  for (uint64_t i = 1; i <= 3; ++i) write_file(base + std::to_string(k + i), "earlier " + n(i));
  write_file(path, "{");

  StderrCapture err;
  UserDictionary dict = UserDictionary::load(path);
  EXPECT_TRUE(dict.sync());
  (void)err.take();
  for (uint64_t i = 1; i <= 3; ++i)
    EXPECT_EQ(read_file(base + std::to_string(k + i)), "earlier " + n(i));
  EXPECT_EQ(read_file(base + std::to_string(k + 4)), "{");
}

TEST(PersistenceTest, CorruptFileThatCannotBeSetAsideIsNotOverwritten) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  write_file(path, "{");
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  StderrCapture load_err;
  UserDictionary dict = UserDictionary::load(path);
  (void)load_err.take();
  dict.add("word");

  faults.arm(Fault::kRenameAside, EACCES);
  const uint64_t failures = persistence_failures();
  StderrCapture err;
  EXPECT_FALSE(dict.sync());
  EXPECT_EQ(err.take(), "[Tolvani] refusing to overwrite unreadable store: " +
                            IoStatus{EACCES}.message() + "\n");
  EXPECT_EQ(persistence_failures(), failures + 1);
  EXPECT_EQ(read_file(path), "{");
  EXPECT_TRUE(names_with(dir.path(), ".corrupt.").empty());
  EXPECT_TRUE(dict.has_unsaved_changes());

  faults.disarm();
  StderrCapture later;
  EXPECT_TRUE(dict.sync());
  (void)later.take();
  EXPECT_EQ(names_with(dir.path(), ".corrupt.").size(), 1u);
  EXPECT_TRUE(read_document<UserDictionaryDocument>(path).words.contains("word"));
}

// ---- folder and lock failures, for every store

TEST(PersistenceTest, SyncProblemsCountAFailureAndLoseNothing) {
  enum class Problem { kLockIsDirectory, kFolderCannotBeMade, kLockFails, kStoreIsDirectory };
  struct Row {
    Problem problem;
    std::string what;
  };
  const Row rows[] = {{Problem::kLockIsDirectory, "lock path is a directory"},
                      {Problem::kFolderCannotBeMade, "folder cannot be created"},
                      {Problem::kLockFails, "flock fails"},
                      {Problem::kStoreIsDirectory, "store path is a directory"}};
  const std::string enotdir = IoStatus{ENOTDIR}.message();
  const std::string eisdir = IoStatus{EISDIR}.message();
  // The line of a folder that cannot be created, by store (some go on to the lock file).
  const std::string folder_lines[] = {
      "[Tolvani] failed to create user dict directory: " + enotdir + "\n",
      "[Tolvani] failed to create bigram directory: " + enotdir + "\n",
      "[Tolvani] cannot open store lock: " + enotdir + "\n",
      "",
      "[Tolvani] cannot open store lock: " + enotdir + "\n",
  };
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  for (const Row& row : rows) {
    for (size_t s = 0; s < std::size(kAllStores); ++s) {
      TempFolder dir;
      const fs::path folder =
          row.problem == Problem::kFolderCannotBeMade ? dir / "blocker" / "data" : dir.path();
      AnyStore store = kAllStores[s](folder);
      const std::string what = row.what + ", " + store.name;
      const fs::path lock = store_lock_path(store.path);
      std::string line;
      bool saved_before = true;
      switch (row.problem) {
        case Problem::kLockIsDirectory:
          store.record(0);
          ASSERT_TRUE(store.sync()) << what;
          fs::remove(lock);
          fs::create_directory(lock);
          line = "[Tolvani] cannot open store lock: " + eisdir + "\n";
          break;
        case Problem::kFolderCannotBeMade:
          write_file(dir / "blocker", "a file");
          store.record(0);
          saved_before = false;
          line = folder_lines[s];
          break;
        case Problem::kLockFails:
          store.record(0);
          ASSERT_TRUE(store.sync()) << what;
          faults.arm(Fault::kLock, ENOLCK);
          line = "[Tolvani] cannot lock store: " + IoStatus{ENOLCK}.message() + "\n";
          break;
        case Problem::kStoreIsDirectory:
          fs::create_directory(store.path);
          store.record(0);
          saved_before = false;
          line = "[Tolvani] refusing to overwrite unreadable store: " + eisdir + "\n";
          break;
      }
      const auto before = saved_before ? read_file(store.path) : std::nullopt;
      store.record(1);
      const uint64_t failures = persistence_failures();
      StderrCapture err;
      EXPECT_FALSE(store.sync()) << what;
      EXPECT_EQ(err.take(), line) << what;
      EXPECT_EQ(persistence_failures(), failures + 1) << what;
      EXPECT_TRUE(store.dirty()) << what;
      if (saved_before) {
        EXPECT_EQ(read_file(store.path), before) << what;
      }

      // The engine goes on learning, and once the problem is gone one sync writes it all.
      store.record(2);
      faults.disarm();
      if (row.problem == Problem::kFolderCannotBeMade) fs::remove(dir / "blocker");
      if (row.problem == Problem::kLockIsDirectory) fs::remove(lock);
      if (row.problem == Problem::kStoreIsDirectory) fs::remove(store.path);
      EXPECT_TRUE(store.sync()) << what;
      EXPECT_FALSE(store.dirty()) << what;
      for (int i = 0; i < 3; ++i) EXPECT_TRUE(store.file_has(i)) << what << ", change " << i;
    }
  }
}

// ---- the reset rule and clean stores

TEST(PersistenceTest, ResetByAnotherWriterWinsAndCountsAsSaved) {
  FaultFileSystem counting;
  ScopedFileSystem use(counting);
  for (MakeStore make : kAllStores) {
    TempFolder dir;
    AnyStore store = make(dir.path());
    store.record(0);
    // The settings side resets the store while the engine holds unsaved changes.
    const std::string reset =
        R"({"reset_id":"5E1F","words":{},"tombstones":{},"pairs":{},"triples":{},)"
        R"("selections":{},"entries":{}})";
    write_file(store.path, reset);
    EXPECT_TRUE(store.sync()) << store.name;
    EXPECT_EQ(read_file(store.path), reset) << store.name;
    EXPECT_FALSE(store.dirty()) << store.name;
    // A clean store's sync touches no file at all.
    const int calls = counting.calls();
    EXPECT_TRUE(store.sync()) << store.name;
    EXPECT_EQ(counting.calls(), calls) << store.name;
    EXPECT_TRUE(names_with(dir.path(), ".tmp.").empty()) << store.name;
  }
}

// ---- the worker

// Holds every store lock taken through it until opened.
class GateFileSystem final : public ForwardingFileSystem {
 public:
  IoStatus lock_exclusive(int fd) override {
    {
      std::unique_lock<std::mutex> lock(mu_);
      ++waiting_;
      cv_.notify_all();
      cv_.wait(lock, [this] { return open_; });
    }
    return ForwardingFileSystem::lock_exclusive(fd);
  }
  void wait_until_held() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return waiting_ > 0; });
  }
  void open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int waiting_ = 0;
  bool open_ = false;
};

bool batch_class_allowed() {
  int result = -1;
  std::thread([&] {
    sched_param param{};
    result = pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
  }).join();
  return result == 0;
}

// The scheduling policies of this process's threads named `name`.
std::vector<int> thread_policies(const std::string& name) {
  std::vector<int> policies;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    const auto comm = read_file(task.path() / "comm");
    if (!comm || *comm != name + "\n") continue;
    policies.push_back(sched_getscheduler(std::stoi(task.path().filename().string())));
  }
  return policies;
}

TEST(PersistenceWorkerTest, ConcurrentRequestsKeepOneJobPerWriterAndAtMostSixteen) {
  TempFolder dir;
  GateFileSystem gate;
  ScopedFileSystem use(gate);
  struct OpenOnExit {
    GateFileSystem& gate;
    ~OpenOnExit() { gate.open(); }
  } open_on_exit{gate};

  // The first job occupies the worker at the store lock.
  UserTrigrams busy(dir / "busy.json");
  busy.record("a", "b", "c");
  request_background_save(busy);
  gate.wait_until_held();
  EXPECT_TRUE(test_queued_saves().empty());

  std::vector<UserTrigrams> writers;
  for (int w = 0; w < 16; ++w) {
    writers.emplace_back(dir / ("writer-" + n(w) + ".json"));
    writers.back().record("a", "b", "w" + n(w));
    request_background_save(writers.back());
  }
  auto queued = test_queued_saves();
  ASSERT_EQ(queued.size(), 16u);
  EXPECT_EQ(queued.front().first, writers.front().writer().writer_id());

  // A seventeenth writer finds the queue full.
  UserTrigrams late(dir / "late.json");
  late.record("a", "b", "late");
  const uint64_t failures = persistence_failures();
  {
    StderrCapture err;
    request_background_save(late);
    EXPECT_EQ(err.take(),
              "[Tolvani] persistence queue full; retaining unsaved revision for retry\n");
  }
  EXPECT_EQ(persistence_failures(), failures + 1);
  EXPECT_TRUE(late.has_unsaved_changes());

  // A writer with a queued job replaces it; an older copy of it then queues nothing.
  const UserTrigrams older = writers[5];
  writers[5].record("a", "b", "again");
  request_background_save(writers[5]);
  request_background_save(older);
  queued = test_queued_saves();
  EXPECT_EQ(queued.size(), 16u);
  EXPECT_EQ(persistence_failures(), failures + 1);
  EXPECT_EQ(
      std::count_if(queued.begin(), queued.end(),
                    [&](const auto& job) { return job.first == writers[5].writer().writer_id(); }),
      1);
  EXPECT_EQ(queued.back(),
            std::make_pair(writers[5].writer().writer_id(), writers[5].writer().revision()));

  gate.open();
  test_wait_for_persistence_worker();
  // One worker, of the batch class where the kernel allows it: woken by a key's save request, it
  // must not take the processor from that key.
  const std::vector<int> policies = thread_policies("tolvani-persist");
  ASSERT_EQ(policies.size(), 1u);
  if (batch_class_allowed()) {
    EXPECT_EQ(policies[0], SCHED_BATCH);
  }
  for (int w = 0; w < 16; ++w) {
    EXPECT_FALSE(writers[w].has_unsaved_changes()) << w;
    const auto doc = read_document<UserTrigramsDocument>(writers[w].path());
    EXPECT_TRUE(doc.triples.at("a\tb").contains("w" + n(w))) << w;
  }
  EXPECT_TRUE(
      read_document<UserTrigramsDocument>(writers[5].path()).triples.at("a\tb").contains("again"));
  // Nothing of the late writer was lost: it is still unsaved, and its next save writes it.
  EXPECT_FALSE(fs::exists(late.path()));
  EXPECT_TRUE(late.sync());
  EXPECT_TRUE(fs::exists(late.path()));
}

// Throws from the first file read, as an internal failure of a job would.
class ThrowOnceFileSystem final : public ForwardingFileSystem {
 public:
  IoStatus read_file(const fs::path& path, std::string& out) override {
    if (!thrown_.exchange(true)) throw std::runtime_error("injected");
    return ForwardingFileSystem::read_file(path, out);
  }

 private:
  std::atomic<bool> thrown_{false};
};

TEST(PersistenceWorkerTest, ConcurrentJobThatThrowsIsCountedAndTheWorkerGoesOn) {
  TempFolder dir;
  ThrowOnceFileSystem throwing;
  ScopedFileSystem use(throwing);
  UserBigrams first(dir / "first.json");
  first.record("a", "b");
  UserBigrams second(dir / "second.json");
  second.record("c", "d");
  const uint64_t failures = persistence_failures();
  request_background_save(first);
  test_wait_for_persistence_worker();
  request_background_save(second);
  test_wait_for_persistence_worker();
  EXPECT_EQ(persistence_failures(), failures + 1);
  EXPECT_TRUE(first.has_unsaved_changes());
  EXPECT_FALSE(second.has_unsaved_changes());
  EXPECT_TRUE(first.sync());
  EXPECT_NE(read_document<UserBigramsDocument>(first.path()).pairs.count("a"), 0u);
}

// A session learning while snapshots are written on other threads and the worker saves every
// few changes: nothing is lost and nothing races.
TEST(PersistenceWorkerTest, ConcurrentSnapshotsAndBackgroundSavesKeepEveryChange) {
  TempFolder dir;
  LearnedStores stores = LearnedStores::load_all(dir.path());
  std::vector<std::thread> writers;
  std::atomic<int> failed{0};
  for (int i = 0; i < 300; ++i) {
    stores.user_dictionary.add("w" + n(i));
    stores.bigrams.record("w" + n(i), "w" + n(i + 1));
    stores.trigrams.record("a", "b", "w" + n(i));
    stores.selections.remember("r" + n(i), "w");
    stores.rejections.record_rejection("r", "w" + n(i));
    if (i % 25 == 0) {
      writers.emplace_back([snapshot = stores.snapshot(), &failed] {
        if (!snapshot.sync()) ++failed;
      });
    }
  }
  for (auto& t : writers) t.join();
  EXPECT_TRUE(stores.snapshot().sync());
  test_wait_for_persistence_worker();
  EXPECT_EQ(failed.load(), 0);
  const LearnedStores back = LearnedStores::load_all(dir.path());
  for (int i = 0; i < 300; ++i) {
    EXPECT_TRUE(back.user_dictionary.contains("w" + n(i))) << i;
    EXPECT_NE(back.bigrams.find("w" + n(i), "w" + n(i + 1)), nullptr) << i;
    EXPECT_NE(back.selections.get("r" + n(i)), nullptr) << i;
    EXPECT_EQ(back.rejections.penalty_for("r", "w" + n(i)), 100) << i;
  }
  EXPECT_EQ(back.trigrams.size(), 300u);
  EXPECT_TRUE(names_with(dir.path(), ".tmp.").empty());
}

// ---- the document a background save is lent

TEST(StoreDocumentTest, CopiesAreOfTheirMomentAndASavesCopyIsOfWhenItRuns) {
  using Doc = UserTrigramsDocument;
  StoreDocument<Doc> store;
  store.edit()->reset_id = "a";
  const StoreDocument<Doc> copy(store);
  StoreDocument<Doc> lent(store, LendForSave{});
  store.edit()->reset_id = "b";
  EXPECT_EQ(copy.get().reset_id, "a");
  EXPECT_EQ(lent.get().reset_id, "b");  // taken at its first use
  store.edit()->reset_id = "c";
  EXPECT_EQ(lent.get().reset_id, "b");  // and its own from then on

  // A new document (a reload) leaves earlier loans with the one they were lent.
  StoreDocument<Doc> before_reload(store, LendForSave{});
  store = Doc{.reset_id = "reloaded", .triples = {}};
  EXPECT_EQ(before_reload.get().reset_id, "c");
  EXPECT_EQ(store.get().reset_id, "reloaded");

  // A move leaves an empty, usable document; the loans follow the moved store.
  StoreDocument<Doc> lent_again(store, LendForSave{});
  StoreDocument<Doc> moved(std::move(store));
  moved.edit()->reset_id = "moved";
  EXPECT_EQ(lent_again.get().reset_id, "moved");
  EXPECT_EQ(store.get().reset_id, "");  // NOLINT(bugprone-use-after-move): left usable on purpose
  store.edit()->reset_id = "reused";
  EXPECT_EQ(moved.get().reset_id, "moved");
}

TEST(StoreDocumentTest, ConcurrentSavesTakeWhileTheStoreChanges) {
  using Doc = UserTrigramsDocument;
  StoreDocument<Doc> store;
  std::vector<std::thread> savers;
  std::atomic<int> short_copies{0};
  for (int i = 0; i < 400; ++i) {
    store.edit()->triples["a"]["w" + n(i)] = static_cast<uint32_t>(i);
    if (i % 20 == 0) {
      savers.emplace_back([lent = StoreDocument<Doc>(store, LendForSave{}), i, &short_copies] {
        // Taken now, on this thread: everything up to the request, perhaps more.
        if (lent.get().triples.at("a").size() < static_cast<size_t>(i) + 1) ++short_copies;
      });
    }
  }
  for (auto& t : savers) t.join();
  EXPECT_EQ(short_copies.load(), 0);
  EXPECT_EQ(store.get().triples.at("a").size(), 400u);
}

// ---- the learning snapshot

TEST(LearningSnapshotTest, MissingFilesAreAllWrittenAndUnchangedStoresNotAgain) {
  TempFolder dir;
  ASSERT_TRUE(LearnedStores::load_all(dir.path()).snapshot().sync());
  const std::pair<const char*, const char*> files[] = {
      {"user-dictionary.json", R"({"reset_id":"","words":{},"tombstones":{}})"},
      {"user-bigrams.json", R"({"reset_id":"","pairs":{}})"},
      {"user-trigrams.json", R"({"reset_id":"","triples":{}})"},
      {"rejections.json", R"({"reset_id":"","entries":{}})"},
      {"selection-memory.json", R"({"reset_id":"","selections":{}})"},
  };
  for (const auto& [name, bytes] : files) EXPECT_EQ(read_file(dir / name), bytes) << name;

  // Loaded from the files and taught nothing: the snapshot touches no file.
  FaultFileSystem counting;
  ScopedFileSystem use(counting);
  const LearningSnapshot snapshot = LearnedStores::load_all(dir.path()).snapshot();
  const int calls = counting.calls();
  EXPECT_TRUE(snapshot.sync());
  EXPECT_EQ(counting.calls(), calls);
}

TEST(LearningSnapshotTest, OneFailingStoreDoesNotStopTheOthers) {
  TempFolder dir;
  LearnedStores stores = LearnedStores::load_all(dir.path());
  fs::create_directory(dir / "user-trigrams.lock");
  stores.user_dictionary.add("word");
  stores.bigrams.record("a", "b");
  stores.trigrams.record("a", "b", "c");
  stores.rejections.record_rejection("r", "c");
  stores.selections.remember("r", "t");
  const uint64_t failures = persistence_failures();
  StderrCapture err;
  EXPECT_FALSE(stores.snapshot().sync());
  EXPECT_EQ(err.take(), "[Tolvani] cannot open store lock: " + IoStatus{EISDIR}.message() + "\n");
  EXPECT_EQ(persistence_failures(), failures + 1);
  const LearnedStores back = LearnedStores::load_all(dir.path());
  EXPECT_TRUE(back.user_dictionary.contains("word"));
  EXPECT_NE(back.bigrams.find("a", "b"), nullptr);
  EXPECT_EQ(back.rejections.penalty_for("r", "c"), 100);
  EXPECT_NE(back.selections.get("r"), nullptr);
  EXPECT_FALSE(fs::exists(dir / "user-trigrams.json"));
  // Only the failed store is still unsaved in the session; the next snapshot writes it.
  EXPECT_TRUE(stores.trigrams.has_unsaved_changes());
  EXPECT_FALSE(stores.bigrams.has_unsaved_changes());
  fs::remove(dir / "user-trigrams.lock");
  EXPECT_TRUE(stores.snapshot().sync());
  EXPECT_EQ(LearnedStores::load_all(dir.path()).trigrams.count("a", "b", "c"), 1u);
}

TEST(LearningSnapshotTest, SnapshotWritesItsMomentAndNeverUndoesNewerWork) {
  TempFolder dir;
  FaultFileSystem counting;
  ScopedFileSystem use(counting);
  LearnedStores stores = LearnedStores::load_all(dir.path());
  stores.user_dictionary.add("before");
  const LearningSnapshot early = stores.snapshot();
  stores.user_dictionary.add("after");
  const LearningSnapshot late = stores.snapshot();

  ASSERT_TRUE(early.sync());
  auto words = read_document<UserDictionaryDocument>(dir / "user-dictionary.json").words;
  EXPECT_TRUE(words.contains("before"));
  EXPECT_FALSE(words.contains("after"));
  EXPECT_TRUE(stores.user_dictionary.has_unsaved_changes());

  ASSERT_TRUE(late.sync());
  EXPECT_FALSE(stores.user_dictionary.has_unsaved_changes());
  // The early snapshot again: already saved beyond its revision, it touches nothing.
  const int calls = counting.calls();
  EXPECT_TRUE(early.sync());
  EXPECT_EQ(counting.calls(), calls);
  words = read_document<UserDictionaryDocument>(dir / "user-dictionary.json").words;
  EXPECT_TRUE(words.contains("before") && words.contains("after"));
}

TEST(LearningSnapshotTest, ReloadTakesTheFilesButKeepsWhatCouldNotBeSaved) {
  TempFolder dir;
  LearnedStores stores = LearnedStores::load_all(dir.path());
  stores.bigrams.record("mine", "pair");
  stores.rejections.record_rejection("r", "mine");
  UserBigramsDocument elsewhere;
  elsewhere.pairs["their"]["pair"] = BigramEntry{.frequency = 3, .last_used = 1};
  write_document(dir / "user-bigrams.json", elsewhere);
  fs::create_directory(dir / "rejections.lock");

  StderrCapture err;
  EXPECT_FALSE(stores.reload());
  (void)err.take();
  EXPECT_NE(stores.bigrams.find("their", "pair"), nullptr);
  EXPECT_NE(stores.bigrams.find("mine", "pair"), nullptr);
  EXPECT_FALSE(stores.bigrams.has_unsaved_changes());
  EXPECT_EQ(stores.rejections.penalty_for("r", "mine"), 100);
  EXPECT_TRUE(stores.rejections.has_unsaved_changes());
}

}  // namespace
}  // namespace tolvani::engine
