// Fuzzy phonetic lookup: lexicon words for a typed Latin key found without the lexicon's phonetic
// keys. The key is cut into short Latin segments, each standing for a few Bangla letters or signs,
// and the combinations are searched depth-first, pruning every partial spelling that no lexicon
// word begins with.
// Thread-safety: safe on any thread; reads only the read-only lexicon map and the caller's user
// dictionary, which the caller owns for the call.
#ifndef TOLVANI_ENGINE_PHONETIC_SUGGEST_H_
#define TOLVANI_ENGINE_PHONETIC_SUGGEST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "types.h"

namespace tolvani::engine {
class UserDictionary;
}  // namespace tolvani::engine

namespace tolvani::engine::phonetic_suggest {

// Keys longer than this many bytes are not searched at all.
inline constexpr size_t kMaxKeyBytes = 20;

// A Latin segment and the Bangla it may stand for. Views: into the segment table, and into the
// key it was cut from, which must outlive the record.
struct Segment {
  std::string_view latin;
  std::array<std::string_view, 3> options{};
  uint8_t option_count = 0;
  // The options are consonants that may join the preceding consonant through a hasanta.
  bool consonant = false;

  std::span<const std::string_view> option_list() const { return {options.data(), option_count}; }
};

// The table row of `lowered` (the segment lowercased), given as `typed`; none when there is none.
std::optional<Segment> match_segment(std::string_view typed, std::string_view lowered);

// Cuts `key` greedily from the left, preferring the longest row (three characters down to one);
// a character without a row stands for itself. Views into `key` and the table.
std::vector<Segment> segment_key(std::string_view key);

// Answers of prefix searches within one lookup.
struct PrefixHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using PrefixCache = std::unordered_map<std::string, bool, PrefixHash, std::equal_to<>>;

// What the search reads of a lexicon: the engine's is the embedded lexicon map; tests give their
// own to drive the search to its bounds. Implementations are read on the calling thread only.
class WordSource {
 public:
  virtual ~WordSource() = default;
  // Whether some word begins with `text`.
  virtual bool has_word_with_prefix(std::string_view text) const = 0;
  // The word's frequency, or none when it is not a word.
  virtual std::optional<uint32_t> frequency(std::string_view word) const = 0;
};

// The embedded lexicon map (built when first needed, blocking).
const WordSource& lexicon_words();

// Whether some lexicon word begins with `text`, remembered in `cache`.
bool cached_prefix_check(std::string_view text, PrefixCache& cache);
bool cached_prefix_check(std::string_view text, PrefixCache& cache, const WordSource& words);

// The work one lookup did.
struct SearchStats {
  size_t states = 0;           // search states processed
  size_t prefix_searches = 0;  // lexicon searches (prefix checks not answered by the cache)
  size_t found = 0;            // words found before the cut to the limit
};

// Words for `key` (white space trimmed, ASCII lowercased), best first, at most `limit`: each
// lexicon or user-dictionary word spelt by one combination of the segments' options, scored
// frequency + boost + 4,000, kind user when the user dictionary holds it, else phonetic. Empty
// for an empty key or one longer than 20 bytes. The search stops after 1,500 states (5,000 when
// limit is 6 or more) or at 2 × limit words. Builds the lexicon map when needed (blocking).
std::vector<Candidate> fuzzy_phonetic_lookup(std::string_view key, const UserDictionary& user_dict,
                                             size_t limit);

// As above, over `words`, also reporting the work done in `stats`.
std::vector<Candidate> fuzzy_phonetic_lookup(std::string_view key, const UserDictionary& user_dict,
                                             size_t limit, const WordSource& words,
                                             SearchStats& stats);

}  // namespace tolvani::engine::phonetic_suggest

#endif  // TOLVANI_ENGINE_PHONETIC_SUGGEST_H_
