#include "setup/SystemUser.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace tolvani::systemuser {

namespace {

constexpr long long kUnset = -1;
std::atomic<long long> testId{kUnset};

std::optional<uid_t> environmentId() {
  const char* text = std::getenv("TOLVANI_TEST_USER_ID");
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0' || std::strchr(text, '-') != nullptr || value > static_cast<uid_t>(-1))
    return std::nullopt;
  return static_cast<uid_t>(value);
}

}  // namespace

uid_t id() {
  const long long set = testId.load();
  if (set != kUnset) return static_cast<uid_t>(set);
  if (const std::optional<uid_t> fromEnvironment = environmentId()) return *fromEnvironment;
  return ::getuid();
}

void testSetId(std::optional<uid_t> id) { testId.store(id ? static_cast<long long>(*id) : kUnset); }

}  // namespace tolvani::systemuser
