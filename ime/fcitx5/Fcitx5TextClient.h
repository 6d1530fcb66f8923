// The text client of one fcitx5 input context. The addon sends the context's text around the
// caret (in Unicode scalars, as fcitx5 counts), its caret rectangle and its purpose with every
// key; what the controller does to the text goes back to the addon as actions, in order. Marked
// text is the preedit (with its caret); insertion is a commit, and a replacement range other than
// the selection first deletes surrounding text (the toolkits replace their selection with a commit
// themselves). The document is the reported text with the preedit at the caret; until the context
// reports new text, our edits apply to a local copy of the last one. Thread-safety: main thread
// only.
#ifndef TOLVANI_IME_FCITX5_FCITX5TEXTCLIENT_H_
#define TOLVANI_IME_FCITX5_FCITX5TEXTCLIENT_H_

#include <QRectF>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "ime/SurroundingText.h"
#include "platform/TextClient.h"

namespace tolvani {

class Fcitx5TextClient final : public platform::TextClient {
 public:
  // `send` takes each encoded action (see Fcitx5Protocol.h) for the context.
  explicit Fcitx5TextClient(std::function<void(std::string action)> send);

  // What the addon reported with a key: the text around the caret when the context tells it,
  // positions in scalars; the caret rectangle (empty when unknown); the purpose.
  void report(std::optional<QString> text, unsigned cursor, unsigned anchor, QRectF caret,
              platform::InputPurpose purpose);
  // The text around the caret as the context told it between keys.
  void reportText(std::optional<QString> text, unsigned cursor, unsigned anchor) {
    report(std::move(text), cursor, anchor, caret_, purpose_);
  }
  // The preedit is gone from the field (committed there or dropped): nothing is shown any more.
  void forgetPreedit();
  const QString& preedit() const { return preedit_; }

  bool respondsTo(Call call) const override;
  platform::TextRange markedRange() const override;
  platform::TextRange selectedRange() const override;
  std::optional<QString> stringFromRange(platform::TextRange range,
                                         platform::TextRange* actualRange = nullptr) const override;
  std::optional<QString> attributedSubstring(platform::TextRange range) const override;
  void setMarkedText(const QString& text, const platform::MarkedTextStyle& style,
                     platform::TextRange selection, platform::TextRange replacement) override;
  void insertText(const QString& text, platform::TextRange replacement) override;
  std::optional<QRectF> firstRectForCharacterRange(
      platform::TextRange range, platform::TextRange* actualRange = nullptr) override;
  std::optional<QRectF> lineHeightRectangle(qsizetype index) override;
  platform::InputPurpose inputPurpose() const override { return purpose_; }

 private:
  using Surrounding = SurroundingText;
  std::optional<Surrounding> surrounding() const;
  std::optional<QString> document() const;
  void keepEdited(const Surrounding& edited);
  void deleteSurrounding(platform::TextRange range);
  void showPreedit();

  std::function<void(std::string)> send_;
  std::optional<Surrounding> reported_;
  // Our edits on top of `editedFrom_`, the reported text they were made on; dropped once the
  // context reports anything else.
  std::optional<Surrounding> edited_;
  std::optional<Surrounding> editedFrom_;
  QString preedit_;
  qsizetype preeditCursor_ = 0;
  QRectF caret_;
  platform::InputPurpose purpose_ = platform::InputPurpose::freeForm;
};

}  // namespace tolvani

#endif  // TOLVANI_IME_FCITX5_FCITX5TEXTCLIENT_H_
