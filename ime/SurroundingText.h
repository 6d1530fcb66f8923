// The text around the caret as an application reports it, and the document the controller's
// positions count in: that text with the preedit shown at the caret. Both frameworks' text clients
// keep the text so, and edit it as the application will once it applies their edits.
// Thread-safety: plain values and pure functions.
#ifndef TOLVANI_IME_SURROUNDINGTEXT_H_
#define TOLVANI_IME_SURROUNDINGTEXT_H_

#include <QString>
#include <optional>

#include "platform/TextClient.h"

namespace tolvani {

struct SurroundingText {
  QString text;
  qsizetype cursor = 0;  // UTF-16
  qsizetype anchor = 0;  // UTF-16
  bool operator==(const SurroundingText&) const = default;

  QString document(const QString& preedit) const;
  // The text's part [start, end) a range of the document covers, the preedit left out; none for a
  // range not found or open-ended.
  struct Part {
    qsizetype start = 0;
    qsizetype end = 0;
  };
  std::optional<Part> partOf(platform::TextRange range, const QString& preedit) const;
  // Removes a part as the application does: the caret and the anchor move with the text after it.
  void remove(Part part);
};

// The document's text in `range`, clamped to its end, and the range that text covers.
std::optional<QString> substringOf(const std::optional<QString>& document,
                                   platform::TextRange range, platform::TextRange* actualRange);

// UTF-16 position of scalar position `chars` in `text`, clamped to its end; and back.
qsizetype utf16Position(const QString& text, qsizetype chars);
qsizetype scalarPosition(const QString& text, qsizetype utf16);

}  // namespace tolvani

#endif  // TOLVANI_IME_SURROUNDINGTEXT_H_
