// The text field of a client application as the input controller sees it: its marked (composing)
// text, its selection, the text around the caret, insertion, and the caret's place on the screen.
// Positions and lengths are UTF-16 units; rectangles are in the desktop's screen coordinates (top
// left origin, y downward). Thread-safety: main thread only.
#ifndef TOLVANI_PLATFORM_TEXTCLIENT_H_
#define TOLVANI_PLATFORM_TEXTCLIENT_H_

#include <QRectF>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <limits>
#include <optional>

namespace tolvani::platform {

// A location no text has: "no marked text", "unknown", or, in a replacement range, "the current
// selection (or the marked text)".
inline constexpr qsizetype kNotFound = std::numeric_limits<qsizetype>::max();

struct TextRange {
  qsizetype location = kNotFound;
  qsizetype length = 0;

  static constexpr TextRange notFound() { return {kNotFound, kNotFound}; }
  bool isNotFound() const { return location == kNotFound; }
  qsizetype end() const { return location + length; }
  friend bool operator==(const TextRange&, const TextRange&) = default;
};

// How marked text is drawn: a single underline in the system's grey, and the caret inside it.
struct MarkedTextStyle {
  int underlineStyle = 1;
  bool greyUnderline = true;
  friend bool operator==(const MarkedTextStyle&, const MarkedTextStyle&) = default;
};

// What the focused field is for. Password and PIN fields are secure entry: nothing typed there
// may be learned.
enum class InputPurpose { freeForm, password, pin, other };

class TextClient {
 public:
  // The optional calls; a client without one behaves as an application that lacks it.
  enum class Call { selectedRange, stringFromRange, lineHeightRectangle };

  virtual ~TextClient() = default;

  virtual bool respondsTo(Call call) const = 0;

  // The marked text's range, or location kNotFound when there is none.
  virtual TextRange markedRange() const = 0;
  // The selection; location kNotFound when the client cannot tell (or lacks the call).
  virtual TextRange selectedRange() const = 0;
  // Whether selectedRange() tells a selection from a caret. An application that reports its
  // selection as a caret, or as another selection, tells the caret only.
  virtual bool tellsSelection() const { return true; }
  // Whether an empty selectedRange() means that nothing is selected. A field that reports its
  // caret alone whatever is selected does not.
  virtual bool tellsEmptySelection() const { return true; }
  // The text of `range`, or none. `actualRange`, when given, receives the range the text really
  // covers (the client may clip or move it).
  virtual std::optional<QString> stringFromRange(TextRange range,
                                                 TextRange* actualRange = nullptr) const = 0;
  // The text of `range` without its attributes, or none.
  virtual std::optional<QString> attributedSubstring(TextRange range) const = 0;

  // Sets the marked text (an empty text removes it). `selection` is relative to the marked text.
  // `replacement` is the document range it replaces; notFound means the present marked text, or
  // the selection when there is none.
  virtual void setMarkedText(const QString& text, const MarkedTextStyle& style, TextRange selection,
                             TextRange replacement) = 0;
  // Commits `text` in place of `replacement` (notFound: the marked text, else the selection).
  virtual void insertText(const QString& text, TextRange replacement) = 0;

  // Asks the application for its selection as it is now, for a request that comes without a key
  // press (some applications tell their selection only with keys). `done` runs once, later or at
  // once, on the main thread: with true when selectedRange() then answers the application's
  // present selection, false when that cannot be known. It does not run when the client loses
  // the focus or another request comes first. A client that always knows its selection calls it
  // at once.
  virtual void refreshSelection(std::function<void(bool current)> done) { done(true); }

  // The screen rectangle of the first line of `range`, or none when the client cannot tell.
  virtual std::optional<QRectF> firstRectForCharacterRange(TextRange range,
                                                           TextRange* actualRange = nullptr) = 0;
  // The line-height rectangle at `index`, or none.
  virtual std::optional<QRectF> lineHeightRectangle(qsizetype index) = 0;

  virtual InputPurpose inputPurpose() const = 0;
  bool isSecureEntry() const {
    const InputPurpose purpose = inputPurpose();
    return purpose == InputPurpose::password || purpose == InputPurpose::pin;
  }
};

}  // namespace tolvani::platform

#endif  // TOLVANI_PLATFORM_TEXTCLIENT_H_
