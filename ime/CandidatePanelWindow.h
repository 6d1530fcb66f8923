// The candidate panel's own window: frameless, above other windows, never taking the keyboard
// from the application being typed into, placed at the caret on X11, and dragged or picked from
// with the mouse. Thread-safety: main thread only.
#ifndef TOLVANI_IME_CANDIDATEPANELWINDOW_H_
#define TOLVANI_IME_CANDIDATEPANELWINDOW_H_

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include "ime/CandidatePanel.h"

namespace tolvani {

class CandidatePanelWindow final : public QWidget, public CandidatePanelFace {
 public:
  CandidatePanelWindow();
  ~CandidatePanelWindow() override;

  struct Colors {
    QColor background;
    QColor label;
    QColor secondary;
    QColor tertiary;
    QColor accent;      // the selected row's fill
    QColor accentText;  // accent-coloured text on the panel's background
    QColor onAccent;    // text on an accent-filled row
  };

  static const QString& dragHandleToolTip();
  static const QString& escHint();
  // How long the keys must pause before the panel appears, or paints what they changed.
  static constexpr int kPaintDelayMs = 4;
  // Reads the desktop's font list on a thread of its own, so that the first panel, made when the
  // first field takes the focus, does not wait for it; and waits for that reading, which must end
  // before the application does. Called on the main thread, with a QGuiApplication.
  static void readFontsAhead();
  static void waitForFontsAhead();
  // Draws text in each of the panel's fonts, and its background, into an image: the first panel's
  // paint then finds the fonts loaded and shaped and the painter ready, where otherwise the first
  // key's preedit would wait behind that work. Called on the main thread once serving has begun.
  static void warmUp();

  // False on Wayland, where the compositor places our windows where it likes.
  bool placesWindows() const override;
  std::vector<ScreenArea> screens() const override;
  qreal statusTextWidth(const QString& message) const override;
  void render(const CandidatePanel& panel) override;
  void hide() override;
  void postpone() override {
    if (paintTimer_.isActive()) paintTimer_.start();
  }
  // The rows as last rendered, for tests that read the panel from outside the process.
  const std::array<CandidatePanel::Row, CandidatePanel::kMaxRows>& shownRows() const {
    return rows_;
  }

 protected:
  // Fonts are read again when the desktop's fonts change, colours when its palette does.
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // The visible row under `pos`, or -1.
  int rowAt(QPointF pos) const;
  bool isDark() const;
  // The colours of the current appearance; following the system, its accent is the palette's.
  Colors colors() const;
  void updateFonts();
  void paintRow(QPainter& painter, const CandidatePanel::Row& row) const;

  // Borrowed from the panel that rendered last; the panel owns this window.
  CandidatePanel* panel_ = nullptr;
  CandidatePanel::Layout layout_;
  struct Fonts {
    QFont headerRaw, headerPreedit, candidate, index, kind, status, escHint, dragHandle;
  } fonts_;
  static Fonts currentFonts();
  std::array<CandidatePanel::Row, CandidatePanel::kMaxRows> rows_;
  // The panel appears, and a shown one is painted, once the keys pause, so that a key that
  // follows closely does not wait for the window work of the one before.
  QTimer paintTimer_;
  bool dragging_ = false;
  QPointF pressGlobal_;
  QPoint startPos_;
  int hoveredRow_ = -1;
};

}  // namespace tolvani

#endif  // TOLVANI_IME_CANDIDATEPANELWINDOW_H_
