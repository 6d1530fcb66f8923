// Texts read back from a window's pixels, for the window tests: where each text in sight is drawn,
// the background and ink colours it came out in and their contrast, and where a label's line of
// text stands. What is measured is what the user sees, whatever palette role or computed colour
// the code chose. Thread-safety: the test's main thread.
#ifndef TOLVANI_PLATFORM_TESTING_RENDEREDTEXT_H_
#define TOLVANI_PLATFORM_TESTING_RENDEREDTEXT_H_

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <optional>
#include <vector>

class QLabel;
class QWidget;

namespace tolvani::testing {

struct RenderedText {
  QString where;        // the widget and the text, for failure messages
  QRect area;           // in the root's coordinates
  QColor background;    // the commonest colour of the area
  QColor ink;           // the area's colour of highest contrast with the background
  double contrast = 1;  // of the ink on the background
};

// Every text of `root` in sight in `shot`, a grab of `root`: labels, buttons, check boxes,
// section titles, tab titles, combo boxes, column headings, table cells, line edits (their text,
// or their placeholder when empty), and each run of a text view's text in one format and line.
std::vector<RenderedText> renderedTexts(QWidget* root, const QImage& shot);

// Expects every text of `root` in sight in `shot` readable: at least 4.5:1 on what is behind it,
// secondary text, placeholders and coloured text as much as body text. `name` goes into the
// failure messages.
void expectReadableTexts(QWidget* root, const QImage& shot, const QString& name);

// Where the baseline of `label`'s first line lies in `shot` (a grab of `root`), in the root's
// coordinates: found by laying the label's text, set again in its font, over the rows of ink the
// shot shows. None when the label shows no ink.
std::optional<int> renderedBaseline(QWidget* root, const QImage& shot, const QLabel* label);

}  // namespace tolvani::testing

#endif  // TOLVANI_PLATFORM_TESTING_RENDEREDTEXT_H_
