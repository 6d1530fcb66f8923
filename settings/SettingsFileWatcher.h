// Brings settings that another process stored to this process's input controllers: while it
// lives, a change of the settings file made elsewhere (another copy of the program, a settings
// window of another process) is announced here with the settings-change notification, as this
// process's own windows announce theirs; a change of the custom key mappings made elsewhere is
// announced with a user-data reload. This process's own writes are not announced again.
// Thread-safety: made, used and destroyed on the main thread.
#ifndef TOLVANI_SETTINGS_SETTINGSFILEWATCHER_H_
#define TOLVANI_SETTINGS_SETTINGSFILEWATCHER_H_

#include <QFileSystemWatcher>
#include <QObject>

namespace tolvani {

class SettingsFileWatcher : public QObject {
  Q_OBJECT

 public:
  // Watches the folders of the standard suite's file and of the user data, made if missing.
  explicit SettingsFileWatcher(QObject* parent = nullptr);

 private:
  void folderChanged(const QString& folder);

  QFileSystemWatcher watcher_;
  QString settingsFolder_;
};

}  // namespace tolvani

#endif  // TOLVANI_SETTINGS_SETTINGSFILEWATCHER_H_
