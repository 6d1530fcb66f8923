#include "stats/RuntimeDiagnostics.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimeZone>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/BoundedFile.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/PrivateFiles.h"
#include "platform/Queues.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"

namespace tolvani::RuntimeDiagnostics {

namespace {

constexpr std::chrono::seconds kFlushInterval{30};
// A document of eleven summaries and a few counters is some 3 KB.
constexpr qsizetype kMaxReportedFileBytes = 256 * 1024;

const char* const kMetricNames[kMetricCount] = {
    "keyHandling",    "keyPressDelivery", "firstPressDelivery", "keyReleaseDelivery",
    "engineLockWait", "candidateQueue",   "persistence",        "loadToVisible",
    "engineReady",    "mainStallOpening", "mainStallTyping"};

struct State {
  std::array<std::vector<double>, kMetricCount> samples;
  bool started = false;
  std::uint64_t peakFootprint = 0;
  std::int64_t memoryWarnings = 0;
  std::int64_t fullAccessGroupMismatches = 0;
  // Monotonic, so that setting the wall clock back cannot hold flushes off; none = distant past.
  std::optional<std::chrono::nanoseconds> lastFlush;
};

struct Diagnostics {
  std::mutex mu;
  State state;  // guarded by mu
  std::atomic<std::uint64_t (*)()> persistenceFailures{nullptr};
  platform::SerialQueue queue{QStringLiteral("com.tolvani.diagnostics"),
                              platform::SerialQueue::Priority::utility};
};

Diagnostics& diagnostics() {
  // Never destroyed: records and flushes may arrive from other threads until the process ends.
  static Diagnostics* const instance = new Diagnostics;
  return *instance;
}

QString launchesKey() { return QStringLiteral("diagnostics.launches.") + role(); }

qint64 launches() { return AppSettings::suite().integer(launchesKey()).value_or(0); }

// The resident set of this process, from its own status file: the nearest Linux measure of the
// physical footprint.
std::optional<std::uint64_t> sampleFootprint() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return std::nullopt;
  const QList<QByteArray> lines = status.readAll().split('\n');
  for (const QByteArray& line : lines) {
    if (!line.startsWith("VmRSS:")) continue;
    const QList<QByteArray> fields = line.mid(6).simplified().split(' ');
    bool ok = false;
    const qulonglong kibibytes = fields.value(0).toULongLong(&ok);
    if (!ok || fields.value(1) != "kB") return std::nullopt;
    return std::uint64_t{kibibytes} * 1024;
  }
  return std::nullopt;
}

QJsonObject summary(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  QJsonObject object;
  object.insert(QStringLiteral("samples"), static_cast<qint64>(n));
  object.insert(QStringLiteral("p50_ms"), values[(n - 1) / 2]);
  object.insert(QStringLiteral("p95_ms"), values[((n - 1) * 95) / 100]);
  object.insert(QStringLiteral("max_ms"), values[n - 1]);
  return object;
}

void logFailure(const QString& error) {
  platform::log::line(QStringLiteral("Could not save local diagnostics: ") + error);
}

void writeDocument() {
  Diagnostics& d = diagnostics();
  const std::chrono::nanoseconds now = platform::clock().uptime();
  {
    std::lock_guard lock(d.mu);
    if (d.state.lastFlush && now - *d.state.lastFlush < kFlushInterval) return;
    d.state.lastFlush = now;
  }
  const std::optional<std::uint64_t> footprint = sampleFootprint();
  State copy;
  {
    std::lock_guard lock(d.mu);
    if (footprint) d.state.peakFootprint = std::max(d.state.peakFootprint, *footprint);
    copy.samples = d.state.samples;
    copy.peakFootprint = d.state.peakFootprint;
    copy.memoryWarnings = d.state.memoryWarnings;
    copy.fullAccessGroupMismatches = d.state.fullAccessGroupMismatches;
  }

  const QString version = platform::bundle::shortVersion();
  std::uint64_t (*const failures)() = d.persistenceFailures.load();
  const QDateTime updated = QDateTime::fromMSecsSinceEpoch(
      std::llround(platform::clock().wallSeconds() * 1000.0), QTimeZone::utc());
  QJsonObject document{
      {QStringLiteral("bundle"), role()},
      {QStringLiteral("version"), version.isEmpty() ? QStringLiteral("unknown") : version},
      // The build number has no counterpart here: the program carries one version only.
      {QStringLiteral("build"), QStringLiteral("unknown")},
      {QStringLiteral("updated"), updated.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z'},
      {QStringLiteral("launches"), launches()},
      {QStringLiteral("sampledPeakFootprintBytes"), static_cast<qint64>(copy.peakFootprint)},
      {QStringLiteral("memoryWarnings"), qint64{copy.memoryWarnings}},
      {QStringLiteral("fullAccessGroupMismatches"), qint64{copy.fullAccessGroupMismatches}},
      {QStringLiteral("persistenceFailures"),
       static_cast<qint64>(failures != nullptr ? failures() : 0)},
  };
  for (int i = 0; i < kMetricCount; ++i) {
    if (copy.samples[i].empty()) continue;
    document.insert(QLatin1String(kMetricNames[i]), summary(std::move(copy.samples[i])));
  }

  const QString folder = AppSettings::supportDirectoryURL();
  if (!platform::privatefiles::makeFolder(folder)) {
    logFailure(QStringLiteral("cannot create the folder ") + folder);
    return;
  }
  // QJsonObject keeps its keys sorted, so the document comes out with sorted keys.
  const QByteArray bytes = QJsonDocument(document).toJson(QJsonDocument::Indented);
  const QString path = folder + QLatin1Char('/') + fileName();
  // The write would follow a link to a device or stop at a FIFO.
  if (platform::files::isSpecialFile(path) && !platform::files::setAside(path)) return;
  // Atomic, so that report() and a crash mid-write see the old or the new document, never a mix.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !platform::privatefiles::makePrivate(file) ||
      file.write(bytes) != bytes.size() || !file.commit()) {
    logFailure(file.errorString());
  }
}

}  // namespace

QString rawValue(Metric metric) { return QLatin1String(kMetricNames[static_cast<int>(metric)]); }

QString role() {
  const QString identifier = platform::bundle::identifier();
  return identifier.isEmpty() ? QStringLiteral("keyboard") : identifier;
}

QString fileName() { return QStringLiteral("diagnostics-") + role() + QStringLiteral(".json"); }

void start() {
  Diagnostics& d = diagnostics();
  {
    std::lock_guard lock(d.mu);
    if (std::exchange(d.state.started, true)) return;
  }
  d.queue.async([] { AppSettings::suite().set(launchesKey(), launches() + 1); });
}

void record(Metric metric, double milliseconds) {
  if (!std::isfinite(milliseconds) || milliseconds < 0) return;
  Diagnostics& d = diagnostics();
  std::lock_guard lock(d.mu);
  std::vector<double>& list = d.state.samples[static_cast<int>(metric)];
  if (list.size() >= kMaxSamples) list.erase(list.begin());
  list.push_back(milliseconds);
}

void flush() { diagnostics().queue.async(writeDocument); }

QString report() {
  const QDir folder(AppSettings::supportDirectoryURL());
  QStringList names;
  for (const QFileInfo& entry : folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (entry.fileName().startsWith(QStringLiteral("diagnostics-")) &&
        entry.suffix() == QStringLiteral("json")) {
      names.append(entry.fileName());
    }
  }
  std::sort(names.begin(), names.end());
  QStringList texts;
  for (const QString& name : names) {
    QByteArray bytes;
    int error = 0;
    if (platform::files::readBounded(folder.filePath(name), kMaxReportedFileBytes, bytes, error) !=
        platform::files::BoundedRead::kRead)
      continue;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) continue;
    texts.append(text);
  }
  const QString body =
      texts.isEmpty()
          ? QStringLiteral("Use the keyboard, then reopen this page to see measurements.")
          : texts.join(QStringLiteral("\n\n"));
  return QStringLiteral(
             "Tolvani local diagnostics\nAggregate timings only; no typed text. Memory is "
             "sampled, not a measured session maximum. Launches include normal process "
             "restarts.\n\n") +
         body;
}

void setPersistenceFailureCounter(std::uint64_t (*counter)()) {
  diagnostics().persistenceFailures.store(counter);
}

void testReset() {
  Diagnostics& d = diagnostics();
  d.queue.sync([] {});
  std::lock_guard lock(d.mu);
  d.state = State();
}

bool waitForQueue(std::chrono::milliseconds limit) {
  // The promise outlives a wait that gave up: the queued job still sets it.
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> reached = done->get_future();
  diagnostics().queue.async([done] { done->set_value(); });
  return reached.wait_for(limit) == std::future_status::ready;
}

void testWaitForQueue() {
  diagnostics().queue.sync([] {});
}

QList<double> testSamples(Metric metric) {
  Diagnostics& d = diagnostics();
  std::lock_guard lock(d.mu);
  const std::vector<double>& list = d.state.samples[static_cast<int>(metric)];
  return QList<double>(list.begin(), list.end());
}

}  // namespace tolvani::RuntimeDiagnostics
