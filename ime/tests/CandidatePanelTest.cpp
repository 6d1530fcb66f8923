#include "ime/CandidatePanel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <tuple>

#include "ime/CandidatePanelWindow.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"
#include "settings/SecondaryText.h"
#include "settings/UIStrings.h"

namespace tolvani {
namespace {

using namespace std::chrono_literals;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// Screens of 1920 × 1080 with a 30-point bar at the top; a second one to the right.
const ScreenArea kLeft{QRectF(0, 0, 1920, 1080), QRectF(0, 30, 1920, 1050)};
const ScreenArea kRight{QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 1024)};
const QRectF kCaret(200, 300, 1, 18);

class FakeFace : public CandidatePanelFace {
 public:
  bool places = true;
  bool visible = false;

  bool placesWindows() const override { return places; }
  std::vector<ScreenArea> screens() const override { return {kLeft, kRight}; }
  qreal statusTextWidth(const QString& message) const override { return 8.0 * message.size(); }
  void render(const CandidatePanel&) override { visible = true; }
  void hide() override { visible = false; }
};

std::vector<CandidateItem> items(int n) {
  std::vector<CandidateItem> list;
  for (int i = 0; i < n; ++i) list.push_back({i + 1, QStringLiteral("w%1").arg(i), "exact", true});
  return list;
}

const std::vector<CandidateItem> kAmi = {{1, u("আমি"), "exact", true},
                                         {2, u("আমী"), "user", true},
                                         {3, u("আমিই"), "prefix", true},
                                         {4, u("আমির"), "phonetic", true},
                                         {5, u("আমায়"), "autocorrect", true}};

class CandidatePanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    platform::Defaults::testResetStandard();
    platform::testSetClock(&clock_);
  }
  void TearDown() override { platform::testSetClock(nullptr); }

  // A panel over a fake window face and a fake fallback face, both owned by it.
  std::unique_ptr<CandidatePanel> makePanel() {
    auto window = std::make_unique<FakeFace>(), fallback = std::make_unique<FakeFace>();
    window_ = window.get();
    fallback_ = fallback.get();
    return std::make_unique<CandidatePanel>(std::move(window), std::move(fallback));
  }

  void advance(std::chrono::milliseconds by) {
    clock_.advance(by);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }

  QTemporaryDir config_;
  platform::ManualClock clock_;
  FakeFace* window_ = nullptr;
  FakeFace* fallback_ = nullptr;
};

TEST_F(CandidatePanelTest, HeightsHeaderAndRowPositions) {
  auto panel = makePanel();
  AppSettings::setEnglishPassthroughEnabled(false);
  panel->show("ami", kAmi, kCaret);
  const CandidatePanel::Layout& l = panel->layout();
  EXPECT_TRUE(l.headerVisible);
  EXPECT_EQ(l.headerRawText, "ami");
  EXPECT_EQ(l.headerPreedit, u("আমি"));
  EXPECT_EQ(l.frame.size(), QSizeF(370, 206));
  // Measured from the panel's bottom edge: 146, 112, 78, 44, 10.
  const qreal fromBottom[] = {146, 112, 78, 44, 10};
  for (int i = 0; i < 5; ++i) {
    const CandidatePanel::Row& row = panel->rows()[i];
    EXPECT_TRUE(row.visible);
    EXPECT_EQ(206 - row.frame.bottom(), fromBottom[i]) << i;
    EXPECT_EQ(row.frame.x(), 10);
    EXPECT_EQ(row.frame.width(), 350);
    EXPECT_EQ(row.selected, i == 0);
  }
  EXPECT_FALSE(panel->rows()[5].visible);
  EXPECT_EQ(l.dragHandleFrame, QRectF(344, 4, 16, 22));
  EXPECT_FALSE(l.escHintVisible);
  AppSettings::setEnglishPassthroughEnabled(true);
  panel->show("ami", kAmi, kCaret);
  EXPECT_TRUE(panel->layout().escHintVisible);

  struct Case {
    QString raw;
    int count;
    bool header;
    qreal height;
  };
  const Case cases[] = {
      {u("আমি"), 3, false, 122}, {"ami", 20, true, 580}, {"ab", 0, true, 36},
      {u("ক"), 0, false, 20},    {"", 2, false, 88},     {"a\r\n", 1, true, 70},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw.toStdString());
    panel->show(c.raw, items(c.count), kCaret);
    EXPECT_EQ(panel->layout().headerVisible, c.header);
    EXPECT_EQ(panel->layout().escHintVisible, c.header);
    EXPECT_EQ(panel->layout().frame.height(), c.height);
    EXPECT_EQ(panel->itemCount(), std::min(c.count, 16));
    EXPECT_TRUE(panel->layout().dragHandleVisible);
  }
}

TEST_F(CandidatePanelTest, SelectionWrapsAndClicksReportRowsWithoutMovingIt) {
  auto panel = makePanel();
  std::vector<int> picked;
  panel->onCandidateSelected = [&](int row) { picked.push_back(row); };
  panel->show("ami", kAmi, kCaret);
  panel->selectPrevious();
  EXPECT_EQ(panel->selectedIndex(), 4);
  EXPECT_TRUE(panel->hasUserSelection());
  EXPECT_TRUE(panel->rows()[4].selected && !panel->rows()[0].selected);
  panel->selectNext();
  EXPECT_EQ(panel->selectedIndex(), 0);
  panel->rowClicked(2);
  panel->rowClicked(7);  // no row there
  EXPECT_EQ(picked, std::vector<int>{2});
  EXPECT_EQ(panel->selectedIndex(), 0);
  panel->show("ami", kAmi, kCaret);
  EXPECT_FALSE(panel->hasUserSelection());
  panel->show("ab", {}, kCaret);
  panel->selectNext();
  EXPECT_FALSE(panel->hasUserSelection());
}

TEST_F(CandidatePanelTest, BadgesNumbersAndAccessibleLabels) {
  struct Case {
    const char* kind;
    bool shortcut;
    const char* number;
    const char* badge;
  };
  const Case cases[] = {
      {"autocorrect", true, "1", "✦ স্বয়ংক্রিয়"},
      {"user", true, "1", "★ শেখা"},
      {"phonetic", true, "1", "⌨ ধ্বনি"},
      {"prediction", false, "", "◈ পরবর্তী"},
      {"standard", false, "", "✓ প্রমিত"},
      {"exact", true, "1", ""},
      {"prefix", true, "1", ""},
      {"emoji", true, "1", ""},
      {"english", true, "", ""},
      {"User", true, "1", ""},
  };
  auto panel = makePanel();
  for (const Case& c : cases) {
    panel->show("", {{1, u("শব্দ"), c.kind, c.shortcut}}, kCaret);
    const CandidatePanel::Row& row = panel->rows()[0];
    EXPECT_EQ(row.number, u(c.number)) << c.kind;
    EXPECT_EQ(row.badge, u(c.badge)) << c.kind;
  }
  panel->show("ami", kAmi, kCaret);
  EXPECT_EQ(panel->rows()[0].accessibleLabel, u("1. আমি, selected"));
  EXPECT_EQ(panel->rows()[1].accessibleLabel, u("2. আমী, ★ শেখা"));
}

TEST_F(CandidatePanelTest, ToastsHaveTheirWidthAndHideAfterTheirTime) {
  auto panel = makePanel();
  panel->showStatus("On", kCaret);
  EXPECT_EQ(panel->layout().frame.size(), QSizeF(180, 38));
  EXPECT_EQ(panel->layout().rawTextFrame, QRectF(12, 8, 156, 22));
  EXPECT_FALSE(panel->layout().dragHandleVisible);
  panel->showStatus(QString(60, QLatin1Char('x')), kCaret);
  EXPECT_EQ(panel->layout().frame.width(), 370);
  panel->showStatus(QString(20, QLatin1Char('x')), kCaret);
  EXPECT_EQ(panel->layout().frame.width(), 204);

  advance(1099ms);
  EXPECT_TRUE(window_->visible);
  advance(1ms);
  EXPECT_FALSE(window_->visible);
  EXPECT_EQ(panel->layout().state, CandidatePanel::State::hidden);

  // A showing of candidates before the toast's time is up is not hidden by it.
  panel->showStatus("On", kCaret);
  advance(500ms);
  panel->show("ami", kAmi, kCaret);
  advance(2000ms);
  EXPECT_TRUE(window_->visible);
  EXPECT_EQ(panel->layout().state, CandidatePanel::State::candidates);
  // Nor a second toast by the first one's timer.
  panel->showStatus("One", kCaret);
  advance(1000ms);
  panel->showStatus("Two", kCaret);
  advance(500ms);
  EXPECT_TRUE(window_->visible);
  advance(600ms);
  EXPECT_FALSE(window_->visible);
  // A panel gone before its toast's time does not crash the timer.
  panel->showStatus("Bye", kCaret);
  panel.reset();
  advance(2000ms);
}

TEST_F(CandidatePanelTest, PlacementBelowAboveAndInsideTheScreen) {
  const std::vector<ScreenArea> screens = {kLeft, kRight};
  const QSizeF size(370, 206);
  struct Case {
    const char* name;
    QRectF caret;
    QPointF origin;
  };
  const Case cases[] = {
      {"below", kCaret, QPointF(200, 322)},
      // Caret 10 points above the bottom of the visible area: above, 4 points over its top.
      {"above", QRectF(200, 1052, 1, 18), QPointF(200, 1052 - 4 - 206)},
      {"right edge", QRectF(1800, 300, 1, 18), QPointF(1920 - 370, 322)},
      {"left of screen", QRectF(-50, 300, 1, 18), QPointF(0, 322)},
      {"second screen", QRectF(3100, 1000, 1, 18), QPointF(3200 - 370, 1000 - 4 - 206)},
      {"second screen top", QRectF(2000, 10, 1, 18), QPointF(2000, 32)},
      // A caret on no screen: the first screen, the primary one, decides.
      {"no screen", QRectF(5000, 300, 1, 18), QPointF(1920 - 370, 322)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CandidatePanel::placement(c.caret, size, screens), c.origin) << c.name;
  }
  // A panel taller than the screen keeps its top edge on it.
  EXPECT_EQ(CandidatePanel::placement(kCaret, QSizeF(370, 2000), screens), QPointF(200, 30));
  // No screen at all: 1920 × 1080 at the caret's x.
  EXPECT_EQ(CandidatePanel::placement(QRectF(200, 1070, 1, 18), size, {}),
            QPointF(200, 1070 - 4 - 206));
}

TEST_F(CandidatePanelTest, DraggedPlaceIsRememberedAcrossLaunchesAndForgotten) {
  {
    auto panel = makePanel();
    panel->show("ami", kAmi, kCaret);
    panel->dragEnded(QPointF(1900, 500), true);
    EXPECT_TRUE(panel->userPinned());
  }
  platform::Defaults::testResetStandard();  // a new process reads the file
  {
    auto panel = makePanel();
    EXPECT_TRUE(panel->userPinned());
    panel->show("ami", kAmi, kCaret);
    // Pulled inside the visible area of the screen that holds it.
    EXPECT_EQ(panel->layout().frame.topLeft(), QPointF(1920 - 370, 500));
    panel->showStatus("On", kCaret);  // toasts follow the caret all the same
    EXPECT_EQ(panel->layout().frame.topLeft(), QPointF(200, 322));
    panel->backgroundDoubleClicked();
    EXPECT_FALSE(panel->userPinned());
    panel->show("ami", kAmi, kCaret);
    EXPECT_EQ(panel->layout().frame.topLeft(), QPointF(200, 322));
  }
  // Integer coordinates from an older or hand-edited file count too.
  platform::Defaults::standard().set(CandidatePanel::kPositionKey,
                                     QVariantMap{{"x", qint64{2000}}, {"y", qint64{100}}});
  EXPECT_EQ(makePanel()->userPinned(), true);
  EXPECT_EQ(CandidatePanel::pinnedPlacement(QPointF(2000, 100), QSizeF(370, 2000), {kRight}),
            QPointF(2000, 0));
}

TEST_F(CandidatePanelTest, MalformedSavedPositionIsDropped) {
  const QVariant malformed[] = {
      QString("100,200"),
      QVariantMap{{"x", qint64{1}}},
      QVariantMap{{"x", QString("1")}, {"y", qint64{2}}},
      QVariantMap{{"x", true}, {"y", qint64{2}}},
      QVariantList{qint64{1}, qint64{2}},
  };
  for (const QVariant& value : malformed) {
    ASSERT_TRUE(platform::Defaults::standard().set(CandidatePanel::kPositionKey, value));
    auto panel = makePanel();
    EXPECT_FALSE(panel->userPinned());
    EXPECT_FALSE(platform::Defaults::standard().object(CandidatePanel::kPositionKey));
    panel->show("ami", kAmi, kCaret);
    EXPECT_EQ(panel->layout().frame.topLeft(), QPointF(200, 322));
  }
  // Damaged after the panel was made: the caret serves and the pin is dropped.
  auto panel = makePanel();
  panel->dragEnded(QPointF(50, 60), true);
  platform::Defaults::standard().set(CandidatePanel::kPositionKey, QString("x"));
  panel->show("ami", kAmi, kCaret);
  EXPECT_FALSE(panel->userPinned());
  EXPECT_EQ(panel->layout().frame.topLeft(), QPointF(200, 322));
}

TEST_F(CandidatePanelTest, FallbackFaceServesWithoutCaretOrWherePlacingFails) {
  auto panel = makePanel();
  panel->show("ami", kAmi, kCaret);
  EXPECT_EQ(panel->activeFace(), window_);
  panel->show("ami", kAmi, QRectF());
  EXPECT_EQ(panel->activeFace(), fallback_);
  EXPECT_FALSE(window_->visible);
  panel->showStatus("On", QRectF());
  EXPECT_EQ(panel->activeFace(), fallback_);
  window_->places = false;  // Wayland
  panel->show("ami", kAmi, kCaret);
  EXPECT_EQ(panel->activeFace(), fallback_);
  panel->hide();
  EXPECT_FALSE(fallback_->visible);
  EXPECT_EQ(panel->activeFace(), nullptr);
}

// The real window: the mouse picks, drags and resets; screenshots of both appearances and both
// interface languages land in the build tree.
TEST_F(CandidatePanelTest, WindowPicksDragsAndDraws) {
  auto owned = std::make_unique<CandidatePanelWindow>();
  CandidatePanelWindow* window = owned.get();
  CandidatePanel panel(std::move(owned), nullptr);
  std::vector<int> picked;
  panel.onCandidateSelected = [&](int row) { picked.push_back(row); };
  EXPECT_TRUE(window->placesWindows());
  panel.show("ami", kAmi, kCaret);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }));
  EXPECT_FALSE(window->isActiveWindow());
  EXPECT_EQ(window->geometry(), QRect(200, 322, 370, 206));

  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(100, 26 + 34 * 2 + 10));
  EXPECT_EQ(picked, std::vector<int>{2});
  EXPECT_EQ(panel.selectedIndex(), 0);

  // A click on the background that does not move the panel does not pin it.
  QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(100, 12));
  EXPECT_FALSE(panel.userPinned());
  EXPECT_FALSE(CandidatePanel::savedPosition());
  QTest::mousePress(window, Qt::LeftButton, {}, QPoint(100, 12));
  QMouseEvent move(QEvent::MouseMove, QPointF(140, 32), window->mapToGlobal(QPointF(140, 32)),
                   Qt::NoButton, Qt::LeftButton, {});
  QCoreApplication::sendEvent(window, &move);
  QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(140, 32));
  EXPECT_TRUE(panel.userPinned());
  EXPECT_EQ(CandidatePanel::savedPosition(), QPointF(240, 342));
  QTest::mouseDClick(window, Qt::LeftButton, {}, QPoint(100, 12));
  EXPECT_FALSE(panel.userPinned());
  EXPECT_FALSE(CandidatePanel::savedPosition());

  const QString dir = QStringLiteral(TOLVANI_TEST_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  const std::vector<CandidateItem> rows = {
      {1, u("আমি"), "exact", true},      {2, u("আমার"), "user", true},
      {3, u("আমাকে"), "phonetic", true}, {4, u("আমরা"), "autocorrect", true},
      {5, u("আমাদের"), "prefix", true},  {6, u("😊"), "emoji", true},
      {7, u("প্রমিত"), "standard", false}};
  AppSettings::setEnglishPassthroughEnabled(true);
  for (const auto& [appearance, name] : {std::pair{1, "dark"}, std::pair{2, "light"}}) {
    AppSettings::setPanelAppearance(appearance);
    for (const auto& [language, code] : {std::pair{0, "bn"}, std::pair{1, "en"}}) {
      AppSettings::setUiLanguage(language);
      panel.show("ami", rows, kCaret);
      panel.selectNext();
      const QImage shot = window->grab().toImage();
      EXPECT_EQ(shot.size(), QSize(370, 26 + 34 * 7 + 10));
      EXPECT_TRUE(shot.save(QStringLiteral("%1/candidate-panel-%2-%3.png").arg(dir, name, code)));
      panel.showStatus(UIStrings::suggestionsOn(), kCaret);
      EXPECT_TRUE(window->grab().toImage().save(
          QStringLiteral("%1/candidate-panel-status-%2-%3.png").arg(dir, name, code)));
    }
  }
  panel.hide();
  EXPECT_FALSE(window->isVisible());
}

// The ink of highest contrast in `area` of `shot` against the area's commonest colour, and that
// contrast.
std::pair<QColor, double> inkIn(const QImage& shot, const QRect& area) {
  std::map<QRgb, int> counts;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) ++counts[shot.pixel(x, y)];
  QRgb background = 0;
  int most = 0;
  for (const auto& [rgb, count] : counts) {
    if (count > most) std::tie(background, most) = std::tie(rgb, count);
  }
  std::pair<QColor, double> best{QColor(background), 1};
  for (const auto& [rgb, count] : counts) {
    const double c = secondarytext::contrast(QColor(rgb), QColor(background));
    if (c > best.second) best = {QColor(rgb), c};
  }
  return best;
}

// Every text of the panel reads at 4.5:1 on what it is drawn on, measured from its pixels: the
// dimmed numbers, kinds and hints, the accent's texts, and the selected row's texts on the
// desktop's highlight, even one as light as Breeze's (#3daee9 under white, 2.6:1).
TEST_F(CandidatePanelTest, EveryTextOfThePanelIsReadable) {
  auto owned = std::make_unique<CandidatePanelWindow>();
  CandidatePanelWindow* window = owned.get();
  CandidatePanel panel(std::move(owned), nullptr);
  const QPalette original = QApplication::palette();
  QPalette breeze = original;
  breeze.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
  breeze.setColor(QPalette::HighlightedText, Qt::white);
  QApplication::setPalette(breeze);
  const std::vector<CandidateItem> rows = {{1, u("আমি"), "exact", true},
                                           {2, u("আমার"), "user", true},
                                           {3, u("আমাকে"), "phonetic", true},
                                           {4, u("আমরা"), "autocorrect", true}};
  AppSettings::setEnglishPassthroughEnabled(true);
  AppSettings::setUiLanguage(1);
  for (const auto& [appearance, name] :
       {std::pair{0, "system"}, std::pair{1, "dark"}, std::pair{2, "light"}}) {
    AppSettings::setPanelAppearance(appearance);
    panel.show("ami", rows, kCaret);
    const QImage shot = window->grab().toImage();
    const CandidatePanel::Layout layout = panel.layout();
    std::vector<std::pair<std::string, QRect>> texts = {
        {"raw text", layout.rawTextFrame.toAlignedRect()},
        {"Esc hint", layout.escHintFrame.toAlignedRect()}};
    for (const CandidatePanel::Row& row : panel.rows()) {
      if (!row.visible) continue;
      const QRectF r = row.frame;
      const std::string which =
          std::string(row.selected ? "selected " : "") + "row " + row.number.toStdString() + " ";
      // Clear of the row's rounded corners, where the panel's background shows.
      texts.emplace_back(which + "number",
                         QRectF(r.x() + 4, r.y() + 8, 20, r.height() - 16).toAlignedRect());
      if (!row.badge.isEmpty()) {
        texts.emplace_back(which + "kind",
                           QRectF(r.right() - 98, r.y() + 8, 94, r.height() - 16).toAlignedRect());
      }
    }
    for (const auto& [what, area] : texts) {
      const auto [ink, contrast] = inkIn(shot, area.intersected(shot.rect()));
      EXPECT_GE(contrast, secondarytext::kReadable)
          << name << ": " << what << " " << ink.name().toStdString();
    }
    panel.showStatus(UIStrings::suggestionsOn(), kCaret);
    const QImage status = window->grab().toImage();
    const auto [ink, contrast] = inkIn(status, panel.layout().rawTextFrame.toAlignedRect());
    EXPECT_GE(contrast, secondarytext::kReadable)
        << name << ": status " << ink.name().toStdString();
  }
  QApplication::setPalette(original);
  AppSettings::setPanelAppearance(0);
  panel.hide();
}

// Following the system, the selected row takes the desktop's highlight colour and the panel's
// texts are measured in the desktop's fonts as they change; a chosen theme keeps its own accent.
TEST_F(CandidatePanelTest, WindowFollowsTheDesktopsAccentAndFonts) {
  auto owned = std::make_unique<CandidatePanelWindow>();
  CandidatePanelWindow* window = owned.get();
  CandidatePanel panel(std::move(owned), nullptr);
  const QPalette originalPalette = QApplication::palette();
  const QFont originalFont = QApplication::font();
  QPalette accented = originalPalette;
  accented.setColor(QPalette::Highlight, QColor(0xc0, 0x1c, 0x28));
  QApplication::setPalette(accented);
  auto selectedRowColor = [&] {
    panel.show("ami", kAmi, kCaret);
    return window->grab().toImage().pixelColor(QPoint(window->width() / 2, 26 + 3)).name();
  };
  AppSettings::setPanelAppearance(0);
  EXPECT_EQ(selectedRowColor(), "#c01c28");
  // The theme's own blue, deepened until the row's small white texts read on it.
  AppSettings::setPanelAppearance(2);
  EXPECT_EQ(selectedRowColor(), "#005cbf");
  AppSettings::setPanelAppearance(0);

  const qreal before = window->statusTextWidth(QStringLiteral("Suggestions on"));
  QFont larger = originalFont;
  larger.setPixelSize(30);
  QApplication::setFont(larger);
  QCoreApplication::processEvents();
  const qreal after = window->statusTextWidth(QStringLiteral("Suggestions on"));
  // Sizes stay the panel's own; the family follows the desktop's.
  QFont serif = originalFont;
  serif.setFamily(QStringLiteral("DejaVu Serif"));
  QApplication::setFont(serif);
  QCoreApplication::processEvents();
  const qreal serifWidth = window->statusTextWidth(QStringLiteral("Suggestions on"));
  QApplication::setFont(originalFont);
  QApplication::setPalette(originalPalette);
  QCoreApplication::processEvents();
  EXPECT_EQ(after, before);
  EXPECT_NE(serifWidth, before);
  panel.hide();
}

// Keys in quick succession neither show a hidden panel nor paint a shown one, so that no key
// waits for the window work of the one before; once they pause, the panel appears or paints
// once, at its new size, with the last rows.
TEST_F(CandidatePanelTest, TheWindowAppearsAndPaintsOnceTheKeysPause) {
  auto owned = std::make_unique<CandidatePanelWindow>();
  CandidatePanelWindow* window = owned.get();
  CandidatePanel panel(std::move(owned), nullptr);
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  window->installEventFilter(&counter);
  // Keys in quick succession: the panel appears only when they pause, once, with the last rows.
  for (const char* raw : {"a", "am"}) {
    panel.show(raw, {{1, u("আ"), "exact", true}}, kCaret);
    QCoreApplication::processEvents();
  }
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(counter.paints, 0);
  QTest::qWait(CandidatePanelWindow::kPaintDelayMs * 10);
  ASSERT_TRUE(window->isVisible());
  EXPECT_EQ(window->geometry(), QRect(200, 322, 370, 26 + 34 + 10));
  ASSERT_GT(counter.paints, 0);

  counter.paints = 0;
  for (const char* raw : {"am", "ami"}) {
    panel.show(raw, kAmi, kCaret);
    QCoreApplication::processEvents();
  }
  panel.show("amit", {{1, u("অমিত"), "exact", true}}, kCaret);
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.paints, 0);
  EXPECT_EQ(window->geometry(), QRect(200, 322, 370, 26 + 34 + 10));
  QTest::qWait(CandidatePanelWindow::kPaintDelayMs * 10);
  EXPECT_EQ(counter.paints, 1);
  EXPECT_EQ(window->grab().toImage().size(), QSize(370, 26 + 34 + 10));

  // A panel hidden before it appears or paints stays hidden and paints nothing more; shown
  // again, it appears once the keys pause.
  panel.show("ami", kAmi, kCaret);
  panel.hide();
  counter.paints = 0;
  QTest::qWait(CandidatePanelWindow::kPaintDelayMs * 10);
  EXPECT_EQ(counter.paints, 0);
  panel.show("ami", kAmi, kCaret);
  panel.hide();
  QTest::qWait(CandidatePanelWindow::kPaintDelayMs * 10);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(counter.paints, 0);
  panel.show("ami", kAmi, kCaret);
  QTest::qWait(CandidatePanelWindow::kPaintDelayMs * 10);
  EXPECT_TRUE(window->isVisible());
  EXPECT_GT(counter.paints, 0);
  window->removeEventFilter(&counter);
}

// The warm-up at start-up draws off screen only: no window appears, and a panel draws the same
// after it as before.
TEST_F(CandidatePanelTest, WarmUpShowsNothingAndChangesNoPanelsDrawing) {
  const auto drawn = [this] {
    auto owned = std::make_unique<CandidatePanelWindow>();
    CandidatePanelWindow* window = owned.get();
    CandidatePanel panel(std::move(owned), nullptr);
    panel.show("ami", kAmi, kCaret);
    // The panel appears once the keys pause, however late a loaded machine runs its timer.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }));
    return window->grab().toImage();
  };
  const QImage before = drawn();
  const QList<QWidget*> windows = QApplication::topLevelWidgets();
  CandidatePanelWindow::warmUp();
  EXPECT_EQ(QApplication::topLevelWidgets(), windows);
  for (QWidget* widget : QApplication::topLevelWidgets()) EXPECT_FALSE(widget->isVisible());
  EXPECT_EQ(drawn(), before);
}

}  // namespace
}  // namespace tolvani
