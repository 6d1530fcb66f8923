// A bounded soak of the whole engine through the C interface.
//
//   soak [--keys N]      eight sessions on four threads type N keystrokes in all (default one
//                        million) in all three modes, learning on, with snapshots written from
//                        a writer thread; a second process syncs the same stores meanwhile
//   soak --role child DIR STOP WORDS
//                        (internal) the second process: types and writes snapshots into the
//                        data folder until the file STOP exists, then lists its learned words
//                        in WORDS
//
// At the end every store file must parse, every word a session taught (noted as committed, or a
// lexicon word committed by a space) must be in the user dictionary, no temporary file may be
// left and no snapshot write may have failed. Resident memory is printed every 100,000 keys.
// Exits non-zero when a check fails.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "composition_record.h"
#include "lexicon.h"
#include "store_documents.h"
#include "tolvani_engine.h"
#include "utf8.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvani::engine;
using Clock = std::chrono::steady_clock;

constexpr int kSessions = 8;
constexpr int kThreads = 4;
constexpr uint64_t kSnapshotEvery = 4'000;
constexpr uint64_t kMemoryEvery = 100'000;

struct Word {
  std::string key;     // lowercase Latin, typed in phonetic mode
  std::string bangla;  // noted as committed by the host
};

// Lexicon words with plain Latin keys, spread over the whole lexicon. Few enough that the user
// dictionary never reaches its cap, so that nothing learned can be evicted.
std::vector<Word> vocabulary() {
  std::vector<Word> words;
  const uint32_t n = lexicon_size();
  for (uint32_t i = 0; i < 600 && n > 0; ++i) {
    const LexiconEntry e = lexicon_entry(static_cast<uint32_t>(uint64_t{i} * n / 600));
    bool plain = e.phonetic.size() >= 2 && e.phonetic.size() <= 12 && !e.bangla.empty();
    for (char c : e.phonetic) plain = plain && c >= 'a' && c <= 'z';
    if (plain) words.push_back({std::string(e.phonetic), std::string(e.bangla)});
  }
  return words;
}

long rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

void key(TolvaniEngine* engine, uint32_t kind, uint32_t codepoint) {
  const CResult r = tolvani_engine_handle_key_event(engine, CKeyEvent{kind, 0, 0, codepoint});
  tolvani_engine_free_result(r.ptr, r.len);
}

// Types one word and its space, then notes the word as committed. Returns the keys sent.
uint64_t type_word(TolvaniEngine* engine, uint32_t mode, const Word& w, std::mt19937_64& rng,
                   std::set<std::string>& taught) {
  uint64_t keys = 0;
  if (mode == 0) {
    for (char c : w.key) key(engine, TOLVANI_KEY_TEXT, static_cast<unsigned char>(c)), ++keys;
  } else {
    // The fixed layouts: letters, a backspace now and then.
    const size_t len = 1 + rng() % 6;
    for (size_t i = 0; i < len; ++i) {
      if (rng() % 8 == 0) {
        key(engine, TOLVANI_KEY_BACKSPACE, 0);
      } else {
        key(engine, TOLVANI_KEY_TEXT, 'a' + static_cast<uint32_t>(rng() % 26));
      }
      ++keys;
    }
  }
  if (rng() % 16 == 0) {
    key(engine, TOLVANI_KEY_ESCAPE, 0);
  } else {
    // A committed Bangla word of the lexicon is learned: remember it.
    const CResult r =
        tolvani_engine_handle_key_event(engine, CKeyEvent{TOLVANI_KEY_SPACE, 0, 0, ' '});
    if (const auto state = tolvani::decode_engine_state(r.ptr, r.len)) {
      const std::string_view word = utf8::trim_white_space(state->commit_text);
      bool bangla = false;
      for (char c : word) bangla = bangla || static_cast<unsigned char>(c) >= 0x80;
      if (bangla && lexicon_frequency(word)) taught.insert(std::string(word));
    }
    tolvani_engine_free_result(r.ptr, r.len);
  }
  ++keys;
  const CResult r = tolvani_engine_note_committed_word(engine, w.bangla.c_str());
  tolvani_engine_free_result(r.ptr, r.len);
  taught.insert(w.bangla);
  return keys;
}

TolvaniEngine* new_session() {
  TolvaniEngine* engine = tolvani_engine_create();
  if (engine == nullptr) {
    std::fprintf(stderr, "soak: no session\n");
    std::exit(1);
  }
  const CResult r = tolvani_engine_update_config(engine, 5, TOLVANI_FLAG_AUTOCORRECT);
  tolvani_engine_free_result(r.ptr, r.len);
  return engine;
}

int child(const std::string& stop, const std::string& words_file) {
  const std::vector<Word> words = vocabulary();
  std::mt19937_64 rng(99);
  std::set<std::string> taught;
  TolvaniEngine* engine = new_session();
  uint64_t keys = 0;
  uint64_t next_snapshot = 1'000;
  uint32_t mode = 0;
  bool ok = true;
  while (!fs::exists(stop)) {
    if (rng() % 64 == 0) {
      mode = static_cast<uint32_t>(rng() % 3);
      tolvani_engine_set_mode(engine, mode);
    }
    keys += type_word(engine, mode, words[rng() % words.size()], rng, taught);
    if (keys >= next_snapshot) {
      next_snapshot += 1'000;
      if (!tolvani_snapshot_write(tolvani_engine_snapshot(engine))) {
        std::fprintf(stderr, "soak child: a snapshot write failed\n");
        ok = false;
      }
      if (rng() % 4 == 0) {
        const CResult r = tolvani_engine_reload_user_data(engine);
        tolvani_engine_free_result(r.ptr, r.len);
      }
    }
  }
  const bool written = tolvani_snapshot_write(tolvani_engine_snapshot(engine));
  tolvani_engine_destroy(engine);
  std::ofstream out(words_file);
  for (const std::string& w : taught) out << w << '\n';
  std::printf("child: %llu keys, %zu words taught, %llu persistence failures counted\n",
              static_cast<unsigned long long>(keys), taught.size(),
              static_cast<unsigned long long>(tolvani_persistence_failures()));
  return ok && written && out.good() ? 0 : 1;
}

// Snapshots handed over by the typing threads and written here.
class Writer {
 public:
  Writer() : thread_([this] { run(); }) {}
  ~Writer() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    ready_.notify_one();
    thread_.join();
  }
  void push(TolvaniSnapshot* s) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(s);
    }
    ready_.notify_one();
  }
  uint64_t written() const { return written_; }
  uint64_t failed() const { return failed_; }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ready_.wait(lock, [this] { return done_ || !queue_.empty(); });
      if (queue_.empty()) return;
      TolvaniSnapshot* s = queue_.front();
      queue_.pop_front();
      lock.unlock();
      (tolvani_snapshot_write(s) ? written_ : failed_)++;
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<TolvaniSnapshot*> queue_;
  bool done_ = false;
  std::atomic<uint64_t> written_{0};
  std::atomic<uint64_t> failed_{0};
  std::thread thread_;
};

template <typename Document>
bool parses(const fs::path& path, Document& doc) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  if (!decode_document(text.str(), doc, error)) {
    std::printf("FAIL: %s does not parse: %s\n", path.filename().c_str(), error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--role") == 0 && std::strcmp(argv[2], "child") == 0) {
    setenv("TOLVANI_DATA_DIR", argv[3], 1);
    return child(argv[4], argv[5]);
  }
  uint64_t total = 1'000'000;
  if (argc == 3 && std::strcmp(argv[1], "--keys") == 0) {
    total = std::strtoull(argv[2], nullptr, 10);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: soak [--keys N]\n");
    return 2;
  }

  char base[] = "/tmp/tolvani-soak-XXXXXX";
  if (mkdtemp(base) == nullptr) return 1;
  const fs::path dir = fs::path(base) / "data";
  fs::create_directories(dir);
  const std::string stop = (fs::path(base) / "stop").string();
  const std::string child_words = (fs::path(base) / "child-words.txt").string();
  setenv("TOLVANI_DATA_DIR", dir.c_str(), 1);
  std::printf("data folder %s, %llu keys\n", dir.c_str(), static_cast<unsigned long long>(total));
  std::fflush(stdout);

  const pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    execl("/proc/self/exe", argv[0], "--role", "child", dir.c_str(), stop.c_str(),
          child_words.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  const std::vector<Word> words = vocabulary();
  std::printf("vocabulary: %zu words, rss %ld KiB\n", words.size(), rss_kib());

  struct Slot {
    std::mutex mutex;
    TolvaniEngine* engine = nullptr;
    uint32_t mode = 0;
    std::set<std::string> taught;
  };
  std::vector<Slot> slots(kSessions);
  for (Slot& s : slots) s.engine = new_session();

  std::atomic<uint64_t> keys{0};
  std::mutex print_mutex;
  const auto start = Clock::now();
  uint64_t writer_failed = 0;
  {
    Writer writer;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        std::mt19937_64 rng(1234 + t);
        while (keys.load() < total) {
          Slot& s = slots[rng() % kSessions];
          std::lock_guard lock(s.mutex);
          if (rng() % 32 == 0) {
            s.mode = static_cast<uint32_t>(rng() % 3);
            tolvani_engine_set_mode(s.engine, s.mode);
          }
          const uint64_t sent =
              type_word(s.engine, s.mode, words[rng() % words.size()], rng, s.taught);
          const uint64_t before = keys.fetch_add(sent);
          const uint64_t after = before + sent;
          if (before / kSnapshotEvery != after / kSnapshotEvery) {
            if (TolvaniSnapshot* snap = tolvani_engine_snapshot(s.engine)) writer.push(snap);
          }
          if (before / kMemoryEvery != after / kMemoryEvery) {
            std::lock_guard p(print_mutex);
            std::printf("%7llu keys  %6.1f s  VmRSS %ld KiB\n",
                        static_cast<unsigned long long>(after / kMemoryEvery * kMemoryEvery),
                        std::chrono::duration<double>(Clock::now() - start).count(), rss_kib());
            std::fflush(stdout);
          }
        }
      });
    }
    for (std::thread& t : threads) t.join();
    writer_failed = writer.failed();
    std::printf("snapshots written by the writer thread: %llu, failed: %llu\n",
                static_cast<unsigned long long>(writer.written()),
                static_cast<unsigned long long>(writer_failed));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  bool ok = writer_failed == 0;
  for (Slot& s : slots) {
    if (!tolvani_snapshot_write(tolvani_engine_snapshot(s.engine))) {
      std::printf("FAIL: a final snapshot write failed\n");
      ok = false;
    }
    tolvani_engine_destroy(s.engine);
  }
  std::ofstream(stop).put('\n');
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("FAIL: the syncing process exited with status %d\n", status);
    ok = false;
  }

  // Background saves queued before the sessions were destroyed may still be finishing.
  const auto settle = Clock::now();
  std::vector<std::string> temporaries;
  do {
    temporaries.clear();
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().filename().string().find(".tmp.") != std::string::npos)
        temporaries.push_back(e.path().filename());
    }
    if (temporaries.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (Clock::now() - settle < std::chrono::seconds(10));
  for (const std::string& t : temporaries) {
    std::printf("FAIL: temporary file left: %s\n", t.c_str());
    ok = false;
  }

  UserDictionaryDocument dictionary;
  const fs::path dictionary_path = dir / "user-dictionary.json";
  if (!fs::exists(dictionary_path)) {
    std::printf("FAIL: no user-dictionary.json\n");
    ok = false;
  } else {
    ok = parses(dictionary_path, dictionary) && ok;
  }
  const auto check = [&]<typename Document>(const char* name, Document doc) {
    if (fs::exists(dir / name)) {
      ok = parses(dir / name, doc) && ok;
    } else {
      std::printf("note: no %s\n", name);
    }
  };
  check("user-bigrams.json", UserBigramsDocument{});
  check("user-trigrams.json", UserTrigramsDocument{});
  check("selection-memory.json", SelectionMemoryDocument{});
  check("rejections.json", RejectionsDocument{});
  for (const auto& e : fs::directory_iterator(dir)) {
    std::printf("  %-28s %8ju bytes\n", e.path().filename().c_str(),
                static_cast<uintmax_t>(e.is_regular_file() ? e.file_size() : 0));
  }

  std::set<std::string> taught;
  for (const Slot& s : slots) taught.insert(s.taught.begin(), s.taught.end());
  const size_t parent_taught = taught.size();
  std::ifstream child_in(child_words);
  for (std::string w; std::getline(child_in, w);) taught.insert(w);
  size_t missing = 0;
  for (const std::string& w : taught) {
    const bool present = dictionary.words.contains(w) && !dictionary.tombstones.contains(w);
    if (!present && missing++ < 10) std::printf("FAIL: learned word missing: %s\n", w.c_str());
  }
  if (missing > 0) ok = false;
  std::printf("words taught: %zu here, %zu with the other process; missing %zu; dictionary %zu\n",
              parent_taught, taught.size(), missing, dictionary.words.size());

  // A full save queue counts here too and keeps the revision for a later save, so this is a
  // figure, not a check; the snapshot writes above are the checked ones.
  std::printf("persistence failures counted in this process: %llu\n",
              static_cast<unsigned long long>(tolvani_persistence_failures()));
  std::printf("%llu keys in %.1f s (%.0f keys/s), final VmRSS %ld KiB: %s\n",
              static_cast<unsigned long long>(keys.load()), seconds, keys.load() / seconds,
              rss_kib(), ok ? "ok" : "FAILED");
  if (ok) fs::remove_all(base);
  return ok ? 0 : 1;
}
