// The two normalisers of the engine: trimming of Latin input, and the one normaliser of Bangla
// text that is shown, compared or stored.
// Thread-safety: safe on any thread.
#ifndef TOLVANI_ENGINE_NORMALIZE_H_
#define TOLVANI_ENGINE_NORMALIZE_H_

#include <string>
#include <string_view>

namespace tolvani::engine {

// `text` without leading and trailing White_Space; a view into `text`.
std::string_view normalize_phonetic_input(std::string_view text);

// U+FEFF is deleted; NFC; then "ত্" with a zero-width joiner becomes "ৎ", no-break spaces become
// spaces, and surrounding White_Space is removed. Nukta letters stay decomposed. Ill-formed UTF-8
// comes out as U+FFFD. The form of a form is itself (word_form::normal_form).
std::string normalize_bengali(std::string_view text);

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_NORMALIZE_H_
