#include "setup/InputSourceCommand.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/Clock.h"
#include "setup/InputSourceSnapshot.h"
#include "setup/SystemUser.h"
#include "setup/tests/FakeInputSourceSystem.h"

namespace tolvani {
namespace {

using namespace std::chrono_literals;
using State = InputSourceRegistration::State;

const QString kBundle = QStringLiteral("com.tolvani.inputmethod.TolvaniIME");
const QUrl kBundleURL = QUrl::fromLocalFile(QStringLiteral("/tmp/tolvani.xml"));

// What one command run printed and returned.
struct Printed {
  std::optional<int> status;
  QString out;
  QString err;
};

// A stream whose text can be read back after it is closed.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&buffer_, &size_)) {}
  ~MemoryStream() {
    if (file_) std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* file() { return file_; }
  QString close() {
    std::fclose(file_);
    file_ = nullptr;
    return QString::fromUtf8(buffer_, static_cast<qsizetype>(size_));
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

Printed runCommand(const QStringList& flags, std::optional<QString> bundleID = kBundle) {
  MemoryStream out;
  MemoryStream err;
  Printed printed;
  printed.status = InputSourceCommand::run(QStringList{QStringLiteral("/usr/bin/tolvani")} + flags,
                                           kBundleURL, bundleID, out.file(), err.file());
  printed.out = out.close();
  printed.err = err.close();
  return printed;
}

class InputSourceCommandTest : public ::testing::Test {
 protected:
  InputSourceCommandTest() {
    systemuser::testSetId(1000);
    qputenv("XDG_CURRENT_DESKTOP", "XFCE");
  }
  ~InputSourceCommandTest() override {
    platform::testSetClock(nullptr);
    systemuser::testSetId(std::nullopt);
    qunsetenv("XDG_CURRENT_DESKTOP");
  }

  // Runs the command on another thread while this one moves the test clock over each pause;
  // `pauses` counts them.
  Printed runOnManualClock(const QStringList& flags, int& pauses) {
    platform::ManualClock clock;
    platform::testSetClock(&clock);
    std::atomic<bool> done = false;
    Printed printed;
    std::thread command([&] {
      printed = runCommand(flags);
      done = true;
    });
    pauses = 0;
    const auto start = clock.uptime();
    while (!done) {
      if (clock.pendingTimers() > 0) {
        clock.advance(500ms);
        ++pauses;
      } else {
        std::this_thread::yield();
      }
    }
    command.join();
    EXPECT_EQ(clock.uptime() - start, pauses * 500ms);
    platform::testSetClock(nullptr);
    return printed;
  }

  void installEnabledSelected() {
    desktop.installed = {{QStringLiteral("tolvani"), true}};
    desktop.enabled = {QStringLiteral("tolvani")};
    desktop.currentSource = desktop.installed[0];
  }

  FakeInputSourceSystem desktop;
};

TEST_F(InputSourceCommandTest, FlagsChooseTheStepsAndTheirOrder) {
  const Printed none = runCommand({QStringLiteral("--setup"), QStringLiteral("--enable")});
  EXPECT_FALSE(none.status.has_value());
  EXPECT_EQ(none.out + none.err, QString());
  EXPECT_TRUE(desktop.calls.isEmpty());

  installEnabledSelected();
  const Printed ordered =
      runCommand({QStringLiteral("--input-source-state"), QStringLiteral("--enable-input-source")});
  EXPECT_EQ(ordered.status, 0);
  EXPECT_EQ(ordered.out,
            "tolvani: registered and enabled 1 input source(s)\n"
            "tolvani-state status=enabled selected=1\n");
  EXPECT_EQ(ordered.err, QString());

  const Printed all =
      runCommand({QStringLiteral("--select-input-source"), QStringLiteral("--input-source-state"),
                  QStringLiteral("--enable-input-source")});
  EXPECT_EQ(all.out,
            "tolvani: registered and enabled 1 input source(s)\n"
            "tolvani: switched to Tolvani\n"
            "tolvani-state status=enabled selected=1\n");
}

// The setup window read a state line that said nothing of the daemon, so with none running it
// tried to switch and reported a failure instead of what is left.
TEST_F(InputSourceCommandTest, StateLineSaysWhenNoDaemonRuns) {
  installEnabledSelected();
  desktop.currentSource.reset();
  desktop.daemonRunning = false;
  const Printed state = runCommand({QStringLiteral("--input-source-state")});
  EXPECT_EQ(state.status, 0);
  EXPECT_EQ(state.out, "tolvani-state status=enabled selected=0 ibus=0\n");
  const std::optional<InputSourceSnapshot> read = InputSourceSnapshot::fromOutput(state.out);
  ASSERT_TRUE(read.has_value());
  EXPECT_FALSE(read->ibusRunning);
}

TEST_F(InputSourceCommandTest, MissingBundleIdentifierRunsNoStep) {
  for (const std::optional<QString>& id : {std::optional<QString>(), std::optional(QString())}) {
    const Printed printed = runCommand({QStringLiteral("--input-source-state")}, id);
    EXPECT_EQ(printed.status, 1);
    EXPECT_EQ(printed.out, QString());
    EXPECT_EQ(printed.err, "tolvani: Open the installed Tolvani app to complete keyboard setup.\n");
  }
  EXPECT_TRUE(desktop.calls.isEmpty());
}

TEST_F(InputSourceCommandTest, FailingEnableIsTriedTenTimesWithNinePauses) {
  int pauses = 0;
  const Printed printed = runOnManualClock(
      {QStringLiteral("--enable-input-source"), QStringLiteral("--select-input-source"),
       QStringLiteral("--input-source-state")},
      pauses);
  EXPECT_EQ(printed.status, 1);
  EXPECT_EQ(desktop.calls.filter(QStringLiteral("register")).size(), 10);
  EXPECT_EQ(pauses, 9);
  EXPECT_EQ(printed.out, QString());
  EXPECT_EQ(printed.err,
            QString::fromUtf8("tolvani: IBus has not discovered Tolvani yet. Retry setup, or open "
                              "IBus Preferences → Input Method → Add → Bangla.\n"));
  EXPECT_TRUE(desktop.calls.filter(QStringLiteral("select")).isEmpty()) << "later steps do not run";
}

TEST_F(InputSourceCommandTest, OnlyRetryableErrorsAreRetried) {
  struct Row {
    const char* name;
    std::function<void(FakeInputSourceSystem&)> arrange;
    QString flag;
    int attempts;
    QString err;
  };
  const Row rows[] = {
      {"superuser", [](FakeInputSourceSystem&) { systemuser::testSetId(0); },
       QStringLiteral("--enable-input-source"), 1,
       "tolvani: Run keyboard setup as your desktop user, without sudo.\n"},
      {"register status", [](FakeInputSourceSystem& d) { d.registerStatus = -111; },
       QStringLiteral("--enable-input-source"), 1,
       "tolvani: IBus could not register the keyboard (IBus is not running). Open IBus "
       "Preferences to add Tolvani.\n"},
      {"not confirmed",
       [](FakeInputSourceSystem& d) {
         d.installed = {{QStringLiteral("tolvani"), true}};
         d.enableTakesEffect = false;
       },
       QStringLiteral("--enable-input-source"), 10,
       "tolvani: IBus did not confirm the added keyboard. Retry setup or add Tolvani in IBus "
       "Preferences.\n"},
      {"select not enabled",
       [](FakeInputSourceSystem& d) {
         d.installed = {{QStringLiteral("tolvani"), true}};
       },
       QStringLiteral("--select-input-source"), 1,
       "tolvani: Add Tolvani to your input menu before switching to it.\n"},
      {"select not confirmed",
       [](FakeInputSourceSystem& d) {
         d.installed = {{QStringLiteral("tolvani"), true}};
         d.enabled = {QStringLiteral("tolvani")};
         d.selectTakesEffect = false;
       },
       QStringLiteral("--select-input-source"), 10,
       "tolvani: IBus did not confirm the switch. Choose Tolvani from the input menu.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeInputSourceSystem desktop;
    systemuser::testSetId(1000);
    row.arrange(desktop);
    int pauses = 0;
    const Printed printed = runOnManualClock({row.flag}, pauses);
    EXPECT_EQ(printed.status, 1);
    EXPECT_EQ(pauses, row.attempts - 1);
    EXPECT_EQ(printed.err, row.err);
  }
}

TEST_F(InputSourceCommandTest, EnableSucceedsAndSelectFails) {
  desktop.installed = {{QStringLiteral("tolvani"), false}};
  int pauses = 0;
  const Printed printed = runOnManualClock(
      {QStringLiteral("--select-input-source"), QStringLiteral("--enable-input-source")}, pauses);
  EXPECT_EQ(printed.status, 1);
  EXPECT_EQ(printed.out, "tolvani: registered and enabled 1 input source(s)\n");
  EXPECT_EQ(printed.err, "tolvani: Choose Tolvani from the input menu in the menu bar.\n");
  EXPECT_EQ(pauses, 9) << "no select-capable source is retried";
}

// GNOME Shell cancels or ignores an engine set behind it: the command switched anyway and ended
// with status 1, or IBus and the shell's indicator named different sources.
TEST_F(InputSourceCommandTest, WhereThePersonChoosesNothingIsSwitchedAndTheWayIsSaid) {
  struct Case {
    const char* name;
    bool current;
    bool tap;
    const char* said;
  } cases[] = {
      {"a tap reaches it", false, true, "or tap Super+Space: a tap switches to Tolvani"},
      {"more layouts first", false, false, "or hold Super and press Space until Tolvani is"},
      {"already chosen", true, false, "Tolvani is your input source now"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    installEnabledSelected();
    if (!c.current) desktop.currentSource.reset();
    desktop.personSelects = true;
    desktop.tapReachesIt = c.tap;
    desktop.calls.clear();
    const Printed printed = runCommand({QStringLiteral("--select-input-source")});
    EXPECT_EQ(printed.status, 0) << printed.err.toStdString();
    EXPECT_TRUE(printed.out.contains(QString::fromLatin1(c.said))) << printed.out.toStdString();
    EXPECT_FALSE(desktop.calls.join(u' ').contains(QStringLiteral("select ")));
  }
}

TEST(InputSourceSnapshotTest, StateLineParser) {
  const QString enabledSelected = QStringLiteral("tolvani-state status=enabled selected=1");
  struct Row {
    QString output;
    std::optional<InputSourceSnapshot> expected;
  };
  const InputSourceSnapshot enabledOn{State::enabled, true};
  const Row rows[] = {
      {"other text\n" + enabledSelected + "\n", enabledOn},
      {"tolvani-state status=notRegistered selected=0\n" + enabledSelected, enabledOn},
      {enabledSelected + "\ntolvani-state status=notRegistered selected=0\n",
       InputSourceSnapshot{State::notRegistered, false}},
      {QStringLiteral("tolvani-state status=enabled selected=true"), std::nullopt},
      {QStringLiteral("tolvani-state selected=1"), std::nullopt},
      {QStringLiteral("tolvani-state selected=0 status=notEnabled extra=piece\n"),
       InputSourceSnapshot{State::notEnabled, false}},
      {"noise\r\n" + enabledSelected + "\r\n", enabledOn},
      {QStringLiteral("tolvani-state"), std::nullopt},
      {QStringLiteral("tolvani-statestatus=enabled selected=1"), std::nullopt},
      {QStringLiteral("  tolvani-state status=enabled selected=1"), std::nullopt},
      {QStringLiteral("tolvani-state  status=enabled   selected=1  "), enabledOn},
      {QStringLiteral("tolvani-state status=enabled selected=1 lonely"), std::nullopt},
      {QStringLiteral("tolvani-state status=enabled selected=1 key="), std::nullopt},
      {QStringLiteral("tolvani-state ==status=enabled selected=1"), enabledOn},
      {QStringLiteral("tolvani-state status==enabled selected=1"), std::nullopt},
      {QStringLiteral("tolvani-state status=enabled selected=1 selected=0"),
       InputSourceSnapshot{State::enabled, false}},
      {QStringLiteral("tolvani-state status=Enabled selected=1"), std::nullopt},
      {QStringLiteral("tolvani-state status=enabled selected="), std::nullopt},
      {QStringLiteral("tolvani-state status=enabled selected=0 ibus=0"),
       InputSourceSnapshot{State::enabled, false, false}},
      {QStringLiteral("tolvani-state ibus=1 status=enabled selected=1"), enabledOn},
      {QStringLiteral("tolvani-state status=enabled selected=1 ibus=no"), std::nullopt},
      {QString::fromUtf8("x\u2028tolvani-state status=notEnabled selected=1\u0085"),
       InputSourceSnapshot{State::notEnabled, true}},
      // The last state line alone counts, even when unusable.
      {enabledSelected + "\ntolvani-state status=enabled\n", std::nullopt},
      {QString(), std::nullopt},
  };
  for (const Row& row : rows) {
    const std::optional<InputSourceSnapshot> got = InputSourceSnapshot::fromOutput(row.output);
    EXPECT_EQ(got.has_value(), row.expected.has_value()) << row.output.toStdString();
    if (got && row.expected) {
      EXPECT_EQ(got->line(), row.expected->line()) << row.output.toStdString();
    }
  }
  for (State status : {State::notRegistered, State::notEnabled, State::enabled})
    for (bool selected : {false, true})
      for (bool running : {false, true}) {
        const InputSourceSnapshot snapshot{status, selected, running};
        EXPECT_EQ(InputSourceSnapshot::fromOutput(snapshot.line() + "\n"), snapshot);
      }
}

}  // namespace
}  // namespace tolvani
