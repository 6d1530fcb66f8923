#include "ime/SurroundingText.h"

#include <algorithm>

namespace tolvani {

using platform::TextRange;

namespace {

bool isPair(const QString& text, qsizetype i) {
  return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
}

}  // namespace

QString SurroundingText::document(const QString& preedit) const {
  QString doc = text;
  doc.insert(cursor, preedit);
  return doc;
}

std::optional<SurroundingText::Part> SurroundingText::partOf(TextRange range,
                                                             const QString& preedit) const {
  if (range.isNotFound() || range.length == platform::kNotFound) return std::nullopt;
  // Positions at or after the caret lie behind the preedit in the document.
  qsizetype start = range.location;
  if (!preedit.isEmpty() && start >= cursor) start = std::max(cursor, start - preedit.size());
  start = std::min(start, text.size());
  return Part{start, std::min(start + range.length, text.size())};
}

void SurroundingText::remove(Part part) {
  const auto shifted = [&](qsizetype at) {
    return at >= part.end ? at - (part.end - part.start) : std::min(at, part.start);
  };
  text.remove(part.start, part.end - part.start);
  cursor = shifted(cursor);
  anchor = shifted(anchor);
}

std::optional<QString> substringOf(const std::optional<QString>& document, TextRange range,
                                   TextRange* actualRange) {
  if (!document || range.isNotFound() || range.location > document->size()) return std::nullopt;
  const qsizetype length = range.length == platform::kNotFound
                               ? 0
                               : std::min(range.length, document->size() - range.location);
  if (actualRange) *actualRange = {range.location, length};
  return document->mid(range.location, length);
}

qsizetype utf16Position(const QString& text, qsizetype chars) {
  qsizetype i = 0;
  for (qsizetype n = 0; n < chars && i < text.size(); ++n) i += isPair(text, i) ? 2 : 1;
  return i;
}

qsizetype scalarPosition(const QString& text, qsizetype utf16) {
  qsizetype n = 0;
  for (qsizetype i = 0; i < std::min(utf16, text.size()); ++n) i += isPair(text, i) ? 2 : 1;
  return n;
}

}  // namespace tolvani
