// Enabling where fcitx5 is the session's framework. The program's command mode, run as the
// desktop user (the unprivileged test user when the test runs as root), against a real fcitx5
// daemon on a private session bus with a private profile whose group holds two layouts: Tolvani
// comes after them in their order, through fcitx5's controller while it runs and through its
// profile while it does not, is selected in the field that has the focus, and is still in the
// group when fcitx5 starts again. fcitx5 offers "tolvani" through a stand-in input-method file
// served by its keyboard addon, so that enabling is tested apart from the addon itself.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "ime/testing/TestUser.h"
#include "setup/tests/SetupTestSupport.h"

namespace tolvani {
namespace {

constexpr char kProfile[] = R"([Groups/0]
# Group Name
Name=Default
# Layout
Default Layout=us
# Default Input Method
DefaultIM=keyboard-fr

[Groups/0/Items/0]
# Name
Name=keyboard-us
# Layout
Layout=

[Groups/0/Items/1]
# Name
Name=keyboard-fr
# Layout
Layout=

[Groups/1]
# Group Name
Name=Other
# Layout
Default Layout=de
# Default Input Method
DefaultIM=

[Groups/1/Items/0]
# Name
Name=keyboard-de
# Layout
Layout=

[GroupOrder]
0=Default
1=Other
)";

// Keeps a field of fcitx5's D-Bus frontend focused, as a terminal's is while the person types the
// command, until its standard input closes.
constexpr char kFocusedField[] = R"(import sys
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
flags = Gio.DBusCallFlags.NO_AUTO_START
path = bus.call_sync('org.fcitx.Fcitx5', '/org/freedesktop/portal/inputmethod',
                     'org.fcitx.Fcitx.InputMethod1', 'CreateInputContext',
                     GLib.Variant('(a(ss))', ([('program', 'terminal')],)),
                     GLib.VariantType('(oay)'), flags, 5000, None).unpack()[0]
bus.call_sync('org.fcitx.Fcitx5', path, 'org.fcitx.Fcitx.InputContext1', 'FocusIn', None, None,
              flags, 5000, None)
print('focused', flush=True)
sys.stdin.read()
)";

// Holds a status-notifier host's name, as a panel's tray does, until its standard input closes.
constexpr char kStatusArea[] = R"(import sys
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
reply = bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                      'RequestName', GLib.Variant('(su)', ('org.kde.StatusNotifierWatcher', 4)),
                      GLib.VariantType('(u)'), Gio.DBusCallFlags.NONE, 5000, None)
print('owned' if reply.unpack()[0] == 1 else 'refused', flush=True)
sys.stdin.read()
)";

class InputSourceFcitx5Test : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef TOLVANI_PROGRAM
    program_ = QStringLiteral(TOLVANI_PROGRAM);
    component_ = QStringLiteral(TOLVANI_PROGRAM_COMPONENT);
#endif
    if (!QFileInfo::exists(program_) || !QFileInfo::exists(component_))
      GTEST_SKIP() << "the build has no program or no component file";
    if (QStandardPaths::findExecutable(QStringLiteral("fcitx5")).isEmpty())
      GTEST_SKIP() << "fcitx5 is not installed";
    ASSERT_TRUE(tree_.isValid());
    root_ = tree_.path();
    for (const char* folder :
         {"home", "config/fcitx5", "data/fcitx5/inputmethod", "runtime", "components"})
      QDir().mkpath(root_ + u'/' + QLatin1String(folder));
    QFile::setPermissions(root_ + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::copy(component_, root_ + "/components/tolvani.xml"));
    write("data/fcitx5/inputmethod/tolvani.conf",
          "[InputMethod]\nName=Tolvani\nIcon=input-keyboard\nLabel=Bn\nLangCode=bn\n"
          "Addon=keyboard\n");
    write("config/fcitx5/profile", kProfile);
    write("focus.py", kFocusedField);
    write("status-area.py", kStatusArea);
    testing::giveToTestUser(root_);
    testing::letTestUserReach(program_);

    env_ = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "GTK_IM_MODULE", "QT_IM_MODULE",
                             "XMODIFIERS", "XDG_CURRENT_DESKTOP", "TOLVANI_TEST_USER_ID"})
      env_.remove(QString::fromLatin1(name));
    env_.insert("HOME", root_ + "/home");
    env_.insert("XDG_CONFIG_HOME", root_ + "/config");
    env_.insert("XDG_DATA_HOME", root_ + "/data");
    env_.insert("XDG_RUNTIME_DIR", root_ + "/runtime");
    env_.insert("IBUS_COMPONENT_PATH", root_ + "/components");
    // No IBus daemon of the machine's is reached.
    env_.insert("IBUS_ADDRESS", "unix:path=" + root_ + "/runtime/no-ibus");
    env_.insert("GSETTINGS_BACKEND", "memory");

    bus_.setProcessEnvironment(env_);
    bus_.setStandardErrorFile(QProcess::nullDevice());
    testing::startAsTestUser(bus_, QStringLiteral("dbus-daemon"),
                             {QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--print-address=1")});
    ASSERT_TRUE(bus_.waitForStarted());
    QByteArray address;
    while (!address.contains('\n') && bus_.waitForReadyRead(10000))
      address += bus_.readAllStandardOutput();
    ASSERT_TRUE(address.contains('\n'));
    env_.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(address.trimmed()));
  }
  void TearDown() override {
    stopField();
    stopStatusArea();
    stopFcitx5();
    for (QProcess* process : {&bus_}) {
      if (process->state() == QProcess::NotRunning) continue;
      process->terminate();
      if (!process->waitForFinished(5000)) process->kill();
      process->waitForFinished();
    }
  }

  void write(const QString& relative, const QByteArray& text) {
    QFile file(root_ + u'/' + relative);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << relative.toStdString();
    file.write(text);
  }
  QString read(const QString& relative) const {
    QFile file(root_ + u'/' + relative);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }

  // Runs `command` as the test user in the session; its output, and its status in `status`.
  QString runAsUser(const QStringList& command, int* status = nullptr) {
    QProcess process;
    process.setProcessEnvironment(env_);
    process.setProcessChannelMode(QProcess::MergedChannels);
    testing::startAsTestUser(process, command.first(), command.mid(1));
    if (!process.waitForFinished(60000)) process.kill();
    process.waitForFinished();
    if (status) *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
  }
  QString command(const QStringList& flags, int* status) {
    return runAsUser(QStringList{program_} + flags, status);
  }

  // A call to fcitx5's controller, as gdbus prints its answer.
  QString controller(const QString& method, const QStringList& arguments = {}) {
    return runAsUser(QStringList{QStringLiteral("gdbus"), QStringLiteral("call"),
                                 QStringLiteral("--session"), QStringLiteral("-d"),
                                 QStringLiteral("org.fcitx.Fcitx5"), QStringLiteral("-o"),
                                 QStringLiteral("/controller"), QStringLiteral("-m"),
                                 QStringLiteral("org.fcitx.Fcitx.Controller1.") + method} +
                     arguments)
        .trimmed();
  }
  bool fcitx5Owned() {
    return runAsUser({QStringLiteral("gdbus"), QStringLiteral("call"), QStringLiteral("--session"),
                      QStringLiteral("-d"), QStringLiteral("org.freedesktop.DBus"),
                      QStringLiteral("-o"), QStringLiteral("/org/freedesktop/DBus"),
                      QStringLiteral("-m"), QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                      QStringLiteral("org.fcitx.Fcitx5")})
        .contains(QLatin1String("true"));
  }

  bool startFcitx5() {
    fcitx5_.setProcessEnvironment(env_);
    fcitx5_.setStandardOutputFile(QProcess::nullDevice());
    fcitx5_.setStandardErrorFile(root_ + "/fcitx5.log", QIODevice::Append);
    testing::startAsTestUser(fcitx5_, QStringLiteral("fcitx5"),
                             {QStringLiteral("-D"), QStringLiteral("--disable=all"),
                              QStringLiteral("--enable=dbus,dbusfrontend,keyboard")});
    QDeadlineTimer limit(20000);
    while (!limit.hasExpired() && fcitx5_.state() != QProcess::NotRunning) {
      if (fcitx5Owned()) return true;
      QThread::msleep(50);
    }
    return false;
  }
  // As at the end of a session: fcitx5 saves and exits.
  void stopFcitx5() {
    if (fcitx5_.state() == QProcess::NotRunning) return;
    fcitx5_.terminate();
    if (!fcitx5_.waitForFinished(10000)) fcitx5_.kill();
    fcitx5_.waitForFinished();
  }

  bool focusField() {
    field_.setProcessEnvironment(env_);
    field_.setStandardErrorFile(QProcess::nullDevice());
    testing::startAsTestUser(field_, QStringLiteral("/usr/bin/python3"), {root_ + "/focus.py"});
    QByteArray said;
    while (!said.contains("focused") && field_.waitForReadyRead(10000))
      said += field_.readAllStandardOutput();
    return said.contains("focused");
  }
  void stopField() {
    if (field_.state() == QProcess::NotRunning) return;
    field_.closeWriteChannel();
    if (!field_.waitForFinished(5000)) field_.kill();
    field_.waitForFinished();
  }

  // A status area that shows fcitx5's icon, for as long as it runs.
  bool startStatusArea() {
    statusArea_.setProcessEnvironment(env_);
    statusArea_.setStandardErrorFile(QProcess::nullDevice());
    testing::startAsTestUser(statusArea_, QStringLiteral("/usr/bin/python3"),
                             {root_ + "/status-area.py"});
    QByteArray said;
    while (!said.contains('\n') && statusArea_.waitForReadyRead(10000))
      said += statusArea_.readAllStandardOutput();
    return said.startsWith("owned");
  }
  void stopStatusArea() {
    if (statusArea_.state() == QProcess::NotRunning) return;
    statusArea_.closeWriteChannel();
    if (!statusArea_.waitForFinished(5000)) statusArea_.kill();
    statusArea_.waitForFinished();
  }

  QString group(const QString& name = QStringLiteral("Default")) {
    return controller(QStringLiteral("InputMethodGroupInfo"), {name});
  }

  QTemporaryDir tree_{QDir::tempPath() + QStringLiteral("/tolvani-fcitx5-XXXXXX")};
  QString root_;
  QString program_;
  QString component_;
  QProcessEnvironment env_;
  QProcess bus_;
  QProcess fcitx5_;
  QProcess field_;
  QProcess statusArea_;
};

const QLatin1String kTwoLayoutsAndTolvani(
    "('us', [('keyboard-us', ''), ('keyboard-fr', ''), ('tolvani', '')])");
const QLatin1String kOtherGroup("('de', [('keyboard-de', '')])");

// Under a running fcitx5 the command used to end in "IBus could not register the keyboard (IBus
// refused)": fcitx5 was taken for IBus.
TEST_F(InputSourceFcitx5Test, WhileFcitx5RunsTolvaniJoinsItsGroupIsSelectedAndStaysAfterARestart) {
  ASSERT_TRUE(startFcitx5()) << read("fcitx5.log").toStdString();
  ASSERT_TRUE(focusField());
  int status = -1;
  const QString out = command(
      {QStringLiteral("--enable-input-source"), QStringLiteral("--select-input-source")}, &status);
  EXPECT_EQ(status, 0) << out.toStdString();
  EXPECT_TRUE(out.contains(QLatin1String("switched to Tolvani"))) << out.toStdString();
  EXPECT_TRUE(out.contains(
      QLatin1String("In a text field, Control+Space switches between your keyboard and Tolvani.")))
      << out.toStdString();
  EXPECT_FALSE(out.contains(QLatin1String("IBus"))) << out.toStdString();
  // No status area runs (a bare Sway): Tolvani's windows and layouts are reached without its menu.
  EXPECT_TRUE(out.contains(QLatin1String(
      "No panel shows fcitx5's icon here: open Tolvani's windows from its entry in your "
      "application launcher, and switch its layouts with Control+Shift+Space.")))
      << out.toStdString();
  EXPECT_EQ(group(), QString(kTwoLayoutsAndTolvani));
  EXPECT_EQ(group(QStringLiteral("Other")), QString(kOtherGroup));
  // The focused field types with Tolvani now.
  EXPECT_EQ(controller(QStringLiteral("CurrentInputMethod")), QStringLiteral("('tolvani',)"));

  // Enabled again, nothing is added twice and nothing moves; the state says so.
  const QString again = command(
      {QStringLiteral("--enable-input-source"), QStringLiteral("--input-source-state")}, &status);
  EXPECT_EQ(status, 0) << again.toStdString();
  EXPECT_TRUE(again.contains(QLatin1String("tolvani-state status=enabled selected=1")))
      << again.toStdString();
  EXPECT_EQ(group(), QString(kTwoLayoutsAndTolvani));

  // The next login: fcitx5 starts again from what it saved.
  stopField();
  stopFcitx5();
  ASSERT_TRUE(startFcitx5()) << read("fcitx5.log").toStdString();
  EXPECT_EQ(group(), QString(kTwoLayoutsAndTolvani));
  const QString state = command({QStringLiteral("--input-source-state")}, &status);
  EXPECT_EQ(status, 0) << state.toStdString();
  EXPECT_TRUE(state.contains(QLatin1String("tolvani-state status=enabled"))) << state.toStdString();
  // Its trigger key goes to Tolvani in a new field.
  ASSERT_TRUE(focusField());
  controller(QStringLiteral("Toggle"));
  EXPECT_EQ(controller(QStringLiteral("CurrentInputMethod")), QStringLiteral("('tolvani',)"));
}

// fcitx5 makes a changed group's second item its default: the person's third layout, their
// default, stays what the trigger key switches to. Tolvani chosen with no field focused (the
// terminal closed) is selected for a later process too, before and after fcitx5 restarts. A
// person who removed fcitx5's trigger keys is told where to set one, not told Control+Space.
TEST_F(InputSourceFcitx5Test, WhileFcitx5RunsThePersonsDefaultStaysAndAChoiceWithoutAFieldHolds) {
  QString profile = QString::fromLatin1(kProfile);
  profile.replace(QLatin1String("DefaultIM=keyboard-fr"), QLatin1String("DefaultIM=keyboard-de"));
  profile.replace(QLatin1String("Name=keyboard-fr\n# Layout\nLayout=\n"),
                  QLatin1String("Name=keyboard-fr\n# Layout\nLayout=\n\n[Groups/0/Items/2]\n"
                                "# Name\nName=keyboard-de\n# Layout\nLayout=\n"));
  write("config/fcitx5/profile", profile.toUtf8());
  write("config/fcitx5/config", "[Hotkey]\n# Trigger Input Method\nTriggerKeys=\n");
  testing::giveToTestUser(root_);
  ASSERT_TRUE(startFcitx5()) << read("fcitx5.log").toStdString();
  ASSERT_TRUE(focusField());
  int status = -1;
  const QString out = command({QStringLiteral("--enable-input-source")}, &status);
  EXPECT_EQ(status, 0) << out.toStdString();
  EXPECT_EQ(group(), QStringLiteral("('us', [('keyboard-us', ''), ('keyboard-fr', ''), "
                                    "('keyboard-de', ''), ('tolvani', '')])"));
  EXPECT_EQ(controller(QStringLiteral("CurrentInputMethod")), QStringLiteral("('keyboard-us',)"));
  const QString saved = read("config/fcitx5/profile");
  EXPECT_TRUE(
      saved.contains(QLatin1String("Name=Default\n# Layout\nDefault Layout=us\n"
                                   "# Default Input Method\nDefaultIM=keyboard-de\n")))
      << saved.toStdString();
  controller(QStringLiteral("Toggle"));
  EXPECT_EQ(controller(QStringLiteral("CurrentInputMethod")), QStringLiteral("('keyboard-de',)"));

  stopField();
  const QString selected = command({QStringLiteral("--select-input-source")}, &status);
  EXPECT_EQ(status, 0) << selected.toStdString();
  EXPECT_TRUE(selected.contains(QStringLiteral(
      "No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options "
      "→ Trigger Input Method).")))
      << selected.toStdString();
  EXPECT_FALSE(selected.contains(QLatin1String("Control+Space"))) << selected.toStdString();
  // Without a status area no menu of fcitx5's icon can be opened; with one it can.
  EXPECT_FALSE(selected.contains(QLatin1String("menu of fcitx5's icon"))) << selected.toStdString();
  EXPECT_TRUE(selected.contains(QLatin1String("application launcher"))) << selected.toStdString();
  ASSERT_TRUE(startStatusArea());
  const QString withPanel = command({QStringLiteral("--select-input-source")}, &status);
  EXPECT_EQ(status, 0) << withPanel.toStdString();
  EXPECT_TRUE(withPanel.contains(QLatin1String("Choose Tolvani in the menu of fcitx5's icon")))
      << withPanel.toStdString();
  EXPECT_FALSE(withPanel.contains(QLatin1String("application launcher")))
      << withPanel.toStdString();
  stopStatusArea();
  for (const bool restarted : {false, true}) {
    const QString state = command({QStringLiteral("--input-source-state")}, &status);
    EXPECT_TRUE(state.contains(QLatin1String("tolvani-state status=enabled selected=1")))
        << restarted << ": " << state.toStdString();
    if (restarted) break;
    stopFcitx5();
    ASSERT_TRUE(startFcitx5()) << read("fcitx5.log").toStdString();
  }
  ASSERT_TRUE(focusField());
  controller(QStringLiteral("Toggle"));
  EXPECT_EQ(controller(QStringLiteral("CurrentInputMethod")), QStringLiteral("('tolvani',)"));
}

// Chosen with im-config, before the next login starts fcitx5: its profile is edited, everything
// else in it kept, and the fcitx5 that starts then offers Tolvani after the layouts. The trigger
// key named is the person's own.
TEST_F(InputSourceFcitx5Test, WhileFcitx5IsStoppedItsProfileIsEditedForItsStart) {
  write("home/.xinputrc", "# im-config(8) generated\nrun_im fcitx5\n");
  write("config/fcitx5/config",
        "[Hotkey]\nEnumerateWithTriggerKeys=True\n\n"
        "[Hotkey/TriggerKeys]\n0=Super+space\n");
  testing::giveToTestUser(root_);
  int status = -1;
  // Added alone, the person's default stays what the trigger key switches to.
  command({QStringLiteral("--enable-input-source")}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(read("config/fcitx5/profile").contains(u"Name=tolvani"));
  EXPECT_TRUE(read("config/fcitx5/profile").contains(u"DefaultIM=keyboard-fr"));
  const QString out = command(
      {QStringLiteral("--enable-input-source"), QStringLiteral("--select-input-source")}, &status);
  EXPECT_EQ(status, 0) << out.toStdString();
  EXPECT_TRUE(out.contains(QLatin1String("fcitx5 is not running in this session yet")))
      << out.toStdString();
  EXPECT_TRUE(out.contains(QLatin1String("Super+Space switches between your keyboard and Tolvani")))
      << out.toStdString();
  EXPECT_FALSE(fcitx5Owned()) << "nothing may start fcitx5";
  // On KDE Plasma on Wayland KWin starts fcitx5 only once it is the virtual keyboard, which a new
  // login does not change: that setting is named, until kwinrc names fcitx5.
  env_.insert("XDG_CURRENT_DESKTOP", "KDE");
  env_.insert("XDG_SESSION_TYPE", "wayland");
  for (const bool chosen : {false, true}) {
    if (chosen) {
      write("config/kwinrc",
            "[Wayland]\nInputMethod[$e]=/usr/share/applications/org.fcitx.Fcitx5.desktop\n");
      testing::giveToTestUser(root_ + "/config");
    }
    const QString kde = command({QStringLiteral("--select-input-source")}, &status);
    EXPECT_EQ(status, 0) << kde.toStdString();
    EXPECT_EQ(kde.contains(QStringLiteral(
                  "choose System Settings → Virtual Keyboard → “Fcitx 5”, which starts it")),
              !chosen)
        << kde.toStdString();
    EXPECT_EQ(kde.contains(QLatin1String("next login")), chosen) << kde.toStdString();
  }
  env_.remove("XDG_CURRENT_DESKTOP");
  env_.remove("XDG_SESSION_TYPE");
  QFile::remove(root_ + "/config/kwinrc");

  QString expected = QString::fromLatin1(kProfile);
  expected.replace(QLatin1String("DefaultIM=keyboard-fr"), QLatin1String("DefaultIM=tolvani"));
  expected.replace(QLatin1String("Name=keyboard-fr\n# Layout\nLayout=\n"),
                   QLatin1String("Name=keyboard-fr\n# Layout\nLayout=\n\n[Groups/0/Items/2]\n"
                                 "# Name\nName=tolvani\n# Layout\nLayout=\n"));
  EXPECT_EQ(read("config/fcitx5/profile"), expected);
  // Enabled again, nothing is added twice.
  command({QStringLiteral("--enable-input-source")}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read("config/fcitx5/profile"), expected);

  ASSERT_TRUE(startFcitx5()) << read("fcitx5.log").toStdString();
  EXPECT_EQ(group(), QString(kTwoLayoutsAndTolvani));
  EXPECT_EQ(group(QStringLiteral("Other")), QString(kOtherGroup));
  ASSERT_TRUE(focusField());
  controller(QStringLiteral("Toggle"));
  EXPECT_EQ(controller(QStringLiteral("CurrentInputMethod")), QStringLiteral("('tolvani',)"));
}

// scripts/run installs the addon's package while the session's fcitx5 runs: fcitx5 loads it when
// asked. Without the package the command says what to install, in fcitx5's words.
TEST_F(InputSourceFcitx5Test, AnAddonInstalledWhileFcitx5RunsIsLoadedAndAMissingOneIsSaid) {
  QFile::remove(root_ + "/data/fcitx5/inputmethod/tolvani.conf");
  ASSERT_TRUE(startFcitx5()) << read("fcitx5.log").toStdString();
  int status = -1;
  const QString missing = command({QStringLiteral("--enable-input-source")}, &status);
  EXPECT_EQ(status, 1) << missing.toStdString();
  EXPECT_TRUE(missing.contains(
      QLatin1String("fcitx5 has not discovered Tolvani yet. Install the tolvani-fcitx5 package")))
      << missing.toStdString();
  EXPECT_FALSE(missing.contains(QLatin1String("IBus"))) << missing.toStdString();

  write("data/fcitx5/inputmethod/tolvani.conf",
        "[InputMethod]\nName=Tolvani\nIcon=input-keyboard\nLabel=Bn\nLangCode=bn\n"
        "Addon=keyboard\n");
  testing::giveToTestUser(root_ + "/data");
  const QString out = command({QStringLiteral("--enable-input-source")}, &status);
  EXPECT_EQ(status, 0) << out.toStdString();
  EXPECT_EQ(group(), QString(kTwoLayoutsAndTolvani));
}

// A person who never ran fcitx5 has no profile: it is made from the session's layouts.
TEST_F(InputSourceFcitx5Test, WithoutAProfileTheSessionLayoutsComeFirst) {
  QFile::remove(root_ + "/config/fcitx5/profile");
  env_.insert("XMODIFIERS", "@im=fcitx");
  // No display: the system's keyboard configuration stands in for the keymap.
  int status = -1;
  const QString out = command({QStringLiteral("--enable-input-source")}, &status);
  EXPECT_EQ(status, 0) << out.toStdString();
  ASSERT_TRUE(startFcitx5()) << read("fcitx5.log").toStdString();
  const QString items = group();
  static const QRegularExpression layoutsThenTolvani(
      QStringLiteral(R"(^\('[a-z]+', \[(\('keyboard-[a-z-]+', ''\), )+\('tolvani', ''\)\]\)$)"));
  EXPECT_TRUE(layoutsThenTolvani.match(items).hasMatch()) << items.toStdString();
}

}  // namespace
}  // namespace tolvani
