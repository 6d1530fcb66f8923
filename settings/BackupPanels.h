// The file panels of the settings window's backup buttons and of the text-shortcut editor: export
// and import of the learned-data backup and of text-shortcut files through the desktop's save and
// open dialogs, each outcome reported in a modal alert with one button. The dialogs sit behind a
// seam that tests answer. Thread-safety: main thread only; every command is modal, so none of
// them can overlap another.
#ifndef TOLVANI_SETTINGS_BACKUPPANELS_H_
#define TOLVANI_SETTINGS_BACKUPPANELS_H_

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace tolvani::BackupPanels {

// Saves the learned data with every store fresh first, then asks where to save it.
void exportLearnedWords();
// Asks for a backup and merges it into the learned stores.
void importLearnedWords();
// Asks where to save the text shortcuts as a JSON file.
void exportTextShortcuts();
// Asks for a text-shortcut file and adds what it holds to the stored list.
void importTextShortcuts();

// Runs at the start of exportLearnedWords, before the stores are read, so that the backup holds
// what running engines learned last. The application installs the engine bridges' save-all here
// (this library sits below them); none by default.
void setLearnedDataSaver(std::function<void()> save);

enum class AlertStyle { informational, warning };

// One report to the user: a message (no further detail) and its only button.
struct Alert {
  QString text;
  AlertStyle style = AlertStyle::informational;
  QString button;

  bool operator==(const Alert&) const = default;
};

// A question before a change that cannot be undone: the message, the detail below it, the button
// that goes ahead and the one that does not.
struct Confirmation {
  QString text;
  QString detail;
  QString confirmButton;
  QString cancelButton;

  bool operator==(const Confirmation&) const = default;
};

// What the commands ask of the desktop. Each call returns once the user has answered.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A save dialog for one file, its name field preset to `suggestedName`; the chosen path, or
  // none when cancelled.
  virtual std::optional<QString> chooseSaveFile(const QString& suggestedName,
                                                const QStringList& nameFilters) = 0;
  // An open dialog for one existing file (never a folder); the chosen path, or none.
  virtual std::optional<QString> chooseOpenFile(const QStringList& nameFilters) = 0;
  virtual void showAlert(const Alert& alert) = 0;
  // A warning over `parent` (none: no window); true only when the user chose to go ahead.
  virtual bool confirm(const Confirmation& confirmation, QWidget* parent);
};

// Asks through the dialogs in use.
bool confirm(const Confirmation& confirmation, QWidget* parent);

// The dialogs and the message box as the desktop's Dialogs shows them, set up but not shown.
std::unique_ptr<QFileDialog> makeSaveDialog(const QString& suggestedName,
                                            const QStringList& nameFilters);
std::unique_ptr<QFileDialog> makeOpenDialog(const QStringList& nameFilters);
std::unique_ptr<QMessageBox> makeAlertBox(const Alert& alert);
// Cancel is the default and the escape button: Return alone never erases anything.
std::unique_ptr<QMessageBox> makeConfirmationBox(const Confirmation& confirmation, QWidget* parent);

// Replaces the desktop's dialogs (null restores them). Requires: `dialogs` outlives its use.
void testSetDialogs(Dialogs* dialogs);

}  // namespace tolvani::BackupPanels

#endif  // TOLVANI_SETTINGS_BACKUPPANELS_H_
