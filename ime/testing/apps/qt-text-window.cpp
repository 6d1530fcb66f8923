// A Qt 6 window with text fields, typed into through Qt's own IBus input context, for tests that
// drive it with X key events. It writes the same reports as gtk-text-window.c:
//   "field <i> <x> <y> <width> <height>", "window <id>", "ready", "focus <i>", "blur <i>",
//   "text <i>\t<text>", "preedit <i>\t<text>" (a line break written "\n", a backslash "\\"),
//   "selection <i> <start> <end>" (after every change of the selection or the caret),
// "at <i> <index> <x> <y>" (a point of the field nearer the edge before its character <index>,
// counted in UTF-16 units, than any other: where a click puts the caret there), and reads the
// same requests from standard input ("clear", "where <i> <index>").
// Options: --fields N (0 shows a window with no field), --title TEXT, --x X --y Y (its place),
// --multiline (text edits, as in an editor, instead of one-line edits).
#include <unistd.h>
#include <QApplication>
#include <QEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Line breaks and backslashes escaped, so that a text is one report line.
QString escaped(QString text) {
  return text.replace(u'\\', QStringLiteral("\\\\")).replace(u'\n', QStringLiteral("\\n"));
}

void report(const QString& line) {
  std::fputs(line.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

class FocusReporter : public QObject {
 public:
  FocusReporter(QObject* parent, int index) : QObject(parent), index_(index) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn) report(QStringLiteral("focus %1").arg(index_));
    if (event->type() == QEvent::FocusOut) report(QStringLiteral("blur %1").arg(index_));
    // Every input-method event sets the composition the field shows, empty when there is none.
    if (event->type() == QEvent::InputMethod) {
      const QString preedit = static_cast<QInputMethodEvent*>(event)->preeditString();
      if (preedit != shown_) {
        shown_ = preedit;
        report(QStringLiteral("preedit %1\t").arg(index_) + escaped(preedit));
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  int index_;
  QString shown_;
};

// The middle of the run of points on the field's line where a click puts the caret at `index`:
// a click there, or a pixel beside it, lands there whatever the widths of the characters.
void reportWhere(QWidget* field, int i, int index) {
  QWidget* surface = field;
  std::function<int(QPoint)> caretAt;
  int y = field->height() / 2;
  if (auto* line = qobject_cast<QLineEdit*>(field)) {
    if (index < 0 || index > line->text().size()) return;
    caretAt = [line](QPoint p) { return line->cursorPositionAt(p); };
  } else if (auto* edit = qobject_cast<QTextEdit*>(field)) {
    if (index < 0 || index > edit->document()->characterCount() - 1) return;
    surface = edit->viewport();
    QTextCursor at(edit->document());
    at.setPosition(index);
    y = edit->cursorRect(at).center().y();
    caretAt = [edit](QPoint p) { return edit->cursorForPosition(p).position(); };
  } else {
    return;
  }
  int first = -1;
  int last = -1;
  for (int x = 0; x < surface->width(); ++x) {
    if (caretAt(QPoint(x, y)) != index) continue;
    if (first < 0) first = x;
    last = x;
  }
  if (first < 0) return;
  const QPoint global = surface->mapToGlobal(QPoint((first + last) / 2, y));
  report(QStringLiteral("at %1 %2 %3 %4").arg(i).arg(index).arg(global.x()).arg(global.y()));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int count = 1;
  QString title = QStringLiteral("Tolvani Qt test");
  int x = 0;
  int y = 0;
  bool multiline = false;
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    const bool more = i + 1 < args.size();
    if (more && args[i] == QLatin1String("--fields")) {
      count = args[++i].toInt();
    } else if (more && args[i] == QLatin1String("--title")) {
      title = args[++i];
    } else if (more && args[i] == QLatin1String("--x")) {
      x = args[++i].toInt();
    } else if (more && args[i] == QLatin1String("--y")) {
      y = args[++i].toInt();
    } else if (args[i] == QLatin1String("--multiline")) {
      multiline = true;
    } else {
      std::fprintf(stderr,
                   "usage: qt-text-window [--fields N] [--title TEXT] [--x X] [--y Y] "
                   "[--multiline]\n");
      return 2;
    }
  }
  if (count < 0 || count > 8) count = 1;
  QWidget window;
  window.setWindowTitle(title);
  auto* layout = new QVBoxLayout(&window);
  std::vector<QWidget*> fields;
  if (count == 0) layout->addWidget(new QLabel(QStringLiteral("No text field")));
  for (int i = 0; i < count; ++i) {
    QWidget* field = nullptr;
    // The selection, or the caret, each time it changes.
    auto shown = std::make_shared<std::pair<int, int>>(-1, -1);
    const auto reportSelection = [i, shown](int start, int end) {
      if (*shown == std::make_pair(start, end)) return;
      *shown = {start, end};
      report(QStringLiteral("selection %1 %2 %3").arg(i).arg(start).arg(end));
    };
    if (multiline) {
      auto* edit = new QTextEdit;
      const auto selection = [edit, reportSelection] {
        const QTextCursor cursor = edit->textCursor();
        reportSelection(cursor.selectionStart(), cursor.selectionEnd());
      };
      QObject::connect(edit, &QTextEdit::cursorPositionChanged, selection);
      QObject::connect(edit, &QTextEdit::selectionChanged, selection);
      edit->setAcceptRichText(false);
      edit->setFixedHeight(64);
      QObject::connect(edit, &QTextEdit::textChanged, [i, edit] {
        report(QStringLiteral("text %1\t").arg(i) + escaped(edit->toPlainText()));
      });
      field = edit;
    } else {
      auto* edit = new QLineEdit;
      const auto selection = [edit, reportSelection] {
        if (edit->hasSelectedText()) {
          reportSelection(edit->selectionStart(), edit->selectionEnd());
        } else {
          reportSelection(edit->cursorPosition(), edit->cursorPosition());
        }
      };
      QObject::connect(edit, &QLineEdit::cursorPositionChanged, selection);
      QObject::connect(edit, &QLineEdit::selectionChanged, selection);
      // An undo puts the selection back without telling; once it has ended, it is read again.
      QObject::connect(edit, &QLineEdit::textChanged, edit,
                       [edit, selection] { QTimer::singleShot(0, edit, selection); });
      QObject::connect(edit, &QLineEdit::textChanged, [i](const QString& text) {
        report(QStringLiteral("text %1\t").arg(i) + escaped(text));
      });
      field = edit;
    }
    layout->addWidget(field);
    field->installEventFilter(new FocusReporter(field, i));
    fields.push_back(field);
  }
  auto* requests = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &window);
  QObject::connect(requests, &QSocketNotifier::activated, [&fields, requests] {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      requests->setEnabled(false);  // standard input ended
      return;
    }
    const QStringList lines = QString::fromUtf8(buffer, n).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
      const QStringList words = line.split(u' ');
      if (words.size() == 3 && words[0] == QLatin1String("where")) {
        const int i = words[1].toInt();
        if (i >= 0 && i < static_cast<int>(fields.size()))
          reportWhere(fields[i], i, words[2].toInt());
      }
    }
    if (std::string(buffer, static_cast<size_t>(n)).find("clear") != std::string::npos) {
      for (QWidget* field : fields) {
        if (auto* line = qobject_cast<QLineEdit*>(field)) line->clear();
        if (auto* text = qobject_cast<QTextEdit*>(field)) text->clear();
      }
    }
  });
  window.resize(480, window.sizeHint().height());
  window.move(x, y);
  window.show();
  // The places are known once the window is exposed and laid out.
  auto* poll = new QTimer(&window);
  QObject::connect(poll, &QTimer::timeout, [&] {
    if (!window.windowHandle() || !window.windowHandle()->isExposed()) return;
    poll->stop();
    for (int i = 0; i < count; ++i) {
      const QPoint origin = fields[i]->mapToGlobal(QPoint(0, 0));
      report(QStringLiteral("field %1 %2 %3 %4 %5")
                 .arg(i)
                 .arg(origin.x())
                 .arg(origin.y())
                 .arg(fields[i]->width())
                 .arg(fields[i]->height()));
    }
    report(QStringLiteral("window %1").arg(window.winId()));
    report(QStringLiteral("ready"));
  });
  poll->start(50);
  return app.exec();
}
