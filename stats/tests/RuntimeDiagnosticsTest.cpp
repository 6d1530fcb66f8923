#include "stats/RuntimeDiagnostics.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "settings/AppSettings.h"
#include "stats/tests/StatsTestSupport.h"

using namespace std::chrono_literals;

namespace tolvani {
namespace {

using RuntimeDiagnostics::Metric;

class RuntimeDiagnosticsTest : public testing::DataFolderTest {
 protected:
  static void SetUpTestSuite() {
    // The defaults suite is opened once per process: give it a folder of its own first.
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  }

  void SetUp() override {
    DataFolderTest::SetUp();
    RuntimeDiagnostics::testReset();
  }

  void TearDown() override {
    RuntimeDiagnostics::testWaitForQueue();
    RuntimeDiagnostics::setPersistenceFailureCounter(nullptr);
    DataFolderTest::TearDown();
  }

  QString filePath() const { return DataFolderTest::filePath(RuntimeDiagnostics::fileName()); }

  // The document the last flush wrote; empty when there is none.
  QJsonObject flushAndRead() {
    RuntimeDiagnostics::flush();
    RuntimeDiagnostics::testWaitForQueue();
    const std::optional<QByteArray> bytes = readFile(RuntimeDiagnostics::fileName());
    return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
  }
};

TEST_F(RuntimeDiagnosticsTest, RecordingDropsValuesThatAreNotDurationsAndKeepsTheNewest256) {
  const double rejected[] = {-0.5, std::nan(""), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
  for (double value : rejected) RuntimeDiagnostics::record(Metric::keyHandling, value);
  EXPECT_TRUE(RuntimeDiagnostics::testSamples(Metric::keyHandling).isEmpty());

  RuntimeDiagnostics::record(Metric::keyHandling, 0.0);
  RuntimeDiagnostics::record(Metric::keyHandling, -0.0);
  EXPECT_EQ(RuntimeDiagnostics::testSamples(Metric::keyHandling).size(), 2);

  for (int i = 0; i < 300; ++i) RuntimeDiagnostics::record(Metric::persistence, i);
  const QList<double> kept = RuntimeDiagnostics::testSamples(Metric::persistence);
  ASSERT_EQ(kept.size(), 256);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(kept[i], 300 - 256 + i) << "at " << i;
  EXPECT_EQ(RuntimeDiagnostics::testSamples(Metric::keyHandling).size(), 2);
}

TEST_F(RuntimeDiagnosticsTest, PercentilesTakeTheSortedSampleAtTheIntegerIndex) {
  struct Row {
    std::vector<double> samples;
    double p50, p95, max;
  };
  std::vector<double> hundred, full;
  for (int i = 1; i <= 100; ++i) hundred.push_back(i);
  for (int i = 1; i <= 256; ++i) full.push_back(i);
  std::shuffle(hundred.begin(), hundred.end(),
               std::mt19937(::testing::UnitTest::GetInstance()->random_seed()));
  std::reverse(full.begin(), full.end());
  const Row rows[] = {
      {{7.25}, 7.25, 7.25, 7.25},
      {{5, 1, 3}, 3, 3, 5},    // s[1], s[(2 * 95) / 100] = s[1], s[2]
      {hundred, 50, 95, 100},  // s[49], s[94], s[99]
      {full, 128, 243, 256},   // s[127], s[242], s[255]
  };
  for (const Row& row : rows) {
    RuntimeDiagnostics::testReset();
    for (double value : row.samples) RuntimeDiagnostics::record(Metric::engineLockWait, value);
    const QJsonObject metric = flushAndRead().value(QStringLiteral("engineLockWait")).toObject();
    SCOPED_TRACE(row.samples.size());
    EXPECT_EQ(metric.value(QStringLiteral("samples")).toInteger(),
              static_cast<qint64>(row.samples.size()));
    EXPECT_EQ(metric.value(QStringLiteral("p50_ms")).toDouble(), row.p50);
    EXPECT_EQ(metric.value(QStringLiteral("p95_ms")).toDouble(), row.p95);
    EXPECT_EQ(metric.value(QStringLiteral("max_ms")).toDouble(), row.max);
  }
}

TEST_F(RuntimeDiagnosticsTest, FirstFlushWritesTheNineFixedKeysSortedAndNoUnrecordedMetric) {
  RuntimeDiagnostics::setPersistenceFailureCounter([]() -> std::uint64_t { return 7; });
  RuntimeDiagnostics::flush();
  RuntimeDiagnostics::testWaitForQueue();
  QFile file(filePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  const QJsonObject document = QJsonDocument::fromJson(text).object();
  const QStringList keys = {"build",
                            "bundle",
                            "fullAccessGroupMismatches",
                            "launches",
                            "memoryWarnings",
                            "persistenceFailures",
                            "sampledPeakFootprintBytes",
                            "updated",
                            "version"};
  EXPECT_EQ(document.keys(), keys);
  // The text itself has them in that order, one per line.
  qsizetype at = 0;
  for (const QString& key : keys) {
    const qsizetype next = text.indexOf("\"" + key.toUtf8() + "\":", at);
    ASSERT_GT(next, at) << key.toStdString();
    at = next;
  }
  EXPECT_EQ(document.value("bundle").toString(), RuntimeDiagnostics::role());
  EXPECT_EQ(RuntimeDiagnostics::fileName(), "diagnostics-" + RuntimeDiagnostics::role() + ".json");
  EXPECT_EQ(document.value("updated").toString(), "2023-11-14T22:13:20Z");
  EXPECT_EQ(document.value("build").toString(), "unknown");
  EXPECT_EQ(document.value("persistenceFailures").toInteger(), 7);
  EXPECT_EQ(document.value("memoryWarnings").toInteger(), 0);
  EXPECT_GT(document.value("sampledPeakFootprintBytes").toInteger(), 1024 * 1024);
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
  EXPECT_EQ(flushAndRead().value("updated").toString(), "2023-11-13T22:14:21Z");
}

TEST_F(RuntimeDiagnosticsTest, StartCountsOneLaunchPerProcess) {
  const QString key = "diagnostics.launches." + RuntimeDiagnostics::role();
  const qint64 before = AppSettings::suite().integer(key).value_or(0);
  for (int i = 0; i < 3; ++i) RuntimeDiagnostics::start();
  EXPECT_EQ(flushAndRead().value("launches").toInteger(), before + 1);
  EXPECT_EQ(AppSettings::suite().integer(key).value_or(0), before + 1);

  RuntimeDiagnostics::testReset();  // a new process
  RuntimeDiagnostics::start();
  RuntimeDiagnostics::start();
  EXPECT_EQ(flushAndRead().value("launches").toInteger(), before + 2);
}

TEST_F(RuntimeDiagnosticsTest, AFailedWriteLogsOneLineAndHoldsOffTheNextFlush) {
  QTemporaryDir parent;
  const QString blocked = parent.filePath("not-a-folder");
  QFile file(blocked);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  qputenv("TOLVANI_DATA_DIR", (blocked + "/inner").toUtf8());
  platform::log::Capture capture;
  RuntimeDiagnostics::flush();
  RuntimeDiagnostics::testWaitForQueue();
  ASSERT_EQ(capture.lines().size(), 1);
  EXPECT_TRUE(capture.lines()[0].startsWith("[Tolvani] Could not save local diagnostics: "))
      << capture.lines()[0].toStdString();
  clock_.advance(29s);
  RuntimeDiagnostics::flush();
  RuntimeDiagnostics::testWaitForQueue();
  EXPECT_EQ(capture.lines().size(), 1);
}

TEST_F(RuntimeDiagnosticsTest, ReportShowsOnlyReadableDiagnosticsDocumentsInNameOrder) {
  const QString header =
      "Tolvani local diagnostics\nAggregate timings only; no typed text. Memory is sampled, not a "
      "measured session maximum. Launches include normal process restarts.\n\n";
  EXPECT_EQ(RuntimeDiagnostics::report(),
            header + "Use the keyboard, then reopen this page to see measurements.");

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
            header + QString::fromUtf8("{\"a\": \"\xe0\xa6\x95\"}") + "\n\n{\"b\": 2}");
}

}  // namespace
}  // namespace tolvani
