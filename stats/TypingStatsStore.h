// The user's cumulative typing statistics (counts and first/last use, never typed text), kept in
// "typing-stats.json" in the user-data folder. Thread-safety: every operation may be called from
// any thread except the store's own queue; all state lives on the serial queue
// "com.tolvani.stats". Records return at once; load, flush and reset wait for the queue.
#ifndef TOLVANI_STATS_TYPINGSTATSSTORE_H_
#define TOLVANI_STATS_TYPINGSTATSSTORE_H_

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace tolvani {

// Frozen field names: they are the keys of "typing-stats.json".
struct TypingStats {
  std::int64_t totalKeystrokes = 0;
  std::int64_t totalWordsCommitted = 0;
  std::int64_t totalAutocorrections = 0;
  std::int64_t totalCandidateSelections = 0;
  std::int64_t keystrokesSavedByAutocorrect = 0;
  std::int64_t sessionCount = 0;
  std::optional<QDateTime> firstUsed;  // UTC, millisecond precision
  std::optional<QDateTime> lastUsed;

  bool operator==(const TypingStats&) const = default;

  // The file's document: a pretty-printed object; dates as seconds since 2001-01-01 00:00 UTC,
  // left out when absent.
  QByteArray toJson() const;
  // None unless `json` is an object holding all six counts as whole numbers (dates optional).
  static std::optional<TypingStats> fromJson(const QByteArray& json);
};

namespace TypingStatsStore {

// Each queues one change and returns at once; a change schedules one write 5 s later unless one
// is already pending.
void recordKeystroke();
// Counts `keystrokesSaved` only when `wasAutocorrect` is true.
void recordCommit(bool wasAutocorrect, std::int64_t keystrokesSaved);
void recordCandidateSelection();
// Counts a session at the first call of the process and after 1,800 s without keystrokes or
// sessions; otherwise only notes the activity.
void recordSession();

// The statistics, read from the file on first use (zeros when it is missing or unreadable).
TypingStats load();
// Writes pending changes now.
void flush();
// Zero statistics and no file.
void reset();

// The statistics file's path, fixed at first use.
QString statsPath();

// Forgets all state as in a new process and fixes the path again from the environment.
void testReset();
// Runs `hook` on the queue after half of the file's new bytes reach the temporary file, before
// the rename; none to clear.
void testSetMidWriteHook(std::function<void()> hook);

}  // namespace TypingStatsStore
}  // namespace tolvani

#endif  // TOLVANI_STATS_TYPINGSTATSSTORE_H_
