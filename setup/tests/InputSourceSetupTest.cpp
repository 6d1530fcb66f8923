#include "setup/InputSourceSetup.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "setup/InputSourceProbe.h"
#include "setup/SystemUser.h"
#include "setup/tests/FakeInputSourceSystem.h"
#include "setup/tests/SetupTestSupport.h"

namespace tolvani {
namespace {

using testing::await;

const QString kRefreshFailed = QStringLiteral(
    "IBus could not refresh keyboard setup. Open Keyboard Settings to check Tolvani.");

// The program's own executable and the tools stand in as scripts that write what they were
// asked to a shared log.
class InputSourceSetupTest : public ::testing::Test {
 protected:
  InputSourceSetupTest() {
    systemuser::testSetId(1000);
    setOwnExecutable("exit 0");
    InputSourceSetup::testSetTools(InputSourceSetup::SystemTools{
        {script("ibus-write-cache", "echo write-cache >> \"$LOG\"; exit ${WRITE_CACHE:-0}"),
         {QStringLiteral("write-cache")},
         {0}},
        {script("refresh", "echo restart >> \"$LOG\"; exit ${RESTART:-0}"),
         {QStringLiteral("--refresh-input-menu")},
         {0}}});
    qputenv("LOG", QFile::encodeName(dir_.filePath("log")));
    // The messages name GNOME's settings window.
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
  }
  ~InputSourceSetupTest() override {
    InputSourceProbe::testSetExecutable(std::nullopt);
    InputSourceSetup::testSetTools(std::nullopt);
    systemuser::testSetId(std::nullopt);
    for (const char* variable : {"LOG", "WRITE_CACHE", "RESTART", "XDG_CURRENT_DESKTOP"})
      qunsetenv(variable);
  }

  QString script(const QString& name, const QString& body) {
    return testing::writeScript(dir_.filePath(name), body);
  }
  void setOwnExecutable(const QString& body) {
    InputSourceProbe::testSetExecutable(script("tolvani", "echo \"$@\" >> \"$LOG\"\n" + body));
  }
  QStringList log() {
    QFile file(dir_.filePath("log"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  void clearLog() { QFile::remove(dir_.filePath("log")); }

  QTemporaryDir dir_;
  FakeInputSourceSystem desktop;  // for the input menu's preference
};

TEST_F(InputSourceSetupTest, ProbeAnswers) {
  struct Row {
    QString body;
    QString expected;
  };
  const Row rows[] = {
      {"echo 'tolvani: first' >&2; echo 'tolvani: second' >&2; echo trailing >&2; exit 1",
       "Tolvani.Setup 1 second"},
      {"exit 3",
       "Tolvani.Setup 3 IBus could not update keyboard setup. Open Keyboard Settings to check "
       "Tolvani."},
      {"echo 'tolvani: ' >&2; exit 1", "Tolvani.Setup 1 "},
      {"echo hello; exit 0",
       "Tolvani.Setup 1 IBus did not report the keyboard's state. Retry or open Keyboard "
       "Settings."},
      {"echo noise; echo 'tolvani-state status=notEnabled selected=0'; exit 0",
       "tolvani-state status=notEnabled selected=0"},
  };
  for (const Row& row : rows) {
    setOwnExecutable(row.body);
    EXPECT_EQ(await<InputSourceSnapshot>(
                  [](auto done) { InputSourceProbe::state(nullptr, std::move(done)); }),
              row.expected)
        << row.body.toStdString();
  }
  EXPECT_EQ(log().filter("--input-source-state").size(), 5) << "one flag, alone";

  InputSourceProbe::testSetExecutable(QString());
  EXPECT_EQ(await<Done>([](auto done) { InputSourceProbe::enable(nullptr, std::move(done)); }),
            "Tolvani.Setup 1 Open the installed Tolvani app to complete keyboard setup.");
}

TEST_F(InputSourceSetupTest, ToolStatusesOutsideTheirSetFail) {
  const InputSourceSetup::SystemTools tools = InputSourceSetup::defaultTools();
  EXPECT_EQ(tools.rebuildRegistry.arguments, QStringList({"write-cache"}));
  // The program's own command restarts IBus: it brings the daemon back where the restart killed
  // it, and succeeds where none ran.
  EXPECT_EQ(tools.refreshInputMenu.executable, dir_.filePath("tolvani"));
  EXPECT_EQ(tools.refreshInputMenu.arguments, QStringList({"--refresh-input-menu"}));
  struct Row {
    QString tool;
    int status;
    QString expected;
  };
  const Row rows[] = {
      {"restart", 0, "done"},
      {"restart", 1, "Tolvani.Setup 1 " + kRefreshFailed},
      {"write-cache", 1, "Tolvani.Setup 1 " + kRefreshFailed},
  };
  for (const Row& row : rows) {
    InputSourceSetup::SystemTool tool =
        row.tool == "restart" ? tools.refreshInputMenu : tools.rebuildRegistry;
    tool.executable = script("tool", QStringLiteral("exit %1").arg(row.status));
    EXPECT_EQ(
        await<Done>([&](auto done) { InputSourceSetup::run(tool, nullptr, std::move(done)); }),
        row.expected)
        << row.tool.toStdString() << " " << row.status;
  }
}

TEST_F(InputSourceSetupTest, ActivateRunsItsStepsInOrder) {
  const QUrl bundle = QUrl::fromLocalFile(dir_.filePath("tolvani.xml"));
  auto activate = [&](CancellationRef cancellation = nullptr) {
    clearLog();
    return await<Done>(
        [&](auto done) { InputSourceSetup::activate(bundle, cancellation, std::move(done)); });
  };
  EXPECT_EQ(activate(), "done");
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source", "restart"}));

  setOwnExecutable(
      "echo 'tolvani: Run keyboard setup as your desktop user, without sudo.' >&2; "
      "exit 1");
  EXPECT_EQ(activate(), "Tolvani.Setup 1 Run keyboard setup as your desktop user, without sudo.");
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source"}));

  qputenv("WRITE_CACHE", "3");
  EXPECT_EQ(activate(), "Tolvani.Setup 3 " + kRefreshFailed);
  EXPECT_EQ(log(), QStringList({"write-cache"}));

  auto cancelled = std::make_shared<Cancellation>();
  cancelled->cancel();
  EXPECT_EQ(activate(cancelled), "Cancelled 0 Cancelled.");
  systemuser::testSetId(0);
  EXPECT_EQ(activate(), "Tolvani.Setup 5 Open keyboard setup from your desktop, without sudo.");
  EXPECT_EQ(log(), QStringList()) << "nothing runs for the superuser or a cancelled task";
}

TEST_F(InputSourceSetupTest, ShowInputMenuOnlyWhenHidden) {
  auto show = [&] {
    clearLog();
    return await<Done>(
        [](auto done) { InputSourceSetup::showInputMenu(nullptr, std::move(done)); });
  };
  desktop.menuVisible = true;
  EXPECT_EQ(show(), "done");
  EXPECT_EQ(log(), QStringList()) << "no child when already visible";
  EXPECT_TRUE(desktop.calls.isEmpty());

  desktop.menuVisible = false;
  EXPECT_EQ(show(), "done");
  EXPECT_EQ(log(), QStringList({"restart"}));
  EXPECT_EQ(desktop.menuVisible, true);

  desktop.menuVisible = false;
  systemuser::testSetId(0);
  EXPECT_EQ(show(), "Tolvani.InputMenu 5 Show the input menu from your desktop, without sudo.");
  EXPECT_EQ(log(), QStringList());
}

// A run that adds Tolvani and then shows the menu restarts the daemon at most once: IBus's
// daemon can die of its own assertion when told to exit just after a restart. The show step
// refreshes what the add step left even when it finds the menu shown, or cannot show it.
TEST_F(InputSourceSetupTest, AddThenShowRestartsTheDaemonOnce) {
  const QUrl bundle = QUrl::fromLocalFile(dir_.filePath("tolvani.xml"));
  const auto run = [&](bool visible) {
    clearLog();
    desktop.menuVisible = visible;
    QStringList answers;
    answers << await<Done>(
        [&](auto done) { InputSourceSetup::activate(bundle, nullptr, std::move(done), true); });
    answers << await<Done>(
        [](auto done) { InputSourceSetup::showInputMenu(nullptr, std::move(done)); });
    return answers;
  };
  EXPECT_EQ(run(false), QStringList({"done", "done"}));
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source", "restart"}));
  EXPECT_EQ(run(true), QStringList({"done", "done"}));
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source", "restart"}));
  desktop.menuSaves = false;
  const QStringList failed = run(false);
  EXPECT_EQ(failed.value(0), "done");
  EXPECT_NE(failed.value(1), "done");
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source", "restart"}));
  // Alone, each step refreshes the menu itself.
  desktop.menuSaves = true;
  desktop.menuVisible = true;
  clearLog();
  EXPECT_EQ(
      await<Done>([&](auto done) { InputSourceSetup::activate(bundle, nullptr, std::move(done)); }),
      "done");
  EXPECT_EQ(
      await<Done>([](auto done) { InputSourceSetup::showInputMenu(nullptr, std::move(done)); }),
      "done");
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source", "restart"}));

  // An enabling child that restarted the daemon to register Tolvani leaves a new daemon and panel:
  // neither step restarts it again, alone or together, and the menu is still shown.
  setOwnExecutable("echo tolvani-restarted ibus");
  EXPECT_EQ(run(false), QStringList({"done", "done"}));
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source"}));
  EXPECT_TRUE(desktop.menuVisible);
  clearLog();
  EXPECT_EQ(
      await<Done>([&](auto done) { InputSourceSetup::activate(bundle, nullptr, std::move(done)); }),
      "done");
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source"}));
}

// The program that serves IBus runs the setup inside the daemon: a restart would end it, so the
// steps change the settings and leave the menu to the desktop, which follows them.
TEST_F(InputSourceSetupTest, ProgramServingIBusNeverRestartsTheDaemon) {
  InputSourceSetup::setServesIBus(true);
  const QUrl bundle = QUrl::fromLocalFile(dir_.filePath("tolvani.xml"));
  EXPECT_EQ(
      await<Done>([&](auto done) { InputSourceSetup::activate(bundle, nullptr, std::move(done)); }),
      "done");
  EXPECT_EQ(log(), QStringList({"write-cache", "--enable-input-source"}));
  clearLog();
  desktop.menuVisible = false;
  EXPECT_EQ(
      await<Done>([](auto done) { InputSourceSetup::showInputMenu(nullptr, std::move(done)); }),
      "done");
  EXPECT_EQ(log(), QStringList());
  EXPECT_EQ(desktop.menuVisible, true);
  InputSourceSetup::setServesIBus(false);
}

TEST_F(InputSourceSetupTest, SelectSwitchesOnlyFromAnotherSourceAndChecksUpToThreeTimes) {
  // The state probe reports the source selected from its SELECTED_AT-th run on.
  setOwnExecutable(
      "if [ \"$1\" = --input-source-state ]; then\n"
      "  n=$(grep -c -- --input-source-state \"$LOG\")\n"
      "  if [ \"$n\" -ge \"${SELECTED_AT:-99}\" ]; then s=1; else s=0; fi\n"
      "  echo \"tolvani-state status=enabled selected=$s\"\n"
      "fi");
  auto select = [&] {
    clearLog();
    return await<InputSourceSnapshot>(
        [](auto done) { InputSourceSetup::select(nullptr, std::move(done)); });
  };
  // Current already (the person switched to it before it was added): IBus, asked to switch to
  // the engine it has, focused it again under the field and ended the word being typed.
  qputenv("SELECTED_AT", "1");
  EXPECT_EQ(select(), "tolvani-state status=enabled selected=1");
  EXPECT_EQ(log(), QStringList({"--input-source-state"}));

  qputenv("SELECTED_AT", "2");
  EXPECT_EQ(select(), "tolvani-state status=enabled selected=1");
  EXPECT_EQ(log(),
            QStringList({"--input-source-state", "--select-input-source", "--input-source-state"}));

  qputenv("SELECTED_AT", "4");
  EXPECT_EQ(select(), "tolvani-state status=enabled selected=1");
  EXPECT_EQ(log().size(), 5);

  qunsetenv("SELECTED_AT");
  EXPECT_EQ(select(),
            "Tolvani.InputSource 6 IBus did not confirm the switch. Choose Tolvani from the input "
            "menu.");
  EXPECT_EQ(log(),
            QStringList({"--input-source-state", "--select-input-source", "--input-source-state",
                         "--input-source-state", "--input-source-state"}));
  qunsetenv("SELECTED_AT");
}

}  // namespace
}  // namespace tolvani
