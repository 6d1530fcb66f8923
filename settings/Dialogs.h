// What every window asks of the desktop besides itself: one-button alerts, two-button
// confirmations (a destructive button and a cancel button), and the save and open file dialogs,
// each modal over the window that asks. The calls go through one seam that tests answer, and the
// real boxes are built here too, so that every window's boxes look alike. Also the one way every
// opener brings a window to the front, and where a new window first stands. Thread-safety: main
// thread only; every call is modal, so none of them can overlap another.
#ifndef TOLVANI_SETTINGS_DIALOGS_H_
#define TOLVANI_SETTINGS_DIALOGS_H_

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace tolvani {

// Shows `window`, brings it above the others and gives it the keyboard. This process also serves
// other applications' typing, so without the last step a reopened window would stay behind the
// application the user typed in. Requires: `window` is a top-level widget.
void openWindow(QWidget* window);
// Moves `window` to the middle of the primary screen's free area (where there is a screen).
// Requires: `window` is a top-level widget at its final size.
void centerOnScreen(QWidget* window);

namespace dialogs {

enum class AlertStyle { informational, warning };

// One report to the user: a message (no further detail) and its only button.
struct Alert {
  QString text;
  AlertStyle style = AlertStyle::informational;
  QString button;

  bool operator==(const Alert&) const = default;
};

// A question that destroys something when confirmed: a title, a message, the destructive button
// and the cancel button, which Escape presses and which is the default.
struct Confirmation {
  QString title;
  QString message;
  QString confirmButton;
  QString cancelButton;

  bool operator==(const Confirmation&) const = default;
};

// What the windows ask of the desktop. Each call returns once the user has answered; `parent` is
// the asking window (null for none), over which the box is modal.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A save dialog for one file, its name field preset to `suggestedName`; the chosen path, or
  // none when cancelled.
  virtual std::optional<QString> chooseSaveFile(QWidget* parent, const QString& suggestedName,
                                                const QStringList& nameFilters) = 0;
  // An open dialog for one existing file (never a folder); the chosen path, or none.
  virtual std::optional<QString> chooseOpenFile(QWidget* parent,
                                                const QStringList& nameFilters) = 0;
  virtual void showAlert(QWidget* parent, const Alert& alert) = 0;
  // True when the user pressed the destructive button.
  virtual bool confirm(QWidget* parent, const Confirmation& confirmation) = 0;
};

// The desktop's dialogs, or the ones a test set.
Dialogs& current();
// Replaces the desktop's dialogs (null restores them). Requires: `dialogs` outlives its use.
void testSetDialogs(Dialogs* dialogs);

// The dialogs and boxes as the desktop's Dialogs shows them, set up but not shown.
std::unique_ptr<QFileDialog> makeSaveDialog(QWidget* parent, const QString& suggestedName,
                                            const QStringList& nameFilters);
std::unique_ptr<QFileDialog> makeOpenDialog(QWidget* parent, const QStringList& nameFilters);
std::unique_ptr<QMessageBox> makeAlertBox(QWidget* parent, const Alert& alert);
std::unique_ptr<QMessageBox> makeConfirmationBox(QWidget* parent, const Confirmation& confirmation);

}  // namespace dialogs
}  // namespace tolvani

#endif  // TOLVANI_SETTINGS_DIALOGS_H_
