// The setup window's own process, "tolvani --setup-window" (setup/SetupWindow.h): the program
// starts it when the window opens, and it ends when the window closes, taking the web engine and
// its helper processes with it. Requests come a line each on standard input; the process answers on
// standard output, asking the program to open the windows that outlive this one and saying when
// the window closed. The input's end, when the program ends, ends it too. Thread-safety: main
// thread only.
#ifndef TOLVANI_APP_SETUPWINDOWPROCESS_H_
#define TOLVANI_APP_SETUPWINDOWPROCESS_H_

namespace tolvani::SetupWindowProcess {

// Runs the process; its exit status: 0 once the window closed or the program ended, 1 when the
// window could not be shown, 2 when standard input or output is a terminal (a person ran it).
int run(int argc, char** argv);

}  // namespace tolvani::SetupWindowProcess

#endif  // TOLVANI_APP_SETUPWINDOWPROCESS_H_
