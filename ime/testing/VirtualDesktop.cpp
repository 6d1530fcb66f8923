#include "ime/testing/VirtualDesktop.h"

#include <ibus.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QThread>
#include <algorithm>
#include <vector>

// Last: its macros (None, Bool, Status) would clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#ifndef TOLVANI_GTK_TEXT_WINDOW
#define TOLVANI_GTK_TEXT_WINDOW ""
#endif
#ifndef TOLVANI_GTK4_TEXT_WINDOW
#define TOLVANI_GTK4_TEXT_WINDOW ""
#endif
#ifndef TOLVANI_QT_TEXT_WINDOW
#define TOLVANI_QT_TEXT_WINDOW ""
#endif

namespace tolvani::testing {

void endGroup(QProcess& process, qint64 group) {
  if (group <= 1) return;
  ::kill(static_cast<pid_t>(-group), SIGTERM);
  if (process.state() != QProcess::NotRunning && !process.waitForFinished(3000)) {
    ::kill(static_cast<pid_t>(-group), SIGKILL);
    process.waitForFinished(3000);
  }
  ::kill(static_cast<pid_t>(-group), SIGKILL);
  const QDeadlineTimer deadline(3000);
  while (::kill(static_cast<pid_t>(-group), 0) == 0 && !deadline.hasExpired()) QThread::msleep(10);
}

void ownGroup() {
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

QString startXvfb(QProcess& xvfb, QSize screen, const QStringList& extra, QString& failure) {
  // Xvfb picks a free display itself and writes its number.
  xvfb.setChildProcessModifier(ownGroup);
  xvfb.setProcessChannelMode(QProcess::SeparateChannels);
  xvfb.start(
      QStringLiteral("Xvfb"),
      QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"),
                  QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                  QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")} +
          extra);
  if (!xvfb.waitForStarted()) {
    failure = QStringLiteral("Xvfb did not start: ") + xvfb.errorString();
    return {};
  }
  QByteArray number;
  const QDeadlineTimer deadline(20000);
  while (!number.contains('\n') && !deadline.hasExpired() && xvfb.state() == QProcess::Running) {
    xvfb.waitForReadyRead(100);
    number += xvfb.readAllStandardOutput();
  }
  if (!number.contains('\n')) {
    failure =
        QStringLiteral("Xvfb gave no display: ") + QString::fromUtf8(xvfb.readAllStandardError());
    return {};
  }
  return QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

namespace {

// A text as the programs report it: line breaks written "\n", backslashes "\\".
QString unescaped(const QString& reported) {
  QString text;
  text.reserve(reported.size());
  for (qsizetype i = 0; i < reported.size(); ++i) {
    if (reported[i] == u'\\' && i + 1 < reported.size()) {
      ++i;
      text += reported[i] == u'n' ? QChar(u'\n') : reported[i];
    } else {
      text += reported[i];
    }
  }
  return text;
}

}  // namespace

TextWindow::TextWindow(Toolkit toolkit, const QStringList& arguments,
                       const QProcessEnvironment& env, const QStringList& wrapper)
    : toolkit_(toolkit) {
  const QString program = programPath(toolkit);
  process_.setProcessEnvironment(env);
  process_.setChildProcessModifier(ownGroup);
  const QStringList command = wrapper + QStringList{program} + arguments;
  process_.start(command.first(), command.mid(1));
  if (!process_.waitForStarted()) {
    failure_ = program + QStringLiteral(" did not start: ") + process_.errorString();
    return;
  }
  group_ = process_.processId();
  const QDeadlineTimer deadline(20000);
  while (!ready_ && !deadline.hasExpired() && process_.state() == QProcess::Running) read(100);
  if (!ready_) failure_ = program + QStringLiteral(" showed no window: ") + errors();
}

TextWindow::~TextWindow() { endGroup(process_, group_); }

QString TextWindow::programPath(Toolkit toolkit) {
  return QString::fromUtf8(toolkit == Toolkit::Gtk3   ? TOLVANI_GTK_TEXT_WINDOW
                           : toolkit == Toolkit::Gtk4 ? TOLVANI_GTK4_TEXT_WINDOW
                                                      : TOLVANI_QT_TEXT_WINDOW);
}

QRect TextWindow::field(int index) const {
  return index >= 0 && index < fieldCount() ? places_[static_cast<size_t>(index)] : QRect();
}

QString TextWindow::text(int index) {
  read(0);
  const auto found = texts_.find(index);
  return found == texts_.end() ? QString() : found->second;
}

int TextWindow::focusedField() {
  read(0);
  return focused_;
}

QString TextWindow::preedit(int index) {
  read(0);
  const auto found = preedits_.find(index);
  return found == preedits_.end() ? QString() : found->second;
}

bool TextWindow::waitForPreedit(int index, const QString& expected, int ms) {
  const QDeadlineTimer deadline(ms);
  while (preedit(index) != expected) {
    if (deadline.hasExpired() || process_.state() != QProcess::Running) return false;
    read(50);
  }
  return true;
}

bool TextWindow::waitForText(int index, const QString& expected, int ms) {
  const QDeadlineTimer deadline(ms);
  while (text(index) != expected) {
    if (deadline.hasExpired() || process_.state() != QProcess::Running) return false;
    read(50);
  }
  return true;
}

bool TextWindow::waitForFocus(int index, int ms) {
  const QDeadlineTimer deadline(ms);
  while (focusedField() != index) {
    if (deadline.hasExpired() || process_.state() != QProcess::Running) return false;
    read(50);
  }
  return true;
}

bool TextWindow::waitForSelection(int index, int start, int end, int ms) {
  const QDeadlineTimer deadline(ms);
  while (true) {
    read(0);
    const auto found = selections_.find(index);
    if (found != selections_.end() && found->second == std::make_pair(start, end)) return true;
    if (deadline.hasExpired() || process_.state() != QProcess::Running) return false;
    read(50);
  }
}

QString TextWindow::selection(int index) {
  read(0);
  const auto found = selections_.find(index);
  if (found == selections_.end()) return QStringLiteral("none");
  return QStringLiteral("%1,%2").arg(found->second.first).arg(found->second.second);
}

bool TextWindow::clear(int index) {
  if (process_.write("clear\n") < 0) return false;
  process_.waitForBytesWritten(1000);
  return waitForText(index, QString());
}

QPoint TextWindow::characterPoint(int field, int index) {
  points_.erase({field, index});
  if (process_.write(QStringLiteral("where %1 %2\n").arg(field).arg(index).toLatin1()) < 0) {
    return QPoint();
  }
  process_.waitForBytesWritten(1000);
  const QDeadlineTimer deadline(5000);
  while (!points_.count({field, index})) {
    if (deadline.hasExpired() || process_.state() != QProcess::Running) return QPoint();
    read(50);
  }
  return points_[{field, index}];
}

QString TextWindow::errors() { return QString::fromUtf8(process_.readAllStandardError()); }

void TextWindow::read(int ms) {
  if (process_.bytesAvailable() == 0 && ms > 0) process_.waitForReadyRead(ms);
  pending_ += process_.readAllStandardOutput();
  qsizetype end;
  while ((end = pending_.indexOf('\n')) >= 0) {
    const QString line = QString::fromUtf8(pending_.left(end));
    pending_.remove(0, end + 1);
    if (line.startsWith(QLatin1String("text ")) || line.startsWith(QLatin1String("preedit "))) {
      const qsizetype space = line.indexOf(u' ');
      const qsizetype tab = line.indexOf(u'\t');
      if (tab < 0) continue;
      auto& into = line.startsWith(u't') ? texts_ : preedits_;
      into[line.mid(space + 1, tab - space - 1).toInt()] = unescaped(line.mid(tab + 1));
    } else if (line.startsWith(QLatin1String("focus "))) {
      focused_ = line.mid(6).toInt();
    } else if (line.startsWith(QLatin1String("blur "))) {
      // The next field's focus may be reported before the last one's loss.
      if (line.mid(5).toInt() == focused_) focused_ = -1;
    } else if (line.startsWith(QLatin1String("selection "))) {
      const QStringList parts = line.split(u' ');
      if (parts.size() != 4) continue;
      selections_[parts[1].toInt()] = {parts[2].toInt(), parts[3].toInt()};
    } else if (line.startsWith(QLatin1String("at "))) {
      const QStringList parts = line.split(u' ');
      if (parts.size() != 5) continue;
      points_[{parts[1].toInt(), parts[2].toInt()}] = QPoint(parts[3].toInt(), parts[4].toInt());
    } else if (line.startsWith(QLatin1String("window "))) {
      windowId_ = line.mid(7);
    } else if (line.startsWith(QLatin1String("field "))) {
      const QStringList parts = line.split(u' ');
      if (parts.size() != 6) continue;
      places_.emplace_back(parts[2].toInt(), parts[3].toInt(), parts[4].toInt(), parts[5].toInt());
    } else if (line == QLatin1String("ready")) {
      ready_ = true;
    }
  }
}

VirtualDesktop::VirtualDesktop(const QString& componentFolder, bool quiet)
    : VirtualDesktop(IBusDaemonHarness::Options{componentFolder, QString(), quiet}) {}

VirtualDesktop::VirtualDesktop(const IBusDaemonHarness::Options& options, QSize screen) {
  display_ = startXvfb(xvfb_, screen, {}, failure_);
  if (xvfb_.processId() > 0) xvfbGroup_ = xvfb_.processId();
  if (display_.isEmpty()) return;
  IBusDaemonHarness::Options daemon = options;
  daemon.display = display_;
  ibus_ = std::make_unique<IBusDaemonHarness>(daemon);
}

VirtualDesktop::VirtualDesktop(const Fcitx5DaemonHarness::Options& options, QSize screen) {
  display_ = startXvfb(xvfb_, screen, {}, failure_);
  if (xvfb_.processId() > 0) xvfbGroup_ = xvfb_.processId();
  if (display_.isEmpty()) return;
  Fcitx5DaemonHarness::Options daemon = options;
  daemon.display = display_;
  fcitx5_ = std::make_unique<Fcitx5DaemonHarness>(daemon);
}

VirtualDesktop::~VirtualDesktop() {
  windows_.clear();
  for (auto& [process, group] : programs_) endGroup(*process, group);
  ibus_.reset();
  fcitx5_.reset();
  endGroup(xvfb_, xvfbGroup_);
}

void VirtualDesktop::endDisplay(bool killed) {
  if (killed && xvfbGroup_ > 1) ::kill(static_cast<pid_t>(-xvfbGroup_), SIGKILL);
  endGroup(xvfb_, xvfbGroup_);
  xvfbGroup_ = 0;
}

void VirtualDesktop::freezeDisplay() {
  if (xvfbGroup_ > 1) ::kill(static_cast<pid_t>(-xvfbGroup_), SIGSTOP);
}

QString VirtualDesktop::failure() const {
  if (!failure_.isEmpty()) return failure_;
  if (fcitx5_) return fcitx5_->failure();
  return ibus_ ? ibus_->failure() : QString();
}

QProcessEnvironment VirtualDesktop::programEnvironment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"WAYLAND_DISPLAY", "QT_NO_GLIB", "IBUS_ENABLE_SYNC_MODE",
                           "DBUS_SESSION_BUS_ADDRESS", "XMODIFIERS", "SESSION_MANAGER"}) {
    env.remove(QString::fromLatin1(name));
  }
  const QString root = ibus_ ? ibus_->root() : fcitx5_->root();
  env.insert(QStringLiteral("DISPLAY"), display_);
  if (ibus_) {
    env.insert(QStringLiteral("IBUS_ADDRESS"), ibus_->address());
    env.insert(QStringLiteral("GTK_IM_MODULE"), QStringLiteral("ibus"));
    env.insert(QStringLiteral("QT_IM_MODULE"), QStringLiteral("ibus"));
  }
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
  env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
  // GTK 4: no accessibility bus, and drawing without OpenGL, which Xvfb has only in software.
  env.insert(QStringLiteral("GTK_A11Y"), QStringLiteral("none"));
  env.insert(QStringLiteral("GSK_RENDERER"), QStringLiteral("cairo"));
  env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
  env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
  // Qt's IBus module finds the daemon by the address file the daemon writes in this folder, not
  // by IBUS_ADDRESS.
  env.insert(QStringLiteral("XDG_CONFIG_HOME"),
             ibus_ ? ibus_->configHome() : fcitx5_->configHome());
  env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
  if (fcitx5_) fcitx5_->addProgramEnvironment(env);
  return env;
}

TextWindow* VirtualDesktop::open(TextWindow::Toolkit toolkit, const QStringList& arguments) {
  if (!ready()) return nullptr;
  QProcessEnvironment env = programEnvironment();
  // GTK 4's IBus module hands keys to IBus only once it has seen the daemon on the session bus:
  // the daemon's own private one.
  if (toolkit == TextWindow::Toolkit::Gtk4 && ibus_) {
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), ibus_->sessionBusAddress());
  }
  auto window = std::make_unique<TextWindow>(toolkit, arguments, env);
  if (!window->ready()) {
    failure_ = window->failure();
    return nullptr;
  }
  windows_.push_back(std::move(window));
  return windows_.back().get();
}

bool VirtualDesktop::focus(TextWindow& window, int field) {
  const QRect place = window.field(field);
  if (place.isEmpty()) return false;
  const QString before = focusedContext();
  if (!focusWindow(window)) return false;
  // The window gives its focus field the focus back; when that is the one, a person clicks no
  // more (a second click in the same place could make a double click, selecting a word).
  const QDeadlineTimer settled(2000);
  while (window.focusedField() < 0 && !settled.hasExpired()) window.read(50);
  for (int attempt = 0; attempt < 3 && window.focusedField() != field; ++attempt) {
    if (!click(place.center())) return false;
    if (window.waitForFocus(field, 3000)) break;
    if (attempt == 2) return false;
  }
  // fcitx5's modules make a window's context with fcitx5 only as it first takes the focus, and
  // keys typed before fcitx5 has focused it go past fcitx5. A field whose context has the focus
  // already needs no wait (a Qt program's fields share one).
  // The context the focus moves to, once it moves: the one focused when nothing moves for a while.
  const auto movedContext = [&] {
    waitUntil(
        [&] {
          const QString now = focusedContext();
          return !now.isEmpty() && now != before;
        },
        1500);
    return focusedContext();
  };
  if (fcitx5_) {
    const auto known = window.contexts_.find(field);
    const QString now = known == window.contexts_.end() || known->second != before
                            ? movedContext()
                            : focusedContext();
    if (!now.isEmpty()) window.contexts_[field] = now;
    return true;
  }
  // The toolkit's IBus module tells the daemon after the field has the focus, and until then the
  // daemon sends menu choices and keys to the context focused before.
  const auto known = window.contexts_.find(field);
  if (known != window.contexts_.end()) {
    const QString path = known->second;
    return ibus_->waitFor([&] { return focusedContext() == path; });
  }
  // A field focused the first time: its context is the one the focus moves to. When nothing
  // moves (the daemon already had it, or a Qt program's fields share one context), the wait ends.
  const QString now = movedContext();
  if (now.isEmpty()) return false;
  window.contexts_[field] = now;
  return true;
}

QString VirtualDesktop::focusedContext() const {
  if (fcitx5_) {
    // The context fcitx5 last told Tolvani of.
    const QStringList lines = fcitx5_->events();
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
      if (line->startsWith(QLatin1String("activate "))) return line->mid(9);
      if (line->startsWith(QLatin1String("deactivate "))) return QString();
    }
    return QString();
  }
  if (!ibus_) return {};
  gchar* path = ibus_bus_current_input_context(ibus_->bus());
  const QString context = QString::fromUtf8(path ? path : "");
  g_free(path);
  return context;
}

bool VirtualDesktop::focusWindow(const TextWindow& window) {
  if (window.windowId().isEmpty()) return false;
  return !run(QStringLiteral("xdotool"),
              {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window.windowId()})
              .isNull();
}

bool VirtualDesktop::startIBusPanel(const QStringList& engines) {
  // The panel keeps its engines in IBus's settings, which it reads and writes through dconf (on
  // the daemon's session bus): with no engines there it fails an assertion once an engine is
  // selected, and GLib's key-file backend makes it recurse until its stack is gone.
  QProcessEnvironment env = programEnvironment();
  env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("dconf"));
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), ibus_->sessionBusAddress());
  QString list;
  for (const QString& engine : engines) list += (list.isEmpty() ? "'" : ", '") + engine + u'\'';
  for (const char* key : {"preload-engines", "engines-order"}) {
    QProcess gsettings;
    gsettings.setProcessEnvironment(env);
    gsettings.start(QStringLiteral("gsettings"),
                    {QStringLiteral("set"), QStringLiteral("org.freedesktop.ibus.general"),
                     QString::fromLatin1(key), u'[' + list + u']'});
    if (!gsettings.waitForFinished(10000) || gsettings.exitCode() != 0) {
      failure_ = QStringLiteral("gsettings could not write the panel's engines");
      return false;
    }
  }
  const auto start = [&](const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->setChildProcessModifier(ownGroup);
    process->start(program, arguments);
    if (!process->waitForStarted()) {
      failure_ = program + QStringLiteral(" did not start: ") + process->errorString();
      return false;
    }
    const qint64 group = process->processId();
    programs_.emplace_back(std::move(process), group);
    return true;
  };
  if (!start(QStringLiteral("trayer"),
             {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
              QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
              QStringLiteral("--height"), QStringLiteral("24")}) ||
      !waitForWindow(QStringLiteral("panel")) ||
      !start(QStringLiteral("/usr/libexec/ibus-ui-gtk3"), {})) {
    return false;
  }
  if (!waitForWindow(QStringLiteral("IBus Panel"))) {
    failure_ = QStringLiteral("IBus's panel showed no icon in the tray");
    return false;
  }
  return true;
}

bool VirtualDesktop::openIBusPanelMenu() {
  // The visible windows of the panel's program that are as large as a menu.
  const auto menus = [this] {
    int count = 0;
    const QStringList ids =
        run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), QStringLiteral("^ibus-ui-gtk3$")})
            .split(u'\n', Qt::SkipEmptyParts);
    for (const QString& id : ids) {
      const QString shape = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                            QStringLiteral("--shell"), id});
      if (shape.contains(QLatin1String("X=")) && !shape.contains(QLatin1String("X=-")) &&
          !shape.contains(QLatin1String("WIDTH=10\n"))) {
        ++count;
      }
    }
    return count;
  };
  const QString icon =
      run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                      QStringLiteral("--name"), QStringLiteral("^IBus Panel$")})
          .section(u'\n', 0, 0);
  if (icon.isEmpty()) return false;
  const int before = menus();
  // The icon's middle.
  if (run(QStringLiteral("xdotool"),
          {QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("12"),
           QStringLiteral("11"), QStringLiteral("click"), QStringLiteral("1")})
          .isNull()) {
    return false;
  }
  const QDeadlineTimer deadline(10000);
  while (menus() <= before) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  return true;
}

bool VirtualDesktop::click(const QPoint& point) {
  return !run(QStringLiteral("xdotool"),
              {QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
               QStringLiteral("click"), QStringLiteral("1")})
              .isNull();
}

bool VirtualDesktop::drag(const QPoint& from, const QPoint& to) {
  // A move on the way: a press and a release alone make a click.
  const QPoint between = (from + to) / 2;
  return !run(QStringLiteral("xdotool"),
              {QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
               QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
               QString::number(between.x()), QString::number(between.y()),
               QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y()),
               QStringLiteral("mouseup"), QStringLiteral("1")})
              .isNull();
}

bool VirtualDesktop::selectEngine(const char* engine) {
  if (!ready()) return false;
  // fcitx5's profile makes Tolvani the input method of every new field.
  if (fcitx5_) return true;
  const auto current = [this] {
    IBusEngineDesc* desc = ibus_bus_get_global_engine(ibus_->bus());
    const QString name = desc ? QString::fromUtf8(ibus_engine_desc_get_name(desc)) : QString();
    if (desc) g_object_unref(desc);
    return name;
  };
  if (!ibus_bus_set_global_engine(ibus_->bus(), engine)) return false;
  return ibus_->waitFor([&] { return current() == QString::fromUtf8(engine); });
}

bool VirtualDesktop::type(const QString& text, int delayMs) {
  return !run(QStringLiteral("xdotool"),
              {QStringLiteral("type"), QStringLiteral("--delay"), QString::number(delayMs), text},
              30000)
              .isNull();
}

bool VirtualDesktop::typeUnbound(char32_t character, const std::function<bool()>& arrived, int ms) {
  Display* x = XOpenDisplay(display_.toLatin1().constData());
  if (!x) return false;
  int first = 0;
  int last = 0;
  XDisplayKeycodes(x, &first, &last);
  int perCode = 0;
  KeySym* map = XGetKeyboardMapping(x, static_cast<KeyCode>(first), last - first + 1, &perCode);
  int spare = 0;
  for (int code = last; map && spare == 0 && code >= first; --code) {
    const KeySym* syms = map + (code - first) * perCode;
    if (std::all_of(syms, syms + perCode, [](KeySym s) { return s == NoSymbol; })) spare = code;
  }
  if (map) XFree(map);
  if (spare == 0) {
    XCloseDisplay(x);
    return false;
  }
  // Latin-1 keysyms are the code points; the others are Unicode keysyms.
  const KeySym symbol = character < 0x100 ? character : (0x1000000 | character);
  std::vector<KeySym> bound(static_cast<size_t>(perCode), symbol);
  XChangeKeyboardMapping(x, spare, perCode, bound.data(), 1);
  XSync(x, False);
  XTestFakeKeyEvent(x, static_cast<unsigned>(spare), True, CurrentTime);
  XTestFakeKeyEvent(x, static_cast<unsigned>(spare), False, CurrentTime);
  XSync(x, False);
  const QDeadlineTimer deadline(ms);
  bool held = arrived();
  while (!held && !deadline.hasExpired()) {
    QThread::msleep(20);
    held = arrived();
  }
  std::fill(bound.begin(), bound.end(), NoSymbol);
  XChangeKeyboardMapping(x, spare, perCode, bound.data(), 1);
  XSync(x, False);
  XCloseDisplay(x);
  return held;
}

bool VirtualDesktop::key(const QString& keys) {
  return !run(QStringLiteral("xdotool"),
              QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("25")} +
                  keys.split(u' ', Qt::SkipEmptyParts))
              .isNull();
}

bool VirtualDesktop::closeWindow(const QString& windowId) {
  bool number = false;
  const ulong window = windowId.toULong(&number);
  if (!number || display_.isEmpty()) return false;
  Display* x = XOpenDisplay(display_.toLatin1().constData());
  if (!x) return false;
  const Atom protocols = XInternAtom(x, "WM_PROTOCOLS", False);
  const Atom remove = XInternAtom(x, "WM_DELETE_WINDOW", False);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(remove);
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(x, window, False, NoEventMask, &event) != 0;
  XSync(x, False);
  XCloseDisplay(x);
  return sent;
}

bool VirtualDesktop::waitForWindow(const QString& title, int ms) {
  const QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    const QString found =
        run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QLatin1Char('^') + title + QLatin1Char('$')});
    if (!found.trimmed().isEmpty()) return true;
    QThread::msleep(50);
  }
  return false;
}

QRect VirtualDesktop::windowPlace(const QString& title, int ms) {
  const auto place = [&] {
    const QStringList ids =
        run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QLatin1Char('^') + title + QLatin1Char('$')})
            .split(u'\n', Qt::SkipEmptyParts);
    if (ids.isEmpty()) return QRect();
    QMap<QString, int> shape;
    const QString shell = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                          QStringLiteral("--shell"), ids.first()});
    for (const QString& line : shell.split(u'\n', Qt::SkipEmptyParts)) {
      const qsizetype equals = line.indexOf(u'=');
      if (equals > 0) shape[line.left(equals)] = line.mid(equals + 1).toInt();
    }
    return QRect(shape.value(QStringLiteral("X")), shape.value(QStringLiteral("Y")),
                 shape.value(QStringLiteral("WIDTH")), shape.value(QStringLiteral("HEIGHT")));
  };
  // A window that is still being filled may grow.
  QRect last;
  const QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    const QRect now = place();
    if (!now.isEmpty() && now == last) return now;
    last = now;
    QThread::msleep(now.isEmpty() ? 50 : 250);
  }
  return QRect();
}

bool VirtualDesktop::screenshot(const QString& path, const QRect& area) {
  return screenshotOf(display_, path, area);
}

QString VirtualDesktop::run(const QString& program, const QStringList& arguments, int ms) {
  return runOn(display_, program, arguments, ms);
}

bool screenshotOf(const QString& display, const QString& path, const QRect& area) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile::remove(path);
  QStringList arguments{QStringLiteral("-window"), QStringLiteral("root")};
  if (area.isValid()) {
    arguments << QStringLiteral("-crop")
              << QStringLiteral("%1x%2+%3+%4")
                     .arg(area.width())
                     .arg(area.height())
                     .arg(area.x())
                     .arg(area.y())
              << QStringLiteral("+repage");
  }
  arguments << path;
  return !runOn(display, QStringLiteral("import"), arguments).isNull() &&
         QFileInfo(path).size() > 0;
}

QString runOn(const QString& display, const QString& program, const QStringList& arguments,
              int ms) {
  if (display.isEmpty()) return QString();
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display);
  tool.setProcessEnvironment(env);
  tool.start(program, arguments);
  if (!tool.waitForFinished(ms)) {
    tool.kill();
    tool.waitForFinished(1000);
    return QString();
  }
  // xdotool search answers 1 when nothing matched: that is an answer, not a failure.
  if (tool.exitStatus() != QProcess::NormalExit) return QString();
  if (tool.exitCode() != 0 && !(arguments.value(0) == QLatin1String("search"))) return QString();
  const QString out = QString::fromUtf8(tool.readAllStandardOutput());
  return out.isNull() ? QStringLiteral("") : out;
}

}  // namespace tolvani::testing
