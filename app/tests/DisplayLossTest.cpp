// The X server ending under the program the IBus daemon started, as it does when a desktop session
// ends or the server crashes: the program saves what it learned and its statistics and exits 0
// without a crash, with no window open, with the setup window (a web view drawn with GL) open and
// with every window the input menu and the settings window open.
#include <signal.h>

#include <QRect>
#include <QRegularExpression>
#include <tuple>
#include <utility>

#include "app/tests/DaemonStartedProgram.h"

namespace tolvani {
namespace {

using testing::readAll;
using testing::TestInputContext;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// How the X server ends (killed: SIGKILL, else SIGTERM), and the round.
using DisplayEnd = std::tuple<bool, int>;

class DisplayLossTest : public testing::DaemonStartedProgram<::testing::TestWithParam<DisplayEnd>> {
 protected:
  // Clicks the settings window's tab number `tab`, then its link `link`, and waits for the window
  // of this object name.
  void openFromSettings(int tab, const char* link, const char* window) {
    ASSERT_TRUE(desktop_->click(inSettings(QString(), tab).center()));
    ASSERT_TRUE(desktop_->click(inSettings(QLatin1String(link)).center()));
    EXPECT_TRUE(reported(QStringLiteral("window\t[^\t]*\t") + QLatin1String(window) + '\t'))
        << window << "\n"
        << readAll(report()).toStdString();
  }
  // Where the settings window shows its widget named `name`, or else its tab number `tab`, once
  // the program reports it; empty when it does not.
  QRect inSettings(const QString& name, int tab = -1) {
    QRect found;
    desktop_->ibus().waitFor([&] {
      QString window;
      int tabs = 0;
      for (const QString& line : readAll(report()).split(u'\n')) {
        const QStringList f = line.split(u'\t');
        if (f[0] == QLatin1String("window")) window = f.value(2);
        if (window != QLatin1String("settingsWindow")) continue;
        const bool hit = name.isEmpty() ? f[0] == QLatin1String("tab") && tabs++ == tab
                                        : f[0] == QLatin1String("widget") && f.value(2) == name;
        if (!hit) continue;
        const QStringList n = f.value(name.isEmpty() ? 2 : 4).split(u' ');
        if (n.size() == 4) found = QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
      }
      return !found.isEmpty();
    });
    return found;
  }

  // Ends the X server as the test's parameter says, and checks the program's end.
  void endDisplayExpectingACleanEnd() {
    desktop_->endDisplay(std::get<0>(GetParam()));
    expectACleanEndWithEverythingSaved();
  }
};

TEST_P(DisplayLossTest, EndOfTheDisplaySavesAndExitsZero) {
  TestInputContext context(desktop_->ibus(), "editor");
  ASSERT_NO_FATAL_FAILURE(typeWords(context));
  endDisplayExpectingACleanEnd();
}

TEST_P(DisplayLossTest, EndOfTheDisplayWithTheSetupWindowOpenSavesAndExitsZero) {
  TestInputContext context(desktop_->ibus(), "editor");
  ASSERT_NO_FATAL_FAILURE(typeWords(context));
  ASSERT_NO_FATAL_FAILURE(openSetupWindow(context));
  endDisplayExpectingACleanEnd();
}

TEST_P(DisplayLossTest, EndOfTheDisplayWithEveryWindowOpenSavesAndExitsZero) {
  TestInputContext context(desktop_->ibus(), "editor");
  ASSERT_NO_FATAL_FAILURE(typeWords(context));
  // The settings window last, on top, for the clicks that open its editors.
  const std::pair<const char*, const char*> rows[] = {
      {"openCustomLayoutEditor", "Custom Key Mappings"},
      {"openTypingStats", "Typing Insights"},
      {"openKeyboardHelp", "কীবোর্ড লে-আউট সাহায্য"},
      {"openPreferences", "Tolvani"}};
  ASSERT_NO_FATAL_FAILURE(openSetupWindow(context));
  for (const auto& [row, title] : rows) {
    context.activateProperty(row);
    desktop_->ibus().settle();
    ASSERT_TRUE(desktop_->waitForWindow(u(title), 20000)) << title;
  }
  // The typing tab's text-shortcuts editor; then, with the settings window raised again (a
  // fresh view, on its first tab), the data tab's learned-words editor.
  ASSERT_NO_FATAL_FAILURE(openFromSettings(1, "textShortcuts", "textShortcutsWindow"));
  context.activateProperty("openPreferences");
  desktop_->ibus().settle();
  ASSERT_FALSE(inSettings(QStringLiteral("defaultLayout")).isEmpty());
  ASSERT_NO_FATAL_FAILURE(openFromSettings(2, "editDictionary", "userDictionaryWindow"));
  endDisplayExpectingACleanEnd();
}

INSTANTIATE_TEST_SUITE_P(Rounds, DisplayLossTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Range(1, 3)),
                         [](const ::testing::TestParamInfo<DisplayEnd>& info) {
                           return std::string(std::get<0>(info.param) ? "killed" : "terminated") +
                                  "_round" + std::to_string(std::get<1>(info.param));
                         });

// A logout: SIGTERM and SIGHUP come as the X server ends, so the windows may end, after the saves,
// on a display that is gone. Here the server stops answering before the signals and is killed once
// the saves are on disk, while the setup window's view waits on it in its end.
class DisplayLossDuringShutDownTest
    : public testing::DaemonStartedProgram<::testing::TestWithParam<int>> {};

TEST_P(DisplayLossDuringShutDownTest, SavesAndExitsZero) {
  TestInputContext context(desktop_->ibus(), "editor");
  ASSERT_NO_FATAL_FAILURE(typeWords(context));
  ASSERT_NO_FATAL_FAILURE(openSetupWindow(context));
  const pid_t program = programId();
  ASSERT_GT(program, 0);
  desktop_->freezeDisplay();
  ::kill(program, SIGTERM);
  ::kill(program, SIGHUP);
  const QString dictionary = desktop_->ibus().root() + "/data/tolvani/user-dictionary.json";
  ASSERT_TRUE(desktop_->ibus().waitFor([&] { return readAll(dictionary).contains(u("তোমাকে")); }))
      << errors().toStdString();
  desktop_->endDisplay(/*killed=*/true);
  expectACleanEndWithEverythingSaved();
}

INSTANTIATE_TEST_SUITE_P(Rounds, DisplayLossDuringShutDownTest, ::testing::Range(1, 4));

}  // namespace
}  // namespace tolvani
