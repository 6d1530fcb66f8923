// Helpers of the settings tests: the store files read and written as bytes, a file layer that
// fails what a test arms and records what it replaces, a child process spoken to line by line, a
// sample backup, and a fixture with a user-data folder of its own. Thread-safety: a test's thread,
// except the file layer, which the code under test may call from any thread.
#ifndef TOLVANI_SETTINGS_TESTS_SETTINGSTESTSUPPORT_H_
#define TOLVANI_SETTINGS_TESTS_SETTINGSTESTSUPPORT_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "persistence.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/testing/UnreadableFile.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"
#include "store_bounds.h"
#include "store_io.h"

// Failures show the texts themselves.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace tolvani::testing {

// The time of the learned-data tests, in whole seconds since 1970.
inline constexpr std::uint64_t kNow = 1'700'000'000;

// The file's bytes; "<missing>" when it cannot be read or is no regular file (a FIFO would hold
// the test, a link to /dev/zero fill its memory).
inline std::string readBytes(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return "<missing>";
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
}

inline nlohmann::json readJson(const QString& path) {
  return nlohmann::json::parse(readBytes(path));
}

// Every file of `folder` matching `filter`, with its bytes, one per line.
inline std::string folderState(const QString& folder, const QStringList& filter = {}) {
  std::string out;
  const QDir dir(folder);
  for (const QString& name : dir.entryList(filter, QDir::Files, QDir::Name))
    out += name.toStdString() + "=" + readBytes(dir.filePath(name)) + "\n";
  return out;
}

// One small, valid store of each kind; one word in the dictionary.
inline constexpr char kBackup[] = R"({
  "version": 2, "exported_at": "2023-11-14T22:13:20Z",
  "dictionary": {"words": {"আমি": {"frequency": 3, "last_used": 10}}, "tombstones": {"তুমি": 20}},
  "bigrams": {"pairs": {"আমি": {"ভাত": {"frequency": 2, "last_used": 10}}}},
  "trigrams": {"triples": {"আমি\tভাত": {"খাই": 2}}},
  "rejections": {"entries": {"ami": {"আমী": 1}}},
  "selection_memory": {"selections": {"ami": {"text": "আমি", "count": 4, "last_used": 10}}},
  "english_pairs": {"pairs": {"good": {"morning": 5}}}
})";

// The test program again in a child role, spoken to one line at a time.
class LineChild {
 public:
  explicit LineChild(const QString& role) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TOLVANI_TEST_CHILD_ROLE"), role);
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QCoreApplication::applicationFilePath(), {});
  }
  ~LineChild() { (void)finish(); }
  void send(const std::string& text) {
    process_.write(QByteArray::fromStdString(text + "\n"));
    process_.waitForBytesWritten(60'000);
  }
  // A generous bound that only a dead or stuck child reaches.
  std::string line() {
    while (!process_.canReadLine())
      if (!process_.waitForReadyRead(60'000)) return "<no answer>";
    return process_.readLine().trimmed().toStdString();
  }
  std::string call(const std::string& command) {
    send(command);
    return line();
  }
  // Closes its input and waits: the exit code, -1 for a crash or a hang.
  int finish() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(60'000)) process_.kill();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }

 private:
  QProcess process_;
};

// Writes `bytes` as the whole file, making its folder first.
inline void writeBytes(const QString& path, const std::string& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// A store's name holding what no store can be read from (see UnreadableFile.h); an oversized one
// is `document` padded past the size its store can grow to.
inline std::string placeUnreadable(const QString& path, Unreadable shape,
                                   const std::string& document) {
  const std::string name = QFileInfo(path).fileName().toStdString();
  return placeUnreadable(path, shape, document, store_io::bounds::max_store_file_bytes(name));
}

// The real file layer, failing the operations a test arms and recording the replaces and removes.
class FaultFileSystem : public store_io::PosixStoreFileSystem {
 public:
  // A rename onto a file of this name fails with EIO once, after this many successful ones onto it.
  std::map<std::string, int> failRenameTo;
  // The folder flush that follows the next rename onto a file of this name fails.
  std::string failFlushAfterRenameTo;
  // Called around the flock of a lock file.
  std::function<void()> beforeLock;
  std::function<void()> afterLock;
  // "replace NAME", "replace NAME failed" and "remove NAME" (temporary files left out), in order.
  std::vector<std::string> operations;

  store_io::IoStatus lock_exclusive(int fd) override {
    if (beforeLock) beforeLock();
    const store_io::IoStatus status = PosixStoreFileSystem::lock_exclusive(fd);
    if (afterLock) afterLock();
    return status;
  }
  store_io::IoStatus rename(const std::filesystem::path& from,
                            const std::filesystem::path& to) override {
    const std::string name = to.filename().string();
    if (const auto it = failRenameTo.find(name); it != failRenameTo.end() && it->second-- == 0) {
      operations.push_back("replace " + name + " failed");
      return {EIO};
    }
    operations.push_back("replace " + name);
    const store_io::IoStatus status = PosixStoreFileSystem::rename(from, to);
    if (status.ok() && name == failFlushAfterRenameTo) {
      flushFails_ = true;
      failFlushAfterRenameTo.clear();  // once
    }
    return status;
  }
  store_io::IoStatus sync_directory(const std::filesystem::path& dir) override {
    if (std::exchange(flushFails_, false)) return {EIO};
    return PosixStoreFileSystem::sync_directory(dir);
  }
  store_io::IoStatus remove(const std::filesystem::path& p) override {
    if (p.filename().string().find(".tmp.") == std::string::npos)
      operations.push_back("remove " + p.filename().string());
    return PosixStoreFileSystem::remove(p);
  }

 private:
  bool flushFails_ = false;
};

// A settings suite of its own in a fresh configuration folder.
class SettingsSuiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    platform::Defaults::testResetStandard();
  }
  void TearDown() override {
    qunsetenv("XDG_CONFIG_HOME");
    platform::Defaults::testResetStandard();
  }

  QTemporaryDir config_;
};

// A fresh settings suite and user-data folder (the desktop's data folder moved to a temporary
// one), the front end's
// and the engine's clocks at kNow and three quarters, every settings-change notification noted,
// and the log captured. The real file layer is put back after each test.
class LearnedDataTest : public SettingsSuiteTest {
 protected:
  void SetUp() override {
    SettingsSuiteTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
    qputenv("XDG_DATA_HOME", dir_.path().toUtf8());
    qunsetenv("TOLVANI_DATA_DIR");
    platform::testSetClock(&clock_);
    clock_.setWallSeconds(static_cast<double>(kNow) + 0.75);
    engine::test_set_now_secs(kNow);
    token_ = platform::NotificationCenter::defaultCenter().addObserver(
        AppSettings::didChangeNotification(), [this](const platform::Notification& n) {
          posts_.push_back(AppSettings::reloadUserDataRequested(n));
        });
  }
  void TearDown() override {
    platform::NotificationCenter::defaultCenter().removeObserver(token_);
    AppSettings::testSetStoreFileSystem(nullptr);
    platform::testSetClock(nullptr);
    engine::test_set_now_secs(std::nullopt);
    qunsetenv("XDG_DATA_HOME");
    SettingsSuiteTest::TearDown();
  }

  QTemporaryDir dir_;
  platform::ManualClock clock_;
  platform::log::Capture log_;
  std::vector<bool> posts_;  // reloadUserData of each notification
  platform::NotificationCenter::Token token_ = 0;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_SETTINGS_TESTS_SETTINGSTESTSUPPORT_H_
