#include "ime/testing/TestUser.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <optional>
#include <vector>

namespace tolvani::testing {

namespace {

constexpr char kUnprivilegedAccount[] = "nobody";

std::optional<TestUser> account(const passwd* entry) {
  if (entry == nullptr) return std::nullopt;
  return TestUser{entry->pw_uid, entry->pw_gid, QString::fromLocal8Bit(entry->pw_name),
                  QString::fromLocal8Bit(entry->pw_dir)};
}

std::optional<TestUser> lookUp(const char* name, uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (name != nullptr)
    ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found);
  else
    ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
  return account(found);
}

}  // namespace

bool runsAsOtherUser() { return ::geteuid() == 0; }

TestUser testUser() {
  if (runsAsOtherUser()) {
    // Every Debian system has the account; its ids are Debian's fixed ones.
    return lookUp(kUnprivilegedAccount, 0)
        .value_or(TestUser{65534, 65534, QString::fromLatin1(kUnprivilegedAccount),
                           QStringLiteral("/nonexistent")});
  }
  return lookUp(nullptr, ::getuid())
      .value_or(TestUser{::getuid(), ::getgid(), QString(), qEnvironmentVariable("HOME")});
}

QStringList asTestUser(const QStringList& command) {
  if (!runsAsOtherUser()) return command;
  const TestUser user = testUser();
  // Changing every user id clears the permitted and effective capabilities; the inheritable ones
  // would survive an exec of a program with file capabilities, so they go too.
  return QStringList{QStringLiteral("setpriv"),
                     QStringLiteral("--reuid=%1").arg(user.uid),
                     QStringLiteral("--regid=%1").arg(user.gid),
                     QStringLiteral("--clear-groups"),
                     QStringLiteral("--inh-caps=-all"),
                     QStringLiteral("--")} +
         command;
}

void giveToTestUser(const QString& path) {
  if (!runsAsOtherUser()) return;
  const TestUser user = testUser();
  const auto give = [&](const QString& file) {
    ::lchown(QFile::encodeName(file).constData(), user.uid, user.gid);
  };
  give(path);
  QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) give(it.next());
  letTestUserReach(path);
}

void letTestUserReach(const QString& path) {
  if (!runsAsOtherUser()) return;
  // The test user passes through the folders above as "others" (root's private temporary folder
  // of a test program or root's home among them). Sticky and other bits stay as they are.
  QString folder = QFileInfo(path).absolutePath();
  for (;;) {
    const QByteArray name = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(name.constData(), &info) == 0 && (info.st_mode & S_IXOTH) == 0)
      ::chmod(name.constData(), (info.st_mode & 07777) | S_IXOTH);
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent == folder) break;
    folder = parent;
  }
}

void startAsTestUser(QProcess& process, const QString& program, const QStringList& arguments) {
  const QStringList command = asTestUser(QStringList{program} + arguments);
  process.start(command.first(), command.mid(1));
}

}  // namespace tolvani::testing
