// The embedded lexicon: entries pairing a Bangla word with one phonetic key and a frequency, and
// the indexes over them: exact and folded key lookups, buckets by first characters, and the map
// from each word to its frequency.
// Thread-safety: safe on any thread. The constant tables are read in place; the maps are opened
// once per process (see cache policy below) and read without locks afterwards.
//
// Cache policy: blocking lookups build a table that is not built yet (or wait for the thread
// building it); non-blocking lookups never wait and answer as each function says.
#ifndef TOLVANI_ENGINE_LEXICON_H_
#define TOLVANI_ENGINE_LEXICON_H_

#include <marisa.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "lexicon_format.h"

namespace tolvani::engine {

// The blobs of one lexicon. The engine links exactly one data set (the full lexicon, or the
// small one the tests build), which defines lexicon_data().
struct LexiconData {
  std::string_view entries;
  std::string_view bengali_strings;
  std::string_view phonetic_strings;
  std::string_view exact_buckets;
  std::string_view folded_buckets;
  std::string_view folded_ids;
  std::string_view bengali_ids;
  std::string_view phonetic_ids;
  std::string_view bengali_buckets;
  std::string_view phonetic_buckets;
  std::string_view lexicon_map;
};
const LexiconData& lexicon_data();

struct LexiconEntry {
  std::string_view bangla;
  std::string_view phonetic;
  uint32_t frequency = 0;
};

// A read-only map from text to an unsigned value, opened over bytes it does not own.
class FstMap {
 public:
  FstMap() = default;
  FstMap(FstMap&&) = default;
  FstMap& operator=(FstMap&&) = default;

  std::optional<uint64_t> get(std::string_view key) const;
  bool contains(std::string_view key) const { return get(key).has_value(); }
  // Whether some key starts with `prefix` (stops at the first hit).
  bool has_key_with_prefix(std::string_view prefix) const;
  size_t size() const { return width_ == 0 ? 0 : values_.size() / width_; }

 private:
  friend FstMap load_fst_map(std::string_view bytes, std::string_view name);
  std::unique_ptr<marisa::Trie> trie_;     // mapped over the blob, not a copy of it
  std::span<const unsigned char> values_;  // width_ bytes per key, indexed by key id
  uint32_t width_ = 0;                     // 0: the map could not be opened
};

// Opens a map blob. A blob that cannot be opened costs one line on standard error ("[Tolvani]
// failed to load NAME FST: why") and gives an empty map.
FstMap load_fst_map(std::string_view bytes, std::string_view name);

// Entry access. Ids at or past lexicon_size() give empty texts and frequency 0.
uint32_t lexicon_size();
// Entry access is inline: bucket scans read thousands of entries per keystroke.
inline LexiconEntry lexicon_entry(uint32_t id) {
  namespace fmt = lexicon_format;
  const LexiconData& d = lexicon_data();
  const size_t at = size_t{id} * fmt::kEntrySize;
  if (at >= d.entries.size() || d.entries.size() - at < fmt::kEntrySize) return {};
  const auto* p = reinterpret_cast<const unsigned char*>(d.entries.data()) + at;
  const uint32_t word_offset = fmt::read_u32(p);
  const uint32_t key_offset = fmt::read_u32(p + 4);
  LexiconEntry e;
  e.frequency = uint32_t{p[8]} | uint32_t{p[9]} << 8;
  if (size_t{word_offset} + p[10] <= d.bengali_strings.size()) {
    e.bangla = std::string_view(d.bengali_strings.data() + word_offset, p[10]);
  }
  if (size_t{key_offset} + p[11] <= d.phonetic_strings.size()) {
    e.phonetic = std::string_view(d.phonetic_strings.data() + key_offset, p[11]);
  }
  return e;
}

// The entry's frequency alone, for scans that mostly stop at it.
inline uint32_t entry_frequency(uint32_t id) {
  namespace fmt = lexicon_format;
  const std::string_view entries = lexicon_data().entries;
  const size_t at = size_t{id} * fmt::kEntrySize;
  if (at >= entries.size() || entries.size() - at < fmt::kEntrySize) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(entries.data()) + at;
  return uint32_t{p[8]} | uint32_t{p[9]} << 8;
}

// Asks for an entry's record, or one of its texts, ahead of reading it: scans over buckets read
// entries far apart in the table and would otherwise wait on memory for each.
inline void prefetch_entry(uint32_t id) {
  const std::string_view entries = lexicon_data().entries;
  const size_t at = size_t{id} * lexicon_format::kEntrySize;
  if (at < entries.size()) __builtin_prefetch(entries.data() + at);
}

inline void prefetch_entry_word(uint32_t id) {
  const LexiconEntry e = lexicon_entry(id);
  if (!e.bangla.empty()) __builtin_prefetch(e.bangla.data());
}

inline void prefetch_entry_key(uint32_t id) {
  const LexiconEntry e = lexicon_entry(id);
  if (!e.phonetic.empty()) __builtin_prefetch(e.phonetic.data());
}

std::string_view entry_phonetic(uint32_t id);
// The first id after `id` whose key differs (lexicon_size() when none); ids past the end are
// returned unchanged.
uint32_t key_run_end(uint32_t id);
// The first id in [lo, hi) whose key is not below `key` in byte order, or hi.
uint32_t first_entry_with_key_at_least(uint32_t lo, uint32_t hi, std::string_view key);

struct IdRange {
  uint32_t start = 0;
  uint32_t end = 0;
  bool empty() const { return start >= end; }
  friend bool operator==(const IdRange&, const IdRange&) = default;
};

// The run of entries whose key is exactly `key`; (0, 0) when there is none.
IdRange exact_key_range(std::string_view key);
IdRange phonetic_exact_ids(std::string_view key);
// The entries whose key starts with `prefix` (or is it): one range per section of the table.
std::array<IdRange, 3> key_prefix_ranges(std::string_view prefix);

// The entries whose folded key is exactly `folded_key` (already folded), best first.
std::span<const uint32_t> folded_key_ids(std::string_view folded_key);
std::span<const uint32_t> phonetic_folded_ids(std::string_view folded_key);

bool has_exact_entry_for(std::string_view key, std::string_view word);
// The best word under `key`: the highest word frequency (ties: the smallest word in byte order).
std::optional<std::pair<std::string_view, int32_t>> best_exact_entry(std::string_view key);
// Whether the trimmed, lowercased text is a key. Non-blocking before the index is ready: true.
bool has_exact_phonetic_with_cache_policy(std::string_view text, bool blocking);

// A bucket index: bucket key (first one or two characters) to the ids of the entries starting
// with it, best first.
struct PrefixIndex {
  const FstMap* buckets = nullptr;
  std::span<const uint32_t> ids;

  std::optional<std::span<const uint32_t>> get(std::string_view bucket_key) const;
};
const PrefixIndex& bengali_index();
const PrefixIndex& phonetic_index();
// The two-character bucket of `text`, else its first character's, else nothing.
std::span<const uint32_t> collect_indices_for_prefix(const PrefixIndex& index,
                                                     std::string_view text);
// The first character's bucket only.
std::span<const uint32_t> collect_indices_for_fuzzy(const PrefixIndex& index,
                                                    std::string_view text);
std::span<const uint32_t> bengali_fuzzy_indices(std::string_view word);

// Word lookups in the word map.
uint32_t frequency_for(std::string_view word);
std::optional<uint32_t> lexicon_frequency(std::string_view word);
// Non-blocking before the map is built: false.
bool lexicon_contains_with_cache_policy(std::string_view word, bool blocking);
const FstMap& lexicon_map();

// Whether every table suggestions need is built; never builds anything.
bool suggestions_ready();
// Builds every lazily built table.
void warm_caches();

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_LEXICON_H_
