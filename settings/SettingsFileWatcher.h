// Brings settings that another process stored to this process's input controllers: while it
// lives, a change of the settings file made elsewhere (another copy of the program, a settings
// window of another process) is announced here with the settings-change notification, as this
// process's own windows announce theirs. This process's own writes are not announced again.
// Thread-safety: made, used and destroyed on the main thread.
#ifndef TOLVANI_SETTINGS_SETTINGSFILEWATCHER_H_
#define TOLVANI_SETTINGS_SETTINGSFILEWATCHER_H_

#include <QFileSystemWatcher>
#include <QObject>

namespace tolvani {

class SettingsFileWatcher : public QObject {
  Q_OBJECT

 public:
  // Watches the folder of the standard suite's file, made if missing.
  explicit SettingsFileWatcher(QObject* parent = nullptr);

 private:
  void folderChanged();

  QFileSystemWatcher watcher_;
};

}  // namespace tolvani

#endif  // TOLVANI_SETTINGS_SETTINGSFILEWATCHER_H_
