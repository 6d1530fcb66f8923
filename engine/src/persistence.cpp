#include "persistence.h"

#include <atomic>
#include <cstdlib>

namespace tolvani::engine {

namespace {
std::atomic<uint64_t> g_failures{0};
}  // namespace

std::filesystem::path user_data_directory() {
  const char* data_dir = std::getenv("TOLVANI_DATA_DIR");
  if (data_dir != nullptr && *data_dir != '\0') return data_dir;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / "Library" / "Application Support" /
         "Tolvani";
}

uint64_t persistence_failures() { return g_failures.load(std::memory_order_relaxed); }

// The session has no learned stores yet, so there is nothing to write.
bool LearningSnapshot::sync() { return true; }

void count_persistence_failure() { g_failures.fetch_add(1, std::memory_order_relaxed); }

}  // namespace tolvani::engine
