// The typing statistics window: the counters of the statistics store in a small fixed window, in
// the interface language it was built in, with a button that erases them after a warning.
// The input menu and the settings window open the process's one window through shared().
// Thread-safety: main thread only, like every widget; reload and reset wait on the statistics
// queue.
#ifndef TOLVANI_STATS_TYPINGSTATSWINDOWCONTROLLER_H_
#define TOLVANI_STATS_TYPINGSTATSWINDOWCONTROLLER_H_

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <cstdint>

class QLabel;
class QPushButton;

namespace tolvani {

class TypingStatsWindowController : public QWidget {
  Q_OBJECT

 public:
  // Builds the window with its texts in the present interface language; the values stay empty
  // until the first reload.
  explicit TypingStatsWindowController(QWidget* parent = nullptr);

  // The process's window, built on first use and kept when closed.
  static TypingStatsWindowController& shared();

  // Reloads the values, then brings the window to the front, active.
  void showWindow();
  // Fills the value labels from the store.
  void reload();
  // Asks first; erases the statistics and reloads only when the user goes ahead.
  void resetStats();

  // A count with the current locale's grouping ("1,234,567" in English).
  static QString formatNumber(std::int64_t value);
  // A date in the current locale's medium style, in the local time zone.
  static QString formatDate(const QDateTime& date);

 private:
  void updateTexts();
  // Puts each row's title and value on one baseline, for the texts they hold now.
  void alignRows();
  // A small window of fixed size that fits its texts and values in either language.
  void fitSize();

  QLabel* heading_ = nullptr;           // owned by this widget
  QLabel* subtitle_ = nullptr;          // owned by this widget
  QLabel* rowTitles_[7] = {};           // owned by this widget
  QPushButton* resetButton_ = nullptr;  // owned by this widget
  QLabel* keystrokesLabel_ = nullptr;   // owned by this widget
  QLabel* wordsLabel_ = nullptr;        // owned by this widget
  QLabel* autocorrectLabel_ = nullptr;  // owned by this widget
  QLabel* selectionsLabel_ = nullptr;   // owned by this widget
  QLabel* savedLabel_ = nullptr;        // owned by this widget
  QLabel* sessionsLabel_ = nullptr;     // owned by this widget
  QLabel* sinceLabel_ = nullptr;        // owned by this widget
};

}  // namespace tolvani

#endif  // TOLVANI_STATS_TYPINGSTATSWINDOWCONTROLLER_H_
