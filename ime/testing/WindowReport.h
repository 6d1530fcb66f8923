// What the program reports of its windows when TOLVANI_TEST_WINDOWS names a file (one line a
// shown window, widget, tab, row, candidate or guide-page button), read back by the tests and
// benchmarks that drive the real program on a virtual display. Thread-safety: one thread.
#ifndef TOLVANI_IME_TESTING_WINDOWREPORT_H_
#define TOLVANI_IME_TESTING_WINDOWREPORT_H_

#include <QFile>
#include <QRect>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "ime/testing/IBusDaemonHarness.h"

namespace tolvani::testing {

struct Widget {
  QString kind;  // the line's first word: window, widget, tab, row, candidate, page
  QStringList fields;
  QRect place;
};

inline QRect parsePlace(const QString& text) {
  const QStringList n = text.split(u' ');
  if (n.size() != 4) return {};
  return QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
}

class WindowReport {
 public:
  explicit WindowReport(QString path) : path_(std::move(path)) {}
  const QString& path() const { return path_; }

  // Reads the latest report.
  void read() {
    lines_.clear();
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
      const QStringList parts = line.split(u'\t');
      Widget w{parts.value(0), parts.mid(1), {}};
      // The place is the last field but for widgets, whose state follows it.
      if (w.kind == QLatin1String("widget")) {
        w.place = parsePlace(parts.value(4));
      } else {
        w.place = parsePlace(parts.value(parts.size() - 1));
      }
      lines_.push_back(w);
    }
  }
  QString text() const {
    QFile file(path_);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  // Rereads until `found` answers a line, or `ms` pass.
  std::optional<Widget> waitFor(const std::function<bool(const Widget&)>& found, int ms = 30000) {
    std::optional<Widget> hit;
    waitUntil(
        [&] {
          read();
          for (const Widget& w : lines_) {
            if (found(w)) {
              hit = w;
              return true;
            }
          }
          return false;
        },
        ms);
    return hit;
  }
  bool waitForNone(const std::function<bool(const Widget&)>& found, int ms = 30000) {
    return waitUntil(
        [&] {
          read();
          return std::none_of(lines_.begin(), lines_.end(), found);
        },
        ms);
  }
  const std::vector<Widget>& lines() const { return lines_; }

  // A widget by object name (`widget <class> <name> <text> <place> <state>`).
  static std::function<bool(const Widget&)> named(const QString& name) {
    return [name](const Widget& w) {
      return w.kind == QLatin1String("widget") && w.fields.value(1) == name && !w.place.isEmpty();
    };
  }
  // A window by its object name (`window <class> <name> <title> <X id> <place>`).
  static std::function<bool(const Widget&)> window(const QString& name) {
    return [name](const Widget& w) {
      return w.kind == QLatin1String("window") && w.fields.value(1) == name;
    };
  }
  static std::function<bool(const Widget&)> pageButton(const QString& action) {
    return [action](const Widget& w) {
      return w.kind == QLatin1String("page") && w.fields.value(0) == action;
    };
  }
  // The candidate panel's rows, "text/kind" each.
  QStringList candidates() {
    read();
    QStringList rows;
    for (const Widget& w : lines_) {
      if (w.kind == QLatin1String("candidate"))
        rows << w.fields.value(0) + u'/' + w.fields.value(1);
    }
    return rows;
  }

 private:
  QString path_;
  std::vector<Widget> lines_;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_WINDOWREPORT_H_
