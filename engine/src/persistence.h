// Store files and the persistence worker.
// Thread-safety: the failure counter is a process-wide atomic.
#ifndef TOLVANI_ENGINE_PERSISTENCE_H_
#define TOLVANI_ENGINE_PERSISTENCE_H_

#include <cstdint>
#include <filesystem>

namespace tolvani::engine {

// The user-data folder: TOLVANI_DATA_DIR when set and not empty, used unchanged; else HOME (or
// "." without HOME) joined with "Library/Application Support/Tolvani". Never creates it.
std::filesystem::path user_data_directory();

// How many persistence failures this process has seen; never reset.
uint64_t persistence_failures();

// Copies of a session's learned stores, written later on any thread.
struct LearningSnapshot {
  // Writes every store of the snapshot; true when each was written or had nothing to write.
  [[nodiscard]] bool sync();
};

// Counts one failure (a full save queue, a failed store sync, a failed save job).
void count_persistence_failure();

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_PERSISTENCE_H_
