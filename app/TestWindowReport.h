// For tests that drive the program from outside through X events: when TOLVANI_TEST_WINDOWS names
// a file, the program rewrites it a few times a second with what its shown windows hold: each
// window's X id, each widget with its object name, text and place on the screen, the rows of item
// views that are in sight with their places, the candidate panel's rows and the guide page's
// buttons and texts. Nothing is read back. Thread-safety: main thread only.
#ifndef TOLVANI_APP_TESTWINDOWREPORT_H_
#define TOLVANI_APP_TESTWINDOWREPORT_H_

#include <QString>
#include <functional>

namespace tolvani::TestWindowReport {

// Starts the reports when the variable is set; does nothing otherwise. The setup window's process
// reports its windows to the program (SetupWindow::testReport()), which writes them with its own.
void startIfRequested();
// In the setup window's process: hands `send` this process's report instead of writing it.
void forwardIfRequested(std::function<void(const QString& lines)> send);

}  // namespace tolvani::TestWindowReport

#endif  // TOLVANI_APP_TESTWINDOWREPORT_H_
