// What the program serving a test's private IBus daemon holds in memory, read from /proc: which
// files it maps and how much of it is resident. For tests and benchmarks that look at the real
// process. Thread-safety: plain reads of /proc; any thread.
#ifndef TOLVANI_IME_TESTING_PROCESSMEMORY_H_
#define TOLVANI_IME_TESTING_PROCESSMEMORY_H_

#include <QString>
#include <QStringList>
#include <map>

#include "ime/testing/IBusDaemonHarness.h"

namespace tolvani::testing {

// The tolvani process that `harness`'s daemon started ("tolvani --ibus" with the daemon's
// folders), or 0 when there is none.
qint64 servingProcess(const IBusDaemonHarness& harness);

// The files mapped into process `pid`, each once, in the order /proc/PID/maps first names them;
// empty when the process is gone.
QStringList mappedFiles(qint64 pid);

// The mapped files whose names start with one of `prefixes` (for instance "libQt6WebEngine"), as
// file names without their folders.
QStringList mappedLibraries(qint64 pid, const QStringList& prefixes);

// Resident size of process `pid` in KiB (VmRSS); -1 when it cannot be read.
long residentKiB(qint64 pid);

// Anonymous resident size of process `pid` in KiB (RssAnon: heaps, stacks and the copied pages of
// mapped files); -1 when it cannot be read.
long anonymousResidentKiB(qint64 pid);

// Resident KiB of process `pid` by mapped file (its full path), and "[anonymous]" for the memory
// that maps no file (heaps, stacks); empty when it cannot be read.
std::map<QString, long> residentKiBByFile(qint64 pid);

// The setup window's process that the program `pid` started ("tolvani --setup-window"), or 0.
qint64 setupWindowProcess(qint64 pid);

// Whether process `pid` runs: it exists and has not ended (a zombie, which only its parent has not
// yet heard of, has ended).
bool isRunning(qint64 pid);

// The processes descended from process `pid` (its children, theirs, and so on) whose program file
// is named `program`, each as "PID command line"; empty when there are none.
QStringList descendants(qint64 pid, const QString& program);

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_PROCESSMEMORY_H_
