// User dictionaries for the benchmarks: `words` learned words and `tombstones` deleted ones, each
// word at least `word_bytes` long (0: as short as its number allows), the newest first, as the
// engine writes them. 10,000 of each at 1,152 bytes is the largest file the store can grow to.
#ifndef TOLVANI_BENCH_LARGEST_DICTIONARY_H_
#define TOLVANI_BENCH_LARGEST_DICTIONARY_H_

#include <chrono>
#include <cstddef>
#include <string>

namespace tolvani::bench {

inline std::string dictionaryWord(int i, const std::string& prefix, std::size_t at_least_bytes) {
  static const char* const kLetters[] = {"ক", "খ", "গ", "ত", "দ", "ন", "প", "ব", "ম", "র",
                                         "ল", "স", "হ", "া", "ি", "ে", "ো", "ু",  "ং", "য়"};
  std::string w = prefix;
  for (int n = i + 1; n > 0; n /= 20) w += kLetters[n % 20];
  w += "ন";
  while (w.size() + 3 <= at_least_bytes) w += "ক";
  return w;
}

inline std::string userDictionary(int words, int tombstones, std::size_t word_bytes) {
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  std::string doc = R"({"reset_id":"","words":{)";
  for (int i = 0; i < words; ++i) {
    doc += (i ? ",\"" : "\"") + dictionaryWord(i, "", word_bytes) + R"(":{"frequency":)" +
           std::to_string(1 + i % 97) + R"(,"last_used":)" + std::to_string(now - i) + "}";
  }
  doc += R"(},"tombstones":{)";
  for (int i = 0; i < tombstones; ++i) {
    doc +=
        (i ? ",\"" : "\"") + dictionaryWord(i, "মুছ", word_bytes) + "\":" + std::to_string(now - i);
  }
  return doc + "}}";
}

// The largest dictionary file the store can grow to: every word and tombstone at the length bound.
inline constexpr int kLargestWords = 10'000;
inline constexpr int kLargestTombstones = 10'000;
inline constexpr std::size_t kLargestWordBytes = 1'152;

// The largest dictionary the store accepts: a hundred words short of the engine's cap, so that a
// word added evicts none, as many tombstones as it keeps, every word near the longest it stores.
inline constexpr int kLargestCaseWords = 9'900;
inline constexpr std::size_t kLargestCaseWordBytes = 1'140;

}  // namespace tolvani::bench

#endif  // TOLVANI_BENCH_LARGEST_DICTIONARY_H_
