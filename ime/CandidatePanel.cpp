#include "ime/CandidatePanel.h"

#include <QVariantMap>
#include <algorithm>
#include <cmath>

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Queues.h"

namespace tolvani {
namespace {

constexpr qreal kHeaderHeight = 26;
constexpr qreal kNoHeaderHeight = 10;
constexpr qreal kBottomMargin = 10;
constexpr qreal kGap = 4;
constexpr qreal kMinStatusWidth = 180;
const QRectF kNoScreen(0, 0, 1920, 1080);

CandidatePanel::FaceFactory& faceFactory() {
  static CandidatePanel::FaceFactory factory;
  return factory;
}

bool isAscii(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// A coordinate stored as an integer or a finite floating-point number; nothing else.
std::optional<qreal> coordinateValue(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
      return static_cast<qreal>(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
      const double d = value.toDouble();
      if (!std::isfinite(d)) return std::nullopt;
      return d;
    }
    default:
      return std::nullopt;
  }
}

const ScreenArea* screenContaining(QPointF point, const std::vector<ScreenArea>& screens) {
  for (const ScreenArea& screen : screens) {
    if (screen.frame.contains(point)) return &screen;
  }
  return screens.empty() ? nullptr : &screens.front();
}

bool isUsableCaret(QRectF r) {
  return !r.isNull() && std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) &&
         std::isfinite(r.height());
}

}  // namespace

CandidatePanel::CandidatePanel(std::unique_ptr<CandidatePanelFace> window,
                               std::unique_ptr<CandidatePanelFace> fallback)
    : window_(std::move(window)),
      fallback_(std::move(fallback)),
      self_(std::make_shared<CandidatePanel*>(this)) {
  if (savedPosition()) {
    userPinned_ = true;
  } else if (platform::Defaults::standard().object(kPositionKey)) {
    platform::Defaults::standard().remove(kPositionKey);
  }
}

CandidatePanel::~CandidatePanel() {
  cancelStatusHide();
  *self_ = nullptr;
}

void CandidatePanel::setFaceFactory(FaceFactory factory) { faceFactory() = std::move(factory); }

std::unique_ptr<CandidatePanel> CandidatePanel::make() {
  if (!faceFactory()) return std::make_unique<CandidatePanel>(nullptr, nullptr);
  auto [window, fallback] = faceFactory()();
  return std::make_unique<CandidatePanel>(std::move(window), std::move(fallback));
}

QString CandidatePanel::badge(const QString& kind) {
  if (kind == QLatin1String("autocorrect")) {
    return QString::fromUtf8(
        "\u2726 \u09B8\u09CD\u09AC\u09AF\u09BC\u0982\u0995\u09CD\u09B0\u09BF"
        "\u09AF\u09BC");
  }
  if (kind == QLatin1String("user")) return QString::fromUtf8("\u2605 \u09B6\u09C7\u0996\u09BE");
  if (kind == QLatin1String("phonetic")) {
    return QString::fromUtf8("\u2328 \u09A7\u09CD\u09AC\u09A8\u09BF");
  }
  if (kind == QLatin1String("prediction")) {
    return QString::fromUtf8("\u25C8 \u09AA\u09B0\u09AC\u09B0\u09CD\u09A4\u09C0");
  }
  if (kind == QLatin1String("standard")) {
    return QString::fromUtf8("\u2713 \u09AA\u09CD\u09B0\u09AE\u09BF\u09A4");
  }
  return QString();
}

QPointF CandidatePanel::placement(QRectF caret, QSizeF size,
                                  const std::vector<ScreenArea>& screens) {
  const ScreenArea* screen = screenContaining(QPointF(caret.left(), caret.bottom()), screens);
  const QRectF v = screen ? screen->available : QRectF(caret.left(), 0, 1920, 1080);
  const qreal w = size.width();
  const qreal h = size.height();
  qreal y = caret.bottom() + kGap;
  if (y + h > v.bottom()) y = caret.top() - kGap - h;
  qreal x = caret.left() + w > v.right() ? v.right() - w : caret.left();
  // At the top the panel's top edge stays on the screen; at the left its left edge does.
  y = std::max(v.top(), std::min(v.bottom() - h, y));
  x = std::max(v.left(), x);
  return {x, y};
}

QPointF CandidatePanel::pinnedPlacement(QPointF saved, QSizeF size,
                                        const std::vector<ScreenArea>& screens) {
  const ScreenArea* screen = screenContaining(saved, screens);
  const QRectF v = screen ? screen->available : kNoScreen;
  // When the panel is larger than the screen, its right and top edges stay on it.
  const qreal x = std::min(std::max(saved.x(), v.left()), v.right() - size.width());
  const qreal y = std::max(std::min(saved.y(), v.bottom() - size.height()), v.top());
  return {x, y};
}

std::optional<QPointF> CandidatePanel::savedPosition() {
  const std::optional<QVariant> stored = platform::Defaults::standard().object(kPositionKey);
  if (!stored || stored->typeId() != QMetaType::QVariantMap) return std::nullopt;
  const QVariantMap map = stored->toMap();
  const std::optional<qreal> x = coordinateValue(map.value(QStringLiteral("x")));
  const std::optional<qreal> y = coordinateValue(map.value(QStringLiteral("y")));
  if (!x || !y) return std::nullopt;
  return QPointF(*x, *y);
}

std::vector<ScreenArea> CandidatePanel::screens(const CandidatePanelFace* face) const {
  return face ? face->screens() : std::vector<ScreenArea>{};
}

std::vector<ScreenArea> CandidatePanel::screenAreas() const {
  if (!window_ || !window_->placesWindows()) return {};
  return window_->screens();
}

CandidatePanelFace* CandidatePanel::faceFor(QRectF near, bool pinned) const {
  const bool windowServes =
      window_ && window_->placesWindows() && (pinned || isUsableCaret(near) || !fallback_);
  if (windowServes) return window_.get();
  return fallback_ ? fallback_.get() : window_.get();
}

void CandidatePanel::configure(int row, const CandidateItem& item, bool selected) {
  Row& r = rows_[row];
  r.item = item;
  r.selected = selected;
  r.number = item.shortcut && item.kind != QLatin1String("english") ? QString::number(item.index)
                                                                    : QString();
  r.badge = badge(item.kind);
  QString label;
  if (!r.number.isEmpty()) label = r.number + QStringLiteral(". ");
  label += item.text;
  if (!r.badge.isEmpty()) label += QStringLiteral(", ") + r.badge;
  if (selected) label += QStringLiteral(", selected");
  r.accessibleLabel = label;
}

void CandidatePanel::present(CandidatePanelFace* face) {
  if (activeFace_ && activeFace_ != face) activeFace_->hide();
  activeFace_ = face;
  if (face) face->render(*this);
}

void CandidatePanel::show(const QString& rawText, const std::vector<CandidateItem>& candidates,
                          QRectF near) {
  cancelStatusHide();
  itemCount_ = static_cast<int>(std::min<std::size_t>(candidates.size(), kMaxRows));
  selectedIndex_ = 0;
  hasUserSelection_ = false;

  Layout& l = layout_;
  l.state = State::candidates;
  l.statusMessage.clear();
  l.headerVisible = !rawText.isEmpty() && isAscii(rawText);
  l.headerRawText = l.headerVisible ? rawText : QString();
  l.headerPreedit = l.headerVisible && !candidates.empty() ? candidates.front().text : QString();
  l.escHintVisible = l.headerVisible && AppSettings::englishPassthroughEnabled();
  l.dragHandleVisible = true;
  const qreal header = l.headerVisible ? kHeaderHeight : kNoHeaderHeight;
  const qreal height = header + kRowHeight * itemCount_ + kBottomMargin;
  l.rawTextFrame = QRectF(14, 4, 260, 22);
  l.escHintFrame = QRectF(292, 4, 48, 22);
  l.dragHandleFrame = QRectF(344, 4, 16, 22);

  for (int i = 0; i < kMaxRows; ++i) {
    Row& row = rows_[i];
    row.visible = i < itemCount_;
    if (!row.visible) continue;
    row.frame = QRectF(10, header + kRowHeight * i, 350, kRowHeight);
    configure(i, candidates[i], i == 0);
  }

  CandidatePanelFace* face = faceFor(near, userPinned_);
  const std::vector<ScreenArea> areas = screens(face);
  const QSizeF size(kWidth, height);
  QPointF origin;
  const std::optional<QPointF> saved = userPinned_ ? savedPosition() : std::nullopt;
  if (saved) {
    origin = pinnedPlacement(*saved, size, areas);
  } else {
    userPinned_ = false;
    origin = placement(near, size, areas);
  }
  l.frame = QRectF(origin, size);
  l.appearance = AppSettings::panelNSAppearance();
  present(face);
}

void CandidatePanel::showStatus(const QString& message, QRectF near) {
  cancelStatusHide();
  itemCount_ = 0;
  selectedIndex_ = 0;
  hasUserSelection_ = false;
  for (Row& row : rows_) row.visible = false;

  CandidatePanelFace* face = faceFor(near, /*pinned=*/false);
  const qreal textWidth = face ? face->statusTextWidth(message) : 7.0 * message.size();
  const qreal width = std::min(kWidth, std::max(kMinStatusWidth, textWidth + 44));

  Layout& l = layout_;
  l.state = State::status;
  l.statusMessage = message;
  l.headerVisible = true;
  l.headerRawText.clear();
  l.headerPreedit.clear();
  l.rawTextFrame = QRectF(12, 8, width - 24, 22);
  l.escHintVisible = false;
  l.dragHandleVisible = false;
  const QSizeF size(width, kStatusHeight);
  l.frame = QRectF(placement(near, size, screens(face)), size);
  l.appearance = AppSettings::panelNSAppearance();
  present(face);

  std::weak_ptr<CandidatePanel*> weak = self_;
  const std::uint64_t timer = platform::clock().schedule(kStatusDuration, [weak] {
    platform::mainQueue().async([weak] {
      const std::shared_ptr<CandidatePanel*> alive = weak.lock();
      if (!alive || !*alive) return;
      CandidatePanel* panel = *alive;
      // A show, toast or hide after this toast took the timer away; then this hide is stale.
      if (panel->statusTimer_ == 0) return;
      panel->statusTimer_ = 0;
      panel->hide();
    });
  });
  statusTimer_ = timer;
}

void CandidatePanel::cancelStatusHide() {
  if (statusTimer_ == 0) return;
  platform::clock().cancel(statusTimer_);
  statusTimer_ = 0;
}

void CandidatePanel::hide() {
  cancelStatusHide();
  if (activeFace_) activeFace_->hide();
  activeFace_ = nullptr;
  layout_.state = State::hidden;
  itemCount_ = 0;
  selectedIndex_ = 0;
  hasUserSelection_ = false;
}

void CandidatePanel::moveSelection(int step) {
  if (itemCount_ == 0) return;
  const int old = selectedIndex_;
  selectedIndex_ = (selectedIndex_ + step + itemCount_) % itemCount_;
  hasUserSelection_ = true;
  if (rows_[old].item) configure(old, *rows_[old].item, false);
  if (rows_[selectedIndex_].item) configure(selectedIndex_, *rows_[selectedIndex_].item, true);
  if (activeFace_) activeFace_->render(*this);
}

void CandidatePanel::selectNext() { moveSelection(1); }

void CandidatePanel::selectPrevious() { moveSelection(-1); }

void CandidatePanel::rowClicked(int row) {
  if (row < 0 || row >= kMaxRows || !rows_[row].visible || !rows_[row].item) return;
  if (onCandidateSelected) onCandidateSelected(rows_[row].item->index - 1);
}

void CandidatePanel::rowHovered(int row, bool hovered) {
  if (row < 0 || row >= kMaxRows || rows_[row].hovered == hovered) return;
  rows_[row].hovered = hovered;
  if (activeFace_) activeFace_->render(*this);
}

void CandidatePanel::dragEnded(QPointF origin, bool moved) {
  layout_.frame.moveTopLeft(origin);
  // A click that leaves the panel where it was is not a choice of place.
  if (!moved) return;
  QVariantMap position;
  position.insert(QStringLiteral("x"), static_cast<double>(origin.x()));
  position.insert(QStringLiteral("y"), static_cast<double>(origin.y()));
  platform::Defaults::standard().set(kPositionKey, position);
  userPinned_ = true;
}

void CandidatePanel::backgroundDoubleClicked() {
  platform::Defaults::standard().remove(kPositionKey);
  userPinned_ = false;
}

}  // namespace tolvani
