// A GNOME Shell 43 session on a virtual X display, for tests of what a person on GNOME sees: Xvfb
// with GLX, a private system bus, and for each login a session bus (with dconf, the shell's
// settings backend) and `gnome-shell --x11 --unsafe-mode` run as the test user, which starts its
// own IBus daemon reading the build tree's component. The profile (home, dconf, IBus's cache)
// outlives a login, so that a test can log in again on it. --unsafe-mode lets the test read the
// shell's state through org.gnome.Shell.Eval; the program under test never needs it. Everything
// started ends with the harness, whatever happened. Thread-safety: the test's main thread.
#ifndef TOLVANI_IME_TESTING_GNOMESHELLDESKTOP_H_
#define TOLVANI_IME_TESTING_GNOMESHELLDESKTOP_H_

#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <utility>
#include <vector>

#include "ime/testing/VirtualDesktop.h"

namespace tolvani::testing {

class GnomeShellDesktop {
 public:
  struct Options {
    // The folder of tolvani.xml, read beside IBus's own components.
    QString componentFolder;
    QSize screen = QSize(1366, 768);
    // Keeps what the shell, its IBus, the buses and start()'s programs write to standard error
    // for shellLog(), rather than passing it on to the test's.
    bool quiet = true;
    // More variables ("NAME=value") for the person's programs.
    QStringList environment{};
  };
  // Starts the display and the system bus; login() starts a session.
  explicit GnomeShellDesktop(const Options& options);
  ~GnomeShellDesktop();
  GnomeShellDesktop(const GnomeShellDesktop&) = delete;
  GnomeShellDesktop& operator=(const GnomeShellDesktop&) = delete;

  const QString& failure() const { return failure_; }
  // The profile's settings folder (XDG_CONFIG_HOME): Tolvani's settings live there too.
  QString configHome() const;
  // The profile's data folder (XDG_DATA_HOME), where the shell also finds desktop entries.
  QString dataHome() const;
  // Hands the profile to the test user: call after writing into it.
  void giveProfile();

  // Starts a session bus and the shell, closes the overview and waits until the shell has IBus's
  // engines and a current source; false, with failure() saying why, when it does not.
  bool login();
  // Ends the shell, its IBus and the session bus; the profile stays.
  void logout();
  // The last `lines` of what the sessions wrote to standard error, each login's under a line of
  // its own; failure() ends with it when a login fails.
  QString shellLog(int lines = 40) const;

  // A setting of the profile, as `gsettings` reads and writes it (GVariant text); works before
  // login too (a bus of its own is started for it then).
  QString setting(const QString& schema, const QString& key);
  bool setSetting(const QString& schema, const QString& key, const QString& value);

  // The shell evaluates `script`; its answer (JSON), or a null string when it failed.
  QString eval(const QString& script);
  // The id of the shell's current input source ("us", "tolvani"); empty when none.
  QString currentSource();
  // IBus's global engine in the session.
  QString ibusEngine();

  struct Result {
    int status = -1;
    QString out;
    QString err;
  };
  // Runs a program as the person in the session.
  Result run(const QString& program, const QStringList& arguments, int ms = 60000);
  // Starts a program as the person in the session, ended at logout; it answers whether it is
  // still running. Its standard error goes where the shell's goes.
  QProcess* start(const QString& program, const QStringList& arguments);
  // An X tool (xdotool) on the display; its standard output, or a null string when it failed.
  QString x(const QString& program, const QStringList& arguments);
  bool key(const QString& keys);
  // Types ASCII text as X key events.
  bool type(const QString& text);
  bool click(const QPoint& point);
  bool screenshot(const QString& path, const QRect& area = QRect());
  // A test program's window in the session, as the person; nullptr when it shows none.
  TextWindow* open(TextWindow::Toolkit toolkit, const QStringList& arguments = {});
  // Clicks the field and waits until it has the focus.
  bool focus(TextWindow& window, int field);
  // The input context IBus sends keys to, as the shell's own IBus connection asks the daemon.
  QString focusedContext();
  // The environment of the person's programs in the session.
  QProcessEnvironment environment() const;

 private:
  bool startBus(QProcess& bus, qint64& group, const QString& address, const QStringList& args);
  void keepStandardError(QProcess& process) const;
  bool loginFailed(const QString& why);
  // Ends the session's processes that left the groups above.
  void endStragglers();

  Options options_;
  QTemporaryDir root_;
  QString failure_;
  QString display_;
  QProcess xvfb_;
  qint64 xvfbGroup_ = 0;
  QProcess systemBus_;
  qint64 systemBusGroup_ = 0;
  QProcess sessionBus_;
  qint64 sessionBusGroup_ = 0;
  QProcess shell_;
  qint64 shellGroup_ = 0;
  int logins_ = 0;
  std::vector<std::unique_ptr<TextWindow>> windows_;
  std::vector<std::pair<std::unique_ptr<QProcess>, qint64>> programs_;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_GNOMESHELLDESKTOP_H_
