// A private fcitx5 daemon for tests, Debian's, in its own D-Bus session and temporary folders,
// with a profile whose group holds a keyboard layout and Tolvani (active in every new context),
// the build tree's addon, and the build's program, which the addon starts. fcitx5 runs in a loop
// that starts it again when it ends, as a session does; the bus, fcitx5, Tolvani and everything
// they started end with the harness, whatever happened. Thread-safety: the test's main thread.
#ifndef TOLVANI_IME_TESTING_FCITX5DAEMONHARNESS_H_
#define TOLVANI_IME_TESTING_FCITX5DAEMONHARNESS_H_

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <optional>

namespace tolvani::testing {

class Fcitx5DaemonHarness {
 public:
  struct Options {
    // The X display fcitx5 and the programs use.
    QString display;
    // The Wayland display (a socket name in the runtime folder), for a compositor's session.
    QString waylandDisplay;
    // The runtime folder: the compositor's, when one runs; else one of the harness's own.
    QString runtimeDir;
    // The addons fcitx5 runs beside Tolvani's.
    QStringList addons{QStringLiteral("dbus"), QStringLiteral("dbusfrontend"),
                       QStringLiteral("xcb"), QStringLiteral("keyboard")};
    bool quiet = false;
    // The bus, fcitx5 and Tolvani run as the test user (TestUser.h), as a compositor's session
    // does that refuses root.
    bool asTestUser = false;
    // The interface language Tolvani starts with (AppSettings' uiLanguage), when set.
    std::optional<int> uiLanguage{};
    // The program the addon starts, when not the build's.
    QString program;
    // The program the addon starts begins this long after it is started, as on a busy machine.
    int programDelayMs = 0;
    // Memory freed in fcitx5 (and in the programs of its session) is overwritten (glibc's
    // MALLOC_PERTURB_): what is read after it was freed crashes every time, not now and then as
    // in a person's session.
    bool overwriteFreedMemory = false;
    // fcitx5 answers IBus's clients too (its IBus frontend owns org.freedesktop.IBus and writes
    // IBus's address file), and GTK programs use IBus's GTK module, as where IBus is installed
    // beside fcitx5 and GTK 3 picks IBus's module.
    bool gtkThroughIBus = false;
  };
  explicit Fcitx5DaemonHarness(const Options& options);
  ~Fcitx5DaemonHarness();
  Fcitx5DaemonHarness(const Fcitx5DaemonHarness&) = delete;
  Fcitx5DaemonHarness& operator=(const Fcitx5DaemonHarness&) = delete;

  // True once fcitx5 answers on its bus; why not otherwise.
  bool ready() const { return failure_.isEmpty(); }
  const QString& failure() const { return failure_; }
  QString root() const { return root_.path(); }
  QString configHome() const { return root_.path() + QStringLiteral("/config"); }
  QString runtimeDir() const { return runtimeDir_; }
  // The private session bus fcitx5 and the applications share.
  QString sessionBusAddress() const { return sessionBus_; }
  // What the toolkits' fcitx5 modules need beside the display.
  void addProgramEnvironment(QProcessEnvironment& env) const;

  // Stores a setting of Tolvani's, as its settings window does.
  void setSetting(const QString& key, const QVariant& value);

  // The Tolvani program's lifecycle lines, as IBusDaemonHarness::events.
  QStringList events() const;
  bool waitFor(const std::function<bool()>& done, int ms = 20000);
  // The Tolvani program that serves now (the last one that started listening), 0 for none.
  qint64 tolvaniPid() const;
  // How each fcitx5 that ended so far ended, as the shell tells it: its exit status, or 128 and
  // the signal that ended it.
  QList<int> exits() const;
  // Ends fcitx5 as a crash does (SIGKILL) and waits until the next one answers on the bus.
  bool restartFcitx5();

 private:
  bool answers() const;
  qint64 fcitx5Pid() const;

  bool asTestUser_ = false;
  bool gtkThroughIBus_ = false;

  QTemporaryDir root_;
  QProcess session_;
  qint64 group_ = 0;
  QString runtimeDir_;
  QString sessionBus_;
  QString failure_;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_FCITX5DAEMONHARNESS_H_
