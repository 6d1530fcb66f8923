// The diagnostics page that the settings window hosts: the report of the local timing diagnostics
// in a selectable, scrolling text view, with a refresh button and a share button that puts the
// report on the clipboard. Thread-safety: main thread only, like every widget.
#ifndef TOLVANI_STATS_DIAGNOSTICSVIEW_H_
#define TOLVANI_STATS_DIAGNOSTICSVIEW_H_

#include <QString>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QToolButton;

namespace tolvani {

class DiagnosticsView : public QWidget {
  Q_OBJECT

 public:
  // Reads the report at once, so the page has its text before it is first shown.
  explicit DiagnosticsView(QWidget* parent = nullptr);

  // The report shown, header included.
  QString report() const { return report_; }

  // Reads the report again; does not ask for a new diagnostics file first.
  void refresh();
  // Puts exactly the report shown on the clipboard: the desktop has no share sheet, and every
  // place a user would share the text to takes a paste.
  void share();

  // The page's texts in the interface language: "Diagnostics", "Refresh", "Share".
  static QString titleText();
  static QString refreshText();
  static QString shareText();

 protected:
  // Each appearance asks for a new diagnostics file, then reads the report. The file is written
  // on the diagnostics queue, so the text read here may still be the previous one.
  void showEvent(QShowEvent* event) override;
  // A change of the interface language (QEvent::LanguageChange) sets every text again.
  void changeEvent(QEvent* event) override;

 private:
  void setReport(const QString& report);
  void updateTexts();

  QString report_;
  QLabel* title_ = nullptr;               // owned by this widget
  QToolButton* refreshButton_ = nullptr;  // owned by this widget
  QToolButton* shareButton_ = nullptr;    // owned by this widget
  QPlainTextEdit* reportView_ = nullptr;  // owned by this widget
};

}  // namespace tolvani

#endif  // TOLVANI_STATS_DIAGNOSTICSVIEW_H_
