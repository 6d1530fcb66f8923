#include "bigram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "embedded.h"
#include "json_reader.h"
#include "lexicon.h"
#include "once_cell.h"

TOLVANI_EMBEDDED_DATA(bigram_seeds);
TOLVANI_EMBEDDED_DATA(curated_followups);

namespace tolvani::engine::bigram {

namespace {

OnceCell<BigramCounts> g_counts;
OnceCell<BigramRanked> g_ranked;

std::string type_error(const json::Value& v, std::string_view expected) {
  return "invalid type: " + json::describe(v) + ", expected " + std::string(expected);
}

const std::string* string_item(const json::Value& v, std::string& error) {
  if (v.kind == json::Value::Kind::kString) return &v.string;
  error = type_error(v, "a string");
  return nullptr;
}

struct Follower {
  std::string_view word;
  Seen seen;
  uint32_t frequency = 0;
  int64_t score = 0;
};

std::vector<std::string> rank_one(std::string_view first, const Followers& followers,
                                  const std::unordered_map<std::string_view, uint32_t>& spread,
                                  const RankingLookups& lookups) {
  std::vector<Follower> rows;
  rows.reserve(followers.size());
  for (const auto& [word, seen] : followers) {
    if (word == first) continue;
    const std::optional<uint32_t> frequency = lookups.frequency(word);
    if (!frequency) continue;
    rows.push_back({word, seen, *frequency, 0});
  }
  std::sort(rows.begin(), rows.end(),
            [](const Follower& x, const Follower& y) { return x.seen.first < y.seen.first; });
  for (size_t i = 0; i < rows.size(); ++i) {
    Follower& row = rows[i];
    const double p = std::max<uint32_t>(spread.at(row.word), 1);
    const double f = std::max<uint32_t>(row.frequency, 1);
    const double r = static_cast<double>(i + 1);
    const double score = 1000.0 * (std::log(static_cast<double>(row.seen.count)) + std::log(f) -
                                   0.5 * std::log(p) - 1.5 * std::log(r));
    row.score = static_cast<int64_t>(score);  // truncates toward zero
  }
  // Rows are in first-occurrence order, so a stable sort breaks score ties by it.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Follower& x, const Follower& y) { return x.score > y.score; });
  std::vector<std::string> kept;
  for (const Follower& row : rows) {
    const std::string_view word = lookups.standard(row.word).value_or(row.word);
    // The first word itself may come back as a standard spelling; only repeats are dropped here.
    if (std::find(kept.begin(), kept.end(), word) != kept.end()) continue;
    kept.emplace_back(word);
    if (kept.size() == kMaxRanked) break;
  }
  return kept;
}

// Nothing, with `error` set, for a malformed document.
std::optional<BigramCounts> count_pairs(std::string_view document, std::string& error) {
  json::Value root;
  if (!json::parse(document, root, error)) return std::nullopt;
  if (root.kind != json::Value::Kind::kArray) {
    error = type_error(root, "a sequence");
    return std::nullopt;
  }
  BigramCounts counts;
  for (size_t i = 0; i < root.items.size(); ++i) {
    const json::Value& pair = root.items[i];
    if (pair.kind != json::Value::Kind::kArray) {
      error = type_error(pair, "a pair of words");
      return std::nullopt;
    }
    if (pair.items.size() != 2) {
      error = "invalid length " + std::to_string(pair.items.size()) + ", expected a pair of words";
      return std::nullopt;
    }
    const std::string* first = string_item(pair.items[0], error);
    const std::string* following = first ? string_item(pair.items[1], error) : nullptr;
    if (following == nullptr) return std::nullopt;
    Followers& followers = counts[*first];
    const auto [it, inserted] =
        followers.try_emplace(*following, Seen{static_cast<uint32_t>(i), uint16_t{1}});
    if (!inserted && it->second.count < std::numeric_limits<uint16_t>::max()) ++it->second.count;
  }
  return counts;
}

// Nothing, with `error` set, for a malformed document. A repeated key keeps its last list.
std::optional<BigramRanked> parse_curated(std::string_view document, std::string& error) {
  json::Value root;
  if (!json::parse(document, root, error)) return std::nullopt;
  if (!root.is_object()) {
    error = type_error(root, "a map");
    return std::nullopt;
  }
  BigramRanked curated;
  for (const json::Member& member : root.members) {
    if (member.value.kind != json::Value::Kind::kArray) {
      error = type_error(member.value, "a sequence") + " (in `" + member.key + "`)";
      return std::nullopt;
    }
    std::vector<std::string> words;
    for (const json::Value& item : member.value.items) {
      const std::string* word = string_item(item, error);
      if (word == nullptr) {
        error += " (in `" + member.key + "`)";
        return std::nullopt;
      }
      words.push_back(*word);
    }
    curated.insert_or_assign(member.key, std::move(words));
  }
  return curated;
}

BigramRanked rank_and_merge(const BigramCounts& counts, const BigramRanked* curated,
                            const RankingLookups& lookups) {
  std::unordered_map<std::string_view, uint32_t> spread;
  for (const auto& [first, followers] : counts) {
    for (const auto& [word, seen] : followers) ++spread[word];
  }
  BigramRanked ranked;
  ranked.reserve(counts.size());
  for (const auto& [first, followers] : counts) {
    ranked.emplace(first, rank_one(first, followers, spread, lookups));
  }
  if (curated == nullptr) return ranked;
  for (const auto& [key, preferred] : *curated) {
    const std::string& first = key;  // a plain reference: lambdas capture it portably
    std::vector<std::string> merged;
    const auto take = [&merged, &first](std::string_view word) {
      if (word != first && std::find(merged.begin(), merged.end(), word) == merged.end()) {
        merged.emplace_back(word);
      }
    };
    for (const std::string& word : preferred) {
      if (merged.size() == kMaxRanked) break;
      take(word);
    }
    if (const auto it = ranked.find(first); it != ranked.end()) {
      for (const std::string& word : it->second) {
        if (merged.size() == kMaxRanked) break;
        take(word);
      }
    }
    ranked.insert_or_assign(first, std::move(merged));
  }
  return ranked;
}

BigramCounts build_counts() { return load_counts(seed_document()); }

BigramRanked build_ranked() {
  const RankingLookups lookups{
      [](std::string_view word) { return lexicon_frequency(word); },
      [](std::string_view word) { return spelling::standard_form(word, false); },
  };
  return load_ranked(*bigram_counts(true), curated_document(), lookups);
}

}  // namespace

BigramCounts load_counts(std::string_view seed_document) {
  std::string error;
  std::optional<BigramCounts> counts = count_pairs(seed_document, error);
  if (!counts) {
    std::fprintf(stderr, "[Tolvani] failed to parse bigram data: %s\n", error.c_str());
    return {};
  }
  return std::move(*counts);
}

BigramRanked load_ranked(const BigramCounts& counts, std::string_view curated_document,
                         const RankingLookups& lookups) {
  std::string error;
  const std::optional<BigramRanked> curated = parse_curated(curated_document, error);
  if (!curated) {
    std::fprintf(stderr, "[Tolvani] failed to parse curated follow-ups: %s\n", error.c_str());
  }
  return rank_and_merge(counts, curated ? &*curated : nullptr, lookups);
}

std::string_view seed_document() { return TOLVANI_EMBEDDED_VIEW(bigram_seeds); }
std::string_view curated_document() { return TOLVANI_EMBEDDED_VIEW(curated_followups); }

const BigramCounts* bigram_counts(bool blocking) { return g_counts.get(blocking, build_counts); }

const BigramRanked* bigram_ranked(bool blocking) { return g_ranked.get(blocking, build_ranked); }

std::optional<Seen> seed_pair(std::string_view first, std::string_view following, bool blocking) {
  const BigramCounts* counts = bigram_counts(blocking);
  if (counts == nullptr) return std::nullopt;
  const auto it = counts->find(first);
  if (it == counts->end()) return std::nullopt;
  const auto seen = it->second.find(following);
  if (seen == it->second.end()) return std::nullopt;
  return seen->second;
}

std::span<const std::string> ranked_followers(std::string_view first, bool blocking) {
  const BigramRanked* ranked = bigram_ranked(blocking);
  if (ranked == nullptr) return {};
  const auto it = ranked->find(first);
  if (it == ranked->end()) return {};
  return it->second;
}

void warm() {
  bigram_counts(true);
  bigram_ranked(true);
}

}  // namespace tolvani::engine::bigram
