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

#include "platform/Clock.h"
#include "platform/Queues.h"
#include "settings/AppSettingsUserData.h"

namespace tolvani {

namespace {

// Seconds from the Unix epoch to 2001-01-01 00:00:00 UTC, the epoch of the file's dates.
constexpr double kReferenceDateUnixSeconds = 978307200.0;
constexpr double kSessionGapSeconds = 1800.0;
constexpr std::chrono::seconds kFlushDelay{5};

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
    QFile file(pathOnQueue(s));
    std::optional<TypingStats> read;
    if (file.open(QIODevice::ReadOnly)) read = TypingStats::fromJson(file.readAll());
    s.cached = read.value_or(TypingStats());
  }
  return *s.cached;
}

void flushOnQueue(Store& s) {
  s.flushScheduled = false;
  if (!s.dirty || !s.cached) return;
  s.dirty = false;
  const QString& path = pathOnQueue(s);
  QDir().mkpath(QFileInfo(path).path());
  const QByteArray bytes = s.cached->toJson();
  // Written to a temporary file and renamed over the old one: a crash or a full disk mid-write
  // leaves the previous statistics, where a plain overwrite would leave a truncated file that
  // reads back as all zeros. A failed write is not retried until the next change or flush().
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return;
  const qsizetype half = bytes.size() / 2;
  if (file.write(bytes.constData(), half) != half) return;
  if (s.midWriteHook) {
    file.flush();
    s.midWriteHook();
  }
  if (file.write(bytes.constData() + half, bytes.size() - half) != bytes.size() - half) return;
  file.commit();
}

void saveOnQueue(Store& s) {
  s.dirty = true;
  if (s.flushScheduled) return;  // the pending flush writes the newest statistics
  s.flushScheduled = true;
  s.queue.asyncAfter(kFlushDelay, [] { flushOnQueue(store()); });
}

double now() { return platform::clock().wallSeconds(); }

// Keystrokes counted on the typing thread and not yet added on the queue.
std::atomic<std::int64_t>& pendingKeystrokes() {
  static std::atomic<std::int64_t> count{0};
  return count;
}

void enqueue(void (*change)(Store&)) {
  store().queue.async([change] { change(store()); });
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
  // One queued change adds every keystroke counted until it runs, so that a key typed while one
  // is on its way does not wake the queue's thread again.
  if (pendingKeystrokes().fetch_add(1, std::memory_order_relaxed) != 0) return;
  enqueue([](Store& s) {
    const std::int64_t count = pendingKeystrokes().exchange(0);
    TypingStats& stats = loadOnQueue(s);
    const double t = now();
    s.lastSessionActivity = t;
    stats.totalKeystrokes = saturatingAdd(stats.totalKeystrokes, count);
    stats.lastUsed = dateFromUnixSeconds(t);
    if (!stats.firstUsed) stats.firstUsed = stats.lastUsed;
    saveOnQueue(s);
  });
}

void recordCommit(bool wasAutocorrect, std::int64_t keystrokesSaved) {
  store().queue.async([wasAutocorrect, keystrokesSaved] {
    Store& s = store();
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
  store().queue.sync([&result] { result = loadOnQueue(store()); });
  return result;
}

void flush() {
  store().queue.sync([] { flushOnQueue(store()); });
}

void reset() {
  store().queue.sync([] {
    Store& s = store();
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
