// The tolvani program: the IBus input-method server.
#include <QApplication>
#include <QStringList>

#include "ime/EngineBridge.h"
#include "ime/ibus/IBusFrontEnd.h"
#include "settings/AppSettings.h"
#include "settings/BackupPanels.h"
#include "setup/InputSourceCommand.h"

int main(int argc, char** argv) {
  // Command mode: the input-source steps run and the process ends, with no user interface.
  if (const std::optional<int> status = tolvani::InputSourceCommand::runIfRequested(argc, argv))
    return *status;
  // IBus is served by Qt's GLib event loop, which this variable would turn off.
  qunsetenv("QT_NO_GLIB");
  // Qt's IBus module in our own windows must not wait for the input method: that is this
  // process, and it would never answer.
  qunsetenv("IBUS_ENABLE_SYNC_MODE");
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  tolvani::AppSettings::registerDefaults();
  // The engine answers without its shared tables until they are built: start them now, off the
  // main thread, so the first words typed already get the full candidates and predictions.
  tolvani::EngineBridge::warmSharedCaches();
  // The first focus follows the start at once: its session is made meanwhile.
  tolvani::EngineBridge::prepareSession();
  // The settings side cannot reach the engine sessions; an export must hold their latest learning.
  tolvani::BackupPanels::setLearnedDataSaver([] { tolvani::EngineBridge::syncAllForShutdown(); });
  const bool startedByDaemon = app.arguments().contains(QStringLiteral("--ibus"));
  if (!tolvani::IBusFrontEnd::start(startedByDaemon, QCoreApplication::applicationFilePath())) {
    return 1;
  }
  return app.exec();
}
