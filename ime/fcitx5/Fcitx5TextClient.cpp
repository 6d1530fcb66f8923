#include "ime/fcitx5/Fcitx5TextClient.h"

#include <algorithm>
#include <utility>

#include "ime/fcitx5/Fcitx5Protocol.h"

namespace tolvani {

using platform::TextRange;
namespace protocol = fcitx5protocol;

namespace {

// The UTF-16 position of scalar position `scalars`, or none beyond the text.
std::optional<qsizetype> utf16Of(const QString& text, unsigned scalars) {
  if (scalars > scalarPosition(text, text.size())) return std::nullopt;
  return utf16Position(text, scalars);
}

std::string encoded(protocol::Writer& writer) { return writer.frame().substr(4); }

}  // namespace

Fcitx5TextClient::Fcitx5TextClient(std::function<void(std::string)> send)
    : send_(std::move(send)) {}

void Fcitx5TextClient::report(std::optional<QString> text, unsigned cursor, unsigned anchor,
                              QRectF caret, platform::InputPurpose purpose) {
  caret_ = caret;
  purpose_ = purpose;
  std::optional<Surrounding> now;
  if (text) {
    const std::optional<qsizetype> c = utf16Of(*text, cursor);
    const std::optional<qsizetype> a = utf16Of(*text, anchor);
    // Positions beyond the text: the context's report is not one to act on.
    if (c && a) now = Surrounding{*text, *c, *a};
  }
  // Any other text means the context has applied our edits, or more.
  if (edited_ && now != editedFrom_) {
    edited_.reset();
    editedFrom_.reset();
  }
  reported_ = std::move(now);
}

void Fcitx5TextClient::forgetPreedit() {
  preedit_.clear();
  preeditCursor_ = 0;
}

std::optional<Fcitx5TextClient::Surrounding> Fcitx5TextClient::surrounding() const {
  return edited_ ? edited_ : reported_;
}

std::optional<QString> Fcitx5TextClient::document() const {
  const std::optional<Surrounding> s = surrounding();
  if (!s) return std::nullopt;
  return s->document(preedit_);
}

void Fcitx5TextClient::keepEdited(const Surrounding& edited) {
  if (!reported_) return;
  if (!edited_) editedFrom_ = reported_;
  edited_ = edited;
}

bool Fcitx5TextClient::respondsTo(Call call) const {
  return call != Call::lineHeightRectangle && reported_.has_value();
}

TextRange Fcitx5TextClient::markedRange() const {
  if (preedit_.isEmpty()) return {platform::kNotFound, 0};
  const std::optional<Surrounding> s = surrounding();
  return {s ? s->cursor : 0, preedit_.size()};
}

TextRange Fcitx5TextClient::selectedRange() const {
  const std::optional<Surrounding> s = surrounding();
  if (!s) return {platform::kNotFound, 0};
  if (!preedit_.isEmpty()) return {s->cursor + preeditCursor_, 0};
  return {std::min(s->cursor, s->anchor), std::abs(s->cursor - s->anchor)};
}

std::optional<QString> Fcitx5TextClient::stringFromRange(TextRange range,
                                                         TextRange* actualRange) const {
  return substringOf(document(), range, actualRange);
}

std::optional<QString> Fcitx5TextClient::attributedSubstring(TextRange range) const {
  return stringFromRange(range);
}

void Fcitx5TextClient::deleteSurrounding(TextRange range) {
  std::optional<Surrounding> s = surrounding();
  const std::optional<SurroundingText::Part> part = s ? s->partOf(range, preedit_) : std::nullopt;
  if (!part) return;
  const qsizetype offset =
      scalarPosition(s->text, part->start) - scalarPosition(s->text, s->cursor);
  const qsizetype count = scalarPosition(s->text, part->end) - scalarPosition(s->text, part->start);
  if (count <= 0) return;
  protocol::Writer action(static_cast<std::uint8_t>(protocol::Action::deleteSurrounding));
  action.i32(static_cast<std::int32_t>(offset)).u32(static_cast<std::uint32_t>(count));
  send_(encoded(action));
  s->remove(*part);
  keepEdited(*s);
}

void Fcitx5TextClient::showPreedit() {
  const QByteArray utf8 = preedit_.toUtf8();
  const qsizetype caret = preedit_.left(preeditCursor_).toUtf8().size();
  protocol::Writer action(static_cast<std::uint8_t>(protocol::Action::preedit));
  action.text(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())))
      .u32(static_cast<std::uint32_t>(caret));
  send_(encoded(action));
}

void Fcitx5TextClient::setMarkedText(const QString& text, const platform::MarkedTextStyle&,
                                     TextRange selection, TextRange replacement) {
  if (!replacement.isNotFound() && replacement != markedRange()) deleteSurrounding(replacement);
  if (text.isEmpty() && preedit_.isEmpty()) return;
  preedit_ = text;
  preeditCursor_ = std::clamp<qsizetype>(selection.location, 0, text.size());
  showPreedit();
}

void Fcitx5TextClient::insertText(const QString& text, TextRange replacement) {
  const bool hadPreedit = !preedit_.isEmpty();
  // The toolkits replace their selection with the commit themselves.
  const bool selection = !hadPreedit && replacement.length > 0 && replacement == selectedRange();
  if (!replacement.isNotFound() && !selection) deleteSurrounding(replacement);
  if (hadPreedit) {
    forgetPreedit();
    showPreedit();
  }
  const QByteArray utf8 = text.toUtf8();
  protocol::Writer action(static_cast<std::uint8_t>(protocol::Action::commit));
  action.text(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  send_(encoded(action));
  if (std::optional<Surrounding> s = surrounding()) {
    const qsizetype start = std::min(s->cursor, s->anchor);
    s->text.replace(start, std::abs(s->cursor - s->anchor), text);
    s->cursor = s->anchor = start + text.size();
    keepEdited(*s);
  }
}

std::optional<QRectF> Fcitx5TextClient::firstRectForCharacterRange(TextRange range,
                                                                   TextRange* actualRange) {
  if (caret_.isEmpty() && caret_.topLeft().isNull()) return std::nullopt;
  if (actualRange) *actualRange = range;
  return caret_;
}

std::optional<QRectF> Fcitx5TextClient::lineHeightRectangle(qsizetype) { return std::nullopt; }

}  // namespace tolvani
