#include "stats/TypingStatsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QTimeZone>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/BoundedFile.h"
#include "platform/Clock.h"
#include "platform/PrivateFiles.h"
#include "platform/Queues.h"
#include "settings/AppSettingsUserData.h"

namespace tolvani {

namespace {

// Seconds from the Unix epoch to 2001-01-01 00:00:00 UTC, the epoch of the file's dates.
constexpr double kReferenceDateUnixSeconds = 978307200.0;
constexpr double kSessionGapSeconds = 1800.0;
constexpr std::chrono::seconds kFlushDelay{5};
constexpr std::chrono::milliseconds kKeystrokeBatchDelay{500};
// Eight numbers and two dates take some 300 bytes.
constexpr qsizetype kMaxFileBytes = 64 * 1024;

const QString kTotalKeystrokes = QStringLiteral("totalKeystrokes");
const QString kTotalWordsCommitted = QStringLiteral("totalWordsCommitted");
const QString kTotalAutocorrections = QStringLiteral("totalAutocorrections");
const QString kTotalCandidateSelections = QStringLiteral("totalCandidateSelections");
const QString kKeystrokesSaved = QStringLiteral("keystrokesSavedByAutocorrect");
const QString kSessionCount = QStringLiteral("sessionCount");
const QString kFirstUsed = QStringLiteral("firstUsed");
const QString kLastUsed = QStringLiteral("lastUsed");

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
  }
  return sum;
}

QJsonValue dateValue(const QDateTime& date) {
  return date.toMSecsSinceEpoch() / 1000.0 - kReferenceDateUnixSeconds;
}

QDateTime dateFromUnixSeconds(double seconds) {
  return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0), QTimeZone::utc());
}

std::optional<std::int64_t> wholeNumber(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const QVariant variant = value.toVariant();
  if (variant.typeId() == QMetaType::LongLong) return variant.toLongLong();
  const double d = value.toDouble();
  // Both bounds are powers of two, so the comparison is exact.
  if (std::floor(d) != d || d < -0x1p63 || d >= 0x1p63) return std::nullopt;
  return static_cast<std::int64_t>(d);
}

// Present and a number: the date; absent or null: none; anything else: a document that does not
// decode.
bool readDate(const QJsonObject& object, const QString& key, std::optional<QDateTime>* out) {
  const QJsonValue value = object.value(key);
  if (value.isUndefined() || value.isNull()) return true;
  // Beyond about 3,000 years from the epoch a date is damage, not a time of use.
  if (!value.isDouble() || std::fabs(value.toDouble()) > 1e11) return false;
  *out = dateFromUnixSeconds(value.toDouble() + kReferenceDateUnixSeconds);
  return true;
}

struct Store {
  // Everything below is touched only by work running on `queue`.
  std::optional<QString> path;
  std::optional<TypingStats> cached;
  bool dirty = false;
  bool flushScheduled = false;
  std::optional<double> lastSessionActivity;  // wall seconds; memory only
  std::function<void()> midWriteHook;
  platform::SerialQueue queue{QStringLiteral("com.tolvani.stats"),
                              platform::SerialQueue::Priority::utility};
};

Store& store() {
  // Never destroyed: a delayed flush may still be due on the clock when the process exits.
  static Store* const instance = new Store;
  return *instance;
}

const QString& pathOnQueue(Store& s) {
  if (!s.path) s.path = AppSettings::supportDirectoryURL() + QStringLiteral("/typing-stats.json");
  return *s.path;
}

TypingStats& loadOnQueue(Store& s) {
  if (!s.cached) {
    std::optional<TypingStats> read;
    QByteArray bytes;
    int error = 0;
    switch (platform::files::readBounded(pathOnQueue(s), kMaxFileBytes, bytes, error)) {
      case platform::files::BoundedRead::kRead:
        read = TypingStats::fromJson(bytes);
        break;
      case platform::files::BoundedRead::kNotRegularFile:
      case platform::files::BoundedRead::kTooLarge:
        // Kept, and out of the way of the next write, which would follow a link to a device.
        (void)platform::files::setAside(pathOnQueue(s));
        break;
      case platform::files::BoundedRead::kFailed:
        break;
    }
    s.cached = read.value_or(TypingStats());
  }
  return *s.cached;
}

void flushOnQueue(Store& s) {
  s.flushScheduled = false;
  if (!s.dirty || !s.cached) return;
  s.dirty = false;
  const QString& path = pathOnQueue(s);
  platform::privatefiles::makeFolder(QFileInfo(path).path());
  const QByteArray bytes = s.cached->toJson();
  // What was read may since have been replaced by a FIFO, where the write would stop, or by a link
  // to a device, which it would follow and replace.
  if (platform::files::isSpecialFile(path) && !platform::files::setAside(path)) return;
  // Written to a temporary file and renamed over the old one: a crash or a full disk mid-write
  // leaves the previous statistics, where a plain overwrite would leave a truncated file that
  // reads back as all zeros. A failed write is not retried until the next change or flush().
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !platform::privatefiles::makePrivate(file)) return;
  const qsizetype half = bytes.size() / 2;
  if (file.write(bytes.constData(), half) != half) return;
  if (s.midWriteHook) {
    file.flush();
    s.midWriteHook();
  }
  if (file.write(bytes.constData() + half, bytes.size() - half) != bytes.size() - half) return;
  file.commit();
}

// `flushDelay`: how long after now the change is written, when no write is pending yet.
void saveOnQueue(Store& s, std::chrono::nanoseconds flushDelay = kFlushDelay) {
  s.dirty = true;
  if (s.flushScheduled) return;  // the pending flush writes the newest statistics
  s.flushScheduled = true;
  s.queue.asyncAfter(flushDelay, [] { flushOnQueue(store()); });
}

double now() { return platform::clock().wallSeconds(); }

// Keystrokes counted on the typing threads and not yet added on the queue. A queued change per
// key would wake the queue's thread at every key, which costs the next key more than the count
// itself; so they are added in one change once typing has gone on for `kKeystrokeBatchDelay`, or
// at once by the next other operation, made after them on the same thread, so that each
// operation still sees every keystroke counted before it.
struct PendingKeystrokes {
  std::atomic<std::int64_t> count{0};
  std::atomic<double> firstWallSeconds{0};  // of the first one of the batch
  std::atomic<double> lastWallSeconds{0};   // of the latest one
  std::atomic<std::int64_t> firstUptimeNs{0};
};

PendingKeystrokes& pendingKeystrokes() {
  static PendingKeystrokes pending;
  return pending;
}

struct KeystrokeBatch {
  std::int64_t count = 0;
  double firstWallSeconds = 0;
  double lastWallSeconds = 0;
  std::chrono::nanoseconds firstUptime{0};
};

KeystrokeBatch takePendingKeystrokes() {
  PendingKeystrokes& pending = pendingKeystrokes();
  KeystrokeBatch batch;
  // The times are read before the count is taken: a keystroke whose time is newer than its count
  // goes with the next batch, which its own count schedules.
  batch.firstWallSeconds = pending.firstWallSeconds.load();
  batch.lastWallSeconds = pending.lastWallSeconds.load();
  batch.firstUptime = std::chrono::nanoseconds(pending.firstUptimeNs.load());
  batch.count = pending.count.exchange(0);
  return batch;
}

// As each keystroke of the batch added alone, in turn: the statistics are written 5 s after the
// first of them.
void addKeystrokesOnQueue(Store& s, const KeystrokeBatch& batch) {
  if (batch.count == 0) return;
  TypingStats& stats = loadOnQueue(s);
  const double t = batch.lastWallSeconds;
  s.lastSessionActivity = t;
  stats.totalKeystrokes = saturatingAdd(stats.totalKeystrokes, batch.count);
  stats.lastUsed = dateFromUnixSeconds(t);
  if (!stats.firstUsed) stats.firstUsed = dateFromUnixSeconds(batch.firstWallSeconds);
  const std::chrono::nanoseconds waited = platform::clock().uptime() - batch.firstUptime;
  saveOnQueue(
      s, std::max(std::chrono::nanoseconds(0), std::chrono::nanoseconds(kFlushDelay) - waited));
}

// Runs `change` on the queue after the keystrokes counted before it.
template <typename F>
void enqueue(F change) {
  store().queue.async([batch = takePendingKeystrokes(), change = std::move(change)] {
    addKeystrokesOnQueue(store(), batch);
    change(store());
  });
}

template <typename F>
void runOnQueue(F work) {
  const KeystrokeBatch batch = takePendingKeystrokes();
  store().queue.sync([&] {
    addKeystrokesOnQueue(store(), batch);
    work(store());
  });
}

}  // namespace

QByteArray TypingStats::toJson() const {
  QJsonObject object{
      {kTotalKeystrokes, qint64{totalKeystrokes}},
      {kTotalWordsCommitted, qint64{totalWordsCommitted}},
      {kTotalAutocorrections, qint64{totalAutocorrections}},
      {kTotalCandidateSelections, qint64{totalCandidateSelections}},
      {kKeystrokesSaved, qint64{keystrokesSavedByAutocorrect}},
      {kSessionCount, qint64{sessionCount}},
  };
  if (firstUsed) object.insert(kFirstUsed, dateValue(*firstUsed));
  if (lastUsed) object.insert(kLastUsed, dateValue(*lastUsed));
  return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<TypingStats> TypingStats::fromJson(const QByteArray& json) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  TypingStats stats;
  const std::pair<const QString*, std::int64_t*> counts[] = {
      {&kTotalKeystrokes, &stats.totalKeystrokes},
      {&kTotalWordsCommitted, &stats.totalWordsCommitted},
      {&kTotalAutocorrections, &stats.totalAutocorrections},
      {&kTotalCandidateSelections, &stats.totalCandidateSelections},
      {&kKeystrokesSaved, &stats.keystrokesSavedByAutocorrect},
      {&kSessionCount, &stats.sessionCount},
  };
  for (const auto& [key, field] : counts) {
    const std::optional<std::int64_t> value = wholeNumber(object.value(*key));
    if (!value) return std::nullopt;
    *field = *value;
  }
  if (!readDate(object, kFirstUsed, &stats.firstUsed) ||
      !readDate(object, kLastUsed, &stats.lastUsed)) {
    return std::nullopt;
  }
  return stats;
}

namespace TypingStatsStore {

void recordKeystroke() {
  PendingKeystrokes& pending = pendingKeystrokes();
  const double t = now();
  pending.lastWallSeconds.store(t);
  if (pending.count.fetch_add(1) != 0) return;
  pending.firstWallSeconds.store(t);
  pending.firstUptimeNs.store(platform::clock().uptime().count());
  store().queue.asyncAfter(kKeystrokeBatchDelay,
                           [] { addKeystrokesOnQueue(store(), takePendingKeystrokes()); });
}

void recordCommit(bool wasAutocorrect, std::int64_t keystrokesSaved) {
  enqueue([wasAutocorrect, keystrokesSaved](Store& s) {
    TypingStats& stats = loadOnQueue(s);
    stats.totalWordsCommitted = saturatingAdd(stats.totalWordsCommitted, 1);
    if (wasAutocorrect) {
      stats.totalAutocorrections = saturatingAdd(stats.totalAutocorrections, 1);
      stats.keystrokesSavedByAutocorrect =
          saturatingAdd(stats.keystrokesSavedByAutocorrect, keystrokesSaved);
    }
    saveOnQueue(s);
  });
}

void recordCandidateSelection() {
  enqueue([](Store& s) {
    TypingStats& stats = loadOnQueue(s);
    stats.totalCandidateSelections = saturatingAdd(stats.totalCandidateSelections, 1);
    saveOnQueue(s);
  });
}

void recordSession() {
  enqueue([](Store& s) {
    TypingStats& stats = loadOnQueue(s);
    const double t = now();
    if (s.lastSessionActivity && t - *s.lastSessionActivity < kSessionGapSeconds) {
      s.lastSessionActivity = t;
      return;
    }
    stats.sessionCount = saturatingAdd(stats.sessionCount, 1);
    saveOnQueue(s);
    s.lastSessionActivity = t;
  });
}

TypingStats load() {
  TypingStats result;
  runOnQueue([&result](Store& s) { result = loadOnQueue(s); });
  return result;
}

void flush() {
  runOnQueue([](Store& s) { flushOnQueue(s); });
}

void reset() {
  runOnQueue([](Store& s) {
    s.cached = TypingStats();
    s.dirty = false;
    QFile::remove(pathOnQueue(s));
  });
}

QString statsPath() {
  QString result;
  store().queue.sync([&result] { result = pathOnQueue(store()); });
  return result;
}

void testReset() {
  takePendingKeystrokes();
  store().queue.sync([] {
    Store& s = store();
    s.path.reset();
    s.cached.reset();
    s.dirty = false;
    s.flushScheduled = false;
    s.lastSessionActivity.reset();
  });
}

void testSetMidWriteHook(std::function<void()> hook) {
  store().queue.sync([&hook] { store().midWriteHook = std::move(hook); });
}

}  // namespace TypingStatsStore
}  // namespace tolvani
