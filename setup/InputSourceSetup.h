// The setup actions the setup window performs one after another: add Tolvani to the input
// sources, show the input menu, select Tolvani; and the IBus tools they run. Every input-source
// change happens in a command-mode child. Thread-safety: main thread only; completions run on the
// main thread.
#ifndef TOLVANI_SETUP_INPUTSOURCESETUP_H_
#define TOLVANI_SETUP_INPUTSOURCESETUP_H_

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <optional>

#include "setup/InputSourceSnapshot.h"
#include "setup/SetupError.h"

namespace tolvani {

class InputSourceSetup {
 public:
  static constexpr int kSelectionChecks = 3;
  static constexpr std::chrono::milliseconds kSelectionCheckPause{300};

  struct SystemTool {
    QString executable;
    QStringList arguments;
    QSet<int> acceptedStatuses;
  };
  struct SystemTools {
    SystemTool rebuildRegistry;  // makes IBus read the installed component files again
    // Restarts the IBus daemon and its panel: the program's own command, which starts them again
    // where the restart killed them.
    SystemTool refreshInputMenu;
  };
  static SystemTools defaultTools();

  // Rebuilds the registry, enables through a child, refreshes the input menu. With
  // `showInputMenuNext` the refresh is left to showInputMenu, which the caller runs next and
  // which then refreshes whatever it finds: one restart of the daemon for both. Where the child
  // restarted the daemon to register Tolvani, neither refreshes.
  static void activate(const QUrl& bundleURL, CancellationRef cancellation,
                       SetupCompletion<Done> completion, bool showInputMenuNext = false);
  static void showInputMenu(CancellationRef cancellation, SetupCompletion<Done> completion);
  // Selects through a child unless a probe finds the source selected already, then probes the
  // state until it reports the source selected.
  static void select(CancellationRef cancellation, SetupCompletion<InputSourceSnapshot> completion);

  // Runs `tool`; fails with its exit status unless the status is accepted. What it said to the
  // person (its "tolvani: " lines, such as IBus started again) goes in this process's log.
  static void run(const SystemTool& tool, CancellationRef cancellation,
                  SetupCompletion<Done> completion);

  // Set by the program that serves IBus: it is one of the daemon's engines, and restarting the
  // daemon would end it and the setup window it shows half-way. IBus's panel and GNOME Shell
  // follow the settings the steps change, so the menu is then left to them.
  static void setServesIBus(bool serves);

  // Tools to run instead of IBus's; nullopt restores them.
  static void testSetTools(std::optional<SystemTools> tools);
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_INPUTSOURCESETUP_H_
