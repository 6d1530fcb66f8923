// A private ibus-daemon for a test, in its own dbus-run-session, with no panel (unless the test
// names the command of one) and no XIM, its
// components read from a folder of the test's, and the process environment pointed at it so
// that child processes (and GSettings, through a key file or dconf) use it and nothing of the
// machine's. Clients find the daemon as a desktop's do: through the address file it writes, not
// IBUS_ADDRESS. A fixed IBUS_ADDRESS is the same string for a daemon and the one its restart
// brings, and libibus's shared connection, which reconnects only when the address it reads
// changes, can then miss the new daemon for good.
// Thread-safety: a test's thread.
#ifndef TOLVANI_SETUP_TESTS_PRIVATEIBUSDAEMON_H_
#define TOLVANI_SETUP_TESTS_PRIVATEIBUSDAEMON_H_

#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tolvani::testing {

class PrivateIBusDaemon {
 public:
  // Under `root`: the component folder, the daemon's home and runtime folders. The environment
  // of this process changes until the object is destroyed.
  explicit PrivateIBusDaemon(const QString& root) : root_(root) {
    for (const char* folder : {"components", "home", "config", "cache", "runtime"})
      QDir().mkpath(root_ + QLatin1Char('/') + QLatin1String(folder));
    QFile::setPermissions(root_ + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setVariable("IBUS_COMPONENT_PATH", componentFolder());
    setVariable("IBUS_ADDRESS", {});
    setVariable("IBUS_ADDRESS_FILE", addressFile());
    setVariable("XDG_CACHE_HOME", root_ + "/cache");
    setVariable("XDG_RUNTIME_DIR", root_ + "/runtime");
    setVariable("GSETTINGS_BACKEND", "keyfile");
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) setVariable(variable, {});
  }
  ~PrivateIBusDaemon() {
    stop();
    for (const auto& [name, value] : saved_) {
      if (value)
        qputenv(name.c_str(), *value);
      else
        qunsetenv(name.c_str());
    }
  }
  PrivateIBusDaemon(const PrivateIBusDaemon&) = delete;
  PrivateIBusDaemon& operator=(const PrivateIBusDaemon&) = delete;

  QString componentFolder() const { return root_ + "/components"; }
  QString socketPath() const { return root_ + "/runtime/ibus.sock"; }
  // Where the daemon writes its address and process id, and clients read them.
  QString addressFile() const { return root_ + "/runtime/ibus-address"; }

  // Offers IBus's own keyboard engines for `layouts` (XKB names) beside the test's components:
  // those of the simple engine's component, the one a desktop's daemon reads, and no others, so
  // that the daemon has few to load. False when IBus's component is not installed.
  bool offerKeyboardEngines(const QStringList& layouts) {
    QFile simple(QStringLiteral("/usr/share/ibus/component/simple.xml"));
    if (!simple.open(QIODevice::ReadOnly)) return false;
    const QString text = QString::fromUtf8(simple.readAll());
    const qsizetype first = text.indexOf(QLatin1String("<engine>"));
    const qsizetype end = text.lastIndexOf(QLatin1String("</engines>"));
    if (first < 0 || end < first) return false;
    QString kept = text.left(first);
    for (qsizetype at = first; at >= 0 && at < end;) {
      const qsizetype close = text.indexOf(QLatin1String("</engine>"), at);
      if (close < 0) break;
      const QString engine = text.mid(at, close + 9 - at);
      for (const QString& layout : layouts) {
        if (engine.contains(QStringLiteral("<layout>%1</layout>").arg(layout))) {
          kept += engine + u'\n';
          break;
        }
      }
      at = text.indexOf(QLatin1String("<engine>"), close);
    }
    kept += text.mid(end);
    QFile copy(componentFolder() + QStringLiteral("/simple.xml"));
    if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    copy.write(kept.toUtf8());
    copy.close();
    return copy.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
  }

  // Starts the daemon and waits until it accepts connections. A `launcher` is a command the
  // daemon's session runs through (the command appended), such as one that changes the user.
  bool start(const QStringList& launcher = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", root_ + "/home");
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    const QString pidFile = root_ + "/daemon.pid";
    QFile::remove(pidFile);
    // A daemon stopped before left its file: a client must not read it as this one's.
    QFile::remove(addressFile());
    // The daemon is the session's child, not the session itself, so that its death (a test
    // may kill it) leaves the session bus as a desktop's is left; with `keepSession_` the
    // session lasts until stop().
    const QStringList command =
        launcher + QStringList{"dbus-run-session",
                               "--",
                               "sh",
                               "-c",
                               "echo $$ > \"$0.session\"; echo \"$DBUS_SESSION_BUS_ADDRESS\" > "
                               "\"$0.bus\"; ibus-daemon --panel=\"$2\" "
                               "--emoji-extension=disable --config=disable --cache=auto "
                               "--address=unix:path=\"$1\" & echo $! > \"$0\"; wait $!; "
                               "while [ \"$3\" = keep ]; do sleep 1; done",
                               pidFile,
                               socketPath(),
                               panel_,
                               keepSession_ ? QStringLiteral("keep") : QString()};
    process_.start(command.first(), command.mid(1));
    if (!process_.waitForStarted()) return false;
    QDeadlineTimer limit(20000);
    while (!limit.hasExpired() && process_.state() == QProcess::Running) {
      QFile file(pidFile);
      if (pid_ == 0 && file.open(QIODevice::ReadOnly)) pid_ = file.readAll().trimmed().toInt();
      if (pid_ != 0 && accepts() && addressWritten()) return !dconf_ || useSessionBus();
      QThread::msleep(20);
    }
    return false;
  }

  bool accepts() const {
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.size()) >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
  }

  // Whether the address file is whole: the daemon writes its process id last.
  bool addressWritten() const {
    QFile file(addressFile());
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = file.readAll();
    const qsizetype at = text.indexOf("\nIBUS_DAEMON_PID=");
    return at >= 0 && text.indexOf('\n', at + 1) > at;
  }

  // The command line of the panel the daemon starts (and starts again when it restarts).
  void setPanel(const QString& command) { panel_ = command; }
  // A panel of IBus's own kind for the daemon to start: it holds the panel's name while its
  // daemon runs and ends with it.
  bool startPanel() {
    const QString path = root_ + "/panel.py";
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly)) return false;
    script.write(
        "import gi\n"
        "gi.require_version('IBus', '1.0')\n"
        "from gi.repository import GLib, IBus\n"
        "IBus.init()\n"
        "bus = IBus.Bus()\n"
        "loop = GLib.MainLoop()\n"
        "bus.connect('disconnected', lambda *_: loop.quit())\n"
        "if bus.is_connected():\n"
        "    bus.request_name(IBus.SERVICE_PANEL, 0)\n"
        "    loop.run()\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                          QFile::ReadOther);
    setPanel("/usr/bin/python3 " + path);
    return true;
  }
  // The daemon's session bus stays when the daemon dies, as a desktop's does.
  void keepSession() { keepSession_ = true; }
  // GSettings through dconf on the daemon's session bus, as on a person's desktop, for this
  // process and those it starts once the daemon runs. GLib's key-file backend suits one writer
  // only: each process writes the whole file from its own copy, which may not have caught up with
  // another process's last write yet, and so undoes it.
  void useDconf() {
    dconf_ = true;
    setVariable("GSETTINGS_BACKEND", "dconf");
  }

  // The ibus-daemon processes serving this daemon's socket: the one started here, or one started
  // again by the code under test.
  std::vector<pid_t> daemonProcesses() const {
    const QByteArray place = QFile::encodeName(socketPath());
    std::vector<pid_t> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
      bool number = false;
      const pid_t pid = entry.toInt(&number);
      if (!number) continue;
      QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
      QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
      if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "ibus-daemon") continue;
      if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(place))
        found.push_back(pid);
    }
    return found;
  }

  // Stops the daemon and its session bus, whatever state they are in, and any daemon started
  // again for its socket.
  void stop() {
    if (process_.state() != QProcess::NotRunning) {
      if (pid_ > 0) ::kill(pid_, SIGTERM);
      QFile session(root_ + "/daemon.pid.session");
      if (keepSession_ && session.open(QIODevice::ReadOnly)) {
        const pid_t shell = session.readAll().trimmed().toInt();
        if (shell > 0) ::kill(shell, SIGTERM);
      }
      if (!process_.waitForFinished(10000)) {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        process_.kill();
        process_.waitForFinished(5000);
      }
    }
    pid_ = 0;
    for (const pid_t pid : daemonProcesses()) ::kill(pid, SIGTERM);
    QDeadlineTimer limit(10000);
    while (!daemonProcesses().empty() && !limit.hasExpired()) QThread::msleep(20);
    for (const pid_t pid : daemonProcesses()) ::kill(pid, SIGKILL);
  }

  // Sets (or, with a null value, removes) a variable of this process until the object is
  // destroyed; the daemon started later inherits it.
  void setVariable(const char* name, const QString& value) {
    if (!saved_.count(name))
      saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    if (value.isNull())
      qunsetenv(name);
    else
      qputenv(name, QFile::encodeName(value));
  }

 private:
  bool useSessionBus() {
    QFile file(root_ + "/daemon.pid.bus");
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QString address = QString::fromLocal8Bit(file.readAll().trimmed());
    if (address.isEmpty()) return false;
    setVariable("DBUS_SESSION_BUS_ADDRESS", address);
    return true;
  }

  const QString root_;
  QString panel_ = QStringLiteral("disable");
  bool keepSession_ = false;
  bool dconf_ = false;
  QProcess process_;
  pid_t pid_ = 0;
  std::map<std::string, std::optional<QByteArray>> saved_;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_SETUP_TESTS_PRIVATEIBUSDAEMON_H_
