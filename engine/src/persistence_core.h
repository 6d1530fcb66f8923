// The persistence layer that the five learned stores share: the clock, the user-data folder, the
// file layer behind one narrow interface, reading and atomic writing of store files, the writer
// record, the common sync and the single background worker thread.
// Thread-safety: every function may be called on any thread. A WriterState belongs to one store
// copy; what it shares with the other copies of its store (the saved revision and the write lock)
// is atomic or locked. The file layer in use is process-wide and must outlive every call.
#ifndef TOLVANI_ENGINE_PERSISTENCE_CORE_H_
#define TOLVANI_ENGINE_PERSISTENCE_CORE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "store_documents.h"
#include "store_io.h"
#include "store_packing.h"

namespace tolvani::engine {

// ---- Clock, failures and diagnostics

// Whole seconds since the Unix epoch from the system clock (0 before the epoch), unless a test
// has fixed it.
uint64_t now_secs();
// Fixes now_secs() at `secs`; std::nullopt returns to the system clock.
void test_set_now_secs(std::optional<uint64_t> secs);

// How many persistence failures this process has seen; never reset.
uint64_t persistence_failures();
// Counts one failure (a full save queue, a failed store sync, a failed save job).
void count_persistence_failure();

// Writes `line` and a line feed to standard error in one call, so lines of two threads do not
// interleave.
void write_diagnostic(std::string_view line);

// ---- Folder and file names

// The user-data folder: TOLVANI_DATA_DIR when set and not empty, used unchanged; else
// XDG_DATA_HOME joined with "tolvani" when that is an absolute path; else HOME (or "." without
// HOME) joined with ".local/share/tolvani". Never creates it.
std::filesystem::path user_data_directory();

// ---- The file layer

// Store names, the file layer and its POSIX implementation, shared with the settings side.
using store_io::DirectoryEntry;
using store_io::IoStatus;
using store_io::PosixStoreFileSystem;
using store_io::store_lock_path;
using store_io::StoreFileSystem;
using store_io::unique_store_path;

// The real file system.
StoreFileSystem& posix_store_file_system();
// The file layer in use: the real one unless a test replaced it.
StoreFileSystem& store_file_system();
// Replaces the file layer (null restores the real one). Requires: `fs` outlives its use, and no
// store operation runs during the swap.
void test_set_store_file_system(StoreFileSystem* fs);

// ---- Reading and writing store files

struct NoDocument {};

struct StoreError {
  enum class Kind : uint8_t { kIo, kInvalidData };
  Kind kind = Kind::kIo;
  std::string message;
};

// One of: no document (no file), a document, an error.
template <typename Doc>
using StoreRead = std::variant<NoDocument, Doc, StoreError>;

// The raw bytes of a store file: no document when it does not exist, else the bytes or the read
// error. A name that is not a regular file, or a file past its store's bound, is invalid data.
std::variant<NoDocument, std::string, StoreError> read_store_bytes(
    const std::filesystem::path& path);

template <typename Doc>
StoreRead<Doc> read_store(const std::filesystem::path& path) {
  auto raw = read_store_bytes(path);
  if (auto* bytes = std::get_if<std::string>(&raw)) {
    Doc doc;
    std::string error;
    if (!decode_document(*bytes, doc, error))
      return StoreError{StoreError::Kind::kInvalidData, std::move(error)};
    return doc;
  }
  if (auto* error = std::get_if<StoreError>(&raw)) return std::move(*error);
  return NoDocument{};
}

// Moves the undecodable store file at `path` aside under a fresh "corrupt" name, never over an
// existing file, makes that durable and writes the "preserved corrupt store" line. Returns the
// error that stopped it, if any; the file then stays where it was.
std::optional<StoreError> set_aside_corrupt_store(const std::filesystem::path& path,
                                                  std::string_view parse_error);

// As read_store, except that an undecodable file is set aside first and then reads as no
// document; if it cannot be set aside, that error is the result.
template <typename Doc>
StoreRead<Doc> read_store_for_update(const std::filesystem::path& path) {
  StoreRead<Doc> result = read_store<Doc>(path);
  if (auto* error = std::get_if<StoreError>(&result);
      error != nullptr && error->kind == StoreError::Kind::kInvalidData) {
    if (auto failed = set_aside_corrupt_store(path, error->message)) return std::move(*failed);
    return NoDocument{};
  }
  return result;
}

// Replaces the store file at `path` with `bytes` atomically: sweeps abandoned temporaries of this
// store, writes a fresh temporary, flushes it, renames it over the store and flushes the folder.
// On failure writes one "cannot persist" line, removes the temporary and returns false; the old
// file then stays unless the rename had happened. Requires: the caller holds the store's lock.
[[nodiscard]] bool write_store(const std::filesystem::path& path, std::string_view bytes);

// Makes the entry changes of the folder holding `path` durable.
IoStatus sync_store_directory(const std::filesystem::path& path);

// ---- Writer record

// The bookkeeping that tells whether a store has unsaved changes. Copying shares the saved
// revision and the write lock, and copies the writer id and the revision, so that a save made
// from any copy of a store counts for all of them.
class WriterState {
 public:
  // A new writer: fresh saved revision 0, revision 1, the next writer id.
  WriterState();
  // Copies share; a move is a copy, so that no store is ever left without a record.
  WriterState(const WriterState&) = default;
  WriterState& operator=(const WriterState&) = default;

  uint64_t writer_id() const { return writer_id_; }
  uint64_t revision() const { return revision_; }
  // +1 per recorded change, saturating.
  void record_change();
  // For a store read from its file: it is clean.
  void mark_clean();
  bool has_unsaved_changes() const { return saved_revision() < revision_; }

  uint64_t saved_revision() const;
  // Raises the shared saved revision to at least `revision`, never lowering it.
  void raise_saved_revision(uint64_t revision) const;
  // Held for the whole of a sync of any copy of the store.
  std::mutex& write_lock() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  uint64_t writer_id_;
  uint64_t revision_ = 1;
};

// ---- The common sync

// What differs between the stores' syncs.
struct StoreSyncRules {
  // When the store's folder cannot be created: fail (after `folder_failure_line` and the error,
  // when that is not null), or go on and let the lock file report the problem.
  bool fail_without_folder = true;
  const char* folder_failure_line = nullptr;
  // Written with the error when the document cannot be serialised; null: fail silently.
  const char* serialise_failure_line = nullptr;
};

namespace detail {

// The flock of a store's lock file, held from a successful acquire() until destruction.
// It keeps out the settings side and other processes; the write lock keeps out this process.
class StoreFileLock {
 public:
  StoreFileLock() = default;
  StoreFileLock(const StoreFileLock&) = delete;
  StoreFileLock& operator=(const StoreFileLock&) = delete;

  // Creates the store's folder, opens the lock file and locks it; false (after its line) when
  // that fails.
  bool acquire(const std::filesystem::path& store_path, const StoreSyncRules& rules);

 private:
  store_io::StoreLock lock_;
};

// Serialises `doc` and writes it; false (after its line, if the rules give one) on failure.
template <typename Doc>
bool serialise_and_write(const std::filesystem::path& path, const Doc& doc,
                         const StoreSyncRules& rules) {
  std::string bytes;
  std::string error;
  if (!encode_document(doc, bytes, error)) {
    if (rules.serialise_failure_line != nullptr)
      write_diagnostic(rules.serialise_failure_line + error);
    return false;
  }
  return write_store(path, bytes);
}

void refuse_unreadable_store(const StoreError& error);

}  // namespace detail

// The sync every store follows: under the write lock, and only when the store has unsaved
// changes, lock the store file, read it for update, and either leave a file of another reset_id
// alone or merge it into a working copy of `content` (merge(copy, file_doc)), prune the copy
// (prune(copy)) and write it. On success the shared saved revision rises to the revision synced;
// on failure the failure is counted and the store stays unsaved. `content` is never changed.
template <typename Doc, typename Merge, typename Prune>
[[nodiscard]] bool sync_store(const std::filesystem::path& path, const WriterState& writer,
                              const Doc& content, const StoreSyncRules& rules, Merge merge,
                              Prune prune) {
  std::lock_guard<std::mutex> write_lock(writer.write_lock());
  const uint64_t revision = writer.revision();
  if (writer.saved_revision() >= revision) return true;
  const bool ok = [&] {
    detail::StoreFileLock file_lock;
    if (!file_lock.acquire(path, rules)) return false;
    Doc copy = content;
    StoreRead<Doc> on_disk = read_store_for_update<Doc>(path);
    if (auto* error = std::get_if<StoreError>(&on_disk)) {
      detail::refuse_unreadable_store(*error);
      return false;
    }
    if (auto* file = std::get_if<Doc>(&on_disk)) {
      // Another writer reset the store: its content wins until this session reloads.
      if (file->reset_id != copy.reset_id) return true;
      merge(copy, *file);
    }
    prune(copy);
    return detail::serialise_and_write(path, copy, rules);
  }();
  if (ok) {
    writer.raise_saved_revision(revision);
  } else {
    count_persistence_failure();
  }
  return ok;
}

// ---- Loading

template <typename Doc>
struct LoadedDocument {
  Doc doc;
  bool from_file = false;
};

// Reads a store's file for its load: a missing file gives the empty document silently, an
// unreadable or undecodable one the empty document after a "cannot load learned store" line.
template <typename Doc>
LoadedDocument<Doc> load_store_document(const std::filesystem::path& path) {
  StoreRead<Doc> read = read_store<Doc>(path);
  if (auto* doc = std::get_if<Doc>(&read)) return {std::move(*doc), true};
  if (auto* error = std::get_if<StoreError>(&read))
    write_diagnostic("[Tolvani] cannot load learned store: " + error->message);
  return {};
}

// ---- The state every store holds

// Tag of the copy a background save takes: it reads the store's document only when the save
// runs.
struct LendForSave {};

// A store's document. An ordinary copy is a deep copy, as of the moment it is made. A copy for a
// background save is taken on the typing thread, where copying thousands of entries would show
// in a keystroke: it only refers to the store's document, and copies it when the save runs on
// the worker, under a lock that the store holds while it changes the document (packed under the
// lock and unpacked after it: see store_packing.h). The save then writes the document as it is
// when the save runs, which is at least as new as when it was asked for.
template <typename Doc>
class StoreDocument {
 public:
  // Write access, holding the lock that a running save's copy takes.
  class Edit {
   public:
    Doc* operator->() const { return doc_; }
    Doc& operator*() const { return *doc_; }

   private:
    friend class StoreDocument;
    Edit(std::unique_lock<std::mutex> lock, Doc* doc) : lock_(std::move(lock)), doc_(doc) {}
    std::unique_lock<std::mutex> lock_;
    Doc* doc_;
  };

  explicit StoreDocument(Doc doc = {}) : doc_(std::make_shared<Doc>(std::move(doc))) {}
  StoreDocument(const StoreDocument& other) : doc_(std::make_shared<Doc>(other.get())) {}
  StoreDocument(const StoreDocument& other, LendForSave) : lent_(other.lend()) {}
  // A move leaves an empty document behind, so that no store is ever left without one.
  StoreDocument(StoreDocument&& other)
      : doc_(std::exchange(other.doc_, std::make_shared<Doc>())),
        lent_(std::exchange(other.lent_, nullptr)) {}
  StoreDocument& operator=(const StoreDocument& other) {
    if (this != &other) *this = other.get();
    return *this;
  }
  StoreDocument& operator=(StoreDocument&& other) {
    if (this != &other) {
      doc_ = std::exchange(other.doc_, std::make_shared<Doc>());
      lent_ = std::exchange(other.lent_, nullptr);
    }
    return *this;
  }
  // A new document; saves asked for before still write the one they were lent.
  StoreDocument& operator=(Doc doc) {
    doc_ = std::make_shared<Doc>(std::move(doc));
    lent_.reset();
    return *this;
  }

  const Doc& get() const {
    take();
    return *doc_;
  }
  Edit edit() {
    take();
    std::unique_lock<std::mutex> lock;
    if (lent_) lock = std::unique_lock<std::mutex>(lent_->mu);
    return Edit(std::move(lock), doc_.get());
  }
  // A copy for a background save takes its document here (on the thread that first uses it).
  void take() const {
    if (doc_) return;
    // Kept alive past the lock: this may be the last reference to the loan.
    const std::shared_ptr<Loan> loan = std::exchange(lent_, nullptr);
    typename DocumentPacking<Doc>::Packed packed;
    {
      std::lock_guard<std::mutex> lock(loan->mu);
      packed = DocumentPacking<Doc>::pack(*loan->doc);
    }
    doc_ = std::make_shared<Doc>(DocumentPacking<Doc>::unpack(std::move(packed)));
  }

 private:
  // What copies for saves share with the store: its document, and the lock it changes it under.
  struct Loan {
    explicit Loan(std::shared_ptr<Doc> d) : doc(std::move(d)) {}
    std::mutex mu;
    std::shared_ptr<Doc> doc;
  };

  std::shared_ptr<Loan> lend() const {
    take();
    if (!lent_) lent_ = std::make_shared<Loan>(doc_);
    return lent_;
  }

  // The store's own document: null in a copy for a save until it takes one.
  mutable std::shared_ptr<Doc> doc_;
  // The store's: shared with the copies for saves, from the first one on. A copy for a save:
  // the store's, until the copy takes its document.
  mutable std::shared_ptr<Loan> lent_;
};

// The file, the document and the writer bookkeeping of one learned store. A copy is a clone: it
// shares the saved revision and the write lock with its original.
template <typename Doc>
class LearnedStore {
 public:
  // The file the store is kept in.
  const std::filesystem::path& path() const { return path_; }
  const std::string& reset_id() const { return doc_.get().reset_id; }
  const Doc& document() const { return doc_.get(); }
  // A copy for a background save takes its document (on the worker).
  void take_document() { doc_.take(); }
  const WriterState& writer() const { return writer_; }
  // Changes since the last background save request.
  uint32_t pending_changes() const { return changes_; }
  bool has_unsaved_changes() const { return writer_.has_unsaved_changes(); }

 protected:
  LearnedStore(std::filesystem::path path, Doc doc)
      : path_(std::move(path)), doc_(std::move(doc)) {}
  LearnedStore(const LearnedStore& other, LendForSave lend)
      : path_(other.path_),
        doc_(other.doc_, lend),
        writer_(other.writer_),
        changes_(other.changes_) {}
  LearnedStore(const LearnedStore&) = default;
  LearnedStore(LearnedStore&&) = default;
  LearnedStore& operator=(const LearnedStore&) = default;
  LearnedStore& operator=(LearnedStore&&) = default;

  // Takes the document of a load; one read from the file is clean.
  void take_loaded(LoadedDocument<Doc> loaded) {
    doc_ = std::move(loaded.doc);
    if (loaded.from_file) writer_.mark_clean();
  }

  const Doc& doc() const { return doc_.get(); }
  typename StoreDocument<Doc>::Edit edit_doc() { return doc_.edit(); }

  std::filesystem::path path_;
  StoreDocument<Doc> doc_;
  WriterState writer_;
  uint32_t changes_ = 0;
};

// ---- The persistence worker

// Puts the calling thread in the background scheduling class. Work done for a key (a save, a
// reload of the stores) must not delay that key or the next: woken by it, a normal thread takes
// the processor from the key's thread at once, a batch thread waits for the scheduler's turn.
// Failing to change class costs only that delay.
void run_in_background();

// Hands the allocator's free pages back to the system, after work that passed a large store through
// it. Reading and saving the largest dictionary takes a few hundred megabytes, on threads each with
// an arena of the allocator, which keeps what was freed for later use: in a process that serves
// typing for the whole session, that would stay until logout. Any thread; call it beside the keys.
void give_back_free_memory();

inline constexpr char kPersistenceThreadName[] = "tolvani-persistence";
inline constexpr size_t kPersistenceQueueCap = 16;
// Recorded changes between two background save requests of the bigrams, trigrams, selections
// and rejections (the user dictionary waits for 20).
inline constexpr uint32_t kStoreSaveEvery = 10;

// A queued save: owns a copy of one store and syncs it when run.
class SaveJob {
 public:
  virtual ~SaveJob() = default;
  virtual void run() = 0;
};

namespace detail {
// Queues `job` for the worker (started on first use), replacing an older job of the same writer;
// counts a failure and drops the job when the queue is full or the worker cannot start.
void enqueue_save(std::unique_ptr<SaveJob> job, uint64_t writer_id, uint64_t revision);
}  // namespace detail

// The background save request: when `store` has unsaved changes, queue a copy of it for the
// worker, unless a job of a newer revision of the same writer is already waiting.
template <typename Store>
void request_background_save(const Store& store) {
  const WriterState& writer = store.writer();
  if (!writer.has_unsaved_changes()) return;
  class Job final : public SaveJob {
   public:
    explicit Job(const Store& s) : copy_(s, LendForSave{}) {}
    // A failing sync has counted itself already.
    void run() override {
      // Saved meanwhile (by a snapshot): nothing to take the store's lock for.
      if (!copy_.has_unsaved_changes()) return;
      copy_.take_document();
      (void)copy_.sync();
    }

   private:
    Store copy_;
  };
  // The copy (which takes no document yet) is made before the queue lock is taken.
  detail::enqueue_save(std::make_unique<Job>(store), writer.writer_id(), writer.revision());
}

// Waits until the worker's queue is empty and no job runs (returns at once without a worker).
void test_wait_for_persistence_worker();
// The queued jobs as (writer id, revision), first to run first.
std::vector<std::pair<uint64_t, uint64_t>> test_queued_saves();

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_PERSISTENCE_CORE_H_
