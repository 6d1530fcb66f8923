// The ordinary user the user's side of a test runs as. Tests run as root on CI, while the
// programs under test act for a desktop user and refuse the superuser: there, the child processes
// of a test are dropped to the unprivileged account "nobody" and the folders they use are given
// to it; run by anyone else, everything stays as it is. Thread-safety: any thread.
#ifndef TOLVANI_IME_TESTING_TESTUSER_H_
#define TOLVANI_IME_TESTING_TESTUSER_H_

#include <sys/types.h>

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tolvani::testing {

struct TestUser {
  uid_t uid;
  gid_t gid;
  QString name;
  QString home;
};

// "nobody" when this process runs as root; the current user otherwise.
TestUser testUser();
// True when the children must be dropped to the test user: this process is root.
bool runsAsOtherUser();
// `command` run as the test user, with no supplementary groups and no capabilities left; the
// environment is the caller's to give. Unchanged when not root.
QStringList asTestUser(const QStringList& command);
// Hands the tree at `path` to the test user and lets it reach the tree through every folder
// above it (traversal only, nothing listed or written). Nothing when not root.
void giveToTestUser(const QString& path);
// Lets the test user reach `path` (a program or data of the build tree, say): every folder above
// it becomes traversable (nothing listed or written). Nothing when not root.
void letTestUserReach(const QString& path);
// Starts `program` with `arguments` as the test user, with the process's environment and
// channels as set on it.
void startAsTestUser(QProcess& process, const QString& program, const QStringList& arguments);

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_TESTUSER_H_
