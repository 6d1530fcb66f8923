// Random keys, words and ids through the lexicon lookups. Keys and words are either raw bytes or
// real ones taken from a random entry and cut or changed, so that most lookups hit. Every id
// handed out must be in range and every entry returned must match what was asked.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "keyfold.h"
#include "lexicon.h"
#include "utf8.h"

namespace {

using namespace tolvani::engine;

class Input : public tolvani::fuzz::FuzzInput {
 public:
  using FuzzInput::FuzzInput;
  // An id that is usually inside the lexicon, sometimes at or past its end.
  uint32_t id() {
    const uint32_t n = lexicon_size();
    switch (byte() % 4) {
      case 0:
        return u32();
      case 1:
        return n + byte() % 4 - 2;
      default:
        return n == 0 ? 0 : u32() % n;
    }
  }
  std::string bytes() {
    std::string s;
    const uint8_t len = byte() % 32;
    for (uint8_t i = 0; i < len && !empty(); ++i) s.push_back(static_cast<char>(byte()));
    return s;
  }
  // A real key or word, cut short or with one byte changed, or raw bytes.
  std::string text(bool bangla) {
    const uint8_t how = byte();
    if (how % 4 == 0) return bytes();
    const LexiconEntry e = lexicon_entry(id());
    std::string s(bangla ? e.bangla : e.phonetic);
    if (how % 4 == 2 && !s.empty()) s.resize(byte() % s.size());
    if (how % 4 == 3 && !s.empty()) s[byte() % s.size()] = static_cast<char>(byte());
    if (how & 0x80) s = " " + s + "\t";
    if (how & 0x40) {
      for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
    }
    return s;
  }
};

// Names the failed check, so that a crash report says which property broke.
#define require(ok)                                    \
  do {                                                 \
    if (!(ok)) {                                       \
      std::fprintf(stderr, "check failed: %s\n", #ok); \
      std::abort();                                    \
    }                                                  \
  } while (false)

void check_range(IdRange r, std::string_view key) {
  const uint32_t n = lexicon_size();
  if (r.empty()) {
    require(r == IdRange{});
    return;
  }
  require(r.end <= n);
  for (uint32_t id = r.start; id < r.end; ++id) require(entry_phonetic(id) == key);
  // The whole run: the neighbours have other keys.
  if (r.start > 0) require(entry_phonetic(r.start - 1) != key);
  if (r.end < n) require(entry_phonetic(r.end) != key);
  require(key_run_end(r.start) == r.end);
}

void check_folded(std::span<const uint32_t> ids, std::string_view folded) {
  for (uint32_t id : ids) {
    require(id < lexicon_size());
    require(fold_key(entry_phonetic(id)) == folded);
  }
}

// Every id of a bucket is in range and its text starts with the bucket key.
void check_bucket(std::span<const uint32_t> ids, bool bangla) {
  for (uint32_t id : ids) {
    require(id < lexicon_size());
    const LexiconEntry e = lexicon_entry(id);
    require(!(bangla ? e.bangla : e.phonetic).empty());
  }
}

// The first character as the engine reads it: an ill-formed byte counts as one character.
std::string_view first_char(std::string_view text) {
  size_t end = 0;
  if (!text.empty()) utf8::decode_next(text, end);
  return text.substr(0, end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint32_t n = lexicon_size();
  while (!in.empty()) {
    switch (in.byte() % 11) {
      case 0: {
        const std::string key = in.text(false);
        const IdRange r = exact_key_range(key);
        check_range(r, key);
        require(phonetic_exact_ids(key) == r);
        const auto best = best_exact_entry(key);
        if (best) {
          require(!r.empty());
          require(has_exact_entry_for(key, best->first));
        }
        break;
      }
      case 1: {
        const std::string key = in.text(false);
        const std::string folded = fold_key(key);
        const std::span<const uint32_t> ids = folded_key_ids(folded);
        check_folded(ids, folded);
        const std::span<const uint32_t> again = phonetic_folded_ids(folded);
        require(again.size() == ids.size());
        // A key that is in the lexicon is found under its fold.
        const IdRange r = exact_key_range(key);
        for (uint32_t id = r.start; id < r.end; ++id) {
          bool found = false;
          for (uint32_t f : ids) found = found || f == id;
          require(found);
        }
        break;
      }
      case 2: {
        const std::string key = in.text(false);
        const std::string word = in.text(true);
        const bool has = has_exact_entry_for(key, word);
        if (has) {
          const IdRange r = exact_key_range(key);
          require(!r.empty());
          require(best_exact_entry(key).has_value());
        }
        break;
      }
      case 3: {
        const bool bangla = in.byte() & 1;
        const std::string text = in.text(bangla);
        const PrefixIndex& index = bangla ? bengali_index() : phonetic_index();
        const std::span<const uint32_t> prefix = collect_indices_for_prefix(index, text);
        check_bucket(prefix, bangla);
        for (uint32_t id : prefix) {
          const LexiconEntry e = lexicon_entry(id);
          const std::string_view t = bangla ? e.bangla : e.phonetic;
          require(t.starts_with(first_char(text)));
        }
        const std::span<const uint32_t> fuzzy = collect_indices_for_fuzzy(index, text);
        check_bucket(fuzzy, bangla);
        for (uint32_t id : fuzzy) {
          const LexiconEntry e = lexicon_entry(id);
          require((bangla ? e.bangla : e.phonetic).starts_with(first_char(text)));
        }
        if (bangla) require(bengali_fuzzy_indices(text).size() == fuzzy.size());
        break;
      }
      case 4: {
        const uint32_t id = in.id();
        const LexiconEntry e = lexicon_entry(id);
        const uint32_t end = key_run_end(id);
        if (id >= n) {
          require(e.bangla.empty() && e.phonetic.empty() && e.frequency == 0);
          require(end == id);
        } else {
          require(end > id && end <= n);
          require(entry_phonetic(end - 1) == e.phonetic);
          require(!e.phonetic.empty());
          require(!exact_key_range(e.phonetic).empty());
          require(has_exact_entry_for(e.phonetic, e.bangla));
        }
        break;
      }
      case 5: {
        const std::string word = in.text(true);
        const auto f = lexicon_frequency(word);
        require(frequency_for(word) == f.value_or(0) || !f);
        require(lexicon_contains_with_cache_policy(word, true) == f.has_value());
        require(lexicon_contains_with_cache_policy(word, false) == f.has_value());
        break;
      }
      case 6: {
        const uint32_t id = in.id();
        if (id < n) {
          const LexiconEntry e = lexicon_entry(id);
          require(lexicon_frequency(e.bangla).has_value());
        }
        break;
      }
      case 7: {
        const std::string text = in.text(false);
        const bool has = has_exact_phonetic_with_cache_policy(text, true);
        // Once built, the non-blocking lookup answers the same.
        require(has_exact_phonetic_with_cache_policy(text, false) == has);
        // Keys are stored lowercased and trimmed (of any Unicode white space), so a key of that
        // form answers as its range.
        bool plain = !text.empty() && utf8::trim_white_space(text).size() == text.size();
        for (char c : text) plain = plain && !(c >= 'A' && c <= 'Z');
        if (plain) require(has == !exact_key_range(text).empty());
        break;
      }
      case 8: {
        uint32_t lo = in.id();
        uint32_t hi = in.id();
        if (lo > hi) std::swap(lo, hi);
        if (hi > n) hi = n;
        if (lo > hi) lo = hi;
        const std::string key = in.text(false);
        const uint32_t i = first_entry_with_key_at_least(lo, hi, key);
        require(i >= lo && i <= hi);
        break;
      }
      case 9: {
        // Every entry of the prefix's ranges has a key starting with it, the prefix's own run
        // among them.
        const std::string prefix = in.text(false);
        const IdRange own = exact_key_range(prefix);
        bool own_found = own.empty();
        for (const IdRange& r : key_prefix_ranges(prefix)) {
          require(r.start <= r.end && r.end <= n);
          // Both ends of each range (a short prefix has tens of thousands of entries).
          const uint32_t head_end = std::min(r.end, r.start + 64);
          for (uint32_t id = r.start; id < head_end; ++id) {
            require(entry_phonetic(id).starts_with(prefix));
          }
          for (uint32_t id = std::max(head_end, r.end - std::min(r.end, 64u)); id < r.end; ++id) {
            require(entry_phonetic(id).starts_with(prefix));
          }
          own_found = own_found || (own.start >= r.start && own.end <= r.end);
        }
        require(own_found);
        break;
      }
      default: {
        KeyFolder folder;
        const std::string a = in.text(false);
        const std::string b = in.text(false);
        const std::string fa(folder.fold(a));
        require(std::string(folder.fold(b)) == fold_key(b));
        require(fa == fold_key(a));
        break;
      }
    }
  }
  return 0;
}
