#include "ime/testing/GnomeShellDesktop.h"

#include <signal.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "ime/testing/TestUser.h"

// Last: its macros (None, Bool, Status) would clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace tolvani::testing {

namespace {

// The shell takes a few seconds to start on software GL; a loaded machine takes longer.
constexpr int kShellStartMs = 40000;

// A system bus for the shell's services to find nothing on, rather than the machine's.
constexpr char kSystemBusConfig[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig><type>system</type><listen>%1</listen><auth>EXTERNAL</auth>\n"
    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "<allow eavesdrop=\"true\"/><allow own=\"*\"/>\n"
    "<allow user=\"*\"/></policy></busconfig>\n";

}  // namespace

GnomeShellDesktop::GnomeShellDesktop(const Options& options) : options_(options) {
  if (!root_.isValid()) {
    failure_ = QStringLiteral("no temporary folder");
    return;
  }
  for (const char* dir : {"home", "config", "cache", "data", "runtime"})
    QDir(root_.path()).mkpath(QString::fromLatin1(dir));
  QFile::setPermissions(root_.path() + QStringLiteral("/runtime"),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QFile config(root_.path() + QStringLiteral("/system-bus.conf"));
  if (!config.open(QIODevice::WriteOnly)) {
    failure_ = QStringLiteral("cannot write the system bus's configuration");
    return;
  }
  config.write(QString::fromLatin1(kSystemBusConfig)
                   .arg(QStringLiteral("unix:path=") + root_.path() + QStringLiteral("/system-bus"))
                   .toUtf8());
  config.close();
  giveProfile();
  letTestUserReach(options_.componentFolder + QStringLiteral("/tolvani.xml"));

  display_ = startXvfb(xvfb_, options_.screen,
                       {QStringLiteral("+extension"), QStringLiteral("GLX")}, failure_);
  if (xvfb_.processId() > 0) xvfbGroup_ = xvfb_.processId();
  if (display_.isEmpty()) return;
  startBus(systemBus_, systemBusGroup_, root_.path() + QStringLiteral("/system-bus"),
           {QStringLiteral("--config-file=") + config.fileName()});
}

GnomeShellDesktop::~GnomeShellDesktop() {
  logout();
  endGroup(systemBus_, systemBusGroup_);
  endGroup(xvfb_, xvfbGroup_);
}

QString GnomeShellDesktop::configHome() const { return root_.path() + QStringLiteral("/config"); }

QString GnomeShellDesktop::dataHome() const { return root_.path() + QStringLiteral("/data"); }

void GnomeShellDesktop::giveProfile() { giveToTestUser(root_.path()); }

QProcessEnvironment GnomeShellDesktop::environment() const {
  QProcessEnvironment env;
  for (const char* name : {"PATH", "LANG", "LC_ALL", "TERM"}) {
    const QString value = qEnvironmentVariable(name);
    if (!value.isEmpty()) env.insert(QString::fromLatin1(name), value);
  }
  const QString root = root_.path();
  env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
  env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
  env.insert(QStringLiteral("DISPLAY"), display_);
  env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
  env.insert(QStringLiteral("XDG_SESSION_DESKTOP"), QStringLiteral("gnome"));
  env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
             QStringLiteral("unix:path=") + root + QStringLiteral("/runtime/bus"));
  env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
             QStringLiteral("unix:path=") + root + QStringLiteral("/system-bus"));
  // The daemon the shell starts reads Tolvani's component beside IBus's own keyboards.
  env.insert(QStringLiteral("IBUS_COMPONENT_PATH"),
             options_.componentFolder + QStringLiteral(":/usr/share/ibus/component"));
  env.insert(QStringLiteral("GTK_IM_MODULE"), QStringLiteral("ibus"));
  env.insert(QStringLiteral("QT_IM_MODULE"), QStringLiteral("ibus"));
  env.insert(QStringLiteral("XMODIFIERS"), QStringLiteral("@im=ibus"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
  env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
  env.insert(QStringLiteral("GTK_A11Y"), QStringLiteral("none"));
  for (const QString& variable : options_.environment) {
    const qsizetype equals = variable.indexOf(QLatin1Char('='));
    if (equals > 0) env.insert(variable.left(equals), variable.mid(equals + 1));
  }
  return env;
}

bool GnomeShellDesktop::startBus(QProcess& bus, qint64& group, const QString& socket,
                                 const QStringList& args) {
  QFile::remove(socket);
  bus.setProcessEnvironment(environment());
  bus.setChildProcessModifier(ownGroup);
  keepStandardError(bus);
  startAsTestUser(bus, QStringLiteral("dbus-daemon"),
                  args + QStringList{QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
  if (!bus.waitForStarted()) {
    failure_ = QStringLiteral("dbus-daemon did not start");
    return false;
  }
  group = bus.processId();
  const QDeadlineTimer deadline(10000);
  while (!QFile::exists(socket)) {
    if (deadline.hasExpired() || bus.state() != QProcess::Running) {
      failure_ = QStringLiteral("the bus at %1 did not listen").arg(socket);
      return false;
    }
    QThread::msleep(20);
  }
  return true;
}

void GnomeShellDesktop::keepStandardError(QProcess& process) const {
  if (options_.quiet)
    process.setStandardErrorFile(root_.path() + QStringLiteral("/session.log"), QIODevice::Append);
  else
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

QString GnomeShellDesktop::shellLog(int lines) const {
  QFile log(root_.path() + QStringLiteral("/session.log"));
  if (!log.open(QIODevice::ReadOnly)) return {};
  QStringList all = QString::fromUtf8(log.readAll()).split(u'\n');
  if (all.size() > lines) all = all.mid(all.size() - lines);
  return all.join(u'\n');
}

bool GnomeShellDesktop::loginFailed(const QString& why) {
  failure_ = why + QStringLiteral("; the session's standard error ends:\n") + shellLog();
  return false;
}

bool GnomeShellDesktop::login() {
  if (display_.isEmpty()) return false;
  QFile log(root_.path() + QStringLiteral("/session.log"));
  if (log.open(QIODevice::Append))
    log.write(QByteArray("--- login ") + QByteArray::number(++logins_) + " ---\n");
  log.close();
  if (sessionBusGroup_ == 0 &&
      !startBus(sessionBus_, sessionBusGroup_, root_.path() + QStringLiteral("/runtime/bus"),
                {QStringLiteral("--session"), QStringLiteral("--address=unix:path=") +
                                                  root_.path() + QStringLiteral("/runtime/bus")}))
    return false;
  shell_.setProcessEnvironment(environment());
  shell_.setChildProcessModifier(ownGroup);
  keepStandardError(shell_);
  shell_.setStandardOutputFile(QProcess::nullDevice());
  startAsTestUser(
      shell_, QStringLiteral("gnome-shell"),
      {QStringLiteral("--x11"), QStringLiteral("--replace"), QStringLiteral("--unsafe-mode")});
  if (!shell_.waitForStarted()) {
    return loginFailed(QStringLiteral("gnome-shell did not start"));
  }
  shellGroup_ = shell_.processId();
  const QDeadlineTimer deadline(kShellStartMs);
  const auto waitFor = [&](const QString& script, const QString& answer) {
    while (eval(script) != answer) {
      if (deadline.hasExpired() || shell_.state() != QProcess::Running) return false;
      QThread::msleep(100);
    }
    return true;
  };
  if (!waitFor(QStringLiteral("Main.layoutManager._startingUp"), QStringLiteral("false"))) {
    return loginFailed(QStringLiteral("the shell did not start up"));
  }
  // The shell opens the overview at its start, as at a login.
  key(QStringLiteral("Escape"));
  if (!waitFor(QStringLiteral("Main.overview.visible"), QStringLiteral("false"))) {
    return loginFailed(QStringLiteral("the overview stayed open"));
  }
  if (!waitFor(QStringLiteral("imports.ui.status.keyboard.getInputSourceManager()._ibusReady"),
               QStringLiteral("true"))) {
    return loginFailed(QStringLiteral("the shell's IBus did not become ready"));
  }
  while (currentSource().isEmpty() || ibusEngine().isEmpty()) {
    if (deadline.hasExpired()) {
      return loginFailed(QStringLiteral("the shell activated no input source"));
    }
    QThread::msleep(100);
  }
  return true;
}

void GnomeShellDesktop::logout() {
  windows_.clear();
  for (auto& [process, group] : programs_) endGroup(*process, group);
  programs_.clear();
  endGroup(shell_, shellGroup_);
  shellGroup_ = 0;
  endGroup(sessionBus_, sessionBusGroup_);
  sessionBusGroup_ = 0;
  endStragglers();
}

void GnomeShellDesktop::endStragglers() {
  // The shell's IBus daemon and what it starts leave the shell's process group (and, run as the
  // test user, lose the signal at this process's death): they are known by the session's
  // runtime folder in their environment.
  const QByteArray mark = "XDG_RUNTIME_DIR=" + QFile::encodeName(root_.path()) + "/runtime";
  for (int round = 0; round < 2; ++round) {
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
      bool number = false;
      const pid_t pid = static_cast<pid_t>(entry.toInt(&number));
      // The system bus stands for the machine's and outlives a login.
      if (!number || pid == ::getpid() || pid == systemBus_.processId()) continue;
      QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
      if (!environ.open(QIODevice::ReadOnly)) continue;
      if (environ.readAll().split('\0').contains(mark)) ::kill(pid, round == 0 ? SIGTERM : SIGKILL);
    }
    if (round == 0) QThread::msleep(300);
  }
}

QString GnomeShellDesktop::setting(const QString& schema, const QString& key) {
  const bool own = sessionBusGroup_ == 0;
  if (own &&
      !startBus(sessionBus_, sessionBusGroup_, root_.path() + QStringLiteral("/runtime/bus"),
                {QStringLiteral("--session"), QStringLiteral("--address=unix:path=") +
                                                  root_.path() + QStringLiteral("/runtime/bus")}))
    return {};
  const Result result = run(QStringLiteral("gsettings"), {QStringLiteral("get"), schema, key});
  if (own) logout();
  return result.status == 0 ? result.out.trimmed() : QString();
}

bool GnomeShellDesktop::setSetting(const QString& schema, const QString& key,
                                   const QString& value) {
  const bool own = sessionBusGroup_ == 0;
  if (own &&
      !startBus(sessionBus_, sessionBusGroup_, root_.path() + QStringLiteral("/runtime/bus"),
                {QStringLiteral("--session"), QStringLiteral("--address=unix:path=") +
                                                  root_.path() + QStringLiteral("/runtime/bus")}))
    return false;
  const Result result =
      run(QStringLiteral("gsettings"), {QStringLiteral("set"), schema, key, value});
  if (own) logout();
  return result.status == 0;
}

QString GnomeShellDesktop::eval(const QString& script) {
  const Result result =
      run(QStringLiteral("gdbus"),
          {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
           QStringLiteral("org.gnome.Shell"), QStringLiteral("--object-path"),
           QStringLiteral("/org/gnome/Shell"), QStringLiteral("--method"),
           QStringLiteral("org.gnome.Shell.Eval"), script},
          10000);
  // "(true, 'answer')": the answer is the JSON of the value, quoted as a GVariant string.
  const QString out = result.out.trimmed();
  const QString prefix = QStringLiteral("(true, '");
  if (result.status != 0 || !out.startsWith(prefix) || !out.endsWith(QStringLiteral("')")))
    return {};
  QString answer = out.mid(prefix.size(), out.size() - prefix.size() - 2);
  answer.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
  answer.replace(QStringLiteral("\\'"), QStringLiteral("'"));
  return answer;
}

QString GnomeShellDesktop::currentSource() {
  QString id = eval(QStringLiteral(
      "(imports.ui.status.keyboard.getInputSourceManager().currentSource || {id: ''}).id"));
  if (id.size() >= 2 && id.startsWith(u'"')) id = id.mid(1, id.size() - 2);
  return id;
}

QString GnomeShellDesktop::ibusEngine() {
  const Result result = run(QStringLiteral("ibus"), {QStringLiteral("engine")}, 10000);
  return result.status == 0 ? result.out.trimmed() : QString();
}

GnomeShellDesktop::Result GnomeShellDesktop::run(const QString& program,
                                                 const QStringList& arguments, int ms) {
  QProcess process;
  process.setProcessEnvironment(environment());
  startAsTestUser(process, program, arguments);
  Result result;
  if (!process.waitForFinished(ms)) {
    process.kill();
    process.waitForFinished(1000);
  } else if (process.exitStatus() == QProcess::NormalExit) {
    result.status = process.exitCode();
  }
  result.out = QString::fromUtf8(process.readAllStandardOutput());
  result.err = QString::fromUtf8(process.readAllStandardError());
  return result;
}

QProcess* GnomeShellDesktop::start(const QString& program, const QStringList& arguments) {
  auto process = std::make_unique<QProcess>();
  process->setProcessEnvironment(environment());
  process->setChildProcessModifier(ownGroup);
  process->setStandardOutputFile(QProcess::nullDevice());
  keepStandardError(*process);
  startAsTestUser(*process, program, arguments);
  if (!process->waitForStarted()) return nullptr;
  const qint64 group = process->processId();
  programs_.emplace_back(std::move(process), group);
  return programs_.back().first.get();
}

QString GnomeShellDesktop::x(const QString& program, const QStringList& arguments) {
  return runOn(display_, program, arguments);
}

bool GnomeShellDesktop::key(const QString& keys) {
  // As a keyboard presses them: xdotool locks the layout group its key table found a key in (the
  // first) around each event and then the one before, and the shell, which had locked the group
  // of its current source, at times lost Super+Space in that exchange.
  Display* display = XOpenDisplay(display_.toLatin1().constData());
  if (!display) return false;
  bool known = true;
  const QStringList chords = keys.split(u' ', Qt::SkipEmptyParts);
  for (qsizetype i = 0; known && i < chords.size(); ++i) {
    if (i > 0) QThread::msleep(60);
    std::vector<KeyCode> codes;
    for (const QString& name : chords[i].split(u'+')) {
      const QString lower = name.toLower();
      const QString symbol = lower == QLatin1String("super")   ? QStringLiteral("Super_L")
                             : lower == QLatin1String("ctrl")  ? QStringLiteral("Control_L")
                             : lower == QLatin1String("alt")   ? QStringLiteral("Alt_L")
                             : lower == QLatin1String("shift") ? QStringLiteral("Shift_L")
                                                               : name;
      const KeySym sym = XStringToKeysym(symbol.toLatin1().constData());
      const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
      if (code == 0) known = false;
      codes.push_back(code);
    }
    if (!known) break;
    for (const KeyCode code : codes) XTestFakeKeyEvent(display, code, True, CurrentTime);
    for (auto code = codes.rbegin(); code != codes.rend(); ++code)
      XTestFakeKeyEvent(display, *code, False, CurrentTime);
    XSync(display, False);
  }
  XCloseDisplay(display);
  return known;
}

bool GnomeShellDesktop::type(const QString& text) {
  return !x(QStringLiteral("xdotool"),
            {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("60"), text})
              .isNull();
}

bool GnomeShellDesktop::click(const QPoint& point) {
  return !x(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
             QStringLiteral("click"), QStringLiteral("1")})
              .isNull();
}

bool GnomeShellDesktop::screenshot(const QString& path, const QRect& area) {
  return screenshotOf(display_, path, area);
}

TextWindow* GnomeShellDesktop::open(TextWindow::Toolkit toolkit, const QStringList& arguments) {
  letTestUserReach(TextWindow::programPath(toolkit));
  auto window = std::make_unique<TextWindow>(toolkit, arguments, environment(), asTestUser({}));
  if (!window->ready()) {
    failure_ = window->failure();
    return nullptr;
  }
  windows_.push_back(std::move(window));
  return windows_.back().get();
}

bool GnomeShellDesktop::focus(TextWindow& window, int field) {
  const QRect place = window.field(field);
  if (place.isEmpty()) return false;
  const QString before = focusedContext();
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!click(place.center())) return false;
    if (!window.waitForFocus(field, 3000)) continue;
    // The toolkit's IBus module tells the daemon after the field has the focus, and until then
    // the daemon sends keys to the context focused before. When nothing moves (the field's
    // context had the focus already), the wait ends.
    waitUntil(
        [&] {
          const QString now = focusedContext();
          return !now.isEmpty() && now != before;
        },
        1500);
    return true;
  }
  return false;
}

QString GnomeShellDesktop::focusedContext() {
  QString path = eval(QStringLiteral(
      "imports.misc.ibusManager.getIBusManager()._ibus.current_input_context() || ''"));
  if (path.size() >= 2 && path.startsWith(u'"')) path = path.mid(1, path.size() - 2);
  return path;
}

}  // namespace tolvani::testing
