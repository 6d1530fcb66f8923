// One setup run from a freshly installed, unregistered Tolvani to completed onboarding, against a
// private ibus-daemon with the built program as the command-mode child and IBus's own tools; then
// typing through the program the daemon starts, and a change of the user's input sources reaching
// the open window. Everything of the user's (the daemon and its session bus, the setup window's
// process, its children, the program serving IBus, its dconf settings and the XDG folders)
// runs as an ordinary user: the test user when the test runs as root, with no user id faked;
// installing the component file stays root's, as a package's is.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <ibus.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/TestUser.h"
#include "platform/Bundle.h"
#include "platform/testing/ChildProcess.h"
#include "settings/AppSettings.h"
#include "setup/InputSourceProbe.h"
#include "setup/onboarding/tests/OnboardingTestSupport.h"
#include "setup/tests/PrivateIBusDaemon.h"

namespace tolvani {
namespace {

using testing::settleUntil;

void report(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

// The program's processes that serve this test's daemon, each as "pid ruid/euid".
QStringList engineProcesses(const QString& program) {
  const QByteArray address = "IBUS_ADDRESS_FILE=" + qgetenv("IBUS_ADDRESS_FILE");
  QStringList ids;
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly) || !environ.open(QIODevice::ReadOnly)) continue;
    const QList<QByteArray> argv = cmdline.readAll().split('\0');
    if (argv.size() < 2 || argv[0] != QFile::encodeName(program) || argv[1] != "--ibus") continue;
    if (!environ.readAll().split('\0').contains(address)) continue;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : status.readAll().split('\n')) {
      if (line.startsWith("Uid:")) {
        const QList<QByteArray> uids = line.simplified().split(' ');
        ids << pid + u' ' + QString::fromLatin1(uids.value(1) + '/' + uids.value(2));
      }
    }
  }
  return ids;
}

// Types `keys` into a new input context of the session's daemon, focused, with the engine
// it takes; returns what the input method committed.
QStringList typeThroughDaemon(const char* keys) {
  ibus_init();
  IBusBus* bus = ibus_bus_new();
  QStringList commits;
  if (!ibus_bus_is_connected(bus)) {
    g_object_unref(bus);
    return commits;
  }
  IBusInputContext* context = ibus_bus_create_input_context(bus, "editor");
  if (context != nullptr) {
    ibus_input_context_set_capabilities(context, IBUS_CAP_FOCUS | IBUS_CAP_PREEDIT_TEXT);
    g_signal_connect(context, "commit-text",
                     G_CALLBACK(+[](IBusInputContext*, IBusText* text, QStringList* out) {
                       out->append(QString::fromUtf8(ibus_text_get_text(text)));
                     }),
                     &commits);
    ibus_input_context_focus_in(context);
    // The global engine the setup chose, started on the first focus.
    settleUntil([&] {
      IBusEngineDesc* engine = ibus_input_context_get_engine(context);
      return engine != nullptr && g_strcmp0(ibus_engine_desc_get_name(engine), "tolvani") == 0;
    });
    for (const char* key = keys; *key; ++key) {
      const auto [keycode, shift] = testing::usKey(*key);
      const unsigned keyval = *key == ' ' ? IBUS_KEY_space : static_cast<unsigned char>(*key);
      const unsigned state = shift ? IBUS_SHIFT_MASK : 0;
      ibus_input_context_process_key_event(context, keyval, keycode, state);
      ibus_input_context_process_key_event(context, keyval, keycode, state | IBUS_RELEASE_MASK);
    }
    settleUntil([&] { return !commits.isEmpty(); }, 10000);
    ibus_proxy_destroy(IBUS_PROXY(context));
    g_object_unref(context);
  }
  g_object_unref(bus);
  return commits;
}

// The user's side, in a process of its own: the setup window with its guide page and its run,
// reporting every state the window goes through ("state ...") and what the page drew at the ends
// ("drawn ..."), with screenshots in `arguments[1]`.
// arguments: the program the command-mode children run, the screenshot folder.
TOLVANI_CHILD_ROLE(onboardingUserSide) {
  report(QStringLiteral("ids %1 %2").arg(::getuid()).arg(::geteuid()));
  report(QStringLiteral("seam %1").arg(qEnvironmentVariableIsSet("TOLVANI_TEST_USER_ID")));
  InputSourceProbe::testSetExecutable(arguments.value(0));
  AppSettings::setOnboardingCompleted(false);
  report(QStringLiteral("completed %1").arg(AppSettings::onboardingCompleted()));
  // A user who hid IBus's icon: every step has something to do.
  GSettings* panel = g_settings_new("org.freedesktop.ibus.panel");
  g_settings_set_boolean(panel, "show-icon-on-systray", FALSE);
  g_settings_sync();
  g_object_unref(panel);

  // The panel, which shows IBus's menu (without one the menu row waits), is the daemon's: it
  // comes back with each daemon the setup's restart brings.
  ibus_init();
  IBusBus* bus = ibus_bus_new();
  if (!ibus_bus_is_connected(bus)) return 4;
  if (!settleUntil([&] { return ibus_bus_name_has_owner(bus, IBUS_SERVICE_PANEL); })) return 5;
  g_object_unref(bus);

  // Each step as the run starts it ("step ..."): a step can end before a look at the state
  // would see it run.
  OnboardingWindowController::Operations operations =
      OnboardingWindowController::defaultOperations();
  const auto reported = [](const char* step, auto operation) {
    return [step, operation](CancellationRef task, auto done) {
      report(QStringLiteral("step ") + QLatin1String(step));
      operation(std::move(task), std::move(done));
    };
  };
  operations.activate = reported("add", operations.activate);
  operations.activateBeforeShow = reported("add", operations.activateBeforeShow);
  operations.showInputMenu = reported("show", operations.showInputMenu);
  operations.select = reported("select", operations.select);
  OnboardingWindowController::testSetOperations(operations);

  OnboardingWindowController controller;
  QString last;
  const auto record = [&] {
    const QString now = controller.describe();
    if (now != last) report(QStringLiteral("state ") + now);
    last = now;
  };
  const auto js = [&](const QString& script) {
    std::optional<QVariant> result;
    controller.webView()->page()->runJavaScript(script, QWebEngineScript::MainWorld,
                                                [&](const QVariant& v) { result = v; });
    settleUntil([&] { return result.has_value(); }, 10000);
    return result.value_or(QVariant()).toString();
  };
  // The page's language, its three rows and its status line, from its own elements.
  const auto drawn = [&] {
    return js(QStringLiteral(
        "document.documentElement.lang + ' ' + ['add','show','select'].map(s => s + '=' + "
        "document.querySelector('.row[data-step=\"' + s + '\"]').dataset.state).join(' ') + "
        "' phase=' + document.getElementById('phase').textContent"));
  };
  const auto shoot = [&](const QString& name) {
    settleUntil([] { return false; }, 150);  // the last frame painted
    report(QStringLiteral("drawn ") + drawn());
    controller.window()->grab().save(arguments.value(1) + u'/' + name + QStringLiteral(".png"));
  };
  controller.loadGuide();
  controller.window()->show();
  settleUntil(
      [&] {
        record();
        return controller.describe().contains(QStringLiteral("busy=0"));
      },
      90000);
  report(QStringLiteral("completed %1").arg(AppSettings::onboardingCompleted()));
  if (!controller.pageReady()) return 3;
  const QString firstLanguage = js(QStringLiteral("document.documentElement.lang"));
  shoot(firstLanguage + QStringLiteral("-completed"));
  js(QStringLiteral("document.getElementById('language').click()"));
  settleUntil([&] { return !drawn().startsWith(firstLanguage + u' '); }, 10000);
  shoot(js(QStringLiteral("document.documentElement.lang")) + QStringLiteral("-completed"));

  // Typing in an application: the daemon starts the program as the user, and Bangla comes back.
  const QStringList commits = typeThroughDaemon("ami ");
  report(QStringLiteral("commits ") + commits.join(u'|'));
  for (const QString& engine : engineProcesses(arguments.value(0)))
    report(QStringLiteral("engine ") + engine);

  // Removing Tolvani from IBus's own list, which every desktop but GNOME reads, in another
  // program (IBus's preferences, a desktop's settings), reaches the open window as a change. A
  // write of the window's own process would reach its watch before dconf has stored it, and the
  // state the window then asks a child for would be the one before.
  if (QProcess::execute(QStringLiteral("gsettings"),
                        {QStringLiteral("set"), QStringLiteral("org.freedesktop.ibus.general"),
                         QStringLiteral("preload-engines"), QStringLiteral("[]")}) != 0)
    return 6;
  settleUntil(
      [&] {
        record();
        return controller.describe().contains(QStringLiteral("status=notEnabled"));
      },
      30000);
  settleUntil([&] { return !drawn().contains(QStringLiteral("add=done")); }, 5000);
  shoot(js(QStringLiteral("document.documentElement.lang")) + QStringLiteral("-removed"));
  report(QStringLiteral("end"));
  return 0;
}

QStringList linesStarting(const QStringList& lines, const QString& prefix) {
  QStringList found;
  for (const QString& line : lines)
    if (line.startsWith(prefix)) found << line.mid(prefix.size());
  return found;
}

TEST(OnboardingIBusTest, OneRunFromNotRegisteredToOnboardingCompleted) {
#ifndef TOLVANI_PROGRAM
  GTEST_SKIP() << "the build has no program";
#else
  const QString program = QStringLiteral(TOLVANI_PROGRAM);
  const QString component = QStringLiteral(TOLVANI_PROGRAM_COMPONENT);
  ASSERT_TRUE(QFileInfo::exists(program) && QFileInfo::exists(component));
  const testing::TestUser user = testing::testUser();
  const QStringList asUser = testing::asTestUser({});

  // The user's tree, outside this process's private folders.
  QTemporaryDir tree(QDir::tempPath() + QStringLiteral("/tolvani-user-XXXXXX"));
  ASSERT_TRUE(tree.isValid());
  const QString root = tree.path();
  testing::PrivateIBusDaemon daemon(root);
  // The setup window's process and its children write IBus's settings side by side. The session
  // bus they reach dconf on outlives a daemon that dies in its restart, as a desktop's does:
  // GLib ends a process whose session bus goes away.
  daemon.useDconf();
  daemon.keepSession();
  ASSERT_TRUE(daemon.startPanel());
  for (const auto& [variable, folder] :
       {std::pair{"HOME", "/home"}, std::pair{"XDG_CONFIG_HOME", "/config"},
        std::pair{"XDG_DATA_HOME", "/data"}, std::pair{"XDG_CACHE_HOME", "/cache"}}) {
    ASSERT_TRUE(QDir().mkpath(root + QLatin1String(folder)));
    daemon.setVariable(variable, root + QLatin1String(folder));
  }
  daemon.setVariable("TOLVANI_TEST_USER_ID", QString());
  const QString screenshots = root + QStringLiteral("/screenshots");
  ASSERT_TRUE(QDir().mkpath(screenshots));
  testing::giveToTestUser(root);
  // The daemon's component folder stands for the system's: root's, readable by everyone.
  const QByteArray components = QFile::encodeName(daemon.componentFolder());
  if (testing::runsAsOtherUser()) {
    ASSERT_EQ(::chown(components.constData(), 0, 0), 0);
  }
  ASSERT_EQ(::chmod(components.constData(), 0755), 0);

  // The build tree's programs and guide page, wherever the tree lies.
  const QString guide = platform::bundle::resourcePath(QStringLiteral("Setup/index.html"));
  const QString self = QCoreApplication::applicationFilePath();
  for (const QString& path : {self, program, guide}) testing::letTestUserReach(path);
  QProcess reach;
  testing::startAsTestUser(reach, QStringLiteral("sh"),
                           {QStringLiteral("-c"),
                            QStringLiteral("test -x \"$1\" && test -x "
                                           "\"$2\" && test -r \"$3\""),
                            QStringLiteral("sh"), self, program, guide});
  ASSERT_TRUE(reach.waitForFinished(10000) && reach.exitCode() == 0)
      << "the test user cannot run the build tree's programs or read its guide page";

  ASSERT_TRUE(daemon.start(asUser));
  // Installed while the daemon runs, as a package is: the daemon does not know it yet.
  const QString installed = daemon.componentFolder() + QStringLiteral("/tolvani.xml");
  ASSERT_TRUE(QFile::copy(component, installed));
  ASSERT_TRUE(QFile::setPermissions(
      installed, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));

  const testing::ChildResult run =
      testing::runChild(QStringLiteral("onboardingUserSide"), {program, screenshots}, {}, asUser);
  daemon.stop();
  const QStringList lines = QString::fromUtf8(run.standardOutput).split(u'\n', Qt::SkipEmptyParts);
  // The program ends with its daemon; one that does not is stopped before its folders go.
  for (const QString& engine : linesStarting(lines, QStringLiteral("engine "))) {
    const pid_t pid = engine.section(u' ', 0, 0).toInt();
    if (pid <= 1) continue;
    // Gone, or a zombie whose reaper is not this process.
    const auto alive = [pid] {
      QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
      if (!stat.open(QIODevice::ReadOnly)) return false;
      const QByteArray fields = stat.readAll();
      return fields.mid(fields.lastIndexOf(')') + 2, 1) != "Z";
    };
    settleUntil([&] { return !alive(); }, 5000);
    if (alive()) {
      ::kill(pid, SIGKILL);
      ADD_FAILURE() << "the program outlived its daemon";
    }
  }
  ASSERT_EQ(run.exitCode, 0) << run.standardOutput.toStdString() << run.standardError.toStdString();
  ASSERT_TRUE(lines.contains(QStringLiteral("end"))) << run.standardError.toStdString();

  // Really the test user, with no id faked.
  EXPECT_EQ(linesStarting(lines, QStringLiteral("ids ")),
            QStringList{QStringLiteral("%1 %1").arg(user.uid)});
  if (testing::runsAsOtherUser()) {
    EXPECT_NE(user.uid, 0u);
  }
  EXPECT_EQ(linesStarting(lines, QStringLiteral("seam ")), QStringList{QStringLiteral("0")});
  EXPECT_EQ(linesStarting(lines, QStringLiteral("completed ")),
            (QStringList{QStringLiteral("0"), QStringLiteral("1")}));

  // From not registered, through each step in order, to completed; then the change seen.
  const QStringList states = linesStarting(lines, QStringLiteral("state "));
  ASSERT_FALSE(states.isEmpty());
  // The first probe found the component installed but unknown to the daemon.
  const auto adding = std::find_if(states.begin(), states.end(), [](const QString& state) {
    return state.contains(QStringLiteral("running=add"));
  });
  ASSERT_NE(adding, states.end()) << states.join(u'\n');
  EXPECT_TRUE(adding->contains(QStringLiteral("status=notRegistered"))) << *adding;
  EXPECT_EQ(linesStarting(lines, QStringLiteral("step ")),
            (QStringList{QStringLiteral("add"), QStringLiteral("show"), QStringLiteral("select")}));
  const auto idleMidStep = std::find_if(states.begin(), states.end(), [](const QString& state) {
    return state.contains(QStringLiteral("busy=0")) && !state.contains(QStringLiteral("running=-"));
  });
  EXPECT_EQ(idleMidStep, states.end()) << "idle while a step runs";
  const QString done =
      QStringLiteral("status=enabled selected=1 menu=1 running=- failed=- failure=\"\" busy=0");
  EXPECT_TRUE(std::any_of(states.begin(), states.end(), [&](const QString& state) {
    return state.contains(done);
  })) << states.join(u'\n');
  EXPECT_TRUE(states.last().contains(QStringLiteral("status=notEnabled")))
      << states.join(u'\n').toStdString();
  // The page drew the end in both languages, then the change.
  const QStringList drawn = linesStarting(lines, QStringLiteral("drawn "));
  ASSERT_EQ(drawn.size(), 3) << drawn.join(u'\n');
  for (int i = 0; i < 2; ++i)
    EXPECT_TRUE(drawn[i].contains(QStringLiteral("add=done show=done select=done"))) << drawn[i];
  EXPECT_NE(drawn[0].section(u' ', 0, 0), drawn[1].section(u' ', 0, 0));
  EXPECT_TRUE(drawn[2].contains(QStringLiteral("add=failed show=done select=pending"))) << drawn[2];

  // Typing went through the program the daemon started, running as the user.
  EXPECT_EQ(linesStarting(lines, QStringLiteral("commits ")),
            QStringList{QString::fromUtf8("আমি ")});
  const QStringList engines = linesStarting(lines, QStringLiteral("engine "));
  ASSERT_EQ(engines.size(), 1) << engines.join(u'\n');
  EXPECT_EQ(engines[0].section(u' ', 1), QStringLiteral("%1/%1").arg(user.uid));

  // The user's files are the user's: each made by the user's side, none by root.
  QStringList notTheUsers;
  QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo file(it.nextFileInfo());
    if (file.absoluteFilePath().startsWith(daemon.componentFolder())) continue;
    if (file.ownerId() != user.uid) notTheUsers << file.absoluteFilePath();
  }
  EXPECT_TRUE(notTheUsers.isEmpty()) << notTheUsers.join(u'\n');
  QProcess dconf;
  testing::startAsTestUser(
      dconf, QStringLiteral("dconf"),
      {QStringLiteral("read"), QStringLiteral("/desktop/ibus/panel/show-icon-on-systray")});
  ASSERT_TRUE(dconf.waitForFinished(10000));
  EXPECT_EQ(dconf.readAllStandardOutput().trimmed(), "true");
  EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/cache/ibus/bus/registry")));

  const QString kept = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + QStringLiteral("/screenshots");
  QDir().mkpath(kept);
  for (const QString& name : QDir(screenshots).entryList({QStringLiteral("*.png")}, QDir::Files)) {
    QFile::remove(kept + QStringLiteral("/onboarding-ibus-") + name);
    QFile::copy(screenshots + u'/' + name, kept + QStringLiteral("/onboarding-ibus-") + name);
  }
#endif
}

}  // namespace
}  // namespace tolvani
