#include "stats/TypingStatsStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <csignal>
#include <cstdio>

#include "platform/Clock.h"
#include "platform/testing/ChildProcess.h"
#include "stats/tests/StatsTestSupport.h"

using namespace std::chrono_literals;

namespace tolvani {
namespace {

// The counts in field order, then which dates are present.
std::string render(const TypingStats& s) {
  return std::to_string(s.totalKeystrokes) + " " + std::to_string(s.totalWordsCommitted) + " " +
         std::to_string(s.totalAutocorrections) + " " + std::to_string(s.totalCandidateSelections) +
         " " + std::to_string(s.keystrokesSavedByAutocorrect) + " " +
         std::to_string(s.sessionCount) + (s.firstUsed ? " first" : "") +
         (s.lastUsed ? " last" : "");
}

const QString kStatsFile = QStringLiteral("typing-stats.json");

class TypingStatsStoreTest : public testing::DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    TypingStatsStore::testReset();
  }

  void TearDown() override {
    TypingStatsStore::testReset();
    DataFolderTest::TearDown();
  }

  QString path() const { return filePath(kStatsFile); }

  // The file's document, or a null one when there is no file.
  QJsonDocument onDisk() const {
    const std::optional<QByteArray> bytes = readFile(kStatsFile);
    return bytes ? QJsonDocument::fromJson(*bytes) : QJsonDocument();
  }

  // Lets the queue run what was recorded (records are queued; load waits behind them).
  TypingStats settled() { return TypingStatsStore::load(); }
};

TEST_F(TypingStatsStoreTest, EachRecordChangesOnlyItsCounts) {
  struct Row {
    void (*record)();
    const char* expected;
  };
  const Row rows[] = {
      {[] { TypingStatsStore::recordCommit(false, 5); }, "0 1 0 0 0 0"},
      {[] { TypingStatsStore::recordCommit(true, 3); }, "0 1 1 0 3 0"},
      {[] { TypingStatsStore::recordCandidateSelection(); }, "0 0 0 1 0 0"},
      {[] { TypingStatsStore::recordKeystroke(); }, "1 0 0 0 0 0 first last"},
      {[] { TypingStatsStore::recordSession(); }, "0 0 0 0 0 1"},
  };
  for (const Row& row : rows) {
    TypingStatsStore::testReset();  // each row in a new process, so the session row counts
    TypingStatsStore::reset();
    row.record();
    EXPECT_EQ(render(settled()), row.expected);
  }
}

TEST_F(TypingStatsStoreTest, KeystrokesMoveLastUseAndKeepFirstUse) {
  TypingStatsStore::recordKeystroke();
  const TypingStats first = settled();
  clock_.advance(90s);
  TypingStatsStore::recordKeystroke();
  const TypingStats second = settled();
  ASSERT_TRUE(first.firstUsed && second.lastUsed);
  EXPECT_EQ(second.firstUsed, first.firstUsed);
  EXPECT_EQ(first.firstUsed->secsTo(*second.lastUsed), 90);
  EXPECT_EQ(first.firstUsed->toSecsSinceEpoch(), 1'700'000'000);

  TypingStatsStore::flush();
  // Dates are seconds since 2001-01-01 00:00 UTC.
  EXPECT_EQ(onDisk()["firstUsed"].toDouble(), 1'700'000'000.0 - 978'307'200.0);
  EXPECT_EQ(onDisk()["lastUsed"].toDouble(), 1'700'000'090.0 - 978'307'200.0);
  TypingStatsStore::testReset();
  EXPECT_EQ(TypingStatsStore::load(), second) << "read back as written";
}

TEST_F(TypingStatsStoreTest, TwentyRecordsWithinFiveSecondsCauseOneWriteHoldingAllTwenty) {
  for (int i = 0; i < 20; ++i) {
    TypingStatsStore::recordKeystroke();
    settled();
    clock_.advance(200ms);  // the last record comes 3.8 s after the first
  }
  clock_.advance(999ms);
  settled();
  EXPECT_FALSE(QFile::exists(path())) << "nothing before 5 s";
  clock_.advance(1ms);
  settled();
  EXPECT_EQ(onDisk()["totalKeystrokes"].toInteger(), 20);

  ASSERT_TRUE(QFile::remove(path()));
  clock_.advance(60s);
  settled();
  EXPECT_FALSE(QFile::exists(path())) << "a second write";
}

TEST_F(TypingStatsStoreTest, ASessionStartsAfter1800SecondsWithoutActivity) {
  struct Row {
    std::chrono::seconds gap;
    const char* expected;
    bool writes;
  };
  const Row rows[] = {{1799s, "1 0 0 0 0 1 first last", false},
                      {1800s, "1 0 0 0 0 2 first last", true}};
  for (const Row& row : rows) {
    TypingStatsStore::testReset();  // a new process: its first activation always counts
    TypingStatsStore::reset();
    TypingStatsStore::recordSession();
    TypingStatsStore::recordKeystroke();
    TypingStatsStore::flush();
    ASSERT_TRUE(QFile::remove(path()));
    clock_.advance(row.gap);
    TypingStatsStore::recordSession();
    EXPECT_EQ(render(settled()), row.expected) << row.gap.count();
    TypingStatsStore::flush();
    EXPECT_EQ(QFile::exists(path()), row.writes) << row.gap.count();
  }
  // An activation refreshes the activity too: 1799 s after it, still the same session.
  clock_.advance(1799s);
  TypingStatsStore::recordSession();
  EXPECT_EQ(settled().sessionCount, 2);
}

TEST_F(TypingStatsStoreTest, AFileThatDoesNotDecodeReadsAsZerosAndIsRewrittenWhole) {
  const QByteArray undecodable[] = {
      R"({"totalKeystrokes": 40, "totalWordsCommitted": 9, "totalAutocorrections": 1,
          "totalCandidateSelections": 2, "keystrokesSavedByAutocorrect": 3})",
      R"({"totalKeystrokes": "40", "totalWordsCommitted": 9, "totalAutocorrections": 1,
          "totalCandidateSelections": 2, "keystrokesSavedByAutocorrect": 3, "sessionCount": 4})",
      R"({"totalKeystrokes": 40.5, "totalWordsCommitted": 9, "totalAutocorrections": 1,
          "totalCandidateSelections": 2, "keystrokesSavedByAutocorrect": 3, "sessionCount": 4})",
      R"({"totalKeystrokes": 40, "totalWordsCommitted": 9, "totalAutocorrections": 1,
          "totalCandidateSelections": 2, "keystrokesSavedByAutocorrect": 3, "sessionCount": 4,
          "firstUsed": "yesterday"})",
      "[1, 2, 3]",
      "{\"totalKeystrokes\": 40,",
      "",
  };
  for (const QByteArray& bytes : undecodable) {
    TypingStatsStore::testReset();
    writeFile(kStatsFile, bytes);
    EXPECT_EQ(render(TypingStatsStore::load()), "0 0 0 0 0 0") << bytes.toStdString();
  }

  TypingStatsStore::recordKeystroke();
  TypingStatsStore::flush();
  const QJsonObject written = onDisk().object();
  EXPECT_EQ(written.keys(),
            (QStringList{"firstUsed", "keystrokesSavedByAutocorrect", "lastUsed", "sessionCount",
                         "totalAutocorrections", "totalCandidateSelections", "totalKeystrokes",
                         "totalWordsCommitted"}));
  EXPECT_EQ(written["totalKeystrokes"].toInteger(), 1);

  // Without dates, and with keys it does not know, a document still decodes.
  TypingStatsStore::testReset();
  writeFile(kStatsFile,
            R"({"totalKeystrokes": 40, "totalWordsCommitted": 9, "totalAutocorrections": 1,
      "totalCandidateSelections": 2, "keystrokesSavedByAutocorrect": 3, "sessionCount": 4,
      "lastUsed": null, "comment": "kept by hand"})");
  EXPECT_EQ(render(TypingStatsStore::load()), "40 9 1 2 3 4");
}

TEST_F(TypingStatsStoreTest, FlushWritesOnlyWhatIsDirtyAndResetLeavesNoFile) {
  TypingStatsStore::flush();
  EXPECT_FALSE(QFile::exists(path())) << "nothing dirty, nothing written";

  TypingStatsStore::recordCandidateSelection();
  TypingStatsStore::flush();
  EXPECT_EQ(onDisk()["totalCandidateSelections"].toInteger(), 1) << "written at once";
  ASSERT_TRUE(QFile::remove(path()));
  clock_.advance(5s);
  settled();
  EXPECT_FALSE(QFile::exists(path())) << "the delayed flush found nothing dirty";

  TypingStatsStore::recordCandidateSelection();
  settled();
  TypingStatsStore::reset();
  clock_.advance(5s);
  EXPECT_EQ(render(settled()), "0 0 0 0 0 0");
  EXPECT_FALSE(QFile::exists(path())) << "the flush pending at the reset wrote nothing";
  TypingStatsStore::reset();  // no file: silent
}

TEST_F(TypingStatsStoreTest, CountsSaturateInsteadOfWrapping) {
  writeFile(kStatsFile, R"({"totalKeystrokes": 9223372036854775807, "totalWordsCommitted": 0,
      "totalAutocorrections": 0, "totalCandidateSelections": 0,
      "keystrokesSavedByAutocorrect": 9223372036854775800, "sessionCount": 0})");
  TypingStatsStore::recordKeystroke();
  TypingStatsStore::recordCommit(true, 100);
  const TypingStats stats = settled();
  EXPECT_EQ(stats.totalKeystrokes, INT64_MAX);
  EXPECT_EQ(stats.keystrokesSavedByAutocorrect, INT64_MAX);
}

// The child: counts a keystroke and is killed halfway through writing the file.
TOLVANI_CHILD_ROLE(statsKilledMidFlush) {
  TypingStatsStore::testSetMidWriteHook([] {
    std::fputs("mid-write\n", stdout);
    std::fflush(stdout);
    std::raise(SIGKILL);
  });
  TypingStatsStore::recordKeystroke();
  TypingStatsStore::flush();
  return 0;
}

TEST_F(TypingStatsStoreTest, AProcessKilledDuringAFlushLeavesTheOldFileIntact) {
  TypingStats old;
  old.totalKeystrokes = 40;
  old.sessionCount = 3;
  const QByteArray bytes = old.toJson();
  writeFile(kStatsFile, bytes);

  QProcessEnvironment environment;
  environment.insert("TOLVANI_DATA_DIR", dir_.path());
  const testing::ChildResult child = testing::runChild("statsKilledMidFlush", {}, environment);
  EXPECT_EQ(child.exitCode, -1) << "the child was killed";
  ASSERT_EQ(child.standardOutput, "mid-write\n") << child.standardError.toStdString();

  EXPECT_EQ(readFile(kStatsFile), bytes);
  EXPECT_EQ(TypingStatsStore::load(), old);
}

}  // namespace
}  // namespace tolvani
