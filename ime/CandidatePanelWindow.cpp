#include "ime/CandidatePanelWindow.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QScreen>
#include <future>

#include "platform/Queues.h"
#include "settings/SecondaryText.h"

namespace tolvani {
namespace {

// Sizes are in the panel's points, which are device-independent pixels here.
QFont panelFont(qreal pixels, QFont::Weight weight, const QString& family = QString()) {
  QFont f = family.isEmpty() ? QGuiApplication::font() : QFont(family);
  f.setPixelSize(static_cast<int>(pixels));
  f.setWeight(weight);
  return f;
}

QFont banglaFont(qreal pixels, QFont::Weight fallbackWeight, bool hasNoto) {
  if (hasNoto) return panelFont(pixels, QFont::Normal, QStringLiteral("Noto Sans Bengali"));
  return panelFont(pixels, fallbackWeight);
}

using Colors = CandidatePanelWindow::Colors;

Colors fixedColors(bool dark) {
  if (dark) {
    const QColor accent(10, 132, 255);
    return {QColor(38, 38, 40, 242),
            QColor(255, 255, 255, 230),
            QColor(255, 255, 255, 140),
            QColor(255, 255, 255, 77),
            accent,
            accent,
            QColor(Qt::white)};
  }
  const QColor accent(0, 122, 255);
  return {QColor(246, 246, 246, 245),
          QColor(0, 0, 0, 217),
          QColor(0, 0, 0, 128),
          QColor(0, 0, 0, 66),
          accent,
          accent,
          QColor(Qt::white)};
}

QColor withAlpha(QColor c, qreal alpha) {
  c.setAlphaF(alpha);
  return c;
}

// `ink` as it shows over `behind`.
QColor opaque(const QColor& ink, const QColor& behind) {
  const qreal a = ink.alphaF();
  return QColor::fromRgbF(ink.redF() * a + behind.redF() * (1 - a),
                          ink.greenF() * a + behind.greenF() * (1 - a),
                          ink.blueF() * a + behind.blueF() * (1 - a));
}

std::future<void>& fontsAhead() {
  static std::future<void> reading;
  return reading;
}

}  // namespace

void CandidatePanelWindow::readFontsAhead() {
  Q_ASSERT(platform::isMainThread());
  std::future<void>& reading = fontsAhead();
  if (reading.valid()) return;
  // The font database is safe to read from any thread; filling it takes milliseconds.
  reading = std::async(std::launch::async, [] { QFontDatabase::families(); });
}

void CandidatePanelWindow::waitForFontsAhead() {
  Q_ASSERT(platform::isMainThread());
  if (fontsAhead().valid()) fontsAhead().wait();
}

const QString& CandidatePanelWindow::dragHandleToolTip() {
  static const QString text = QString::fromUtf8("Drag to move \u00B7 Double-click to reset");
  return text;
}

const QString& CandidatePanelWindow::escHint() {
  static const QString text = QString::fromUtf8("esc \u21A9\uFE0E");
  return text;
}

CandidatePanelWindow::CandidatePanelWindow()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::NoDropShadowWindowHint) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_X11DoNotAcceptFocus);
  setAttribute(Qt::WA_TranslucentBackground);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
  setWindowTitle(QStringLiteral("Tolvani"));
  updateFonts();
  paintTimer_.setSingleShot(true);
  paintTimer_.setTimerType(Qt::PreciseTimer);
  paintTimer_.setInterval(kPaintDelayMs);
  connect(&paintTimer_, &QTimer::timeout, this, [this] {
    if (isVisible()) {
      setUpdatesEnabled(true);
      return;
    }
    setGeometry(layout_.frame.toAlignedRect());
    QWidget::show();
  });
}

CandidatePanelWindow::~CandidatePanelWindow() = default;

bool CandidatePanelWindow::placesWindows() const {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

std::vector<ScreenArea> CandidatePanelWindow::screens() const {
  std::vector<ScreenArea> areas;
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (primary) areas.push_back({primary->geometry(), primary->availableGeometry()});
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen != primary) areas.push_back({screen->geometry(), screen->availableGeometry()});
  }
  return areas;
}

qreal CandidatePanelWindow::statusTextWidth(const QString& message) const {
  return QFontMetricsF(fonts_.status).horizontalAdvance(message);
}

bool CandidatePanelWindow::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
      updateFonts();
      update();
      break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
      update();
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

CandidatePanelWindow::Fonts CandidatePanelWindow::currentFonts() {
  // The desktop's font settings may have changed the families on offer too.
  const bool hasNoto = QFontDatabase::families().contains(QStringLiteral("Noto Sans Bengali"));
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPixelSize(11);
  return {mono,
          banglaFont(13, QFont::DemiBold, hasNoto),
          banglaFont(18, QFont::Medium, hasNoto),
          panelFont(13, QFont::DemiBold),
          panelFont(10, QFont::Normal),
          panelFont(13, QFont::DemiBold),
          panelFont(10, QFont::Medium),
          panelFont(9, QFont::Medium)};
}

void CandidatePanelWindow::updateFonts() { fonts_ = currentFonts(); }

void CandidatePanelWindow::warmUp() {
  Q_ASSERT(platform::isMainThread());
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  waitForFontsAhead();
  const Fonts fonts = currentFonts();
  QImage image(360, 200, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(image.rect()), 12, 12);
  p.setPen(Qt::black);
  const QString sample = QString::fromUtf8("আমি তোমাকে ভালোবাসি ami 1 \u09E7 \u22EE ") + escHint();
  for (const QFont* font : {&fonts.headerRaw, &fonts.headerPreedit, &fonts.candidate, &fonts.index,
                            &fonts.kind, &fonts.status, &fonts.escHint, &fonts.dragHandle}) {
    p.setFont(*font);
    p.drawText(QRectF(image.rect()), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetricsF(*font).elidedText(sample, Qt::ElideRight, 300));
  }
}

CandidatePanelWindow::Colors CandidatePanelWindow::colors() const {
  Colors c = fixedColors(isDark());
  // Following the system, the panel takes the desktop's accent; a chosen theme keeps its own.
  if (!layout_.appearance) {
    const QPalette palette = QGuiApplication::palette();
    c.accent = palette.color(QPalette::Active, QPalette::Highlight);
    c.onAccent = palette.color(QPalette::Active, QPalette::HighlightedText);
  }
  // The dimmed texts, the accent's own texts (status, the header's preedit) and the selected
  // row's texts are raised to what body text needs on the surface each is drawn on. The panel's
  // small sizes (9 and 10 pixels) never show their strokes at full colour, hence the margin.
  using secondarytext::raised;
  constexpr double kSmallText = secondarytext::kReadable + 1.5;
  const QColor surface = opaque(c.background, isDark() ? Qt::black : Qt::white);
  c.secondary = raised(opaque(c.secondary, surface), surface, kSmallText);
  c.tertiary = raised(opaque(c.tertiary, surface), surface, kSmallText);
  c.accentText = raised(c.accent, surface, kSmallText);
  c.accent = raised(c.accent, c.onAccent, kSmallText);
  return c;
}

void CandidatePanelWindow::render(const CandidatePanel& panel) {
  Q_ASSERT(platform::isMainThread());
  panel_ = const_cast<CandidatePanel*>(&panel);
  layout_ = panel.layout();
  rows_ = panel.rows();
  // Showing a window paints it at once: the first key of each word would wait for that.
  if (!isVisible()) {
    paintTimer_.start();
    return;
  }
  // Neither the new size nor the new rows paint until the keys pause.
  setUpdatesEnabled(false);
  if (!dragging_) setGeometry(layout_.frame.toAlignedRect());
  paintTimer_.start();
}

void CandidatePanelWindow::hide() {
  Q_ASSERT(platform::isMainThread());
  paintTimer_.stop();
  setUpdatesEnabled(true);
  dragging_ = false;
  hoveredRow_ = -1;
  QWidget::hide();
}

bool CandidatePanelWindow::isDark() const {
  if (layout_.appearance) return *layout_.appearance == PanelAppearance::dark;
  return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

int CandidatePanelWindow::rowAt(QPointF pos) const {
  if (layout_.state != CandidatePanel::State::candidates) return -1;
  for (int i = 0; i < CandidatePanel::kMaxRows; ++i) {
    if (rows_[i].visible && rows_[i].frame.contains(pos)) return i;
  }
  return -1;
}

void CandidatePanelWindow::paintRow(QPainter& p, const CandidatePanel::Row& row) const {
  const Colors c = colors();
  const QRectF r = row.frame;
  if (row.selected) {
    p.setPen(Qt::NoPen);
    p.setBrush(c.accent);
    p.drawRoundedRect(r, 8, 8);
  } else if (row.hovered) {
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(c.label, 0.08));
    p.drawRoundedRect(r, 8, 8);
  }
  const qreal w = r.width();
  const qreal h = r.height();
  const QColor text = row.selected ? c.onAccent : c.label;
  const QColor badge = row.selected ? c.onAccent : c.secondary;
  const QColor number = row.selected ? c.onAccent : c.tertiary;

  p.setFont(fonts_.index);
  p.setPen(number);
  p.drawText(QRectF(r.x() + 4, r.y(), 20, h), Qt::AlignLeft | Qt::AlignVCenter, row.number);

  p.setFont(fonts_.candidate);
  p.setPen(text);
  const QRectF textRect(r.x() + 28, r.y(), w - 130, h);
  const QString shown =
      QFontMetricsF(fonts_.candidate)
          .elidedText(row.item ? row.item->text : QString(), Qt::ElideRight, textRect.width());
  p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, shown);

  p.setFont(fonts_.kind);
  p.setPen(badge);
  p.drawText(QRectF(r.x() + w - 98, r.y(), 94, h), Qt::AlignRight | Qt::AlignVCenter, row.badge);
}

void CandidatePanelWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const Colors c = colors();
  p.setPen(Qt::NoPen);
  p.setBrush(c.background);
  p.drawRoundedRect(QRectF(rect()), 12, 12);

  if (layout_.state == CandidatePanel::State::status) {
    p.setFont(fonts_.status);
    p.setPen(c.accentText);
    p.drawText(layout_.rawTextFrame, Qt::AlignCenter, layout_.statusMessage);
    return;
  }
  if (layout_.headerVisible) {
    const QRectF frame = layout_.rawTextFrame;
    p.save();
    p.setClipRect(frame);
    p.setFont(fonts_.headerRaw);
    p.setPen(c.secondary);
    p.drawText(frame, Qt::AlignLeft | Qt::AlignVCenter, layout_.headerRawText);
    if (!layout_.headerPreedit.isEmpty()) {
      const qreal x = QFontMetricsF(fonts_.headerRaw)
                          .horizontalAdvance(layout_.headerRawText + QStringLiteral("  "));
      p.setFont(fonts_.headerPreedit);
      p.setPen(c.accentText);
      p.drawText(frame.adjusted(x, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                 layout_.headerPreedit);
    }
    p.restore();
  }
  if (layout_.escHintVisible) {
    p.setFont(fonts_.escHint);
    p.setPen(c.tertiary);
    p.drawText(layout_.escHintFrame, Qt::AlignRight | Qt::AlignVCenter, escHint());
  }
  if (layout_.dragHandleVisible) {
    p.setFont(fonts_.dragHandle);
    p.setPen(c.tertiary);
    p.drawText(layout_.dragHandleFrame, Qt::AlignCenter, QString::fromUtf8("\u22EE\u22EE"));
  }
  for (const CandidatePanel::Row& row : rows_) {
    if (row.visible) paintRow(p, row);
  }
}

void CandidatePanelWindow::mousePressEvent(QMouseEvent* event) {
  Q_ASSERT(platform::isMainThread());
  if (event->button() != Qt::LeftButton || !panel_) return;
  const int row = rowAt(event->position());
  if (row >= 0) {
    panel_->rowClicked(row);
    return;
  }
  dragging_ = true;
  pressGlobal_ = event->globalPosition();
  startPos_ = pos();
}

void CandidatePanelWindow::mouseMoveEvent(QMouseEvent* event) {
  Q_ASSERT(platform::isMainThread());
  if (dragging_) {
    move(startPos_ + (event->globalPosition() - pressGlobal_).toPoint());
    return;
  }
  setToolTip(layout_.dragHandleVisible && layout_.dragHandleFrame.contains(event->position())
                 ? dragHandleToolTip()
                 : QString());
  const int row = rowAt(event->position());
  if (row == hoveredRow_ || !panel_) return;
  const int old = hoveredRow_;
  hoveredRow_ = row;
  if (old >= 0) panel_->rowHovered(old, false);
  if (row >= 0) panel_->rowHovered(row, true);
}

void CandidatePanelWindow::mouseReleaseEvent(QMouseEvent*) {
  Q_ASSERT(platform::isMainThread());
  if (!dragging_ || !panel_) return;
  dragging_ = false;
  panel_->dragEnded(pos(), pos() != startPos_);
}

void CandidatePanelWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  Q_ASSERT(platform::isMainThread());
  if (!panel_ || rowAt(event->position()) >= 0) return;
  dragging_ = false;
  panel_->backgroundDoubleClicked();
}

void CandidatePanelWindow::leaveEvent(QEvent*) {
  if (hoveredRow_ >= 0 && panel_) panel_->rowHovered(hoveredRow_, false);
  hoveredRow_ = -1;
}

}  // namespace tolvani
