#include "ime/ibus/IBusTextClient.h"

#include <ibus.h>

#include <algorithm>
#include <utility>

namespace tolvani {

using platform::TextRange;

namespace {

// How long a refresh of the selection waits for the context to send its text. A context whose
// text did not change sends nothing: IBus passes on only a change.
constexpr guint kRefreshWaitMs = 500;

}  // namespace

IBusTextClient::IBusTextClient(QString objectPath) : objectPath_(std::move(objectPath)) {}

IBusTextClient::~IBusTextClient() { detach(); }

void IBusTextClient::attach(IBusEngine* engine) {
  if (engine == engine_) return;
  detach();
  engine_ = engine;
  if (!engine_) return;
  g_object_ref(engine_);
  // The first read asks the application to send its text from now on; asked only when the
  // selection is needed, the application would answer too late for that first question. The
  // capabilities may arrive after the focus, so the request does not wait for them. Later reads
  // take the copy kept here, as each read would ask again over D-Bus.
  IBusText* text = nullptr;
  guint cursor = 0;
  guint anchor = 0;
  ibus_engine_get_surrounding_text(engine_, &text, &cursor, &anchor);
  keepKnown(text, cursor, anchor);
  // IBus keeps what the context sends before this handler runs.
  sentHandler_ = g_signal_connect_after(
      engine_, "set-surrounding-text",
      G_CALLBACK(+[](IBusEngine*, IBusText* text, guint cursor, guint anchor, gpointer data) {
        auto* self = static_cast<IBusTextClient*>(data);
        self->keepKnown(text, cursor, anchor);
        self->dropEditedUnlessPending();
        if (self->refreshDone_) self->finishRefresh(true);
      }),
      this);
}

void IBusTextClient::keepKnown(IBusText* text, unsigned cursor, unsigned anchor) const {
  Sent sent;
  if (text) sent.text = QString::fromUtf8(ibus_text_get_text(text));
  sent.cursor = cursor;
  sent.anchor = anchor;
  if (text && anchor != cursor) toldSelection_ = true;
  known_ = sent;
}

IBusTextClient::Toolkit IBusTextClient::toolkit() const {
  if (clientName_ == QLatin1String("QIBusInputContext")) return Toolkit::qt;
  if (clientName_.startsWith(QLatin1String("gtk3-im"))) return Toolkit::gtk3;
  if (clientName_.startsWith(QLatin1String("gtk4-im"))) return Toolkit::gtk4;
  if (!clientName_.isEmpty()) return Toolkit::other;
  // IBus's GTK modules ask for keys to be answered in order; Qt's does not.
  if (engine_ && (engine_->client_capabilities & IBUS_CAP_SYNC_PROCESS_KEY) != 0) {
    return Toolkit::gtkUnnamed;
  }
  return Toolkit::unnamed;
}

namespace {

// The UTF-16 position of `position`, counted in UTF-16 units or else in characters; none when
// `text` has no such position (past its end, or, in UTF-16 units, inside a character).
std::optional<qsizetype> toUtf16(const QString& text, unsigned position, bool utf16Units) {
  const qsizetype at = position;
  if (utf16Units) {
    if (at > text.size()) return std::nullopt;
    if (at > 0 && at < text.size() && text[at].isLowSurrogate() && text[at - 1].isHighSurrogate()) {
      return std::nullopt;
    }
    return at;
  }
  if (at > scalarPosition(text, text.size())) return std::nullopt;
  return utf16Position(text, at);
}

}  // namespace

IBusTextClient::Surrounding IBusTextClient::read(const Sent& sent) const {
  // Qt's module sends UTF-16 positions (from QInputMethodQueryEvent), GTK's and the rest count
  // characters, as IBus does. For a context whose toolkit is not known, the two readings agree
  // before the first character outside the Basic Multilingual Plane, and where only one of them
  // finds both positions in the text, that one holds; elsewhere the selection cannot be told.
  const Toolkit kit = toolkit();
  Unit unit = kit == Toolkit::qt ? Unit::utf16 : Unit::scalars;
  bool unitKnown = kit != Toolkit::unnamed;
  if (!unitKnown) {
    const auto agree = [&](unsigned at) {
      return toUtf16(sent.text, at, false) == toUtf16(sent.text, at, true);
    };
    const auto found = [&](bool utf16Units) {
      return toUtf16(sent.text, sent.cursor, utf16Units) &&
             toUtf16(sent.text, sent.anchor, utf16Units);
    };
    if (agree(sent.cursor) && agree(sent.anchor)) {
      unitKnown = true;
    } else if (found(true) != found(false)) {
      unit = found(true) ? Unit::utf16 : Unit::scalars;
      unitKnown = true;
    }
  }
  const bool utf16 = unit == Unit::utf16;
  const std::optional<qsizetype> cursor = toUtf16(sent.text, sent.cursor, utf16);
  const std::optional<qsizetype> anchor = toUtf16(sent.text, sent.anchor, utf16);
  Surrounding s;
  s.text = sent.text;
  s.unit = unit;
  s.cursor = cursor ? *cursor : utf16Position(s.text, sent.cursor);
  // Through IBus's GTK 4 module a GTK 4 text view reports the selection's anchor as its caret and
  // an anchor reckoned from that, mirrored or lost: only a caret without a selection holds.
  const bool trusted = kit != Toolkit::gtk4 && kit != Toolkit::gtkUnnamed;
  s.selectionKnown = cursor && (sent.cursor == sent.anchor || (anchor && unitKnown && trusted));
  s.anchor = s.selectionKnown && anchor ? *anchor : s.cursor;
  return s;
}

void IBusTextClient::detach() {
  if (!engine_) return;
  g_signal_handler_disconnect(engine_, sentHandler_);
  sentHandler_ = 0;
  g_object_unref(engine_);
  engine_ = nullptr;
  finishRefresh(std::nullopt);
  preedit_.clear();
  preeditCursor_ = 0;
  edited_.reset();
  editedFrom_.reset();
  known_.reset();
}

bool IBusTextClient::respondsTo(Call call) const {
  if (call == Call::lineHeightRectangle) return false;
  return engine_ && (engine_->client_capabilities & IBUS_CAP_SURROUNDING_TEXT) != 0;
}

std::optional<IBusTextClient::Surrounding> IBusTextClient::reported() const {
  if (!respondsTo(Call::selectedRange)) return std::nullopt;
  if (!known_) {
    IBusText* text = nullptr;
    guint cursor = 0;
    guint anchor = 0;
    ibus_engine_get_surrounding_text(engine_, &text, &cursor, &anchor);
    keepKnown(text, cursor, anchor);
  }
  return read(*known_);
}

std::optional<IBusTextClient::Surrounding> IBusTextClient::surrounding() const {
  std::optional<Surrounding> s = reported();
  if (!s || !edited_) return s;
  if (s == editedFrom_) return edited_;
  edited_.reset();
  editedFrom_.reset();
  return s;
}

void IBusTextClient::dropEditedUnlessPending() const {
  // Any other text means the context has applied our edits, or more; what it sends after that,
  // even the text it had before them (an undo, the same text typed again, another paragraph
  // alike), is its own.
  if (edited_ && reported() != editedFrom_) {
    edited_.reset();
    editedFrom_.reset();
  }
}

void IBusTextClient::keepEdited(const Surrounding& edited) {
  edited_ = edited;
  // Read after the edit: IBus adjusts its copy for a deletion itself, not for a commit.
  editedFrom_ = reported();
  if (!editedFrom_) edited_.reset();
}

std::optional<QString> IBusTextClient::document() const {
  const std::optional<Surrounding> s = surrounding();
  if (!s) return std::nullopt;
  return s->document(preedit_);
}

TextRange IBusTextClient::markedRange() const {
  if (preedit_.isEmpty()) return {platform::kNotFound, 0};
  const std::optional<Surrounding> s = surrounding();
  return {s ? s->cursor : 0, preedit_.size()};
}

TextRange IBusTextClient::selectedRange() const {
  const std::optional<Surrounding> s = surrounding();
  if (!s) return {platform::kNotFound, 0};
  if (!preedit_.isEmpty()) return {s->cursor + preeditCursor_, 0};
  if (!s->selectionKnown) return {platform::kNotFound, 0};
  return {std::min(s->cursor, s->anchor), std::abs(s->cursor - s->anchor)};
}

bool IBusTextClient::tellsSelection() const {
  const Toolkit kit = toolkit();
  return kit != Toolkit::gtk4 && kit != Toolkit::gtkUnnamed;
}

bool IBusTextClient::tellsEmptySelection() const {
  return toolkit() != Toolkit::gtk3 || toldSelection_;
}

std::optional<QString> IBusTextClient::stringFromRange(TextRange range,
                                                       TextRange* actualRange) const {
  return substringOf(document(), range, actualRange);
}

std::optional<QString> IBusTextClient::attributedSubstring(TextRange range) const {
  return stringFromRange(range);
}

void IBusTextClient::deleteSurrounding(TextRange range) {
  std::optional<Surrounding> s = surrounding();
  const std::optional<SurroundingText::Part> part = s ? s->partOf(range, preedit_) : std::nullopt;
  if (!part) return;
  // In the unit the context counts in.
  const auto position = [&](qsizetype utf16) {
    return s->unit == Unit::utf16 ? utf16 : scalarPosition(s->text, utf16);
  };
  const qsizetype offset = position(part->start) - position(s->cursor);
  const qsizetype count = position(part->end) - position(part->start);
  if (count <= 0) return;
  ibus_engine_delete_surrounding_text(engine_, static_cast<gint>(offset), count);
  // IBus has cut its copy its own way: read it again.
  known_.reset();
  s->remove(*part);
  keepEdited(*s);
}

bool IBusTextClient::preeditCommittedOnFocusLoss() const {
  return clientNameKnown() && clientName_ != QLatin1String("QIBusInputContext");
}

bool IBusTextClient::textBeforeCaretEndsWith(const QString& text) const {
  const std::optional<Surrounding> s = reported();
  return s && !text.isEmpty() && s->text.left(s->cursor).endsWith(text);
}

bool IBusTextClient::toolkitCommitsPreedit() const {
  return clientName_.startsWith(QLatin1String("gtk"));
}

void IBusTextClient::showPreedit(const QString& text, qsizetype cursor) {
  const QByteArray utf8 = text.toUtf8();
  IBusText* preedit = ibus_text_new_from_string(utf8.constData());
  const guint chars = static_cast<guint>(scalarPosition(text, text.size()));
  if (chars > 0) {
    ibus_text_append_attribute(preedit, IBUS_ATTR_TYPE_UNDERLINE, IBUS_ATTR_UNDERLINE_SINGLE, 0,
                               chars);
  }
  // The preedit must reach this context when the focus leaves it or the application resets it:
  // anything the engine sent after that would go to the context IBus attached next. In commit
  // mode IBus (or a toolkit that says it commits itself, as GTK's does) commits it then. Qt's
  // module commits its preedit itself before every reset and focus change without saying so, so
  // commit mode there would insert it twice.
  const IBusPreeditFocusMode mode =
      preeditCommittedOnFocusLoss() ? IBUS_ENGINE_PREEDIT_COMMIT : IBUS_ENGINE_PREEDIT_CLEAR;
  ibus_engine_update_preedit_text_with_mode(
      engine_, preedit, static_cast<guint>(scalarPosition(text, cursor)), chars > 0, mode);
}

void IBusTextClient::setMarkedText(const QString& text, const platform::MarkedTextStyle&,
                                   TextRange selection, TextRange replacement) {
  if (!engine_) return;
  if (!replacement.isNotFound() && replacement != markedRange()) deleteSurrounding(replacement);
  // Nothing is shown (a commit clears the preedit before the controller clears it again): an
  // empty one would only cost another message.
  if (text.isEmpty() && preedit_.isEmpty()) return;
  preedit_ = text;
  preeditCursor_ = std::clamp<qsizetype>(selection.location, 0, text.size());
  showPreedit(preedit_, preeditCursor_);
}

void IBusTextClient::insertText(const QString& text, TextRange replacement) {
  if (!engine_) return;
  const bool hadPreedit = !preedit_.isEmpty();
  // The toolkits replace their selection with the commit. A deletion of it first would take the
  // selection and then as much again (Qt), come after the commit (GTK 4), or not come at all
  // (Chromium).
  const bool selection = !hadPreedit && replacement.length > 0 && replacement == selectedRange();
  if (!replacement.isNotFound() && !selection) deleteSurrounding(replacement);
  if (hadPreedit) {
    preedit_.clear();
    preeditCursor_ = 0;
    showPreedit(QString(), 0);
  }
  const QByteArray utf8 = text.toUtf8();
  ibus_engine_commit_text(engine_, ibus_text_new_from_string(utf8.constData()));
  // The commit replaces the selection and leaves the caret after it.
  if (std::optional<Surrounding> s = surrounding()) {
    const qsizetype start = std::min(s->cursor, s->anchor);
    s->text.replace(start, std::abs(s->cursor - s->anchor), text);
    s->cursor = s->anchor = start + text.size();
    keepEdited(*s);
  }
}

void IBusTextClient::refreshSelection(std::function<void(bool current)> done) {
  // A client that cannot tell its selection says so through selectedRange().
  if (!respondsTo(Call::selectedRange)) return done(true);
  finishRefresh(std::nullopt);
  // GTK's modules read the application's text only before keys, after commits and when a preedit
  // appears. An empty preedit, shown and hidden, makes GTK 3's read it now; in a GTK 4 text view a
  // preedit appearing deletes the selection, so a GTK view of unknown version cannot be asked.
  if (!tellsSelection()) return done(false);
  refreshDone_ = std::move(done);
  // Qt's module, and the others that keep the engine's copy of their text up to date, send it
  // when IBus asks for it.
  IBusText* text = nullptr;
  guint cursor = 0;
  guint anchor = 0;
  ibus_engine_get_surrounding_text(engine_, &text, &cursor, &anchor);
  if (toolkit() == Toolkit::gtk3 && preedit_.isEmpty()) {
    ibus_engine_show_preedit_text(engine_);
    ibus_engine_hide_preedit_text(engine_);
  }
  // Nothing sent in time: the context's text is the one it sent last, since it answers.
  refreshTimeout_ = g_timeout_add(
      kRefreshWaitMs,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<IBusTextClient*>(data);
        self->refreshTimeout_ = 0;
        self->finishRefresh(true);
        return G_SOURCE_REMOVE;
      },
      this);
}

void IBusTextClient::finishRefresh(std::optional<bool> current) {
  if (refreshTimeout_ != 0) {
    g_source_remove(refreshTimeout_);
    refreshTimeout_ = 0;
  }
  std::function<void(bool)> done = std::exchange(refreshDone_, nullptr);
  if (done && current) done(*current);
}

std::optional<QRectF> IBusTextClient::firstRectForCharacterRange(TextRange range,
                                                                 TextRange* actualRange) {
  if (!engine_) return std::nullopt;
  const IBusRectangle& area = engine_->cursor_area;
  if (area.x == 0 && area.y == 0 && area.width == 0 && area.height == 0) return std::nullopt;
  if (actualRange) *actualRange = range;
  return QRectF(area.x, area.y, area.width, area.height);
}

std::optional<QRectF> IBusTextClient::lineHeightRectangle(qsizetype) { return std::nullopt; }

platform::InputPurpose IBusTextClient::inputPurpose() const {
  if (!engine_) return platform::InputPurpose::freeForm;
  guint purpose = 0;
  guint hints = 0;
  ibus_engine_get_content_type(engine_, &purpose, &hints);
  switch (purpose) {
    case IBUS_INPUT_PURPOSE_FREE_FORM:
      return platform::InputPurpose::freeForm;
    case IBUS_INPUT_PURPOSE_PASSWORD:
      return platform::InputPurpose::password;
    case IBUS_INPUT_PURPOSE_PIN:
      return platform::InputPurpose::pin;
    default:
      return platform::InputPurpose::other;
  }
}

}  // namespace tolvani
