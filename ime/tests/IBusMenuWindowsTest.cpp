// The input menu's window rows chosen through a private ibus-daemon, as a desktop's panel chooses
// them, in the built program on a virtual X display: each row brings up its window with its title
// in the interface language, and the update row hands the update page to the desktop's browser.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <ostream>

#include "ime/testing/VirtualDesktop.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::TestInputContext;
using testing::VirtualDesktop;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

struct LanguageCase {
  const char* name;
  int uiLanguage;
  // The titles of the windows of the rows openTypingStats, openKeyboardHelp,
  // openCustomLayoutEditor, openPreferences and openKeyboardSetup.
  const char* titles[5];
};
void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }

// True when a shown window has exactly this title now.
bool shown(VirtualDesktop& desktop, const QString& title) {
  return !desktop
              .run(QStringLiteral("xdotool"),
                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')})
              .trimmed()
              .isEmpty();
}

class IBusMenuWindowsTest : public ::testing::TestWithParam<LanguageCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bin_.isValid());
    // The desktop's browser: records the pages it is asked to open.
    opened_ = bin_.path() + QStringLiteral("/opened.txt");
    QFile browser(bin_.path() + QStringLiteral("/xdg-open"));
    ASSERT_TRUE(browser.open(QIODevice::WriteOnly));
    // Written aside and renamed, so that the test never reads the file half written.
    browser.write("#!/bin/sh\nprintf '%s\\n' \"$*\" > '" + opened_.toUtf8() + ".part' && mv '" +
                  opened_.toUtf8() + ".part' '" + opened_.toUtf8() + "'\n");
    browser.close();
    browser.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // The program started by the daemon takes the test's environment.
    path_ = qgetenv("PATH");
    qputenv("PATH", bin_.path().toUtf8() + ':' + path_);
    // As root (as on CI) the setup window's web engine cannot start its sandbox.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QT_QUICK_BACKEND", "software");
  }
  void TearDown() override { qputenv("PATH", path_); }

  QTemporaryDir bin_;
  QString opened_;
  QByteArray path_;
};

TEST_P(IBusMenuWindowsTest, EachWindowRowBringsUpItsWindowAndUpdatesOpenTheBrowser) {
  const LanguageCase& c = GetParam();
  VirtualDesktop desktop(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR), /*quiet=*/true);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  // The program reads its settings from the daemon's folder when it starts.
  qputenv("XDG_CONFIG_HOME", desktop.ibus().configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setUiLanguage(c.uiLanguage);

  TestInputContext context(desktop.ibus(), "editor");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(desktop.ibus().waitFor([&] {
    return desktop.ibus().events().contains("activate " + context.objectPath()) &&
           !context.menu.isEmpty();
  })) << desktop.ibus().events().join('\n').toStdString();

  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + QStringLiteral("/screenshots");
  const char* const rows[] = {"openTypingStats", "openKeyboardHelp", "openCustomLayoutEditor",
                              "openPreferences", "openKeyboardSetup"};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(rows[i]);
    const QString title = u(c.titles[i]);
    EXPECT_FALSE(shown(desktop, title)) << "shown before its row was chosen";
    context.activateProperty(rows[i]);
    desktop.ibus().settle();
    EXPECT_TRUE(desktop.waitForWindow(title, 20000)) << title.toStdString();
    // The guide page draws itself a while after its window shows: no picture of it here (the
    // setup window's own tests take those).
    if (i == 4) continue;
    EXPECT_TRUE(desktop.screenshot(
        folder +
        QStringLiteral("/menu-%1-%2.png").arg(QLatin1String(rows[i]), QLatin1String(c.name))));
  }
  // The tour comes up in the setup window that is already shown.
  context.activateProperty("openKeyboardTour");
  desktop.ibus().settle();
  EXPECT_TRUE(desktop.waitForWindow(u(c.titles[4]), 5000));

  context.activateProperty("checkForUpdates");
  desktop.ibus().settle();
  EXPECT_TRUE(desktop.ibus().waitFor([&] { return QFile::exists(opened_); }));
  QFile opened(opened_);
  ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(opened.readAll()).trimmed().toStdString(),
            AppSettings::updateCheckURL().toString().toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Languages, IBusMenuWindowsTest,
    ::testing::Values(LanguageCase{"english",
                                   1,
                                   {"Typing Insights", "কীবোর্ড লে-আউট সাহায্য",
                                    "Custom Key Mappings", "Tolvani", "Keyboard Setup"}},
                      LanguageCase{"bangla",
                                   0,
                                   {"টাইপিং পরিসংখ্যান", "কীবোর্ড লে-আউট সাহায্য",
                                    "Custom Key Mappings", "তোলভানি", "কীবোর্ড সেটআপ"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvani
