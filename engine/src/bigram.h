// The built-in word pairs: the embedded seed list of adjacent words (BIGRAM_COUNTS, which also
// feeds the ranking's context bonus) and the follow-up lists derived from it and from a short
// curated table (BIGRAM_RANKED), from which next-word predictions draw after the user's own pairs.
// Thread-safety: safe on any thread. Both tables are built once per process, on first use under
// the blocking cache policy or by warm(), and read without locks afterwards; under the
// non-blocking policy an unbuilt table answers as if it were empty and is not built.
#ifndef TOLVANI_ENGINE_BIGRAM_H_
#define TOLVANI_ENGINE_BIGRAM_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spelling_preferences.h"

namespace tolvani::engine::bigram {

using TextHash = spelling::TextHash;

// How often one pair occurs in the seed list.
struct Seen {
  uint32_t first = 0;  // position (from 0) of the pair's first occurrence
  uint16_t count = 0;  // occurrences, saturating at 65535

  friend bool operator==(const Seen&, const Seen&) = default;
};

using Followers = std::unordered_map<std::string, Seen, TextHash, std::equal_to<>>;
using BigramCounts = std::unordered_map<std::string, Followers, TextHash, std::equal_to<>>;
using BigramRanked =
    std::unordered_map<std::string, std::vector<std::string>, TextHash, std::equal_to<>>;

// A first word keeps at most this many built-in followers.
inline constexpr size_t kMaxRanked = 8;

// What ranking reads besides the counts: a word's lexicon frequency (nothing for a word outside
// the lexicon) and its standard spelling (nothing when it has none; a view that must stay valid
// while the lists are built).
struct RankingLookups {
  std::function<std::optional<uint32_t>(std::string_view)> frequency;
  std::function<std::optional<std::string_view>(std::string_view)> standard;
};

// Counts the pairs of a seed document, a JSON array of [first, following] string pairs. A
// malformed document costs one line on standard error ("[Tolvani] failed to parse bigram data: "
// and the reason) and gives an empty map.
BigramCounts load_counts(std::string_view seed_document);

// The follow-up lists. Under each first word its followers are ordered by
//   trunc(1000 × (ln count + ln max(f, 1) − 0.5 × ln max(p, 1) − 1.5 × ln r)),
// highest first (ties: first occurrence), where f is the follower's lexicon frequency, p the
// number of first words it follows and r its place by first occurrence. The first word itself and
// followers outside the lexicon are left out (and take no place), followers are written in their
// standard spelling without repeats, and at most kMaxRanked are kept. Then each first word of the
// curated document (a JSON object from a first word to its preferred followers) gets those ahead
// of the ranked ones, without itself or repeats, at most kMaxRanked. A malformed curated document
// costs one line on standard error ("[Tolvani] failed to parse curated follow-ups: " and the
// reason) and leaves the lists uncurated.
BigramRanked load_ranked(const BigramCounts& counts, std::string_view curated_document,
                         const RankingLookups& lookups);

// The embedded documents.
std::string_view seed_document();
std::string_view curated_document();

// The process-wide tables. A broken embedded document costs one line on standard error and leaves
// its part empty. Blocking: built here if needed. Non-blocking: null until built.
const BigramCounts* bigram_counts(bool blocking);
const BigramRanked* bigram_ranked(bool blocking);

// The seed record of (first, following); nothing when the pair is not in the seed list or, under
// the non-blocking policy, when BIGRAM_COUNTS is not built yet.
std::optional<Seen> seed_pair(std::string_view first, std::string_view following, bool blocking);

// The built-in followers of `first`, best first (at most kMaxRanked); empty when there are none
// or, under the non-blocking policy, when BIGRAM_RANKED is not built yet. The view stays valid for
// the life of the process.
std::span<const std::string> ranked_followers(std::string_view first, bool blocking);

// Builds BIGRAM_COUNTS, then BIGRAM_RANKED.
void warm();

}  // namespace tolvani::engine::bigram

#endif  // TOLVANI_ENGINE_BIGRAM_H_
