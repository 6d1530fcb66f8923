// Who else may read what a session keeps: the folders and files that the engine makes, written
// through its C interface by a process of their own under the usual umask, belong to the user
// alone, and so does a damaged store it sets aside. Checked by mode and, run as root, by another
// account's real attempt to read them.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine_client.h"
#include "store_test_util.h"
#include "tolvani_engine.h"

namespace tolvani::engine {
namespace {

using namespace store_test;
using tolvani::testing::EngineClient;

constexpr char kChildTest[] = "PrivateFilesChildProcess.Role";

// Sets the process's umask for the life of the object; children inherit it.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t saved_;
};

// The permission bits in octal ("0600"), "missing" when there is no such entry.
std::string mode_of(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "missing";
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return text;
}

// Types words and writes the session's snapshot, as a host does when it is deactivated.
TEST(PrivateFilesChildProcess, Role) {
  if (std::getenv(kChildRoleVariable) == nullptr)
    GTEST_SKIP() << "runs only as a child process of the tests below";
  EngineClient engine;
  const auto state = engine.type(U"ami tomake valobashi ");
  ASSERT_TRUE(state.has_value());
  ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine.get())));
}

void learn_in_new_process(const fs::path& data) {
  Child child(kChildTest, "learn", {"TOLVANI_DATA_DIR=" + data.string()});
  ASSERT_GT(child.pid(), 0);
  const int status = child.wait();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// What another account gets when it opens `path` for reading (a folder: to list it): 0 or the
// errno. Nothing when this process cannot become another account (it is not root).
std::optional<int> other_account_opens(const fs::path& path) {
  if (::geteuid() != 0) return std::nullopt;
  const passwd* nobody = ::getpwnam("nobody");
  const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
  const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Every user id other than 0 leaves no capability: the file's mode alone decides.
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(255);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    ::_exit(fd >= 0 ? 0 : (errno & 0x7f));
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Every entry of `data` is a file of the user's alone, and another account can neither list the
// folder nor read a file in it; the file modes are tried on their own too, with the folder made
// passable to all.
void expect_private_to_owner(const fs::path& data) {
  EXPECT_EQ(mode_of(data), "0700") << data;
  for (const std::string& name : list_names(data)) {
    EXPECT_EQ(mode_of(data / name), "0600") << name;
  }
  if (const std::optional<int> listed = other_account_opens(data)) {
    EXPECT_EQ(*listed, EACCES) << "another account lists " << data;
    for (const std::string& name : list_names(data))
      EXPECT_EQ(other_account_opens(data / name), EACCES) << "another account reads " << name;
    ASSERT_EQ(::chmod(data.c_str(), 0711), 0);
    for (const std::string& name : list_names(data))
      EXPECT_EQ(other_account_opens(data / name), EACCES)
          << "another account reads " << name << " through a passable folder";
    ASSERT_EQ(::chmod(data.c_str(), 0700), 0);
  }
}

TEST(PrivateFilesTest, WhatASessionWritesAndSetsAsideIsTheUsersAloneUnderTheUsualUmask) {
  const ScopedUmask usual(022);
  TempFolder dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // others may pass, as through a home
  // Neither folder exists: the engine makes both.
  const fs::path data = dir / "share" / "tolvani";
  ASSERT_NO_FATAL_FAILURE(learn_in_new_process(data));
  EXPECT_EQ(mode_of(dir / "share"), "0700");
  const std::vector<std::string> stores = {"rejections.json",      "selection-memory.json",
                                           "user-bigrams.json",    "user-dictionary.json",
                                           "user-dictionary.lock", "user-trigrams.json"};
  for (const std::string& name : stores)
    EXPECT_TRUE(fs::exists(data / name))
        << name << " is missing; there are " << ::testing::PrintToString(list_names(data));
  // The folder above must not hide the data folder from the other account's attempts.
  ASSERT_EQ(::chmod((dir / "share").c_str(), 0711), 0);
  ASSERT_NO_FATAL_FAILURE(expect_private_to_owner(data));

  // A store that an earlier version left readable by all, and damaged: the next save sets it
  // aside, and the copy is as private as the rest.
  write_file(data / "user-dictionary.json", "{\"words\": [damaged");
  ASSERT_EQ(::chmod((data / "user-dictionary.json").c_str(), 0644), 0);
  ASSERT_NO_FATAL_FAILURE(learn_in_new_process(data));
  const std::vector<std::string> aside = names_with(data, ".corrupt.");
  ASSERT_EQ(aside.size(), 1u) << ::testing::PrintToString(list_names(data));
  EXPECT_EQ(read_file(data / aside[0]), "{\"words\": [damaged");
  ASSERT_NO_FATAL_FAILURE(expect_private_to_owner(data));
}

// A umask that takes the owner's own bits (or every bit) leaves the stores usable by their owner:
// the modes are set, not left to the mask.
TEST(PrivateFilesTest, AStrictUmaskLeavesTheOwnerReadingAndWritingTheStores) {
  TempFolder dir;
  const ScopedUmask strict(0277);
  const fs::path data = dir / "tolvani";
  ASSERT_NO_FATAL_FAILURE(learn_in_new_process(data));
  EXPECT_EQ(mode_of(data), "0700");
  EXPECT_EQ(mode_of(data / "user-dictionary.json"), "0600");
  EXPECT_EQ(mode_of(data / "user-dictionary.lock"), "0600");
  ASSERT_NO_FATAL_FAILURE(learn_in_new_process(data));
  EXPECT_THAT(read_file(data / "user-dictionary.json").value_or(""),
              ::testing::HasSubstr("\"frequency\":2"));
}

}  // namespace
}  // namespace tolvani::engine
