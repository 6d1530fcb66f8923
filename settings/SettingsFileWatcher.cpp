#include "settings/SettingsFileWatcher.h"

#include <QDir>
#include <QFileInfo>

#include "settings/AppSettings.h"

namespace tolvani {

SettingsFileWatcher::SettingsFileWatcher(QObject* parent) : QObject(parent) {
  // Every writer replaces the file by a rename, which only the folder's watch sees.
  const QString folder = QFileInfo(AppSettings::suite().filePath()).absolutePath();
  QDir().mkpath(folder);
  watcher_.addPath(folder);
  (void)AppSettings::suite().takeOutsideChange();  // what is stored now is no change
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
          &SettingsFileWatcher::folderChanged);
}

void SettingsFileWatcher::folderChanged() {
  // Temporary and lock files come and go in the same folder: only new values are a change.
  if (AppSettings::suite().takeOutsideChange()) AppSettings::postDidChange(false);
}

}  // namespace tolvani
