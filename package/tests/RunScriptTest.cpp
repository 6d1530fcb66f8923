// scripts/run answers odd input before it installs or builds anything (a TEXT that is not one line
// of printable ASCII, an option, more standard input than any try), and reads standard input only
// where it types it, saying what it waits for while that input stays silent. The script runs in
// a tree of its own whose setup only leaves a mark and whose session finder answers as told.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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
    write("setup", "#!/bin/sh\ntouch \"$(dirname \"$0\")/setup-ran\"\nexit 1\n");
    write("session.sh", "find_session() { return \"$TOLVANI_TEST_SESSION\"; }\n");
  }

  void write(const QString& name, const QByteArray& content) {
    QFile file(scripts_ + '/' + name);
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
