#include "settings/SecondaryText.h"

#include <QEvent>
#include <QImage>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

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

QColor blend(const QColor& ink, const QColor& behind, double share) {
  return QColor::fromRgbF(ink.redF() * share + behind.redF() * (1 - share),
                          ink.greenF() * share + behind.greenF() * (1 - share),
                          ink.blueF() * share + behind.blueF() * (1 - share));
}

// The text colour of a colour group, from the widget's palette and the surface behind the widget;
// none to leave the group's inherited colours.
using Ink = std::function<std::optional<QColor>(const QPalette&, QPalette::ColorGroup,
                                                const QColor& surface)>;

// Keeps its widget's own text roles at the colours `ink` gives, from the rest of its palette and
// the surface behind it.
class Follower : public QObject {
 public:
  Follower(QWidget* widget, QList<QPalette::ColorRole> roles, Ink ink)
      : QObject(widget), roles_(std::move(roles)), ink_(std::move(ink)) {
    widget->installEventFilter(this);
    update(widget);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::PaletteChange:
      case QEvent::ParentChange:
      case QEvent::Show:
        update(static_cast<QWidget*>(watched));
        break;
      default:
        break;
    }
    return false;
  }

 private:
  void update(QWidget* widget) {
    const QPalette& now = widget->palette();
    // The surface the widget stands on now: the ancestors' palettes have changed before the
    // widget hears of a change of its own.
    const QColor surface = surfaceBehind(widget);
    // Only these roles are the widget's own; the others stay inherited, so they keep following
    // the window and the application.
    QPalette own;
    bool changed = false;
    for (QPalette::ColorGroup group : kGroups) {
      const std::optional<QColor> wanted = ink_(now, group, surface);
      if (!wanted) continue;
      for (QPalette::ColorRole role : roles_) {
        changed = changed || now.color(group, role) != *wanted;
        own.setColor(group, role, *wanted);
      }
    }
    // Setting an equal palette again would only send another palette change.
    if (changed) widget->setPalette(own);
  }

  const QList<QPalette::ColorRole> roles_;
  const Ink ink_;
};

}  // namespace

double contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor raised(const QColor& ink, const QColor& behind, const QColor& toward, double ratio) {
  for (int step = 0; step < 20; ++step) {
    const QColor moved = blend(toward, ink, step / 20.0);
    if (contrast(moved, behind) >= ratio) return moved;
  }
  return toward;
}

QColor raised(const QColor& ink, const QColor& behind, double ratio) {
  const QColor black(Qt::black), white(Qt::white);
  return raised(ink, behind, contrast(black, behind) >= contrast(white, behind) ? black : white,
                ratio);
}

QColor color(const QColor& text, const QColor& behind, double share) {
  // Secondary texts are small: they keep the contrast small body text needs, where the theme's
  // own text colour has it.
  return raised(blend(text, behind, share), behind, text);
}

QColor color(const QPalette& palette, QPalette::ColorGroup group, QPalette::ColorRole text,
             QPalette::ColorRole background) {
  return color(palette.color(group, text), palette.color(group, background));
}

QColor surfaceBehind(QWidget* widget) {
  QList<QWidget*> ancestors;
  for (QWidget* w = widget; !w->isWindow() && w->parentWidget(); w = w->parentWidget())
    ancestors.prepend(w->parentWidget());
  QWidget* window = ancestors.isEmpty() ? widget : ancestors.first();
  QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
  pixel.fill(window->palette().color(window->backgroundRole()));
  const QPoint middle = widget->rect().center();
  // Each ancestor alone, painting its own background only where it fills one: a style's pane or
  // box may be translucent over what is below it.
  for (QWidget* ancestor : ancestors)
    ancestor->render(&pixel, QPoint(), QRegion(QRect(widget->mapTo(ancestor, middle), QSize(1, 1))),
                     QWidget::RenderFlags());
  return QColor::fromRgb(pixel.pixel(0, 0));
}

void follow(QWidget* widget) {
  if (qobject_cast<QLineEdit*>(widget)) {
    // The placeholder stands on the field's own base.
    new Follower(widget, {QPalette::PlaceholderText},
                 [](const QPalette& palette, QPalette::ColorGroup group,
                    const QColor&) -> std::optional<QColor> {
                   return color(palette, group, QPalette::Text, QPalette::Base);
                 });
    return;
  }
  widget->setForegroundRole(QPalette::PlaceholderText);
  new Follower(widget, {QPalette::PlaceholderText},
               [](const QPalette& palette, QPalette::ColorGroup group,
                  const QColor& surface) -> std::optional<QColor> {
                 return color(palette.color(group, QPalette::WindowText), surface);
               });
}

void followColor(QWidget* widget, std::function<QColor(const QPalette&)> ink) {
  new Follower(widget, {QPalette::ButtonText, QPalette::WindowText, QPalette::Text},
               [ink = std::move(ink)](const QPalette& palette, QPalette::ColorGroup group,
                                      const QColor& surface) -> std::optional<QColor> {
                 // A disabled control keeps the theme's receding colour.
                 if (group == QPalette::Disabled) return std::nullopt;
                 return raised(ink(palette), surface);
               });
}

void Delegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  for (QPalette::ColorGroup group : kGroups)
    option->palette.setColor(group, QPalette::Text,
                             color(option->palette, group, QPalette::Text, QPalette::Base));
}

}  // namespace tolvani::secondarytext
