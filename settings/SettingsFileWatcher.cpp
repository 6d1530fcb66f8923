#include "settings/SettingsFileWatcher.h"

#include <QDir>
#include <QFileInfo>

#include "platform/PrivateFiles.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"
#include "settings/CustomLayoutFile.h"

namespace tolvani {

SettingsFileWatcher::SettingsFileWatcher(QObject* parent) : QObject(parent) {
  // Every writer replaces the file by a rename, which only the folder's watch sees.
  const QString folder = QFileInfo(AppSettings::suite().filePath()).absolutePath();
  settingsFolder_ = QDir(folder).absolutePath();
  platform::privatefiles::makeFolder(folder);
  watcher_.addPath(folder);
  (void)AppSettings::suite().takeOutsideChange();  // what is stored now is no change
  const QString data = AppSettings::supportDirectoryURL();
  platform::privatefiles::makeFolder(data);
  watcher_.addPath(data);
  (void)CustomLayoutFile::takeOutsideChange();
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
          &SettingsFileWatcher::folderChanged);
}

void SettingsFileWatcher::folderChanged(const QString& folder) {
  // Temporary and lock files come and go in the same folders, and the engines write their learned
  // data beside the mappings: only new values or a new mappings file are a change.
  if (QDir(folder).absolutePath() == settingsFolder_) {
    if (AppSettings::suite().takeOutsideChange()) AppSettings::postDidChange(false);
  }
  if (CustomLayoutFile::takeOutsideChange()) AppSettings::postDidChange(true);
}

}  // namespace tolvani
