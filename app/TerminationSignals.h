// SIGTERM, SIGHUP and SIGINT end the process as a quit does: their handler writes to a pipe that
// the main thread's event loop reads, and the loop ends with status 0. A logout sends SIGTERM and
// then SIGHUP, a closed terminal SIGHUP, Control+C SIGINT; the handler stays installed, so one that
// comes during the shut-down leaves it to finish. Thread-safety: main thread only.
#ifndef TOLVANI_APP_TERMINATIONSIGNALS_H_
#define TOLVANI_APP_TERMINATIONSIGNALS_H_

class QObject;

namespace tolvani::TerminationSignals {

// Installs the handler and watches the pipe with a notifier that `owner` holds. Requires: a
// QCoreApplication. Logs it when the pipe cannot be made, and leaves the signals as they were.
void endEventLoopOnThem(QObject* owner);

}  // namespace tolvani::TerminationSignals

#endif  // TOLVANI_APP_TERMINATIONSIGNALS_H_
