// Tolvani on GNOME Shell 43, as a person there meets it: the enabling command at a fresh login
// with one keyboard layout and with two, what the shell's indicator and IBus then say, what a tap
// of Super+Space does now and after the next login; and the shell's keyboard menu with Tolvani's
// rows, opened from the top bar over a focused field, on a 1366x768 screen in both interface
// languages. The shell is read through its Eval call (--unsafe-mode), which only the test uses.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <functional>
#include <optional>
#include <ostream>

#include "ime/testing/GnomeShellDesktop.h"
#include "ime/testing/TestUser.h"
#include "ime/testing/WindowReport.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::GnomeShellDesktop;
using testing::TextWindow;

const QString kSources = QStringLiteral("org.gnome.desktop.input-sources");

// The value of an Eval answer (the JSON of the script's value).
QJsonValue parsed(const QString& answer) {
  return QJsonDocument::fromJson(QByteArray("[") + answer.toUtf8() + "]").array().at(0);
}

// The record a script returns as JSON text.
QJsonArray record(GnomeShellDesktop& desktop, const QString& script) {
  return QJsonDocument::fromJson(parsed(desktop.eval(script)).toString().toUtf8()).array();
}

// The engine IBus runs for a source of the shell: for a layout the shell sets IBus's US one.
QString engineOf(const QString& source) {
  return source == QLatin1String("tolvani") ? source : QStringLiteral("xkb:us::eng");
}

// Waits until the shell's current source is `id`; answers the one it is on.
QString waitForSource(GnomeShellDesktop& desktop, const QString& id, int ms = 10000) {
  const QDeadlineTimer deadline(ms);
  QString now = desktop.currentSource();
  while (now != id && !deadline.hasExpired()) {
    QThread::msleep(100);
    now = desktop.currentSource();
  }
  return now;
}

// The shell's source and IBus's engine, as one line ("us xkb:us::eng"), once they are `expected`
// or a few seconds pass: IBus takes the shell's engine once the engine's program has started.
QString agreement(GnomeShellDesktop& desktop, const QString& expected) {
  const QDeadlineTimer deadline(8000);
  QString now;
  do {
    now = desktop.currentSource() + QLatin1Char(' ') + desktop.ibusEngine();
    if (now == expected) break;
    QThread::msleep(100);
  } while (!deadline.hasExpired());
  return now;
}

// A window's own area on the screen (inside the shell's frame), as X places it.
QRect placeOnScreen(GnomeShellDesktop& desktop, const QString& xid) {
  const QString info = desktop.x(QStringLiteral("xwininfo"), {QStringLiteral("-id"), xid});
  const auto number = [&](const char* label) {
    const QRegularExpressionMatch m =
        QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s*(-?\\d+)"))
            .match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
  };
  return QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
               number("Height"));
}

// Whether the screen, which is what the shell composited, comes to show the window as the window
// itself holds it (its own image, read from X) within `ms` of the window being `still`: an
// animation (a busy page's spinner) differs between two images taken one after the other, and
// the window may start moving again on its own, which restarts the wait. The window's top rows
// are left out: the shell's notifications may lie over them. The last pair of images is left at
// `stem`-screen.png and `stem`-window.png.
bool screenShowsWindow(GnomeShellDesktop& desktop, const QString& xid, const QString& stem, int ms,
                       const std::function<bool()>& still) {
  constexpr int kTopRows = 120;
  const QDeadlineTimer stillness(60000);
  QDeadlineTimer deadline(ms);
  for (;;) {
    if (!still()) {
      if (stillness.hasExpired()) return false;
      deadline = QDeadlineTimer(ms);
      QThread::msleep(100);
      continue;
    }
    const QRect place = placeOnScreen(desktop, xid);
    const QString screenPath = stem + QStringLiteral("-screen.png");
    const QString windowPath = stem + QStringLiteral("-window.png");
    if (place.height() > kTopRows && desktop.screenshot(screenPath, place) &&
        !desktop.x(QStringLiteral("import"), {QStringLiteral("-window"), xid, windowPath})
             .isNull()) {
      const QImage screen = QImage(screenPath).convertToFormat(QImage::Format_RGB32);
      const QImage window = QImage(windowPath).convertToFormat(QImage::Format_RGB32);
      int differing = 0;
      if (screen.size() != window.size()) differing = -1;
      for (int y = kTopRows; differing >= 0 && y < window.height(); ++y) {
        for (int x = 0; x < window.width(); ++x) {
          const QRgb a = screen.pixel(x, y);
          const QRgb b = window.pixel(x, y);
          if (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                  std::abs(qBlue(a) - qBlue(b)) >
              30)
            ++differing;
        }
      }
      // A stale frame differs in thousands of pixels; a few may differ in the shell's scaling.
      if (differing >= 0 && differing < 50) return true;
      if (!still()) continue;
    }
    if (deadline.hasExpired()) return false;
    QThread::msleep(250);
  }
}

// Tolvani's first start offers its setup window, which would stand beside the tests' fields; a
// test of that window starts before the setup is completed (`onboarded` false).
void settle(GnomeShellDesktop& desktop, std::optional<int> uiLanguage = std::nullopt,
            bool onboarded = true) {
  platform::Defaults defaults(desktop.configHome() + QStringLiteral("/tolvani/") +
                              platform::bundle::identifier() + QStringLiteral(".plist"));
  if (onboarded) defaults.set(AppSettings::kOnboardingCompletedKey, true);
  if (uiLanguage) defaults.set(AppSettings::kUiLanguageKey, *uiLanguage);
  desktop.giveProfile();
}

struct LayoutCase {
  const char* name;
  const char* sources;  // GNOME's list at the fresh login
  const char* first;    // the source the person is on
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class GnomeShellEnableTest : public ::testing::TestWithParam<LayoutCase> {};

// Enabling used to end in "IBus could not switch keyboards" (the shell cancels an engine set while
// its list changes), or with IBus on Tolvani and the shell's indicator on the layout; and with two
// layouts Tolvani came last in the shell's order, out of reach of a tap, at this login and the
// next.
TEST_P(GnomeShellEnableTest, CommandLeavesTheShellInChargeAndATapReachesTolvani) {
  const LayoutCase& c = GetParam();
  GnomeShellDesktop desktop({QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR)});
  ASSERT_TRUE(desktop.failure().isEmpty()) << desktop.failure().toStdString();
  testing::letTestUserReach(QStringLiteral(TOLVANI_PROGRAM));
  settle(desktop);
  ASSERT_TRUE(
      desktop.setSetting(kSources, QStringLiteral("sources"), QString::fromLatin1(c.sources)));
  ASSERT_TRUE(desktop.login()) << desktop.failure().toStdString();
  const QString first = QString::fromLatin1(c.first);
  ASSERT_EQ(waitForSource(desktop, first), first);

  const GnomeShellDesktop::Result command = desktop.run(
      QStringLiteral(TOLVANI_PROGRAM),
      {QStringLiteral("--enable-input-source"), QStringLiteral("--select-input-source")});
  const std::string said = (command.out + command.err).toStdString();
  EXPECT_EQ(command.status, 0) << said;
  EXPECT_TRUE(command.out.contains(QStringLiteral("keyboard menu at the right of GNOME's top bar")))
      << said;
  EXPECT_FALSE(command.err.contains(QStringLiteral("could not"))) << said;
  // Nothing was switched behind the shell: it stays where the person was, and IBus with it.
  QThread::msleep(500);
  const QString stays = first + QLatin1Char(' ') + engineOf(first);
  EXPECT_EQ(agreement(desktop, stays), stays) << said;
  EXPECT_TRUE(desktop.run(QStringLiteral(TOLVANI_PROGRAM), {QStringLiteral("--input-source-state")})
                  .out.contains(QStringLiteral("selected=0")));

  // What the command says of Super+Space holds: a tap reaches Tolvani, the next one comes back.
  const bool tapPromised = command.out.contains(QStringLiteral("tap Super+Space"));
  EXPECT_TRUE(tapPromised) << said;
  if (tapPromised) {
    ASSERT_TRUE(desktop.key(QStringLiteral("super+space")));
    EXPECT_EQ(waitForSource(desktop, QStringLiteral("tolvani")), QStringLiteral("tolvani"))
        << desktop.shellLog().toStdString();
    EXPECT_EQ(agreement(desktop, QStringLiteral("tolvani tolvani")),
              QStringLiteral("tolvani tolvani"));
    ASSERT_TRUE(desktop.key(QStringLiteral("super+space")));
    EXPECT_EQ(waitForSource(desktop, first), first) << desktop.shellLog().toStdString();
  }

  // The next login starts on the person's layout, and its first tap reaches Tolvani.
  desktop.logout();
  ASSERT_TRUE(desktop.login()) << desktop.failure().toStdString();
  EXPECT_EQ(waitForSource(desktop, first), first)
      << desktop.setting(kSources, QStringLiteral("mru-sources")).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("super+space")));
  EXPECT_EQ(waitForSource(desktop, QStringLiteral("tolvani")), QStringLiteral("tolvani"))
      << desktop.setting(kSources, QStringLiteral("mru-sources")).toStdString();
  EXPECT_EQ(agreement(desktop, QStringLiteral("tolvani tolvani")),
            QStringLiteral("tolvani tolvani"));
}

INSTANTIATE_TEST_SUITE_P(Layouts, GnomeShellEnableTest,
                         ::testing::Values(LayoutCase{"us", "[('xkb', 'us')]", "us"},
                                           LayoutCase{"fr_us", "[('xkb', 'fr'), ('xkb', 'us')]",
                                                      "fr"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A reports folder the test user's program can write into.
QString openToTheTestUser(const QTemporaryDir& folder) {
  QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::WriteOther | QFileDevice::ExeOther);
  return folder.path();
}

// A person not yet onboarded logged in to a 1366x768 shell whose sources are a French and a US
// layout, Tolvani's windows reporting their widgets, before the setup window starts.
struct SetupWindowShell {
  explicit SetupWindowShell(int uiLanguage)
      : report(openToTheTestUser(reports) + QStringLiteral("/windows.txt")),
        desktop({QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR),
                 QSize(1366, 768),
                 true,
                 {QStringLiteral("TOLVANI_TEST_WINDOWS=") + report.path()}}) {
    if (!reports.isValid() || !desktop.failure().isEmpty()) return;
    testing::letTestUserReach(QStringLiteral(TOLVANI_PROGRAM));
    settle(desktop, uiLanguage, /*onboarded=*/false);
    loggedIn = desktop.setSetting(kSources, QStringLiteral("sources"),
                                  QStringLiteral("[('xkb', 'fr'), ('xkb', 'us')]")) &&
               desktop.login();
  }
  bool ready() const { return loggedIn; }

  QTemporaryDir reports;
  testing::WindowReport report;
  GnomeShellDesktop desktop;
  bool loggedIn = false;
};

// The setup window adds Tolvani from a running Tolvani, which serves IBus and ended with the
// daemon that enabling restarted for the shell's order, taking the window with it. The window then
// follows the shell: it used to switch IBus behind the shell and say all was set while the shell's
// indicator stayed on the layout; the switch is the person's, made in the shell, and the window
// says all is set only then.
TEST(GnomeShellSetupTest, SetupWindowAddsTolvaniAndWaitsForThePersonsChoiceInTheShell) {
  SetupWindowShell shell(/*English*/ 1);
  ASSERT_TRUE(shell.ready()) << shell.desktop.failure().toStdString();
  GnomeShellDesktop& desktop = shell.desktop;
  testing::WindowReport& report = shell.report;
  QProcess* setup = desktop.start(QStringLiteral(TOLVANI_PROGRAM), {QStringLiteral("--setup")});
  ASSERT_NE(setup, nullptr);
  const QString windows = QStringLiteral(
      "global.get_window_actors().filter(a => a.meta_window.get_wm_class() == 'tolvani').length");
  const auto page = [&](const QString& name) {
    return report.waitFor(
        [&](const testing::Widget& w) {
          return w.kind == QLatin1String("page") && w.fields.value(0) == name;
        },
        0);
  };
  const auto phaseIs = [&](const QString& words, int ms) {
    return report
        .waitFor(
            [&](const testing::Widget& w) {
              return w.kind == QLatin1String("page") &&
                     w.fields.value(0) == QLatin1String("#phase") && w.fields.value(2) == words;
            },
            ms)
        .has_value();
  };
  // Tolvani is added and the person is asked to choose it where GNOME shows the choice.
  EXPECT_TRUE(phaseIs(
      QStringLiteral("Almost done: choose Tolvani in the keyboard menu in the top bar."), 30000))
      << report.text().toStdString();
  EXPECT_TRUE(desktop.setting(kSources, QStringLiteral("sources")).contains(u"tolvani"));
  EXPECT_TRUE(page(QStringLiteral("row-show"))
                  .value_or(testing::Widget{})
                  .fields.value(2)
                  .contains(QStringLiteral("keyboard menu")))
      << report.text().toStdString();
  EXPECT_TRUE(desktop.screenshot(QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                                 QStringLiteral("/screenshots/gnome-setup-window.png")));
  // Nothing was switched behind the shell.
  EXPECT_EQ(agreement(desktop, QStringLiteral("fr xkb:us::eng")), QStringLiteral("fr xkb:us::eng"));
  EXPECT_EQ(setup->state(), QProcess::Running);
  EXPECT_EQ(desktop.eval(windows), QStringLiteral("1"));

  // The person holds Super and presses Space twice: Tolvani, the last of the shell's order, is
  // chosen; the window then says all is set.
  ASSERT_FALSE(desktop
                   .x(QStringLiteral("xdotool"),
                      {QStringLiteral("keydown"), QStringLiteral("super"), QStringLiteral("key"),
                       QStringLiteral("space"), QStringLiteral("sleep"), QStringLiteral("0.3"),
                       QStringLiteral("key"), QStringLiteral("space"), QStringLiteral("sleep"),
                       QStringLiteral("0.3"), QStringLiteral("keyup"), QStringLiteral("super")})
                   .isNull());
  EXPECT_EQ(agreement(desktop, QStringLiteral("tolvani tolvani")),
            QStringLiteral("tolvani tolvani"));
  EXPECT_TRUE(phaseIs(
      QString::fromUtf8("You\u2019re all set. Press Super+Space to switch keyboards."), 10000))
      << report.text().toStdString();
}

// What the screen shows of the window in Bangla is its last state: GNOME Shell used to keep
// showing a frame of the busy page (its spinner, "Working…", the buttons off) after the page was
// done, until the pointer moved over the window. The first check of a first open ends so, and so
// does each check the person retries.
TEST(GnomeShellSetupTest, SetupWindowInBanglaShowsItsLastStateOnTheScreen) {
  SetupWindowShell shell(/*Bangla*/ 0);
  ASSERT_TRUE(shell.ready()) << shell.desktop.failure().toStdString();
  GnomeShellDesktop& desktop = shell.desktop;
  testing::WindowReport& report = shell.report;
  ASSERT_NE(desktop.start(QStringLiteral(TOLVANI_PROGRAM), {QStringLiteral("--setup")}), nullptr);
  const auto retry = testing::WindowReport::pageButton(QStringLiteral("retry"));
  // Idle once the setup's check has ended: the retry button is on.
  ASSERT_TRUE(report.waitFor(retry, 30000)) << report.text().toStdString();
  const std::optional<testing::Widget> window =
      report.waitFor([](const testing::Widget& w) { return w.kind == QLatin1String("window"); }, 0);
  ASSERT_TRUE(window);
  const QString xid = window->fields.value(3);
  const QString shots = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + QStringLiteral("/screenshots/");
  // Idle: a run the window starts on its own (when the session's IBus comes back after a run
  // restarted it) may follow the end of the check.
  const auto idle = [&] { return report.waitFor(retry, 0).has_value(); };
  EXPECT_TRUE(screenShowsWindow(desktop, xid,
                                shots + QStringLiteral("gnome-setup-window-bn-opened"), 5000, idle))
      << desktop.shellLog().toStdString();
  EXPECT_TRUE(desktop.screenshot(shots + QStringLiteral("gnome-setup-window-bn.png")));
  for (int round = 0; round < 10; ++round) {
    const std::optional<testing::Widget> button = report.waitFor(retry, 10000);
    ASSERT_TRUE(button && desktop.click(button->place.center())) << report.text().toStdString();
    // Busy, then idle again (a short check may end between two reports).
    report.waitForNone(retry, 3000);
    ASSERT_TRUE(report.waitFor(retry, 30000)) << report.text().toStdString();
    EXPECT_TRUE(screenShowsWindow(
        desktop, xid, shots + QStringLiteral("gnome-setup-window-bn-retried"), 5000, idle))
        << "after retry " << round << "\n"
        << desktop.shellLog().toStdString();
  }
}

struct LanguageCase {
  const char* name;
  int uiLanguage;  // as AppSettings stores it: 0 Bangla, 1 English
};
void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }

class GnomeShellMenuTest : public ::testing::TestWithParam<LanguageCase> {};

// Where the keyboard menu lies and each of its rows: [x, y, width, height, rows], a row being
// [label, y, height, whether it opens a submenu, whether it lies in a submenu's scrolling view,
// the view's y, the view's height] (the view is the row itself outside a submenu).
const QString kMenuScript = QStringLiteral(
    "const Popup = imports.ui.popupMenu;"
    "const menu = Main.panel.statusArea.keyboard.menu;"
    "const rows = [];"
    "const walk = (a, scroller) => { for (const c of a.get_children()) {"
    "  if (c instanceof Popup.PopupBaseMenuItem && c.visible && c.mapped) {"
    "    const view = scroller || c;"
    "    const [, y] = c.get_transformed_position();"
    "    const [, viewY] = view.get_transformed_position();"
    "    rows.push([c.label ? c.label.text : '', y, c.height,"
    "               c instanceof Popup.PopupSubMenuMenuItem, !!scroller, viewY, view.height]); }"
    "  walk(c, c instanceof imports.gi.St.ScrollView ? c : scroller); } };"
    "walk(menu.box, null);"
    "const [x, y] = menu.actor.get_transformed_position();"
    "JSON.stringify([x, y, menu.actor.width, menu.actor.height, rows]);");

// The first row of `menu` (as kMenuScript answers) whose label starts with one of `labels`.
QJsonArray rowOf(const QJsonArray& menu, const QStringList& labels) {
  for (const QJsonValue& value : menu[4].toArray()) {
    const QString label = value.toArray()[0].toString();
    for (const QString& start : labels) {
      if (label.startsWith(start)) return value.toArray();
    }
  }
  return {};
}

// The person who chose Tolvani before logs in: the shell starts on it. Tolvani's desktop entry
// and icon are where an installed package puts them, for the shell to find.
void loginOnTolvani(GnomeShellDesktop& desktop, const LanguageCase& c, const QString& sources,
                    const QString& mru) {
  settle(desktop, c.uiLanguage);
  const QString data = desktop.dataHome();
  QDir().mkpath(data + QStringLiteral("/applications"));
  QDir().mkpath(data + QStringLiteral("/icons/hicolor/scalable/apps"));
  // GLib passes over an entry whose program is not on the path: it names the build's program.
  QFile entry(QStringLiteral(TOLVANI_DESKTOP_ENTRY));
  QFile installed(data + QStringLiteral("/applications/tolvani.desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly) && installed.open(QIODevice::WriteOnly));
  installed.write(QString::fromUtf8(entry.readAll())
                      .replace(QStringLiteral("Exec=tolvani"),
                               QStringLiteral("Exec=") + QStringLiteral(TOLVANI_PROGRAM))
                      .toUtf8());
  installed.close();
  testing::letTestUserReach(QStringLiteral(TOLVANI_PROGRAM));
  QFile::copy(QStringLiteral(TOLVANI_ICON_FILE),
              data + QStringLiteral("/icons/hicolor/scalable/apps/tolvani.svg"));
  desktop.giveProfile();
  ASSERT_TRUE(desktop.setSetting(kSources, QStringLiteral("sources"), sources));
  if (!mru.isEmpty()) {
    ASSERT_TRUE(desktop.setSetting(kSources, QStringLiteral("mru-sources"), mru));
  }
  ASSERT_TRUE(desktop.login()) << desktop.failure().toStdString();
  ASSERT_EQ(waitForSource(desktop, QStringLiteral("tolvani")), QStringLiteral("tolvani"));
}

// The shell shows an engine's rows once the engine has registered them.
bool rowsRegistered(GnomeShellDesktop& desktop) {
  const QDeadlineTimer registered(15000);
  while (desktop.eval(QStringLiteral("!!imports.ui.status.keyboard.getInputSourceManager()"
                                     ".currentSource.properties")) != QLatin1String("true")) {
    if (registered.hasExpired()) return false;
    QThread::msleep(100);
  }
  return true;
}

// Opens the keyboard menu as a person opens it: a click on the indicator in the top bar.
bool openKeyboardMenu(GnomeShellDesktop& desktop) {
  const QJsonArray indicator =
      record(desktop, QStringLiteral("const k = Main.panel.statusArea.keyboard;"
                                     "const [x, y] = k.get_transformed_position();"
                                     "JSON.stringify([x, y, k.width, k.height]);"));
  if (indicator.size() != 4 ||
      !desktop.click(QPoint(indicator[0].toInt() + indicator[2].toInt() / 2,
                            indicator[1].toInt() + indicator[3].toInt() / 2)))
    return false;
  const QDeadlineTimer opened(5000);
  while (desktop.eval(QStringLiteral("Main.panel.statusArea.keyboard.menu.isOpen")) !=
         QLatin1String("true")) {
    if (opened.hasExpired()) return false;
    QThread::msleep(100);
  }
  QThread::msleep(500);  // its opening animation
  return true;
}

// Clicks the middle of `row` of the open `menu`.
bool clickRow(GnomeShellDesktop& desktop, const QJsonArray& menu, const QJsonArray& row) {
  return desktop.click(
      QPoint(menu[0].toInt() + menu[2].toInt() / 2, row[1].toInt() + row[2].toInt() / 2));
}

const int kScreenHeight = 768;

// With Tolvani's rows beside GNOME's the menu ran past the bottom of the screen, its last rows
// out of reach; then its tools opened in a view 105 px tall, Settings... six rows down it. Each
// submenu now opens whole, and the settings window it opens is Tolvani's in the top bar.
TEST_P(GnomeShellMenuTest, KeyboardMenuFitsTheScreenAndItsRowsAct) {
  const LanguageCase& c = GetParam();
  GnomeShellDesktop desktop({QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR)});
  ASSERT_TRUE(desktop.failure().isEmpty()) << desktop.failure().toStdString();
  loginOnTolvani(desktop, c, QStringLiteral("[('xkb', 'us'), ('ibus', 'tolvani')]"),
                 QStringLiteral("[('ibus', 'tolvani'), ('xkb', 'us')]"));
  if (HasFatalFailure()) return;
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3,
                                    {QStringLiteral("--title"), QStringLiteral("Editor")});
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0)) << window->errors().toStdString();
  ASSERT_TRUE(rowsRegistered(desktop)) << "Tolvani registered no rows with the shell";

  // The field types through Tolvani, phonetically.
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  ASSERT_TRUE(window->waitForText(0, QString::fromUtf8("আমি "), 10000))
      << window->text(0).toStdString() << " / " << desktop.ibusEngine().toStdString();
  ASSERT_TRUE(window->clear(0));

  ASSERT_TRUE(openKeyboardMenu(desktop)) << "the keyboard menu did not open";
  const QString name = QString::fromLatin1(c.name);
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + QStringLiteral("/screenshots/");
  EXPECT_TRUE(desktop.screenshot(folder + QStringLiteral("gnome-keyboard-menu-") + name +
                                 QStringLiteral(".png")));

  // The whole menu on the screen, and every row. Each submenu opened in turn, the last first
  // (opening one closes the other): each of its rows lies whole in its view, none scrolled away.
  const auto fits = [&](const QJsonArray& menu) {
    ASSERT_EQ(menu.size(), 5);
    EXPECT_LE(menu[1].toInt() + menu[3].toInt(), kScreenHeight)
        << "menu " << menu[3].toInt() << " px tall from y " << menu[1].toInt();
    for (const QJsonValue& value : menu[4].toArray()) {
      const QJsonArray row = value.toArray();
      const std::string label = row[0].toString().toStdString();
      EXPECT_LE(row[5].toInt() + row[6].toInt(), kScreenHeight) << "out of reach: " << label;
      EXPECT_GE(row[1].toDouble(), row[5].toDouble() - 1) << "scrolled away: " << label;
      EXPECT_LE(row[1].toDouble() + row[2].toDouble(), row[5].toDouble() + row[6].toDouble() + 1)
          << "needs scrolling: " << label;
    }
  };
  QJsonArray menu = record(desktop, kMenuScript);
  fits(menu);
  QStringList submenus;
  for (const QJsonValue& value : menu[4].toArray()) {
    if (value.toArray()[3].toBool()) submenus << value.toArray()[0].toString();
  }
  ASSERT_FALSE(submenus.isEmpty()) << desktop.eval(kMenuScript).toStdString();
  const QStringList settings = {QStringLiteral("Settings"), QString::fromUtf8("সেটিংস")};
  bool settingsShown = false;
  for (qsizetype i = submenus.size() - 1; i >= 0; --i) {
    SCOPED_TRACE(submenus[i].toStdString());
    ASSERT_TRUE(clickRow(desktop, menu, rowOf(menu, {submenus[i]})));
    QThread::msleep(700);  // its opening animation
    menu = record(desktop, kMenuScript);
    fits(menu);
    int inside = 0;
    for (const QJsonValue& value : menu[4].toArray()) inside += value.toArray()[4].toBool();
    EXPECT_GT(inside, 0) << "the submenu did not open: " << desktop.eval(kMenuScript).toStdString();
    settingsShown = settingsShown || !rowOf(menu, settings).isEmpty();
    EXPECT_TRUE(desktop.screenshot(folder + QStringLiteral("gnome-keyboard-submenu%1-").arg(i) +
                                   name + QStringLiteral(".png")));
  }
  EXPECT_TRUE(settingsShown) << "no Settings row";
  const QJsonArray probhat = rowOf(menu, {QString::fromUtf8("প্রভাত (Probhat)")});
  ASSERT_FALSE(probhat.isEmpty()) << "no Probhat row: " << desktop.eval(kMenuScript).toStdString();

  // The row acts: Probhat's keys are not the phonetic ones.
  ASSERT_TRUE(clickRow(desktop, menu, probhat));
  const QDeadlineTimer closed(5000);
  while (desktop.eval(QStringLiteral("Main.panel.statusArea.keyboard.menu.isOpen")) !=
         QLatin1String("false")) {
    ASSERT_FALSE(closed.hasExpired()) << "the keyboard menu stayed open";
    QThread::msleep(100);
  }
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  // Probhat's keys: a is the vowel sign aa, m and i are ma and the vowel sign i.
  EXPECT_TRUE(window->waitForText(0, QString::fromUtf8("ামি "), 10000))
      << window->text(0).toStdString();
  EXPECT_TRUE(desktop.screenshot(folder + QStringLiteral("gnome-probhat-typed-") + name +
                                 QStringLiteral(".png")));

  // Settings... opens the settings window, which the top bar names after Tolvani's desktop entry
  // (it named it "tolvani", the program's window class).
  ASSERT_TRUE(openKeyboardMenu(desktop));
  menu = record(desktop, kMenuScript);
  const QString tools =
      rowOf(menu, {QStringLiteral("Tools"), QString::fromUtf8("টুলস")}).at(0).toString();
  ASSERT_TRUE(clickRow(desktop, menu, rowOf(menu, {tools})));
  QThread::msleep(700);
  menu = record(desktop, kMenuScript);
  const QJsonArray settingsRow = rowOf(menu, settings);
  ASSERT_FALSE(settingsRow.isEmpty()) << desktop.eval(kMenuScript).toStdString();
  ASSERT_TRUE(clickRow(desktop, menu, settingsRow));
  const QString app =
      QStringLiteral(
          "const tracker = imports.gi.Shell.WindowTracker.get_default();"
          "JSON.stringify(global.get_window_actors().map(a => a.meta_window)"
          "  .filter(w => w.get_title() == '%1')"
          "  .map(w => [w.get_wm_class_instance(), w.get_wm_class(),"
          "             tracker.get_window_app(w).get_name(), "
          "tracker.get_window_app(w).get_id()]));")
          .arg(c.uiLanguage == 0 ? QString::fromUtf8("তোলভানি") : QStringLiteral("Tolvani"));
  QJsonArray windows;
  const QDeadlineTimer shown(20000);
  while ((windows = record(desktop, app)).isEmpty() && !shown.hasExpired()) QThread::msleep(200);
  ASSERT_EQ(windows.size(), 1) << desktop.eval(app).toStdString();
  const QJsonArray settingsWindow = windows[0].toArray();
  EXPECT_EQ(settingsWindow[2].toString().toStdString(), "Tolvani")
      << QJsonDocument(settingsWindow).toJson(QJsonDocument::Compact).toStdString();
  EXPECT_EQ(settingsWindow[3].toString().toStdString(), "tolvani.desktop");
  // The shell's first match, whatever the file the program runs as: the window's class is the
  // entry's StartupWMClass.
  QFile entry(QStringLiteral(TOLVANI_DESKTOP_ENTRY));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  const QString wmClass = QString::fromUtf8(entry.readAll())
                              .section(QStringLiteral("StartupWMClass="), 1)
                              .section(u'\n', 0, 0);
  EXPECT_EQ(settingsWindow[1].toString().toStdString(), wmClass.toStdString());
  QThread::msleep(500);
  EXPECT_TRUE(desktop.screenshot(folder + QStringLiteral("gnome-settings-window-") + name +
                                 QStringLiteral(".png")));
}

// GNOME Shell reads an engine's rows once after each switch of engine, so the secure-entry row,
// which came as a new list, never showed. The shell keeps Tolvani for a password field when all
// its sources are IBus's (with a layout among them it changes to the layout there itself).
TEST_P(GnomeShellMenuTest, SecureEntryRowShowsWhileAPasswordFieldHasTheFocus) {
  const LanguageCase& c = GetParam();
  GnomeShellDesktop desktop({QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR)});
  ASSERT_TRUE(desktop.failure().isEmpty()) << desktop.failure().toStdString();
  loginOnTolvani(desktop, c, QStringLiteral("[('ibus', 'tolvani')]"), QString());
  if (HasFatalFailure()) return;
  TextWindow* login = desktop.open(
      TextWindow::Toolkit::Gtk3,
      {QStringLiteral("--title"), QStringLiteral("Login"), QStringLiteral("--password")});
  ASSERT_NE(login, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*login, 0)) << login->errors().toStdString();
  ASSERT_TRUE(rowsRegistered(desktop)) << "Tolvani registered no rows with the shell";
  // Typing there stays Latin.
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  ASSERT_TRUE(login->waitForText(0, QStringLiteral("ami "), 10000)) << login->text(0).toStdString();

  const QString secure = QString::fromUtf8("Secure Keyboard Entry is active — using English");
  ASSERT_TRUE(openKeyboardMenu(desktop)) << "the keyboard menu did not open";
  QJsonArray menu = record(desktop, kMenuScript);
  EXPECT_FALSE(rowOf(menu, {secure}).isEmpty()) << desktop.eval(kMenuScript).toStdString();
  EXPECT_TRUE(desktop.screenshot(QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                                 QStringLiteral("/screenshots/gnome-keyboard-menu-password-") +
                                 QString::fromLatin1(c.name) + QStringLiteral(".png")));
  ASSERT_TRUE(desktop.key(QStringLiteral("Escape")));

  // Another field, not a password one: the row goes.
  TextWindow* editor =
      desktop.open(TextWindow::Toolkit::Gtk3, {QStringLiteral("--title"), QStringLiteral("Editor"),
                                               QStringLiteral("--x"), QStringLiteral("500")});
  ASSERT_NE(editor, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*editor, 0)) << editor->errors().toStdString();
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  ASSERT_TRUE(editor->waitForText(0, QString::fromUtf8("আমি "), 10000))
      << editor->text(0).toStdString();
  ASSERT_TRUE(openKeyboardMenu(desktop)) << "the keyboard menu did not open";
  menu = record(desktop, kMenuScript);
  EXPECT_TRUE(rowOf(menu, {secure}).isEmpty()) << desktop.eval(kMenuScript).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Languages, GnomeShellMenuTest,
                         ::testing::Values(LanguageCase{"english", 1}, LanguageCase{"bangla", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvani
