// The keyboard help window's formatted text: a list of fragments, each a piece of text in one of
// the help window's text styles, with the section heading and the fixed-width column rule its tabs
// share. Thread-safety: a value type; the text formats for a widget are made on the main thread.
#ifndef TOLVANI_HELP_HELPTEXT_H_
#define TOLVANI_HELP_HELPTEXT_H_

#include <QPalette>
#include <QString>
#include <QTextCharFormat>
#include <vector>

class QTextDocument;

namespace tolvani {

enum class TextStyle {
  titleStyle,    // a tab's title line
  sectionStyle,  // a section heading's title
  mutedStyle,    // a heading's rule; the arrow of a row
  keyStyle,      // the typed key or input of a row
  outputStyle,   // the Bangla output of a phonetic or fixed-layout row
  bodyStyle,     // plain text
  noteStyle,     // a note, a conjunct's components, the conjunct tab's introduction
  introStyle,    // the phonetic tab's introductory lines
  glyphStyle,    // the conjunct letter of a conjunct row
  exampleStyle,  // the example word of a conjunct row
  monoStyle,     // separators and line ends of fixed-layout rows
};

// The font and colour of a style, with colours taken from the palette the text is shown in.
// monoStyle sets no colour. `compactRows` sets rows' keys, arrows, separators and outputs smaller.
QTextCharFormat textFormat(TextStyle style, const QPalette& palette, bool compactRows = false);

// The text brought to exactly `length` UTF-16 code units: spaces are appended to a shorter text and
// a longer one is cut. A cut never leaves half of a surrogate pair: the whole character goes and a
// space takes its place.
QString padded(const QString& text, int length);

struct TextFragment {
  QString text;
  TextStyle style;
  bool operator==(const TextFragment&) const = default;
};

class HelpText {
 public:
  void append(QString text, TextStyle style);
  void append(const HelpText& other);
  // A section heading: "\n" + title + "\n", then a rule of `ruleLength` U+2500 and a line end.
  void header(const QString& title, int ruleLength);
  // Rows set small enough that a row of 13 keys with their outputs fits the window's width, so
  // that a keyboard row stands on one line and its columns line up.
  void setCompactRows(bool compact) { compactRows_ = compact; }

  const std::vector<TextFragment>& fragments() const { return fragments_; }
  QString plainText() const;
  // Replaces the document's whole content with this text in the palette's colours.
  void writeTo(QTextDocument& document, const QPalette& palette) const;

 private:
  std::vector<TextFragment> fragments_;
  bool compactRows_ = false;
};

}  // namespace tolvani

#endif  // TOLVANI_HELP_HELPTEXT_H_
