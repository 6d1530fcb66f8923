#include "word_form.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tolvani::word_form {

namespace {

bool is_ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// ICU builds the normaliser on first use; a function-local static makes that first use a
// synchronisation point every thread (and ThreadSanitizer) can see.
const icu::Normalizer2* nfc_instance() {
  static const icu::Normalizer2* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    return U_SUCCESS(status) ? nfc : nullptr;
  }();
  return instance;
}

void replace_all(std::string& s, std::string_view from, std::string_view to) {
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size())) {
    s.replace(pos, from.size(), to);
  }
}

const icu::Normalizer2* nfd_instance() {
  static const icu::Normalizer2* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    return U_SUCCESS(status) ? nfd : nullptr;
  }();
  return instance;
}

// ICU puts combining marks in canonical order by moving each one back past every mark of a
// higher class before it: quadratic in a run of marks. 2,000 marks of two classes in the worst
// order take 2 ms, and a key normalises its whole composition, so such a run could stall typing
// for as long as the buffer holds. A run longer than this is ordered here first.
constexpr int32_t kShortMarkRun = 16;

// Whether `text` holds more than kShortMarkRun characters in a row that decompose to a combining
// mark first (or are one).
bool has_long_mark_run(const icu::UnicodeString& text, const icu::Normalizer2& nfd) {
  int32_t run = 0;
  for (int32_t i = 0; i < text.length();) {
    const UChar32 c = text.char32At(i);
    i += U16_LENGTH(c);
    run = nfd.hasBoundaryBefore(c) ? 0 : run + 1;
    if (run > kShortMarkRun) return true;
  }
  return false;
}

// The canonical decomposition of `text` in n log n: every character decomposed, then every run of
// combining marks sorted stably by combining class, which is what canonical ordering is. Being
// canonically equivalent to `text`, it has the same NFC, and ICU finds its marks in order.
icu::UnicodeString canonically_ordered(const icu::UnicodeString& text,
                                       const icu::Normalizer2& nfd) {
  struct Point {
    UChar32 c;
    uint8_t combining_class;
  };
  std::vector<Point> points;
  points.reserve(static_cast<size_t>(text.length()));
  const auto add = [&](UChar32 c) { points.push_back({c, nfd.getCombiningClass(c)}); };
  icu::UnicodeString decomposed;
  for (int32_t i = 0; i < text.length();) {
    const UChar32 c = text.char32At(i);
    i += U16_LENGTH(c);
    if (!nfd.getDecomposition(c, decomposed)) {
      add(c);
      continue;
    }
    for (int32_t j = 0; j < decomposed.length();) {
      const UChar32 d = decomposed.char32At(j);
      j += U16_LENGTH(d);
      add(d);
    }
  }
  const auto starter = [](const Point& p) { return p.combining_class == 0; };
  for (auto run = points.begin(); run != points.end();) {
    run = std::find_if_not(run, points.end(), starter);
    const auto end = std::find_if(run, points.end(), starter);
    std::stable_sort(run, end, [](const Point& a, const Point& b) {
      return a.combining_class < b.combining_class;
    });
    run = end;
  }
  icu::UnicodeString out;
  for (const Point& p : points) out.append(p.c);
  return out;
}

bool is_white_space(UChar32 c) { return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) != 0; }

// `text` (well-formed UTF-8) without leading and trailing White_Space.
std::string_view trim_white_space(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t next = begin;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (!is_white_space(c)) break;
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t start = end;
    UChar32 c;
    U8_PREV(bytes, begin, start, c);
    if (!is_white_space(c)) break;
    end = start;
  }
  return text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

// nfd.hasBoundaryBefore(c), from a table below U+0A00 (Latin to Bangla), which is where nearly
// every character of a learned word is.
bool has_boundary_before(UChar32 c, const icu::Normalizer2& nfd) {
  constexpr UChar32 kTabled = 0x0A00;
  static const std::bitset<kTabled> table = [&nfd] {
    std::bitset<kTabled> bits;
    for (UChar32 k = 0; k < kTabled; ++k) bits[static_cast<size_t>(k)] = nfd.hasBoundaryBefore(k);
    return bits;
  }();
  return c < kTabled ? table[static_cast<size_t>(c)] : nfd.hasBoundaryBefore(c);
}

// Whether `text` (well-formed UTF-8) is surely its own normal form, told without converting it:
// in NFC, with none of the characters replaced or deleted, no White_Space at either end, and no
// run of marks long enough to need ordering first (ICU's check would be as slow as its ordering).
// False when that cannot be told at a glance; the caller then normalises. Every learned word is
// looked at so at each load, and nearly all are normal already.
bool is_normal_form(std::string_view text, const icu::Normalizer2& nfc,
                    const icu::Normalizer2& nfd) {
  if (text.find("\uFEFF") != std::string_view::npos ||
      text.find("\u00A0") != std::string_view::npos ||
      text.find("\u200D") != std::string_view::npos ||  // the joiner of "\u09A4\u09CD\u200D"
      trim_white_space(text).size() != text.size()) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t run = 0;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) return false;  // ill-formed: the conversion decides
    run = has_boundary_before(c, nfd) ? 0 : run + 1;
    if (run > kShortMarkRun) return false;
  }
  UErrorCode status = U_ZERO_ERROR;
  const bool normal = nfc.isNormalizedUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), status);
  return U_SUCCESS(status) && normal;
}

// Whether normal_form(text) is `text`, when this can be told at a glance; false may mean either.
bool is_own_normal_form(std::string_view text) {
  // ASCII is already in NFC and holds none of the replaced characters.
  if (is_ascii(text)) return trim_white_space(text).size() == text.size();
  const icu::Normalizer2* nfc = nfc_instance();
  if (nfc == nullptr) throw std::runtime_error("NFC normaliser unavailable");
  const icu::Normalizer2* nfd = nfd_instance();
  if (nfd == nullptr) throw std::runtime_error("NFD normaliser unavailable");
  return is_normal_form(text, *nfc, *nfd);
}

}  // namespace

std::string normal_form(std::string_view text) {
  // ASCII is already in NFC and holds none of the replaced characters.
  if (is_ascii(text)) return std::string(trim_white_space(text));
  if (is_own_normal_form(text)) return std::string(text);
  const icu::Normalizer2* nfc = nfc_instance();
  const icu::Normalizer2* nfd = nfd_instance();
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  // U+FEFF goes before composition: deleted after it, it could leave a letter and its vowel sign
  // apart ("ক" "ে" U+FEFF "া"), a form that the next normalisation changes again, so that a
  // store would keep one word under two keys.
  source.findAndReplace(icu::UnicodeString(static_cast<UChar>(0xFEFF)), icu::UnicodeString());
  if (has_long_mark_run(source, *nfd)) source = canonically_ordered(source, *nfd);
  const icu::UnicodeString composed = nfc->normalize(source, status);
  if (U_FAILURE(status))
    throw std::runtime_error("NFC failed: " + std::string(u_errorName(status)));
  std::string out;
  composed.toUTF8String(out);
  replace_all(out, "\u09A4\u09CD\u200D", "\u09CE");
  replace_all(out, "\u00A0", " ");
  const std::string_view trimmed = trim_white_space(out);
  if (trimmed.size() != out.size()) return std::string(trimmed);
  return out;
}

std::optional<std::string> stored_word(std::string_view word) {
  if (word.size() > kMaxWordBytes) return std::nullopt;
  std::string form = normal_form(word);
  if (form.empty() || form.size() > kMaxWordBytes) return std::nullopt;
  return form;
}

bool is_stored_word(std::string_view word) {
  if (word.empty() || word.size() > kMaxWordBytes) return false;
  if (is_own_normal_form(word)) return true;
  // The quick look also turns away some words that are their form (a joiner elsewhere than after
  // "\u09A4\u09CD", a long ordered run of marks): those are normalised to tell.
  const std::optional<std::string> form = stored_word(word);
  return form && *form == word;
}

}  // namespace tolvani::word_form
