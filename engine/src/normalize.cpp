#include "normalize.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <stdexcept>

#include "utf8.h"

namespace tolvani::engine {

std::string_view normalize_phonetic_input(std::string_view text) {
  return utf8::trim_white_space(text);
}

namespace {

bool needs_no_normalization(std::string_view text) {
  // ASCII is already in NFC and holds none of the replaced characters.
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

}  // namespace

std::string normalize_bengali(std::string_view text) {
  if (needs_no_normalization(text)) return std::string(normalize_phonetic_input(text));
  const icu::Normalizer2* nfc = nfc_instance();
  if (nfc == nullptr) throw std::runtime_error("NFC normaliser unavailable");
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  const icu::UnicodeString composed = nfc->normalize(source, status);
  if (U_FAILURE(status))
    throw std::runtime_error("NFC failed: " + std::string(u_errorName(status)));
  std::string out;
  composed.toUTF8String(out);
  replace_all(out, "\u09A4\u09CD\u200D", "\u09CE");
  replace_all(out, "\u00A0", " ");
  replace_all(out, "\uFEFF", "");
  const std::string_view trimmed = utf8::trim_white_space(out);
  if (trimmed.size() != out.size()) return std::string(trimmed);
  return out;
}

}  // namespace tolvani::engine
