#include "suggest.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "embedded.h"
#include "json_reader.h"
#include "keyfold.h"
#include "lexicon.h"
#include "lexicon_format.h"
#include "normalize.h"
#include "once_cell.h"
#include "phonetic.h"
#include "spell.h"
#include "user_dict.h"
#include "utf8.h"

TOLVANI_EMBEDDED_DATA(autocorrect);

namespace tolvani::engine::suggest {

namespace {

// ---------------------------------------------------------------------------------------------
// The autocorrect table

OnceCell<AutocorrectRows> g_autocorrect;
// Built on first need by the text path only: warming the caches leaves it alone.
OnceCell<std::unordered_set<std::string>> g_emoji_prefixes;

AutocorrectRows build_autocorrect() { return load_autocorrect(autocorrect_document()); }

const AutocorrectRows& autocorrect_rows() { return g_autocorrect.get_or_build(build_autocorrect); }

const std::unordered_set<std::string>& emoji_prefixes() {
  return g_emoji_prefixes.get_or_build([] { return emoji_prefixes_of(autocorrect_rows()); });
}

// A table set by a test, with its prefixes, in place of the shipped one.
struct TestTable {
  AutocorrectRows rows;
  std::unordered_set<std::string> prefixes;
};

std::mutex g_test_mu;
std::shared_ptr<const TestTable> g_test_table;  // guarded by g_test_mu

std::shared_ptr<const TestTable> test_table() {
  std::lock_guard<std::mutex> lock(g_test_mu);
  return g_test_table;
}

// Emoticons and shortcodes begin with punctuation; words begin with letters or digits.
bool is_alphanumeric(char32_t c) {
  const auto cp = static_cast<UChar32>(c);
  if (u_hasBinaryProperty(cp, UCHAR_ALPHABETIC)) return true;
  const int8_t type = u_charType(cp);
  return type == U_DECIMAL_DIGIT_NUMBER || type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

std::optional<std::string> lookup(const AutocorrectRows& rows, std::string_view text) {
  const auto it = rows.find(text);
  if (it == rows.end()) return std::nullopt;
  return it->second;
}

// ---------------------------------------------------------------------------------------------
// Suggestions

constexpr uint8_t kPhoneticMode = 0;
constexpr uint8_t kProbhatMode = 1;
constexpr uint8_t kNationalMode = 2;
constexpr uint8_t kUnijoyMode = 3;

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

constexpr size_t kFuzzyScanCap = 2'000;
constexpr size_t kNearByteSlack = 8;
constexpr size_t kNearCharSlack = 2;
constexpr size_t kLongKeyMinChars = 8;
constexpr size_t kLongKeyPrefixChars = 7;
constexpr size_t kLongKeyMaxRuns = 400;
constexpr size_t kLongKeyEntriesPerRun = 4;
constexpr size_t kLongKeyByteSlack = 3;
constexpr uint32_t kBeyondDistance = 3;  // bounded_edit_distance's "more than 2"

// How many ids of a prefix bucket are read, by the length of the typed text: short texts have
// huge buckets whose tail is never worth scoring.
size_t bucket_cap(size_t chars) { return chars == 1 ? 256 : chars == 2 ? 900 : 2'000; }

std::span<const uint32_t> first_ids(std::span<const uint32_t> ids, size_t cap) {
  return ids.first(std::min(ids.size(), cap));
}

// Bucket scans read entries far apart in the table: records are asked for well ahead of their
// use, and their texts (read from the records by then) a little less far ahead.
void prefetch_ahead(std::span<const uint32_t> ids, size_t i, void (*text)(uint32_t)) {
  constexpr size_t kRecordsAhead = 16;
  constexpr size_t kTextsAhead = 8;
  if (i + kRecordsAhead < ids.size()) prefetch_entry(ids[i + kRecordsAhead]);
  if (i + kTextsAhead < ids.size()) text(ids[i + kTextsAhead]);
}

size_t difference(size_t a, size_t b) { return a > b ? a - b : b - a; }

int32_t as_score(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Counts of the characters of an ASCII text, for a cheap lower bound of its edit distance to
// other ASCII texts: every character of the longer text that the other lacks (with repeats) costs
// at least one edit. Most keys of a bucket are ruled out by it before any full distance.
class AsciiBag {
 public:
  explicit AsciiBag(std::string_view text) : size_(text.size()) {
    usable_ = text.size() <= UINT8_MAX;  // so that no count can wrap
    for (size_t i = 0; usable_ && i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x80)
        usable_ = false;
      else
        ++counts_[c];
    }
  }

  // Whether the distance to `other` is certainly beyond 2; false when it cannot tell (a text that
  // is not ASCII).
  bool certainly_far(std::string_view other) const {
    if (!usable_) return false;
    // Counts what `other` takes of each character in a scratch table, then clears just those.
    size_t common = 0;
    bool ascii = true;
    for (char ch : other) {
      const auto c = static_cast<unsigned char>(ch);
      if (c >= 0x80) {
        ascii = false;
        break;
      }
      if (taken_[c] < counts_[c]) ++common;
      if (taken_[c] < UINT8_MAX) ++taken_[c];
    }
    for (char ch : other) {
      const auto c = static_cast<unsigned char>(ch);
      if (c >= 0x80) break;
      taken_[c] = 0;
    }
    return ascii && std::max(size_, other.size()) - common >= kBeyondDistance;
  }

 private:
  std::array<uint8_t, 128> counts_{};
  mutable std::array<uint8_t, 128> taken_{};
  size_t size_;
  bool usable_;
};

// The sources in the order their pushes make up the working list. Where two pushes of one text
// score the same, the earlier source gives the kind; within one source such pushes are alike
// (the kind follows the text), so only the source of a push is kept. Sources are evaluated in
// another order, the likely best first, so that the cut-off rises early.
enum class Step : uint8_t {
  kAutocorrect,
  kRendered,
  kBanglaPrefix,
  kYey,
  kPhoneticPrefix,
  kFolded,
  kExact,
  kNearKeys,
  kLongKeys,
  kLayoutNear,
};

// One candidate as pushed; the text lives in a lexicon pool or in one of suggestions_for's locals.
struct Pushed {
  std::string_view text;
  int32_t score;
  CandidateKind kind;
  Step step;
};

// The working list, and the cut-off below which a push cannot change the answer: the answer is
// the best `keep` distinct texts, so once that many texts have scored at least the cut-off, a
// push below it is out whatever comes later. A push that could not reach it is never made.
class Collector {
 public:
  Collector(const UserDictionary& user_dict, size_t limit)
      : user_(user_dict),
        keep_(std::min(std::max<size_t>(limit, 1), kMaxSuggestions)),
        max_boost_(user_dict.words().empty() ? 0 : kMaxUserBoost) {}

  const UserDictionary& user() const { return user_; }
  // The places in `ids` of the user's words (remembered by the dictionary).
  std::vector<uint32_t> known_places(std::span<const uint32_t> ids) const {
    if (max_boost_ == 0) return {};
    return user_.known_places(ids, [](uint32_t id) { return lexicon_entry(id).bangla; });
  }
  // The most a user's boost adds to any push.
  int64_t max_boost() const { return max_boost_; }
  // Whether a push scoring a user's boost alone could be in the answer.
  bool boost_alone_could_matter() const { return max_boost_ > 0 && could_matter(max_boost_); }

  void begin(Step step) { step_ = step; }

  // Whether a push scoring at most `best_possible` could be in the answer.
  bool could_matter(int64_t best_possible) const { return as_score(best_possible) >= cutoff_; }

  void push(std::string_view text, int64_t score, CandidateKind kind) {
    const int32_t s = as_score(score);
    if (s < cutoff_) return;
    pushed_.push_back({text, s, kind, step_});
    raise_cutoff(text, s);
  }

  // A lexicon word found by a step of kind `step_kind`: a word the user knows is theirs and
  // carries their boost.
  void push_word(std::string_view word, int64_t score_without_boost, CandidateKind step_kind) {
    if (!could_matter(score_without_boost + max_boost_)) return;
    if (user_.contains(word)) {
      push(word, score_without_boost + user_.boost_for(word), CandidateKind::kUser);
    } else {
      push(word, score_without_boost, step_kind);
    }
  }

  // As push_word, for scores that count only when positive.
  void push_word_if_positive(std::string_view word, int64_t score_without_boost,
                             CandidateKind step_kind) {
    if (score_without_boost + max_boost_ <= 0 || !could_matter(score_without_boost + max_boost_)) {
      return;
    }
    const bool known = user_.contains(word);
    const int64_t score = score_without_boost + (known ? user_.boost_for(word) : 0);
    if (score > 0) push(word, score, known ? CandidateKind::kUser : step_kind);
  }

  // Merges by text (a later push wins only with a strictly higher score), sorts and cuts.
  std::vector<Candidate> finish() const {
    // In the order (score, then text, then source) the first push of each text is the one the
    // merge keeps, so the answer is the first `keep_` distinct texts of that order. Only a prefix
    // of it is sorted, widened until it holds enough texts.
    std::vector<uint32_t> order(pushed_.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto before = [this](uint32_t a, uint32_t b) {
      const Pushed& x = pushed_[a];
      const Pushed& y = pushed_[b];
      if (x.score != y.score) return x.score > y.score;
      if (x.text != y.text) return x.text < y.text;
      return x.step < y.step;
    };
    std::vector<Candidate> out;
    for (size_t prefix = std::min<size_t>(4 * keep_, order.size());;
         prefix = std::min(2 * prefix, order.size())) {
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(prefix),
                        order.end(), before);
      out.clear();
      for (size_t i = 0; i < prefix && out.size() < keep_; ++i) {
        const Pushed& p = pushed_[order[i]];
        const bool seen = std::any_of(out.begin(), out.end(),
                                      [&](const Candidate& c) { return c.text == p.text; });
        if (!seen) out.push_back({std::string(p.text), p.score, p.kind});
      }
      if (out.size() >= keep_ || prefix == order.size()) return out;
    }
  }

 private:
  struct Best {
    std::string_view text;
    int32_t score;
  };

  // Keeps `best_` as `keep_` distinct texts with a score each has reached; the lowest of them is
  // the cut-off.
  void raise_cutoff(std::string_view text, int32_t score) {
    for (size_t i = 0; i < best_count_; ++i) {
      if (best_[i].text != text) continue;
      if (score > best_[i].score) {
        best_[i].score = score;
        if (best_count_ == keep_) cutoff_ = lowest_best()->score;
      }
      return;
    }
    if (best_count_ < keep_) {
      best_[best_count_++] = {text, score};
    } else if (score > cutoff_) {
      *lowest_best() = {text, score};
    } else {
      return;
    }
    if (best_count_ == keep_) cutoff_ = lowest_best()->score;
  }

  Best* lowest_best() {
    return std::min_element(best_.begin(), best_.begin() + static_cast<std::ptrdiff_t>(best_count_),
                            [](const Best& a, const Best& b) { return a.score < b.score; });
  }

  const UserDictionary& user_;
  const size_t keep_;
  const int64_t max_boost_;
  std::vector<Pushed> pushed_;
  Step step_ = Step::kAutocorrect;
  std::array<Best, kMaxSuggestions> best_{};
  size_t best_count_ = 0;
  int32_t cutoff_ = std::numeric_limits<int32_t>::min();
};

struct Section {
  uint32_t begin;
  uint32_t end;
};

// The three tiers of the entry table, from the end row of the exact index, clamped to the table.
std::array<Section, lexicon_format::kSections> entry_sections() {
  namespace fmt = lexicon_format;
  std::array<Section, fmt::kSections> sections{};
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

// Keys sharing the typed key's first seven characters, within a small edit distance, walked run
// by run across the three sorted sections in key order.
void push_long_keys(std::string_view k, const AsciiBag& bag, Collector& out) {
  out.begin(Step::kLongKeys);
  size_t cut = 0;
  for (size_t chars = 0; chars < kLongKeyPrefixChars && cut < k.size(); ++chars) {
    utf8::decode_next(k, cut);
  }
  const std::string_view p = k.substr(0, cut);
  // Every key beginning with p lies in [p, u).
  std::string u(p);
  if (static_cast<unsigned char>(u.back()) < 0xFF) u.back() = static_cast<char>(u.back() + 1);

  const auto sections = entry_sections();
  std::array<uint32_t, lexicon_format::kSections> cursor{};
  for (size_t s = 0; s < sections.size(); ++s) {
    cursor[s] = first_entry_with_key_at_least(sections[s].begin, sections[s].end, p);
  }
  size_t runs = 0;
  while (true) {
    size_t best = sections.size();
    std::string_view key;
    for (size_t s = 0; s < sections.size(); ++s) {
      if (cursor[s] >= sections[s].end) continue;
      const std::string_view candidate = entry_phonetic(cursor[s]);
      if (best == sections.size() || candidate < key) {
        best = s;
        key = candidate;
      }
    }
    if (best == sections.size() || key >= std::string_view(u)) return;
    const uint32_t run_begin = cursor[best];
    const uint32_t run_end = std::min(key_run_end(run_begin), sections[best].end);
    cursor[best] = run_end;
    if (runs == kLongKeyMaxRuns) return;
    ++runs;
    // A run is in frequency order: its first entry bounds them all.
    if (!out.could_matter(kLongKeyBase + int64_t{entry_frequency(run_begin)} + out.max_boost()) ||
        key == k || difference(key.size(), k.size()) > kLongKeyByteSlack ||
        bag.certainly_far(key)) {
      continue;
    }
    const uint32_t d = bounded_edit_distance(k, key);
    if (d >= kBeyondDistance) continue;
    const uint32_t last = std::min<uint32_t>(run_end, run_begin + kLongKeyEntriesPerRun);
    for (uint32_t id = run_begin; id < last; ++id) {
      const LexiconEntry e = lexicon_entry(id);
      out.push_word(e.bangla, kLongKeyBase - 200 * int64_t{d} + e.frequency,
                    CandidateKind::kPhonetic);
    }
  }
}

// A scan of ids in frequency order, highest first, read in two parts: the head, whose entries can
// matter without a user's boost, and then, once every source has read its head and the cut-off
// has risen, the tail, only as far as a boost could still lift an entry into the answer.
class FrequencyScan {
 public:
  // `bound(f)`: the most an entry of frequency f scores without a boost. `prefetch_head_text`:
  // the text the reader of the head reads first; in the tail, where only a user's word can
  // matter, that is the word.
  // `lexicon_list`: the ids are a slice of one of the lexicon's own lists, which never move, so
  // the dictionary may remember places in them.
  FrequencyScan(Step step, std::span<const uint32_t> ids, int64_t (*bound)(uint32_t),
                void (*prefetch_head_text)(uint32_t), bool lexicon_list = true)
      : step_(step),
        ids_(ids),
        bound_(bound),
        prefetch_head_text_(prefetch_head_text),
        lexicon_list_(lexicon_list) {}

  template <typename Read>
  void read_head(Collector& out, Read read) {
    read_while(out, 0, prefetch_head_text_, read);
  }
  template <typename Read>
  void read_tail(Collector& out, Read read) {
    if (out.max_boost() == 0) return;
    // A long tail is read through the places of the user's words in it, the only ones that can
    // matter there; the dictionary remembers those places from keystroke to keystroke.
    constexpr size_t kLongTail = 64;
    const size_t probe = next_ + kLongTail;
    if (!lexicon_list_ || probe >= ids_.size() ||
        !out.could_matter(bound_(entry_frequency(ids_[probe])) + out.max_boost())) {
      read_while(out, out.max_boost(), prefetch_entry_word, read);
      return;
    }
    out.begin(step_);
    for (const uint32_t place : out.known_places(ids_)) {
      if (place < next_) continue;
      const uint32_t id = ids_[place];
      if (!out.could_matter(bound_(entry_frequency(id)) + out.max_boost())) break;
      read(id);
    }
    next_ = ids_.size();
  }

 private:
  template <typename Read>
  void read_while(Collector& out, int64_t boost, void (*prefetch_text)(uint32_t), Read read) {
    out.begin(step_);
    for (; next_ < ids_.size(); ++next_) {
      const uint32_t id = ids_[next_];
      prefetch_ahead(ids_, next_, prefetch_text);
      // Every later entry scores no more than this one could.
      if (!out.could_matter(bound_(entry_frequency(id)) + boost)) return;
      read(id);
    }
  }

  Step step_;
  std::span<const uint32_t> ids_;
  int64_t (*bound_)(uint32_t);
  void (*prefetch_head_text_)(uint32_t);
  bool lexicon_list_;
  size_t next_ = 0;
};

// The typed key and what the phonetic sources share about it.
struct TypedKey {
  std::string_view k;
  size_t m;          // characters
  IdRange same;      // the entries whose key is exactly k
  uint32_t top = 0;  // the highest frequency of the exact run (three characters or more)

  bool is_same(uint32_t id) const { return id >= same.start && id < same.end; }
  // An entry far below the best of its key is a stray spelling, not what was meant.
  int32_t bonus(uint32_t f) const {
    return uint64_t{f} * 100 >= top ? kExactBonus : kWeakExactBonus;
  }
};

// "…yey" is often typed for a final "য়ে"; offers the word without the last "y" too.
void push_yey(const TypedKey& t, std::string_view b, const UserDictionary& user_dict,
              std::string& b2, Collector& out) {
  out.begin(Step::kYey);
  if (!t.k.ends_with("yey")) return;
  b2 = normalize_bengali(phonetic::convert_with_options(t.k.substr(0, t.k.size() - 1), true));
  const bool known = user_dict.contains(b2);
  if (b2 != b && (known || lexicon_map().contains(b2))) {
    out.push(b2, int64_t{frequency_for(b2)} + user_dict.boost_for(b2) + kYeyBonus,
             known ? CandidateKind::kUser : CandidateKind::kPhonetic);
  }
}

void push_exact(const TypedKey& t, Collector& out) {
  out.begin(Step::kExact);
  if (t.m < 3) return;
  for (uint32_t id = t.same.start; id < t.same.end; ++id) {
    const LexiconEntry e = lexicon_entry(id);
    out.push_word(e.bangla, int64_t{e.frequency} + t.bonus(e.frequency), CandidateKind::kPhonetic);
  }
}

void push_folded(const TypedKey& t, Collector& out) {
  out.begin(Step::kFolded);
  if (t.m < 3) return;
  const std::string folded = fold_key(t.k);
  if (folded.empty()) return;
  // Equal folded keys are in frequency order: once one entry cannot matter, none after it can.
  for (uint32_t id : phonetic_folded_ids(folded)) {
    if (!out.could_matter(int64_t{entry_frequency(id)} + kFoldedBonus + out.max_boost())) break;
    const LexiconEntry e = lexicon_entry(id);
    out.push_word(e.bangla, int64_t{e.frequency} + kFoldedBonus, CandidateKind::kPhonetic);
  }
}

// The phonetic prefix bucket of the typed key, in three parts told apart by id without reading
// the entries: the typed key's own entries, the longer keys starting with it, and the other keys,
// which count only for a user's words, by their boost.
class PhoneticBucket {
 public:
  explicit PhoneticBucket(const TypedKey& t)
      : t_(t),
        ids_(first_ids(collect_indices_for_prefix(phonetic_index(), t.k), bucket_cap(t.m))),
        prefixed_(key_prefix_ranges(t.k)) {
    longer_.reserve(ids_.size());
    for (uint32_t id : ids_) {
      if (t_.is_same(id)) {
        same_.push_back(id);
      } else if (has_prefix(id)) {
        longer_.push_back(id);
      }
    }
    longer_scan_.emplace(
        Step::kPhoneticPrefix, longer_, [](uint32_t f) { return int64_t{f} + kKeyPrefixBonus; },
        prefetch_entry_key, /*lexicon_list=*/false);
  }

  void read_head(Collector& out) {
    out.begin(Step::kPhoneticPrefix);
    for (uint32_t id : same_) push(id, out);
    longer_scan_->read_head(out, [&](uint32_t id) { push(id, out); });
  }

  void read_tail(Collector& out) {
    longer_scan_->read_tail(out, [&](uint32_t id) { push(id, out); });
  }

  void read_others(Collector& out) const {
    out.begin(Step::kPhoneticPrefix);
    if (!out.boost_alone_could_matter()) return;
    for (const uint32_t place : out.known_places(ids_)) {
      if (!has_prefix(ids_[place])) push(ids_[place], out);
    }
  }

 private:
  bool has_prefix(uint32_t id) const {
    return std::any_of(prefixed_.begin(), prefixed_.end(),
                       [id](const IdRange& r) { return id >= r.start && id < r.end; });
  }

  void push(uint32_t id, Collector& out) const {
    const LexiconEntry e = lexicon_entry(id);
    if (e.phonetic.empty()) return;
    if (e.phonetic == t_.k) {
      out.push_word_if_positive(e.bangla, int64_t{e.frequency} + t_.bonus(e.frequency),
                                CandidateKind::kPhonetic);
    } else if (e.phonetic.starts_with(t_.k)) {
      out.push_word_if_positive(e.bangla, int64_t{e.frequency} + kKeyPrefixBonus,
                                CandidateKind::kPhonetic);
    } else {
      out.push_word_if_positive(e.bangla, 0, CandidateKind::kPhonetic);
    }
  }

  const TypedKey& t_;
  std::span<const uint32_t> ids_;
  std::array<IdRange, 3> prefixed_;
  std::vector<uint32_t> same_;
  std::vector<uint32_t> longer_;
  std::optional<FrequencyScan> longer_scan_;  // over longer_, once it is filled
};

// The Bangla prefix bucket of the rendered word: the words starting with it, and the others,
// which count only for a user's words, by their boost.
class BanglaBucket {
 public:
  static std::span<const uint32_t> prefix_bucket(std::string_view b) {
    const size_t n = utf8::scalar_count(b);
    if (n == 0) return {};
    return first_ids(collect_indices_for_prefix(bengali_index(), b), bucket_cap(n));
  }

  explicit BanglaBucket(std::string_view b) : b_(b), ids_(prefix_bucket(b)) {}

  void read_head(Collector& out) {
    scan_.read_head(out, [&](uint32_t id) { push_prefixed(id, out); });
  }
  // Only a user's word can matter in the tail. When the user has few words starting with the
  // rendered one, those are looked up instead of reading the rest of the bucket.
  void read_tail(Collector& out) {
    if (out.max_boost() == 0 || ids_.empty()) return;
    const auto words = out.user().words_starting_with(b_, kUserWordsLookedUp);
    if (words.size() > kUserWordsLookedUp || lexicon_map().size() == 0) {
      scan_.read_tail(out, [&](uint32_t id) { push_prefixed(id, out); });
      return;
    }
    out.begin(Step::kBanglaPrefix);
    for (const std::string_view word : words) {
      // Of a word's entries its best (of the word's frequency) scores most, and the bucket holds
      // some of them only if it holds that one.
      const std::optional<uint32_t> f = lexicon_frequency(word);
      if (f && holds_best_entry(word, *f)) {
        out.push_word_if_positive(word, int64_t{*f} + kBanglaPrefixBonus, CandidateKind::kPrefix);
      }
    }
  }

  void read_others(Collector& out) const {
    out.begin(Step::kBanglaPrefix);
    if (!out.boost_alone_could_matter()) return;
    for (const uint32_t place : out.known_places(ids_)) {
      const std::string_view word = lexicon_entry(ids_[place]).bangla;
      if (!word.starts_with(b_)) out.push_word_if_positive(word, 0, CandidateKind::kPrefix);
    }
  }

 private:
  static constexpr size_t kUserWordsLookedUp = 32;

  // Whether the bucket's ids hold the best entry (of frequency f) of `word`, which starts with
  // the bucket key. The ids are the bucket's most frequent entries, so an entry more frequent
  // than the last id is among them and a less frequent one is not; one as frequent is looked for.
  bool holds_best_entry(std::string_view word, uint32_t f) const {
    const uint32_t last = entry_frequency(ids_.back());
    if (f != last) return f > last;
    for (size_t i = ids_.size(); i-- > 0 && entry_frequency(ids_[i]) == last;) {
      if (lexicon_entry(ids_[i]).bangla == word) return true;
    }
    return false;
  }

  void push_prefixed(uint32_t id, Collector& out) const {
    const LexiconEntry e = lexicon_entry(id);
    if (e.bangla.starts_with(b_)) {
      out.push_word_if_positive(e.bangla, int64_t{e.frequency} + kBanglaPrefixBonus,
                                CandidateKind::kPrefix);
    }
  }

  std::string_view b_;
  std::span<const uint32_t> ids_;
  FrequencyScan scan_{Step::kBanglaPrefix, ids_,
                      [](uint32_t f) { return int64_t{f} + kBanglaPrefixBonus; },
                      prefetch_entry_word};
};

// Keys near the typed key: its first character's bucket, within a small edit distance.
class NearKeys {
 public:
  explicit NearKeys(const TypedKey& t)
      : t_(t),
        bag_(t.k),
        scan_(
            Step::kNearKeys,
            t.m < 2 ? std::span<const uint32_t>()
                    : first_ids(collect_indices_for_fuzzy(phonetic_index(), t.k), kFuzzyScanCap),
            [](uint32_t f) { return int64_t{std::min(f, kNearKeyFrequencyCap)} + kNearKeyBase; },
            prefetch_entry_key) {}

  void read_head(Collector& out) {
    scan_.read_head(out, [&](uint32_t id) { push(id, false, out); });
  }
  void read_tail(Collector& out) {
    scan_.read_tail(out, [&](uint32_t id) { push(id, true, out); });
  }
  const AsciiBag& bag() const { return bag_; }

 private:
  // `users_only`: only a user's word can still matter, which is cheaper to ask than a distance.
  void push(uint32_t id, bool users_only, Collector& out) const {
    const LexiconEntry e = lexicon_entry(id);
    // Length filters first: most of the bucket is ruled out without computing a distance.
    if (e.phonetic.empty() || difference(e.phonetic.size(), t_.k.size()) > kNearByteSlack ||
        difference(utf8::scalar_count(e.phonetic), t_.m) > kNearCharSlack ||
        (users_only && !out.user().contains(e.bangla))) {
      return;
    }
    if (bag_.certainly_far(e.phonetic)) return;
    const uint32_t d = bounded_edit_distance(t_.k, e.phonetic);
    if (d >= kBeyondDistance) return;
    out.push_word(
        e.bangla,
        int64_t{std::min(e.frequency, kNearKeyFrequencyCap)} - 100 * int64_t{d} + kNearKeyBase,
        CandidateKind::kPhonetic);
  }

  const TypedKey& t_;
  AsciiBag bag_;
  FrequencyScan scan_;
};

// Layout modes: words near the rendered one, from its first character's bucket.
class LayoutNearWords {
 public:
  explicit LayoutNearWords(std::string_view b)
      : b_(b),
        n_(utf8::scalar_count(b)),
        scan_(
            Step::kLayoutNear,
            n_ == 0 ? std::span<const uint32_t>()
                    : first_ids(collect_indices_for_fuzzy(bengali_index(), b), kFuzzyScanCap),
            [](uint32_t f) { return int64_t{f} + kLayoutNearBase; }, prefetch_entry_word) {}

  void read_head(Collector& out) {
    scan_.read_head(out, [&](uint32_t id) { push(id, false, out); });
  }
  void read_tail(Collector& out) {
    scan_.read_tail(out, [&](uint32_t id) { push(id, true, out); });
  }

 private:
  // `users_only`: only a user's word can still matter, which is cheaper to ask than a distance.
  void push(uint32_t id, bool users_only, Collector& out) const {
    const LexiconEntry e = lexicon_entry(id);
    if (difference(e.bangla.size(), b_.size()) > kNearByteSlack ||
        difference(utf8::scalar_count(e.bangla), n_) > kNearCharSlack ||
        (users_only && !out.user().contains(e.bangla))) {
      return;
    }
    const uint32_t d = bounded_edit_distance(b_, e.bangla);
    if (d >= kBeyondDistance) return;
    out.push_word(e.bangla, int64_t{e.frequency} - 100 * int64_t{d} + kLayoutNearBase,
                  CandidateKind::kPrefix);
  }

  std::string_view b_;
  size_t n_;
  FrequencyScan scan_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

std::vector<Candidate> suggestions_for(uint8_t mode, std::string_view key,
                                       std::string_view rendered, const UserDictionary& user_dict,
                                       size_t limit, bool autocorrect) {
  if (rendered.empty()) return {};
  // Owned texts that pushed candidates point into; they outlive the collector's work.
  const std::string b = normalize_bengali(rendered);
  const std::string k = utf8::ascii_lower(utf8::trim_white_space(key));
  std::optional<std::string> correction;
  std::string b2;

  Collector out(user_dict, limit);
  out.begin(Step::kAutocorrect);
  if (autocorrect) {
    correction = autocorrect_for(k);
    if (correction) {
      out.push(*correction, *correction == b ? kAutocorrectEqualScore : kAutocorrectScore,
               CandidateKind::kAutocorrect);
    }
  }

  out.begin(Step::kRendered);
  if (const bool known = user_dict.contains(b); known || lexicon_map().contains(b)) {
    out.push(b, int64_t{user_dict.boost_for(b)} + kRenderedBonus,
             known ? CandidateKind::kUser : CandidateKind::kExact);
  }

  // The sources that can score most go first; what counts only with a user's boost goes last,
  // when the cut-off has risen.
  BanglaBucket bangla_bucket(b);
  if (mode == kPhoneticMode && !k.empty()) {
    TypedKey t{k, utf8::scalar_count(k), {}};
    t.same = t.m >= 3 ? phonetic_exact_ids(k) : exact_key_range(k);
    if (t.m >= 3) {
      for (uint32_t id = t.same.start; id < t.same.end; ++id) {
        t.top = std::max(t.top, entry_frequency(id));
      }
    }
    push_yey(t, b, user_dict, b2, out);
    push_exact(t, out);
    push_folded(t, out);
    PhoneticBucket phonetic_bucket(t);
    phonetic_bucket.read_head(out);
    bangla_bucket.read_head(out);
    NearKeys near_keys(t);
    near_keys.read_head(out);
    if (t.m >= kLongKeyMinChars) push_long_keys(k, near_keys.bag(), out);
    phonetic_bucket.read_tail(out);
    bangla_bucket.read_tail(out);
    near_keys.read_tail(out);
    phonetic_bucket.read_others(out);
  } else {
    bangla_bucket.read_head(out);
    std::optional<LayoutNearWords> near_words;
    if (mode == kProbhatMode || mode == kNationalMode || mode == kUnijoyMode) {
      near_words.emplace(b);
      near_words->read_head(out);
    }
    bangla_bucket.read_tail(out);
    if (near_words) near_words->read_tail(out);
  }
  bangla_bucket.read_others(out);
  return out.finish();
}

// ---------------------------------------------------------------------------------------------

std::string_view autocorrect_document() { return TOLVANI_EMBEDDED_VIEW(autocorrect); }

AutocorrectRows load_autocorrect(std::string_view document) {
  json::Value root;
  std::string error;
  if (!json::parse(document, root, error)) {
    std::fprintf(stderr, "[Tolvani] failed to parse autocorrect data: %s\n", error.c_str());
    return {};
  }
  if (root.kind != json::Value::Kind::kArray) {
    std::fprintf(stderr, "[Tolvani] autocorrect data is not an array\n");
    return {};
  }
  AutocorrectRows rows;
  for (const json::Value& item : root.items) {
    json::Record record(item, {"input", "output"});
    const json::Value* input = record.get("input");
    const json::Value* output = record.get("output");
    // A record naming a field twice is as unusable as one that lacks it.
    if (!record.ok() || input == nullptr || output == nullptr ||
        input->kind != json::Value::Kind::kString || output->kind != json::Value::Kind::kString) {
      continue;
    }
    rows.insert_or_assign(input->string, output->string);
  }
  return rows;
}

std::unordered_set<std::string> emoji_prefixes_of(const AutocorrectRows& rows) {
  std::unordered_set<std::string> prefixes;
  for (const auto& [input, replacement] : rows) {
    const std::optional<char32_t> first = utf8::first_char(input);
    if (!first || input.size() < 2 || is_alphanumeric(*first)) continue;
    for (size_t pos = 0; pos < input.size();) {
      utf8::decode_next(input, pos);
      if (pos < input.size()) prefixes.insert(input.substr(0, pos));
    }
  }
  return prefixes;
}

std::optional<std::string> autocorrect_for(std::string_view text) {
  if (auto t = test_table()) return lookup(t->rows, text);
  return lookup(autocorrect_rows(), text);
}

std::optional<std::string> autocorrect_for_with_cache_policy(std::string_view text, bool blocking) {
  if (auto t = test_table()) return lookup(t->rows, text);
  const AutocorrectRows* rows = g_autocorrect.get(blocking, build_autocorrect);
  return rows ? lookup(*rows, text) : std::nullopt;
}

bool could_start_emoji(char32_t c) {
  // Only inputs that begin with neither a letter nor a digit have prefixes in the set, so a
  // letter is answered without building the table (the first keystroke of a session need not).
  if (!utf8::is_scalar(c) || is_alphanumeric(c)) return false;
  std::string s;
  utf8::append(s, c);
  if (auto t = test_table()) return t->prefixes.contains(s);
  return emoji_prefixes().contains(s);
}

bool could_be_emoji_prefix(std::string_view text) {
  const auto t = test_table();
  const std::unordered_set<std::string>& prefixes = t ? t->prefixes : emoji_prefixes();
  if (prefixes.contains(std::string(text))) return true;
  const AutocorrectRows& rows = t ? t->rows : autocorrect_rows();
  // Inputs that extend `text` sort right after it (and after `text` itself, if it is an input).
  auto it = rows.lower_bound(text);
  if (it != rows.end() && it->first == text) ++it;
  return it != rows.end() && it->first.starts_with(text);
}

void warm_autocorrect() { autocorrect_rows(); }

bool autocorrect_ready() { return g_autocorrect.is_built(); }

void test_set_autocorrect_rows(std::optional<AutocorrectRows> rows) {
  std::shared_ptr<const TestTable> table;
  if (rows) {
    auto prefixes = emoji_prefixes_of(*rows);
    table = std::make_shared<const TestTable>(TestTable{std::move(*rows), std::move(prefixes)});
  }
  std::lock_guard<std::mutex> lock(g_test_mu);
  g_test_table = std::move(table);
}

}  // namespace tolvani::engine::suggest
