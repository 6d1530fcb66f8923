#pragma once
#include <time.h>
#include <cstdio>
#include <cstdlib>
#include <sys/syscall.h>
#include <unistd.h>
inline void tmpTrace(const char* what) {
  static FILE* f = [] {
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/speed/trace.%d", getpid());
    return std::getenv("TMP_TRACE") ? std::fopen(name, "w") : nullptr;
  }();
  if (!f) return;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  std::fprintf(f, "%ld.%06ld %ld %s\n", (long)ts.tv_sec, ts.tv_nsec / 1000, (long)syscall(SYS_gettid), what);
  std::fflush(f);
}
