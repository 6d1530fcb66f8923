#include "windows/SettingsWidgets.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>

#include "settings/SecondaryText.h"

namespace tolvani::settingsui {
namespace {

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

}  // namespace

QString plain(QString text) { return text.replace(u'&', QStringLiteral("&&")); }

QIcon symbolIcon(const QString& themeName, const QString& glyph, const QColor& color) {
  const QIcon themed = QIcon::fromTheme(themeName);
  if (!themed.isNull()) return themed;
  QIcon drawn;
  for (int size : {16, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPixelSize(size * 7 / 8);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph);
    painter.end();
    drawn.addPixmap(pixmap);
  }
  return drawn;
}

QGroupBox* makeSection(QFormLayout** rows) {
  auto* box = new QGroupBox;
  auto* form = new QFormLayout(box);
  form->setRowWrapPolicy(QFormLayout::WrapLongRows);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  *rows = form;
  return box;
}

QLabel* makeSecondaryLabel() {
  auto* label = new QLabel;
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  secondarytext::follow(label);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 0.92);
  label->setFont(font);
  return label;
}

QScrollArea* makeScrollPage(QWidget* content) {
  auto* scroll = new QScrollArea;
  scroll->setWidget(content);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return scroll;
}

QPushButton* makeLinkButton(const char* name) {
  auto* button = new QPushButton;
  button->setObjectName(QString::fromLatin1(name));
  button->setFlat(true);
  button->setStyleSheet(QStringLiteral("text-align: left; padding: 4px;"));
  return button;
}

QTableView* makeListTable(const char* name, QAbstractItemModel* model) {
  auto* table = new QTableView;
  table->setObjectName(QString::fromLatin1(name));
  table->setModel(model);
  table->setAlternatingRowColors(true);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setTextElideMode(Qt::ElideRight);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

QColor destructiveColor(const QPalette& palette) {
  return isDark(palette) ? QColor(0xff, 0x7b, 0x72) : QColor(0xb0, 0x1a, 0x24);
}

QColor reassuringColor(const QPalette& palette) {
  return isDark(palette) ? QColor(0x57, 0xe3, 0x89) : QColor(0x1a, 0x7f, 0x45);
}

}  // namespace tolvani::settingsui
