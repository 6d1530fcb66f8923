// Which desktop the session runs, as the session's variables tell it. Thread-safety: safe for
// concurrent use (reads the environment).
#ifndef TOLVANI_PLATFORM_DESKTOP_H_
#define TOLVANI_PLATFORM_DESKTOP_H_

namespace tolvani::platform::desktop {

// GNOME (or a desktop built on it, such as Ubuntu's), which keeps its own list of input sources
// and its own Keyboard settings page; other desktops reach IBus through IBus's own.
bool isGnome();

}  // namespace tolvani::platform::desktop

#endif  // TOLVANI_PLATFORM_DESKTOP_H_
