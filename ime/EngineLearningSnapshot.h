// One learning snapshot of an engine session (copies of its learned stores), taken quickly under
// the bridge's lock and written to disk later, on any thread. Thread-safety: safe for concurrent
// use; of two concurrent or successive write() calls only the first reaches the engine.
#ifndef TOLVANI_IME_ENGINELEARNINGSNAPSHOT_H_
#define TOLVANI_IME_ENGINELEARNINGSNAPSHOT_H_

#include <mutex>

#include "ime/EngineSeam.h"

namespace tolvani {

class EngineLearningSnapshot {
 public:
  // Takes ownership of `handle` (may be null). `seam` must outlive the snapshot.
  explicit EngineLearningSnapshot(TolvaniSnapshot* handle, const EngineSeam& seam = engineSeam());
  // Frees a handle that was never written.
  ~EngineLearningSnapshot();
  EngineLearningSnapshot(const EngineLearningSnapshot&) = delete;
  EngineLearningSnapshot& operator=(const EngineLearningSnapshot&) = delete;

  // Writes every learned store and spends the snapshot. True only when every store was written;
  // false without calling the engine when there is no handle or it was already written.
  bool write();

 private:
  // Fixed at construction.
  const EngineSeam& seam_;

  std::mutex mu_;
  TolvaniSnapshot* handle_;  // guarded by mu_
};

}  // namespace tolvani

#endif  // TOLVANI_IME_ENGINELEARNINGSNAPSHOT_H_
