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
    usable_ = text.size() <= UINT16_MAX;  // so that no count can wrap
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
    std::array<uint16_t, 128> left = counts_;
    size_t common = 0;
    for (char ch : other) {
      const auto c = static_cast<unsigned char>(ch);
      if (c >= 0x80) return false;
      if (left[c] > 0) {
        --left[c];
        ++common;
      }
    }
    return std::max(size_, other.size()) - common >= kBeyondDistance;
  }

 private:
  std::array<uint16_t, 128> counts_{};
  size_t size_;
  bool usable_;
};

// One candidate as pushed; the text lives in a lexicon pool or in one of suggestions_for's locals.
struct Pushed {
  std::string_view text;
  int32_t score;
  CandidateKind kind;
};

class Collector {
 public:
  explicit Collector(const UserDictionary& user_dict) : user_(user_dict) {}

  void push(std::string_view text, int64_t score, CandidateKind kind) {
    pushed_.push_back({text, as_score(score), kind});
  }

  // A lexicon word found by a step of kind `step_kind`: a word the user knows is theirs and
  // carries their boost.
  void push_word(std::string_view word, int64_t score_without_boost, CandidateKind step_kind) {
    if (user_.contains(word)) {
      push(word, score_without_boost + user_.boost_for(word), CandidateKind::kUser);
    } else {
      push(word, score_without_boost, step_kind);
    }
  }

  // As push_word, for scores that count only when positive.
  void push_word_if_positive(std::string_view word, int64_t score_without_boost,
                             CandidateKind step_kind) {
    const bool known = user_.contains(word);
    const int64_t score = score_without_boost + (known ? user_.boost_for(word) : 0);
    if (score > 0) push(word, score, known ? CandidateKind::kUser : step_kind);
  }

  // Merges by text (a later push wins only with a strictly higher score), sorts and cuts.
  std::vector<Candidate> finish(size_t limit) const {
    const size_t keep = std::min(std::max<size_t>(limit, 1), kMaxSuggestions);
    // In the order (score, then text, then push order) the first push of each text is the one
    // the merge keeps, so the answer is the first `keep` distinct texts of that order. Only a
    // prefix of it is sorted, widened until it holds enough texts: thousands of pushes per
    // keystroke need neither a full sort nor a hash of every text.
    std::vector<uint32_t> order(pushed_.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto before = [this](uint32_t a, uint32_t b) {
      const Pushed& x = pushed_[a];
      const Pushed& y = pushed_[b];
      if (x.score != y.score) return x.score > y.score;
      if (x.text != y.text) return x.text < y.text;
      return a < b;
    };
    std::vector<Candidate> out;
    for (size_t prefix = std::min<size_t>(4 * keep, order.size());;
         prefix = std::min(2 * prefix, order.size())) {
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(prefix),
                        order.end(), before);
      out.clear();
      for (size_t i = 0; i < prefix && out.size() < keep; ++i) {
        const Pushed& p = pushed_[order[i]];
        const bool seen = std::any_of(out.begin(), out.end(),
                                      [&](const Candidate& c) { return c.text == p.text; });
        if (!seen) out.push_back({std::string(p.text), p.score, p.kind});
      }
      if (out.size() >= keep || prefix == order.size()) return out;
    }
  }

 private:
  const UserDictionary& user_;
  std::vector<Pushed> pushed_;
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
    if (key == k || difference(key.size(), k.size()) > kLongKeyByteSlack ||
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

void push_phonetic(std::string_view k, std::string_view b, const UserDictionary& user_dict,
                   std::string& b2, Collector& out) {
  const size_t m = utf8::scalar_count(k);

  // "…yey" is often typed for a final "য়ে"; offer the word without the last "y" too.
  if (k.ends_with("yey")) {
    b2 = normalize_bengali(phonetic::convert_with_options(k.substr(0, k.size() - 1), true));
    const bool known = user_dict.contains(b2);
    if (b2 != b && (known || lexicon_map().contains(b2))) {
      out.push(b2, int64_t{frequency_for(b2)} + user_dict.boost_for(b2) + kYeyBonus,
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
  // An entry far below the best of its key is a stray spelling, not what was meant.
  const auto bonus = [top](uint32_t f) {
    return uint64_t{f} * 100 >= top ? kExactBonus : kWeakExactBonus;
  };

  for (uint32_t id : first_ids(collect_indices_for_prefix(phonetic_index(), k), bucket_cap(m))) {
    const LexiconEntry e = lexicon_entry(id);
    if (e.phonetic.empty()) continue;
    if (e.phonetic == k) {
      out.push_word_if_positive(e.bangla, int64_t{e.frequency} + bonus(e.frequency),
                                CandidateKind::kPhonetic);
    } else if (e.phonetic.starts_with(k)) {
      out.push_word_if_positive(e.bangla, int64_t{e.frequency} + kKeyPrefixBonus,
                                CandidateKind::kPhonetic);
    } else {
      out.push_word_if_positive(e.bangla, 0, CandidateKind::kPhonetic);
    }
  }

  if (m >= 3) {
    if (const std::string folded = fold_key(k); !folded.empty()) {
      for (uint32_t id : phonetic_folded_ids(folded)) {
        const LexiconEntry e = lexicon_entry(id);
        out.push_word(e.bangla, int64_t{e.frequency} + kFoldedBonus, CandidateKind::kPhonetic);
      }
    }
  }

  for (uint32_t id = exact.start; id < exact.end; ++id) {
    const LexiconEntry e = lexicon_entry(id);
    out.push_word(e.bangla, int64_t{e.frequency} + bonus(e.frequency), CandidateKind::kPhonetic);
  }

  const AsciiBag bag(k);
  if (m >= 2) {
    for (uint32_t id : first_ids(collect_indices_for_fuzzy(phonetic_index(), k), kFuzzyScanCap)) {
      const LexiconEntry e = lexicon_entry(id);
      // Length filters first: most of the bucket is ruled out without computing a distance.
      if (e.phonetic.empty() || difference(e.phonetic.size(), k.size()) > kNearByteSlack ||
          difference(utf8::scalar_count(e.phonetic), m) > kNearCharSlack) {
        continue;
      }
      if (bag.certainly_far(e.phonetic)) continue;
      const uint32_t d = bounded_edit_distance(k, e.phonetic);
      if (d >= kBeyondDistance) continue;
      out.push_word(
          e.bangla,
          int64_t{std::min(e.frequency, kNearKeyFrequencyCap)} - 100 * int64_t{d} + kNearKeyBase,
          CandidateKind::kPhonetic);
    }
  }

  if (m >= kLongKeyMinChars) push_long_keys(k, bag, out);
}

void push_layout_near_words(std::string_view b, Collector& out) {
  const size_t n = utf8::scalar_count(b);
  if (n == 0) return;
  for (uint32_t id : first_ids(collect_indices_for_fuzzy(bengali_index(), b), kFuzzyScanCap)) {
    const LexiconEntry e = lexicon_entry(id);
    if (difference(e.bangla.size(), b.size()) > kNearByteSlack ||
        difference(utf8::scalar_count(e.bangla), n) > kNearCharSlack) {
      continue;
    }
    const uint32_t d = bounded_edit_distance(b, e.bangla);
    if (d >= kBeyondDistance) continue;
    out.push_word(e.bangla, int64_t{e.frequency} - 100 * int64_t{d} + kLayoutNearBase,
                  CandidateKind::kPrefix);
  }
}

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

  Collector out(user_dict);
  if (autocorrect) {
    correction = autocorrect_for(k);
    if (correction) {
      out.push(*correction, *correction == b ? kAutocorrectEqualScore : kAutocorrectScore,
               CandidateKind::kAutocorrect);
    }
  }

  if (const bool known = user_dict.contains(b); known || lexicon_map().contains(b)) {
    out.push(b, int64_t{user_dict.boost_for(b)} + kRenderedBonus,
             known ? CandidateKind::kUser : CandidateKind::kExact);
  }

  if (const size_t n = utf8::scalar_count(b); n > 0) {
    for (uint32_t id : first_ids(collect_indices_for_prefix(bengali_index(), b), bucket_cap(n))) {
      const LexiconEntry e = lexicon_entry(id);
      out.push_word_if_positive(
          e.bangla, e.bangla.starts_with(b) ? int64_t{e.frequency} + kBanglaPrefixBonus : 0,
          CandidateKind::kPrefix);
    }
  }

  if (mode == kPhoneticMode) {
    if (!k.empty()) push_phonetic(k, b, user_dict, b2, out);
  } else if (mode == kProbhatMode || mode == kNationalMode) {
    push_layout_near_words(b, out);
  }
  return out.finish(limit);
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
