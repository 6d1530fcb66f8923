// What the largest user dictionary costs a session's start: tolvani_engine_create and the first
// key through the C interface, with the dictionary's file as the engine keeps it at its caps
// (10,000 words and 10,000 tombstones of common length), as large as its bound lets it be (every
// word and tombstone at the length bound), and past the bound (1.4 million tombstones, set aside
// unread), with none for comparison. A host that blocks (as this one does) waits this long; the
// front end's sessions read their stores beside their first keys, and only a key that learns
// before the read is done waits for the rest of it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "largest_dictionary.h"
#include "store_bounds.h"
#include "tolvani_engine.h"

namespace {

namespace fs = std::filesystem;

// args: words, tombstones, bytes of each word.
void BM_CreateAndFirstKey(benchmark::State& state) {
  const fs::path dir =
      fs::temp_directory_path() / ("tolvani-store-load-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    std::ofstream(dir / "user-dictionary.json", std::ios::binary) << tolvani::bench::userDictionary(
        static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
        static_cast<size_t>(state.range(2)));
  }
  state.counters["file_mb"] =
      static_cast<double>(fs::file_size(dir / "user-dictionary.json")) / 1e6;
  state.counters["bound_mb"] =
      static_cast<double>(tolvani::store_io::bounds::kUserDictionaryFileBytes) / 1e6;
  ::setenv("TOLVANI_DATA_DIR", dir.c_str(), 1);
  for (auto _ : state) {
    TolvaniEngine* engine = tolvani_engine_create();
    const CResult r =
        tolvani_engine_handle_key_event(engine, CKeyEvent{TOLVANI_KEY_TEXT, 0, 0, 'k'});
    tolvani_engine_free_result(r.ptr, r.len);
    state.PauseTiming();
    tolvani_engine_destroy(engine);
    state.ResumeTiming();
  }
  fs::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_CreateAndFirstKey)
    ->ArgNames({"words", "tombstones", "word_bytes"})
    ->Args({0, 0, 0})
    ->Args({10'000, 10'000, 0})
    ->Args({10'000, 10'000, 1'152})
    ->Args({3, 1'400'000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
