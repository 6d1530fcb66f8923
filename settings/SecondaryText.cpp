#include "settings/SecondaryText.h"

#include <QEvent>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace tolvani::secondarytext {
namespace {

constexpr QPalette::ColorGroup kGroups[] = {QPalette::Active, QPalette::Inactive,
                                            QPalette::Disabled};

double luminance(const QColor& c) {
  auto channel = [](double v) {
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor blend(const QColor& ink, const QColor& behind, double share) {
  return QColor::fromRgbF(ink.redF() * share + behind.redF() * (1 - share),
                          ink.greenF() * share + behind.greenF() * (1 - share),
                          ink.blueF() * share + behind.blueF() * (1 - share));
}

// Keeps its widget's PlaceholderText at the secondary colour of the rest of its palette.
class Follower : public QObject {
 public:
  explicit Follower(QWidget* widget) : QObject(widget) {
    widget->installEventFilter(this);
    update(widget);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::PaletteChange) update(static_cast<QWidget*>(watched));
    return false;
  }

 private:
  static void update(QWidget* widget) {
    const bool field = qobject_cast<QLineEdit*>(widget) != nullptr;
    const QPalette& now = widget->palette();
    // Only this role is the widget's own; the others stay inherited, so they keep following
    // the window and the application.
    QPalette own;
    bool changed = false;
    for (QPalette::ColorGroup group : kGroups) {
      const QColor wanted = field ? color(now, group, QPalette::Text, QPalette::Base)
                                  : color(now, group, QPalette::WindowText, QPalette::Window);
      changed = changed || now.color(group, QPalette::PlaceholderText) != wanted;
      own.setColor(group, QPalette::PlaceholderText, wanted);
    }
    // Setting an equal palette again would only send another palette change.
    if (changed) widget->setPalette(own);
  }
};

}  // namespace

QColor color(const QPalette& palette, QPalette::ColorGroup group, QPalette::ColorRole text,
             QPalette::ColorRole background) {
  const QColor ink = palette.color(group, text), behind = palette.color(group, background);
  // Secondary texts are small: they keep the contrast small body text needs, where the theme's
  // own text colour has it.
  for (double share = 0.6; share < 1.0; share += 0.1) {
    const QColor mixed = blend(ink, behind, share);
    if (contrast(mixed, behind) >= 4.5) return mixed;
  }
  return ink;
}

void follow(QWidget* widget) {
  if (!qobject_cast<QLineEdit*>(widget)) widget->setForegroundRole(QPalette::PlaceholderText);
  new Follower(widget);
}

void Delegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  for (QPalette::ColorGroup group : kGroups)
    option->palette.setColor(group, QPalette::Text,
                             color(option->palette, group, QPalette::Text, QPalette::Base));
}

}  // namespace tolvani::secondarytext
