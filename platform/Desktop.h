// Which desktop the session runs, as the session's variables and its bus tell it. Thread-safety:
// safe for concurrent use (reads the environment; asks the bus synchronously).
#ifndef TOLVANI_PLATFORM_DESKTOP_H_
#define TOLVANI_PLATFORM_DESKTOP_H_

namespace tolvani::platform::desktop {

// GNOME (or a desktop built on it, such as Ubuntu's), which keeps its own list of input sources
// and its own Keyboard settings page; other desktops reach IBus through IBus's own.
bool isGnome();

// Sway serves this session: it names its IPC socket to the programs it starts (SWAYSOCK), or the
// session's variables name it.
bool isSway();

// GNOME Shell serves this session (its name is owned on the session bus). There the shell owns the
// choice of input source: it does not follow an engine set in IBus behind it, so the person
// chooses in its keyboard menu. False when the session bus does not answer.
bool gnomeShellRuns();

// Whether a program owns `name` on the session bus; false when the bus does not answer.
bool sessionNameOwned(const char* name);

// fcitx5 is the session's input-method framework: it owns its name on the session bus (its
// IBus-compatible frontend then answers on IBus's address too), or, while it does not run, the
// session's input-method variables name it, or im-config chose it (~/.xinputrc, else the system's
// /etc/X11/xinit/xinputrc) for the next login. The bus is asked once per process.
bool fcitx5IsFramework();

// KDE Plasma on Wayland whose KWin starts no fcitx5: its kwinrc names no fcitx5 as the input
// method ([Wayland] InputMethod, which System Settings → Virtual Keyboard writes). There KWin
// starts the input method, and Debian's fcitx5 has no autostart entry: choosing "Fcitx 5" there
// starts it, a new login does not.
bool kwinStartsNoFcitx5();

}  // namespace tolvani::platform::desktop

#endif  // TOLVANI_PLATFORM_DESKTOP_H_
