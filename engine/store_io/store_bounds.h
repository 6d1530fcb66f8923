// How large each learned-store file can grow in use, so that a reader can refuse anything larger
// before it reads it: the caps on the stores' entries times the largest entry the writers can
// write, plus what one import and the settings side's single-word edits may add before the engine
// next prunes the file. The engine checks its caps against these numbers, so a cap cannot grow
// without its bound.
// Thread-safety: constants only.
#ifndef TOLVANI_STORE_IO_STORE_BOUNDS_H_
#define TOLVANI_STORE_IO_STORE_BOUNDS_H_

#include <cstddef>
#include <string_view>

#include "word_form.h"

namespace tolvani::store_io::bounds {

// The most entries each store holds after the engine has pruned it.
inline constexpr std::size_t kDictionaryWords = 10'000;
inline constexpr std::size_t kDictionaryTombstones = 10'000;
inline constexpr std::size_t kBigramPairs = 5'000;
inline constexpr std::size_t kTrigramTriples = 3'000;
inline constexpr std::size_t kRejectionEntries = 5'000;
inline constexpr std::size_t kSelections = 5'000;
inline constexpr std::size_t kEnglishPairs = 5'000;
inline constexpr std::size_t kMaxEnglishWordBytes = 24 * word_form::kMaxBytesPerCharacter;

// The largest backup the settings side imports: a merge adds at most that much to a store.
inline constexpr std::size_t kImportedBytes = 2'000'000;
// The reset id and the top-level keys, and the words the settings side adds one at a time between
// two syncs of the engine.
inline constexpr std::size_t kHeadroomBytes = std::size_t{1} << 20;

// A key of at most `raw` bytes as the writers quote it: every byte may be a quote or a backslash,
// written as two. (Control characters are never stored.)
constexpr std::size_t quoted(std::size_t raw) { return 2 * raw + 2; }
// The length of a literal's text.
template <std::size_t N>
constexpr std::size_t text(const char (&)[N]) {
  return N - 1;
}

inline constexpr std::size_t kMaxU32 = text("4294967295");
inline constexpr std::size_t kMaxU64 = text("18446744073709551615");
inline constexpr std::size_t kMaxI32 = text("-2147483648");

// One entry of each map with its separators (colon, braces, comma).
inline constexpr std::size_t kWordBytes = quoted(word_form::kMaxWordBytes) + 2 +
                                          text(R"({"frequency":,"last_used":,"last_decay":})") +
                                          kMaxU32 + 2 * kMaxU64;
inline constexpr std::size_t kTombstoneBytes = quoted(word_form::kMaxWordBytes) + 2 + kMaxU64;
// Nested maps: each inner entry may sit under its own outer key.
inline constexpr std::size_t kPairBytes =
    quoted(word_form::kMaxWordBytes) + 4 + quoted(word_form::kMaxWordBytes) + 2 +
    text(R"({"frequency":,"last_used":})") + kMaxU32 + kMaxU64;
inline constexpr std::size_t kTripleBytes =
    quoted(word_form::kMaxContextBytes) + 4 + quoted(word_form::kMaxWordBytes) + 2 + kMaxU32;
inline constexpr std::size_t kRejectionBytes =
    quoted(word_form::kMaxRawBytes) + 4 + quoted(word_form::kMaxWordBytes) + 2 + kMaxI32;
inline constexpr std::size_t kSelectionBytes = quoted(word_form::kMaxRawBytes) + 2 +
                                               text(R"({"text":,"count":,"last_used":})") +
                                               quoted(word_form::kMaxWordBytes) + kMaxU32 + kMaxU64;
inline constexpr std::size_t kEnglishPairBytes = 2 * (quoted(kMaxEnglishWordBytes) + 4) + kMaxU64;

inline constexpr std::size_t kAdded = kImportedBytes + kHeadroomBytes;

// The bound of each store file, by its name.
inline constexpr std::size_t kUserDictionaryFileBytes =
    kDictionaryWords * kWordBytes + kDictionaryTombstones * kTombstoneBytes + kAdded;
inline constexpr std::size_t kUserBigramsFileBytes = kBigramPairs * kPairBytes + kAdded;
inline constexpr std::size_t kUserTrigramsFileBytes = kTrigramTriples * kTripleBytes + kAdded;
inline constexpr std::size_t kRejectionsFileBytes = kRejectionEntries * kRejectionBytes + kAdded;
inline constexpr std::size_t kSelectionMemoryFileBytes = kSelections * kSelectionBytes + kAdded;
inline constexpr std::size_t kEnglishPairsFileBytes = kEnglishPairs * kEnglishPairBytes + kAdded;

// The bound of the store file named `file_name` ("user-dictionary.json", ...); the largest of
// them for any other name.
constexpr std::size_t max_store_file_bytes(std::string_view file_name) {
  if (file_name == "user-dictionary.json") return kUserDictionaryFileBytes;
  if (file_name == "user-bigrams.json") return kUserBigramsFileBytes;
  if (file_name == "user-trigrams.json") return kUserTrigramsFileBytes;
  if (file_name == "rejections.json") return kRejectionsFileBytes;
  if (file_name == "selection-memory.json") return kSelectionMemoryFileBytes;
  if (file_name == "english-pairs.json") return kEnglishPairsFileBytes;
  std::size_t largest = kUserDictionaryFileBytes;
  for (const std::size_t b : {kUserBigramsFileBytes, kUserTrigramsFileBytes, kRejectionsFileBytes,
                              kSelectionMemoryFileBytes, kEnglishPairsFileBytes})
    largest = b > largest ? b : largest;
  return largest;
}

}  // namespace tolvani::store_io::bounds

#endif  // TOLVANI_STORE_IO_STORE_BOUNDS_H_
