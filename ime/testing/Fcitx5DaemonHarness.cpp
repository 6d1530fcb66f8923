#include "ime/testing/Fcitx5DaemonHarness.h"

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include "ime/testing/TestUser.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

#ifndef TOLVANI_BUILD_DIR
#define TOLVANI_BUILD_DIR ""
#endif
#ifndef TOLVANI_PROGRAM
#define TOLVANI_PROGRAM ""
#endif

namespace tolvani::testing {
namespace {

bool writeFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) >= 0;
}

// A group of a layout and Tolvani, Tolvani its default; contexts start active, so on Tolvani.
constexpr char kProfile[] =
    "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=tolvani\n\n"
    "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n"
    "[Groups/0/Items/1]\nName=tolvani\nLayout=\n\n"
    "[GroupOrder]\n0=Default\n";
constexpr char kConfig[] = "[Behavior]\nActiveByDefault=True\n";

}  // namespace

Fcitx5DaemonHarness::Fcitx5DaemonHarness(const Options& options) {
  if (!root_.isValid()) {
    failure_ = QStringLiteral("no temporary folder");
    return;
  }
  const QString root = root_.path();
  for (const char* dir : {"home", "config/fcitx5", "cache", "data", "runtime"}) {
    QDir(root).mkpath(QString::fromLatin1(dir));
  }
  runtimeDir_ =
      options.runtimeDir.isEmpty() ? root + QStringLiteral("/runtime") : options.runtimeDir;
  QFile::setPermissions(runtimeDir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  writeFile(configHome() + QStringLiteral("/fcitx5/profile"), kProfile);
  writeFile(configHome() + QStringLiteral("/fcitx5/config"), kConfig);
  setSetting(AppSettings::kOnboardingCompletedKey, true);
  if (options.uiLanguage) setSetting(AppSettings::kUiLanguageKey, *options.uiLanguage);

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_NO_GLIB", "DBUS_SESSION_BUS_ADDRESS",
                           "IBUS_ADDRESS", "GTK_IM_MODULE", "QT_IM_MODULE", "XMODIFIERS"}) {
    env.remove(QString::fromLatin1(name));
  }
  env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
  env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir_);
  const QString build = QStringLiteral(TOLVANI_BUILD_DIR);
  env.insert(QStringLiteral("FCITX_ADDON_DIRS"), build + QStringLiteral("/lib/fcitx5:/usr/lib/") +
                                                     QStringLiteral(TOLVANI_MULTIARCH) +
                                                     QStringLiteral("/fcitx5"));
  env.insert(QStringLiteral("XDG_DATA_DIRS"),
             build + QStringLiteral("/share:/usr/local/share:/usr/share"));
  QString program = options.program.isEmpty() ? QStringLiteral(TOLVANI_PROGRAM) : options.program;
  if (options.programDelayMs > 0) {
    const QString slow = root + QStringLiteral("/slow-tolvani");
    writeFile(slow, QStringLiteral("#!/bin/sh\nsleep %1\nexec \"%2\" \"$@\"\n")
                        .arg(options.programDelayMs / 1000.0)
                        .arg(program)
                        .toUtf8());
    QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    program = slow;
  }
  env.insert(QStringLiteral("TOLVANI_FCITX5_PROGRAM"), program);
  env.insert(QStringLiteral("TOLVANI_FCITX5_SOCKET"), root + QStringLiteral("/tolvani.socket"));
  env.insert(QStringLiteral("TOLVANI_TEST_IBUS_EVENTS"), root + QStringLiteral("/events.txt"));
  env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
  env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
  if (options.overwriteFreedMemory)
    env.insert(QStringLiteral("MALLOC_PERTURB_"), QStringLiteral("165"));
  if (!options.display.isEmpty()) {
    env.insert(QStringLiteral("DISPLAY"), options.display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  }
  if (!options.waylandDisplay.isEmpty())
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), options.waylandDisplay);
  // Tolvani's windows, with no X display, go nowhere.
  if (options.display.isEmpty())
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  session_.setProcessEnvironment(env);
  if (options.quiet) {
    session_.setStandardErrorFile(QProcess::nullDevice());
    session_.setStandardOutputFile(QProcess::nullDevice());
  } else {
    session_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    session_.setStandardOutputFile(QProcess::nullDevice());
  }
  // A process group of its own: the bus, fcitx5 and the Tolvani the addon starts end with it.
  session_.setChildProcessModifier([] { ::setpgid(0, 0); });
  QStringList addons = options.addons;
  gtkThroughIBus_ = options.gtkThroughIBus;
  if (gtkThroughIBus_) addons << QStringLiteral("ibusfrontend");
  const QString enabled = (addons + QStringList{QStringLiteral("tolvani")}).join(u',');
  asTestUser_ = options.asTestUser;
  if (asTestUser_) {
    giveToTestUser(root);
    for (const QString& path : {build + QStringLiteral("/lib/fcitx5/tolvani.so"),
                                build + QStringLiteral("/share/fcitx5/addon/tolvani.conf"),
                                QStringLiteral(TOLVANI_PROGRAM)}) {
      letTestUserReach(path);
    }
  }
  QStringList command{QStringLiteral("dbus-run-session")};
  if (asTestUser_) command = testing::asTestUser(command);
  command << QStringLiteral("--") << QStringLiteral("sh") << QStringLiteral("-c")
          << QStringLiteral(
                 "echo \"$DBUS_SESSION_BUS_ADDRESS\" > \"$0/session-bus.tmp\"; "
                 "mv \"$0/session-bus.tmp\" \"$0/session-bus\"; "
                 "while :; do fcitx5 -D --disable=all --enable=\"$1\" & "
                 "echo $! > \"$0/fcitx5.pid\"; wait $!; echo $? >> \"$0/fcitx5.exits\"; "
                 "sleep 0.1; done")
          << root << enabled;
  session_.start(command.first(), command.mid(1));
  if (!session_.waitForStarted()) {
    failure_ = QStringLiteral("dbus-run-session did not start: ") + session_.errorString();
    return;
  }
  group_ = session_.processId();
  const QDeadlineTimer deadline(20000);
  while (sessionBus_.isEmpty() && !deadline.hasExpired()) {
    QFile file(root + QStringLiteral("/session-bus"));
    if (file.open(QIODevice::ReadOnly)) sessionBus_ = QString::fromUtf8(file.readAll()).trimmed();
    if (sessionBus_.isEmpty()) QThread::msleep(20);
  }
  while (!answers() && !deadline.hasExpired()) QThread::msleep(20);
  if (!answers()) failure_ = QStringLiteral("fcitx5 did not answer on its bus");
}

Fcitx5DaemonHarness::~Fcitx5DaemonHarness() {
  if (group_ > 1) {
    ::kill(static_cast<pid_t>(-group_), SIGTERM);
    if (!session_.waitForFinished(3000)) session_.kill();
    session_.waitForFinished(3000);
    ::kill(static_cast<pid_t>(-group_), SIGKILL);
    // Tolvani may still be writing into the temporary folders.
    const QDeadlineTimer deadline(5000);
    while (::kill(static_cast<pid_t>(-group_), 0) == 0 && !deadline.hasExpired())
      QThread::msleep(10);
  }
  const QString name = QStringLiteral("fcitx5-harness-") + QString::number(quintptr(this));
  QDBusConnection::disconnectFromBus(name);
}

void Fcitx5DaemonHarness::setSetting(const QString& key, const QVariant& value) {
  platform::Defaults(configHome() + QStringLiteral("/tolvani/") + platform::bundle::identifier() +
                     QStringLiteral(".plist"))
      .set(key, value);
}

void Fcitx5DaemonHarness::addProgramEnvironment(QProcessEnvironment& env) const {
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus_);
  env.insert(QStringLiteral("GTK_IM_MODULE"),
             gtkThroughIBus_ ? QStringLiteral("ibus") : QStringLiteral("fcitx"));
  env.insert(QStringLiteral("QT_IM_MODULE"), QStringLiteral("fcitx"));
  env.insert(QStringLiteral("XMODIFIERS"), QStringLiteral("@im=fcitx"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir_);
  env.remove(QStringLiteral("IBUS_ADDRESS"));
}

bool Fcitx5DaemonHarness::answers() const {
  if (sessionBus_.isEmpty()) return false;
  // Another user's bus takes no connection from here: that user asks it.
  if (asTestUser_) {
    QProcess ask;
    const QStringList command = testing::asTestUser(
        {QStringLiteral("dbus-send"), QStringLiteral("--bus=") + sessionBus_,
         QStringLiteral("--print-reply"), QStringLiteral("--dest=org.freedesktop.DBus"),
         QStringLiteral("/org/freedesktop/DBus"),
         QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
         QStringLiteral("string:org.fcitx.Fcitx5")});
    ask.start(command.first(), command.mid(1));
    return ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true");
  }
  const QString name = QStringLiteral("fcitx5-harness-") + QString::number(quintptr(this));
  QDBusConnection bus = QDBusConnection::connectToBus(sessionBus_, name);
  return bus.isConnected() && bus.interface() &&
         bus.interface()->isServiceRegistered(QStringLiteral("org.fcitx.Fcitx5")).value();
}

QStringList Fcitx5DaemonHarness::events() const {
  QFile file(root_.path() + QStringLiteral("/events.txt"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

bool Fcitx5DaemonHarness::waitFor(const std::function<bool()>& done, int ms) {
  const QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(5);
  }
  return true;
}

qint64 Fcitx5DaemonHarness::tolvaniPid() const {
  qint64 pid = 0;
  for (const QString& line : events()) {
    if (line.startsWith(QLatin1String("fcitx5 listening ")))
      pid = line.mid(int(sizeof("fcitx5 listening ")) - 1).toLongLong();
  }
  return pid;
}

QList<int> Fcitx5DaemonHarness::exits() const {
  QList<int> statuses;
  QFile file(root_.path() + QStringLiteral("/fcitx5.exits"));
  if (!file.open(QIODevice::ReadOnly)) return statuses;
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (!line.isEmpty()) statuses << line.toInt();
  }
  return statuses;
}

qint64 Fcitx5DaemonHarness::fcitx5Pid() const {
  QFile file(root_.path() + QStringLiteral("/fcitx5.pid"));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  return file.readAll().trimmed().toLongLong();
}

bool Fcitx5DaemonHarness::restartFcitx5() {
  const qint64 old = fcitx5Pid();
  if (old <= 1) return false;
  ::kill(static_cast<pid_t>(old), SIGKILL);
  return waitFor([&] {
    const qint64 now = fcitx5Pid();
    return now > 1 && now != old && answers();
  });
}

}  // namespace tolvani::testing
