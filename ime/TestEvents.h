// The program's lifecycle as tests outside the process read it, whichever framework it serves.
// Thread-safety: main thread only.
#ifndef TOLVANI_IME_TESTEVENTS_H_
#define TOLVANI_IME_TESTEVENTS_H_

#include <QString>

namespace tolvani::TestEvents {

// A test reads the events: TOLVANI_TEST_IBUS_EVENTS names a file.
bool enabled();

// Appends `line` to that file, if any ("controller <context>", "activate <context>", "reopen",
// "fcitx5 connected", ...).
void record(const QString& line);

}  // namespace tolvani::TestEvents

#endif  // TOLVANI_IME_TESTEVENTS_H_
