// The file layer under the learned-store files, shared by the engine's persistence and the
// settings side's edits so that both write, name and lock the files the same way: one narrow
// interface over the disk (with its POSIX implementation), the names of temporaries and lock
// files, the atomic replacement of a store file and the flock of its sibling lock file.
// Thread-safety: every function may be called on any thread; a StoreLock is used by one thread at
// a time. Plain C++20 and POSIX: no other part of the engine and no front-end library.
#ifndef TOLVANI_STORE_IO_STORE_IO_H_
#define TOLVANI_STORE_IO_STORE_IO_H_

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tolvani::store_io {

// What read_file answers for a name that is neither a regular file nor a folder (a FIFO, a
// device, a socket, or a link to one), and for a file larger than its store can grow.
inline constexpr int kNotRegularFile = ENODEV;
inline constexpr int kFileTooLarge = EFBIG;

// Outcome of one file operation: 0 or the errno value.
struct [[nodiscard]] IoStatus {
  int error = 0;

  bool ok() const { return error == 0; }
  // A file that is there but can never be a store: kept aside as a damaged one is.
  bool damaged() const { return error == kNotRegularFile || error == kFileTooLarge; }
  // The system's description of the failure.
  std::string message() const;
};

struct DirectoryEntry {
  std::string name;
  bool regular_file = false;  // a symbolic link is not one
};

// Every disk access of the learned stores goes through this interface, so that tests can inject
// faults in one place. Descriptors are plain POSIX ones, released with close().
class StoreFileSystem {
 public:
  virtual ~StoreFileSystem() = default;

  // The whole file into `out`; ENOENT when it does not exist. Only a regular file is read, and only
  // up to the bound of its store (bounds::max_store_file_bytes of its name): anything else fails
  // at once (a folder with EISDIR, else kNotRegularFile or kFileTooLarge), never waiting on a
  // FIFO or a device.
  virtual IoStatus read_file(const std::filesystem::path& path, std::string& out) = 0;
  // Creates `dir` and its missing parents, each one the owner's alone (0700, whatever the umask);
  // folders that exist keep their permissions.
  virtual IoStatus create_directories(const std::filesystem::path& dir) = 0;
  // Opens `path` write-only, creating it but never truncating it. The file is the owner's alone
  // (0600, whatever the umask), as every file of this layer is: what a person typed is theirs.
  virtual IoStatus open_lock_file(const std::filesystem::path& path, int& fd) = 0;
  // As open_lock_file, for reading and writing: the settings side's lock files.
  virtual IoStatus open_private_lock_file(const std::filesystem::path& path, int& fd) = 0;
  // An exclusive flock on `fd`, waiting as long as it takes.
  virtual IoStatus lock_exclusive(int fd) = 0;
  // Creates `path` write-only, the owner's alone (0600); fails when the name exists.
  virtual IoStatus create_new_file(const std::filesystem::path& path, int& fd) = 0;
  virtual IoStatus write_all(int fd, std::string_view bytes) = 0;
  // Flushes the file's data and metadata to stable storage.
  virtual IoStatus sync_file(int fd) = 0;
  // Atomically replaces `to` with `from`.
  virtual IoStatus rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // As rename, but fails with EEXIST instead of replacing an existing `to`.
  virtual IoStatus rename_no_replace(const std::filesystem::path& from,
                                     const std::filesystem::path& to) = 0;
  // Makes the entry changes of folder `dir` durable.
  virtual IoStatus sync_directory(const std::filesystem::path& dir) = 0;
  virtual IoStatus remove(const std::filesystem::path& path) = 0;
  // Leaves the file at `path` to its owner alone (0600); a symbolic link is refused, not followed.
  virtual IoStatus restrict_to_owner(const std::filesystem::path& path) = 0;
  // The entries of `dir` (without "." and ".."), leaving out those that cannot be examined.
  virtual IoStatus list_directory(const std::filesystem::path& dir,
                                  std::vector<DirectoryEntry>& out) = 0;
  virtual void close(int fd) = 0;
};

// The real file system. Every descriptor it opens is close-on-exec, so that no child process
// inherits a lock. Test doubles may derive from it and override the operations they fail.
class PosixStoreFileSystem : public StoreFileSystem {
 public:
  IoStatus read_file(const std::filesystem::path& path, std::string& out) override;
  IoStatus create_directories(const std::filesystem::path& dir) override;
  IoStatus open_lock_file(const std::filesystem::path& path, int& fd) override;
  IoStatus open_private_lock_file(const std::filesystem::path& path, int& fd) override;
  IoStatus lock_exclusive(int fd) override;
  IoStatus create_new_file(const std::filesystem::path& path, int& fd) override;
  IoStatus write_all(int fd, std::string_view bytes) override;
  IoStatus sync_file(int fd) override;
  IoStatus rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  IoStatus rename_no_replace(const std::filesystem::path& from,
                             const std::filesystem::path& to) override;
  IoStatus sync_directory(const std::filesystem::path& dir) override;
  IoStatus remove(const std::filesystem::path& path) override;
  IoStatus restrict_to_owner(const std::filesystem::path& path) override;
  IoStatus list_directory(const std::filesystem::path& dir,
                          std::vector<DirectoryEntry>& out) override;
  void close(int fd) override;
};

// Receives a diagnostic line ("[Tolvani] ..."); the engine writes it to standard error, the
// front end to its log.
using DiagnosticSink = void (*)(std::string_view line);

// ---- Names

// The folder that holds `path`: "." when the path has no parent.
std::filesystem::path folder_of(const std::filesystem::path& path);

// `path` with its extension replaced by `kind`, the process id and the next value of the
// process-wide name counter: "user-dictionary.tmp.4242.7".
std::filesystem::path unique_store_path(const std::filesystem::path& path, std::string_view kind);

// The sibling lock file of a store: its extension replaced by "lock".
std::filesystem::path store_lock_path(const std::filesystem::path& path);

// ---- Writing

// Makes the entry changes of the folder holding `path` durable.
IoStatus sync_parent_directory(StoreFileSystem& fs, const std::filesystem::path& path);

// Replaces the file at `path` with `bytes` atomically: sweeps abandoned temporaries of this store
// (a failed removal goes to `diagnostic` and the write goes on), writes a fresh temporary,
// flushes it, renames it over the file and flushes the folder. Returns the first failure, after
// removing the temporary; the old file then stays unless the rename had happened.
// Requires: the caller holds the store's lock.
IoStatus write_store_atomically(StoreFileSystem& fs, const std::filesystem::path& path,
                                std::string_view bytes, DiagnosticSink diagnostic);

// ---- Locking

// The exclusive flock of a store's sibling lock file (never of the store file itself, which the
// atomic write replaces), held from a successful acquire() until release() or destruction.
// It keeps out other processes and other descriptors of the same file in this process (another
// thread's StoreLock, the engine's worker); it does not serialise the calls of one thread.
class StoreLock {
 public:
  // How the lock file is opened: by the engine (write-only) or by the settings side (read-write).
  enum class Access { kEngine, kPrivate };
  // Which step of acquire() failed.
  enum class Step { kNone, kOpen, kLock };

  StoreLock() = default;
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  ~StoreLock() { release(); }

  // Opens (creating) the lock file of `store_path` and takes the flock, waiting as long as it
  // takes. On failure nothing stays open and failed_step() tells which step it was.
  // Requires: the store's folder exists; this lock is not held.
  IoStatus acquire(StoreFileSystem& fs, const std::filesystem::path& store_path, Access access);
  // Closing the descriptor releases the flock. Does nothing when not held.
  void release();

  bool held() const { return fd_ >= 0; }
  Step failed_step() const { return failed_step_; }

 private:
  StoreFileSystem* fs_ = nullptr;  // the layer that opened fd_
  int fd_ = -1;
  Step failed_step_ = Step::kNone;
};

}  // namespace tolvani::store_io

#endif  // TOLVANI_STORE_IO_STORE_IO_H_
