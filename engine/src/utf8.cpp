#include "utf8.h"

#include <algorithm>

namespace tolvani::engine::utf8 {

void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {

size_t sequence_length(std::string_view text, size_t pos, char32_t* cp) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(pos);
  const size_t left = text.size() - pos;
  const auto cont = [&](size_t i) { return i < left && (byte(pos + i) & 0xC0) == 0x80; };
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (!cont(1)) return 0;
    *cp = (char32_t{b0} & 0x1F) << 6 | (byte(pos + 1) & 0x3F);
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    const char32_t v =
        (char32_t{b0} & 0x0F) << 12 | (byte(pos + 1) & 0x3F) << 6 | (byte(pos + 2) & 0x3F);
    if (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    const char32_t v = (char32_t{b0} & 0x07) << 18 | (byte(pos + 1) & 0x3F) << 12 |
                       (byte(pos + 2) & 0x3F) << 6 | (byte(pos + 3) & 0x3F);
    if (v < 0x10000 || v > 0x10FFFF) return 0;
    *cp = v;
    return 4;
  }
  return 0;
}

}  // namespace

size_t sequence_length(std::string_view text, size_t pos) {
  char32_t cp;
  return sequence_length(text, pos, &cp);
}

bool is_valid(std::string_view bytes) {
  char32_t cp;
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t n = sequence_length(bytes, pos, &cp);
    if (n == 0) return false;
    pos += n;
  }
  return true;
}

char32_t decode_next(std::string_view text, size_t& pos) {
  char32_t cp;
  const size_t n = sequence_length(text, pos, &cp);
  if (n == 0) {
    ++pos;
    return kReplacement;
  }
  pos += n;
  return cp;
}

size_t last_char_start(std::string_view text) {
  if (text.empty()) return 0;
  size_t start = text.size() - 1;
  // Step back over at most three continuation bytes; the sequence found must end the text.
  while (start > 0 && text.size() - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  size_t pos = start;
  decode_next(text, pos);
  return pos == text.size() ? start : text.size() - 1;
}

size_t scalar_count(std::string_view text) {
  // Lengths are asked of thousands of words per keystroke. Every scalar has one byte that is not
  // a continuation byte; an ill-formed byte counts as one unless it is a stray continuation byte.
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool is_white_space(char32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t next = begin;
    if (!is_white_space(decode_next(text, next))) break;
    begin = next;
  }
  size_t end = text.size();
  while (end > begin) {
    const size_t start = last_char_start(text.substr(0, end));
    size_t pos = start;
    if (!is_white_space(decode_next(text, pos))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::vector<std::string_view> split_white_space(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t token_start = 0;
  bool in_token = false;
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    const bool space = is_white_space(decode_next(text, pos));
    if (space && in_token) tokens.push_back(text.substr(token_start, start - token_start));
    if (!space && !in_token) token_start = start;
    in_token = !space;
  }
  if (in_token) tokens.push_back(text.substr(token_start));
  return tokens;
}

std::optional<char32_t> first_char(std::string_view text) {
  if (text.empty()) return std::nullopt;
  size_t pos = 0;
  return decode_next(text, pos);
}

}  // namespace tolvani::engine::utf8
