// Phonetic transliteration of Latin input into Bangla.
// Thread-safety: safe on any thread.
#ifndef TOLVANI_ENGINE_PHONETIC_H_
#define TOLVANI_ENGINE_PHONETIC_H_

#include <string>
#include <string_view>

namespace tolvani::engine::phonetic {

// The Bangla reading of `text`, not yet normalised. With `bangla_digits`, ASCII digits come out
// as Bangla digits.
// Until the grammar is in place the text is returned as typed.
std::string convert_with_options(std::string_view text, bool bangla_digits);

}  // namespace tolvani::engine::phonetic

#endif  // TOLVANI_ENGINE_PHONETIC_H_
