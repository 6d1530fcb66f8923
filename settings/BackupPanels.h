// The file panels of the settings window's backup buttons and of the text-shortcut editor: export
// and import of the learned-data backup and of text-shortcut files through the desktop's save and
// open dialogs, each outcome reported in a modal alert with one button, all through the dialog
// seam of settings/Dialogs.h. Thread-safety: main thread only. Every command is modal, except
// that the learned-data export may leave making and writing the backup, and the import the merge,
// to a worker; its caller keeps a second learned-data command from starting until the worker has
// answered.
#ifndef TOLVANI_SETTINGS_BACKUPPANELS_H_
#define TOLVANI_SETTINGS_BACKUPPANELS_H_

#include <QByteArray>
#include <functional>

#include "settings/DataBackup.h"
#include "settings/Dialogs.h"

class QWidget;

namespace tolvani::BackupPanels {

// Each command's dialogs and alerts are modal over `parent`, the asking window (null for none).

// Runs `work` off the main thread, then `done` on the main thread.
using BackgroundRunner =
    std::function<void(std::function<void()> work, std::function<void()> done)>;

// Saves the learned data with every store fresh first, then asks where to save it.
void exportLearnedWords(QWidget* parent = nullptr);
// The same with the saving, the reading of the stores and the writing of the chosen file left to
// `background`: the save dialog comes once the backup is ready, and nothing shows when `parent`
// was given and is gone or hidden by then; the outcome's alert comes once the file is written.
void exportLearnedWords(QWidget* parent, const BackgroundRunner& background);
// Merges a backup's bytes into the learned stores (AppSettings::importUserData) and hands the
// result to `done` on the main thread, at once or later.
using LearnedDataImporter =
    std::function<void(QByteArray backup, std::function<void(LearnedDataImportResult)> done)>;

// Asks for a backup and has `importer` merge it into the learned stores (without one, the merge
// runs at once on this thread); the outcome's alert comes when the importer answers, over
// `parent` while it exists, else over no window. False when
// nothing was handed to the importer: the dialog was cancelled or the file refused.
bool importLearnedWords(QWidget* parent = nullptr, const LearnedDataImporter& importer = {});
// Asks where to save the text shortcuts as a JSON file.
void exportTextShortcuts(QWidget* parent = nullptr);
// Asks for a text-shortcut file and adds what it holds to the stored list.
void importTextShortcuts(QWidget* parent = nullptr);

// Runs at the start of exportLearnedWords, on the thread that makes the backup, before the stores
// are read, so that the backup holds what running engines learned last. The application installs
// the engine bridges' save-all here (this library sits below them); none by default.
void setLearnedDataSaver(std::function<void()> save);

// The dialogs go through the seam every window shares.
using dialogs::Alert;
using dialogs::AlertStyle;
using dialogs::Dialogs;
using dialogs::testSetDialogs;

}  // namespace tolvani::BackupPanels

#endif  // TOLVANI_SETTINGS_BACKUPPANELS_H_
