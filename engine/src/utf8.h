// Small UTF-8 helpers shared by the engine's modules. Pure functions; safe on any thread.
#ifndef TOLVANI_ENGINE_UTF8_H_
#define TOLVANI_ENGINE_UTF8_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvani::engine::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// Whether `cp` is a Unicode scalar value (not a surrogate, at most U+10FFFF).
constexpr bool is_scalar(char32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

// Appends the UTF-8 encoding of the scalar `cp`. Requires: is_scalar(cp).
void append(std::string& out, char32_t cp);

// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool is_valid(std::string_view bytes);

// Length of the well-formed sequence at byte `pos`, or 0 when the bytes there are ill-formed.
// Requires: pos < text.size().
size_t sequence_length(std::string_view text, size_t pos);

// Decodes the scalar starting at byte `pos` and advances `pos` past it. Ill-formed bytes decode as
// one U+FFFD each. Requires: pos < text.size().
char32_t decode_next(std::string_view text, size_t& pos);

// Byte offset where the last scalar of `text` starts (0 for an empty text).
size_t last_char_start(std::string_view text);

// Number of scalars in valid UTF-8 `text` (a stray continuation byte counts as none).
size_t scalar_count(std::string_view text);

// Whether `c` is an ASCII letter, A to Z or a to z.
constexpr bool is_ascii_letter(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// `text` with its ASCII capitals lowered; every other byte unchanged.
std::string ascii_lower(std::string_view text);

// Whether `cp` has the Unicode White_Space property.
bool is_white_space(char32_t cp);

// `text` without leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view text);

// The maximal runs of `text` that hold no White_Space character, in order.
std::vector<std::string_view> split_white_space(std::string_view text);

// The first scalar of `text`, if any.
std::optional<char32_t> first_char(std::string_view text);

}  // namespace tolvani::engine::utf8

#endif  // TOLVANI_ENGINE_UTF8_H_
