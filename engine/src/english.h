// Tests on Latin text: all-capital abbreviations and the built-in list of common English words.
// Thread-safety: pure functions over constant data; safe on any thread.
#ifndef TOLVANI_ENGINE_ENGLISH_H_
#define TOLVANI_ENGINE_ENGLISH_H_

#include <span>
#include <string_view>

namespace tolvani::engine {

// True when `text` is at least 2 bytes and every character is an ASCII capital A to Z.
bool is_abbreviation(std::string_view text);

// True when `text`, trimmed of Unicode white space and with ASCII capitals lowered, is one of the
// common English words.
bool is_common_english_word(std::string_view text);

// The common English words, lower case, sorted in byte order. For tests and the word readings.
std::span<const std::string_view> common_english_words();

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_ENGLISH_H_
