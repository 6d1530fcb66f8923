// Phonetic transliteration of Latin input into Bangla by the embedded rule grammar.
// Thread-safety: safe on any thread. The grammar is built once per process, on first use, and
// read without locks afterwards.
#ifndef TOLVANI_ENGINE_PHONETIC_H_
#define TOLVANI_ENGINE_PHONETIC_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tolvani::engine::phonetic {

enum class ConsonantKind : uint8_t { kConsonant, kCluster, kMark, kLetter };

struct VowelRule {
  std::u32string latin;
  std::string independent;
  std::string dependent;  // may be empty ("o" keeps the inherent vowel)
};

struct ConsonantRule {
  std::u32string latin;
  std::string bangla;
  ConsonantKind kind = ConsonantKind::kConsonant;
  bool ends_with_vowel = false;
};

struct MarkRule {
  std::u32string latin;
  std::string bangla;
};

// Hashes strings and views alike, so lookups by view allocate nothing.
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using StringMap = std::unordered_map<std::string, std::string, StringHash, std::equal_to<>>;

struct Grammar {
  // Each list sorted by key length, longest first, keeping document order among equals, so the
  // first rule that matches at a position is the longest.
  std::vector<VowelRule> vowels;
  std::vector<ConsonantRule> consonants;
  std::vector<MarkRule> marks;
  std::unordered_map<char32_t, std::string> digits;
  StringMap word_overrides;

  // For each first character, the indexes of the rules starting with it, in list order.
  std::unordered_map<char32_t, std::vector<uint16_t>> vowels_by_first;
  std::unordered_map<char32_t, std::vector<uint16_t>> consonants_by_first;
  std::unordered_map<char32_t, std::vector<uint16_t>> marks_by_first;
};

// Reads a grammar document strictly: a field named twice in a record, a missing field or a
// value of the wrong type fails the whole document (nothing, with `error` set). Within "digits"
// and "word_overrides" a repeated key keeps the last value.
std::optional<Grammar> parse_grammar(std::string_view document, std::string& error);

// The embedded grammar document.
std::string_view grammar_document();

// The process-wide grammar; an empty one (after one diagnostic line) if the document is broken.
const Grammar& grammar();

struct VowelMatch {
  std::string_view independent;
  std::string_view dependent;
  size_t length;  // characters of the key
};

struct ConsonantMatch {
  std::string_view bangla;
  ConsonantKind kind;
  size_t length;  // characters of the key
  bool ends_with_vowel;
};

// Whether `key` equals the input's characters from `pos` on (false when the input ends first).
bool matches_latin(std::u32string_view input, size_t pos, std::u32string_view key);

// The first (longest) rule of its list whose key matches at `pos`.
std::optional<VowelMatch> match_vowel(const Grammar& g, std::u32string_view input, size_t pos);
std::optional<ConsonantMatch> match_consonant(const Grammar& g, std::u32string_view input,
                                              size_t pos);
std::optional<VowelMatch> match_vowel(std::u32string_view input, size_t pos);
std::optional<ConsonantMatch> match_consonant(std::u32string_view input, size_t pos);

// The Bangla reading of `text`, not yet normalised. With `bangla_digits`, ASCII digits come out
// as Bangla digits. Allocates nothing beyond its result once the thread's scratch has grown.
std::string convert_with_options(std::string_view text, bool bangla_digits);
std::string convert_with_grammar(const Grammar& g, std::string_view text, bool bangla_digits);

// Whether `text` holds a capital whose case selects another letter (O I U D G J N R S T Y Z).
bool has_explicit_case(std::string_view text);

// The whole-word override of the trimmed text, if any.
std::optional<std::string> word_override(std::string_view text);

}  // namespace tolvani::engine::phonetic

#endif  // TOLVANI_ENGINE_PHONETIC_H_
