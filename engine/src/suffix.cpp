#include "suffix.h"

#include <array>

#include "utf8.h"

namespace tolvani::engine {

namespace {

constexpr std::array<std::string_view, 49> kVerbSuffixes = {
    "িয়েছিলেন", "িয়েছিলাম", "িয়েছিলে", "িয়েছিল", "তেছিলাম", "তেছিলেন", "তেছিলে", "তেছিল", "েছিলাম",
    "েছিলেন",   "েছিলে",    "েছিল",    "ছিলাম",  "ছিলেন",   "ছিলে",    "ছিল",    "তেছেন", "তেছি",
    "তেছে",     "িয়েছেন",   "িয়েছি",   "িয়েছে",  "েছেন",    "েছি",     "েছে",    "েছো",   "ছেন",
    "ছি",       "ছে",       "ছো",      "বেন",    "বো",      "বে",      "বি",     "তাম",   "তেন",
    "তে",       "তো",       "লাম",     "লেন",    "লে",      "লো",      "িয়ে",    "িয়া",   "ুন",
    "ো",        "ি",        "ে",       "া"};

constexpr std::array<std::string_view, 50> kNounSuffixes = {
    "গুলোতে", "গুলোকে", "গুলোর",  "গুলিকে", "গুলির", "সমূহের", "সমূহকে", "সমূহতে", "সমূহে", "সকলকে",
    "সকলের", "সকলে",  "দ্বারা", "মণ্ডলী", "গুলো",  "গুলি",   "গুলা",   "সমূহ",   "সকল",  "মালা",
    "খানা",  "খানি",  "পুঞ্জ",   "বৃন্দ",   "টুকু",   "টুক",    "দের",   "ের",    "তে",   "কে",
    "রা",    "য়ে",    "য়ও",    "য়ই",    "টার",  "টায়",   "টাই",   "টাকে",  "টাতে", "টির",
    "টিকে",  "টিতে",  "টিই",   "র",     "ে",    "য়",     "ও",     "ই",     "টা",   "টি"};

bool is_vowel_sign(char32_t c) { return c >= 0x09BE && c <= 0x09CC; }
bool is_independent_vowel(char32_t c) { return c >= 0x0985 && c <= 0x0994; }

char32_t last_of(std::string_view s) {
  if (s.empty()) return 0;
  size_t pos = utf8::last_char_start(s);
  return utf8::decode_next(s, pos);
}

}  // namespace

std::span<const std::string_view> verb_suffixes() { return kVerbSuffixes; }
std::span<const std::string_view> noun_suffixes() { return kNounSuffixes; }

std::string join_stem_and_suffix(std::string_view stem, std::string_view suffix) {
  const char32_t last = last_of(stem);
  const char32_t first = utf8::first_char(suffix).value_or(0);
  std::string out(stem);
  if (last == 0x0982 && first >= 0x0995 && first <= 0x09B9) {
    out.resize(utf8::last_char_start(out));
    out += "\u0999";  // ঙ
  } else if (last == 0x09CE) {
    out.resize(utf8::last_char_start(out));
    out += "\u09A4";  // ত
  } else if ((is_vowel_sign(last) || is_independent_vowel(last)) && is_vowel_sign(first)) {
    out += "\u09AF\u09BC";  // য়
  }
  out += suffix;
  return out;
}

}  // namespace tolvani::engine
