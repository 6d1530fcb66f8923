// The input-source calls on IBus and GSettings. The bundle identifier is the name of an IBus
// component; the bundle's sources are the engines of that component's file (in the folders the
// daemon reads) that the running daemon lists, or all of them while no daemon runs (the session
// has not started IBus yet: the daemon will read them when it does); enabled ones are also in
// IBus's preload-engines; enabling into an empty list first adds the keyboard layouts the session
// types with, so that the person keeps them beside Tolvani; the current one is the daemon's global
// engine; the text input menu is the IBus panel's tray icon. Where no panel runs yet, enabling and
// selecting also place Tolvani in the order the panel will start with (engines-order), so that its
// start and its hot key reach it; where one runs (KDE Plasma on X11), enabling lists Tolvani where
// that panel's hot key reaches it with one tap, now and at its next start. A GNOME session's own
// list is GnomeInputSources', which uses this one for IBus's part. Thread-safety: call from one
// thread at a time.
#ifndef TOLVANI_SETUP_IBUSINPUTSOURCES_H_
#define TOLVANI_SETUP_IBUSINPUTSOURCES_H_

#include <sys/types.h>

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

#include "setup/InputSourceSystem.h"

namespace tolvani {

class IBusInputSources final : public InputSourceSystem {
 public:
  std::vector<InputSource> sources(const QString& bundleID, bool includeDisabled) override;
  // Rebuilds the user's registry cache and, when the daemon does not yet list every engine of
  // the component file at `bundleURL`, restarts it and waits a little for it to come back. With no
  // daemon running, the cache is all there is to do.
  int registerBundle(const QUrl& bundleURL) override;
  int enable(const InputSource& source) override;
  int select(const InputSource& source) override;
  std::optional<InputSource> current() override;
  // Whether a daemon answers.
  bool running() override;
  bool panelRuns() override;
  std::optional<bool> inputMenuVisible() override;
  bool setInputMenuVisible() override;

  // Restarts the daemon and waits a little for the new one to list the engines `names`; 0 also
  // when no daemon runs (nothing to restart) or the new one is still starting. A daemon that
  // died in the restart is started again as it was started (its command line, environment and
  // folder), which brings back the panel it had; the engine the person typed with is selected
  // again. -ECHILD when none could be brought back.
  int restartDaemon(const QStringList& names);
  // Whether this process asked the daemon to restart, and whether it then had to start it again.
  static bool daemonRestarted();
  static bool daemonStartedAgain();
  // Called with the daemon's process id right after it was asked to restart.
  static void testSetRestartObserver(std::function<void(pid_t)> observer);

  static bool schemaInstalled(const char* id);
  // The folders the daemon reads components from: IBUS_COMPONENT_PATH, else the system's.
  static QStringList componentFolders();

  struct Component {
    QString name;  // the bundle identifier its sources are listed by
    QUrl file;
  };
  // The engine names of the component named `bundleID` in those folders; empty when none is.
  static QStringList engineNames(const QString& bundleID);
  // The engine names of the component file at `file`; empty when it is not one.
  static QStringList engineNamesIn(const QUrl& file);
  // The component in those folders whose exec starts `program`: the program's own bundle.
  static std::optional<Component> componentStarting(const QString& program);
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_IBUSINPUTSOURCES_H_
