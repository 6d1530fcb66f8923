// The user the user's side of a test runs as: a child started through the utility really runs
// with that user's ids and no privileges, writes into a tree given to it and nowhere of root's.
#include "ime/testing/TestUser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace tolvani::testing {
namespace {

struct ChildRun {
  int exitCode = -1;
  QString output;
};

ChildRun runAsTestUser(const QString& program, const QStringList& arguments) {
  QProcess process;
  startAsTestUser(process, program, arguments);
  ChildRun run;
  if (!process.waitForFinished(10000)) return run;
  run.output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  if (process.exitStatus() == QProcess::NormalExit) run.exitCode = process.exitCode();
  return run;
}

TEST(TestUserTest, ChildRunsAsTheTestUserAndWritesOnlyIntoItsTree) {
  const TestUser user = testUser();
  EXPECT_EQ(runsAsOtherUser(), ::geteuid() == 0);
  if (runsAsOtherUser()) {
    EXPECT_NE(user.uid, 0u);
    EXPECT_NE(user.gid, 0u);
    EXPECT_EQ(user.name, QStringLiteral("nobody"));
  } else {
    EXPECT_EQ(user.uid, ::getuid());
    EXPECT_EQ(asTestUser({QStringLiteral("id")}), QStringList{QStringLiteral("id")});
  }

  // Real and effective ids, and the groups: the test user's own group and nothing of root's.
  const ChildRun ids = runAsTestUser(
      QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("id -ru; id -u; id -rg; id -g")});
  ASSERT_EQ(ids.exitCode, 0);
  EXPECT_EQ(ids.output, QStringLiteral("%1\n%1\n%2\n%2").arg(user.uid).arg(user.gid));
  if (runsAsOtherUser()) {
    const ChildRun groups = runAsTestUser(QStringLiteral("id"), {QStringLiteral("-G")});
    EXPECT_EQ(groups.output, QString::number(user.gid));
    const ChildRun capabilities = runAsTestUser(
        QStringLiteral("grep"), {QStringLiteral("-E"), QStringLiteral("^Cap(Inh|Prm|Eff|Amb)"),
                                 QStringLiteral("/proc/self/status")});
    ASSERT_EQ(capabilities.exitCode, 0);
    for (const QString& line : capabilities.output.split(u'\n'))
      EXPECT_TRUE(line.endsWith(QStringLiteral("0000000000000000"))) << line.toStdString();
  }

  // A tree inside a private folder of this process's: given to the test user, it is reachable
  // and writable at any depth; its private neighbour is not.
  QTemporaryDir privateFolder;
  ASSERT_TRUE(privateFolder.isValid());
  const QString tree = privateFolder.path() + QStringLiteral("/tree");
  const QString neighbour = privateFolder.path() + QStringLiteral("/neighbour");
  ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/deep/deeper")));
  ASSERT_TRUE(QDir().mkpath(neighbour));
  QFile::setPermissions(neighbour, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  if (!runsAsOtherUser()) {
    // The owner may write anywhere of its own: a folder without write access stands in.
    QFile::setPermissions(neighbour, QFile::ReadOwner | QFile::ExeOwner);
  }
  giveToTestUser(tree);
  const QString write = QStringLiteral("echo written > \"$1\"");
  const QString deepFile = tree + QStringLiteral("/deep/deeper/file");
  EXPECT_EQ(runAsTestUser(QStringLiteral("sh"),
                          {QStringLiteral("-c"), write, QStringLiteral("sh"), deepFile})
                .exitCode,
            0);
  QFile written(deepFile);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), QByteArray("written\n"));
  EXPECT_NE(runAsTestUser(QStringLiteral("sh"), {QStringLiteral("-c"), write, QStringLiteral("sh"),
                                                 neighbour + QStringLiteral("/file")})
                .exitCode,
            0);
  EXPECT_FALSE(QFile::exists(neighbour + QStringLiteral("/file")));
  // Made by the child, owned by the test user.
  EXPECT_EQ(QFileInfo(deepFile).ownerId(), user.uid);
  QFile::setPermissions(neighbour, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  // A program of root's in a private folder: reachable when let, yet the folder stays unlisted.
  QTemporaryDir programs;
  ASSERT_TRUE(programs.isValid());
  const QString script = programs.path() + QStringLiteral("/inner/tool.sh");
  ASSERT_TRUE(QDir().mkpath(programs.path() + QStringLiteral("/inner")));
  QFile tool(script);
  ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
  tool.write("#!/bin/sh\necho reached\n");
  tool.close();
  ASSERT_TRUE(tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                  QFile::ReadOther | QFile::ExeOther));
  if (runsAsOtherUser()) {
    EXPECT_NE(runAsTestUser(script, {}).output, QStringLiteral("reached"));
  }
  letTestUserReach(script);
  EXPECT_EQ(runAsTestUser(script, {}).output, QStringLiteral("reached"));
  if (runsAsOtherUser()) {
    EXPECT_NE(runAsTestUser(QStringLiteral("ls"), {programs.path()}).exitCode, 0);
  }
}

}  // namespace
}  // namespace tolvani::testing
