// Verb and noun suffixes, and the known-stem forms built from them when the lexicon has nothing
// for a typed word ("রংটা" is offered as "রঙটা" when "রং" is a word).
// Thread-safety: constant tables and pure functions.
#ifndef TOLVANI_ENGINE_SUFFIX_H_
#define TOLVANI_ENGINE_SUFFIX_H_

#include <span>
#include <string>
#include <string_view>

namespace tolvani::engine {

// Searched in this order: every verb suffix, then every noun suffix.
std::span<const std::string_view> verb_suffixes();
std::span<const std::string_view> noun_suffixes();

// The stem joined to the suffix: a final anusvara before a consonant becomes ঙ, a final khanda ta
// becomes ত, and য় stands between a vowel and a vowel sign.
std::string join_stem_and_suffix(std::string_view stem, std::string_view suffix);

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_SUFFIX_H_
