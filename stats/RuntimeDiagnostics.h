// Local, aggregate timing measurements of the front end (never typed text): samples per metric,
// a sampled peak memory footprint and a launch counter, written at most every 30 s as
// "diagnostics-" + role + ".json" in the user-data folder, and rendered as the report text.
// Thread-safety: every function may be called from any thread. Recording takes one short lock;
// disk, defaults and /proc work runs on the serial queue "com.tolvani.diagnostics".
#ifndef TOLVANI_STATS_RUNTIMEDIAGNOSTICS_H_
#define TOLVANI_STATS_RUNTIMEDIAGNOSTICS_H_

#include <QList>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>

namespace tolvani::RuntimeDiagnostics {

// Frozen: the names are keys of the diagnostics file.
enum class Metric {
  keyHandling,
  keyPressDelivery,
  firstPressDelivery,
  keyReleaseDelivery,
  engineLockWait,
  candidateQueue,
  persistence,
  loadToVisible,
  engineReady,
  mainStallOpening,
  mainStallTyping,
};
inline constexpr int kMetricCount = 11;
inline constexpr int kMaxSamples = 256;

// The case name ("keyHandling").
QString rawValue(Metric metric);

// The bundle identifier, or "keyboard" when there is none.
QString role();
// "diagnostics-" + role() + ".json".
QString fileName();

// Counts one launch of this role, at the first call in the process only.
void start();
// Keeps `milliseconds` as the newest of at most 256 samples of `metric`; negative, NaN and
// infinite values are dropped.
void record(Metric metric, double milliseconds);
// Queues a write of the diagnostics file and returns at once. Dropped when the last write of this
// process went ahead less than 30 s ago on the monotonic clock.
void flush();
// Waits until every write queued before the call has run, at most `limit`; true when they have.
bool waitForQueue(std::chrono::milliseconds limit);
// The header and every "diagnostics-*.json" of the user-data folder, in file-name order.
QString report();

// Where "persistenceFailures" comes from. The engine bridge installs the engine's counter; until
// then the file says 0. `counter` must be callable from any thread.
void setPersistenceFailureCounter(std::uint64_t (*counter)());

// Forgets every sample, the launch flag, the peak and the throttle, as in a new process.
void testReset();
// Returns once every job queued before the call has run.
void testWaitForQueue();
QList<double> testSamples(Metric metric);

}  // namespace tolvani::RuntimeDiagnostics

#endif  // TOLVANI_STATS_RUNTIMEDIAGNOSTICS_H_
