// Which desktop the session runs, as the session's variables and its bus tell it. Thread-safety:
// safe for concurrent use (reads the environment; asks the bus synchronously).
#ifndef TOLVANI_PLATFORM_DESKTOP_H_
#define TOLVANI_PLATFORM_DESKTOP_H_

namespace tolvani::platform::desktop {

// GNOME (or a desktop built on it, such as Ubuntu's), which keeps its own list of input sources
// and its own Keyboard settings page; other desktops reach IBus through IBus's own.
bool isGnome();

// GNOME Shell serves this session (its name is owned on the session bus). There the shell owns the
// choice of input source: it does not follow an engine set in IBus behind it, so the person
// chooses in its keyboard menu. False when the session bus does not answer.
bool gnomeShellRuns();

// Whether a program owns `name` on the session bus; false when the bus does not answer.
bool sessionNameOwned(const char* name);

}  // namespace tolvani::platform::desktop

#endif  // TOLVANI_PLATFORM_DESKTOP_H_
