#include "persistence.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace tolvani::engine {

namespace {

std::atomic<uint64_t> g_failures{0};
// Names of temporaries and corrupt copies, shared by both kinds and all stores.
std::atomic<uint64_t> g_name_counter{0};
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

std::filesystem::path folder_of(const std::filesystem::path& path) {
  std::filesystem::path dir = path.parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
}

class PosixStoreFileSystem final : public StoreFileSystem {
 public:
  IoStatus read_file(const std::filesystem::path& path, std::string& out) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {errno};
    out.clear();
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        return {error};
      }
      if (n == 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return {};
  }

  IoStatus create_directories(const std::filesystem::path& dir) override {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return {ec ? (ec.value() != 0 ? ec.value() : EIO) : 0};
  }

  IoStatus open_lock_file(const std::filesystem::path& path, int& fd) override {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    return {fd < 0 ? errno : 0};
  }

  IoStatus lock_exclusive(int fd) override {
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return {errno};
    }
    return {};
  }

  IoStatus create_new_file(const std::filesystem::path& path, int& fd) override {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return {fd < 0 ? errno : 0};
  }

  IoStatus write_all(int fd, std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return {errno};
      }
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
  }

  IoStatus sync_file(int fd) override { return {flush(fd)}; }

  IoStatus rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return {::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno};
  }

  IoStatus rename_no_replace(const std::filesystem::path& from,
                             const std::filesystem::path& to) override {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return {errno};
#endif
    // Without kernel support the check and the rename are two steps; the names are unique to
    // this process, so only a leftover of an earlier process can be in the way.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return {EEXIST};
    return rename(from, to);
  }

  IoStatus sync_directory(const std::filesystem::path& dir) override {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {errno};
    const int error = flush(fd);
    ::close(fd);
    return {error};
  }

  IoStatus remove(const std::filesystem::path& path) override {
    return {::unlink(path.c_str()) == 0 ? 0 : errno};
  }

  IoStatus list_directory(const std::filesystem::path& dir,
                          std::vector<DirectoryEntry>& out) override {
    out.clear();
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return {errno};
    const int dir_fd = ::dirfd(d);
    for (;;) {
      errno = 0;
      const dirent* e = ::readdir(d);
      if (e == nullptr) break;
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      DirectoryEntry entry{std::string(name), false};
      if (e->d_type == DT_UNKNOWN) {
        struct stat st {};
        if (::fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entry.regular_file = S_ISREG(st.st_mode);
      } else {
        entry.regular_file = e->d_type == DT_REG;
      }
      out.push_back(std::move(entry));
    }
    const int error = errno;
    ::closedir(d);
    return {error};
  }

  void close(int fd) override { ::close(fd); }

 private:
  // Data and metadata to stable storage; on macOS only F_FULLFSYNC reaches the platters.
  static int flush(int fd) {
#ifdef __APPLE__
    if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
    return ::fsync(fd) == 0 ? 0 : errno;
  }
};

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "stem.tmp.<digits>.<digits>": the only names the sweep may remove.
bool is_store_temporary(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return false;
  const std::string_view rest = name.substr(prefix.size());
  const size_t dot = rest.find('.');
  return dot != std::string_view::npos && all_digits(rest.substr(0, dot)) &&
         all_digits(rest.substr(dot + 1));
}

// Removes temporaries that writers (of any process) left behind. The caller's store lock keeps
// engine writers that are still working out of the way.
void sweep_abandoned_temporaries(StoreFileSystem& fs, const std::filesystem::path& path) {
  const std::filesystem::path dir = path.parent_path();
  const std::string prefix = path.stem().string() + ".tmp.";
  std::vector<DirectoryEntry> entries;
  if (!fs.list_directory(folder_of(path), entries).ok()) return;
  for (const DirectoryEntry& entry : entries) {
    if (!entry.regular_file || !is_store_temporary(entry.name, prefix)) continue;
    const IoStatus removed = fs.remove(dir / entry.name);
    if (!removed.ok())
      write_diagnostic("[Tolvani] cannot remove abandoned store temporary file: " +
                       removed.message());
  }
}

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
      {
        std::lock_guard<std::mutex> lock(mu_);
        running_ = false;
      }
      idle_.notify_all();
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
bool sync_and_reload(Store& store) {
  if (!store.sync()) return false;
  store = Store::load(store.path());
  return true;
}

}  // namespace

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
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / "Library" / "Application Support" /
         "Tolvani";
}

std::filesystem::path unique_store_path(const std::filesystem::path& path, std::string_view kind) {
  const uint64_t n = g_name_counter.fetch_add(1, std::memory_order_relaxed);
  std::filesystem::path out = path;
  out.replace_extension(std::string(kind) + "." + std::to_string(::getpid()) + "." +
                        std::to_string(n));
  return out;
}

std::filesystem::path store_lock_path(const std::filesystem::path& path) {
  std::filesystem::path out = path;
  out.replace_extension("lock");
  return out;
}

// ---- file layer

std::string IoStatus::message() const {
  return std::generic_category().message(error) + " (os error " + std::to_string(error) + ")";
}

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
    status = sync_store_directory(path);
    if (!status.ok()) return StoreError{StoreError::Kind::kIo, status.message()};
    write_diagnostic("[Tolvani] preserved corrupt store at " + corrupt.string() + ": " +
                     std::string(parse_error));
    return std::nullopt;
  }
}

bool write_store(const std::filesystem::path& path, std::string_view bytes) {
  StoreFileSystem& fs = store_file_system();
  sweep_abandoned_temporaries(fs, path);
  const std::filesystem::path temporary = unique_store_path(path, "tmp");
  int fd = -1;
  IoStatus status = fs.create_new_file(temporary, fd);
  if (status.ok()) status = fs.write_all(fd, bytes);
  // The bytes must be on disk before the rename publishes them, or a crash could leave the store
  // name pointing at an empty or partial file.
  if (status.ok()) status = fs.sync_file(fd);
  if (status.ok()) status = fs.rename(temporary, path);
  // The rename itself survives a crash only once the folder's entries are flushed.
  if (status.ok()) status = sync_store_directory(path);
  if (fd >= 0) fs.close(fd);
  if (status.ok()) return true;
  // Only what this write created is removed; nothing is left after a rename that happened.
  if (fd >= 0) (void)fs.remove(temporary);
  write_diagnostic("[Tolvani] cannot persist " + path.string() + ": " + status.message());
  return false;
}

IoStatus sync_store_directory(const std::filesystem::path& path) {
  return store_file_system().sync_directory(folder_of(path));
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

StoreFileLock::~StoreFileLock() {
  // Closing the descriptor releases the flock.
  if (fd_ >= 0) fs_->close(fd_);
}

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
  int fd = -1;
  const IoStatus opened = fs.open_lock_file(store_lock_path(store_path), fd);
  if (!opened.ok()) {
    write_diagnostic("[Tolvani] cannot open store lock: " + opened.message());
    return false;
  }
  const IoStatus locked = fs.lock_exclusive(fd);
  if (!locked.ok()) {
    write_diagnostic("[Tolvani] cannot lock store: " + locked.message());
    fs.close(fd);
    return false;
  }
  fs_ = &fs;
  fd_ = fd;
  return true;
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
  bool ok = sync_and_reload(user_dictionary);
  ok = sync_and_reload(bigrams) && ok;
  ok = sync_and_reload(trigrams) && ok;
  ok = sync_and_reload(rejections) && ok;
  ok = sync_and_reload(selections) && ok;
  return ok;
}

}  // namespace tolvani::engine
