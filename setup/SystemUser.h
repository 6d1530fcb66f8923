// Who runs the program: the operations that change the desktop's input sources refuse the
// superuser. Tests running as root set an ordinary user id here, or, for a child process, in the
// environment variable TOLVANI_TEST_USER_ID. Thread-safety: safe for concurrent reads; the test
// setter is for a test's setup.
#ifndef TOLVANI_SETUP_SYSTEMUSER_H_
#define TOLVANI_SETUP_SYSTEMUSER_H_

#include <sys/types.h>

#include <optional>

namespace tolvani::systemuser {

// The real user id, or the one a test set.
uid_t id();
inline bool isSuperuser() { return id() == 0; }

// With nullopt, the real id again (or the environment's).
void testSetId(std::optional<uid_t> id);

}  // namespace tolvani::systemuser

#endif  // TOLVANI_SETUP_SYSTEMUSER_H_
