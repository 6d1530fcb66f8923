// One running program per desktop session: the first start owns a name on the session bus and
// serves the reopen request there; a later start hands its request to it and ends. Thread-safety:
// main thread only.
#ifndef TOLVANI_APP_SINGLEINSTANCE_H_
#define TOLVANI_APP_SINGLEINSTANCE_H_

#include <QString>
#include <functional>

namespace tolvani::SingleInstance {

// The session bus's name of the running program, and its object and interface.
const QString& serviceName();

enum class Claim {
  owner,    // this process serves the name; `reopen` runs for each later start
  another,  // another process owns the name
  noBus,    // there is no session bus: this process runs alone
};

// Takes the name and serves `reopen` under it. With `queue`, a process that finds the name taken
// waits in the bus's queue for it and serves `reopen` once the owner ends. Requires: a
// QCoreApplication.
Claim claim(std::function<void()> reopen, bool queue = false);
// Asks the program that owns the name to reopen; true when it answered.
bool handOver();

}  // namespace tolvani::SingleInstance

#endif  // TOLVANI_APP_SINGLEINSTANCE_H_
