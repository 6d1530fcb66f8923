// The pieces every settings tab is built from: a section box with a title, a form layout and an
// optional footer; secondary text; flat buttons as form rows; read-only list tables; icons from the
// desktop's theme with a drawn fallback; the colours of destructive and reassuring labels, computed
// from the palette. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_SETTINGSWIDGETS_H_
#define TOLVANI_WINDOWS_SETTINGSWIDGETS_H_

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QScrollArea>
#include <QString>

class QAbstractItemModel;
class QFormLayout;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;

class QWidget;

namespace tolvani::settingsui {

// The icon named `themeName` in the desktop's icon theme; where the theme has none, `glyph` drawn
// in `color`.
QIcon symbolIcon(const QString& themeName, const QString& glyph, const QColor& color);

// `text` for a widget that reads "&" as the mark of its keyboard shortcut (buttons, section titles,
// tabs, labels of a control): the user's "&" shown as written.
QString plain(QString text);

// A titled box whose rows go into the returned form layout.
QGroupBox* makeSection(QFormLayout** rows);
// A label for explanations and footers: wrapped, in the palette's secondary text colour.
QLabel* makeSecondaryLabel();
// Puts `content` in a frameless vertical scroll area, as a grouped form scrolls.
QScrollArea* makeScrollPage(QWidget* content);
// A flat button named `name`, its title (and icon) at its left, that stands in a form as a row.
QPushButton* makeLinkButton(const char* name);
// A table named `name` showing `model` as a list: whole rows selected, several at once, nothing
// edited in place, long texts elided, no row numbers, the last column taking the rest of the width.
QTableView* makeListTable(const char* name, QAbstractItemModel* model);

// Red for destructive buttons, green for the offline badge, for a light or a dark palette; a text
// takes them through secondarytext::followColor, which raises them on the surface behind it.
QColor destructiveColor(const QPalette& palette);
QColor reassuringColor(const QPalette& palette);

}  // namespace tolvani::settingsui

#endif  // TOLVANI_WINDOWS_SETTINGSWIDGETS_H_
