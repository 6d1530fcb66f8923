// Prints resident memory before and after tolvani_engine_warm_caches, and after a session has
// typed through every lookup, so that a change that copies the tables shows up.
#include <cstdio>
#include <fstream>
#include <string>

#include "tolvani_engine.h"

namespace {

long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main() {
  const long before = resident_kib();
  tolvani_engine_warm_caches();
  const long warmed = resident_kib();
  TolvaniEngine* engine = tolvani_engine_create();
  for (char c : std::string("ami tomake bhalobashi ")) {
    CResult r = tolvani_engine_handle_key_event(
        engine, CKeyEvent{c == ' ' ? 1u : 0u, 0, 0, static_cast<uint32_t>(c)});
    tolvani_engine_free_result(r.ptr, r.len);
  }
  tolvani_engine_destroy(engine);
  std::printf(
      "resident memory: %ld KiB at start, %ld KiB after warm_caches (+%ld KiB), %ld KiB "
      "after typing\n",
      before, warmed, warmed - before, resident_kib());
  return 0;
}
