#include "stats/TypingStatsStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <thread>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/ReturnsWithin.h"
#include "stats/tests/StatsTestSupport.h"

using namespace std::chrono_literals;

namespace tolvani {
namespace {

// The counts in field order, then which dates are present.
std::string render(const TypingStats& s) {
  std::string out;
  for (std::int64_t count :
       {s.totalKeystrokes, s.totalWordsCommitted, s.totalAutocorrections,
        s.totalCandidateSelections, s.keystrokesSavedByAutocorrect, s.sessionCount})
    out += (out.empty() ? "" : " ") + std::to_string(count);
  return out + (s.firstUsed ? " first" : "") + (s.lastUsed ? " last" : "");
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

  void removeFile() { ASSERT_TRUE(QFile::remove(filePath(kStatsFile))); }
  // The file's object; empty when there is no file.
  QJsonObject onDisk() const {
    return QJsonDocument::fromJson(readFile(kStatsFile).value_or("")).object();
  }
  // Lets the queue run what was recorded (records are queued; load waits behind them).
  std::string settled() { return render(TypingStatsStore::load()); }
  // The file's statistics once the queue has run what is due; "none" when there is no file.
  std::string written() {
    settled();
    const std::optional<QByteArray> bytes = readFile(kStatsFile);
    const std::optional<TypingStats> stats = TypingStats::fromJson(bytes.value_or(""));
    return !bytes ? "none" : stats ? render(*stats) : "undecodable";
  }
  // As in a new process, with no file.
  void newProcess() {
    TypingStatsStore::testReset();
    TypingStatsStore::reset();
  }
};

TEST_F(TypingStatsStoreTest, EachRecordChangesOnlyItsCounts) {
  const std::pair<void (*)(), const char*> rows[] = {
      {[] { TypingStatsStore::recordCommit(false, 5); }, "0 1 0 0 0 0"},
      {[] { TypingStatsStore::recordCommit(true, 3); }, "0 1 1 0 3 0"},
      {[] { TypingStatsStore::recordCandidateSelection(); }, "0 0 0 1 0 0"},
      {[] { TypingStatsStore::recordKeystroke(); }, "1 0 0 0 0 0 first last"},
      {[] { TypingStatsStore::recordSession(); }, "0 0 0 0 0 1"},
  };
  for (const auto& [record, expected] : rows) {
    newProcess();  // so that the session row counts
    record();
    EXPECT_EQ(settled(), expected);
  }
}

TEST_F(TypingStatsStoreTest, KeystrokesMoveLastUseAndKeepFirstUse) {
  TypingStatsStore::recordKeystroke();
  settled();
  clock_.advance(90s);
  TypingStatsStore::recordKeystroke();
  const TypingStats stats = TypingStatsStore::load();
  ASSERT_TRUE(stats.firstUsed && stats.lastUsed);
  EXPECT_EQ(stats.firstUsed->toSecsSinceEpoch(), 1'700'000'000);
  EXPECT_EQ(stats.lastUsed->toSecsSinceEpoch(), 1'700'000'090);

  TypingStatsStore::flush();
  // Dates are seconds since 2001-01-01 00:00 UTC.
  EXPECT_EQ(onDisk()["firstUsed"].toDouble(), 1'700'000'000.0 - 978'307'200.0);
  EXPECT_EQ(onDisk()["lastUsed"].toDouble(), 1'700'000'090.0 - 978'307'200.0);
  TypingStatsStore::testReset();
  EXPECT_EQ(TypingStatsStore::load(), stats) << "read back as written";
}

// Keystrokes with nothing else after them still reach the file 5 s after the first, with the
// time of the first and of the last; a commit and a session made after keystrokes count after
// them, whether or not the keystrokes have been added yet.
TEST_F(TypingStatsStoreTest, KeystrokesAloneAreWrittenFiveSecondsAfterTheFirstWithTheirOwnTimes) {
  for (int i = 0; i < 3; ++i) {
    TypingStatsStore::recordKeystroke();
    clock_.advance(100ms);
  }
  clock_.advance(4699ms);
  EXPECT_EQ(written(), "none") << "nothing before 5 s";
  clock_.advance(1ms);
  EXPECT_EQ(written(), "3 0 0 0 0 0 first last");
  EXPECT_EQ(onDisk()["firstUsed"].toDouble(), 1'700'000'000.0 - 978'307'200.0);
  EXPECT_DOUBLE_EQ(onDisk()["lastUsed"].toDouble(), 1'700'000'000.2 - 978'307'200.0);

  newProcess();
  TypingStatsStore::recordSession();
  clock_.advance(1800s);
  TypingStatsStore::recordKeystroke();  // refreshes the activity before the session below
  TypingStatsStore::recordCommit(false, 0);
  TypingStatsStore::recordSession();
  EXPECT_EQ(settled(), "1 1 0 0 0 1 first last") << "the keystroke came before the activation";
  clock_.advance(1h);
  EXPECT_EQ(settled(), "1 1 0 0 0 1 first last") << "its delayed addition found nothing left";
}

TEST_F(TypingStatsStoreTest, TwentyRecordsWithinFiveSecondsCauseOneWriteAndResetCancelsOne) {
  TypingStatsStore::flush();
  EXPECT_EQ(written(), "none") << "nothing dirty, nothing written";
  for (int i = 0; i < 20; ++i) {
    TypingStatsStore::recordKeystroke();
    settled();
    clock_.advance(200ms);  // the last record comes 3.8 s after the first
  }
  clock_.advance(999ms);
  EXPECT_EQ(written(), "none") << "nothing before 5 s";
  clock_.advance(1ms);
  EXPECT_EQ(written(), "20 0 0 0 0 0 first last");
  removeFile();
  clock_.advance(60s);
  EXPECT_EQ(written(), "none") << "a second write";

  TypingStatsStore::recordCandidateSelection();
  TypingStatsStore::flush();
  EXPECT_EQ(written(), "20 0 0 1 0 0 first last") << "a flush writes at once";
  removeFile();
  clock_.advance(5s);
  EXPECT_EQ(written(), "none") << "the delayed flush found nothing dirty";

  TypingStatsStore::recordCandidateSelection();
  settled();
  TypingStatsStore::reset();
  clock_.advance(5s);
  EXPECT_EQ(settled(), "0 0 0 0 0 0");
  EXPECT_EQ(written(), "none") << "the flush pending at the reset wrote nothing";
  TypingStatsStore::reset();  // no file: silent
}

// Keystrokes counted while the queue is busy or from two threads at once are added in batches;
// none is lost or counted twice.
TEST_F(TypingStatsStoreTest, KeystrokesFromTwoThreadsAreAllCountedOnce) {
  const auto type = [] {
    for (int i = 0; i < 5000; ++i) TypingStatsStore::recordKeystroke();
  };
  std::thread other(type);
  type();
  other.join();
  EXPECT_EQ(settled(), "10000 0 0 0 0 0 first last");
  TypingStatsStore::recordKeystroke();
  EXPECT_EQ(settled(), "10001 0 0 0 0 0 first last");
}

TEST_F(TypingStatsStoreTest, ASessionStartsAfter1800SecondsWithoutActivity) {
  const std::tuple<std::chrono::seconds, const char*, bool> rows[] = {
      {1799s, "1 0 0 0 0 1 first last", false}, {1800s, "1 0 0 0 0 2 first last", true}};
  for (const auto& [gap, expected, writes] : rows) {
    newProcess();  // its first activation always counts
    TypingStatsStore::recordSession();
    TypingStatsStore::recordKeystroke();
    TypingStatsStore::flush();
    removeFile();
    clock_.advance(gap);
    TypingStatsStore::recordSession();
    EXPECT_EQ(settled(), expected) << gap.count();
    TypingStatsStore::flush();
    EXPECT_EQ(written() != "none", writes) << gap.count();
  }
  // An activation refreshes the activity too: 1799 s after it, still the same session.
  clock_.advance(1799s);
  TypingStatsStore::recordSession();
  EXPECT_EQ(settled(), "1 0 0 0 0 2 first last");
}

TEST_F(TypingStatsStoreTest, AFileThatDoesNotDecodeReadsAsZerosAndIsRewrittenWhole) {
  const QJsonObject good = QJsonDocument::fromJson(R"({"totalKeystrokes": 40,
      "totalWordsCommitted": 9, "totalAutocorrections": 1, "totalCandidateSelections": 2,
      "keystrokesSavedByAutocorrect": 3, "sessionCount": 4})")
                               .object();
  auto with = [&](const char* key, const QJsonValue& value) {
    QJsonObject changed = good;
    changed.insert(key, value);  // undefined removes the key
    return QJsonDocument(changed).toJson();
  };
  const QByteArray undecodable[] = {with("sessionCount", QJsonValue::Undefined),
                                    with("totalKeystrokes", "40"),
                                    with("totalKeystrokes", 40.5),
                                    with("firstUsed", "yesterday"),
                                    "[1, 2, 3]",
                                    "{\"totalKeystrokes\": 40,",
                                    ""};
  for (const QByteArray& bytes : undecodable) {
    TypingStatsStore::testReset();
    writeFile(kStatsFile, bytes);
    EXPECT_EQ(render(TypingStatsStore::load()), "0 0 0 0 0 0") << bytes.toStdString();
  }
  TypingStatsStore::recordKeystroke();
  TypingStatsStore::flush();
  EXPECT_EQ(onDisk().keys(),
            (QStringList{"firstUsed", "keystrokesSavedByAutocorrect", "lastUsed", "sessionCount",
                         "totalAutocorrections", "totalCandidateSelections", "totalKeystrokes",
                         "totalWordsCommitted"}));
  EXPECT_EQ(onDisk()["totalKeystrokes"].toInteger(), 1);

  // Without dates, and with keys it does not know, a document still decodes.
  TypingStatsStore::testReset();
  QJsonObject extra = good;
  extra.insert("lastUsed", QJsonValue::Null);
  extra.insert("comment", "kept by hand");
  writeFile(kStatsFile, QJsonDocument(extra).toJson());
  EXPECT_EQ(render(TypingStatsStore::load()), "40 9 1 2 3 4");
}

// The file as a FIFO (opening it for reading waits for a writer) or as a link to one, which
// stands for a link to a device (a write would follow it and replace the device): read as zeros at
// once, kept aside as it is under a new name, and the next write makes a fresh plain file. So too
// when the thing takes the file's place after it was read, before the write.
TEST_F(TypingStatsStoreTest, AFileThatIsNoPlainFileIsKeptAsideAndAFreshOneWritten) {
  QTemporaryDir elsewhere;
  const QString fifo = elsewhere.filePath(QStringLiteral("fifo"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString path = filePath(kStatsFile);
  const QByteArray native = QFile::encodeName(path);
  for (const bool afterTheRead : {false, true}) {
    for (const bool link : {false, true}) {
      SCOPED_TRACE(std::string(link ? "a link to a FIFO" : "a FIFO") +
                   (afterTheRead ? ", after the read" : ""));
      TypingStatsStore::testReset();
      for (const QString& name :
           QDir(dir_.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        ASSERT_TRUE(QFile::remove(filePath(name)));
      if (afterTheRead) {
        writeFile(kStatsFile, R"({"totalKeystrokes": 40, "totalWordsCommitted": 9,
            "totalAutocorrections": 1, "totalCandidateSelections": 2,
            "keystrokesSavedByAutocorrect": 3, "sessionCount": 4})");
        EXPECT_EQ(settled(), "40 9 1 2 3 4");
        ASSERT_TRUE(QFile::remove(path));
      }
      if (link) {
        ASSERT_TRUE(QFile::link(fifo, path));
      } else {
        ASSERT_EQ(::mkfifo(native.constData(), 0600), 0);
      }
      std::string read;
      // A generous bound: it tells an answer from a wait on the FIFO.
      EXPECT_TRUE(testing::returnsWithin(std::chrono::seconds(10), {path, fifo}, [&] {
        read = settled();
        TypingStatsStore::recordKeystroke();
        TypingStatsStore::flush();
      }));
      EXPECT_EQ(read, afterTheRead ? "40 9 1 2 3 4" : "0 0 0 0 0 0");

      struct stat st {};
      ASSERT_EQ(::lstat(native.constData(), &st), 0);
      ASSERT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(onDisk()["totalKeystrokes"].toInteger(), afterTheRead ? 41 : 1);
      const QStringList aside = QDir(dir_.path())
                                    .entryList({kStatsFile + QStringLiteral(".corrupt-*")},
                                               QDir::AllEntries | QDir::System);
      ASSERT_EQ(aside.size(), 1) << aside.join(' ').toStdString();
      const QByteArray kept = QFile::encodeName(filePath(aside.first()));
      ASSERT_EQ(::lstat(kept.constData(), &st), 0);
      if (link) {
        EXPECT_EQ(QFile::symLinkTarget(filePath(aside.first())), fifo);
      } else {
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
      }
      ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
      EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
  }
}

TEST_F(TypingStatsStoreTest, CountsSaturateInsteadOfWrapping) {
  writeFile(kStatsFile, R"({"totalKeystrokes": 9223372036854775807, "totalWordsCommitted": 0,
      "totalAutocorrections": 0, "totalCandidateSelections": 0,
      "keystrokesSavedByAutocorrect": 9223372036854775800, "sessionCount": 0})");
  TypingStatsStore::recordKeystroke();
  TypingStatsStore::recordCommit(true, 100);
  EXPECT_EQ(settled(), "9223372036854775807 1 1 0 9223372036854775807 0 first last");
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
  writeFile(kStatsFile, old.toJson());
  QProcessEnvironment environment;
  environment.insert("TOLVANI_DATA_DIR", dir_.path());
  const testing::ChildResult child = testing::runChild("statsKilledMidFlush", {}, environment);
  EXPECT_EQ(child.exitCode, -1) << "the child was killed";
  ASSERT_EQ(child.standardOutput, "mid-write\n") << child.standardError.toStdString();
  EXPECT_EQ(readFile(kStatsFile), old.toJson());
  EXPECT_EQ(TypingStatsStore::load(), old);
}

}  // namespace
}  // namespace tolvani
