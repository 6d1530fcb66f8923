// The XDG folders of the Linux desktop and the user-data folder that the engine and the front end
// share. Thread-safety: every function may be called on any thread; each reads the environment
// afresh, so a test may move a folder by setting its variable.
#ifndef TOLVANI_PLATFORM_PATHS_H_
#define TOLVANI_PLATFORM_PATHS_H_

#include <QString>

namespace tolvani::platform::paths {

// $XDG_CONFIG_HOME when set to an absolute path, else $HOME/.config.
QString configHome();
// $XDG_DATA_HOME when set to an absolute path, else $HOME/.local/share.
QString dataHome();
// $XDG_CACHE_HOME when set to an absolute path, else $HOME/.cache.
QString cacheHome();
// $XDG_RUNTIME_DIR when set to an absolute path, else a folder of this user's in the temporary
// folder.
QString runtimeDir();
// dataHome() + "/tolvani". Never creates it.
QString userDataFolder();

}  // namespace tolvani::platform::paths

#endif  // TOLVANI_PLATFORM_PATHS_H_
