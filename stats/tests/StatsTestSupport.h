// The fixtures the stats tests share: a user-data folder of their own (TOLVANI_DATA_DIR) and the
// front end's clock replaced by a manual one, with its files read and written whole; and the same
// with the diagnostics of a new process. Thread-safety: a test's thread.
#ifndef TOLVANI_STATS_TESTS_STATSTESTSUPPORT_H_
#define TOLVANI_STATS_TESTS_STATSTESTSUPPORT_H_

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <optional>

#include "platform/Clock.h"
#include "stats/RuntimeDiagnostics.h"

namespace tolvani::testing {

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qputenv("TOLVANI_DATA_DIR", dir_.path().toUtf8());
    platform::testSetClock(&clock_);
  }
  void TearDown() override {
    platform::testSetClock(nullptr);
    qunsetenv("TOLVANI_DATA_DIR");
  }

  QString filePath(const QString& name) const { return dir_.filePath(name); }

  // The whole file `name` of the folder; none when it cannot be read.
  std::optional<QByteArray> readFile(const QString& name) const {
    QFile file(filePath(name));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
  }

  // Replaces the file `name` of the folder with `bytes`.
  void writeFile(const QString& name, const QByteArray& bytes) {
    QFile file(filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
  }

  QTemporaryDir dir_;
  platform::ManualClock clock_;
};

class DiagnosticsFolderTest : public DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    RuntimeDiagnostics::testReset();
  }
  void TearDown() override {
    RuntimeDiagnostics::testWaitForQueue();
    DataFolderTest::TearDown();
  }

  // The diagnostics file once a flush has run; empty when there is none.
  QJsonObject flushAndRead() {
    RuntimeDiagnostics::flush();
    RuntimeDiagnostics::testWaitForQueue();
    return QJsonDocument::fromJson(readFile(RuntimeDiagnostics::fileName()).value_or("")).object();
  }
};

inline const QString kReportHeader = QStringLiteral(
    "Tolvani local diagnostics\nAggregate timings only; no typed text. Memory is sampled, not a "
    "measured session maximum. Launches include normal process restarts.\n\n");
inline const QString kReportPlaceholder =
    QStringLiteral("Use the keyboard, then reopen this page to see measurements.");

}  // namespace tolvani::testing

#endif  // TOLVANI_STATS_TESTS_STATSTESTSUPPORT_H_
