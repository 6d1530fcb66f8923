#include "settings/StoredText.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include <algorithm>
#include <memory>

#include "word_form.h"

namespace tolvani {

bool isUnsafeInStoredText(char32_t scalar) {
  if (scalar >= 0x202A && scalar <= 0x202E) return true;
  if (scalar >= 0x2066 && scalar <= 0x2069) return true;
  return u_charType(static_cast<UChar32>(scalar)) == U_CONTROL_CHAR;
}

bool containsUnsafeStoredText(const QString& text) {
  const qsizetype size = text.size();
  for (qsizetype i = 0; i < size; ++i) {
    const char16_t unit = text.at(i).unicode();
    char32_t scalar = unit;
    if (QChar::isHighSurrogate(unit)) {
      if (i + 1 >= size || !QChar::isLowSurrogate(text.at(i + 1).unicode())) return true;
      scalar = QChar::surrogateToUcs4(unit, text.at(i + 1).unicode());
      ++i;
    } else if (QChar::isLowSurrogate(unit)) {
      return true;
    }
    if (isUnsafeInStoredText(scalar)) return true;
  }
  return false;
}

qsizetype characterCount(const QString& text, qsizetype limit) {
  if (text.isEmpty() || limit <= 0) return 0;
  // Making a break iterator costs far more than using one, and imports count thousands of texts.
  thread_local std::unique_ptr<icu::BreakIterator> iterator;
  UErrorCode status = U_ZERO_ERROR;
  if (!iterator) {
    iterator.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) iterator.reset();
  }
  if (!iterator) return std::min<qsizetype>(text.size(), limit);  // no ICU data: count units

  UText utext = UTEXT_INITIALIZER;
  utext_openUChars(&utext, reinterpret_cast<const UChar*>(text.utf16()), text.size(), &status);
  iterator->setText(&utext, status);
  qsizetype count = 0;
  if (U_SUCCESS(status)) {
    iterator->first();
    while (count < limit && iterator->next() != icu::BreakIterator::DONE) ++count;
  } else {
    count = std::min<qsizetype>(text.size(), limit);
  }
  utext_close(&utext);
  return count;
}

namespace {

qsizetype storedTextBound(qsizetype maxCharacters) {
  return maxCharacters <= 0
             ? 0
             : maxCharacters * static_cast<qsizetype>(word_form::kMaxBytesPerCharacter);
}

}  // namespace

bool withinStoredTextBound(std::string_view utf8, qsizetype maxCharacters) {
  return static_cast<qsizetype>(utf8.size()) <= storedTextBound(maxCharacters);
}

bool withinStoredTextBound(const QString& text, qsizetype maxCharacters) {
  return text.size() <= storedTextBound(maxCharacters);
}

}  // namespace tolvani
