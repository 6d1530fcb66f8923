// Where the front end's own statistics and diagnostics files live: the folder the engine keeps
// the learned stores in. Thread-safety: reads the environment afresh at every call.
#ifndef TOLVANI_STATS_USERDATAFOLDER_H_
#define TOLVANI_STATS_USERDATAFOLDER_H_

#include <QString>

#include "platform/Paths.h"

namespace tolvani::stats {

// TOLVANI_DATA_DIR when set and not empty (the engine's own rule), else the desktop's folder.
inline QString userDataFolder() {
  const QString moved = qEnvironmentVariable("TOLVANI_DATA_DIR");
  return moved.isEmpty() ? platform::paths::userDataFolder() : moved;
}

}  // namespace tolvani::stats

#endif  // TOLVANI_STATS_USERDATAFOLDER_H_
