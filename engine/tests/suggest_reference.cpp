#include "suggest_reference.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <string>
#include <utility>

#include "keyfold.h"
#include "lexicon.h"
#include "lexicon_format.h"
#include "normalize.h"
#include "phonetic.h"
#include "spell.h"
#include "suggest.h"
#include "user_dict.h"
#include "utf8.h"

namespace tolvani::engine::test {
namespace {

// Written out again rather than shared, so that a changed constant in the engine is caught.
constexpr int32_t kAutocorrectEqualScore = 10'500;
constexpr int32_t kAutocorrectScore = 8'000;
constexpr int32_t kRenderedBonus = 2'500;
constexpr int32_t kBanglaPrefixBonus = 2'000;
constexpr int32_t kYeyBonus = 4'000;
constexpr int32_t kExactBonus = 8'000;
constexpr int32_t kWeakExactBonus = 1'500;
constexpr int32_t kKeyPrefixBonus = 1'500;
constexpr int32_t kFoldedBonus = 1'500;
constexpr int32_t kNearKeyBase = 900;
constexpr uint32_t kNearKeyFrequencyCap = 3'000;
constexpr int32_t kLongKeyBase = 1'600;
constexpr int32_t kLayoutNearBase = 700;

constexpr size_t kMaxSuggestions = 15;
constexpr size_t kFuzzyScanCap = 2'000;
constexpr size_t kNearByteSlack = 8;
constexpr size_t kNearCharSlack = 2;
constexpr size_t kLongKeyMinChars = 8;
constexpr size_t kLongKeyPrefixChars = 7;
constexpr size_t kLongKeyMaxRuns = 400;
constexpr size_t kLongKeyEntriesPerRun = 4;
constexpr size_t kLongKeyByteSlack = 3;
constexpr uint32_t kMaxDistance = 2;

size_t bucket_cap(size_t chars) {
  if (chars == 1) return 256;
  if (chars == 2) return 900;
  return 2'000;
}

size_t difference(size_t a, size_t b) { return a > b ? a - b : b - a; }

struct Best {
  int32_t score;
  CandidateKind kind;
};

// Every push lands here at once: a text keeps its first push unless a later one scores higher.
class Merged {
 public:
  explicit Merged(const UserDictionary& user) : user_(user) {}

  void push(std::string_view text, int64_t score, CandidateKind kind) {
    const auto clamped = static_cast<int32_t>(std::clamp<int64_t>(
        score, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    auto [it, inserted] = best_.try_emplace(std::string(text), Best{clamped, kind});
    if (!inserted && clamped > it->second.score) it->second = Best{clamped, kind};
  }

  void push_word(std::string_view word, int64_t score, CandidateKind kind) {
    if (user_.contains(word)) {
      push(word, score + user_.boost_for(word), CandidateKind::kUser);
    } else {
      push(word, score, kind);
    }
  }

  void push_word_if_positive(std::string_view word, int64_t score, CandidateKind kind) {
    if (user_.contains(word)) {
      score += user_.boost_for(word);
      kind = CandidateKind::kUser;
    }
    if (score > 0) push(word, score, kind);
  }

  std::vector<Candidate> ranked(size_t limit) const {
    std::vector<Candidate> all;
    for (const auto& [text, best] : best_) all.push_back({text, best.score, best.kind});
    std::sort(all.begin(), all.end(), [](const Candidate& x, const Candidate& y) {
      if (x.score != y.score) return x.score > y.score;
      return x.text < y.text;
    });
    const size_t keep = std::min(std::max<size_t>(limit, 1), kMaxSuggestions);
    if (all.size() > keep) all.resize(keep);
    return all;
  }

 private:
  const UserDictionary& user_;
  std::map<std::string, Best, std::less<>> best_;
};

// The first `cap` ids of a bucket.
std::vector<uint32_t> first_of(std::span<const uint32_t> ids, size_t cap) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < ids.size() && i < cap; ++i) out.push_back(ids[i]);
  return out;
}

struct Section {
  uint32_t begin;
  uint32_t end;
};

// The three key-sorted tiers of the entry table, as the end row of the exact index gives them.
std::vector<Section> entry_sections() {
  namespace fmt = lexicon_format;
  std::vector<Section> sections(fmt::kSections, Section{0, 0});
  const std::string_view exact = lexicon_data().exact_buckets;
  if (exact.size() < fmt::kExactEndRowSize) return sections;
  const auto* end_row =
      reinterpret_cast<const unsigned char*>(exact.data()) + exact.size() - fmt::kExactEndRowSize;
  uint32_t begin = 0;
  for (size_t s = 0; s < fmt::kSections; ++s) {
    const uint32_t end = std::clamp(fmt::read_u32(end_row + 4 * s), begin, lexicon_size());
    sections[s] = {begin, end};
    begin = end;
  }
  return sections;
}

struct Run {
  std::string_view key;
  uint32_t begin;
  uint32_t end;
};

// Every run of one key whose key shares the typed key's first seven characters, in key order
// (a key in several sections: the earlier section first), at most 400 runs in all.
void push_long_keys(std::string_view k, Merged& out) {
  size_t cut = 0;
  for (size_t chars = 0; chars < kLongKeyPrefixChars && cut < k.size(); ++chars) {
    utf8::decode_next(k, cut);
  }
  const std::string p(k.substr(0, cut));
  std::string u = p;
  if (static_cast<unsigned char>(u.back()) < 0xFF) u.back() = static_cast<char>(u.back() + 1);

  std::vector<Run> runs;
  for (const Section& s : entry_sections()) {
    uint32_t id = first_entry_with_key_at_least(s.begin, s.end, p);
    for (size_t taken = 0; id < s.end && taken < kLongKeyMaxRuns; ++taken) {
      const std::string_view key = entry_phonetic(id);
      if (key >= std::string_view(u)) break;
      const uint32_t end = std::min(key_run_end(id), s.end);
      runs.push_back({key, id, end});
      id = end;
    }
  }
  std::stable_sort(runs.begin(), runs.end(),
                   [](const Run& x, const Run& y) { return x.key < y.key; });
  if (runs.size() > kLongKeyMaxRuns) runs.resize(kLongKeyMaxRuns);

  for (const Run& run : runs) {
    if (run.key == k || difference(run.key.size(), k.size()) > kLongKeyByteSlack) continue;
    const uint32_t d = bounded_edit_distance(k, run.key);
    if (d > kMaxDistance) continue;
    for (uint32_t id = run.begin; id < run.end && id < run.begin + kLongKeyEntriesPerRun; ++id) {
      const LexiconEntry e = lexicon_entry(id);
      out.push_word(e.bangla, kLongKeyBase - 200 * int64_t{d} + e.frequency,
                    CandidateKind::kPhonetic);
    }
  }
}

void push_phonetic(const std::string& k, const std::string& b, const UserDictionary& user,
                   Merged& out) {
  const size_t m = utf8::scalar_count(k);

  if (k.ends_with("yey")) {
    const std::string b2 =
        normalize_bengali(phonetic::convert_with_options(k.substr(0, k.size() - 1), true));
    const bool known = user.contains(b2);
    if (b2 != b && (known || lexicon_map().contains(b2))) {
      out.push(b2, int64_t{frequency_for(b2)} + user.boost_for(b2) + kYeyBonus,
               known ? CandidateKind::kUser : CandidateKind::kPhonetic);
    }
  }

  IdRange exact;
  uint32_t top = 0;
  if (m >= 3) {
    exact = phonetic_exact_ids(k);
    for (uint32_t id = exact.start; id < exact.end; ++id) {
      top = std::max(top, lexicon_entry(id).frequency);
    }
  }
  const auto exact_score = [top](uint32_t f) {
    return int64_t{f} + (uint64_t{f} * 100 >= top ? kExactBonus : kWeakExactBonus);
  };

  for (uint32_t id : first_of(collect_indices_for_prefix(phonetic_index(), k), bucket_cap(m))) {
    const LexiconEntry e = lexicon_entry(id);
    if (e.phonetic.empty()) continue;
    int64_t score = 0;
    if (e.phonetic == k) {
      score = exact_score(e.frequency);
    } else if (e.phonetic.starts_with(k)) {
      score = int64_t{e.frequency} + kKeyPrefixBonus;
    }
    out.push_word_if_positive(e.bangla, score, CandidateKind::kPhonetic);
  }

  if (m >= 3) {
    const std::string folded = fold_key(k);
    if (!folded.empty()) {
      for (uint32_t id : phonetic_folded_ids(folded)) {
        const LexiconEntry e = lexicon_entry(id);
        out.push_word(e.bangla, int64_t{e.frequency} + kFoldedBonus, CandidateKind::kPhonetic);
      }
    }
  }

  for (uint32_t id = exact.start; id < exact.end; ++id) {
    const LexiconEntry e = lexicon_entry(id);
    out.push_word(e.bangla, exact_score(e.frequency), CandidateKind::kPhonetic);
  }

  if (m >= 2) {
    for (uint32_t id : first_of(collect_indices_for_fuzzy(phonetic_index(), k), kFuzzyScanCap)) {
      const LexiconEntry e = lexicon_entry(id);
      if (e.phonetic.empty()) continue;
      if (difference(e.phonetic.size(), k.size()) > kNearByteSlack) continue;
      if (difference(utf8::scalar_count(e.phonetic), m) > kNearCharSlack) continue;
      const uint32_t d = bounded_edit_distance(k, e.phonetic);
      if (d > kMaxDistance) continue;
      out.push_word(
          e.bangla,
          int64_t{std::min(e.frequency, kNearKeyFrequencyCap)} - 100 * int64_t{d} + kNearKeyBase,
          CandidateKind::kPhonetic);
    }
  }

  if (m >= kLongKeyMinChars) push_long_keys(k, out);
}

void push_layout_near_words(const std::string& b, Merged& out) {
  const size_t n = utf8::scalar_count(b);
  if (n == 0) return;
  for (uint32_t id : first_of(collect_indices_for_fuzzy(bengali_index(), b), kFuzzyScanCap)) {
    const LexiconEntry e = lexicon_entry(id);
    if (difference(e.bangla.size(), b.size()) > kNearByteSlack) continue;
    if (difference(utf8::scalar_count(e.bangla), n) > kNearCharSlack) continue;
    const uint32_t d = bounded_edit_distance(b, e.bangla);
    if (d > kMaxDistance) continue;
    out.push_word(e.bangla, int64_t{e.frequency} - 100 * int64_t{d} + kLayoutNearBase,
                  CandidateKind::kPrefix);
  }
}

}  // namespace

std::vector<Candidate> reference_suggestions_for(uint8_t mode, std::string_view key,
                                                 std::string_view rendered,
                                                 const UserDictionary& user_dict, size_t limit,
                                                 bool autocorrect) {
  if (rendered.empty()) return {};
  const std::string b = normalize_bengali(rendered);
  const std::string k = utf8::ascii_lower(utf8::trim_white_space(key));

  Merged out(user_dict);
  if (autocorrect) {
    if (const std::optional<std::string> correction = suggest::autocorrect_for(k)) {
      out.push(*correction, *correction == b ? kAutocorrectEqualScore : kAutocorrectScore,
               CandidateKind::kAutocorrect);
    }
  }

  const bool known = user_dict.contains(b);
  if (known || lexicon_map().contains(b)) {
    out.push(b, int64_t{user_dict.boost_for(b)} + kRenderedBonus,
             known ? CandidateKind::kUser : CandidateKind::kExact);
  }

  const size_t n = utf8::scalar_count(b);
  if (n > 0) {
    for (uint32_t id : first_of(collect_indices_for_prefix(bengali_index(), b), bucket_cap(n))) {
      const LexiconEntry e = lexicon_entry(id);
      const int64_t score = e.bangla.starts_with(b) ? int64_t{e.frequency} + kBanglaPrefixBonus : 0;
      out.push_word_if_positive(e.bangla, score, CandidateKind::kPrefix);
    }
  }

  if (mode == 0) {
    if (!k.empty()) push_phonetic(k, b, user_dict, out);
  } else if (mode == 1 || mode == 2 || mode == 3) {
    push_layout_near_words(b, out);
  }
  return out.ranked(limit);
}

}  // namespace tolvani::engine::test
