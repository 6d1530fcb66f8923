// A text client for unit tests that behaves as a real text field does: a UTF-16 document with a
// selection and a marked range, insertion that replaces the marked text (or the selection, or the
// given range), user actions from outside, knobs for clients that lack calls or answer oddly, and
// an ordered log of every call the input method made. Thread-safety: one thread.
#ifndef TOLVANI_PLATFORM_TESTING_RECORDINGTEXTCLIENT_H_
#define TOLVANI_PLATFORM_TESTING_RECORDINGTEXTCLIENT_H_

#include <QRectF>
#include <QString>
#include <QStringList>
#include <optional>

#include "platform/TextClient.h"

namespace tolvani::platform {

class RecordingTextClient final : public TextClient {
 public:
  struct Knobs {
    bool lacksSelectedRange = false;
    bool lacksStringFromRange = false;
    bool lacksLineHeightRectangle = true;
    // selectedRange() answers location kNotFound although the call exists.
    bool selectionUnknown = false;
    // stringFromRange reports an actual range moved by this many units from the true one.
    qsizetype actualRangeShift = 0;
    // stringFromRange reports an actual range with location kNotFound.
    bool actualRangeNotFound = false;
    // Every caret rectangle is this one (a zero, off-screen or absurd rectangle, say).
    std::optional<QRectF> caretRect;
    // firstRectForCharacterRange answers none.
    bool noCaretRect = false;
    // The line-height rectangle, when the call exists.
    QRectF lineHeightRect{100, 200, 1, 18};
    // The selection selectedRange() answers until the client is asked for its present one, as an
    // application that tells its selection only with keys does after a selection made with the
    // mouse.
    std::optional<TextRange> toldSelection;
    // refreshSelection() answers that the present selection cannot be known.
    bool refreshUnknown = false;
    // The client reports a selection as the caret at its end, and says it tells no selection.
    bool selectionAsCaret = false;
    // An empty selection does not mean that nothing is selected (a field that reports its caret
    // alone whatever is selected).
    bool emptySelectionUntold = false;
  };

  // The rectangle of position i is (origin.x + 8 i, origin.y, 8 × length or 1, 18).
  explicit RecordingTextClient(QString document = QString(), QPointF origin = {100, 200});

  Knobs& knobs() { return knobs_; }
  void setInputPurpose(InputPurpose purpose) { purpose_ = purpose; }

  // The document, the selection and the marked text as the user sees them.
  const QString& document() const { return document_; }
  TextRange selection() const { return selection_; }
  TextRange marked() const { return marked_; }
  // The marked text's own selection (relative to it) and its style.
  TextRange markedSelection() const { return markedSelection_; }
  const MarkedTextStyle& markedStyle() const { return markedStyle_; }
  QString markedText() const;
  // Every call in order, one line each ("insertText(\"আমি \", {nf})").
  const QStringList& log() const { return log_; }
  // The texts of insertText, in order.
  QStringList insertions() const;
  void clearLog() { log_.clear(); }

  // User actions. A click inside the marked text moves the caret within it; a click outside fixes
  // the marked text as ordinary text, as applications do before they end the composition.
  void userClick(qsizetype position);
  void userSelect(TextRange range);
  // Another party (the user's mouse, the application) replaces `range` with `text`.
  void userEdit(TextRange range, const QString& text);

  bool respondsTo(Call call) const override;
  TextRange markedRange() const override;
  TextRange selectedRange() const override;
  bool tellsSelection() const override { return !knobs_.selectionAsCaret; }
  bool tellsEmptySelection() const override { return !knobs_.emptySelectionUntold; }
  std::optional<QString> stringFromRange(TextRange range,
                                         TextRange* actualRange = nullptr) const override;
  std::optional<QString> attributedSubstring(TextRange range) const override;
  void setMarkedText(const QString& text, const MarkedTextStyle& style, TextRange selection,
                     TextRange replacement) override;
  void insertText(const QString& text, TextRange replacement) override;
  void refreshSelection(std::function<void(bool current)> done) override;
  std::optional<QRectF> firstRectForCharacterRange(TextRange range,
                                                   TextRange* actualRange = nullptr) override;
  std::optional<QRectF> lineHeightRectangle(qsizetype index) override;
  InputPurpose inputPurpose() const override { return purpose_; }

 private:
  // The document range an insertion replaces, clipped to the document.
  TextRange targetRange(TextRange replacement) const;
  TextRange clip(TextRange range) const;
  void replace(TextRange range, const QString& text);

  QString document_;
  TextRange selection_{0, 0};
  TextRange marked_{kNotFound, 0};
  TextRange markedSelection_{kNotFound, 0};
  MarkedTextStyle markedStyle_;
  QPointF origin_;
  InputPurpose purpose_ = InputPurpose::freeForm;
  Knobs knobs_;
  mutable QStringList log_;
};

// "{location,length}", "{nf}" for kNotFound, "{nf,nf}" for notFound().
QString describe(TextRange range);

}  // namespace tolvani::platform

#endif  // TOLVANI_PLATFORM_TESTING_RECORDINGTEXTCLIENT_H_
