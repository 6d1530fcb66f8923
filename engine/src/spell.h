// Spelling distance and folds of Bangla words, shared by ranking, suggestion and commit.
// Thread-safety: every function may run on any thread; the edit distance keeps its scratch space
// per thread.
#ifndef TOLVANI_ENGINE_SPELL_H_
#define TOLVANI_ENGINE_SPELL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvani::engine {

// Clears `out` and fills it with the scalars of `word` (UTF-8), folding a decomposed nukta letter
// (ড, ঢ or য followed by U+09BC) into its precomposed letter. Invalid UTF-8 sequences fold as
// U+FFFD.
void fold_nukta_into(std::string_view word, std::vector<char32_t>& out);

// Levenshtein distance (unit costs, no transposition) over nukta-folded scalars, capped: the
// result is 0, 1, 2 or 3, where 3 means three or more. Allocates nothing once the thread's
// scratch has grown to the longest word seen.
uint32_t bounded_edit_distance(std::string_view a, std::string_view b);

// Maps letters commonly confused in spelling onto one representative and drops a final ো, so
// that two spellings that differ only cosmetically fold alike.
std::string cosmetic_fold(std::string_view word);

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_SPELL_H_
