#include "store_io.h"

#include "store_bounds.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace tolvani::store_io {

namespace {

// Names of temporaries and corrupt copies, shared by both kinds and all stores.
std::atomic<uint64_t> g_name_counter{0};

// Data and metadata to stable storage; on macOS only F_FULLFSYNC reaches the platters.
int flush(int fd) {
#ifdef __APPLE__
  if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
  return ::fsync(fd) == 0 ? 0 : errno;
}

// Every folder and file of this layer is its owner's alone, whatever the umask.
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

// Takes the permissions of an open file of this process's user to kPrivateFileMode: the umask
// may have left others' bits, or taken the owner's own.
int make_owner_only(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  if ((st.st_mode & 07777) == kPrivateFileMode || st.st_uid != ::geteuid()) return 0;
  return ::fchmod(fd, kPrivateFileMode) == 0 ? 0 : errno;
}

// Creates `dir` after its missing parents, each kPrivateFolderMode.
int make_private_folders(const std::filesystem::path& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  const std::filesystem::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir) {
    if (const int error = make_private_folders(parent); error != 0) return error;
  }
  if (::mkdir(dir.c_str(), kPrivateFolderMode) != 0) {
    // Another process may have made it in the meantime.
    const int error = errno;
    return error == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : error;
  }
  return ::chmod(dir.c_str(), kPrivateFolderMode) == 0 ? 0 : errno;
}

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
// writers that are still working out of the way.
void sweep_abandoned_temporaries(StoreFileSystem& fs, const std::filesystem::path& path,
                                 DiagnosticSink diagnostic) {
  const std::filesystem::path dir = path.parent_path();
  const std::string prefix = path.stem().string() + ".tmp.";
  std::vector<DirectoryEntry> entries;
  if (!fs.list_directory(folder_of(path), entries).ok()) return;
  for (const DirectoryEntry& entry : entries) {
    if (!entry.regular_file || !is_store_temporary(entry.name, prefix)) continue;
    const IoStatus removed = fs.remove(dir / entry.name);
    if (!removed.ok() && diagnostic != nullptr)
      diagnostic("[Tolvani] cannot remove abandoned store temporary file: " + removed.message());
  }
}

}  // namespace

std::string IoStatus::message() const {
  if (error == kNotRegularFile) return "not a regular file";
  if (error == kFileTooLarge) return "larger than its store can grow";
  return std::generic_category().message(error) + " (os error " + std::to_string(error) + ")";
}

// ---- the real file system

IoStatus PosixStoreFileSystem::read_file(const std::filesystem::path& path, std::string& out) {
  out.clear();
  // Without O_NONBLOCK, opening a FIFO waits for a writer for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {errno == ENXIO ? kNotRegularFile : errno};
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {errno};
  // A folder is no damaged store: it answers as reading it would.
  if (S_ISDIR(st.st_mode)) return {EISDIR};
  if (!S_ISREG(st.st_mode)) return {kNotRegularFile};
  const size_t bound = bounds::max_store_file_bytes(path.filename().native());
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > bound) return {kFileTooLarge};
  // The file may grow while it is read: one byte past the bound tells.
  std::string bytes(std::min(static_cast<size_t>(st.st_size), bound) + 1, '\0');
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > bound) return {kFileTooLarge};
      bytes.resize(std::min(bytes.size() * 2, bound + 1));
    }
    const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {errno};
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  bytes.resize(filled);
  out = std::move(bytes);
  return {};
}

IoStatus PosixStoreFileSystem::create_directories(const std::filesystem::path& dir) {
  if (dir.empty()) return {ENOENT};
  return {make_private_folders(dir)};
}

IoStatus PosixStoreFileSystem::open_lock_file(const std::filesystem::path& path, int& fd) {
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) return {errno};
  // Only the lock's existence could be read; an earlier version's lock file is tightened too.
  (void)make_owner_only(fd);
  return {};
}

IoStatus PosixStoreFileSystem::open_private_lock_file(const std::filesystem::path& path, int& fd) {
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) return {errno};
  (void)make_owner_only(fd);
  return {};
}

IoStatus PosixStoreFileSystem::lock_exclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return {errno};
  }
  return {};
}

IoStatus PosixStoreFileSystem::create_new_file(const std::filesystem::path& path, int& fd) {
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
  if (fd < 0) return {errno};
  // What is written here becomes a store by rename: it must never be open to others.
  if (const int error = make_owner_only(fd); error != 0) {
    ::close(fd);
    fd = -1;
    (void)::unlink(path.c_str());
    return {error};
  }
  return {};
}

IoStatus PosixStoreFileSystem::write_all(int fd, std::string_view bytes) {
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

IoStatus PosixStoreFileSystem::sync_file(int fd) { return {flush(fd)}; }

IoStatus PosixStoreFileSystem::rename(const std::filesystem::path& from,
                                      const std::filesystem::path& to) {
  return {::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno};
}

IoStatus PosixStoreFileSystem::rename_no_replace(const std::filesystem::path& from,
                                                 const std::filesystem::path& to) {
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

IoStatus PosixStoreFileSystem::sync_directory(const std::filesystem::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {errno};
  const int error = flush(fd);
  ::close(fd);
  return {error};
}

IoStatus PosixStoreFileSystem::remove(const std::filesystem::path& path) {
  return {::unlink(path.c_str()) == 0 ? 0 : errno};
}

IoStatus PosixStoreFileSystem::restrict_to_owner(const std::filesystem::path& path) {
  return {::fchmodat(AT_FDCWD, path.c_str(), kPrivateFileMode, AT_SYMLINK_NOFOLLOW) == 0 ? 0
                                                                                         : errno};
}

IoStatus PosixStoreFileSystem::list_directory(const std::filesystem::path& dir,
                                              std::vector<DirectoryEntry>& out) {
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

void PosixStoreFileSystem::close(int fd) { ::close(fd); }

// ---- names

std::filesystem::path folder_of(const std::filesystem::path& path) {
  std::filesystem::path dir = path.parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
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

// ---- writing

IoStatus sync_parent_directory(StoreFileSystem& fs, const std::filesystem::path& path) {
  return fs.sync_directory(folder_of(path));
}

IoStatus write_store_atomically(StoreFileSystem& fs, const std::filesystem::path& path,
                                std::string_view bytes, DiagnosticSink diagnostic) {
  sweep_abandoned_temporaries(fs, path, diagnostic);
  const std::filesystem::path temporary = unique_store_path(path, "tmp");
  int fd = -1;
  IoStatus status = fs.create_new_file(temporary, fd);
  if (status.ok()) status = fs.write_all(fd, bytes);
  // The bytes must be on disk before the rename publishes them, or a crash could leave the store
  // name pointing at an empty or partial file.
  if (status.ok()) status = fs.sync_file(fd);
  if (status.ok()) status = fs.rename(temporary, path);
  // The rename itself survives a crash only once the folder's entries are flushed.
  if (status.ok()) status = sync_parent_directory(fs, path);
  if (fd >= 0) fs.close(fd);
  // Only what this write created is removed; nothing is left after a rename that happened.
  if (!status.ok() && fd >= 0) (void)fs.remove(temporary);
  return status;
}

// ---- locking

IoStatus StoreLock::acquire(StoreFileSystem& fs, const std::filesystem::path& store_path,
                            Access access) {
  failed_step_ = Step::kNone;
  const std::filesystem::path lock_path = store_lock_path(store_path);
  int fd = -1;
  const IoStatus opened = access == Access::kEngine ? fs.open_lock_file(lock_path, fd)
                                                    : fs.open_private_lock_file(lock_path, fd);
  if (!opened.ok()) {
    failed_step_ = Step::kOpen;
    return opened;
  }
  const IoStatus locked = fs.lock_exclusive(fd);
  if (!locked.ok()) {
    failed_step_ = Step::kLock;
    fs.close(fd);
    return locked;
  }
  fs_ = &fs;
  fd_ = fd;
  return {};
}

void StoreLock::release() {
  if (fd_ < 0) return;
  fs_->close(fd_);
  fd_ = -1;
  fs_ = nullptr;
}

}  // namespace tolvani::store_io
