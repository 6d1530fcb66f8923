// Runs one executable as a child process with both output streams captured while it runs, under
// a deadline of 8 s on the process clock, polled every 50 ms. A child still running when the call
// ends, however it ends, is sent SIGTERM (then SIGKILL if it lingers) and reaped. Thread-safety:
// main thread only; the completion runs on the main thread.
#ifndef TOLVANI_SETUP_CHILDPROCESS_H_
#define TOLVANI_SETUP_CHILDPROCESS_H_

#include <QString>
#include <QStringList>
#include <chrono>

#include "setup/SetupError.h"

namespace tolvani {

class ChildProcess {
 public:
  static constexpr std::chrono::seconds kDeadline{8};
  static constexpr std::chrono::milliseconds kPollInterval{50};

  struct Output {
    int status = 0;
    QString standardOutput;  // UTF-8, invalid sequences replaced by U+FFFD
    QString standardError;
    bool operator==(const Output&) const = default;
  };

  // Fails with the POSIX domain when the child cannot start; with code 1 at the deadline; with
  // the signal number when a signal ended it; with the cancellation error when `cancellation` is
  // raised.
  static void run(const QString& executable, const QStringList& arguments,
                  CancellationRef cancellation, SetupCompletion<Output> completion);
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_CHILDPROCESS_H_
