// A private IBus daemon for tests, in its own D-Bus session and temporary folders, that knows only
// the build tree's Tolvani component, and a test client that creates input contexts, types into
// them and records what an application receives. The daemon and every process it started are
// stopped when the harness ends, whatever happened. Thread-safety: the test's main thread.
#ifndef TOLVANI_IME_TESTING_IBUSDAEMONHARNESS_H_
#define TOLVANI_IME_TESTING_IBUSDAEMONHARNESS_H_

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

typedef struct _IBusBus IBusBus;
typedef struct _IBusInputContext IBusInputContext;

namespace tolvani::testing {

// Serves this thread's main context until `done` holds or `ms` pass; answers `done`.
bool waitUntil(const std::function<bool()>& done, int ms);

class IBusDaemonHarness {
 public:
  struct Options {
    // The folder of tolvani.xml; empty for the components installed on the machine.
    QString componentFolder;
    // The X display the daemon and the engines it starts use; none when empty.
    QString display;
    // Drops what the bus, the daemon and the engines write to standard error.
    bool quiet = false;
    // The program starts as on a new machine, offering its setup window; tests of typing start
    // with the setup done.
    bool firstStart = false;
    // More variables ("NAME=value") for the daemon and the programs it starts.
    QStringList environment{};
  };
  // `componentFolder` holds tolvani.xml.
  explicit IBusDaemonHarness(const QString& componentFolder);
  explicit IBusDaemonHarness(const Options& options);
  ~IBusDaemonHarness();
  IBusDaemonHarness(const IBusDaemonHarness&) = delete;
  IBusDaemonHarness& operator=(const IBusDaemonHarness&) = delete;

  // True once the daemon answers; why not otherwise.
  bool ready() const { return bus_ != nullptr; }
  const QString& failure() const { return failure_; }
  IBusBus* bus() const { return bus_; }
  // The XDG_CONFIG_HOME of the daemon and the programs it starts (their settings live there).
  QString configHome() const { return configHome_; }
  // The temporary folder holding the daemon's home, config, cache, data and runtime folders.
  QString root() const { return root_.path(); }
  // The daemon's D-Bus address, for IBUS_ADDRESS.
  QString address() const { return address_; }
  // The address of the private session bus the daemon runs in.
  QString sessionBusAddress() const { return sessionBus_; }

  // The engine process's lifecycle lines ("controller <path>", "activate <path>", ...).
  QStringList events() const;
  // Serves the client's main context until `done` holds or 20 s pass; answers `done`.
  bool waitFor(const std::function<bool()>& done);
  // Serves the main context for the replies and signals already on their way.
  void settle();
  // Serves the main context through a person's pause after the last key, long enough for the
  // program's candidate list, which waits for such a pause, to arrive; then settles.
  void settleAfterPause();

 private:
  QTemporaryDir root_;
  QProcess daemon_;
  // The process group of the daemon and everything it starts; 0 before the start.
  qint64 group_ = 0;
  // The IBus daemon makes a process group of its own, with the engines it starts.
  qint64 ibusDaemon_ = 0;
  IBusBus* bus_ = nullptr;
  QString failure_;
  QString eventsPath_;
  QString address_;
  QString sessionBus_;
  QString configHome_;
};

// One input context of a client application.
class TestInputContext {
 public:
  struct Preedit {
    QString text;
    unsigned cursor = 0;
    bool visible = false;
  };

  // The capabilities of a toolkit that sends surrounding text.
  static const unsigned kAllCapabilities;

  TestInputContext(IBusDaemonHarness& harness, const char* clientName,
                   unsigned capabilities = kAllCapabilities);
  // Destroys the context in the daemon.
  ~TestInputContext();
  TestInputContext(const TestInputContext&) = delete;
  TestInputContext& operator=(const TestInputContext&) = delete;

  bool valid() const { return context_ != nullptr; }
  QString objectPath() const;
  void focusIn();
  void focusOut();
  void selectEngine(const char* name);
  // The current engine's name, "" for none.
  QString engineName() const;
  void setSurroundingText(const QString& text, unsigned cursor, unsigned anchor);
  void setCursorLocation(int x, int y, int w, int h);
  void setContentType(unsigned purpose, unsigned hints);
  // From now on the context keeps the application's text, `text` with the caret at `cursor` and
  // the selection's other end at `anchor` (in characters; the caret's place: no selection):
  // commits replace the selection, commits and deletions apply to the text, and it goes to the
  // input method before every key, as toolkits send it.
  void keepText(const QString& text, unsigned cursor, std::optional<unsigned> anchor = {});
  // True when the input method consumed the key.
  bool sendKey(unsigned keyval, unsigned keycode, unsigned state);
  // Presses and releases each key (keyval, keycode) without waiting for the answers in between,
  // as an application does when keys come faster than they are answered; true once all are in.
  bool sendKeysAtOnce(const std::vector<std::pair<unsigned, unsigned>>& keys);
  // Sends one key event and returns at once; `answered` gets whether the input method consumed it
  // when the answer comes.
  void sendKeyWithoutWaiting(unsigned keyval, unsigned keycode, unsigned state,
                             std::function<void(bool consumed)> answered);
  // Chooses the input menu's row `key` as a panel does, asking for it on or off.
  void activateProperty(const char* key, bool on = true);
  // The input menu as the panel shows it, one row a line (see `menu`).
  QString menuText() const { return menu.join(u'\n'); }
  void destroy();

  QStringList commits;
  std::vector<Preedit> preedits;
  std::vector<QStringList> lookupTables;  // the candidates of each visible table
  QStringList auxiliaryTexts;
  // What the input method sent, in the order it arrived: "preedit", "commit", "table",
  // "hide table", "auxiliary", "hide auxiliary".
  QStringList arrivals;
  // The keyvals of the presses the input method handed back to the application.
  std::vector<unsigned> forwardedKeys;
  QStringList properties;  // keys of registered and updated properties
  // The last registered properties with the later updates applied, one "key|type|label|state|
  // sensitivity" each: type radio, toggle, normal, separator or menu; state on or off;
  // sensitivity enabled or disabled; "|hidden" after a hidden row's. A menu's own rows follow it,
  // each after "> ".
  QStringList menu;
  // How many times the properties were registered.
  int registrations = 0;
  QString text;         // the application's text, when kept
  unsigned cursor = 0;  // its caret, in characters
  unsigned anchor = 0;  // the selection's other end; the caret when nothing is selected

 private:
  IBusDaemonHarness& harness_;
  IBusInputContext* context_ = nullptr;
  bool keepsText_ = false;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_IBUSDAEMONHARNESS_H_
