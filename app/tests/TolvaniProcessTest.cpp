// The built program as a process: what it says without a display or an IBus daemon, SIGTERM and a
// restart of IBus saving what it learned, and a second start handing its request to the first.
#include <gtest/gtest.h>
#include <ibus.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "app/SingleInstance.h"
#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::TestInputContext;
using testing::typeKeys;

struct Outcome {
  int status = -1;
  bool crashed = false;
  QString out;
  QString err;
};

// Runs the program to its end with `environment`.
Outcome run(const QStringList& arguments, const QProcessEnvironment& environment) {
  QProcess program;
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(TOLVANI_PROGRAM), arguments);
  Outcome outcome;
  if (!program.waitForFinished(30000)) {
    program.kill();
    program.waitForFinished();
    return outcome;
  }
  outcome.status = program.exitCode();
  outcome.crashed = program.exitStatus() == QProcess::CrashExit;
  outcome.out = QString::fromUtf8(program.readAllStandardOutput());
  outcome.err = QString::fromUtf8(program.readAllStandardError());
  return outcome;
}

QProcessEnvironment withoutDesktop() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                           "DBUS_SESSION_BUS_ADDRESS", "IBUS_ADDRESS"}) {
    env.remove(QString::fromLatin1(name));
  }
  return env;
}

// The learned frequency of `word` in the user dictionary under `dataHome`, 0 when absent.
int learnedFrequency(const QString& dataHome, const QString& word) {
  QFile file(dataHome + QStringLiteral("/tolvani/user-dictionary.json"));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QJsonObject words = QJsonDocument::fromJson(file.readAll()).object()["words"].toObject();
  return words[word].toObject()["frequency"].toInt();
}

bool waitUntil(const std::function<bool()>& done, int milliseconds = 20000) {
  const QDeadlineTimer deadline(milliseconds);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    g_main_context_iteration(nullptr, FALSE);
    QThread::msleep(10);
  }
  return true;
}

TEST(TolvaniProcessTest, WithoutADisplayOrIBusItSaysWhyAndNeverAborts) {
  const Outcome help = run({"--help"}, withoutDesktop());
  EXPECT_EQ(help.status, 0);
  EXPECT_FALSE(help.crashed);
  EXPECT_TRUE(help.out.startsWith("Usage: tolvani")) << help.out.toStdString();
  const Outcome version = run({"--version"}, withoutDesktop());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tolvani 0.1.0\n");

  for (const QStringList& arguments : {QStringList{}, QStringList{"--setup"}}) {
    const Outcome noDisplay = run(arguments, withoutDesktop());
    EXPECT_EQ(noDisplay.status, 2) << noDisplay.err.toStdString();
    EXPECT_FALSE(noDisplay.crashed);
    EXPECT_EQ(noDisplay.err.count('\n'), 1) << noDisplay.err.toStdString();
    EXPECT_TRUE(noDisplay.err.contains("no graphical display")) << noDisplay.err.toStdString();
  }

  QProcessEnvironment noIBus = withoutDesktop();
  noIBus.insert("QT_QPA_PLATFORM", "offscreen");
  noIBus.insert("IBUS_ADDRESS", "unix:path=/nonexistent/ibus.sock");
  const Outcome unreachable = run({}, noIBus);
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_FALSE(unreachable.crashed);
  EXPECT_EQ(unreachable.err.count("\n"), 1) << unreachable.err.toStdString();
  EXPECT_TRUE(unreachable.err.contains("Cannot reach the IBus daemon"))
      << unreachable.err.toStdString();
}

// An unknown argument reached the display check (status 2 without one, 1 with one) and, on the
// way, made the user's folders: it is refused first, with the usage, and touches nothing.
TEST(TolvaniProcessTest, AnUnknownArgumentIsRefusedBeforeAnythingElse) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  for (const bool display : {false, true}) {
    QProcessEnvironment env = withoutDesktop();
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR",
                             "XDG_CACHE_HOME", "TOLVANI_DATA_DIR"}) {
      env.remove(QString::fromLatin1(name));
    }
    env.insert("HOME", home.path());
    if (display) env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const QStringList& arguments :
         {QStringList{"--bogus"}, QStringList{"--setup", "extra"}, QStringList{"-h"},
          QStringList{"--input-source-state", "--enable"}}) {
      const Outcome refused = run(arguments, env);
      const std::string row = arguments.join(' ').toStdString();
      EXPECT_EQ(refused.status, 2) << row;
      EXPECT_FALSE(refused.crashed) << row;
      EXPECT_TRUE(refused.out.isEmpty()) << row << ": " << refused.out.toStdString();
      EXPECT_TRUE(refused.err.startsWith("tolvani: unknown argument ")) << row;
      EXPECT_TRUE(refused.err.contains("Usage: tolvani")) << row;
    }
  }
  EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{});
}

// IBus starts the program for the first context that chooses it. A second "tolvani --ibus" while
// that one serves finds the IBus name taken, says so in one line and leaves; the first goes on.
TEST(TolvaniProcessTest, ASecondEngineProcessSaysWhyAndLeaves) {
  IBusDaemonHarness harness(
      IBusDaemonHarness::Options{QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR), QString(), true});
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  TestInputContext context(harness, "editor");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] {
    return harness.events().contains("activate " + context.objectPath());
  })) << harness.events().join('\n').toStdString();

  QProcessEnvironment env = withoutDesktop();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("IBUS_ADDRESS", harness.address());
  env.insert("ASAN_OPTIONS",
             env.value("ASAN_OPTIONS") + ":detect_leaks=0:new_delete_type_mismatch=0");
  const Outcome second = run({"--ibus"}, env);
  EXPECT_EQ(second.status, 1) << second.err.toStdString();
  EXPECT_FALSE(second.crashed);
  EXPECT_EQ(second.err,
            "[Tolvani] Another Tolvani already serves IBus (it holds "
            "org.freedesktop.IBus.Tolvani); this one exits\n");

  EXPECT_EQ(typeKeys(context, "ami "), 0);
  ASSERT_TRUE(harness.waitFor([&] { return !context.commits.isEmpty(); }));
  EXPECT_EQ(context.commits, QStringList{QString::fromUtf8("আমি ")});
  EXPECT_EQ(harness.events().filter("controller ").size(), 1);
}

class TolvaniServingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(components_.isValid());
    harness_ = std::make_unique<IBusDaemonHarness>(
        IBusDaemonHarness::Options{components_.path(), QString(), true});
    ASSERT_TRUE(harness_->ready()) << harness_->failure().toStdString();
    // The program reads the test's settings: no setup window on this first start.
    platform::Defaults::testResetStandard();
    AppSettings::setOnboardingCompleted(true);
    env_ = withoutDesktop();
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    env_.insert("IBUS_ADDRESS", harness_->address());
    env_.insert("TOLVANI_TEST_IBUS_EVENTS", events_.path() + "/events.txt");
    // Under the sanitizers: what this test checks is the exit status, which leak reports and Qt
    // WebEngine's own sized deletes of another type would change.
    env_.insert("ASAN_OPTIONS",
                env_.value("ASAN_OPTIONS") + ":detect_leaks=0:new_delete_type_mismatch=0");
  }
  void TearDown() override {
    for (QProcess* program : {&program_, &second_}) {
      if (program->state() != QProcess::NotRunning) {
        program->kill();
        program->waitForFinished();
      }
    }
    harness_.reset();
  }

  // Starts the program serving IBus on its own, as a person's start does.
  void start(const QStringList& arguments = {}) {
    program_.setProcessEnvironment(env_);
    program_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program_.start(QStringLiteral(TOLVANI_PROGRAM), arguments);
    ASSERT_TRUE(program_.waitForStarted());
  }
  QStringList events() const {
    QFile file(events_.path() + "/events.txt");
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }
  // Types `keys` into a new context once the program serves it.
  void typeIn(TestInputContext& context, const char* keys) {
    context.focusIn();
    // Selected once it can be: selecting it again would end the word being typed.
    ASSERT_TRUE(waitUntil([&] {
      if (context.engineName() != "tolvani") context.selectEngine("tolvani");
      harness_->settle();
      return context.engineName() == "tolvani" &&
             events().contains("activate " + context.objectPath());
    })) << events().join('\n').toStdString();
    EXPECT_EQ(typeKeys(context, keys), 0);
    ASSERT_TRUE(waitUntil([&] { return context.commits.size() == 2; }))
        << context.commits.join('|').toStdString() << "\n"
        << events().join('\n').toStdString();
  }
  QString dataHome() const { return env_.value("XDG_DATA_HOME"); }

  QTemporaryDir components_;  // no component: the program registers its own
  QTemporaryDir events_;
  std::unique_ptr<IBusDaemonHarness> harness_;
  QProcessEnvironment env_;
  QProcess program_;
  QProcess second_;
};

TEST_F(TolvaniServingTest, SigtermSavesWhatWasLearnedAndTheStatisticsThenExitsZero) {
  ASSERT_NO_FATAL_FAILURE(start());
  TestInputContext context(*harness_, "editor");
  ASSERT_NO_FATAL_FAILURE(typeIn(context, "ami tomake "));
  // Two words are fewer than the engine saves on its own.
  harness_->settle();
  EXPECT_EQ(learnedFrequency(dataHome(), QString::fromUtf8("তোমাকে")), 0);
  // Windows open from the input menu end with the program too.
  for (const char* key :
       {"openPreferences", "openCustomLayoutEditor", "openTypingStats", "openKeyboardHelp"}) {
    context.activateProperty(key);
  }
  harness_->settle();
  // Time for the program to build them; were it slower, the test would only show less.
  QThread::msleep(1000);

  ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
  ASSERT_TRUE(program_.waitForFinished(20000));
  EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program_.exitCode(), 0);
  EXPECT_EQ(learnedFrequency(dataHome(), QString::fromUtf8("তোমাকে")), 1);
  QFile stats(dataHome() + "/tolvani/typing-stats.json");
  ASSERT_TRUE(stats.open(QIODevice::ReadOnly));
  const QJsonObject counts = QJsonDocument::fromJson(stats.readAll()).object();
  EXPECT_GT(counts["totalKeystrokes"].toInt(), 0) << QJsonDocument(counts).toJson().toStdString();
}

TEST_F(TolvaniServingTest, LosingIBusSavesWhatWasLearnedThenExitsZero) {
  ASSERT_NO_FATAL_FAILURE(start());
  TestInputContext context(*harness_, "editor");
  ASSERT_NO_FATAL_FAILURE(typeIn(context, "ami tomake "));
  // "ibus restart" drops every engine's connection; the program quits as it does on SIGTERM.
  QProcess restart;
  restart.setProcessEnvironment(env_);
  restart.start("ibus", {"restart"});
  ASSERT_TRUE(restart.waitForFinished(20000));
  ASSERT_TRUE(program_.waitForFinished(20000));
  EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program_.exitCode(), 0);
  EXPECT_EQ(learnedFrequency(dataHome(), QString::fromUtf8("তোমাকে")), 1);
}

TEST_F(TolvaniServingTest, SecondStartHandsItsRequestToTheFirstAndExits) {
  QProcess bus;
  bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  ASSERT_TRUE(bus.waitForReadyRead(10000));
  const QString address = QString::fromUtf8(bus.readLine()).trimmed();
  env_.insert("DBUS_SESSION_BUS_ADDRESS", address);
  ASSERT_NO_FATAL_FAILURE(start());
  QDBusConnection session = QDBusConnection::connectToBus(address, "tolvani-test-session");
  ASSERT_TRUE(waitUntil([&] {
    return session.interface()->isServiceRegistered(SingleInstance::serviceName()).value();
  }));

  second_.setProcessEnvironment(env_);
  second_.start(QStringLiteral(TOLVANI_PROGRAM), {"--setup"});
  ASSERT_TRUE(second_.waitForFinished(20000));
  EXPECT_EQ(second_.exitCode(), 0) << second_.readAllStandardError().toStdString();
  EXPECT_TRUE(waitUntil([&] { return events().contains("reopen"); }))
      << events().join('\n').toStdString();
  EXPECT_EQ(program_.state(), QProcess::Running);

  ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
  EXPECT_TRUE(program_.waitForFinished(20000));
  EXPECT_EQ(program_.exitCode(), 0);
  QDBusConnection::disconnectFromBus("tolvani-test-session");
  bus.kill();
  bus.waitForFinished();
}

}  // namespace
}  // namespace tolvani
