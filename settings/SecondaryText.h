// The colour of secondary text in every window (notes, footers, counts, captions, placeholders,
// dimmed table columns): the text colour blended toward its background, from roles every platform
// theme sets. Not QPalette::PlaceholderText: a theme may leave that role at Qt's default, black at
// half strength, and Qt 6.4 under the KDE platform theme does so even in a dark colour scheme,
// where it reads 1.2:1. Recomputed whenever a widget's palette changes, so it follows a switch
// between light and dark. Thread-safety: main thread only.
#ifndef TOLVANI_SETTINGS_SECONDARYTEXT_H_
#define TOLVANI_SETTINGS_SECONDARYTEXT_H_

#include <QColor>
#include <QPalette>
#include <QStyledItemDelegate>

class QWidget;

namespace tolvani::secondarytext {

// `text` blended toward `background` in `group` of `palette`: 60 % of the text colour, more where
// that would fall below 4.5:1 on the background, up to the text colour itself.
QColor color(const QPalette& palette, QPalette::ColorGroup group,
             QPalette::ColorRole text = QPalette::WindowText,
             QPalette::ColorRole background = QPalette::Window);

// Draws `widget`'s own text in the secondary colour from now on: a label's text (made from its
// window text over its window colour), a line edit's placeholder (from its text over its base).
// The widget keeps the colour in its palette's PlaceholderText, set for every colour group and
// computed again at each change of its palette.
void follow(QWidget* widget);

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
