// Speed of the engine through its C interface, as a host calls it.
#include <benchmark/benchmark.h>

#include <string_view>

#include "keyfold.h"
#include "lexicon.h"
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

// Lexicon lookups, over the shipped tables, with every table built.
constexpr std::string_view kKeys[] = {"ami",   "tomake", "bhalo", "kalke", "shobshomoy",
                                      "korbo", "bangla", "ki",    "ekhon", "porjonto"};

void BM_LexiconExactLookup(benchmark::State& state) {
  tolvani::engine::warm_caches();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tolvani::engine::exact_key_range(kKeys[i++ % std::size(kKeys)]));
  }
}
BENCHMARK(BM_LexiconExactLookup);

void BM_LexiconFoldedLookup(benchmark::State& state) {
  tolvani::engine::warm_caches();
  std::vector<std::string> folded;
  for (std::string_view k : kKeys) folded.push_back(tolvani::engine::fold_key(k));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tolvani::engine::folded_key_ids(folded[i++ % folded.size()]));
  }
}
BENCHMARK(BM_LexiconFoldedLookup);

void BM_LexiconBucketLookup(benchmark::State& state) {
  tolvani::engine::warm_caches();
  const auto& index = tolvani::engine::bengali_index();
  constexpr std::string_view kWords[] = {"\u0986\u09AE", "\u09AC\u09BE", "\u0995\u09BF",
                                         "\u09A4\u09CB"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tolvani::engine::collect_indices_for_prefix(index, kWords[i++ % std::size(kWords)]));
  }
}
BENCHMARK(BM_LexiconBucketLookup);

void BM_LexiconMapGet(benchmark::State& state) {
  tolvani::engine::warm_caches();
  constexpr std::string_view kWords[] = {"\u0986\u09AE\u09BF", "\u09AC\u09BE\u0982\u09B2\u09BE",
                                         "\u09A4\u09CB\u09AE\u09BE\u0995\u09C7", "x"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tolvani::engine::lexicon_frequency(kWords[i++ % std::size(kWords)]));
  }
}
BENCHMARK(BM_LexiconMapGet);

void BM_LexiconMapPrefixSearch(benchmark::State& state) {
  tolvani::engine::warm_caches();
  constexpr std::string_view kPrefixes[] = {"\u0986\u09AE", "\u09AC\u09BE\u0982",
                                            "\u09A4\u09CB\u09AE", "\u0995\u09CD\u09B7\u09BF"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tolvani::engine::lexicon_map().has_key_with_prefix(kPrefixes[i++ % std::size(kPrefixes)]));
  }
}
BENCHMARK(BM_LexiconMapPrefixSearch);

}  // namespace

BENCHMARK_MAIN();
