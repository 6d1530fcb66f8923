// scripts/run answers odd input before it installs or builds anything (a TEXT that is not one line
// of printable ASCII, an option, more standard input than any try), and reads standard input only
// where it types it, saying what it waits for while that input stays silent; its long build shows
// its progress on standard error, which the try's output never carries. The script runs in a tree
// of its own whose setup only leaves a mark and whose session finder answers as told; the build's,
// packaging's and apt's tools are stand-ins on the path.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <tuple>

#include "ime/testing/TestUser.h"

namespace tolvani {
namespace {

// find_session's answers (scripts/session.sh).
constexpr int kDesktop = 0;
constexpr int kNoDesktop = 1;

class RunScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.isValid());
    scripts_ = tree_.path() + "/scripts";
    ASSERT_TRUE(QDir().mkpath(scripts_));
    ASSERT_TRUE(QFile::copy(TOLVANI_SOURCE_DIR "/scripts/run", scripts_ + "/run"));
    ASSERT_TRUE(QFile::copy(TOLVANI_SOURCE_DIR "/scripts/progress.sh", scripts_ + "/progress.sh"));
    write("setup", "#!/bin/sh\ntouch \"$(dirname \"$0\")/setup-ran\"\nexit 1\n");
    write("session.sh", "find_session() { return \"$TOLVANI_TEST_SESSION\"; }\n");
  }

  void write(const QString& name, const QByteArray& content) {
    writeAt(scripts_ + '/' + name, content);
  }
  void writeAt(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  }

  // Starts scripts/run with its output and errors merged; `session` is find_session's answer.
  void start(QProcess& run, const QStringList& arguments, int session = kNoDesktop) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TOLVANI_TEST_SESSION"), QString::number(session));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(scripts_ + "/run", arguments);
  }

  bool setupRan() const { return QFile::exists(scripts_ + "/setup-ran"); }

  // Stand-ins for the tools after setup: a build of 800 steps whose ninja says a note besides its
  // status lines (fails when TOLVANI_TEST_BUILD_FAILS is set, and after its 400th step goes silent
  // until the file TOLVANI_TEST_GO_ON names exists, when that is set), a package, apt, and the try,
  // which prints what it was given to type. Returns the folder to put first on the path.
  QString standIns() {
    write("setup", "#!/bin/sh\nexit 0\n");
    const QString bin = tree_.path() + "/bin";
    EXPECT_TRUE(QDir().mkpath(bin) && QDir().mkpath(tree_.path() + "/build/ime"));
    writeAt(
        bin + "/cmake",
        "#!/bin/sh\n"
        "[ \"$1\" = --build ] || exit 0\n"
        "[ \"$NINJA_STATUS\" = '[%f/%t] ' ] || { echo \"NINJA_STATUS=$NINJA_STATUS\"; exit 3; }\n"
        "i=1\n"
        "while [ $i -le 800 ]; do\n"
        "  echo \"[$i/800] Building CXX object o$i.o\"\n"
        // One long step, silent until the test lets it end; the start of its line written.
        "  if [ $i = 400 ] && [ -n \"$TOLVANI_TEST_GO_ON\" ]; then\n"
        "    printf '[401/800] Linking'\n"
        "    while [ ! -e \"$TOLVANI_TEST_GO_ON\" ]; do sleep 0.1; done\n"
        "    echo ' CXX executable tolvani'\n"
        "    i=401\n"
        "  fi\n"
        "  i=$((i+1))\n"
        "done\n"
        "echo 'note: a line of the compiler'\n"
        "[ -z \"$TOLVANI_TEST_BUILD_FAILS\" ] || { echo 'error: o800.cpp'; exit 1; }\n");
    writeAt(
        bin + "/cpack",
        "#!/bin/sh\ntouch tolvani_1_amd64.deb tolvani-ibus_1_all.deb tolvani-fcitx5_1_amd64.deb\n");
    writeAt(bin + "/apt-get",
            "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/apt.log\"\n"
            "echo 'pmstatus:tolvani:50.0000:Installing tolvani'\n");
    writeAt(bin + "/sudo", "#!/bin/sh\nexec \"$@\"\n");
    writeAt(tree_.path() + "/build/ime/tolvani-try",
            "#!/bin/sh\nwhile IFS= read -r line; do echo \"typed: $line\"; done\n");
    return bin;
  }

  QTemporaryDir tree_;
  QString scripts_;
};

TEST_F(RunScriptTest, OddInputIsAnsweredBeforeSetup) {
  struct Row {
    QStringList arguments;
    QByteArray input;
    int status;
    QString said;
  };
  const QString untypable = QStringLiteral("run: only printable ASCII is typed as keys");
  const QString unknown = QStringLiteral("run: unknown option ");
  const Row rows[] = {
      {{"ami\n\u0986\u09AE\u09BF"}, {}, 2, untypable},
      {{"ami\ttumi"}, {}, 2, untypable},
      {{"ami \u09AD\u09BE\u09B2\u09CB achi"}, {}, 2, untypable},
      {{" ", " "}, {}, 2, "run: nothing to type"},
      {{}, "ami\nkemon \xe0\xa6\x86\xe0\xa6\x9b\n", 2, untypable},
      {{}, QByteArray("a\n").repeated(1001), 2, "run: standard input is longer than a try types"},
      {{"-x"}, {}, 2, unknown + "-x"},
      {{"ami", "--tumi"}, {}, 2, unknown + "--tumi"},
      {{"--help"}, {}, 0, "Installs Tolvani"},
      {{"-h"}, {}, 0, "Installs Tolvani"},
  };
  for (const Row& row : rows) {
    QFile::remove(scripts_ + "/setup-ran");
    QProcess run;
    start(run, row.arguments);
    run.write(row.input);
    run.closeWriteChannel();
    ASSERT_TRUE(run.waitForFinished(60000));
    const QString said = QString::fromUtf8(run.readAll());
    const std::string name = row.arguments.join(u'|').toStdString() + " <" +
                             row.input.left(20).toStdString() + ">: " + said.toStdString();
    EXPECT_EQ(run.exitCode(), row.status) << name;
    EXPECT_TRUE(said.startsWith(row.said)) << name;
    EXPECT_FALSE(setupRan()) << name;
  }
  // After --, a leading dash is text to type.
  QProcess run;
  start(run, {"--", "-x"});
  ASSERT_TRUE(run.waitForFinished(60000));
  EXPECT_TRUE(setupRan()) << run.readAll().toStdString();
}

// On a newcomer's first run, "run: building" was followed by 7 minutes of silence. The build says
// how long it usually takes and then shows its progress: as a few plain lines where standard error
// is not a terminal, on one redrawn line where it is; the try's output alone is on standard output.
TEST_F(RunScriptTest, TheBuildShowsItsProgressBesideTheTrysOutput) {
  const QString bin = standIns();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TOLVANI_TEST_SESSION", QString::number(kNoDesktop));
  env.insert("PATH", bin + ':' + env.value("PATH"));
  env.remove("SUDO_USER");
  const auto run = [&](const QProcessEnvironment& with) {
    QProcess process;
    process.setProcessEnvironment(with);
    process.start(scripts_ + "/run", {"ami"});
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60000));
    return std::tuple{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                      QString::fromUtf8(process.readAllStandardError())};
  };

  const auto [status, out, err] = run(env);
  EXPECT_EQ(status, 0) << err.toStdString();
  EXPECT_EQ(out.toStdString(), "typed: ami\n");
  EXPECT_TRUE(err.contains("run: building (about 5 minutes on 2 cores")) << err.toStdString();
  EXPECT_TRUE(err.contains("run: packaging (about ")) << err.toStdString();
  const QStringList progress = err.split('\n').filter(QStringLiteral("run: building: "));
  EXPECT_GE(progress.size(), 5) << err.toStdString();
  EXPECT_LE(progress.size(), 12) << err.toStdString();
  EXPECT_EQ(progress.value(progress.size() - 1), "run: building: 800 of 800") << err.toStdString();
  EXPECT_FALSE(err.contains("note: a line of the compiler")) << err.toStdString();
  // The try types through IBus: the IBus face is installed, not fcitx5's.
  QFile log(bin + "/apt.log");
  const QString installed = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : "";
  EXPECT_TRUE(installed.contains("tolvani-ibus_1_all.deb")) << installed.toStdString();
  EXPECT_FALSE(installed.contains("tolvani-fcitx5")) << installed.toStdString();

  // A failed build shows what its tools said.
  QProcessEnvironment failing = env;
  failing.insert("TOLVANI_TEST_BUILD_FAILS", "1");
  const auto [failed, nothing, why] = run(failing);
  EXPECT_NE(failed, 0);
  EXPECT_EQ(nothing.toStdString(), "");
  EXPECT_TRUE(why.contains("error: o800.cpp")) << why.toStdString();
  EXPECT_TRUE(why.contains("run: the build failed")) << why.toStdString();

  // On a terminal, one line redrawn in place.
  QProcess terminal;
  terminal.setProcessEnvironment(env);
  terminal.start("script", {"-qec", scripts_ + "/run ami", "/dev/null"});
  terminal.closeWriteChannel();
  ASSERT_TRUE(terminal.waitForFinished(60000));
  const QString shown = QString::fromUtf8(terminal.readAll());
  EXPECT_TRUE(shown.contains("\r\033[Krun: building: 400 of 800\r\033[Krun: building: 401 of 800"))
      << shown.toStdString();
  EXPECT_TRUE(shown.contains("run: building: 800 of 800\r\n")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("typed: ami")) << shown.toStdString();
}

// A fresh clone on 2 cores sat silent for 34 s while one long step of the build ran. Where
// standard error is not a terminal a line comes whenever the build has been silent for a while
// (a second here), until the step ends; on a terminal the one line stays as it was.
TEST_F(RunScriptTest, ALongSilentStepIsToldWhileItLasts) {
  const QString bin = standIns();
  const QString goOn = tree_.path() + "/go-on";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TOLVANI_TEST_SESSION", QString::number(kNoDesktop));
  env.insert("PATH", bin + ':' + env.value("PATH"));
  env.insert("TOLVANI_TEST_GO_ON", goOn);
  env.insert("PROGRESS_EVERY", "1");
  env.remove("SUDO_USER");

  QProcess run;
  run.setProcessEnvironment(env);
  run.start(scripts_ + "/run", {"ami"});
  run.closeWriteChannel();
  QString err;
  const QString still = QStringLiteral("run: building: 400 of 800, still at work (");
  const QDeadlineTimer deadline(30000);
  while (err.count(still) < 3 && run.state() != QProcess::NotRunning && !deadline.hasExpired()) {
    run.waitForReadyRead(100);
    err += QString::fromUtf8(run.readAllStandardError());
  }
  EXPECT_GE(err.count(still), 3) << err.toStdString();
  writeAt(goOn, "");
  ASSERT_TRUE(run.waitForFinished(60000));
  err += QString::fromUtf8(run.readAllStandardError());
  EXPECT_EQ(run.exitCode(), 0) << err.toStdString();
  EXPECT_EQ(QString::fromUtf8(run.readAllStandardOutput()).toStdString(), "typed: ami\n");
  const QStringList progress = err.split('\n').filter(QStringLiteral("run: building: "));
  EXPECT_EQ(progress.value(progress.size() - 1), "run: building: 800 of 800") << err.toStdString();

  QFile::remove(goOn);
  QProcess terminal;
  terminal.setProcessEnvironment(env);
  terminal.start("script", {"-qec", scripts_ + "/run ami", "/dev/null"});
  terminal.closeWriteChannel();
  QString shown;
  while (!shown.contains("400 of 800") && terminal.state() != QProcess::NotRunning &&
         terminal.waitForReadyRead(30000))
    shown += QString::fromUtf8(terminal.readAll());
  // Silent for a few of its seconds.
  QThread::msleep(3000);
  writeAt(goOn, "");
  ASSERT_TRUE(terminal.waitForFinished(60000));
  shown += QString::fromUtf8(terminal.readAll());
  // The long step's line, cut by the silence, is read whole.
  EXPECT_TRUE(shown.contains("\r\033[Krun: building: 400 of 800\r\033[Krun: building: 401 of 800"))
      << shown.toStdString();
  EXPECT_FALSE(shown.contains("still at work")) << shown.toStdString();
}

// On a desktop the script installed the fcitx5 addon nowhere, and built and packaged before it
// configured. Where fcitx5 is the framework both packages are installed, elsewhere only the IBus
// one; the installed program (a stand-in reached through `env`, as the script calls it) enables
// Tolvani as the desktop user in the session.
TEST_F(RunScriptTest, OnADesktopTheFcitx5AddonIsInstalledWhereFcitx5IsTheFramework) {
  const QString bin = standIns();
  write("session.sh",
        "find_session() { session_env=(DISPLAY=:4250 DBUS_SESSION_BUS_ADDRESS=unix:path=/x); }\n"
        "session_uses_fcitx5() { [ \"$1\" = \"$TOLVANI_TEST_USER\" ] && "
        "[ -n \"${TOLVANI_TEST_FCITX5:-}\" ]; }\n"
        "session_lacks_ibus_variables() { return 1; }\n");
  writeAt(bin + "/env",
          "#!/bin/sh\ncase \" $* \" in *' /usr/bin/tolvani '*)\n"
          "  echo \"$(id -un) $*\" >> \"$(dirname \"$0\")/tolvani.log\"; exit 0;;\nesac\n"
          "exec /usr/bin/env \"$@\"\n");
  testing::giveToTestUser(tree_.path());
  const QString user = testing::testUser().name;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TOLVANI_TEST_USER", user);
  env.insert("PATH", bin + ':' + env.value("PATH"));
  env.remove("SUDO_USER");
  if (testing::runsAsOtherUser()) env.insert("SUDO_USER", user);
  const auto taken = [&](const char* name) {
    QFile file(bin + '/' + QLatin1String(name));
    const QString lines = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "";
    file.remove();
    return lines;
  };
  for (const bool fcitx5 : {true, false}) {
    SCOPED_TRACE(fcitx5);
    if (fcitx5) env.insert("TOLVANI_TEST_FCITX5", "1");
    if (!fcitx5) env.remove("TOLVANI_TEST_FCITX5");
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(scripts_ + "/run", {});
    run.closeWriteChannel();
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    EXPECT_TRUE(run.readAllStandardOutput().contains("Its setup window opens from"));
    const QString installed = taken("apt.log");
    EXPECT_TRUE(installed.contains(tree_.path() + "/build/tolvani_1_amd64.deb"));
    EXPECT_EQ(installed.contains("tolvani-fcitx5_1_amd64.deb"), fcitx5) << installed.toStdString();
    // The IBus face, and IBus with it, only where IBus is the framework.
    EXPECT_EQ(installed.contains("tolvani-ibus_1_all.deb"), !fcitx5) << installed.toStdString();
    // Under IBus the state is read after it.
    EXPECT_EQ(taken("tolvani.log").section('\n', 0, 0).toStdString(),
              (user + " DISPLAY=:4250 DBUS_SESSION_BUS_ADDRESS=unix:path=/x /usr/bin/tolvani "
                      "--enable-input-source --select-input-source")
                  .toStdString());
  }
}

// `yes | scripts/run` read its input without end and grew without bound, printing nothing.
TEST_F(RunScriptTest, EndlessInputIsRefusedBeforeSetup) {
  QProcess yes;
  QProcess run;
  yes.setStandardOutputProcess(&run);
  start(run, {});
  yes.start(QStringLiteral("yes"), {});
  ASSERT_TRUE(run.waitForFinished(60000));
  EXPECT_EQ(run.exitCode(), 2);
  EXPECT_TRUE(run.readAll().startsWith("run: standard input is longer than a try types"));
  EXPECT_FALSE(setupRan());
}

// `sleep 50 | scripts/run` sat silent; on a desktop, where nothing is typed, it must not wait.
TEST_F(RunScriptTest, OpenInputIsReadOnlyWithoutADesktopAndSaidWhileSilent) {
  QProcess desktop;
  start(desktop, {}, kDesktop);
  ASSERT_TRUE(desktop.waitForFinished(30000));
  EXPECT_TRUE(setupRan());
  EXPECT_TRUE(QFile::remove(scripts_ + "/setup-ran"));

  QProcess run;
  start(run, {});
  QByteArray said;
  const QDeadlineTimer deadline(30000);
  while (!said.contains("run: waiting for lines to type on standard input") &&
         run.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
    said += run.readAll();
  EXPECT_TRUE(said.contains("run: waiting for lines to type on standard input")) << said.data();
  EXPECT_FALSE(setupRan());
  // Its end types the sentence.
  run.closeWriteChannel();
  ASSERT_TRUE(run.waitForFinished(30000));
  EXPECT_TRUE(setupRan());
}

}  // namespace
}  // namespace tolvani
