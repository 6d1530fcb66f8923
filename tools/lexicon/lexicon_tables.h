// The lexicon's tables: built from (word, key, frequency) entries, written as the binary blobs
// the engine embeds, and validated against every invariant the engine's lookups rely on.
#ifndef TOLVANI_TOOLS_LEXICON_LEXICON_TABLES_H_
#define TOLVANI_TOOLS_LEXICON_LEXICON_TABLES_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tolvani::lexicon {

struct SourceEntry {
  std::string word;  // normalised Bangla
  std::string key;   // phonetic key
  uint16_t frequency = 0;
};

// Keys whose most frequent entry reaches these frequencies go to the first and second sections.
inline constexpr uint16_t kFirstSectionPeak = 27;
inline constexpr uint16_t kSecondSectionPeak = 13;
inline constexpr size_t kBucketCap = 5000;

// The names of the files `write_tables` writes into its folder.
inline constexpr const char* kTableFiles[] = {
    "entries.bin",         "bengali_strings.bin",  "phonetic_strings.bin", "exact_buckets.bin",
    "folded_buckets.bin",  "folded_ids.bin",       "bengali_ids.bin",      "phonetic_ids.bin",
    "bengali_buckets.map", "phonetic_buckets.map", "lexicon_map.map"};

// Builds every table from `entries` (a word may stand under several keys; a (word, key) pair
// that repeats keeps its highest frequency) and writes them, with the constants header
// "lexicon_constants.h", into `folder`. Deterministic: the same entries give the same bytes.
// Returns false with `error` set on failure.
[[nodiscard]] bool write_tables(std::vector<SourceEntry> entries,
                                const std::filesystem::path& folder, std::string& error);

// Checks every invariant of the tables in `folder`. Returns the broken ones, one line each.
std::vector<std::string> validate_tables(const std::filesystem::path& folder);

}  // namespace tolvani::lexicon

#endif  // TOLVANI_TOOLS_LEXICON_LEXICON_TABLES_H_
