// The candidate panel beside the caret: its rows, header, selection, status toasts and the
// place the user dragged it to, as one model shown through a face: our own window where the
// desktop lets us place one, else the input-method framework's lookup table.
// Thread-safety: main thread only.
#ifndef TOLVANI_IME_CANDIDATEPANEL_H_
#define TOLVANI_IME_CANDIDATEPANEL_H_

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "settings/AppSettings.h"

namespace tolvani {

struct CandidateItem {
  int index = 0;  // the number shown, from 1
  QString text;
  QString kind;
  bool shortcut = true;
  friend bool operator==(const CandidateItem&, const CandidateItem&) = default;
};

// One screen of the desktop, in the desktop's coordinates (top-left origin, y downward).
struct ScreenArea {
  QRectF frame;
  QRectF available;  // without panels and docks
};

class CandidatePanel;

// Where the panel appears. A face draws the panel's present layout and reports the user's mouse
// back to the panel.
class CandidatePanelFace {
 public:
  virtual ~CandidatePanelFace() = default;
  // Whether this face can put a window at a rectangle of the screen.
  virtual bool placesWindows() const = 0;
  // The screens, the primary one first.
  virtual std::vector<ScreenArea> screens() const = 0;
  // The width of a status message in the toast's font.
  virtual qreal statusTextWidth(const QString& message) const = 0;
  virtual void render(const CandidatePanel& panel) = 0;
  virtual void hide() = 0;
  // The rows rendered last are about to be replaced: what waits for the keys to pause before it
  // appears waits again.
  virtual void postpone() {}
};

class CandidatePanel {
 public:
  static constexpr int kMaxRows = 16;
  static constexpr qreal kWidth = 370;
  static constexpr qreal kRowHeight = 34;
  static constexpr qreal kStatusHeight = 38;
  static constexpr std::chrono::milliseconds kStatusDuration{1100};
  static inline const QString kPositionKey = QStringLiteral("CandidatePanelPosition");

  enum class State { hidden, candidates, status };

  struct Row {
    std::optional<CandidateItem> item;  // the item last configured
    bool visible = false;
    bool selected = false;
    bool hovered = false;
    QRectF frame;  // in the panel, top-left origin
    QString number;
    QString badge;
    QString accessibleLabel;
  };

  struct Layout {
    State state = State::hidden;
    QRectF frame;  // the window's frame on the desktop
    // The header line while candidates show (raw text, then the first candidate); the message
    // while a toast shows.
    bool headerVisible = false;
    QString headerRawText;
    QString headerPreedit;
    QString statusMessage;
    QRectF rawTextFrame;
    bool escHintVisible = false;
    QRectF escHintFrame;
    bool dragHandleVisible = false;
    QRectF dragHandleFrame;
    std::optional<PanelAppearance> appearance;
  };

  // The faces make their faces; `fallback` serves when `window` cannot place the panel. Either
  // may be null (a panel without a face only keeps its model). Restores the pinned flag.
  CandidatePanel(std::unique_ptr<CandidatePanelFace> window,
                 std::unique_ptr<CandidatePanelFace> fallback);
  ~CandidatePanel();
  CandidatePanel(const CandidatePanel&) = delete;
  CandidatePanel& operator=(const CandidatePanel&) = delete;

  // Makes the faces of every panel the controllers create; tests and the IBus engine set it.
  using FaceFactory = std::function<
      std::pair<std::unique_ptr<CandidatePanelFace>, std::unique_ptr<CandidatePanelFace>>()>;
  static void setFaceFactory(FaceFactory factory);
  // A panel with the faces of the factory (none without one).
  static std::unique_ptr<CandidatePanel> make();

  // The zero-based row of a mouse pick.
  std::function<void(int)> onCandidateSelected;

  // `near`: the caret rectangle in desktop coordinates; a null rectangle means none is known.
  void show(const QString& rawText, const std::vector<CandidateItem>& candidates, QRectF near);
  void showStatus(const QString& message, QRectF near);
  void hide();
  // New rows are on their way: the face shows the ones it has only once the keys pause again.
  void postpone() {
    if (activeFace_) activeFace_->postpone();
  }
  void selectNext();
  void selectPrevious();

  int selectedIndex() const { return selectedIndex_; }
  bool hasUserSelection() const { return hasUserSelection_; }
  int itemCount() const { return itemCount_; }
  bool userPinned() const { return userPinned_; }
  const Layout& layout() const { return layout_; }
  const std::array<Row, kMaxRows>& rows() const { return rows_; }
  // The screens of the window face when it can place windows; none otherwise.
  std::vector<ScreenArea> screenAreas() const;
  // The face the panel showed through last (null when hidden or faceless).
  const CandidatePanelFace* activeFace() const { return activeFace_; }

  // From the faces: the user's mouse.
  void rowClicked(int row);
  void rowHovered(int row, bool hovered);
  // `origin` is the window's top-left corner after the drag; `moved` whether it moved at all.
  void dragEnded(QPointF origin, bool moved);
  void backgroundDoubleClicked();

  // The badge of a kind ("" for kinds without one).
  static QString badge(const QString& kind);
  // Where a panel of `size` goes for the caret rectangle `caret`: below it, or above when it
  // would leave the screen's available area, pulled inside that area.
  static QPointF placement(QRectF caret, QSizeF size, const std::vector<ScreenArea>& screens);
  // The saved position pulled inside the available area of its screen.
  static QPointF pinnedPlacement(QPointF saved, QSizeF size,
                                 const std::vector<ScreenArea>& screens);
  // The saved position, when the defaults hold a readable one.
  static std::optional<QPointF> savedPosition();

 private:
  // The window where it can place the panel (at the caret, or pinned), else the fallback.
  CandidatePanelFace* faceFor(QRectF near, bool pinned) const;
  void configure(int row, const CandidateItem& item, bool selected);
  void moveSelection(int step);
  void cancelStatusHide();
  void present(CandidatePanelFace* face);
  std::vector<ScreenArea> screens(const CandidatePanelFace* face) const;

  std::unique_ptr<CandidatePanelFace> window_;
  std::unique_ptr<CandidatePanelFace> fallback_;
  CandidatePanelFace* activeFace_ = nullptr;
  std::array<Row, kMaxRows> rows_;
  Layout layout_;
  int itemCount_ = 0;
  int selectedIndex_ = 0;
  bool hasUserSelection_ = false;
  bool userPinned_ = false;
  std::uint64_t statusTimer_ = 0;
  // Ends with the panel, so that a pending toast hide that outlives it does nothing.
  std::shared_ptr<CandidatePanel*> self_;
};

}  // namespace tolvani

#endif  // TOLVANI_IME_CANDIDATEPANEL_H_
