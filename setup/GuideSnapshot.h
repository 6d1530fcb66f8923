// What the setup window tells its guide page: the stages and steps of setup, the state the page
// draws (one JSON object of 27 entries, built afresh on every render), and the text helpers the
// snapshot and the commit check use. Thread-safety: pure functions and values.
#ifndef TOLVANI_SETUP_GUIDESNAPSHOT_H_
#define TOLVANI_SETUP_GUIDESNAPSHOT_H_

#include <QJsonObject>
#include <QString>
#include <array>
#include <optional>

#include "setup/InputSourceRegistration.h"

namespace tolvani::guide {

enum class Stage { setup, tour };
// In the order of the setup rows.
enum class Step { add, show, select };
inline constexpr std::array<Step, 3> kAllSteps = {Step::add, Step::show, Step::select};

// "add", "show", "select".
QString rawValue(Step step);
std::optional<Step> stepFromRawValue(const QString& raw);

// The longest "gm" expansion sent whole, in user-perceived characters.
inline constexpr qsizetype kMaxShortcutCharacters = 256;

struct State {
  QString language = QStringLiteral("en");
  Stage stage = Stage::setup;
  int tourStep = 0;
  bool busy = false;
  std::optional<Step> running;
  std::optional<Step> failed;
  QString failure;
  InputSourceRegistration::State status = InputSourceRegistration::State::notRegistered;
  bool selected = false;
  bool menuVisible = false;
  // The session's IBus daemon runs; without it nothing can be selected until the session starts
  // one.
  bool ibusRunning = true;
  // The desktop is GNOME, whose Keyboard Settings list the input sources and whose session starts
  // IBus; elsewhere IBus Preferences do, and IBus runs once chosen with im-config.
  bool gnome = false;
  // The desktop, for the words that say where its input menu shows: "gnome", "kde", "cinnamon",
  // "xfce", "mate" or "other".
  QString desktop = QStringLiteral("other");
  // fcitx5 is the session's framework: its icon, its configuration tool and its trigger key
  // (`switchKey`, empty where the person set none) are named, not IBus's.
  bool fcitx5 = false;
  QString switchKey;
  // Under fcitx5: a status area shows its icon and menu (else Tolvani's windows are reached from
  // the application launcher), and KWin would start fcitx5 once chosen as the virtual keyboard.
  bool statusArea = true;
  bool chooseVirtualKeyboard = false;
  // The first probe of this load has answered; before it nothing depending on it is offered.
  bool checked = true;
  // A panel shows IBus's input menu now (GNOME Shell where it runs).
  bool panelRuns = true;
  // Only the desktop's shell switches input sources: the person chooses Tolvani in its menu.
  bool selectedByPerson = false;
  // No run switches input sources on its own (the shell's choice, or a window the program offered
  // by itself): the person switches.
  bool switchedByPerson = false;
  // Onboarding is completed: being on another keyboard since is no step left.
  bool completed = false;
  QString session;
  bool focusTyping = false;
  // The settings the tour shows.
  bool digits = false;
  bool english = false;
  bool suggestions = false;
  bool autocorrect = false;
  bool emoji = false;
  QString shortcut;  // the whole expansion of "gm", empty when there is none
  int defaultLayout = 0;
  bool quiet = false;
  bool visible = false;
};

bool conditionMet(const State& state, Step step);
// Whether every step holds.
bool allStepsMet(const State& state);
// `failed`; else `add` while idle with the source not enabled; else none.
std::optional<Step> effectiveFailedStep(const State& state);
// "working", "failed", "done" or "pending"; "waiting" for a step that cannot hold before the
// session runs IBus; "none" for the menu where no status area shows fcitx5's.
QString rowState(const State& state, Step step);
// "working", "failed", "done" when every step holds, "away" when they hold but the person types
// with another keyboard since the setup completed, or when only the person's own switch is left;
// "choose" when only the person's choice in the shell's menu is left; "panel" when IBus runs but
// no panel shows its menu; "left" when the source is enabled but another step does not hold;
// "waiting" when all that can be done without IBus is done and the rest waits for the session to
// start it.
QString phase(const State& state);
// Whether the keyboard settings the window offers can work: GNOME's always, IBus Preferences and
// Fcitx 5 Configuration only once a probe found the session's daemon.
bool keyboardSettingsWork(const State& state);
QJsonObject snapshot(const State& state);

// The first `limit` grapheme clusters of `text`; `truncated` tells whether any were left out.
QString firstCharacters(const QString& text, qsizetype limit, bool* truncated);

}  // namespace tolvani::guide

namespace tolvani {

// True when a scalar of `text` is a Bangla letter: U+0985–U+09B9, U+09CE, U+09DC–U+09DF,
// U+09F0–U+09F1 (assigned or not). Vowel signs, the virama, digits and punctuation do not count.
bool hasBanglaLetters(const QString& text);

}  // namespace tolvani

#endif  // TOLVANI_SETUP_GUIDESNAPSHOT_H_
