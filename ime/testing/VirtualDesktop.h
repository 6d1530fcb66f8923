// A virtual X display (Xvfb) with a private D-Bus session and IBus daemon, and real GTK 3, GTK 4
// and Qt 6 programs on it that type through their toolkits' own IBus modules: a test opens windows
// with text fields, focuses a window and a field of it by clicking it, types X key events
// (xdotool), reads back the exact text and composition of every field and takes screenshots. Xvfb,
// the daemon, the bus and every program started are stopped when the harness ends, whatever
// happened. Thread-safety: the test's main thread.
#ifndef TOLVANI_IME_TESTING_VIRTUALDESKTOP_H_
#define TOLVANI_IME_TESTING_VIRTUALDESKTOP_H_

#include <QProcess>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "ime/testing/Fcitx5DaemonHarness.h"
#include "ime/testing/IBusDaemonHarness.h"

namespace tolvani::testing {

// Ends a process started in a process group of its own, and everything else in that group.
void endGroup(QProcess& process, qint64 group);
// For setChildProcessModifier: a process group of its own, ended with the harness; and ended with
// this process too, should it die before the harness could end anything.
void ownGroup();
// Starts Xvfb with a screen of `screen`'s size and `extra` arguments; its display (":N"), or an
// empty string with `failure` set.
QString startXvfb(QProcess& xvfb, QSize screen, const QStringList& extra, QString& failure);

// Runs an X tool on `display`; its standard output, or a null string when it failed.
QString runOn(const QString& display, const QString& program, const QStringList& arguments,
              int ms = 10000);
// Writes the screen of `display`, or this area of it, to a PNG file.
bool screenshotOf(const QString& display, const QString& path, const QRect& area = QRect());

// One test program's window, as its reports on standard output tell it.
class TextWindow {
 public:
  enum class Toolkit { Gtk3, Gtk4, Qt6 };

  // `wrapper`: the command the program runs under (asTestUser's, for a session of the test user).
  TextWindow(Toolkit toolkit, const QStringList& arguments, const QProcessEnvironment& env,
             const QStringList& wrapper = {});
  // Ends the program and its process group.
  ~TextWindow();
  // The test program of `toolkit`.
  static QString programPath(Toolkit toolkit);
  TextWindow(const TextWindow&) = delete;
  TextWindow& operator=(const TextWindow&) = delete;

  // True once the window is shown and its fields' places are known; why not otherwise.
  bool ready() const { return ready_; }
  const QString& failure() const { return failure_; }
  Toolkit toolkit() const { return toolkit_; }
  int fieldCount() const { return static_cast<int>(places_.size()); }
  // A field's place on the screen.
  QRect field(int index) const;
  // The field's whole text, as last reported.
  QString text(int index);
  // The window's X id.
  const QString& windowId() const { return windowId_; }
  // The field that has the keyboard focus, -1 when none has.
  int focusedField();
  // The composition the field shows, as last reported.
  QString preedit(int index);
  // Reads reports until the field holds `expected` or `ms` pass; answers whether it does.
  bool waitForText(int index, const QString& expected, int ms = 20000);
  bool waitForPreedit(int index, const QString& expected, int ms = 20000);
  bool waitForFocus(int index, int ms = 10000);
  // Reads reports until the field's selection runs from `start` to `end` (the caret when they are
  // equal; GTK counts characters, Qt UTF-16 units), or `ms` pass; answers whether it does. GTK 4
  // programs do not tell.
  bool waitForSelection(int index, int start, int end, int ms = 10000);
  // The field's selection as last reported, "<start>,<end>", or "none".
  QString selection(int index);
  // Empties every field, as the program itself does; answers whether field `index` reports it.
  bool clear(int index = 0);
  // The screen point at the left edge of the field's character `index`, halfway down its line; a
  // null point when the program does not tell (GTK 3 text views and Qt 6 fields do; GTK counts
  // characters, Qt UTF-16 units).
  QPoint characterPoint(int field, int index);
  // Everything the program wrote to standard error.
  QString errors();

 private:
  friend class VirtualDesktop;
  // Reads the reports already written, waiting up to `ms` for the first one.
  void read(int ms);

  Toolkit toolkit_;
  QProcess process_;
  qint64 group_ = 0;
  bool ready_ = false;
  QString failure_;
  QByteArray pending_;
  std::vector<QRect> places_;
  QString windowId_;
  std::map<int, QString> texts_;
  std::map<int, QString> preedits_;
  std::map<int, std::pair<int, int>> selections_;
  std::map<std::pair<int, int>, QPoint> points_;
  int focused_ = -1;
  // The daemon's input context of each field focused so far.
  std::map<int, QString> contexts_;
};

class VirtualDesktop {
 public:
  // `componentFolder`: the folder of tolvani.xml, empty for the installed component. `quiet`
  // drops what the bus, the daemon and the programs write to standard error.
  explicit VirtualDesktop(const QString& componentFolder, bool quiet = false);
  // The daemon as `options` say; their display is the virtual one, of `screen`'s size.
  explicit VirtualDesktop(const IBusDaemonHarness::Options& options,
                          QSize screen = QSize(1024, 600));
  // A private fcitx5 daemon instead of IBus, with Tolvani active in every field; the programs
  // type through fcitx5's modules.
  explicit VirtualDesktop(const Fcitx5DaemonHarness::Options& options,
                          QSize screen = QSize(1024, 600));
  // Ends the windows, then the daemon and its bus, then Xvfb.
  ~VirtualDesktop();
  VirtualDesktop(const VirtualDesktop&) = delete;
  VirtualDesktop& operator=(const VirtualDesktop&) = delete;

  // True once the display and the daemon answer; why not otherwise.
  bool ready() const { return (ibus_ && ibus_->ready()) || (fcitx5_ && fcitx5_->ready()); }
  QString failure() const;
  // ":N".
  const QString& display() const { return display_; }
  IBusDaemonHarness& ibus() { return *ibus_; }
  // The fcitx5 daemon, when the desktop runs one instead of IBus.
  Fcitx5DaemonHarness* fcitx5() { return fcitx5_.get(); }
  // The Tolvani program's lifecycle lines, whichever framework started it.
  QStringList events() const { return ibus_ ? ibus_->events() : fcitx5_->events(); }
  // Serves the test's events until `done` holds or 20 s pass; answers `done`.
  bool waitFor(const std::function<bool()>& done) {
    return ibus_ ? ibus_->waitFor(done) : fcitx5_->waitFor(done);
  }

  // Starts a test program with these options ("--fields", "--title", "--x", "--y" (not GTK 4),
  // "--multiline") and waits until its window is shown; nullptr, with the reason in failure(),
  // when it is not.
  TextWindow* open(TextWindow::Toolkit toolkit, const QStringList& arguments = {});
  // Starts IBus's own panel (ibus-ui-gtk3) beside a system tray (trayer) that holds its icon, and
  // waits until the icon shows; false, with the reason in failure(), when it does not. `engines`
  // are the engines the panel offers; it selects the first as it starts.
  bool startIBusPanel(const QStringList& engines);
  // Clicks the panel's tray icon, as a person does, and waits until its menu shows.
  bool openIBusPanelMenu();
  // Gives the window the X focus, clicks the field's middle and waits until the field has the
  // keyboard focus. Without a window manager a click alone moves no X focus between windows.
  bool focus(TextWindow& window, int field);
  // Gives the window the X focus, as a window manager does when a window is chosen.
  bool focusWindow(const TextWindow& window);
  // Clicks the first button at this point of the screen.
  bool click(const QPoint& point);
  // Presses the first button at `from`, moves to `to` and releases it there, as a person selects
  // text with the mouse.
  bool drag(const QPoint& from, const QPoint& to);
  // Makes `engine` IBus's engine for every input context; answers whether the daemon reports it.
  bool selectEngine(const char* engine);
  // Types ASCII text as X key events, one key after another.
  bool type(const QString& text, int delayMs = 25);
  // Types `character`, which no key of the keyboard gives, from a spare key bound to it until
  // `arrived` holds or `ms` pass; answers whether it held. xdotool binds such a character only
  // for the time of its key, and a program that looks the key up later (GTK 4, once IBus has
  // handed the key back) then finds nothing.
  bool typeUnbound(char32_t character, const std::function<bool()>& arrived, int ms = 5000);
  // Presses and releases keys given as X key names ("Tab", "BackSpace", "ctrl+a"), one after
  // another when separated by spaces.
  bool key(const QString& keys);
  // Asks the window with this X id to close, as a window manager's close button does
  // (WM_DELETE_WINDOW).
  bool closeWindow(const QString& windowId);
  // Waits until a shown window has this title; answers whether one does.
  bool waitForWindow(const QString& title, int ms = 10000);
  // The place on the screen of a shown window with this title, once it has stayed there a moment;
  // an empty rectangle when none shows within `ms`.
  QRect windowPlace(const QString& title, int ms = 10000);
  // Writes the screen, or this area of it, to a PNG file.
  bool screenshot(const QString& path, const QRect& area = QRect());
  // Runs an X tool on the display; its standard output, or a null string when it failed.
  QString run(const QString& program, const QStringList& arguments, int ms = 10000);
  // Ends the X server now, as the end of a desktop session does (SIGTERM), or as a crash does
  // (`killed`: SIGKILL, so the server says nothing to its clients); the daemon stays.
  void endDisplay(bool killed = false);
  // Stops the X server (SIGSTOP) until it ends: its clients wait for every answer.
  void freezeDisplay();

 private:
  QProcessEnvironment programEnvironment() const;
  // The path of the input context the daemon has focused (through fcitx5: the context's name in
  // the program's lines), empty when none.
  QString focusedContext() const;

  QProcess xvfb_;
  qint64 xvfbGroup_ = 0;
  QString display_;
  QString failure_;
  std::unique_ptr<IBusDaemonHarness> ibus_;
  std::unique_ptr<Fcitx5DaemonHarness> fcitx5_;
  std::vector<std::unique_ptr<TextWindow>> windows_;
  // The system tray and IBus's panel, each with its process group.
  std::vector<std::pair<std::unique_ptr<QProcess>, qint64>> programs_;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_VIRTUALDESKTOP_H_
