// The desktop's input-source calls that registration needs, behind one interface: the real ones
// talk to IBus and GSettings (IBusInputSources; GnomeInputSources where GNOME's list decides;
// Fcitx5InputSources where fcitx5 is the framework),
// tests install a scripted one. Statuses are 0 for success and negative otherwise (a negated
// errno), so that they never read as one of the small fixed error codes. Thread-safety: called
// from one thread at a time.
#ifndef TOLVANI_SETUP_INPUTSOURCESYSTEM_H_
#define TOLVANI_SETUP_INPUTSOURCESYSTEM_H_

#include <QString>
#include <QUrl>
#include <optional>
#include <vector>

namespace tolvani {

// One input source as the desktop lists it.
struct InputSource {
  QString identifier;  // empty when the desktop gave none
  bool selectCapable = true;
};

class InputSourceSystem {
 public:
  virtual ~InputSourceSystem() = default;

  // The keyboard input sources of the bundle, in the desktop's order: every installed one with
  // `includeDisabled`, else only the enabled ones. Empty when the desktop cannot be asked.
  virtual std::vector<InputSource> sources(const QString& bundleID, bool includeDisabled) = 0;
  // Makes the desktop see the bundle's input sources.
  virtual int registerBundle(const QUrl& bundleURL) = 0;
  virtual int enable(const InputSource& source) = 0;
  virtual int select(const InputSource& source) = 0;
  // The current keyboard input source, if any.
  virtual std::optional<InputSource> current() = 0;
  // Whether the desktop's input-method service runs now. Without it, registering and enabling
  // are done for when it starts, and nothing can be selected.
  virtual bool running() { return true; }
  // Whether a panel shows the input menu in this session now (on IBus: a program owns IBus's
  // panel name; GNOME Shell is that panel where it runs). False while the service does not run.
  virtual bool panelRuns() { return running(); }
  // Whether only the desktop's shell switches input sources (GNOME Shell, which does not follow a
  // switch made behind it): there `select` switches nothing and the person chooses Tolvani in the
  // shell's keyboard menu.
  virtual bool selectedByPerson() { return false; }
  // Where the person chooses: whether a tap of the desktop's switching key (Super+Space) reaches
  // `source` from the one the person is on now.
  virtual bool tapReaches(const InputSource& /*source*/) { return false; }
  // How the person switches to and from the source with the keyboard, where the framework says
  // it in a sentence of its own; empty elsewhere.
  virtual QString switchHint() { return {}; }
  // While the service does not run: makes `source` the one it starts on, where it keeps such a
  // choice (fcitx5's profile); 0 where it keeps none.
  virtual int selectForStart(const InputSource& /*source*/) { return 0; }

  // The text input menu's visibility preference: absent when unset or unreadable.
  virtual std::optional<bool> inputMenuVisible() = 0;
  // Stores true; false when it could not be stored.
  virtual bool setInputMenuVisible() = 0;
};

// The process's input-source calls: fcitx5's where it is the session's framework, GNOME's where
// its list decides, else IBus's, unless a test installed others.
InputSourceSystem& inputSourceSystem();
// Installs `system` (borrowed; it must outlive its use) or, with nullptr, IBus's again.
void testSetInputSourceSystem(InputSourceSystem* system);

}  // namespace tolvani

#endif  // TOLVANI_SETUP_INPUTSOURCESYSTEM_H_
