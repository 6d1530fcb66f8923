#include "persistence.h"

#include <atomic>

namespace tolvani::engine {

namespace {
std::atomic<uint64_t> g_failures{0};
}  // namespace

uint64_t persistence_failures() { return g_failures.load(std::memory_order_relaxed); }

// The session has no learned stores yet, so there is nothing to write.
bool LearningSnapshot::sync() { return true; }

void count_persistence_failure() { g_failures.fetch_add(1, std::memory_order_relaxed); }

}  // namespace tolvani::engine
