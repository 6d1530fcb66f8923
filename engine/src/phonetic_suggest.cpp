#include "phonetic_suggest.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <utility>

#include "lexicon.h"
#include "user_dict.h"
#include "utf8.h"

namespace tolvani::engine::phonetic_suggest {

namespace {

struct Row {
  std::string_view latin;
  std::array<std::string_view, 3> options;
  uint8_t count;
  bool consonant;
};

// Options in the order they are tried; the search explores the last one first.
constexpr Row kSegmentTable[] = {
    {"k", {"\u0995"}, 1, true},                              // ক
    {"q", {"\u0995"}, 1, true},                              // ক
    {"g", {"\u0997"}, 1, true},                              // গ
    {"c", {"\u099A"}, 1, true},                              // চ
    {"j", {"\u099C", "\u09AF"}, 2, true},                    // জ য
    {"t", {"\u09A4", "\u099F"}, 2, true},                    // ত ট
    {"d", {"\u09A6", "\u09A1"}, 2, true},                    // দ ড
    {"n", {"\u09A8", "\u09A3"}, 2, true},                    // ন ণ
    {"p", {"\u09AA"}, 1, true},                              // প
    {"b", {"\u09AC"}, 1, true},                              // ব
    {"m", {"\u09AE"}, 1, true},                              // ম
    {"r", {"\u09B0"}, 1, true},                              // র
    {"l", {"\u09B2"}, 1, true},                              // ল
    {"s", {"\u09B8", "\u09B6", "\u09B7"}, 3, true},          // স শ ষ
    {"h", {"\u09B9"}, 1, true},                              // হ
    {"y", {"\u09AF", "\u09AF\u09BC"}, 2, true},              // য য়
    {"w", {"\u0993"}, 1, false},                             // ও
    {"f", {"\u09AB"}, 1, true},                              // ফ
    {"v", {"\u09AD"}, 1, true},                              // ভ
    {"z", {"\u09AF", "\u099C"}, 2, true},                    // য জ
    {"a", {"\u0986", "\u09BE", "\u0985"}, 3, false},         // আ া অ
    {"i", {"\u0987", "\u09BF"}, 2, false},                   // ই ি
    {"u", {"\u0989", "\u09C1"}, 2, false},                   // উ ু
    {"e", {"\u098F", "\u09C7"}, 2, false},                   // এ ে
    {"o", {"\u09CB", "\u0985", "\u0993"}, 3, false},         // ো অ ও
    {"kh", {"\u0996"}, 1, true},                             // খ
    {"gh", {"\u0998"}, 1, true},                             // ঘ
    {"ch", {"\u099B", "\u099A"}, 2, true},                   // ছ চ
    {"jh", {"\u099D"}, 1, true},                             // ঝ
    {"th", {"\u09A5", "\u09A0"}, 2, true},                   // থ ঠ
    {"dh", {"\u09A7", "\u09A2"}, 2, true},                   // ধ ঢ
    {"ph", {"\u09AB"}, 1, true},                             // ফ
    {"bh", {"\u09AD"}, 1, true},                             // ভ
    {"sh", {"\u09B6", "\u09B8", "\u09B7"}, 3, true},         // শ স ষ
    {"ng", {"\u0982", "\u0999"}, 2, true},                   // ং ঙ
    {"ou", {"\u0994", "\u09CC"}, 2, false},                  // ঔ ৌ
    {"oi", {"\u0990", "\u09C8"}, 2, false},                  // ঐ ৈ
    {"aa", {"\u0986", "\u09BE"}, 2, false},                  // আ া
    {"ee", {"\u0988", "\u09C0"}, 2, false},                  // ঈ ী
    {"ii", {"\u0988", "\u09C0"}, 2, false},                  // ঈ ী
    {"uu", {"\u098A", "\u09C2"}, 2, false},                  // ঊ ূ
    {"ri", {"\u098B", "\u09C3", "\u09B0\u09BF"}, 3, false},  // ঋ ৃ রি
    {"ksh", {"\u0995\u09CD\u09B7"}, 1, true},                // ক্ষ
};

constexpr std::string_view kHasanta = "\u09CD";

// Partial spellings shorter than this (one Bangla letter) are kept without a lexicon search.
constexpr size_t kUncheckedPrefixBytes = 4;
constexpr size_t kSmallBudget = 1'500;
constexpr size_t kLargeBudget = 5'000;
constexpr size_t kLargeBudgetLimit = 6;
constexpr int64_t kFoundBonus = 4'000;

// A partial spelling: its text lies in the search's arena at [offset, offset + length).
struct State {
  uint32_t offset;
  uint32_t length;
  uint32_t segment;  // index of the next segment
  bool joinable;     // the text ends with an option of a consonant segment
};

class LexiconWords final : public WordSource {
 public:
  bool has_word_with_prefix(std::string_view text) const override {
    return lexicon_map().has_key_with_prefix(text);
  }
  std::optional<uint32_t> frequency(std::string_view word) const override {
    return lexicon_frequency(word);
  }
};

class Search {
 public:
  Search(const std::vector<Segment>& segments, const UserDictionary& user_dict, size_t limit,
         const WordSource& words, SearchStats& stats)
      : segments_(segments), user_(user_dict), limit_(limit), words_(words), stats_(stats) {}

  std::vector<Candidate> run() {
    const size_t budget = limit_ >= kLargeBudgetLimit ? kLargeBudget : kSmallBudget;
    push({}, 0, false);
    while (!stack_.empty()) {
      const State state = stack_.back();
      stack_.pop_back();
      if (stats_.states >= budget) break;
      // The arena holds the stacked texts in stack order, so the popped one is its tail.
      prefix_.assign(arena_, state.offset, state.length);
      arena_.resize(state.offset);
      bool enough = false;
      if (state.segment < segments_.size()) {
        expand(state);
      } else {
        enough = offer() && results_.size() / 2 >= limit_;  // twice the limit, without overflow
      }
      ++stats_.states;
      if (enough) break;
    }
    stats_.found = results_.size();
    // Best first; equal scores keep the order of discovery.
    std::stable_sort(results_.begin(), results_.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    results_.erase(
        std::unique(results_.begin(), results_.end(),
                    [](const Candidate& a, const Candidate& b) { return a.text == b.text; }),
        results_.end());
    if (results_.size() > limit_) results_.resize(limit_);
    return std::move(results_);
  }

 private:
  void push(std::string_view text, uint32_t segment, bool joinable) {
    stack_.push_back({static_cast<uint32_t>(arena_.size()), static_cast<uint32_t>(text.size()),
                      segment, joinable});
    arena_.append(text);
  }

  void expand(const State& state) {
    const Segment& segment = segments_[state.segment];
    for (std::string_view option : segment.option_list()) {
      if (state.joinable && segment.consonant && !option.empty()) {
        candidate_.assign(prefix_).append(kHasanta).append(option);
        if (check(candidate_)) push(candidate_, state.segment + 1, true);
      }
      candidate_.assign(prefix_).append(option);
      if (candidate_.size() < kUncheckedPrefixBytes || check(candidate_)) {
        push(candidate_, state.segment + 1, segment.consonant && !option.empty());
      }
    }
  }

  // Adds the finished spelling in prefix_ when it is a word; says whether it did.
  bool offer() {
    if (prefix_.empty() || seen_.contains(prefix_)) return false;
    const bool known = user_.contains(prefix_);
    const std::optional<uint32_t> frequency = words_.frequency(prefix_);
    if (!known && !frequency) return false;
    seen_.insert(prefix_);
    const int64_t score = int64_t{frequency.value_or(0)} + user_.boost_for(prefix_) + kFoundBonus;
    results_.push_back({prefix_, static_cast<int32_t>(std::min<int64_t>(score, INT32_MAX)),
                        known ? CandidateKind::kUser : CandidateKind::kPhonetic});
    return true;
  }

  bool check(std::string_view text) {
    const size_t cached = cache_.size();
    const bool found = cached_prefix_check(text, cache_, words_);
    if (cache_.size() != cached) ++stats_.prefix_searches;
    return found;
  }

  const std::vector<Segment>& segments_;
  const UserDictionary& user_;
  const size_t limit_;
  const WordSource& words_;
  SearchStats& stats_;

  std::vector<State> stack_;
  std::string arena_;
  std::string prefix_;     // text of the state being processed
  std::string candidate_;  // text of a child being formed
  std::unordered_set<std::string> seen_;
  PrefixCache cache_;
  std::vector<Candidate> results_;
};

}  // namespace

std::optional<Segment> match_segment(std::string_view typed, std::string_view lowered) {
  for (const Row& row : kSegmentTable) {
    if (row.latin == lowered) return Segment{typed, row.options, row.count, row.consonant};
  }
  return std::nullopt;
}

std::vector<Segment> segment_key(std::string_view key) {
  std::vector<size_t> bounds;  // byte offset of every character, then the end
  for (size_t pos = 0; pos < key.size();) {
    bounds.push_back(pos);
    utf8::decode_next(key, pos);
  }
  bounds.push_back(key.size());
  const size_t chars = bounds.size() - 1;

  std::vector<Segment> segments;
  for (size_t i = 0; i < chars;) {
    size_t taken = 0;
    for (size_t len = std::min<size_t>(3, chars - i); len >= 1 && taken == 0; --len) {
      const std::string_view text = key.substr(bounds[i], bounds[i + len] - bounds[i]);
      if (auto segment = match_segment(text, utf8::ascii_lower(text))) {
        segments.push_back(*segment);
        taken = len;
      }
    }
    if (taken == 0) {
      const std::string_view c = key.substr(bounds[i], bounds[i + 1] - bounds[i]);
      segments.push_back(Segment{c, {c}, 1, false});
      taken = 1;
    }
    i += taken;
  }
  return segments;
}

const WordSource& lexicon_words() {
  // Never destroyed: a session made on another thread may still search while the process exits.
  static const LexiconWords* const words = new LexiconWords;
  return *words;
}

bool cached_prefix_check(std::string_view text, PrefixCache& cache, const WordSource& words) {
  if (const auto it = cache.find(text); it != cache.end()) return it->second;
  const bool found = words.has_word_with_prefix(text);
  cache.emplace(std::string(text), found);
  return found;
}

bool cached_prefix_check(std::string_view text, PrefixCache& cache) {
  return cached_prefix_check(text, cache, lexicon_words());
}

std::vector<Candidate> fuzzy_phonetic_lookup(std::string_view key, const UserDictionary& user_dict,
                                             size_t limit, const WordSource& words,
                                             SearchStats& stats) {
  stats = {};
  const std::string k = utf8::ascii_lower(utf8::trim_white_space(key));
  if (k.empty() || k.size() > kMaxKeyBytes || limit == 0) return {};
  const std::vector<Segment> segments = segment_key(k);
  return Search(segments, user_dict, limit, words, stats).run();
}

std::vector<Candidate> fuzzy_phonetic_lookup(std::string_view key, const UserDictionary& user_dict,
                                             size_t limit) {
  SearchStats stats;
  return fuzzy_phonetic_lookup(key, user_dict, limit, lexicon_words(), stats);
}

}  // namespace tolvani::engine::phonetic_suggest
