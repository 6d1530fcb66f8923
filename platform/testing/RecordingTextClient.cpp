#include "platform/testing/RecordingTextClient.h"

#include <algorithm>

namespace tolvani::platform {
namespace {

QString quoted(const QString& text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

QString number(qsizetype value) {
  return value == kNotFound ? QStringLiteral("nf") : QString::number(value);
}

}  // namespace

QString describe(TextRange range) {
  if (range.location == kNotFound && range.length == 0) return QStringLiteral("{nf}");
  return QStringLiteral("{%1,%2}").arg(number(range.location), number(range.length));
}

RecordingTextClient::RecordingTextClient(QString document, QPointF origin)
    : document_(std::move(document)), origin_(origin) {
  selection_ = {document_.size(), 0};
}

QString RecordingTextClient::markedText() const {
  if (marked_.isNotFound()) return QString();
  return document_.mid(marked_.location, marked_.length);
}

QStringList RecordingTextClient::insertions() const {
  QStringList texts;
  for (const QString& line : log_) {
    if (!line.startsWith(QLatin1String("insertText(\""))) continue;
    const qsizetype end = line.lastIndexOf(QLatin1String("\", "));
    texts << line.mid(12, end - 12);
  }
  return texts;
}

TextRange RecordingTextClient::clip(TextRange range) const {
  const qsizetype size = document_.size();
  const qsizetype location = std::min(range.location, size);
  const qsizetype length = range.length == kNotFound ? 0 : std::min(range.length, size - location);
  return {location, length};
}

TextRange RecordingTextClient::targetRange(TextRange replacement) const {
  if (!replacement.isNotFound()) return clip(replacement);
  if (!marked_.isNotFound()) return marked_;
  return clip(selection_);
}

void RecordingTextClient::replace(TextRange range, const QString& text) {
  document_.replace(range.location, range.length, text);
}

void RecordingTextClient::userClick(qsizetype position) {
  position = std::clamp<qsizetype>(position, 0, document_.size());
  log_ << QStringLiteral("user: click %1").arg(position);
  if (!marked_.isNotFound() && position >= marked_.location && position <= marked_.end()) {
    markedSelection_ = {position - marked_.location, 0};
  } else {
    marked_ = {kNotFound, 0};
    markedSelection_ = {kNotFound, 0};
  }
  selection_ = {position, 0};
}

void RecordingTextClient::userSelect(TextRange range) {
  log_ << QStringLiteral("user: select %1").arg(describe(range));
  marked_ = {kNotFound, 0};
  markedSelection_ = {kNotFound, 0};
  selection_ = clip(range);
}

void RecordingTextClient::userEdit(TextRange range, const QString& text) {
  range = clip(range);
  log_ << QStringLiteral("user: edit %1 %2").arg(describe(range), quoted(text));
  replace(range, text);
  marked_ = {kNotFound, 0};
  markedSelection_ = {kNotFound, 0};
  selection_ = {range.location + text.size(), 0};
}

bool RecordingTextClient::respondsTo(Call call) const {
  switch (call) {
    case Call::selectedRange:
      return !knobs_.lacksSelectedRange;
    case Call::stringFromRange:
      return !knobs_.lacksStringFromRange;
    case Call::lineHeightRectangle:
      return !knobs_.lacksLineHeightRectangle;
  }
  return false;
}

TextRange RecordingTextClient::markedRange() const {
  log_ << QStringLiteral("markedRange");
  return marked_;
}

TextRange RecordingTextClient::selectedRange() const {
  log_ << QStringLiteral("selectedRange");
  if (knobs_.lacksSelectedRange || knobs_.selectionUnknown) return {kNotFound, 0};
  if (knobs_.toldSelection) return *knobs_.toldSelection;
  if (knobs_.selectionAsCaret) return {selection_.end(), 0};
  return selection_;
}

std::optional<QString> RecordingTextClient::stringFromRange(TextRange range,
                                                            TextRange* actualRange) const {
  log_ << QStringLiteral("stringFromRange %1").arg(describe(range));
  if (knobs_.lacksStringFromRange || range.isNotFound() || range.location > document_.size()) {
    return std::nullopt;
  }
  const TextRange clipped = clip(range);
  if (actualRange) {
    *actualRange = knobs_.actualRangeNotFound
                       ? TextRange{kNotFound, 0}
                       : TextRange{clipped.location + knobs_.actualRangeShift, clipped.length};
  }
  return document_.mid(clipped.location, clipped.length);
}

std::optional<QString> RecordingTextClient::attributedSubstring(TextRange range) const {
  log_ << QStringLiteral("attributedSubstring %1").arg(describe(range));
  if (range.isNotFound() || range.location > document_.size()) return std::nullopt;
  const TextRange clipped = clip(range);
  return document_.mid(clipped.location, clipped.length);
}

void RecordingTextClient::setMarkedText(const QString& text, const MarkedTextStyle& style,
                                        TextRange selection, TextRange replacement) {
  log_ << QStringLiteral("setMarkedText(%1, %2, %3)")
              .arg(quoted(text), describe(selection), describe(replacement));
  const TextRange target = targetRange(replacement);
  replace(target, text);
  if (text.isEmpty()) {
    marked_ = {kNotFound, 0};
    markedSelection_ = {kNotFound, 0};
    selection_ = {target.location, 0};
    return;
  }
  marked_ = {target.location, text.size()};
  markedStyle_ = style;
  const qsizetype inner = std::min(selection.location, text.size());
  const qsizetype innerLength =
      selection.length == kNotFound ? 0 : std::min(selection.length, text.size() - inner);
  markedSelection_ = {inner, innerLength};
  selection_ = {target.location + inner, innerLength};
}

void RecordingTextClient::insertText(const QString& text, TextRange replacement) {
  log_ << QStringLiteral("insertText(%1, %2)").arg(quoted(text), describe(replacement));
  // Applications tell their text again after a commit.
  knobs_.toldSelection.reset();
  const TextRange target = targetRange(replacement);
  replace(target, text);
  marked_ = {kNotFound, 0};
  markedSelection_ = {kNotFound, 0};
  selection_ = {target.location + text.size(), 0};
}

void RecordingTextClient::refreshSelection(std::function<void(bool current)> done) {
  log_ << QStringLiteral("refreshSelection");
  if (knobs_.refreshUnknown) return done(false);
  knobs_.toldSelection.reset();
  done(true);
}

std::optional<QRectF> RecordingTextClient::firstRectForCharacterRange(TextRange range,
                                                                      TextRange* actualRange) {
  log_ << QStringLiteral("firstRect %1").arg(describe(range));
  if (knobs_.noCaretRect) return std::nullopt;
  if (actualRange) *actualRange = range;
  if (knobs_.caretRect) return knobs_.caretRect;
  if (range.isNotFound()) return std::nullopt;
  const TextRange clipped = clip(range);
  return QRectF(origin_.x() + 8.0 * clipped.location, origin_.y(),
                clipped.length == 0 ? 1.0 : 8.0 * clipped.length, 18);
}

std::optional<QRectF> RecordingTextClient::lineHeightRectangle(qsizetype index) {
  log_ << QStringLiteral("lineHeightRectangle %1").arg(number(index));
  if (knobs_.lacksLineHeightRectangle) return std::nullopt;
  return knobs_.lineHeightRect;
}

}  // namespace tolvani::platform
