// Qt's X11 plugin ends the process with exit(1) when it finds its display connection broken, as
// it is once the X server ends with the desktop session, and ending a window on a dead connection
// ends it the same way from inside the window's destructor. The watch looks at the connection at a
// higher priority than the plugin's own source, so in the turn of the loop that would run the
// plugin's it calls `leave` instead. Thread-safety: main thread only.
#ifndef TOLVANI_APP_DISPLAYWATCH_H_
#define TOLVANI_APP_DISPLAYWATCH_H_

namespace tolvani::DisplayWatch {

// Watches the application's X connection, if it has one; `leave` must not return. A later call
// changes `leave` only.
void start(void (*leave)());
// True once the watched connection broke.
bool lost();
// The connection may close after this: lost() is false from now on.
void forget();

}  // namespace tolvani::DisplayWatch

#endif  // TOLVANI_APP_DISPLAYWATCH_H_
