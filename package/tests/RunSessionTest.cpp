// How scripts/run finds the desktop session it was started from (scripts/session.sh, sourced and
// run as scripts/run runs it): the user's session bus where a dbus-daemon of the user's listens
// away from /run/user/UID/bus, found through the environment of the shell the script was started
// from or of the user's other programs on the same display; a display whose bus cannot be found
// said as such, never taken for a machine without a desktop. The user is the unprivileged test
// user when the test runs as root.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "ime/testing/TestUser.h"

namespace tolvani {
namespace {

// Display names no real display has, so that no other program of the user matches them.
constexpr char kDisplay[] = ":4242";
constexpr char kOtherDisplay[] = ":4243";
// One of its own for the test of the input-method variables, whose many shells run beside the
// others' (ctest -j) and would lend them their buses.
constexpr char kVariablesDisplay[] = ":4244";

struct Found {
  int status = -1;
  QStringList env;
  QString problem;
  // The session needs `im-config -n ibus` before its programs reach IBus.
  bool lacksIBusVariables = false;
  // fcitx5 is the session's input-method framework.
  bool usesFcitx5 = false;
};

class RunSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.isValid());
    root_ = tree_.path();
    ASSERT_TRUE(QDir().mkpath(root_ + "/elsewhere"));
    ASSERT_TRUE(QDir().mkpath(root_ + "/runtime"));
    testing::giveToTestUser(root_);
    user_ = testing::testUser();
  }
  void TearDown() override {
    for (const qint64 pid : sleepers_) ::kill(static_cast<pid_t>(pid), SIGKILL);
    for (auto& process : processes_) {
      process->kill();
      process->waitForFinished(5000);
    }
  }

  // A session bus of the user's, listening at `socket`; its address.
  QString startBus(const QString& socket) {
    auto bus = std::make_unique<QProcess>();
    testing::startAsTestUser(
        *bus, QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
         QStringLiteral("--print-address=1"), QStringLiteral("--address=unix:path=") + socket});
    QByteArray address;
    while (!address.contains('\n') && bus->waitForReadyRead(10000))
      address += bus->readAllStandardOutput();
    processes_.push_back(std::move(bus));
    return QString::fromUtf8(address).trimmed();
  }

  // A shell of the user's with exactly `variables` in its environment, as a terminal's is, and a
  // child with none, standing for the commands typed in it; the child's process id.
  qint64 startShell(const QStringList& variables) {
    auto shell = std::make_unique<QProcess>();
    testing::startAsTestUser(*shell, QStringLiteral("env"),
                             QStringList{QStringLiteral("-i")} + variables +
                                 QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                                             QStringLiteral("env -i sleep 600 & echo $!; wait")});
    QByteArray pid;
    while (!pid.contains('\n') && shell->waitForReadyRead(10000))
      pid += shell->readAllStandardOutput();
    processes_.push_back(std::move(shell));
    const qint64 sleeper = pid.trimmed().toLongLong();
    if (sleeper > 0) sleepers_.push_back(sleeper);
    return sleeper;
  }

  // find_session for the test user from process `pid`, as scripts/run calls it (with its shell
  // options), with `own` as the environment sudo let through (beside PATH).
  Found find(qint64 pid, const QStringList& own = {}) {
    QProcess finder;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    for (const QString& variable : own)
      env.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    finder.setProcessEnvironment(env);
    finder.start(QStringLiteral("bash"),
                 {QStringLiteral("-c"),
                  QStringLiteral("set -euo pipefail; . \"$0\"; session_runtime_base=$1; s=0; "
                                 "find_session \"$2\" \"$3\" || s=$?; "
                                 "for v in \"${session_env[@]}\"; do echo \"env $v\"; done; "
                                 "printf 'problem %s\\n' \"$session_problem\"; "
                                 "if [ $s -eq 0 ] && session_lacks_ibus_variables; then "
                                 "echo lacks; fi; "
                                 "if [ $s -eq 0 ] && session_uses_fcitx5 \"$2\"; then "
                                 "echo fcitx5; fi; exit $s"),
                  QStringLiteral(TOLVANI_SOURCE_DIR "/scripts/session.sh"), root_ + "/runtime",
                  user_.name, QString::number(pid)});
    Found found;
    if (!finder.waitForFinished(60000)) {
      finder.kill();
      finder.waitForFinished();
      return found;
    }
    found.status = finder.exitCode();
    for (const QString& line :
         QString::fromUtf8(finder.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) {
      if (line.startsWith(QLatin1String("env "))) found.env << line.mid(4);
      if (line.startsWith(QLatin1String("problem "))) found.problem = line.mid(8);
      if (line == QLatin1String("lacks")) found.lacksIBusVariables = true;
      if (line == QLatin1String("fcitx5")) found.usesFcitx5 = true;
    }
    return found;
  }

  QTemporaryDir tree_{QDir::tempPath() + QStringLiteral("/tolvani-session-XXXXXX")};
  QString root_;
  testing::TestUser user_;
  std::vector<std::unique_ptr<QProcess>> processes_;
  std::vector<qint64> sleepers_;
};

TEST_F(RunSessionTest, BusAwayFromTheRuntimeFolderIsFoundThroughTheStartingShell) {
  const QString bus = startBus(root_ + "/elsewhere/bus");
  ASSERT_TRUE(bus.startsWith(QLatin1String("unix:path="))) << bus.toStdString();
  const QString display = QStringLiteral("DISPLAY=") + kDisplay;
  const qint64 typed =
      startShell({display, "XDG_CURRENT_DESKTOP=XFCE", "DBUS_SESSION_BUS_ADDRESS=" + bus});
  ASSERT_GT(typed, 0);

  // Started from that shell, with nothing let through.
  Found found = find(typed);
  EXPECT_EQ(found.status, 0) << found.problem.toStdString();
  EXPECT_TRUE(found.env.contains(display)) << found.env.join(u' ').toStdString();
  EXPECT_TRUE(found.env.contains("XDG_CURRENT_DESKTOP=XFCE"));
  EXPECT_TRUE(found.env.contains("DBUS_SESSION_BUS_ADDRESS=" + bus));

  // Started elsewhere, with the display that sudo keeps: the user's programs on that display
  // know the bus.
  found = find(1, {display});
  EXPECT_EQ(found.status, 0) << found.problem.toStdString();
  EXPECT_TRUE(found.env.contains("DBUS_SESSION_BUS_ADDRESS=" + bus))
      << found.env.join(u' ').toStdString();

  // A Wayland session's display counts as one.
  const qint64 wayland =
      startShell({"WAYLAND_DISPLAY=wayland-tolvani-test", "DBUS_SESSION_BUS_ADDRESS=" + bus});
  found = find(wayland);
  EXPECT_EQ(found.status, 0) << found.problem.toStdString();
  EXPECT_TRUE(found.env.contains("WAYLAND_DISPLAY=wayland-tolvani-test"));
}

// Xfce, MATE and the like connect programs to IBus only through the session's input-method
// variables; the success message must say how to set them, and GNOME needs none.
TEST_F(RunSessionTest, ASessionWithoutTheInputMethodVariablesIsTold) {
  const QString bus = startBus(root_ + "/elsewhere/bus");
  const QString display = QStringLiteral("DISPLAY=") + kVariablesDisplay;
  const QStringList ibus{"GTK_IM_MODULE=ibus", "QT_IM_MODULE=ibus", "XMODIFIERS=@im=ibus"};
  struct Row {
    QString desktop;
    QStringList variables;
    bool lacks;
  };
  const Row rows[] = {
      {"XFCE", {}, true},
      {"XFCE", ibus, false},
      {"MATE", {"GTK_IM_MODULE=ibus", "QT_IM_MODULE=ibus"}, true},
      {"KDE", {"GTK_IM_MODULE=ibus", "QT_IM_MODULE=fcitx", "XMODIFIERS=@im=ibus"}, true},
      {"GNOME", {}, false},
      {"ubuntu:GNOME", {}, false},
      {"", {}, true},
  };
  for (const Row& row : rows) {
    QStringList shell{display, "DBUS_SESSION_BUS_ADDRESS=" + bus};
    if (!row.desktop.isEmpty()) shell << "XDG_CURRENT_DESKTOP=" + row.desktop;
    const qint64 typed = startShell(shell + row.variables);
    ASSERT_GT(typed, 0);
    const Found found = find(typed);
    const std::string name = (row.desktop + u' ' + row.variables.join(u' ')).toStdString();
    EXPECT_EQ(found.status, 0) << name << ": " << found.problem.toStdString();
    EXPECT_EQ(found.lacksIBusVariables, row.lacks) << name;
  }
}

// Where fcitx5 is the framework, scripts/run installs its addon's package too: fcitx5 runs on the
// session's bus (whatever the variables say), or the variables name it before IBus.
TEST_F(RunSessionTest, AnFcitx5SessionIsToldByItsVariablesOrItsNameOnTheBus) {
  const QString bus = startBus(root_ + "/elsewhere/bus");
  const QString display = QStringLiteral("DISPLAY=") + kVariablesDisplay;
  struct Row {
    QStringList variables;
    bool fcitx5;
  };
  const Row rows[] = {
      {{}, false},
      {{"GTK_IM_MODULE=fcitx", "QT_IM_MODULE=fcitx", "XMODIFIERS=@im=fcitx"}, true},
      {{"XMODIFIERS=@im=fcitx"}, true},
      {{"GTK_IM_MODULE=ibus", "QT_IM_MODULE=fcitx"}, false},
      {{"GTK_IM_MODULE=ibus", "QT_IM_MODULE=ibus", "XMODIFIERS=@im=ibus"}, false},
  };
  const auto check = [&](const Row& row, bool expected) {
    const qint64 typed =
        startShell(QStringList{display, "DBUS_SESSION_BUS_ADDRESS=" + bus} + row.variables);
    ASSERT_GT(typed, 0);
    const Found found = find(typed);
    EXPECT_EQ(found.status, 0) << found.problem.toStdString();
    EXPECT_EQ(found.usesFcitx5, expected) << row.variables.join(u' ').toStdString();
  };
  for (const Row& row : rows) check(row, row.fcitx5);

  // A program owning fcitx5's name on the bus, as fcitx5 does while it runs.
  auto owner = std::make_unique<QProcess>();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
  owner->setProcessEnvironment(env);
  testing::startAsTestUser(
      *owner, QStringLiteral("/usr/bin/python3"),
      {QStringLiteral("-c"),
       QStringLiteral("from gi.repository import Gio, GLib\n"
                      "def owned(*_): print('owned', flush=True)\n"
                      "Gio.bus_own_name(Gio.BusType.SESSION, 'org.fcitx.Fcitx5', 0, None, "
                      "owned, None)\nGLib.MainLoop().run()\n")});
  QByteArray said;
  while (!said.contains("owned") && owner->waitForReadyRead(10000))
    said += owner->readAllStandardOutput();
  ASSERT_TRUE(said.contains("owned"));
  processes_.push_back(std::move(owner));
  for (const Row& row : rows) check(row, true);
}

TEST_F(RunSessionTest, DisplayWithoutABusIsSaidAndNoDisplayIsNoDesktop) {
  const QString bus = startBus(root_ + "/elsewhere/bus");
  // The bus variable names a bus that is gone (a session that ended, another user's).
  const QString other = QStringLiteral("DISPLAY=") + kOtherDisplay;
  const qint64 stale =
      startShell({other, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + root_ + "/elsewhere/gone"});
  Found found = find(stale);
  EXPECT_EQ(found.status, 2);
  EXPECT_EQ(found.problem, QStringLiteral("the display %1 is set, but no session bus of %2 that "
                                          "answers was found")
                               .arg(kOtherDisplay, user_.name));
  // sudo kept the display, and nothing anywhere names a bus.
  found = find(1, {other});
  EXPECT_EQ(found.status, 2);
  // A bus of the superuser's that sudo let through does not answer the user.
  if (testing::runsAsOtherUser()) {
    QProcess rootBus;
    rootBus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1"),
                   QStringLiteral("--address=unix:path=") + root_ + "/root-bus"});
    QByteArray address;
    while (!address.contains('\n') && rootBus.waitForReadyRead(10000))
      address += rootBus.readAllStandardOutput();
    found = find(1, {other, "DBUS_SESSION_BUS_ADDRESS=" + QString::fromUtf8(address).trimmed()});
    EXPECT_EQ(found.status, 2);
    rootBus.kill();
    rootBus.waitForFinished();
  }

  // A bus, but no display: a login without a desktop (ssh, a console).
  const qint64 console = startShell({"DBUS_SESSION_BUS_ADDRESS=" + bus});
  found = find(console);
  EXPECT_EQ(found.status, 1) << found.problem.toStdString();
  EXPECT_TRUE(found.env.isEmpty());
}

}  // namespace
}  // namespace tolvani
