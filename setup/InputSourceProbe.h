// Runs the program's own executable in command mode with one flag and turns its answer into a
// result or a setup error: the state, enabling, selecting. Thread-safety: main thread only; the
// completion runs on the main thread.
#ifndef TOLVANI_SETUP_INPUTSOURCEPROBE_H_
#define TOLVANI_SETUP_INPUTSOURCEPROBE_H_

#include <QString>
#include <optional>

#include "setup/InputSourceSnapshot.h"
#include "setup/SetupError.h"

namespace tolvani {

class InputSourceProbe {
 public:
  static void state(CancellationRef cancellation, SetupCompletion<InputSourceSnapshot> completion);
  static void enable(CancellationRef cancellation, SetupCompletion<Done> completion);
  // Whether the last enabling child that succeeded restarted IBus's daemon.
  static bool enableRestartedIBus();
  static void select(CancellationRef cancellation, SetupCompletion<Done> completion);

  // The child's standard output when it exits 0; otherwise its last "tolvani: " message (or a
  // general one) under the setup domain with its exit status as the code.
  static void run(const QString& flag, CancellationRef cancellation,
                  SetupCompletion<QString> completion);

  // The program's own executable, which the children run; empty when the program does not know it.
  static QString executable();

  // Writes to this process's log what a child of the program said to the person in `output` (its
  // "tolvani: " lines, such as IBus started again).
  static void logMessages(const QString& output);

  // The executable to run instead of the program's own; nullopt restores it, and an empty path
  // stands for a program that does not know its executable.
  static void testSetExecutable(std::optional<QString> path);
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_INPUTSOURCEPROBE_H_
