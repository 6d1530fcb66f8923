// Speed of the engine through its C interface, as a host calls it.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "keyfold.h"
#include "lexicon.h"
#include "normalize.h"
#include "phonetic.h"
#include "phonetic_suggest.h"
#include "suggest.h"
#include "tolvani_engine.h"
#include "user_dict.h"

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

// Suggestion generation and the fuzzy lookup, as ranking calls them on a keystroke: typical keys
// of 3 to 10 letters, and adversarial ones (20 letters, or many segment options per letter).
constexpr std::string_view kTypicalKeys[] = {"ami",    "kemon",   "tomake",     "bhalo",
                                             "korchi", "shomoy",  "bangladesh", "kothay",
                                             "bnagla", "porjonto"};
constexpr std::string_view kAdversarialKeys[] = {"tdtdtdtdtdtd",         "tdtdtdtdtdtdtdtdtdtd",
                                                 "aaaaaaaaaaaaaaaaaaaa", "shobshomoyshobshomoy",
                                                 "snsnsnsnsnsnsnsnsnsn", "astreliyayastreliyay"};

struct Typed {
  std::string key;
  std::string rendered;
};

template <size_t N>
std::vector<Typed> typed(const std::string_view (&keys)[N]) {
  std::vector<Typed> out;
  for (std::string_view k : keys) {
    out.push_back({std::string(k), tolvani::engine::normalize_bengali(
                                       tolvani::engine::phonetic::convert_with_options(k, true))});
  }
  return out;
}

void run_suggestions(benchmark::State& state, const std::vector<Typed>& keys, uint8_t mode) {
  tolvani::engine::warm_caches();
  const tolvani::engine::UserDictionary dict;
  size_t i = 0;
  for (auto _ : state) {
    const Typed& t = keys[i++ % keys.size()];
    benchmark::DoNotOptimize(
        tolvani::engine::suggest::suggestions_for(mode, t.key, t.rendered, dict, 15, true));
  }
}

void BM_SuggestionsTypical(benchmark::State& state) {
  run_suggestions(state, typed(kTypicalKeys), 0);
}
BENCHMARK(BM_SuggestionsTypical);

void BM_SuggestionsAdversarial(benchmark::State& state) {
  run_suggestions(state, typed(kAdversarialKeys), 0);
}
BENCHMARK(BM_SuggestionsAdversarial);

// The layouts: near Bangla words over the first character's bucket.
void BM_SuggestionsLayout(benchmark::State& state) {
  run_suggestions(state, typed(kTypicalKeys), 1);
}
BENCHMARK(BM_SuggestionsLayout);

void run_fuzzy(benchmark::State& state, std::span<const std::string_view> keys) {
  tolvani::engine::warm_caches();
  const tolvani::engine::UserDictionary dict;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tolvani::engine::phonetic_suggest::fuzzy_phonetic_lookup(
        keys[i++ % keys.size()], dict, 15));
  }
}

void BM_FuzzyLookupTypical(benchmark::State& state) { run_fuzzy(state, kTypicalKeys); }
BENCHMARK(BM_FuzzyLookupTypical);

void BM_FuzzyLookupAdversarial(benchmark::State& state) { run_fuzzy(state, kAdversarialKeys); }
BENCHMARK(BM_FuzzyLookupAdversarial);

}  // namespace

int main(int argc, char** argv) {
  // What the benchmarks type is learned; keep it out of the user's own data.
  if (std::getenv("TOLVANI_DATA_DIR") == nullptr) {
    char dir[] = "/tmp/tolvani-bench-XXXXXX";
    if (mkdtemp(dir) != nullptr) setenv("TOLVANI_DATA_DIR", dir, 1);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
