#include "stats/RuntimeDiagnostics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "platform/Log.h"
#include "platform/testing/ReturnsWithin.h"
#include "settings/AppSettings.h"
#include "stats/tests/StatsTestSupport.h"

using namespace std::chrono_literals;

namespace tolvani {
namespace {

using RuntimeDiagnostics::Metric;
using testing::kReportHeader;

class RuntimeDiagnosticsTest : public testing::DiagnosticsFolderTest {
 protected:
  static void SetUpTestSuite() {
    // The defaults suite is opened once per process: give it a folder of its own first.
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  }
  void TearDown() override {
    RuntimeDiagnostics::setPersistenceFailureCounter(nullptr);
    DiagnosticsFolderTest::TearDown();
  }
  QString filePath() const { return DataFolderTest::filePath(RuntimeDiagnostics::fileName()); }
};

TEST_F(RuntimeDiagnosticsTest, RecordingDropsValuesThatAreNotDurationsAndKeepsTheNewest256) {
  const double infinity = std::numeric_limits<double>::infinity();
  for (double value : {-0.5, std::nan(""), infinity, -infinity, 0.0, -0.0})
    RuntimeDiagnostics::record(Metric::keyHandling, value);
  EXPECT_EQ(RuntimeDiagnostics::testSamples(Metric::keyHandling), (QList<double>{0.0, -0.0}));

  QList<double> newest;
  for (int i = 0; i < 300; ++i) {
    RuntimeDiagnostics::record(Metric::persistence, i);
    if (i >= 300 - 256) newest << i;
  }
  EXPECT_EQ(RuntimeDiagnostics::testSamples(Metric::persistence), newest);
  EXPECT_EQ(RuntimeDiagnostics::testSamples(Metric::keyHandling).size(), 2);
}

TEST_F(RuntimeDiagnosticsTest, PercentilesTakeTheSortedSampleAtTheIntegerIndex) {
  std::vector<double> hundred, full;
  for (int i = 1; i <= 100; ++i) hundred.push_back(i);
  for (int i = 256; i >= 1; --i) full.push_back(i);
  std::shuffle(hundred.begin(), hundred.end(),
               std::mt19937(::testing::UnitTest::GetInstance()->random_seed()));
  const std::pair<std::vector<double>, const char*> rows[] = {
      // samples, p50, p95, max
      {{7.25}, "1 7.25 7.25 7.25"},
      {{5, 1, 3}, "3 3 3 5"},      // s[1], s[(2 * 95) / 100] = s[1], s[2]
      {hundred, "100 50 95 100"},  // s[49], s[94], s[99]
      {full, "256 128 243 256"},   // s[127], s[242], s[255]
  };
  for (const auto& [samples, expected] : rows) {
    RuntimeDiagnostics::testReset();
    for (double value : samples) RuntimeDiagnostics::record(Metric::engineLockWait, value);
    const QJsonObject m = flushAndRead()["engineLockWait"].toObject();
    EXPECT_EQ(QStringLiteral("%1 %2 %3 %4")
                  .arg(m["samples"].toInteger())
                  .arg(m["p50_ms"].toDouble())
                  .arg(m["p95_ms"].toDouble())
                  .arg(m["max_ms"].toDouble()),
              QLatin1String(expected));
  }
}

TEST_F(RuntimeDiagnosticsTest, FirstFlushWritesTheNineFixedKeysSortedAndNoUnrecordedMetric) {
  RuntimeDiagnostics::setPersistenceFailureCounter([]() -> std::uint64_t { return 7; });
  const QJsonObject document = flushAndRead();
  // The text itself has them in that order, one per line, and nothing else.
  QStringList inText;
  const QString text = QString::fromUtf8(readFile(RuntimeDiagnostics::fileName()).value_or(""));
  for (const QRegularExpressionMatch& match :
       QRegularExpression(QStringLiteral("\n *\"(\\w+)\": ")).globalMatch(text))
    inText << match.captured(1);
  EXPECT_EQ(inText, (QStringList{"build", "bundle", "fullAccessGroupMismatches", "launches",
                                 "memoryWarnings", "persistenceFailures",
                                 "sampledPeakFootprintBytes", "updated", "version"}));
  EXPECT_EQ(document["bundle"].toString(), RuntimeDiagnostics::role());
  EXPECT_EQ(RuntimeDiagnostics::fileName(), "diagnostics-" + RuntimeDiagnostics::role() + ".json");
  EXPECT_EQ(document["updated"].toString(), "2023-11-14T22:13:20Z");
  EXPECT_EQ(document["build"].toString(), "unknown");
  EXPECT_EQ(document["persistenceFailures"].toInteger(), 7);
  EXPECT_EQ(document["memoryWarnings"].toInteger(), 0);
  EXPECT_GT(document["sampledPeakFootprintBytes"].toInteger(), 1024 * 1024);
}

TEST_F(RuntimeDiagnosticsTest, FlushesAreThrottledFor30SecondsOnTheMonotonicClock) {
  RuntimeDiagnostics::record(Metric::keyHandling, 1);
  ASSERT_FALSE(flushAndRead().isEmpty());
  ASSERT_TRUE(QFile::remove(filePath()));

  clock_.advance(10s);
  EXPECT_TRUE(flushAndRead().isEmpty()) << "dropped, not deferred";
  clock_.advance(19s);
  EXPECT_TRUE(flushAndRead().isEmpty()) << "the dropped request did not come back";
  clock_.advance(2s);  // 31 s after the first
  ASSERT_FALSE(flushAndRead().isEmpty());
  ASSERT_TRUE(QFile::remove(filePath()));

  // Setting the wall clock a day back does not hold the next flush off.
  clock_.setWallSeconds(clock_.wallSeconds() - 86400);
  clock_.advance(30s);
  EXPECT_EQ(flushAndRead()["updated"].toString(), "2023-11-13T22:14:21Z");
}

TEST_F(RuntimeDiagnosticsTest, StartCountsOneLaunchPerProcess) {
  const QString key = "diagnostics.launches." + RuntimeDiagnostics::role();
  const qint64 before = AppSettings::suite().integer(key).value_or(0);
  for (int i = 0; i < 3; ++i) RuntimeDiagnostics::start();
  EXPECT_EQ(flushAndRead()["launches"].toInteger(), before + 1);
  EXPECT_EQ(AppSettings::suite().integer(key).value_or(0), before + 1);

  RuntimeDiagnostics::testReset();  // a new process
  RuntimeDiagnostics::start();
  RuntimeDiagnostics::start();
  EXPECT_EQ(flushAndRead()["launches"].toInteger(), before + 2);
}

TEST_F(RuntimeDiagnosticsTest, AFailedWriteLogsOneLineAndHoldsOffTheNextFlush) {
  QTemporaryDir parent;
  QFile file(parent.filePath("not-a-folder"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  qputenv("TOLVANI_DATA_DIR", (file.fileName() + "/inner").toUtf8());
  platform::log::Capture capture;
  flushAndRead();
  ASSERT_EQ(capture.lines().size(), 1);
  EXPECT_TRUE(capture.lines()[0].startsWith("[Tolvani] Could not save local diagnostics: "))
      << capture.lines()[0].toStdString();
  clock_.advance(29s);
  flushAndRead();
  EXPECT_EQ(capture.lines().size(), 1);
}

TEST_F(RuntimeDiagnosticsTest, ReportShowsOnlyReadableDiagnosticsDocumentsInNameOrder) {
  EXPECT_EQ(RuntimeDiagnostics::report(), kReportHeader + testing::kReportPlaceholder);
  const std::pair<const char*, QByteArray> files[] = {
      {"diagnostics-b.json", "{\"b\": 2}"},
      {"diagnostics-a.json", "{\"a\": \"\xe0\xa6\x95\"}"},
      {"diagnostics-c.txt", "not shown"},
      {"other.json", "not shown"},
      {"diagnostics-bad.json", "\xff\xfe not UTF-8"},
  };
  for (const auto& [name, bytes] : files) writeFile(name, bytes);
  ASSERT_TRUE(QDir(dir_.path()).mkdir("diagnostics-folder.json"));
  EXPECT_EQ(RuntimeDiagnostics::report(),
            kReportHeader + QString::fromUtf8("{\"a\": \"\xe0\xa6\x95\"}") + "\n\n{\"b\": 2}");
}

// The file as a FIFO (opening it for reading waits for a writer) or as a link to one, which
// stands for a link to a device (a write would follow it and replace the device): the report reads
// neither and answers at once, and the flush keeps the thing aside as it is under a new name and
// writes a fresh plain file.
TEST_F(RuntimeDiagnosticsTest, AFileThatIsNoPlainFileIsKeptAsideAndAFreshOneWritten) {
  QTemporaryDir elsewhere;
  const QString fifo = elsewhere.filePath(QStringLiteral("fifo"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QByteArray native = QFile::encodeName(filePath());
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link to a FIFO" : "a FIFO");
    for (const QString& name :
         QDir(dir_.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
      ASSERT_TRUE(QFile::remove(DataFolderTest::filePath(name)));
    if (link) {
      ASSERT_TRUE(QFile::link(fifo, filePath()));
    } else {
      ASSERT_EQ(::mkfifo(native.constData(), 0600), 0);
    }
    QString report;
    QJsonObject document;
    clock_.advance(31s);  // past the last round's flush
    // A generous bound: it tells an answer from a wait on the FIFO.
    EXPECT_TRUE(testing::returnsWithin(std::chrono::seconds(10), {filePath(), fifo}, [&] {
      report = RuntimeDiagnostics::report();
      document = flushAndRead();
    }));
    EXPECT_EQ(report, kReportHeader + testing::kReportPlaceholder);
    EXPECT_EQ(document["bundle"].toString(), RuntimeDiagnostics::role());

    struct stat st {};
    ASSERT_EQ(::lstat(native.constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    const QStringList aside =
        QDir(dir_.path())
            .entryList({RuntimeDiagnostics::fileName() + QStringLiteral(".corrupt-*")},
                       QDir::AllEntries | QDir::System);
    ASSERT_EQ(aside.size(), 1) << aside.join(' ').toStdString();
    const QString kept = DataFolderTest::filePath(aside.first());
    ASSERT_EQ(::lstat(QFile::encodeName(kept).constData(), &st), 0);
    if (link) {
      EXPECT_EQ(QFile::symLinkTarget(kept), fifo);
    } else {
      EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
    ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
  }
}

}  // namespace
}  // namespace tolvani
