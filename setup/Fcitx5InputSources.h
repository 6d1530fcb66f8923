// The input-source calls where fcitx5 is the session's input-method framework. The bundle's
// sources are the engines its IBus component names, which are fcitx5 input methods of the same
// names; installed ones are those fcitx5 offers (or, while it does not run, those whose
// input-method file lies in its data folders), enabled ones are in its current group. While
// fcitx5 runs everything goes through its controller on the session bus, which saves the profile
// itself; while it does not, through its profile file, which it rewrites when it exits and so is
// edited only then, but for the group's default, which a running fcitx5 saves only when it exits.
// Enabling adds Tolvani after the person's input methods, in their order, their default kept.
// Thread-safety: call from one thread at a time.
#ifndef TOLVANI_SETUP_FCITX5INPUTSOURCES_H_
#define TOLVANI_SETUP_FCITX5INPUTSOURCES_H_

#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <vector>

#include "setup/InputSourceSystem.h"

namespace tolvani {

class Fcitx5InputSources final : public InputSourceSystem {
 public:
  // Whether fcitx5 is the session's framework (it runs, or the session or im-config chose it).
  static bool decides();

  std::vector<InputSource> sources(const QString& bundleID, bool includeDisabled) override;
  // A running fcitx5 that does not offer the bundle's input methods yet reloads its addons.
  int registerBundle(const QUrl& bundleURL) override;
  // While fcitx5 does not run, also makes Tolvani what its trigger key switches to.
  int enable(const InputSource& source) override;
  // Makes Tolvani what the trigger key switches to and, where a field has the focus, switches it.
  int select(const InputSource& source) override;
  // The focused field's input method; with none focused, what the trigger key switches to.
  std::optional<InputSource> current() override;
  bool running() override;
  // fcitx5 shows its own tray icon or panel whenever it runs: there is nothing to turn on.
  std::optional<bool> inputMenuVisible() override { return true; }
  bool setInputMenuVisible() override { return true; }
  // The trigger key, or fcitx5's menu where the person set none; where no status area shows
  // fcitx5's icon, how Tolvani's windows and layouts are reached instead.
  QString switchHint() override;
  int selectForStart(const InputSource& source) override;

  // The key that switches between the person's keyboard and Tolvani, as people write it
  // ("Control+Space"): the first of the person's trigger keys, fcitx5's default when unset, empty
  // when the person removed them all.
  static QString triggerKey();
  // Whether a status area runs that shows fcitx5's icon and so its menu, Tolvani's rows in it.
  static bool statusAreaRuns();
  // The profile fcitx5 keeps its groups in.
  static QString profilePath();

 private:
  bool refreshed_ = false;
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_FCITX5INPUTSOURCES_H_
