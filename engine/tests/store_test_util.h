// Helpers of the learned-store tests: a temporary folder per test, a fixed clock, real files,
// a file layer that injects one fault at a time, stderr capture and child processes.
#ifndef TOLVANI_ENGINE_TESTS_STORE_TEST_UTIL_H_
#define TOLVANI_ENGINE_TESTS_STORE_TEST_UTIL_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "persistence_core.h"

extern char** environ;

namespace tolvani::engine::store_test {

namespace fs = std::filesystem;

// An empty folder of the running test's own, removed again when the test passes.
class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() / ("tolvani-" + std::string(info->test_suite_name()) + "." +
                                         info->name() + "-" + std::to_string(::getpid()));
    std::error_code ec;
    make_writable(path_);
    fs::remove_all(path_, ec);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    // A queued save would otherwise bring the folder back after its removal.
    test_wait_for_persistence_worker();
    if (::testing::Test::HasFailure()) return;  // kept for a look
    std::error_code ec;
    make_writable(path_);
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(std::string_view name) const { return path_ / name; }

 private:
  static void make_writable(const fs::path& p) {
    std::error_code ec;
    if (!fs::exists(p, ec)) return;
    for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::path path_;
};

// Fixes now_secs() for the life of the object.
class FixedClock {
 public:
  explicit FixedClock(uint64_t now) { set(now); }
  ~FixedClock() { test_set_now_secs(std::nullopt); }
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;
  void set(uint64_t now) { test_set_now_secs(now); }
};

// Sets (or with std::nullopt unsets) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

inline std::optional<std::string> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// Names in `dir`, sorted, each directory with a trailing "/".
inline std::vector<std::string> list_names(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::string name = e.path().filename().string();
    if (e.is_directory() && !e.is_symlink()) name += "/";
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Names in `dir` that contain `part`.
inline std::vector<std::string> names_with(const fs::path& dir, std::string_view part) {
  std::vector<std::string> out;
  for (std::string& name : list_names(dir)) {
    if (name.find(part) != std::string::npos) out.push_back(std::move(name));
  }
  return out;
}

// Reads a store file strictly; fails the test when it is missing or undecodable.
template <typename Doc>
Doc read_document(const fs::path& path) {
  Doc doc;
  const std::optional<std::string> bytes = read_file(path);
  EXPECT_TRUE(bytes.has_value()) << path << " is missing";
  if (!bytes) return doc;
  std::string error;
  EXPECT_TRUE(decode_document(*bytes, doc, error)) << path << ": " << error << "\n" << *bytes;
  return doc;
}

template <typename Doc>
void write_document(const fs::path& path, const Doc& doc) {
  std::string bytes;
  std::string error;
  ASSERT_TRUE(encode_document(doc, bytes, error)) << error;
  write_file(path, bytes);
}

// Renderings of the documents with every map sorted, so that one EXPECT_EQ shows the whole
// content: reset "id" | key{fields} ...
template <typename Map, typename Show>
std::string render_map(const Map& map, Show show) {
  std::vector<std::string> items;
  for (const auto& [key, value] : map) items.push_back(key + show(value));
  std::sort(items.begin(), items.end());
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : " ") + item;
  return out;
}

inline std::string render(const UserDictionaryDocument& d) {
  return "reset \"" + d.reset_id + "\" | " +
         render_map(d.words,
                    [](const UserEntry& e) {
                      return "{" + std::to_string(e.frequency) + " u" +
                             std::to_string(e.last_used) + " d" + std::to_string(e.last_decay) +
                             "}";
                    }) +
         " | tombstones " +
         render_map(d.tombstones, [](uint64_t t) { return "=" + std::to_string(t); });
}

inline std::string render(const UserBigramsDocument& d) {
  return "reset \"" + d.reset_id + "\" | " +
         render_map(d.pairs, [](const StringMap<BigramEntry>& inner) {
           return ">[" +
                  render_map(inner,
                             [](const BigramEntry& e) {
                               return "{" + std::to_string(e.frequency) + " u" +
                                      std::to_string(e.last_used) + "}";
                             }) +
                  "]";
         });
}

inline std::string render(const UserTrigramsDocument& d) {
  return "reset \"" + d.reset_id + "\" | " +
         render_map(d.triples, [](const StringMap<uint32_t>& inner) {
           return ">[" + render_map(inner, [](uint32_t c) { return "=" + std::to_string(c); }) +
                  "]";
         });
}

inline std::string render(const SelectionMemoryDocument& d) {
  return "reset \"" + d.reset_id + "\" | " + render_map(d.selections, [](const SelectionEntry& e) {
           return "{" + e.text + " " + std::to_string(e.count) + " u" +
                  std::to_string(e.last_used) + "}";
         });
}

inline std::string render(const RejectionsDocument& d) {
  return "reset \"" + d.reset_id + "\" | " +
         render_map(d.entries, [](const StringMap<int32_t>& inner) {
           return ">[" + render_map(inner, [](int32_t p) { return "=" + std::to_string(p); }) + "]";
         });
}

// Captures what is written to standard error while it lives.
class StderrCapture {
 public:
  StderrCapture() { ::testing::internal::CaptureStderr(); }
  ~StderrCapture() {
    if (!taken_) (void)::testing::internal::GetCapturedStderr();
  }
  std::string take() {
    taken_ = true;
    return ::testing::internal::GetCapturedStderr();
  }

 private:
  bool taken_ = false;
};

// Forwards every operation to the real file system; subclasses override one to inject a fault.
class ForwardingFileSystem : public StoreFileSystem {
 public:
  IoStatus read_file(const fs::path& path, std::string& out) override {
    return base().read_file(path, out);
  }
  IoStatus create_directories(const fs::path& dir) override {
    return base().create_directories(dir);
  }
  IoStatus open_lock_file(const fs::path& path, int& fd) override {
    return base().open_lock_file(path, fd);
  }
  IoStatus open_private_lock_file(const fs::path& path, int& fd) override {
    return base().open_private_lock_file(path, fd);
  }
  IoStatus lock_exclusive(int fd) override { return base().lock_exclusive(fd); }
  IoStatus create_new_file(const fs::path& path, int& fd) override {
    return base().create_new_file(path, fd);
  }
  IoStatus write_all(int fd, std::string_view bytes) override {
    return base().write_all(fd, bytes);
  }
  IoStatus sync_file(int fd) override { return base().sync_file(fd); }
  IoStatus rename(const fs::path& from, const fs::path& to) override {
    return base().rename(from, to);
  }
  IoStatus rename_no_replace(const fs::path& from, const fs::path& to) override {
    return base().rename_no_replace(from, to);
  }
  IoStatus sync_directory(const fs::path& dir) override { return base().sync_directory(dir); }
  IoStatus remove(const fs::path& path) override { return base().remove(path); }
  IoStatus restrict_to_owner(const fs::path& path) override {
    return base().restrict_to_owner(path);
  }
  IoStatus list_directory(const fs::path& dir, std::vector<DirectoryEntry>& out) override {
    return base().list_directory(dir, out);
  }
  void close(int fd) override { base().close(fd); }

 protected:
  static StoreFileSystem& base() { return posix_store_file_system(); }
};

// Where a FaultFileSystem fails.
enum class Fault {
  kNone,
  kReadFile,
  kCreateDirectories,
  kOpenLockFile,
  kLock,
  kCreateTemporary,
  kWrite,  // a full disk
  kSyncFile,
  kRename,
  kRenameAside,
  kSyncDirectory,
  kRemove,
};

// Fails the chosen operation with `error` while armed; counts every call.
class FaultFileSystem final : public ForwardingFileSystem {
 public:
  void arm(Fault fault, int error) {
    fault_ = fault;
    error_ = error;
  }
  void disarm() { fault_ = Fault::kNone; }
  int calls() const { return calls_.load(); }

  IoStatus read_file(const fs::path& path, std::string& out) override {
    if (auto st = hit(Fault::kReadFile)) return *st;
    return ForwardingFileSystem::read_file(path, out);
  }
  IoStatus create_directories(const fs::path& dir) override {
    if (auto st = hit(Fault::kCreateDirectories)) return *st;
    return ForwardingFileSystem::create_directories(dir);
  }
  IoStatus open_lock_file(const fs::path& path, int& fd) override {
    if (auto st = hit(Fault::kOpenLockFile)) return *st;
    return ForwardingFileSystem::open_lock_file(path, fd);
  }
  IoStatus lock_exclusive(int fd) override {
    if (auto st = hit(Fault::kLock)) return *st;
    return ForwardingFileSystem::lock_exclusive(fd);
  }
  IoStatus create_new_file(const fs::path& path, int& fd) override {
    if (auto st = hit(Fault::kCreateTemporary)) return *st;
    return ForwardingFileSystem::create_new_file(path, fd);
  }
  IoStatus write_all(int fd, std::string_view bytes) override {
    if (auto st = hit(Fault::kWrite)) {
      // A full disk takes part of the bytes before it refuses more.
      (void)ForwardingFileSystem::write_all(fd, bytes.substr(0, bytes.size() / 2));
      return *st;
    }
    return ForwardingFileSystem::write_all(fd, bytes);
  }
  IoStatus sync_file(int fd) override {
    if (auto st = hit(Fault::kSyncFile)) return *st;
    return ForwardingFileSystem::sync_file(fd);
  }
  IoStatus rename(const fs::path& from, const fs::path& to) override {
    if (auto st = hit(Fault::kRename)) return *st;
    return ForwardingFileSystem::rename(from, to);
  }
  IoStatus rename_no_replace(const fs::path& from, const fs::path& to) override {
    if (auto st = hit(Fault::kRenameAside)) return *st;
    return ForwardingFileSystem::rename_no_replace(from, to);
  }
  IoStatus sync_directory(const fs::path& dir) override {
    if (auto st = hit(Fault::kSyncDirectory)) return *st;
    return ForwardingFileSystem::sync_directory(dir);
  }
  IoStatus remove(const fs::path& path) override {
    if (auto st = hit(Fault::kRemove)) return *st;
    return ForwardingFileSystem::remove(path);
  }
  IoStatus list_directory(const fs::path& dir, std::vector<DirectoryEntry>& out) override {
    ++calls_;
    return ForwardingFileSystem::list_directory(dir, out);
  }

 private:
  std::optional<IoStatus> hit(Fault where) {
    ++calls_;
    if (fault_ == where) return IoStatus{error_};
    return std::nullopt;
  }
  std::atomic<Fault> fault_{Fault::kNone};
  std::atomic<int> error_{0};
  std::atomic<int> calls_{0};
};

// Installs a file layer for the life of the object; waits for the worker on both ends, so that
// no job of another test runs across the swap.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(StoreFileSystem& fs) {
    test_wait_for_persistence_worker();
    test_set_store_file_system(&fs);
  }
  ~ScopedFileSystem() {
    test_wait_for_persistence_worker();
    test_set_store_file_system(nullptr);
  }
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;
};

// ---- child processes: the test binary run again with a role

inline constexpr char kChildRoleVariable[] = "TOLVANI_TEST_CHILD_ROLE";

// Reads lines from `fd` (a child's pipe) until `count` more arrived or, with count 0, until the
// writer closed it; false after 30 seconds of silence.
inline bool read_lines(int fd, size_t count, std::string& pending,
                       std::vector<std::string>& lines) {
  const size_t goal = lines.size() + count;
  while (count == 0 || lines.size() < goal) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30'000) <= 0) return false;
    char buf[4096];
    const ssize_t got = ::read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return count == 0;
    pending.append(buf, static_cast<size_t>(got));
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      lines.push_back(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
  }
  return true;
}

// A child process running this binary with `role`, `env` added to the environment. Its fd 0 is
// the write end's partner of `to_child()`, its fd 3 the partner of `from_child()`.
class Child {
 public:
  Child(std::string_view test_filter, std::string_view role, const std::vector<std::string>& env) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << errno;
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

    // A variable given for the child replaces the inherited one of that name (getenv would find
    // the inherited one first).
    const auto overridden = [&](std::string_view entry) {
      const std::string_view name = entry.substr(0, entry.find('='));
      if (name == kChildRoleVariable) return true;
      return std::any_of(env.begin(), env.end(), [&](const std::string& given) {
        return std::string_view(given).substr(0, given.find('=')) == name;
      });
    };
    std::vector<std::string> strings;
    for (char** e = environ; *e != nullptr; ++e) {
      if (overridden(*e)) continue;
      strings.emplace_back(*e);
    }
    strings.push_back(std::string(kChildRoleVariable) + "=" + std::string(role));
    for (const std::string& e : env) strings.push_back(e);
    std::vector<char*> envp;
    for (std::string& s : strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::string exe = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=" + std::string(test_filter);
    char* argv[] = {exe.data(), filter.data(), nullptr};
    const int rc = ::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    to_child_ = in[1];
    from_child_ = out[0];
    if (rc != 0) {
      ADD_FAILURE() << "posix_spawn: " << rc;
      pid_ = -1;
    }
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      (void)wait();
    }
    if (to_child_ >= 0) ::close(to_child_);
    if (from_child_ >= 0) ::close(from_child_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  int to_child() const { return to_child_; }
  int from_child() const { return from_child_; }

  // Waits for the child to end; its exit status as waitpid gives it.
  int wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
};

}  // namespace tolvani::engine::store_test

#endif  // TOLVANI_ENGINE_TESTS_STORE_TEST_UTIL_H_
