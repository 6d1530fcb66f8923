// Speed of the engine through its C interface, as a host calls it.
#include <benchmark/benchmark.h>

#include <string_view>

#include "phonetic.h"
#include "tolvani_engine.h"

namespace {

void type_word(TolvaniEngine* engine, std::string_view word) {
  for (char c : word) {
    CResult r = tolvani_engine_handle_key_event(
        engine, CKeyEvent{TOLVANI_KEY_TEXT, 0, 0, static_cast<uint32_t>(c)});
    benchmark::DoNotOptimize(r.ptr);
    tolvani_engine_free_result(r.ptr, r.len);
  }
}

// One key event in the middle of a typed word, then the word's commit.
void BM_HandleKeyEventTypedWord(benchmark::State& state) {
  TolvaniEngine* engine = tolvani_engine_create();
  tolvani_engine_warm_caches();
  constexpr std::string_view kWord = "bhalobasha";
  for (auto _ : state) {
    type_word(engine, kWord);
    CResult r = tolvani_engine_handle_key_event(engine, CKeyEvent{TOLVANI_KEY_SPACE, 0, 0, ' '});
    tolvani_engine_free_result(r.ptr, r.len);
  }
  state.SetItemsProcessed(state.iterations() * (kWord.size() + 1));
  tolvani_engine_destroy(engine);
}
BENCHMARK(BM_HandleKeyEventTypedWord);

// Transliteration of a 20-character input (no override applies).
void BM_Convert20Characters(benchmark::State& state) {
  constexpr std::string_view kInput = "amra bangla likhchhi";
  static_assert(kInput.size() == 20);
  tolvani::engine::phonetic::convert_with_options("warm", true);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tolvani::engine::phonetic::convert_with_options(kInput, true));
  }
}
BENCHMARK(BM_Convert20Characters);

}  // namespace

BENCHMARK_MAIN();
