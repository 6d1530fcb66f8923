#include "platform/testing/RenderedText.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTableView>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace tolvani::testing {
namespace {

double luminance(QRgb rgb) {
  auto channel = [](int v) {
    const double c = v / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}

double contrastOf(double a, double b) { return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05); }

struct Colors {
  QRgb background = 0, ink = 0;
  double contrast = 1;
};

// The commonest colour of `area` and the colour that stands out most from it.
std::optional<Colors> colorsIn(const QImage& shot, QRect area) {
  area &= shot.rect();
  if (area.width() < 2 || area.height() < 4) return std::nullopt;
  QHash<QRgb, int> counts;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) ++counts[shot.pixel(x, y) | 0xff000000u];
  Colors out;
  int most = 0;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
    if (it.value() > most) most = it.value(), out.background = it.key();
  }
  const double behind = luminance(out.background);
  out.ink = out.background;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
    const double c = contrastOf(luminance(it.key()), behind);
    if (c > out.contrast) out.contrast = c, out.ink = it.key();
  }
  return out;
}

// `local` (in `w`'s coordinates), cut to what is in sight of `w`, in `root`'s coordinates. A text
// scrolled partly out of sight counts only while a whole line of it can still be in sight.
QRect inRoot(QWidget* root, QWidget* w, const QRect& local) {
  const QRect seen = local & w->visibleRegion().boundingRect();
  if (seen.isEmpty()) return {};
  if (seen != local && seen.height() < w->fontMetrics().height()) return {};
  return QRect(w->mapTo(root, seen.topLeft()), seen.size());
}

QString describe(QWidget* w, const QString& text) {
  QString name = QString::fromLatin1(w->metaObject()->className());
  if (!w->objectName().isEmpty()) name += u'#' + w->objectName();
  return name + QStringLiteral(" \"") + text.left(60) + u'"';
}

class Collector {
 public:
  Collector(QWidget* root, const QImage& shot) : root_(root), shot_(shot) {}

  // `named` is the widget the failure messages name, `w` by default.
  void add(QWidget* w, const QRect& local, const QString& text, QWidget* named = nullptr) {
    if (text.trimmed().isEmpty()) return;
    const QRect area = inRoot(root_, w, local);
    const std::optional<Colors> colors = colorsIn(shot_, area);
    if (!colors) return;
    RenderedText t;
    t.where = describe(named ? named : w, text);
    t.area = area;
    t.background = QColor::fromRgb(colors->background);
    t.ink = QColor::fromRgb(colors->ink);
    t.contrast = colors->contrast;
    texts_.push_back(t);
  }

  std::vector<RenderedText> take() { return std::move(texts_); }

 private:
  QWidget* root_;
  const QImage& shot_;
  std::vector<RenderedText> texts_;
};

QRect groupBoxTitle(QGroupBox* box) {
  QStyleOptionGroupBox option;
  option.initFrom(box);
  option.text = box->title();
  option.lineWidth = 1;
  option.textAlignment = Qt::Alignment(box->alignment());
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  if (box->isFlat()) option.features |= QStyleOptionFrame::Flat;
  if (box->isCheckable()) option.subControls |= QStyle::SC_GroupBoxCheckBox;
  return box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
}

// Each run of `view`'s text in one format, line by line: a rich text view's colours differ from
// run to run. Runs of rules, arrows and spaces only are drawing, not text; a run that starts with a
// combining mark is drawn on the character before it, in another run.
void collectRuns(QAbstractScrollArea* view, const QTextDocument* document, Collector& out) {
  const QPoint scrolled(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
  const QAbstractTextDocumentLayout* layout = document->documentLayout();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const QTextLayout* lines = block.layout();
    if (!lines) continue;
    const QPointF at = layout->blockBoundingRect(block).topLeft() - QPointF(scrolled);
    for (auto run = block.begin(); !run.atEnd(); ++run) {
      const QTextFragment fragment = run.fragment();
      const int start = fragment.position() - block.position();
      const int end = start + fragment.length();
      for (int i = 0; i < lines->lineCount(); ++i) {
        const QTextLine line = lines->lineAt(i);
        const int from = std::max(start, line.textStart());
        const int to = std::min(end, line.textStart() + line.textLength());
        if (from >= to) continue;
        const QString text = fragment.text().mid(from - start, to - from);
        if (text.front().isMark()) continue;
        if (std::none_of(text.cbegin(), text.cend(),
                         [](QChar c) { return c.isLetterOrNumber() || c.isMark(); }))
          continue;
        const QRectF area(line.cursorToX(from), line.y(), line.cursorToX(to) - line.cursorToX(from),
                          line.height());
        out.add(view->viewport(), area.translated(at).toAlignedRect(), text.trimmed(), view);
      }
    }
  }
}

void collect(QWidget* w, Collector& out) {
  const QRect inner = w->rect().adjusted(2, 2, -2, -2);
  if (auto* label = qobject_cast<QLabel*>(w)) {
    out.add(w, label->contentsRect(), label->text());
  } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
    // The text only, not the indicator's frame.
    auto* button = static_cast<QAbstractButton*>(w);
    const int indicator = w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                          w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    out.add(w, w->rect().adjusted(indicator, 0, 0, 0), button->text());
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    out.add(w, inner, button->text());
  } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
    out.add(w, groupBoxTitle(box), box->title());
  } else if (auto* bar = qobject_cast<QTabBar*>(w)) {
    for (int i = 0; i < bar->count(); ++i)
      out.add(w, bar->tabRect(i).adjusted(2, 2, -2, -2), bar->tabText(i));
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    if (!combo->isEditable()) out.add(w, inner.adjusted(0, 0, -20, 0), combo->currentText());
  } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
    out.add(w, inner, field->text().isEmpty() ? field->placeholderText() : field->text());
  } else if (auto* header = qobject_cast<QHeaderView*>(w)) {
    if (!header->model()) return;
    for (int i = 0; i < header->count(); ++i) {
      if (header->isSectionHidden(i)) continue;
      const int at = header->sectionViewportPosition(i), size = header->sectionSize(i);
      const QRect section = header->orientation() == Qt::Horizontal
                                ? QRect(at, 0, size, header->height())
                                : QRect(0, at, header->width(), size);
      out.add(header->viewport(), section.adjusted(2, 2, -2, -2),
              header->model()->headerData(i, header->orientation()).toString());
    }
  } else if (auto* table = qobject_cast<QTableView*>(w)) {
    const QAbstractItemModel* model = table->model();
    if (!model) return;
    QWidget* viewport = table->viewport();
    for (int row = 0; row < model->rowCount(); ++row) {
      for (int column = 0; column < model->columnCount(); ++column) {
        const QModelIndex index = model->index(row, column);
        const QRect cell = table->visualRect(index) & viewport->rect();
        if (cell.height() < 4) continue;
        out.add(viewport, cell.adjusted(1, 1, -1, -1), index.data().toString());
      }
    }
  } else if (auto* edit = qobject_cast<QTextEdit*>(w)) {
    collectRuns(edit, edit->document(), out);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    out.add(plain->viewport(), plain->viewport()->rect(), plain->toPlainText());
  }
}

}  // namespace

std::vector<RenderedText> renderedTexts(QWidget* root, const QImage& shot) {
  Collector collector(root, shot);
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    // A disabled control is meant to recede.
    if (!w->isVisible() || !w->isEnabled()) continue;
    collect(w, collector);
  }
  return collector.take();
}

void expectReadableTexts(QWidget* root, const QImage& shot, const QString& name) {
  const std::vector<RenderedText> texts = renderedTexts(root, shot);
  EXPECT_FALSE(texts.empty()) << name.toStdString();
  for (const RenderedText& t : texts) {
    EXPECT_GE(t.contrast, 4.5) << name.toStdString() << ": " << t.where.toStdString() << " drawn "
                               << t.ink.name().toStdString() << " on "
                               << t.background.name().toStdString();
  }
}

std::optional<int> renderedBaseline(QWidget* root, const QImage& shot, const QLabel* label) {
  const QRect area = QRect(label->mapTo(root, QPoint(0, 0)), label->size()) & shot.rect();
  const std::optional<Colors> colors = colorsIn(shot, area);
  if (!colors || colors->contrast < 1.5) return std::nullopt;
  // How much ink each row of the shot holds, 1 for a pixel fully in the ink colour.
  const double behind = luminance(colors->background), full = luminance(colors->ink) - behind;
  std::vector<double> shown(static_cast<size_t>(area.height()));
  for (int y = 0; y < area.height(); ++y)
    for (int x = 0; x < area.width(); ++x)
      shown[static_cast<size_t>(y)] += std::clamp(
          (luminance(shot.pixel(area.left() + x, area.top() + y)) - behind) / full, 0.0, 1.0);

  // The same text set again, black on white, on a known baseline with room above and below.
  QImage reference(area.width(), area.height() * 3, QImage::Format_RGB32);
  reference.setDotsPerMeterX(qRound(label->logicalDpiX() / 0.0254));
  reference.setDotsPerMeterY(qRound(label->logicalDpiY() / 0.0254));
  reference.fill(Qt::white);
  const int referenceBaseline = area.height() * 3 / 2;
  {
    QPainter painter(&reference);
    painter.setFont(label->font());
    painter.setPen(Qt::black);
    painter.drawText(QPointF(label->contentsRect().left(), referenceBaseline),
                     label->text().section(u'\n', 0, 0));
  }
  std::vector<double> drawn(static_cast<size_t>(reference.height()));
  for (int y = 0; y < reference.height(); ++y)
    for (int x = 0; x < reference.width(); ++x)
      drawn[static_cast<size_t>(y)] += 1.0 - qGray(reference.pixel(x, y)) / 255.0;

  // The shift that lays the set text's rows of ink best over the shot's.
  int best = 0;
  double bestError = -1;
  for (int shift = 0; shift + area.height() <= reference.height(); ++shift) {
    double error = 0;
    for (int y = 0; y < area.height(); ++y) {
      const double d = shown[static_cast<size_t>(y)] - drawn[static_cast<size_t>(y + shift)];
      error += d * d;
    }
    if (bestError < 0 || error < bestError) bestError = error, best = shift;
  }
  return area.top() + referenceBaseline - best;
}

}  // namespace tolvani::testing
