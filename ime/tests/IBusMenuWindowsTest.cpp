// The input menu's window rows chosen through a private ibus-daemon, as a desktop's panel chooses
// them, in the built program on a virtual X display: each row brings up its window with its title
// in the interface language, and the update row hands the update page to the desktop's browser.
// The settings window opens over a dictionary as full as the engine lets it grow while the
// application goes on typing.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QThread>
#include <ostream>
#include <string>

#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/VirtualDesktop.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::TestInputContext;
using testing::TextWindow;
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

// The person's settings, in the interface language `uiLanguage`, where the program reads them
// when it starts: the daemon's folder.
void speak(VirtualDesktop& desktop, int uiLanguage) {
  qputenv("XDG_CONFIG_HOME", desktop.ibus().configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setUiLanguage(uiLanguage);
}

// A window with no field, to take the focus from a field's window.
TextWindow* openElsewhere(VirtualDesktop& desktop) {
  return desktop.open(TextWindow::Toolkit::Gtk3,
                      {QStringLiteral("--fields"), QStringLiteral("0"), QStringLiteral("--title"),
                       QStringLiteral("Elsewhere"), QStringLiteral("--x"), QStringLiteral("500"),
                       QStringLiteral("--y"), QStringLiteral("300")});
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
  speak(desktop, c.uiLanguage);

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

// Whether the program was told of the menu's row `key` while no input context had the focus.
bool chosenWithoutFocus(VirtualDesktop& desktop, const char* key) {
  return desktop.ibus().waitFor([&] {
    return desktop.ibus().events().contains(
        QStringLiteral("menu row %1 without focus").arg(u(key)));
  });
}

// IBus's own panel (ibus-ui-gtk3) on the virtual display: its menu opened from its tray icon with
// a click and its rows chosen with the keys, as a person does, each while no field has the focus,
// as opening a desktop's menu leaves it. A layout and a switch apply to the typing that follows in
// the field, and the settings window opens from the tools submenu.
TEST_P(IBusMenuWindowsTest, RowsOfIBusOwnPanelActWhileNoFieldHasTheFocus) {
  const LanguageCase& c = GetParam();
  VirtualDesktop desktop(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR), /*quiet=*/true);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  speak(desktop, c.uiLanguage);
  ASSERT_TRUE(desktop.startIBusPanel({QStringLiteral("tolvani")}))
      << desktop.failure().toStdString();
  TextWindow* field = desktop.open(TextWindow::Toolkit::Gtk3,
                                   {QStringLiteral("--title"), QStringLiteral("Letter")});
  ASSERT_NE(field, nullptr) << desktop.failure().toStdString();
  TextWindow* elsewhere = openElsewhere(desktop);
  ASSERT_NE(elsewhere, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.selectEngine("tolvani"));
  ASSERT_TRUE(desktop.focus(*field, 0)) << field->errors().toStdString();
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  ASSERT_TRUE(field->waitForText(0, u("আমি "))) << field->text(0).toStdString();

  // The menu opens from the tray while the field has the focus (this panel shows an engine's rows
  // only then). Its grab already takes the focus from the field's input context; the field's
  // window then loses the X focus too, so that no field has it. The keys walk the menu (its
  // insensitive titles are passed over): Phonetic, Probhat, National, Unijoy, English
  // Passthrough, Suggestions, Tools.
  const auto choose = [&](const QString& keys) {
    return desktop.focus(*field, 0) && desktop.openIBusPanelMenu() &&
           desktop.focusWindow(*elsewhere) && field->waitForFocus(-1) && desktop.key(keys);
  };
  ASSERT_TRUE(choose(QStringLiteral("Down Down Return")));
  EXPECT_TRUE(chosenWithoutFocus(desktop, "switchToProbhat"));
  ASSERT_TRUE(desktop.focus(*field, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("kf ")));
  EXPECT_TRUE(field->waitForText(0, u("আমি কত ")))
      << field->text(0).toStdString() << " typed in probhat";

  ASSERT_TRUE(choose(QStringLiteral("Down Down Down Down Down Return")));
  EXPECT_TRUE(chosenWithoutFocus(desktop, "toggleEnglishPassthrough"));
  ASSERT_TRUE(desktop.focus(*field, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("kf ")));
  EXPECT_TRUE(field->waitForText(0, u("আমি কত kf ")))
      << field->text(0).toStdString() << " passed through";

  // Settings, the seventh row of the tools: the menu as it shows, then the window.
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + QStringLiteral("/screenshots");
  ASSERT_TRUE(
      choose(QStringLiteral("Down Down Down Down Down Down Down Right Down Down Down Down Down "
                            "Down")));
  QThread::msleep(300);
  EXPECT_TRUE(desktop.screenshot(
      folder + QStringLiteral("/ibus-panel-menu-%1.png").arg(QLatin1String(c.name))));
  ASSERT_TRUE(desktop.key(QStringLiteral("Return")));
  EXPECT_TRUE(chosenWithoutFocus(desktop, "openPreferences"));
  EXPECT_TRUE(desktop.waitForWindow(u(c.titles[3]), 20000)) << c.titles[3];
}

// IBus's own panel while no field has had the focus since the session began (the daemon's own
// context holds the engine), and again while the field that had it is left for a window with none:
// its menu used to hold only the engines, as the engine sent its rows only to a field. The
// settings window opens from the tools submenu; a layout chosen when no field had the focus goes
// to the settings, a switch chosen after one had it to that field.
TEST_P(IBusMenuWindowsTest, IBusOwnPanelHoldsTheRowsWithNoFieldFocused) {
  const LanguageCase& c = GetParam();
  VirtualDesktop desktop(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR), /*quiet=*/true);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  speak(desktop, c.uiLanguage);
  // The panel selects Tolvani as it starts; a window with no field has the focus.
  ASSERT_TRUE(desktop.startIBusPanel({QStringLiteral("tolvani")}))
      << desktop.failure().toStdString();
  TextWindow* elsewhere = openElsewhere(desktop);
  ASSERT_NE(elsewhere, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focusWindow(*elsewhere));
  ASSERT_TRUE(desktop.ibus().waitFor([&] {
    return desktop.ibus().events().contains(
        u("focus without path /org/freedesktop/IBus/"
          "InputContext_1"));
  })) << desktop.ibus().events().join('\n').toStdString();
  desktop.ibus().settle();

  // Just after its start the panel may swap its tray icon for the engine's, and a click on the
  // icon going then opens nothing: it is clicked again.
  const auto openMenu = [&] {
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (desktop.openIBusPanelMenu()) return true;
    }
    return false;
  };
  // The keys walk the menu as in the test above: Tools, then its seventh row, Settings.
  ASSERT_TRUE(openMenu());
  ASSERT_TRUE(
      desktop.key(QStringLiteral("Down Down Down Down Down Down Down Right Down Down Down Down "
                                 "Down Down")));
  QThread::msleep(300);
  EXPECT_TRUE(desktop.screenshot(
      QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
      QStringLiteral("/screenshots/ibus-panel-menu-no-field-%1.png").arg(QLatin1String(c.name))));
  ASSERT_TRUE(desktop.key(QStringLiteral("Return")));
  EXPECT_TRUE(chosenWithoutFocus(desktop, "openPreferences"))
      << desktop.ibus().events().join('\n').toStdString();
  EXPECT_TRUE(desktop.waitForWindow(u(c.titles[3]), 20000)) << c.titles[3];

  // Probhat, chosen with no field since the start, is the layout a field then starts in.
  ASSERT_TRUE(openMenu());
  ASSERT_TRUE(desktop.key(QStringLiteral("Down Down Return")));
  EXPECT_TRUE(chosenWithoutFocus(desktop, "switchToProbhat"));
  TextWindow* field = desktop.open(TextWindow::Toolkit::Gtk3,
                                   {QStringLiteral("--title"), QStringLiteral("Letter")});
  ASSERT_NE(field, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*field, 0)) << field->errors().toStdString();
  ASSERT_TRUE(desktop.type(QStringLiteral("kf ")));
  ASSERT_TRUE(field->waitForText(0, u("কত "))) << field->text(0).toStdString() << " in probhat";

  // The field's window left for one with no field (as when it is minimized): English Passthrough,
  // switched on then, is the field's.
  ASSERT_TRUE(desktop.focusWindow(*elsewhere) && field->waitForFocus(-1));
  desktop.ibus().settle();
  ASSERT_TRUE(openMenu());
  ASSERT_TRUE(desktop.key(QStringLiteral("Down Down Down Down Down Return")));
  EXPECT_TRUE(chosenWithoutFocus(desktop, "toggleEnglishPassthrough"));
  ASSERT_TRUE(desktop.focus(*field, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("kf ")));
  EXPECT_TRUE(field->waitForText(0, u("কত kf ")))
      << field->text(0).toStdString() << " passed through";
}

// 10,000 learned words (the engine's own cap), as the engine writes them, all used lately: the
// engine drops words unused for a month.
std::string fullDictionary() {
  static const char* const kLetters[] = {"ক", "খ", "গ", "ঘ", "চ", "ছ", "জ", "ঝ", "ট", "ঠ",
                                         "ড", "ঢ", "থ", "ধ", "ফ", "ষ", "শ", "ঞ", "ঙ", "ৎ"};
  const qint64 now = QDateTime::currentSecsSinceEpoch();
  std::string doc = R"({"reset_id":"4B1C6E7A-2F0D-4E8B-9C1A-3D5E7F9A1B2C","tombstones":{},)"
                    R"("words":{)";
  for (int i = 0; i < 10'000; ++i) {
    std::string word;
    for (int n = i + 1; n > 0; n /= 20) word += kLetters[n % 20];
    doc += (i ? ",\"" : "\"") + word + R"(ো":{"frequency":)" + std::to_string(1 + i % 97) +
           R"(,"last_decay":0,"last_used":)" + std::to_string(now - i) + "}";
  }
  return doc + "}}";
}

// The line of the program's window report (TOLVANI_TEST_WINDOWS) that starts with these fields.
QStringList reportLine(const QString& report, const QStringList& start) {
  QFile file(report);
  if (!file.open(QIODevice::ReadOnly)) return {};
  for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
    const QStringList fields = line.split(u'\t');
    if (fields.mid(0, start.size()) == start) return fields;
  }
  return {};
}

QPoint middle(const QString& place) {
  const QStringList n = place.split(u' ');
  if (n.size() != 4) return {};
  return QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt()).center();
}

// The settings window chosen in the menu, and chosen again, while the application sends keys
// right behind each choice: every key is answered and composed, and the Data tab shows the 10,000
// words each time.
TEST(IBusMenuFullDictionaryTest, SettingsOpenWhileKeysGoOnBeingAnswered) {
  QTemporaryDir data;
  ASSERT_TRUE(data.isValid());
  {
    QFile dictionary(data.filePath(QStringLiteral("user-dictionary.json")));
    ASSERT_TRUE(dictionary.open(QIODevice::WriteOnly));
    dictionary.write(QByteArray::fromStdString(fullDictionary()));
  }
  const QString report = data.filePath(QStringLiteral("windows.txt"));
  VirtualDesktop desktop(
      IBusDaemonHarness::Options{QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR),
                                 {},
                                 /*quiet=*/true,
                                 /*firstStart=*/false,
                                 {QStringLiteral("TOLVANI_DATA_DIR=") + data.path(),
                                  QStringLiteral("TOLVANI_TEST_WINDOWS=") + report}});
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  speak(desktop, /*English*/ 1);

  TestInputContext context(desktop.ibus(), "editor");
  context.keepText(QString(), 0);
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(desktop.ibus().waitFor([&] {
    return desktop.ibus().events().contains("activate " + context.objectPath()) &&
           !context.menu.isEmpty();
  })) << desktop.ibus().events().join('\n').toStdString();

  // The program formats the count in the desktop's number format, as this process does.
  const QString count = QLocale::system().toString(10'000);
  // Keys that only compose: a committed word would be learned, and at the cap the engine would
  // make room in the file.
  const struct {
    const char* keys;
    const char* composition;
  } openings[] = {{"ami", "আমি"}, {"tomake", "আমিতমাকে"}};
  for (const auto& opening : openings) {
    SCOPED_TRACE(opening.keys);
    context.activateProperty("openPreferences");
    EXPECT_EQ(testing::typeKeys(context, opening.keys), 0) << "keys left unanswered";
    EXPECT_TRUE(desktop.ibus().waitFor([&] {
      return !context.preedits.empty() && context.preedits.back().text == u(opening.composition);
    })) << (context.preedits.empty() ? "none" : context.preedits.back().text.toStdString());
    ASSERT_TRUE(desktop.waitForWindow(QStringLiteral("Tolvani"), 20000));
    // A fresh view each time, on its first tab, where the count is out of sight; on the Data tab
    // it shows.
    const QStringList countLabel = {QStringLiteral("widget"), QStringLiteral("QLabel"),
                                    QStringLiteral("learnedWordCount")};
    QStringList tab;
    ASSERT_TRUE(desktop.ibus().waitFor([&] {
      tab = reportLine(report, {QStringLiteral("tab"), QStringLiteral("Data")});
      return !tab.isEmpty() && reportLine(report, countLabel).isEmpty();
    })) << report.toStdString();
    // A click that Qt has not taken (it came while the window was still settling) is made again.
    QStringList shown;
    for (int attempt = 0; attempt < 5 && shown.value(3) != count; ++attempt) {
      ASSERT_TRUE(desktop.click(middle(tab.value(2))));
      testing::waitUntil(
          [&] {
            shown = reportLine(report, countLabel);
            return shown.value(3) == count;
          },
          4000);
    }
    EXPECT_EQ(shown.value(3), count) << shown.join(u'|').toStdString();
    EXPECT_TRUE(
        desktop.screenshot(QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                           QStringLiteral("/screenshots/menu-settings-full-dictionary.png")));
  }
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
