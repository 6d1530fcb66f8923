// The text client of one IBus input context. The daemon shares one engine object among the
// contexts and moves it with the focus, so the client talks to the engine only while its context
// is focused. Marked text is the preedit (underlined, with its caret); insertion is a commit, and
// a replacement range other than the selection first deletes surrounding text (the toolkits
// replace their selection with a commit themselves); the document is the surrounding text the
// context reports, with the preedit at the caret, in UTF-16 positions converted from the positions
// the context's toolkit sends (characters, as IBus counts, or Qt's UTF-16 units). The context
// reports its text only some time after it applied our commits and deletions, so until it sends
// new text they are applied to a local copy of the last one. Thread-safety: main thread only.
#ifndef TOLVANI_IME_IBUS_IBUSTEXTCLIENT_H_
#define TOLVANI_IME_IBUS_IBUSTEXTCLIENT_H_

#include <QString>
#include <functional>
#include <optional>

#include "ime/SurroundingText.h"
#include "platform/TextClient.h"

typedef struct _IBusEngine IBusEngine;
typedef struct _IBusText IBusText;

namespace tolvani {

class IBusTextClient final : public platform::TextClient {
 public:
  explicit IBusTextClient(QString objectPath);
  ~IBusTextClient() override;
  IBusTextClient(const IBusTextClient&) = delete;
  IBusTextClient& operator=(const IBusTextClient&) = delete;

  const QString& objectPath() const { return objectPath_; }
  // The name the context's toolkit gave it ("gtk3-im:gedit", "QIBusInputContext", ...). It decides
  // who commits a pending preedit when the focus leaves the context or the application resets it.
  void setClientName(const QString& name) { clientName_ = name; }
  // Whether the daemon has told the context's name yet: it does not with the first focus of a
  // new engine object.
  bool clientNameKnown() const { return !clientName_.isEmpty(); }
  // Whether IBus or the toolkit commits the preedit into the context when the context loses the
  // focus; Qt's module leaves it to be dropped then. Until the name is known, neither is assumed:
  // Qt's module would insert a preedit IBus commits a second time.
  bool preeditCommittedOnFocusLoss() const;
  // Whether the text the context last reported ends, at its caret, with `text`.
  bool textBeforeCaretEndsWith(const QString& text) const;
  // Whether the toolkit commits the preedit it shows itself, even when IBus dropped it because
  // another context took the focus first (GTK's module does).
  bool toolkitCommitsPreedit() const;
  // The engine object while the context has the focus (referenced), else none.
  void attach(IBusEngine* engine);
  void detach();
  IBusEngine* engine() const { return engine_; }

  bool respondsTo(Call call) const override;
  platform::TextRange markedRange() const override;
  platform::TextRange selectedRange() const override;
  // Not through IBus's GTK 4 module, nor in a GTK context that may be one.
  bool tellsSelection() const override;
  // IBus's GTK 3 module tells the selection of a text view alone: a one-line field's anchor is
  // always its caret. A GTK 3 context is taken for a text view once it has told a selection.
  bool tellsEmptySelection() const override;
  std::optional<QString> stringFromRange(platform::TextRange range,
                                         platform::TextRange* actualRange = nullptr) const override;
  std::optional<QString> attributedSubstring(platform::TextRange range) const override;
  void setMarkedText(const QString& text, const platform::MarkedTextStyle& style,
                     platform::TextRange selection, platform::TextRange replacement) override;
  void insertText(const QString& text, platform::TextRange replacement) override;
  void refreshSelection(std::function<void(bool current)> done) override;
  std::optional<QRectF> firstRectForCharacterRange(
      platform::TextRange range, platform::TextRange* actualRange = nullptr) override;
  std::optional<QRectF> lineHeightRectangle(qsizetype index) override;
  platform::InputPurpose inputPurpose() const override;

 private:
  // Who sends the context's text, as far as the daemon told: its name, or for a context whose
  // name is not known yet, its capabilities.
  enum class Toolkit { qt, gtk3, gtk4, gtkUnnamed, other, unnamed };
  enum class Unit { scalars, utf16 };
  // The text around the caret as the context sent it: positions in the toolkit's unit.
  struct Sent {
    QString text;
    unsigned cursor = 0;
    unsigned anchor = 0;
  };
  // The anchor is the caret when the selection is not known.
  struct Surrounding : SurroundingText {
    // False when the positions do not tell the selection: the anchor lies outside the text (the
    // selection goes beyond it), the unit is unclear, or the toolkit is known to send a wrong one.
    bool selectionKnown = true;
    Unit unit = Unit::scalars;  // of the context's positions, for deletions
    bool operator==(const Surrounding&) const = default;
  };
  Toolkit toolkit() const;
  Surrounding read(const Sent& sent) const;
  // The text around the caret as the context last sent it, when it sends it.
  std::optional<Surrounding> reported() const;
  // The text around the caret now: the reported text, with our own edits since it was sent.
  std::optional<Surrounding> surrounding() const;
  // `edited` is the text after an edit of ours; it stands until the context reports new text.
  void keepEdited(const Surrounding& edited);
  // Called with each text the context sends: the edits are dropped once it sends a text other
  // than the one they were made on.
  void dropEditedUnlessPending() const;
  // The document as the controller sees it: the surrounding text with the preedit at the caret.
  std::optional<QString> document() const;
  // Deletes `range` of the surrounding text (outside the preedit) through the context.
  void deleteSurrounding(platform::TextRange range);
  void showPreedit(const QString& text, qsizetype cursor);
  // Keeps IBus's copy of the context's text, as the context sent it.
  void keepKnown(IBusText* text, unsigned cursor, unsigned anchor) const;
  // Ends a refresh of the selection: runs its callback, unless `current` is none (the focus left).
  void finishRefresh(std::optional<bool> current);

  const QString objectPath_;
  QString clientName_;
  IBusEngine* engine_ = nullptr;
  QString preedit_;
  qsizetype preeditCursor_ = 0;
  // Our edits on top of `editedFrom_`, the reported text as it was after them; dropped once the
  // context reports anything else.
  mutable std::optional<Surrounding> edited_;
  mutable std::optional<Surrounding> editedFrom_;
  // IBus's copy of the context's text, as last read or sent. Every read of IBus's copy also asks
  // the application, over D-Bus, to keep sending its text; once per focus is enough.
  mutable std::optional<Sent> known_;
  // The context has told a selection, an anchor other than its caret, since it was made.
  mutable bool toldSelection_ = false;
  unsigned long sentHandler_ = 0;  // of the engine's "set-surrounding-text"
  // A refresh of the selection waiting for the context's answer, and its time limit (a GLib
  // source).
  std::function<void(bool)> refreshDone_;
  unsigned refreshTimeout_ = 0;
};

}  // namespace tolvani

#endif  // TOLVANI_IME_IBUS_IBUSTEXTCLIENT_H_
