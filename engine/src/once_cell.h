// A value built at most once per process, on first need, then read without locks.
// Thread-safety: safe for concurrent use. The first thread that asks under the blocking policy
// builds the value while later ones wait; whether it is built can be read at any time without
// blocking, which is what the non-blocking cache policy needs (std::call_once cannot answer it).
#ifndef TOLVANI_ENGINE_ONCE_CELL_H_
#define TOLVANI_ENGINE_ONCE_CELL_H_

#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

namespace tolvani::engine {

template <typename T>
class OnceCell {
 public:
  OnceCell() = default;
  OnceCell(const OnceCell&) = delete;
  OnceCell& operator=(const OnceCell&) = delete;

  // The value, built by `build()` if no thread has built it yet; waits while another thread
  // builds. If `build` throws, the cell stays unbuilt and the exception propagates.
  template <typename Build>
  const T& get_or_build(Build&& build) {
    if (built_.load(std::memory_order_acquire)) return *value_;
    std::lock_guard<std::mutex> lock(mu_);
    if (!built_.load(std::memory_order_relaxed)) {
      value_.emplace(std::forward<Build>(build)());
      built_.store(true, std::memory_order_release);
    }
    return *value_;
  }

  // Blocking: as get_or_build. Non-blocking: the value if built, else null, never waiting.
  template <typename Build>
  const T* get(bool blocking, Build&& build) {
    if (blocking) return &get_or_build(std::forward<Build>(build));
    return try_get();
  }

  // The value if it is built, else null. Never builds, never waits.
  const T* try_get() const { return built_.load(std::memory_order_acquire) ? &*value_ : nullptr; }

  bool is_built() const { return built_.load(std::memory_order_acquire); }

 private:
  std::mutex mu_;  // serialises builders
  std::atomic<bool> built_{false};
  std::optional<T> value_;  // written once under mu_, before built_ turns true
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_ONCE_CELL_H_
