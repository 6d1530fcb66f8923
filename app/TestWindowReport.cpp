#include "app/TestWindowReport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QTabBar>
#include <QTimer>

#include "ime/CandidatePanelWindow.h"
#include "platform/PrivateFiles.h"
#include "setup/SetupWindow.h"

namespace tolvani::TestWindowReport {
namespace {

QString clean(QString text) {
  return text.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'&', QString());
}

QString place(const QRect& r) {
  return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString globalRect(const QWidget* widget, const QRect& local) {
  return place(QRect(widget->mapToGlobal(local.topLeft()), local.size()));
}

void describe(QWidget* widget, QStringList& lines) {
  QString text;
  QString state;
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    text = button->text();
    if (button->isCheckable()) state = button->isChecked() ? QStringLiteral("on") : "off";
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    text = label->text();
  } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
    text = field->text();
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    text = combo->currentText();
  }
  if (!widget->isEnabled()) state += QStringLiteral(" disabled");
  lines << QStringLiteral("widget\t%1\t%2\t%3\t%4\t%5")
               .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName(),
                    clean(text), globalRect(widget, widget->rect()), state.trimmed());
  if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
    for (int i = 0; i < tabs->count(); ++i) {
      lines << QStringLiteral("tab\t%1\t%2")
                   .arg(clean(tabs->tabText(i)), globalRect(tabs, tabs->tabRect(i)));
    }
  } else if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
    // The rows a person sees, from the first one in the view down: listing every row of a table of
    // ten thousand long words a few times a second would weigh on the memory that benchmarks of
    // the program measure.
    const QAbstractItemModel* model = view->model();
    const QRect viewport = view->viewport()->rect();
    const QModelIndex first = view->indexAt(viewport.topLeft() + QPoint(1, 1));
    for (int row = first.isValid() ? first.row() : model->rowCount(); row < model->rowCount();
         ++row) {
      const QRect shown = view->visualRect(model->index(row, 0)).intersected(viewport);
      if (shown.isEmpty()) break;
      QStringList cells;
      for (int column = 0; column < model->columnCount(); ++column)
        cells << clean(model->index(row, column).data().toString());
      lines << QStringLiteral("row\t%1\t%2\t%3")
                   .arg(view->objectName(), cells.join(u'|'), globalRect(view->viewport(), shown));
    }
  } else if (auto* panel = dynamic_cast<CandidatePanelWindow*>(widget)) {
    for (const CandidatePanel::Row& row : panel->shownRows()) {
      if (!row.visible || !row.item) continue;
      lines << QStringLiteral("candidate\t%1\t%2\t%3")
                   .arg(clean(row.item->text), row.item->kind,
                        globalRect(panel, row.frame.toAlignedRect()));
    }
  } else if (widget->inherits("QWebEngineView")) {
    // The guide page's buttons, as the page last told; the module that shows the page asks it.
    const QString buttons = SetupWindow::testPageButtons(widget);
    for (const QString& button : buttons.split(u'\n', Qt::SkipEmptyParts)) {
      QStringList parts = button.split(u'\t');
      if (parts.size() != 7) continue;
      const QRect r(parts[3].toInt(), parts[4].toInt(), parts[5].toInt(), parts[6].toInt());
      lines << QStringLiteral("page\t%1\t%2\t%3\t%4")
                   .arg(parts[0], parts[1], clean(parts[2]), globalRect(widget, r));
    }
  }
}

QStringList shownWindows() {
  QStringList lines;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible()) continue;
    lines << QStringLiteral("window\t%1\t%2\t%3\t%4\t%5")
                 .arg(QString::fromLatin1(window->metaObject()->className()), window->objectName(),
                      clean(window->windowTitle()), QString::number(window->winId()),
                      place(window->frameGeometry()));
    describe(window, lines);
    for (QWidget* child : window->findChildren<QWidget*>()) {
      if (child->isVisibleTo(window) && child->isWindow() == false) describe(child, lines);
    }
  }
  return lines;
}

void report(const QString& path) {
  QStringList lines{QStringLiteral("time\t%1").arg(QDateTime::currentMSecsSinceEpoch())};
  lines << shownWindows();
  // The setup window's, from its own process.
  const QString window = SetupWindow::testReport();
  if (!window.isEmpty()) lines << window;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !platform::privatefiles::makePrivate(file)) return;
  file.write(lines.join(u'\n').toUtf8() + '\n');
  file.commit();
}

void every200ms(std::function<void()> work) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(200);
  QObject::connect(timer, &QTimer::timeout, std::move(work));
  timer->start();
}

}  // namespace

void startIfRequested() {
  const QString path = qEnvironmentVariable("TOLVANI_TEST_WINDOWS");
  if (!path.isEmpty()) every200ms([path] { report(path); });
}

void forwardIfRequested(std::function<void(const QString& lines)> send) {
  if (qEnvironmentVariableIsEmpty("TOLVANI_TEST_WINDOWS")) return;
  every200ms([send = std::move(send)] { send(shownWindows().join(u'\n')); });
}

}  // namespace tolvani::TestWindowReport
