// What a state query found: the registration state, whether one of the bundle's sources is the
// current one and whether the session's IBus daemon runs, with its one-line text form (the state
// line) that carries it from a command-mode child to the application. Thread-safety: a value type.
#ifndef TOLVANI_SETUP_INPUTSOURCESNAPSHOT_H_
#define TOLVANI_SETUP_INPUTSOURCESNAPSHOT_H_

#include <QString>
#include <optional>

#include "setup/InputSourceRegistration.h"

namespace tolvani {

struct InputSourceSnapshot {
  InputSourceRegistration::State status = InputSourceRegistration::State::notRegistered;
  bool selected = false;
  // Without a daemon the source can be added for when it starts, but nothing can be selected.
  bool ibusRunning = true;

  bool operator==(const InputSourceSnapshot&) const = default;

  // "tolvani-state status=<raw value> selected=<1 or 0>", followed by " ibus=0" when the daemon
  // does not run, without a line feed. A line without "ibus=" says it runs.
  QString line() const;
  // The snapshot of the last state line in a child's whole standard output; nullopt when that
  // line is unusable or there is none.
  static std::optional<InputSourceSnapshot> fromOutput(const QString& output);
};

// The output split into lines at every kind of line break, empty lines dropped.
QStringList splitOutputLines(const QString& output);

}  // namespace tolvani

#endif  // TOLVANI_SETUP_INPUTSOURCESNAPSHOT_H_
