// The process that serves IBus never carries the setup window's web engine: the built program,
// started by a private ibus-daemon, types through a test client with no Qt WebEngine, Qt Quick or
// QML library mapped (and, on an X display, no graphics driver), before and after the input menu
// opens the window, whose guide page comes up in the window's own process, which maps them with the
// window's module and ends, its engine's helpers with it, when the window closes.
#include <gtest/gtest.h>
#include <ibus.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/ProcessMemory.h"
#include "ime/testing/TestUser.h"
#ifdef TOLVANI_VIRTUAL_DESKTOP
#include "ime/testing/VirtualDesktop.h"
#endif

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::TestInputContext;
using testing::typeKeys;

// The libraries the setup window brings; none belongs in a process that only types.
const QStringList kWindowLibraries = {QStringLiteral("libQt6WebEngine"),
                                      QStringLiteral("libQt6Quick"), QStringLiteral("libQt6Qml"),
                                      QStringLiteral("libtolvani_setup_window")};
// The GL driver the web engine's shared context loads (Mesa's, as on this machine), beside the
// small dispatch libraries every Qt GUI program maps.
const QStringList kGraphicsDrivers = {QStringLiteral("libGLX_mesa"), QStringLiteral("libLLVM"),
                                      QStringLiteral("swrast_dri"), QStringLiteral("libgallium")};

// 100 keys of phonetic text, ending on a space.
const char* const kWords[] = {"ami ",  "tomake ", "bhalobashi ", "amar ",  "nam ",       "rahim ",
                              "ajke ", "hawa ",   "khub ",       "bhalo ", "tumi ",      "kemon ",
                              "acho ", "ami ",    "bhat ",       "khete ", "bhalobashi "};

QString readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Whether the program's window report shows the setup window with its guide page's buttons.
bool guideShown(const QString& report) {
  bool window = false;
  bool page = false;
  for (const QString& line : report.split(u'\n')) {
    const QStringList fields = line.split(u'\t');
    if (fields.value(0) == QLatin1String("window") &&
        (fields.value(3) == QLatin1String("Keyboard Setup") ||
         fields.value(3) == QString::fromUtf8("কীবোর্ড সেটআপ")))
      window = true;
    if (fields.value(0) == QLatin1String("page")) page = true;
  }
  return window && page;
}

class SetupWindowModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(reports_.isValid()); }

  IBusDaemonHarness::Options options() const {
    IBusDaemonHarness::Options options;
    options.componentFolder = QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR);
    options.quiet = true;
    options.environment = {
        QStringLiteral("TOLVANI_TEST_WINDOWS=") + report(),
        // Under the sanitizers: Qt WebEngine's own sized deletes of another type, and its leaks.
        QStringLiteral("ASAN_OPTIONS=") + qEnvironmentVariable("ASAN_OPTIONS") +
            QStringLiteral(":detect_leaks=0:new_delete_type_mismatch=0")};
    return options;
  }
  QString report() const { return reports_.path() + QStringLiteral("/windows.txt"); }

  // Types 100 keys through `harness`'s daemon into the program, checks what it maps (also none of
  // `absentToo`), opens the setup window from the input menu and checks what it maps then.
  void typeThenOpenTheWindow(IBusDaemonHarness& harness, const QStringList& absentToo) {
    TestInputContext context(harness, "editor");
    context.focusIn();
    context.setCursorLocation(100, 200, 1, 18);
    context.selectEngine("tolvani");
    ASSERT_TRUE(harness.waitFor([&] {
      return harness.events().contains("activate " + context.objectPath());
    })) << harness.events().join('\n').toStdString();
    int keys = 0;
    for (const char* word : kWords) {
      EXPECT_EQ(typeKeys(context, word), 0) << word;
      keys += static_cast<int>(std::strlen(word));
    }
    ASSERT_EQ(keys, 100);
    ASSERT_TRUE(harness.waitFor([&] {
      return context.commits.size() == static_cast<qsizetype>(std::size(kWords));
    })) << context.commits.join('|').toStdString();

    const qint64 pid = testing::servingProcess(harness);
    ASSERT_GT(pid, 0) << "no tolvani --ibus serves the daemon";
    EXPECT_EQ(testing::mappedLibraries(pid, kWindowLibraries + absentToo).join(u' ').toStdString(),
              "");
    std::printf("resident after %d keys: %ld KiB\n", keys, testing::residentKiB(pid));

    context.activateProperty("openKeyboardSetup");
    harness.settle();
    ASSERT_TRUE(harness.waitFor([&] { return guideShown(readFile(report())); }))
        << readFile(report()).toStdString();
    // The window, its web view and its page are its own process's, which the serving process
    // started; the serving process maps none of it.
    EXPECT_EQ(testing::servingProcess(harness), pid);
    EXPECT_EQ(testing::mappedLibraries(pid, kWindowLibraries + absentToo).join(u' ').toStdString(),
              "");
    const qint64 window = testing::setupWindowProcess(pid);
    ASSERT_GT(window, 0)
        << testing::descendants(pid, QStringLiteral("tolvani")).join(u'\n').toStdString();
    const QStringList mapped = testing::mappedLibraries(window, kWindowLibraries);
    for (const char* library : {"libtolvani_setup_window.so", "libQt6WebEngineCore.so",
                                "libQt6WebEngineWidgets.so", "libQt6Quick.so", "libQt6Qml.so"}) {
      EXPECT_TRUE(std::any_of(mapped.begin(), mapped.end(),
                              [&](const QString& name) { return name.startsWith(library); }))
          << library << " not mapped: " << mapped.join(u' ').toStdString();
    }
    std::printf("resident with the setup window open: %ld KiB, and its process %ld KiB\n",
                testing::residentKiB(pid), testing::residentKiB(window));

    // Typing goes on with the window open.
    context.commits.clear();
    EXPECT_EQ(typeKeys(context, "ami "), 0);
    EXPECT_TRUE(harness.waitFor([&] { return context.commits.size() == 1; }));
    EXPECT_EQ(context.commits.value(0).toStdString(), "\u0986\u09AE\u09BF ");
  }

  QTemporaryDir reports_;
};

TEST_F(SetupWindowModuleTest, TypingProcessNeverMapsTheWebEngine) {
  IBusDaemonHarness::Options offscreen = options();
  // No GPU to look for without a display.
  offscreen.environment << QStringLiteral("QT_QUICK_BACKEND=software");
  IBusDaemonHarness harness(offscreen);
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  typeThenOpenTheWindow(harness, {});
}

#ifdef TOLVANI_VIRTUAL_DESKTOP
// On an X display the web engine's shared GL context loads the graphics driver; the typing
// process goes without it, and the window's process draws the guide page with GL.
TEST_F(SetupWindowModuleTest, OnAnXDisplayTypingProcessNeverLoadsTheGraphicsDriver) {
  testing::VirtualDesktop desktop(options(), QSize(1280, 800));
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  typeThenOpenTheWindow(desktop.ibus(), kGraphicsDrivers);
}

// The setup window's X id and where its guide page shows the button of `action` (of `chapter`,
// when given), as reported.
struct ShownGuide {
  QString window;
  QString buttonText;
  QRect button;
};
ShownGuide shownGuide(const QString& report, const QString& action,
                      const QString& chapter = QString()) {
  ShownGuide shown;
  bool inGuide = false;
  for (const QString& line : report.split(u'\n')) {
    const QStringList fields = line.split(u'\t');
    if (fields.value(0) == QLatin1String("window")) {
      inGuide = fields.value(3) == QLatin1String("Keyboard Setup") ||
                fields.value(3) == QString::fromUtf8("কীবোর্ড সেটআপ");
      if (inGuide) shown.window = fields.value(4);
    } else if (inGuide && fields.value(0) == QLatin1String("page") && fields.value(1) == action &&
               (chapter.isEmpty() || fields.value(2) == chapter)) {
      const QStringList n = fields.value(4).split(u' ');
      shown.buttonText = fields.value(3);
      if (n.size() == 4)
        shown.button = QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
    }
  }
  return shown;
}

// Closing the setup window ends its web engine's helper processes, and the window opens again as
// it did the first time: its guide page comes up and answers its buttons, close after close.
TEST_F(SetupWindowModuleTest, ClosingTheSetupWindowEndsTheWebEngineHelpersAndItOpensAgain) {
  testing::VirtualDesktop desktop(options(), QSize(1280, 800));
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  IBusDaemonHarness& harness = desktop.ibus();
  typeThenOpenTheWindow(harness, kGraphicsDrivers);
  if (HasFatalFailure()) return;
  const qint64 pid = testing::servingProcess(harness);
  const QString helper = QStringLiteral("QtWebEngineProcess");

  TestInputContext context(harness, "menu");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] { return !context.menu.isEmpty(); }));
  // Three closes, and after each the window opened again; the last one is left open.
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE(round);
    // Each page comes up drawn in the interface's language (Bangla, as on a new machine), whatever
    // the page before it was switched to: its switch offers English.
    ShownGuide shown;
    ASSERT_TRUE(harness.waitFor([&] {
      shown = shownGuide(readFile(report()), QStringLiteral("language"));
      return !shown.window.isEmpty() && !shown.button.isEmpty() &&
             shown.buttonText == QLatin1String("English");
    })) << readFile(report()).toStdString();
    // The page answers: its language switch goes to the program and comes back re-rendered.
    ASSERT_TRUE(desktop.click(shown.button.center()));
    EXPECT_TRUE(harness.waitFor([&] {
      return shownGuide(readFile(report()), QStringLiteral("language")).buttonText ==
             QString::fromUtf8("বাংলা");
    })) << readFile(report()).toStdString();
    EXPECT_FALSE(testing::descendants(pid, helper).isEmpty())
        << "the guide shows with no web engine helper";
    if (round == 4) break;
    ASSERT_TRUE(desktop.closeWindow(shown.window));
    EXPECT_TRUE(harness.waitFor([&] {
      return shownGuide(readFile(report()), {}).window.isEmpty();
    })) << readFile(report()).toStdString();
    // A generous bound: the window's process and the helpers end within moments.
    EXPECT_TRUE(testing::waitUntil(
        [&] {
          return testing::setupWindowProcess(pid) == 0 &&
                 testing::descendants(pid, helper).isEmpty();
        },
        30000))
        << testing::descendants(pid, helper).join(u'\n').toStdString();
    std::printf("resident after closing the setup window (%d): %ld KiB\n", round,
                testing::residentKiB(pid));

    context.activateProperty("openKeyboardSetup");
    ASSERT_TRUE(harness.waitFor([&] { return guideShown(readFile(report())); }))
        << readFile(report()).toStdString();
    // The same process throughout: nothing crashed.
    ASSERT_EQ(testing::servingProcess(harness), pid);
  }

  // The tour opens the keyboard help in the serving process, where it outlives the setup window.
  // Its layouts chapter names the layout chosen in the menu.
  context.activateProperty("switchToUnijoy");
  ASSERT_TRUE(harness.waitFor([&] {
    return context.menu.contains(
        QString::fromUtf8("switchToUnijoy|radio|ইউনিজয় (Unijoy)|on|enabled"));
  })) << context.menuText().toStdString();
  context.activateProperty("openKeyboardTour");
  ShownGuide chapter;
  ASSERT_TRUE(harness.waitFor([&] {
    chapter = shownGuide(readFile(report()), QStringLiteral("tourChapter"), QStringLiteral("2"));
    return !chapter.button.isEmpty();
  })) << readFile(report()).toStdString();
  ASSERT_TRUE(desktop.click(chapter.button.center()));
  ShownGuide help;
  ASSERT_TRUE(harness.waitFor([&] {
    help = shownGuide(readFile(report()), QStringLiteral("help"));
    return !help.button.isEmpty();
  })) << readFile(report()).toStdString();
  const auto shoot = [&] {
    const bool english = help.buttonText == QLatin1String("Open Keyboard Help");
    return desktop.screenshot(
        QStringLiteral(TOLVANI_TEST_BINARY_DIR "/screenshots/tour-layouts-") +
        (english ? QStringLiteral("english.png") : QStringLiteral("bangla.png")));
  };
  EXPECT_TRUE(shoot());
  // The same chapter in the other language.
  const QString before = help.buttonText;
  ASSERT_TRUE(
      desktop.click(shownGuide(readFile(report()), QStringLiteral("language")).button.center()));
  ASSERT_TRUE(harness.waitFor([&] {
    help = shownGuide(readFile(report()), QStringLiteral("help"));
    return !help.button.isEmpty() && help.buttonText != before;
  })) << readFile(report()).toStdString();
  EXPECT_TRUE(shoot());
  ASSERT_TRUE(desktop.click(help.button.center()));
  const auto helpShown = [&] {
    return readFile(report()).contains(QString::fromUtf8("\tকীবোর্ড লে-আউট সাহায্য\t"));
  };
  ASSERT_TRUE(harness.waitFor(helpShown)) << readFile(report()).toStdString();
  ASSERT_TRUE(desktop.closeWindow(help.window));
  EXPECT_TRUE(testing::waitUntil(
      [&] {
        return testing::setupWindowProcess(pid) == 0 && testing::descendants(pid, helper).isEmpty();
      },
      30000));
  EXPECT_TRUE(harness.waitFor([&] { return shownGuide(readFile(report()), {}).window.isEmpty(); }))
      << readFile(report()).toStdString();
  EXPECT_TRUE(helpShown()) << readFile(report()).toStdString();
  EXPECT_EQ(testing::servingProcess(harness), pid);
}

// With the web engine's sandbox on, as for every user but the superuser, the engine starts zygote
// helpers that live as long as it does. The window's process, run as an ordinary user and told
// what to do as the program tells it, shows the guide, ends when the window closes (with what it
// stored on disk) or when a logout signals it, and takes every helper with it.
TEST_F(SetupWindowModuleTest, SandboxedEngineHelpersEndWithTheWindowsProcess) {
  testing::VirtualDesktop desktop(options(), QSize(1280, 800));
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QString runtime = home.path() + QStringLiteral("/runtime");
  ASSERT_TRUE(QDir().mkpath(runtime));
  ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
  testing::giveToTestUser(home.path());
  testing::letTestUserReach(QStringLiteral(TOLVANI_PROGRAM));

  QProcessEnvironment environment;
  const QStringList variables = {
      QStringLiteral("PATH=/usr/bin:/bin"),
      QStringLiteral("LANG=C.UTF-8"),
      QStringLiteral("DISPLAY=") + desktop.display(),
      QStringLiteral("QT_QPA_PLATFORM=xcb"),
      QStringLiteral("HOME=") + home.path(),
      QStringLiteral("XDG_RUNTIME_DIR=") + runtime,
      QStringLiteral("XDG_CONFIG_HOME=") + home.path() + QStringLiteral("/config"),
      QStringLiteral("XDG_DATA_HOME=") + home.path() + QStringLiteral("/data"),
      QStringLiteral("XDG_CACHE_HOME=") + home.path() + QStringLiteral("/cache"),
      QStringLiteral("GSETTINGS_BACKEND=memory"),
      QStringLiteral("TOLVANI_TEST_WINDOWS=forwarded"),
      QStringLiteral("ASAN_OPTIONS=") + qEnvironmentVariable("ASAN_OPTIONS") +
          QStringLiteral(":detect_leaks=0:new_delete_type_mismatch=0")};
  for (const QString& variable : variables)
    environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
  const auto stored = [&] {
    QDirIterator files(home.path(), {QStringLiteral("*.plist")}, QDir::Files,
                       QDirIterator::Subdirectories);
    QByteArray settings;
    while (files.hasNext()) settings += readFile(files.next()).toUtf8();
    return settings;
  };
  // A logout's SIGTERM then SIGHUP first, then the window closed as a person closes it.
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "closed" : "logout");
    QProcess window;
    window.setProcessEnvironment(environment);
    testing::startAsTestUser(window, QStringLiteral(TOLVANI_PROGRAM),
                             {QStringLiteral("--setup-window")});
    ASSERT_TRUE(window.waitForStarted()) << window.errorString().toStdString();
    window.write("show\n");

    QString report;
    QStringList answers;
    QByteArray pending;
    const auto until = [&](const std::function<bool()>& condition) {
      QDeadlineTimer deadline(60000);
      while (!condition()) {
        if (deadline.hasExpired()) return false;
        window.waitForReadyRead(100);
        pending += window.readAllStandardOutput();
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
          const QByteArray line = pending.left(end);
          pending.remove(0, end + 1);
          if (line.startsWith("report "))
            report = QString::fromUtf8(QByteArray::fromBase64(line.mid(7)));
          else
            answers << QString::fromUtf8(line);
        }
      }
      return true;
    };
    ASSERT_TRUE(until([&] { return guideShown(report); }))
        << report.toStdString() << window.readAllStandardError().toStdString();
    const QStringList helpers =
        testing::descendants(window.processId(), QStringLiteral("QtWebEngineProcess"));
    // The sandbox is on: the engine forked its page's process from a zygote.
    EXPECT_FALSE(helpers.filter(QStringLiteral("--type=zygote")).isEmpty())
        << helpers.join(u'\n').toStdString();

    if (closed) {
      ASSERT_TRUE(desktop.closeWindow(shownGuide(report, {}).window));
      ASSERT_TRUE(until([&] { return answers.contains(QStringLiteral("closed")); }))
          << answers.join(u' ').toStdString();
    } else {
      const auto pid = static_cast<pid_t>(window.processId());
      ASSERT_EQ(::kill(pid, SIGTERM), 0);
      ASSERT_EQ(::kill(pid, SIGHUP), 0);
    }
    ASSERT_TRUE(window.waitForFinished(30000));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 0) << window.readAllStandardError().toStdString();
    // The helpers go once their engine has (the bound is generous; it takes moments).
    for (const QString& helper : helpers) {
      const qint64 pid = helper.section(u' ', 0, 0).toLongLong();
      EXPECT_TRUE(testing::waitUntil([&] { return !testing::isRunning(pid); }, 5000))
          << helper.toStdString();
    }
    // A window a person closed before setup completed is offered again only if setup still
    // lacks something; one a logout ended is offered as before.
    EXPECT_EQ(stored().contains("onboardingDeferred"), closed) << stored().toStdString();
  }
}
#endif

}  // namespace
}  // namespace tolvani
