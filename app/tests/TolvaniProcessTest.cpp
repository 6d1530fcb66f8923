// The built program as a process: what it says without a display or an IBus daemon, SIGTERM and a
// restart of IBus saving what it learned, a second start handing its request to the first, and
// what a session keeps being the user's alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ibus.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "app/SingleInstance.h"
#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/TestUser.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"
#include "settings/BackupPanels.h"

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

// KWin starts fcitx5, and so the program, with QT_QPA_PLATFORM=wayland. Where Qt's Wayland plugin
// is missing or reaches no compositor, the program goes on through Xwayland's display instead of
// aborting at each start, and so does not leave every key typed in Latin.
TEST(TolvaniProcessTest, WaylandNamedByKWinFallsBackToXwaylandsDisplay) {
  QProcess xvfb;
  xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
  ASSERT_TRUE(xvfb.waitForStarted());
  QByteArray number;
  while (!number.contains('\n') && xvfb.waitForReadyRead(10000))
    number += xvfb.readAllStandardOutput();
  ASSERT_TRUE(number.contains('\n'));
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  QProcessEnvironment env = withoutDesktop();
  env.insert("QT_QPA_PLATFORM", "wayland");
  env.insert("WAYLAND_DISPLAY", "no-compositor-here");
  env.insert("XDG_RUNTIME_DIR", runtime.path());
  env.insert("DISPLAY", u':' + QString::fromLatin1(number.trimmed()));
  env.insert("IBUS_ADDRESS", "unix:path=/nonexistent/ibus.sock");
  const Outcome outcome = run({}, env);
  xvfb.terminate();
  xvfb.waitForFinished();
  EXPECT_FALSE(outcome.crashed) << outcome.err.toStdString();
  EXPECT_EQ(outcome.status, 1) << outcome.err.toStdString();
  EXPECT_TRUE(outcome.err.contains("Cannot reach the IBus daemon")) << outcome.err.toStdString();
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

// The setup window's process is the program's own: started from a terminal it says what to run
// instead; with no display it says why; its input closed before any request (the program ended),
// it ends with status 0, having shown nothing.
TEST(TolvaniProcessTest, TheSetupWindowsProcessRefusesATerminalAndEndsWithItsInput) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  QProcessEnvironment env = withoutDesktop();
  env.insert("HOME", home.path());
  env.insert("XDG_CONFIG_HOME", home.path() + "/config");
  env.insert("XDG_DATA_HOME", home.path() + "/data");
  env.insert("QT_QPA_PLATFORM", "offscreen");

  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  QProcess typed;
  typed.setProcessEnvironment(env);
  typed.setStandardInputFile(QString::fromLocal8Bit(::ptsname(terminal)));
  typed.start(QStringLiteral(TOLVANI_PROGRAM), {QStringLiteral("--setup-window")});
  ASSERT_TRUE(typed.waitForFinished(30000));
  ::close(terminal);
  EXPECT_EQ(typed.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(typed.exitCode(), 2);
  EXPECT_TRUE(QString::fromUtf8(typed.readAllStandardError()).contains("run tolvani --setup"));

  const Outcome noDisplay = run({"--setup-window"}, withoutDesktop());
  EXPECT_EQ(noDisplay.status, 2) << noDisplay.err.toStdString();
  EXPECT_TRUE(noDisplay.err.contains("no graphical display")) << noDisplay.err.toStdString();

  for (const QByteArray& requests : {QByteArray(), QByteArray("no such request\n")}) {
    QProcess orphaned;
    orphaned.setProcessEnvironment(env);
    orphaned.start(QStringLiteral(TOLVANI_PROGRAM), {QStringLiteral("--setup-window")});
    ASSERT_TRUE(orphaned.waitForStarted());
    orphaned.write(requests);
    orphaned.closeWriteChannel();
    ASSERT_TRUE(orphaned.waitForFinished(30000));
    EXPECT_EQ(orphaned.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(orphaned.exitCode(), 0) << orphaned.readAllStandardError().toStdString();
    EXPECT_EQ(orphaned.readAllStandardOutput().toStdString(), "");
  }
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

// The setup window alone held the program's name when a daemon started under it, and so the
// program the daemon started for Tolvani held nothing: once that window closed, the menu's
// "tolvani --setup" took the name, served IBus a second time beside it and stayed after its own
// window closed. The program IBus starts now waits for the name and takes it when its holder ends.
TEST_F(TolvaniServingTest, TheProgramIBusStartedTakesTheNameWhenTheSetupAloneEnds) {
  QProcess bus;
  bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  ASSERT_TRUE(bus.waitForReadyRead(10000));
  const QString address = QString::fromUtf8(bus.readLine()).trimmed();
  env_.insert("DBUS_SESSION_BUS_ADDRESS", address);
  // The test stands for the setup window alone, which holds the name.
  QDBusConnection holder = QDBusConnection::connectToBus(address, "tolvani-test-holder");
  ASSERT_EQ(holder.interface()->registerService(SingleInstance::serviceName()).value(),
            QDBusConnectionInterface::ServiceRegistered);
  ASSERT_NO_FATAL_FAILURE(start({"--ibus"}));
  const auto queued = [&] {
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "ListQueuedOwners");
    call << SingleInstance::serviceName();
    const QDBusReply<QStringList> owners = holder.call(call);
    return owners.isValid() ? owners.value().size() : 0;
  };
  EXPECT_TRUE(waitUntil([&] { return queued() == 2; })) << "the program waits for no name";
  holder.interface()->unregisterService(SingleInstance::serviceName());

  second_.setProcessEnvironment(env_);
  second_.start(QStringLiteral(TOLVANI_PROGRAM), {"--setup"});
  ASSERT_TRUE(second_.waitForFinished(20000)) << "a second Tolvani stays";
  EXPECT_EQ(second_.exitCode(), 0) << second_.readAllStandardError().toStdString();
  EXPECT_TRUE(waitUntil([&] { return events().contains("reopen"); }))
      << events().join('\n').toStdString();
  EXPECT_EQ(program_.state(), QProcess::Running);

  ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
  EXPECT_TRUE(program_.waitForFinished(20000));
  QDBusConnection::disconnectFromBus("tolvani-test-holder");
  bus.kill();
  bus.waitForFinished();
}

// Sets the process's umask for the life of the object; the programs it starts inherit it.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t saved_;
};

// The permission bits in octal ("0600"), "missing" for no such entry.
std::string modeOf(const QString& path) {
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return "missing";
  return QStringLiteral("%1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')).toStdString();
}

// Whether another account (the test user, when this test runs as root) could run `command` on
// `path`; none when there is no other account to try with.
std::optional<bool> otherAccountCan(const QString& command, const QString& path) {
  if (!testing::runsAsOtherUser()) return std::nullopt;
  const QStringList line = testing::asTestUser({command, path});
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(line.first(), line.mid(1));
  if (!process.waitForFinished(20000)) return true;
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// `folder` and everything in it are the user's alone (folders 0700, files 0600), and another
// account can neither list it nor read a file in it, not even once the folder lets all pass.
void expectPrivate(const QString& folder) {
  EXPECT_EQ(modeOf(folder), "0700") << folder.toStdString();
  QStringList files;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString entry = it.next();
    const bool isFolder = QFileInfo(entry).isDir();
    EXPECT_EQ(modeOf(entry), isFolder ? "0700" : "0600") << entry.toStdString();
    if (!isFolder) files << entry;
  }
  if (!testing::runsAsOtherUser()) return;
  testing::letTestUserReach(folder);
  EXPECT_EQ(otherAccountCan("ls", folder), false)
      << "another account lists " << folder.toStdString();
  const QByteArray native = QFile::encodeName(folder);
  ASSERT_EQ(::chmod(native.constData(), 0711), 0);
  for (const QString& file : files)
    EXPECT_EQ(otherAccountCan("cat", file), false)
        << "another account reads " << file.toStdString();
  ASSERT_EQ(::chmod(native.constData(), 0700), 0);
}

// Names the export dialog's file and takes the alert.
class ExportDialogs final : public BackupPanels::Dialogs {
 public:
  QStringList paths;
  QStringList alerts;
  std::optional<QString> chooseSaveFile(QWidget*, const QString&, const QStringList&) override {
    if (paths.isEmpty()) return std::nullopt;
    return paths.takeFirst();
  }
  std::optional<QString> chooseOpenFile(QWidget*, const QStringList&) override {
    return std::nullopt;
  }
  void showAlert(QWidget*, const BackupPanels::Alert& alert) override { alerts << alert.text; }
  bool confirm(QWidget*, const dialogs::Confirmation&) override { return false; }
};

// Under the usual umask, a session's learned words, statistics, diagnostics, settings and their
// locks, the test's record of its events and the backups exported afterwards are the user's alone;
// the folders and files an earlier version left readable by all are closed when it starts again.
TEST_F(TolvaniServingTest, WhatASessionKeepsIsTheUsersAlone) {
  const ScopedUmask usual(022);
  const QString data = AppSettings::supportDirectoryURL();
  const QString config = QFileInfo(AppSettings::suite().filePath()).absolutePath();
  ASSERT_FALSE(QFileInfo::exists(data));
  const auto session = [&](int frequency) {
    ASSERT_NO_FATAL_FAILURE(start());
    TestInputContext context(*harness_, "editor");
    ASSERT_NO_FATAL_FAILURE(typeIn(context, "ami tomake "));
    ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
    ASSERT_TRUE(program_.waitForFinished(20000));
    EXPECT_EQ(program_.exitCode(), 0);
    EXPECT_EQ(learnedFrequency(dataHome(), QString::fromUtf8("তোমাকে")), frequency);
  };
  // The first session makes the data folder.
  ASSERT_NO_FATAL_FAILURE(session(1));
  ASSERT_NO_FATAL_FAILURE(expectPrivate(data));

  // As an earlier version left them: a file the session never rewrites, and the settings.
  QFile kept(data + "/custom-layout.json");
  ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
  kept.write(R"({"keys":{}})");
  kept.close();
  for (const auto& [path, mode] :
       {std::pair{data, 0755}, std::pair{config, 0755}, std::pair{kept.fileName(), 0644},
        std::pair{AppSettings::suite().filePath(), 0644}}) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)), 0)
        << path.toStdString();
  }
  ASSERT_NO_FATAL_FAILURE(session(2));

  // Exported into a folder others may read, one of them over a file others could read.
  QTemporaryDir exports;
  ASSERT_EQ(::chmod(QFile::encodeName(exports.path()).constData(), 0755), 0);
  const QString backup = exports.filePath("tolvani-backup.json");
  QFile earlier(backup);
  ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
  earlier.close();
  ASSERT_EQ(modeOf(backup), "0644");
  ExportDialogs dialogs;
  dialogs.paths = {backup, exports.filePath("shortcuts.json")};
  BackupPanels::testSetDialogs(&dialogs);
  BackupPanels::exportLearnedWords(nullptr);
  BackupPanels::exportTextShortcuts(nullptr);
  BackupPanels::testSetDialogs(nullptr);
  ASSERT_EQ(dialogs.alerts.size(), 2);
  QFile exported(backup);
  ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
  EXPECT_TRUE(exported.readAll().contains("তোমাকে"));

  QStringList names = QDir(data).entryList(QDir::Files) + QDir(config).entryList(QDir::Files);
  names.sort();
  for (const char* name : {"user-dictionary.json", "user-dictionary.lock", "typing-stats.json",
                           "custom-layout.json", "com.tolvani.inputmethod.TolvaniIME.plist",
                           "com.tolvani.inputmethod.TolvaniIME.plist.lock"}) {
    EXPECT_TRUE(names.contains(name))
        << name << " is missing; there are " << names.join(' ').toStdString();
  }
  EXPECT_FALSE(names.filter("diagnostics-").isEmpty()) << names.join(' ').toStdString();
  ASSERT_NO_FATAL_FAILURE(expectPrivate(data));
  ASSERT_NO_FATAL_FAILURE(expectPrivate(config));
  EXPECT_EQ(modeOf(events_.path() + "/events.txt"), "0600");
  for (const QString& file : {backup, exports.filePath("shortcuts.json")}) {
    EXPECT_EQ(modeOf(file), "0600") << file.toStdString();
    if (testing::runsAsOtherUser()) {
      testing::letTestUserReach(file);
      EXPECT_EQ(otherAccountCan("cat", file), false) << file.toStdString();
    }
  }
}

}  // namespace
}  // namespace tolvani
