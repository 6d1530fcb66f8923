// The colour of secondary text in every window (notes, footers, counts, captions, placeholders,
// dimmed table columns): the text colour blended toward what is behind it, from roles every
// platform theme sets. Not QPalette::PlaceholderText: a theme may leave that role at Qt's default,
// black at half strength, and Qt 6.4 under the KDE platform theme does so even in a dark colour
// scheme, where it reads 1.2:1. Secondary and coloured text is raised to the contrast body text
// needs on the surface it is drawn on, which is not always the window's colour: a tab's pane and a
// section's box are drawn lighter or darker by the style. Recomputed whenever a widget's palette
// changes and when it is shown, so it follows a switch between light and dark. Thread-safety:
// main thread only.
#ifndef TOLVANI_SETTINGS_SECONDARYTEXT_H_
#define TOLVANI_SETTINGS_SECONDARYTEXT_H_

#include <QColor>
#include <QPalette>
#include <QStyledItemDelegate>
#include <functional>

class QWidget;

namespace tolvani::secondarytext {

// The least contrast of any text with what is behind it.
inline constexpr double kReadable = 4.5;

// The contrast ratio of two opaque colours, from 1 to 21.
double contrast(const QColor& a, const QColor& b);

// `ink`, or `ink` moved toward `toward` as little as brings it to `ratio` on `behind`; `toward`
// itself when nothing between does.
QColor raised(const QColor& ink, const QColor& behind, const QColor& toward,
              double ratio = kReadable);
// `ink` raised toward black or white, whichever stands further from `behind`.
QColor raised(const QColor& ink, const QColor& behind, double ratio = kReadable);

// `text` blended toward `behind`: `share` of the text colour, more where that would fall below
// kReadable on `behind`, up to the text colour itself.
QColor color(const QColor& text, const QColor& behind, double share = 0.6);
// The same with the colours of `group` of `palette`.
QColor color(const QPalette& palette, QPalette::ColorGroup group,
             QPalette::ColorRole text = QPalette::WindowText,
             QPalette::ColorRole background = QPalette::Window);

// The colour `widget`'s window shows behind the middle of `widget`: what its ancestors paint
// there, from the window down (a tab's pane, a section's box, a filled scroll page), without
// `widget` and its siblings.
QColor surfaceBehind(QWidget* widget);

// Draws `widget`'s own text in the secondary colour from now on: a label's text (made from its
// window text over the surface behind it), a line edit's placeholder (from its text over its
// base). The widget keeps the colour in its palette's PlaceholderText, set for every colour group
// and computed again at each change of its palette and each time it is shown.
void follow(QWidget* widget);

// Draws `widget`'s text (its button, window and text roles) in `ink` of its palette, raised to
// kReadable on the surface behind it, computed again as follow() does.
void followColor(QWidget* widget, std::function<QColor(const QPalette&)> ink);

// Draws the cells of the columns it is set on in the secondary colour of the view's palette (its
// text over its base); a selected cell keeps the selection's colours.
class Delegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace tolvani::secondarytext

#endif  // TOLVANI_SETTINGS_SECONDARYTEXT_H_
