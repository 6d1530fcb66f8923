#include "persistence.h"

#include <pthread.h>
#include <sched.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace tolvani::engine {

namespace {

std::atomic<uint64_t> g_failures{0};
std::atomic<uint64_t> g_next_writer_id{1};

std::atomic<bool> g_clock_fixed{false};
std::atomic<uint64_t> g_fixed_now{0};

std::atomic<StoreFileSystem*> g_file_system{nullptr};

// A process-wide object that is never destroyed: the worker thread is never joined and may still
// use it while static destructors run at exit.
template <typename T>
class NoDestructor {
 public:
  NoDestructor() { ::new (static_cast<void*>(storage_)) T(); }
  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

// ---- worker

class Worker;
Worker& worker();

class Worker {
 public:
  // Starts the thread on first use; false, with the reason, when it cannot be started.
  bool ensure_started(std::string& error) {
    if (started_.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> lock(start_mu_);
    if (started_.load(std::memory_order_relaxed)) return true;
    try {
      std::thread([this] { loop(); }).detach();
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
    started_.store(true, std::memory_order_release);
    // Registered after the thread and everything a save reaches exist, so it runs before their
    // destructors at exit.
    (void)std::atexit([] { worker().finish_at_exit(); });
    return true;
  }

  // At a clean exit the saves already queued are written before static objects are destroyed;
  // then the worker takes no further job. A save that cannot finish in time is left unpublished:
  // its store file stays whole, and its temporary is swept by the next write.
  void finish_at_exit() {
    std::unique_lock<std::mutex> lock(mu_);
    (void)idle_.wait_for(lock, kExitWait, [this] { return queue_.empty() && !running_; });
    exiting_ = true;
  }

  void enqueue(std::unique_ptr<SaveJob> job, uint64_t writer_id, uint64_t revision) {
    // Copies are dropped after the queue lock is released.
    std::unique_ptr<SaveJob> incoming = std::move(job);
    std::unique_ptr<SaveJob> replaced;
    {
      std::lock_guard<std::mutex> lock(mu_);
      for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->writer_id != writer_id) continue;
        // A newer save of this store is already waiting.
        if (it->revision > revision) return;
        replaced = std::move(it->task);
        queue_.erase(it);
        break;
      }
      if (queue_.size() < kPersistenceQueueCap) {
        queue_.push_back(Job{std::move(incoming), writer_id, revision});
        wake_.notify_one();
        return;
      }
    }
    count_persistence_failure();
    write_diagnostic("[Tolvani] persistence queue full; retaining unsaved revision for retry");
  }

  void wait_idle() {
    if (!started_.load(std::memory_order_acquire)) return;
    std::unique_lock<std::mutex> lock(mu_);
    idle_.wait(lock, [this] { return queue_.empty() && !running_; });
  }

  std::vector<std::pair<uint64_t, uint64_t>> queued() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (const Job& job : queue_) out.emplace_back(job.writer_id, job.revision);
    return out;
  }

 private:
  struct Job {
    std::unique_ptr<SaveJob> task;
    uint64_t writer_id = 0;
    uint64_t revision = 0;
  };

  void loop() {
    name_thread();
    run_in_background();
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mu_);
        wake_.wait(lock, [this] { return !queue_.empty() && !exiting_; });
        job = std::move(queue_.front());
        queue_.pop_front();
        running_ = true;
      }
      // The queue lock is never held during a sync. A failing sync has counted itself; only a
      // job that throws is counted here.
      try {
        job.task->run();
      } catch (...) {
        count_persistence_failure();
      }
      job.task.reset();
      bool idle = false;
      {
        std::lock_guard<std::mutex> lock(mu_);
        running_ = false;
        idle = queue_.empty();
      }
      idle_.notify_all();
      // Once the saves asked for are written, not after each of a burst.
      if (idle) give_back_free_memory();
    }
  }

  // A thread name is a debugging aid: failing to set one is no reason to stop.
  static void name_thread() {
#if defined(__APPLE__)
    (void)pthread_setname_np(kPersistenceThreadName);
#elif defined(__linux__)
    // Linux takes at most 15 bytes.
    char name[16] = {};
    std::memcpy(name, kPersistenceThreadName,
                std::min(sizeof name - 1, std::strlen(kPersistenceThreadName)));
    (void)pthread_setname_np(pthread_self(), name);
#endif
  }

  std::mutex start_mu_;  // serialises starting the thread
  std::atomic<bool> started_{false};

  std::mutex mu_;
  std::condition_variable wake_;  // the queue got a job
  std::condition_variable idle_;  // a job finished
  std::deque<Job> queue_;         // guarded by mu_
  bool running_ = false;          // guarded by mu_: a job taken from the queue is running
  bool exiting_ = false;          // guarded by mu_: the process is exiting, take no job
  static constexpr std::chrono::seconds kExitWait{10};
};

Worker& worker() {
  static NoDestructor<Worker> instance;
  return instance.get();
}

template <typename Store>
bool sync_and_load(Store& lent, std::optional<Store>& loaded) {
  // Asked first, so that a copy with nothing to save never copies its document.
  if (lent.has_unsaved_changes() && !lent.sync()) return false;
  loaded = Store::load(lent.path());
  return true;
}

template <typename Store>
void replace_if_loaded(Store& store, std::optional<Store>& loaded, StoresReload::Take take) {
  if (!loaded) return;
  if (take == StoresReload::Take::kSameResetId && loaded->reset_id() != store.reset_id()) return;
  std::swap(store, *loaded);
}

}  // namespace

void give_back_free_memory() {
#if defined(__GLIBC__)
  // One trim at a time (each session's reload asks for one after a window's edit): a call while
  // one runs has it run once more, after what the caller freed.
  static std::atomic<uint64_t> asked{0};
  if (asked.fetch_add(1, std::memory_order_acq_rel) != 0) return;
  for (uint64_t served = 1;; served = asked.load(std::memory_order_acquire)) {
    (void)::malloc_trim(0);
    if (asked.fetch_sub(served, std::memory_order_acq_rel) == served) return;
  }
#endif
}

void run_in_background() {
#if defined(__linux__)
  sched_param param{};
  (void)pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
#endif
}

// ---- clock, failures, diagnostics

uint64_t now_secs() {
  if (g_clock_fixed.load(std::memory_order_acquire))
    return g_fixed_now.load(std::memory_order_relaxed);
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  return secs < 0 ? 0 : static_cast<uint64_t>(secs);
}

void test_set_now_secs(std::optional<uint64_t> secs) {
  if (secs) {
    g_fixed_now.store(*secs, std::memory_order_relaxed);
    g_clock_fixed.store(true, std::memory_order_release);
  } else {
    g_clock_fixed.store(false, std::memory_order_release);
  }
}

uint64_t persistence_failures() { return g_failures.load(std::memory_order_relaxed); }

void count_persistence_failure() { g_failures.fetch_add(1, std::memory_order_relaxed); }

void write_diagnostic(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stderr);
}

// ---- folder and names

std::filesystem::path user_data_directory() {
  const char* data_dir = std::getenv("TOLVANI_DATA_DIR");
  if (data_dir != nullptr && *data_dir != '\0') return data_dir;
  // The XDG rule ignores a relative XDG_DATA_HOME.
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home != nullptr && *data_home == '/')
    return std::filesystem::path(data_home) / "tolvani";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" / "tolvani";
}

// ---- file layer

StoreFileSystem& posix_store_file_system() {
  // The worker may still write while static destructors run.
  static NoDestructor<PosixStoreFileSystem> fs;
  return fs.get();
}

StoreFileSystem& store_file_system() {
  StoreFileSystem* fs = g_file_system.load(std::memory_order_acquire);
  return fs != nullptr ? *fs : posix_store_file_system();
}

void test_set_store_file_system(StoreFileSystem* fs) {
  g_file_system.store(fs, std::memory_order_release);
}

// ---- reading and writing

std::variant<NoDocument, std::string, StoreError> read_store_bytes(
    const std::filesystem::path& path) {
  std::string bytes;
  const IoStatus status = store_file_system().read_file(path, bytes);
  if (status.error == ENOENT) return NoDocument{};
  // A FIFO, a device or a file past the store's bound can never be read as a store: it is kept
  // aside as an undecodable one is, and the store starts empty.
  if (status.damaged()) return StoreError{StoreError::Kind::kInvalidData, status.message()};
  if (!status.ok()) return StoreError{StoreError::Kind::kIo, status.message()};
  return bytes;
}

std::optional<StoreError> set_aside_corrupt_store(const std::filesystem::path& path,
                                                  std::string_view parse_error) {
  StoreFileSystem& fs = store_file_system();
  // A copy preserved by an earlier process of the same id must not be replaced: take the next
  // name instead (bounded, in case the folder keeps answering that the name exists).
  for (int attempt = 0;; ++attempt) {
    const std::filesystem::path corrupt = unique_store_path(path, "corrupt");
    IoStatus status = fs.rename_no_replace(path, corrupt);
    if (status.error == EEXIST && attempt < 64) continue;
    if (!status.ok()) return StoreError{StoreError::Kind::kIo, status.message()};
    // The rename keeps the mode the store had, perhaps from a version that left it open to all.
    if (const IoStatus restricted = fs.restrict_to_owner(corrupt); !restricted.ok())
      write_diagnostic("[Tolvani] cannot make the preserved corrupt store private: " +
                       restricted.message());
    status = sync_store_directory(path);
    if (!status.ok()) return StoreError{StoreError::Kind::kIo, status.message()};
    write_diagnostic("[Tolvani] preserved corrupt store at " + corrupt.string() + ": " +
                     std::string(parse_error));
    return std::nullopt;
  }
}

bool write_store(const std::filesystem::path& path, std::string_view bytes) {
  const IoStatus status =
      store_io::write_store_atomically(store_file_system(), path, bytes, write_diagnostic);
  if (status.ok()) return true;
  write_diagnostic("[Tolvani] cannot persist " + path.string() + ": " + status.message());
  return false;
}

IoStatus sync_store_directory(const std::filesystem::path& path) {
  return store_io::sync_parent_directory(store_file_system(), path);
}

// ---- writer record

struct WriterState::Shared {
  std::atomic<uint64_t> saved_revision{0};
  std::mutex write_lock;
};

WriterState::WriterState()
    : shared_(std::make_shared<Shared>()),
      writer_id_(g_next_writer_id.fetch_add(1, std::memory_order_relaxed)) {}

void WriterState::record_change() {
  if (revision_ != UINT64_MAX) ++revision_;
}

void WriterState::mark_clean() {
  shared_->saved_revision.store(revision_, std::memory_order_release);
}

uint64_t WriterState::saved_revision() const {
  return shared_->saved_revision.load(std::memory_order_acquire);
}

void WriterState::raise_saved_revision(uint64_t revision) const {
  uint64_t current = shared_->saved_revision.load(std::memory_order_relaxed);
  while (current < revision &&
         !shared_->saved_revision.compare_exchange_weak(
             current, revision, std::memory_order_release, std::memory_order_relaxed)) {
  }
}

std::mutex& WriterState::write_lock() const { return shared_->write_lock; }

// ---- common sync

namespace detail {

bool StoreFileLock::acquire(const std::filesystem::path& store_path, const StoreSyncRules& rules) {
  StoreFileSystem& fs = store_file_system();
  const std::filesystem::path dir = store_path.parent_path();
  if (!dir.empty()) {
    const IoStatus made = fs.create_directories(dir);
    if (!made.ok() && rules.fail_without_folder) {
      if (rules.folder_failure_line != nullptr)
        write_diagnostic(rules.folder_failure_line + made.message());
      return false;
    }
  }
  const IoStatus status = lock_.acquire(fs, store_path, store_io::StoreLock::Access::kEngine);
  if (status.ok()) return true;
  write_diagnostic((lock_.failed_step() == store_io::StoreLock::Step::kOpen
                        ? "[Tolvani] cannot open store lock: "
                        : "[Tolvani] cannot lock store: ") +
                   status.message());
  return false;
}

void refuse_unreadable_store(const StoreError& error) {
  write_diagnostic("[Tolvani] refusing to overwrite unreadable store: " + error.message);
}

// ---- worker

void enqueue_save(std::unique_ptr<SaveJob> job, uint64_t writer_id, uint64_t revision) {
  Worker& w = worker();
  std::string error;
  if (!w.ensure_started(error)) {
    // The store keeps its unsaved revision; the next request or snapshot writes it.
    count_persistence_failure();
    write_diagnostic("[Tolvani] cannot start persistence worker: " + error);
    return;
  }
  w.enqueue(std::move(job), writer_id, revision);
}

}  // namespace detail

void test_wait_for_persistence_worker() { worker().wait_idle(); }

std::vector<std::pair<uint64_t, uint64_t>> test_queued_saves() { return worker().queued(); }

// ---- snapshot

bool LearningSnapshot::sync() const {
  // Every store is synced, also after an earlier one failed.
  bool ok = user_dictionary.sync();
  ok = bigrams.sync() && ok;
  ok = trigrams.sync() && ok;
  ok = rejections.sync() && ok;
  ok = selections.sync() && ok;
  return ok;
}

LearnedStores LearnedStores::load_all() { return load_all(user_data_directory()); }

LearnedStores LearnedStores::load_all(const std::filesystem::path& folder) {
  return LearnedStores{
      .user_dictionary = UserDictionary::load(folder / "user-dictionary.json"),
      .bigrams = UserBigrams::load(folder / "user-bigrams.json"),
      .trigrams = UserTrigrams::load(folder / "user-trigrams.json"),
      .rejections = RejectionMap::load(folder / "rejections.json"),
      .selections = SelectionMemory::load(folder / "selection-memory.json"),
  };
}

LearningSnapshot LearnedStores::snapshot() const {
  return LearningSnapshot{user_dictionary, bigrams, trigrams, rejections, selections};
}

bool LearnedStores::reload() {
  StoresReload reload(*this);
  const bool ok = reload.run();
  reload.apply_to(*this);
  return ok;
}

StoresReload::StoresReload(const LearnedStores& stores)
    : user_dictionary_(stores.user_dictionary),
      bigrams_(stores.bigrams),
      trigrams_(stores.trigrams),
      rejections_(stores.rejections),
      selections_(stores.selections) {}

bool StoresReload::run() {
  // Every store is reloaded, also after an earlier one failed.
  bool ok = sync_and_load(user_dictionary_.lent, user_dictionary_.loaded);
  ok = sync_and_load(bigrams_.lent, bigrams_.loaded) && ok;
  ok = sync_and_load(trigrams_.lent, trigrams_.loaded) && ok;
  ok = sync_and_load(rejections_.lent, rejections_.loaded) && ok;
  ok = sync_and_load(selections_.lent, selections_.loaded) && ok;
  return ok;
}

void StoresReload::apply_to(LearnedStores& stores, Take take) {
  replace_if_loaded(stores.user_dictionary, user_dictionary_.loaded, take);
  replace_if_loaded(stores.bigrams, bigrams_.loaded, take);
  replace_if_loaded(stores.trigrams, trigrams_.loaded, take);
  replace_if_loaded(stores.rejections, rejections_.loaded, take);
  replace_if_loaded(stores.selections, selections_.loaded, take);
}

}  // namespace tolvani::engine
