// Cross-process tests: the test program runs itself again as a child in a named role. A role is a
// function registered with TOLVANI_CHILD_ROLE in a test file; the test main runs it instead of the
// tests when the child's environment names it. Thread-safety: use from a test's thread.
#ifndef TOLVANI_PLATFORM_TESTING_CHILDPROCESS_H_
#define TOLVANI_PLATFORM_TESTING_CHILDPROCESS_H_

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

namespace tolvani::testing {

// A role gets the arguments given to runChild and returns the child's exit code; what it writes
// to standard output goes back to the parent.
using ChildRole = std::function<int(const QStringList& arguments)>;

struct ChildRoleRegistration {
  // A role `withoutApplication` runs before the test main makes its Qt application.
  ChildRoleRegistration(const char* name, ChildRole role, bool withoutApplication = false);
};

#define TOLVANI_CHILD_ROLE(name)                                                       \
  static int childRole_##name(const QStringList& arguments);                           \
  static const ::tolvani::testing::ChildRoleRegistration childRoleRegistration_##name( \
      #name, &childRole_##name);                                                       \
  static int childRole_##name([[maybe_unused]] const QStringList& arguments)

#define TOLVANI_CHILD_ROLE_WITHOUT_APPLICATION(name)                                   \
  static int childRole_##name(const QStringList& arguments);                           \
  static const ::tolvani::testing::ChildRoleRegistration childRoleRegistration_##name( \
      #name, &childRole_##name, true);                                                 \
  static int childRole_##name([[maybe_unused]] const QStringList& arguments)

struct ChildResult {
  int exitCode = -1;  // -1 when the child did not start or did not exit normally
  QByteArray standardOutput;
  QByteArray standardError;
};

// Runs `role` in a new process of this program with the current environment plus `environment`,
// and waits for it (at most two minutes). A `launcher` is a command the program runs through
// (the program's path appended), such as one that changes the user.
ChildResult runChild(const QString& role, const QStringList& arguments = {},
                     const QProcessEnvironment& environment = {}, const QStringList& launcher = {});

// A started child, for tests that run it alongside the parent.
class Child {
 public:
  Child(const QString& role, const QStringList& arguments = {},
        const QProcessEnvironment& environment = {}, const QStringList& launcher = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ChildResult wait();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Used by the test main, before and after it makes the application: runs the role named by the
// environment if it belongs to that moment. Returns true and sets `exitCode` when it ran one.
bool runChildRoleIfAsked(bool applicationExists, int& exitCode);
// True in a process started by runChild or Child.
bool isChild();

}  // namespace tolvani::testing

#endif  // TOLVANI_PLATFORM_TESTING_CHILDPROCESS_H_
