#include "ime/EngineLearningSnapshot.h"

#include <utility>

namespace tolvani {

EngineLearningSnapshot::EngineLearningSnapshot(TolvaniSnapshot* handle, const EngineSeam& seam)
    : seam_(seam), handle_(handle) {}

EngineLearningSnapshot::~EngineLearningSnapshot() { seam_.snapshotFree(handle_); }

bool EngineLearningSnapshot::write() {
  TolvaniSnapshot* handle = nullptr;
  {
    std::lock_guard lock(mu_);
    handle = std::exchange(handle_, nullptr);
  }
  // The write (disk work) runs outside the lock; the engine frees the snapshot itself.
  return handle != nullptr && seam_.snapshotWrite(handle);
}

}  // namespace tolvani
