#include "settings/BackupPanels.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>

#include "platform/Log.h"
#include "settings/AppSettings.h"
#include "settings/DataBackup.h"
#include "settings/TextShortcutFile.h"
#include "settings/UIStrings.h"

namespace tolvani::BackupPanels {
namespace {

// Patterns only: the dialog shows them as they are, the same in both interface languages.
const QString kJsonFilter = QStringLiteral("*.json");
// JSON, property lists, comma- and tab-separated text, plain text.
const QString kShortcutFileFilter = QStringLiteral("*.json *.plist *.csv *.tsv *.txt *.text");

std::optional<QString> runFileDialog(QFileDialog& dialog) {
  // This process also serves other applications' typing, so it may not be the active one: bring
  // the dialog to the front once it is up.
  QTimer::singleShot(0, &dialog, [&dialog] {
    dialog.raise();
    dialog.activateWindow();
  });
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  return files.first();
}

class DesktopDialogs final : public Dialogs {
 public:
  std::optional<QString> chooseSaveFile(const QString& suggestedName,
                                        const QStringList& nameFilters) override {
    return runFileDialog(*makeSaveDialog(suggestedName, nameFilters));
  }
  std::optional<QString> chooseOpenFile(const QStringList& nameFilters) override {
    return runFileDialog(*makeOpenDialog(nameFilters));
  }
  void showAlert(const Alert& alert) override { makeAlertBox(alert)->exec(); }
};

Dialogs* g_testDialogs = nullptr;

Dialogs& dialogs() {
  static DesktopDialogs desktop;
  return g_testDialogs != nullptr ? *g_testDialogs : desktop;
}

std::function<void()>& learnedDataSaver() {
  static std::function<void()> saver;
  return saver;
}

void alert(const QString& text, AlertStyle style) {
  dialogs().showAlert({text, style, UIStrings::okButton()});
}

// A failed import whose undo failed too: the usual text would promise that nothing changed.
QString importFailedStoresChanged() {
  return AppSettings::isBanglaUI() ? QStringLiteral("ইমপোর্ট করা ডেটা সংরক্ষণ করা যায়নি।")
                                   : QStringLiteral("The imported data could not be saved.");
}

void save(const QByteArray& data, const QString& suggestedName) {
  const std::optional<QString> path = dialogs().chooseSaveFile(suggestedName, {kJsonFilter});
  if (!path || path->isEmpty()) return;
  QSaveFile file(*path);
  bool written = file.open(QIODevice::WriteOnly);
  written = written && file.write(data) == data.size();
  written = written && file.commit();
  if (!written) {
    platform::log::line(QStringLiteral("export failed: ") + file.errorString());
    alert(UIStrings::exportFailed(), AlertStyle::warning);
    return;
  }
  alert(UIStrings::savedFile(QFileInfo(*path).fileName()), AlertStyle::informational);
}

std::optional<QByteArray> readChosenFile(const QStringList& nameFilters, qint64 maxBytes,
                                         const QString& tooLarge) {
  const std::optional<QString> path = dialogs().chooseOpenFile(nameFilters);
  if (!path || path->isEmpty()) return std::nullopt;
  const QFileInfo info(*path);
  if (info.exists()) {
    // A device or a pipe has no size to check and may never end: reading one could hang or
    // exhaust memory.
    if (!info.isFile()) {
      alert(UIStrings::fileUnreadable(), AlertStyle::warning);
      return std::nullopt;
    }
    if (info.size() > maxBytes) {
      alert(tooLarge, AlertStyle::warning);
      return std::nullopt;
    }
  }
  QFile file(*path);
  if (!file.open(QIODevice::ReadOnly)) {
    alert(UIStrings::fileUnreadable(), AlertStyle::warning);
    return std::nullopt;
  }
  // One byte over the limit tells a file that grew since the check from one that did not.
  QByteArray data = file.read(maxBytes + 1);
  if (file.error() != QFileDevice::NoError) {
    alert(UIStrings::fileUnreadable(), AlertStyle::warning);
    return std::nullopt;
  }
  if (data.size() > maxBytes) {
    alert(tooLarge, AlertStyle::warning);
    return std::nullopt;
  }
  return data;
}

}  // namespace

void exportLearnedWords() {
  if (const std::function<void()>& saver = learnedDataSaver()) saver();
  const std::optional<QByteArray> data = AppSettings::exportUserData();
  if (!data) {
    alert(UIStrings::exportFailed(), AlertStyle::warning);
    return;
  }
  save(*data, QStringLiteral("tolvani-backup.json"));
}

void importLearnedWords() {
  const std::optional<QByteArray> data = readChosenFile(
      {kJsonFilter}, AppSettings::maxImportedUserDataBytes, UIStrings::learnedDataTooLarge());
  if (!data) return;
  const LearnedDataImportResult result = AppSettings::importUserData(*data);
  switch (result.kind) {
    case LearnedDataImportResult::Kind::imported:
      alert(UIStrings::learnedWordsImported(result.words), AlertStyle::informational);
      return;
    case LearnedDataImportResult::Kind::tooLarge:
      alert(UIStrings::learnedDataTooLarge(), AlertStyle::warning);
      return;
    case LearnedDataImportResult::Kind::invalid:
      alert(UIStrings::learnedDataInvalid(), AlertStyle::warning);
      return;
    case LearnedDataImportResult::Kind::failed:
      alert(result.storesUnchanged ? UIStrings::learnedDataImportFailed()
                                   : importFailedStoresChanged(),
            AlertStyle::warning);
      return;
  }
}

void exportTextShortcuts() {
  save(AppSettings::exportTextShortcuts(), QStringLiteral("Tolvani Shortcuts.json"));
}

void importTextShortcuts() {
  const std::optional<QByteArray> data = readChosenFile(
      {kShortcutFileFilter}, TextShortcutFile::maxFileBytes, UIStrings::shortcutsTooLarge());
  if (!data) return;
  const std::optional<std::pair<int, int>> counts = AppSettings::importTextShortcuts(*data);
  if (!counts) {
    alert(UIStrings::shortcutsNoneFound(), AlertStyle::warning);
    return;
  }
  alert(UIStrings::shortcutsImported(counts->first, counts->second), AlertStyle::informational);
}

void setLearnedDataSaver(std::function<void()> save) { learnedDataSaver() = std::move(save); }

std::unique_ptr<QFileDialog> makeSaveDialog(const QString& suggestedName,
                                            const QStringList& nameFilters) {
  auto dialog = std::make_unique<QFileDialog>();
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilters(nameFilters);
  dialog->setDefaultSuffix(QStringLiteral("json"));
  dialog->setDirectory(QDir::homePath());
  dialog->selectFile(suggestedName);
  return dialog;
}

std::unique_ptr<QFileDialog> makeOpenDialog(const QStringList& nameFilters) {
  auto dialog = std::make_unique<QFileDialog>();
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilters(nameFilters);
  dialog->setDirectory(QDir::homePath());
  return dialog;
}

std::unique_ptr<QMessageBox> makeAlertBox(const Alert& alert) {
  auto box = std::make_unique<QMessageBox>();
  box->setIcon(alert.style == AlertStyle::warning ? QMessageBox::Warning
                                                  : QMessageBox::Information);
  // A file name is the user's text, never markup.
  box->setTextFormat(Qt::PlainText);
  box->setText(alert.text);
  QPushButton* button = box->addButton(alert.button, QMessageBox::AcceptRole);
  box->setDefaultButton(button);
  box->setEscapeButton(button);
  return box;
}

std::unique_ptr<QMessageBox> makeConfirmationBox(const Confirmation& confirmation,
                                                 QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setIcon(QMessageBox::Warning);
  box->setTextFormat(Qt::PlainText);
  box->setText(confirmation.text);
  box->setInformativeText(confirmation.detail);
  box->addButton(confirmation.confirmButton, QMessageBox::DestructiveRole);
  QPushButton* cancel = box->addButton(confirmation.cancelButton, QMessageBox::RejectRole);
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  return box;
}

bool Dialogs::confirm(const Confirmation& confirmation, QWidget* parent) {
  const std::unique_ptr<QMessageBox> box = makeConfirmationBox(confirmation, parent);
  box->exec();
  QAbstractButton* chosen = box->clickedButton();
  return chosen != nullptr && box->buttonRole(chosen) == QMessageBox::DestructiveRole;
}

bool confirm(const Confirmation& confirmation, QWidget* parent) {
  return dialogs().confirm(confirmation, parent);
}

void testSetDialogs(Dialogs* dialogs) { g_testDialogs = dialogs; }

}  // namespace tolvani::BackupPanels
