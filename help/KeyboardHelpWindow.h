// The keyboard help window's widget: five read-only, selectable text tabs (phonetic table, the
// probhat, national and unijoy layouts, conjunct table) whose colours follow the window's palette,
// so that a switch to a dark palette redraws the text light on dark. Thread-safety: main thread
// only.
#ifndef TOLVANI_HELP_KEYBOARDHELPWINDOW_H_
#define TOLVANI_HELP_KEYBOARDHELPWINDOW_H_

#include <QWidget>
#include <vector>

#include "help/HelpText.h"

class QTabWidget;
class QTextEdit;

namespace tolvani {

class KeyboardHelpWindow : public QWidget {
  Q_OBJECT

 public:
  // Builds all four tabs, reading both layout documents.
  explicit KeyboardHelpWindow(QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Writes every tab's text again in the current palette's colours, keeping each tab's place.
  void updateColors();

  QTabWidget* tabView_ = nullptr;  // owned by this widget
  struct Tab {
    QTextEdit* view;  // owned by tabView_
    HelpText content;
  };
  std::vector<Tab> tabs_;
};

}  // namespace tolvani

#endif  // TOLVANI_HELP_KEYBOARDHELPWINDOW_H_
