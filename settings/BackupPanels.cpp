#include "settings/BackupPanels.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QWidget>
#include <memory>

#include "platform/Log.h"
#include "platform/PrivateFiles.h"
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

Dialogs& dialogs() { return dialogs::current(); }

std::function<void()>& learnedDataSaver() {
  static std::function<void()> saver;
  return saver;
}

void alert(QWidget* parent, const QString& text, AlertStyle style) {
  dialogs().showAlert(parent, {text, style, UIStrings::okButton()});
}

// A failed import whose undo failed too: the usual text would promise that nothing changed.
QString importFailedStoresChanged() {
  return AppSettings::isBanglaUI() ? QStringLiteral("ইমপোর্ট করা ডেটা সংরক্ষণ করা যায়নি।")
                                   : QStringLiteral("The imported data could not be saved.");
}

// The error's description when `data` could not be written to `path`. Any thread.
std::optional<QString> writeFile(const QString& path, const QByteArray& data) {
  QSaveFile file(path);
  // A backup holds the words the person typed: theirs alone, even where it replaces a file
  // that others could read.
  bool written = file.open(QIODevice::WriteOnly) && platform::privatefiles::makePrivate(file);
  written = written && file.write(data) == data.size();
  written = written && file.commit();
  if (written) return std::nullopt;
  return file.errorString();
}

void reportWrite(QWidget* parent, const QString& path, const std::optional<QString>& error) {
  if (error) {
    platform::log::line(QStringLiteral("export failed: ") + *error);
    alert(parent, UIStrings::exportFailed(), AlertStyle::warning);
    return;
  }
  alert(parent, UIStrings::savedFile(QFileInfo(path).fileName()), AlertStyle::informational);
}

std::optional<QString> chooseSavePath(QWidget* parent, const QString& suggestedName) {
  std::optional<QString> path = dialogs().chooseSaveFile(parent, suggestedName, {kJsonFilter});
  if (!path || path->isEmpty()) return std::nullopt;
  return path;
}

void save(QWidget* parent, const QByteArray& data, const QString& suggestedName) {
  const std::optional<QString> path = chooseSavePath(parent, suggestedName);
  if (!path) return;
  reportWrite(parent, *path, writeFile(*path, data));
}

std::optional<QByteArray> readChosenFile(QWidget* parent, const QStringList& nameFilters,
                                         qint64 maxBytes, const QString& tooLarge) {
  const std::optional<QString> path = dialogs().chooseOpenFile(parent, nameFilters);
  if (!path || path->isEmpty()) return std::nullopt;
  const QFileInfo info(*path);
  if (info.exists()) {
    // A device or a pipe has no size to check and may never end: reading one could hang or
    // exhaust memory.
    if (!info.isFile()) {
      alert(parent, UIStrings::fileUnreadable(), AlertStyle::warning);
      return std::nullopt;
    }
    if (info.size() > maxBytes) {
      alert(parent, tooLarge, AlertStyle::warning);
      return std::nullopt;
    }
  }
  QFile file(*path);
  if (!file.open(QIODevice::ReadOnly)) {
    alert(parent, UIStrings::fileUnreadable(), AlertStyle::warning);
    return std::nullopt;
  }
  // One byte over the limit tells a file that grew since the check from one that did not.
  QByteArray data = file.read(maxBytes + 1);
  if (file.error() != QFileDevice::NoError) {
    alert(parent, UIStrings::fileUnreadable(), AlertStyle::warning);
    return std::nullopt;
  }
  if (data.size() > maxBytes) {
    alert(parent, tooLarge, AlertStyle::warning);
    return std::nullopt;
  }
  return data;
}

const QString kBackupName = QStringLiteral("tolvani-backup.json");

std::optional<QByteArray> learnedDataBackup() {
  if (const std::function<void()>& saver = learnedDataSaver()) saver();
  return AppSettings::exportUserData();
}

}  // namespace

void exportLearnedWords(QWidget* parent) {
  exportLearnedWords(parent, [](std::function<void()> work, std::function<void()> done) {
    work();
    done();
  });
}

void exportLearnedWords(QWidget* parent, const BackgroundRunner& background) {
  // Shared by the steps, each of which may end on either thread.
  struct Export {
    std::optional<QByteArray> backup;
    QString path;
    std::optional<QString> error;
  };
  auto state = std::make_shared<Export>();
  const bool hadParent = parent != nullptr;
  QPointer<QWidget> asking(parent);
  background([state] { state->backup = learnedDataBackup(); },
             [state, hadParent, asking, background] {
               // Whoever closed the window meanwhile has left the export.
               if (hadParent && (!asking || !asking->isVisible())) return;
               if (!state->backup) {
                 alert(asking, UIStrings::exportFailed(), AlertStyle::warning);
                 return;
               }
               const std::optional<QString> path = chooseSavePath(asking, kBackupName);
               if (!path) return;
               state->path = *path;
               // The outcome is told even when the window went meanwhile: the file is written.
               background([state] { state->error = writeFile(state->path, *state->backup); },
                          [state, asking] { reportWrite(asking, state->path, state->error); });
             });
}

namespace {

void reportLearnedDataImport(QWidget* parent, const LearnedDataImportResult& result) {
  switch (result.kind) {
    case LearnedDataImportResult::Kind::imported:
      alert(parent, UIStrings::learnedWordsImported(result.words), AlertStyle::informational);
      return;
    case LearnedDataImportResult::Kind::tooLarge:
      alert(parent, UIStrings::learnedDataTooLarge(), AlertStyle::warning);
      return;
    case LearnedDataImportResult::Kind::invalid:
      alert(parent, UIStrings::learnedDataInvalid(), AlertStyle::warning);
      return;
    case LearnedDataImportResult::Kind::failed:
      alert(parent,
            result.storesUnchanged ? UIStrings::learnedDataImportFailed()
                                   : importFailedStoresChanged(),
            AlertStyle::warning);
      return;
  }
}

}  // namespace

bool importLearnedWords(QWidget* parent, const LearnedDataImporter& importer) {
  std::optional<QByteArray> data =
      readChosenFile(parent, {kJsonFilter}, AppSettings::maxImportedUserDataBytes,
                     UIStrings::learnedDataTooLarge());
  if (!data) return false;
  if (!importer) {
    reportLearnedDataImport(parent, AppSettings::importUserData(*data));
    return true;
  }
  // The outcome is told even when the asking window went meanwhile.
  QPointer<QWidget> asking(parent);
  importer(std::move(*data), [asking](const LearnedDataImportResult& result) {
    reportLearnedDataImport(asking, result);
  });
  return true;
}

void exportTextShortcuts(QWidget* parent) {
  save(parent, AppSettings::exportTextShortcuts(), QStringLiteral("Tolvani Shortcuts.json"));
}

void importTextShortcuts(QWidget* parent) {
  const std::optional<QByteArray> data =
      readChosenFile(parent, {kShortcutFileFilter}, TextShortcutFile::maxFileBytes,
                     UIStrings::shortcutsTooLarge());
  if (!data) return;
  const std::optional<std::pair<int, int>> counts = AppSettings::importTextShortcuts(*data);
  if (!counts) {
    alert(parent, UIStrings::shortcutsNoneFound(), AlertStyle::warning);
    return;
  }
  alert(parent, UIStrings::shortcutsImported(counts->first, counts->second),
        AlertStyle::informational);
}

void setLearnedDataSaver(std::function<void()> save) { learnedDataSaver() = std::move(save); }

}  // namespace tolvani::BackupPanels
