#include "normalize.h"

#include "utf8.h"
#include "word_form.h"

namespace tolvani::engine {

std::string_view normalize_phonetic_input(std::string_view text) {
  return utf8::trim_white_space(text);
}

// The stores key words by this form and the settings side's import keys them alike, so both
// share one implementation.
std::string normalize_bengali(std::string_view text) { return word_form::normal_form(text); }

}  // namespace tolvani::engine
