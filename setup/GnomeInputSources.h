// The input-source calls of a GNOME session: GNOME's own list (org.gnome.desktop.input-sources)
// decides what is enabled, beside IBus's lists, which IBusInputSources keeps. Where GNOME Shell
// runs it owns the choice of source: it does not follow an engine set in IBus behind it, and when
// its list changes it activates its own source again. There nothing is switched for the person:
// enabling places Tolvani second in the shell's most-recently-used order, so that a tap of
// Super+Space reaches it, and the person chooses it in the shell's keyboard menu.
// Thread-safety: call from one thread at a time.
#ifndef TOLVANI_SETUP_GNOMEINPUTSOURCES_H_
#define TOLVANI_SETUP_GNOMEINPUTSOURCES_H_

#include <QString>
#include <QUrl>
#include <optional>
#include <vector>

#include "setup/IBusInputSources.h"
#include "setup/InputSourceSystem.h"

namespace tolvani {

class GnomeInputSources final : public InputSourceSystem {
 public:
  // Asks the session bus whether GNOME Shell runs.
  GnomeInputSources();

  // Whether GNOME's list decides in this session: GNOME is the desktop or its shell runs, and
  // GNOME's schema is installed.
  static bool decides();

  std::vector<InputSource> sources(const QString& bundleID, bool includeDisabled) override;
  int registerBundle(const QUrl& bundleURL) override;
  // Adds to IBus's and GNOME's lists. A source newly added to GNOME's comes second in the shell's
  // order, after the one the person is on; a running shell is made to read that order again (by
  // restarting IBus, which it answers by reading it), since it puts a new source last itself.
  int enable(const InputSource& source) override;
  // Where the shell runs: switches nothing (the person chooses), 0.
  int select(const InputSource& source) override;
  std::optional<InputSource> current() override;
  bool running() override;
  bool panelRuns() override;
  bool selectedByPerson() override { return shellRuns_; }
  bool tapReaches(const InputSource& source) override;
  // Where the shell runs, its keyboard menu shows with two or more sources in its list, whatever
  // IBus's tray-icon setting says.
  std::optional<bool> inputMenuVisible() override;
  bool setInputMenuVisible() override;

 private:
  IBusInputSources ibus_;
  const bool shellRuns_;
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_GNOMEINPUTSOURCES_H_
