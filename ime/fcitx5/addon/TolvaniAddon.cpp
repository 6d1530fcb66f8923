// Tolvani's fcitx5 addon: the input method as fcitx5 sees it, inside fcitx5's own process. It
// forwards each key, with the context's text around the caret, caret rectangle and purpose, to
// the tolvani program over a Unix socket (Fcitx5Protocol.h) and applies what it answers: preedit,
// commits, deletions, fcitx5's candidate list and the menu as status-area actions. fcitx5 serves
// every application from one event loop, so no call waits longer than a deadline: a key left
// unanswered goes on to the application as typed, after the preedit shown so far is committed, and
// the keys after it go on too until the program answers again. With no program serving, the addon
// starts one; a key that finds the program it served gone waits for the new one as a first key
// waits for its answer. A key that goes on as typed takes the rest of its word with it: no word
// is half Latin, half Bangla.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fcitx-utils/event.h>
#include <fcitx-utils/key.h>
#include <fcitx-utils/log.h>
#include <fcitx-utils/trackableobject.h>
#include <fcitx-utils/utf8.h>
#include <fcitx/action.h>
#include <fcitx/addonfactory.h>
#include <fcitx/addonmanager.h>
#include <fcitx/candidatelist.h>
#include <fcitx/inputcontext.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/inputmethodengine.h>
#include <fcitx/inputpanel.h>
#include <fcitx/instance.h>
#include <fcitx/menu.h>
#include <fcitx/statusarea.h>
#include <fcitx/text.h>
#include <fcitx/userinterfacemanager.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ime/fcitx5/Fcitx5Messages.h"
#include "ime/fcitx5/Fcitx5Protocol.h"

extern char** environ;

namespace tolvani {
namespace {

namespace protocol = fcitx5protocol;

// How long a key waits for the program's answer. Answers take about a millisecond; a program
// that takes this long is busy or stopped, and the keys go on without it.
constexpr int kDeadlineMs = 250;
// The first key a program answers makes its engine session and reads the learned words.
constexpr int kFirstKeyDeadlineMs = 1000;
// The program is started at most this often, however many keys find none.
constexpr std::chrono::seconds kStartInterval{3};
// After a start, the addon looks for the program's socket this often, this many times.
constexpr std::uint64_t kConnectRetryUs = 50'000;
constexpr int kConnectRetries = 600;
// A field that lost the focus with a word shown and gets it back within this long, with its text
// as it was and no key meanwhile, goes on with the word: Sway takes the focus from the field and
// gives it back at once when a keyboard joins the seat (a virtual keyboard's: wtype, an on-screen
// keyboard, a remote desktop), as the keys it sends begin to arrive.
constexpr std::uint64_t kFocusReturnUs = 250'000;

#ifndef TOLVANI_PROGRAM_PATH
#define TOLVANI_PROGRAM_PATH "/usr/bin/tolvani"
#endif

// The field's text around the caret as the messages carry it: whether it is known, the text,
// the caret and the anchor (scalars).
protocol::Writer& appendSurrounding(protocol::Writer& message,
                                    const fcitx::SurroundingText& surrounding) {
  const bool known = surrounding.isValid();
  return message.u8(known ? 1 : 0)
      .text(known ? surrounding.text() : std::string())
      .u32(known ? surrounding.cursor() : 0)
      .u32(known ? surrounding.anchor() : 0);
}

std::string programPath() {
  if (const char* set = std::getenv("TOLVANI_FCITX5_PROGRAM"); set && *set) return set;
  return TOLVANI_PROGRAM_PATH;
}

std::uint64_t monotonicUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

class TolvaniEngine;

class CandidateRow final : public fcitx::CandidateWord {
 public:
  CandidateRow(TolvaniEngine* engine, int row, const std::string& text, const std::string& label)
      : fcitx::CandidateWord(fcitx::Text(text)), engine_(engine), row_(row) {
    if (!label.empty()) setCustomLabel(fcitx::Text(label + ". "));
  }
  void select(fcitx::InputContext* ic) const override;

 private:
  TolvaniEngine* engine_;
  int row_;
};

class MenuRow final : public fcitx::SimpleAction {
 public:
  MenuRow(TolvaniEngine* engine, std::string key, protocol::RowKind kind)
      : engine_(engine), key_(std::move(key)), kind_(kind) {}
  void activate(fcitx::InputContext* ic) override;
  std::string shortText(fcitx::InputContext* ic) const override;
  const std::string& key() const { return key_; }
  protocol::RowKind kind() const { return kind_; }

 private:
  TolvaniEngine* engine_;
  std::string key_;
  protocol::RowKind kind_;
};

class TolvaniEngine final : public fcitx::InputMethodEngineV3 {
 public:
  explicit TolvaniEngine(fcitx::Instance* instance) : instance_(instance) {
    destroyed_ = instance_->watchEvent(
        fcitx::EventType::InputContextDestroyed, fcitx::EventWatcherPhase::PreInputMethod,
        [this](fcitx::Event& event) {
          auto& icEvent = static_cast<fcitx::InputContextEvent&>(event);
          forget(icEvent.inputContext());
        });
    surroundingWatch_ = instance_->watchEvent(
        fcitx::EventType::InputContextSurroundingTextUpdated,
        fcitx::EventWatcherPhase::PostInputMethod, [this](fcitx::Event& event) {
          surroundingTold(static_cast<fcitx::InputContextEvent&>(event).inputContext());
        });
    caretWatch_ = instance_->watchEvent(
        fcitx::EventType::InputContextCursorRectChanged, fcitx::EventWatcherPhase::PostInputMethod,
        [this](fcitx::Event& event) {
          caretMoved(static_cast<fcitx::InputContextEvent&>(event).inputContext());
        });
    // KDE's panel takes fewer rows than a menu does: the rows are offered anew as it comes or
    // goes.
    uiChanged_ =
        instance_->watchEvent(fcitx::EventType::UIChanged,
                              fcitx::EventWatcherPhase::PostInputMethod, [this](fcitx::Event&) {
                                for (fcitx::InputContext* ic : contexts()) offerMenu(ic);
                              });
    // Each focus with Tolvani on, as fcitx5 gives it (activate tells it too: the program takes a
    // repeated focus as one).
    focused_ = instance_->watchEvent(
        fcitx::EventType::InputContextFocusIn, fcitx::EventWatcherPhase::PostInputMethod,
        [this](fcitx::Event& event) {
          fcitx::InputContext* ic = static_cast<fcitx::InputContextEvent&>(event).inputContext();
          focusCame(ic);
          if (connected() && !stalled_ && instance_->inputMethodEngine(ic) == this) sendFocusIn(ic);
        });
    // fcitx5 puts in the word a field shows as the field loses the focus, where the field does
    // not itself (GTK's fcitx5 module; the compositor's text input, where it goes nowhere): that
    // waits for whether the focus comes straight back (hold).
    commitWatch_ = instance_->watchEvent(
        fcitx::EventType::InputContextCommitString, fcitx::EventWatcherPhase::PreInputMethod,
        [this](fcitx::Event& event) {
          auto& commit = static_cast<fcitx::CommitStringEvent&>(event);
          if (isUnfocusCommit(commit.inputContext(), commit.text())) commit.accept();
        });
  }
  ~TolvaniEngine() override {
    held_.reset();
    heldTimer_.reset();
    closeMenu();
    disconnect(false);
  }

  void keyEvent(const fcitx::InputMethodEntry&, fcitx::KeyEvent& event) override {
    if (event.isRelease()) return;
    // A key typed elsewhere: the focus has gone from the field whose word was held.
    releaseHeld();
    const fcitx::Key& key = event.rawKey();
    // A word begun as typed while no program answered ends as typed.
    if (typedWord_) {
      if (key.isModifier() || continuesWord(key)) return;
      typedWord_ = false;
    }
    fcitx::InputContext* ic = event.inputContext();
    // A program that ended since the last key, or as this one went to it, is started again, and
    // the key waits for it (a dying program may take a connection before it closes).
    std::optional<std::uint64_t> restartDeadline;
    for (;;) {
      if (!connected() && !connect()) {
        start();
        if (!restartDeadline) {
          if (!std::exchange(restartAwaited_, false)) return goOnAsTyped(key);
          restartDeadline = monotonicUs() + kFirstKeyDeadlineMs * 1000u;
        }
        if (!awaitConnection(*restartDeadline)) return goOnAsTyped(key);
      }
      if (stalled_) {
        drain();
        return goOnAsTyped(key);
      }
      if (const std::uint32_t sequence = sendKey(ic, key)) {
        if (const std::optional<bool> handled = awaitAnswer(sequence)) {
          answered_ = true;
          if (*handled) event.filterAndAccept();
          return;
        }
        if (connected()) {
          stall(ic, sequence);
          return goOnAsTyped(key);
        }
      }
      // The connection ended as the key went: by the program's end, or for what it sent (the key
      // goes on as typed, and the next is the program's again).
      if (!restartDeadline) {
        if (!std::exchange(restartAwaited_, false)) return start();
        restartDeadline = monotonicUs() + kFirstKeyDeadlineMs * 1000u;
      } else if (monotonicUs() >= *restartDeadline) {
        start();
        return goOnAsTyped(key);
      }
    }
  }

  // Looks for the program's socket until `deadline`.
  bool awaitConnection(std::uint64_t deadline) {
    while (monotonicUs() < deadline) {
      ::poll(nullptr, 0, 10);
      if (connect()) return true;
    }
    return false;
  }

  // Updates that come first are applied on the way; the answer ends the wait. None when the
  // deadline passed or the connection ended.
  std::optional<bool> awaitAnswer(std::uint32_t sequence) {
    const int limitMs = answered_ ? kDeadlineMs : kFirstKeyDeadlineMs;
    const std::uint64_t deadline = monotonicUs() + static_cast<std::uint64_t>(limitMs) * 1000u;
    answer_.reset();
    awaiting_ = sequence;
    while (!answer_ && connected()) {
      const std::uint64_t now = monotonicUs();
      if (now >= deadline) break;
      pollfd p{fd_, POLLIN, 0};
      const int left = static_cast<int>((deadline - now + 999) / 1000);
      const int ready = ::poll(&p, 1, left);
      if (ready < 0 && errno != EINTR) break;
      if (ready > 0) readAvailable();
    }
    awaiting_ = 0;
    return answer_;
  }

  // The key with the context's text and caret; its sequence number, 0 when it could not be sent.
  std::uint32_t sendKey(fcitx::InputContext* ic, const fcitx::Key& key) {
    const std::uint32_t id = idOf(ic);
    if (focusedId_ != id) sendFocusIn(ic);
    const std::uint32_t code = key.code() >= 8 ? static_cast<std::uint32_t>(key.code() - 8) : 0;
    const std::uint32_t states =
        static_cast<std::uint32_t>(key.states()) & (((1u << 8) - 1) | (1u << 26));
    remember(ic);
    const fcitx::Rect& caret = ic->cursorRect();
    const auto caps = ic->capabilityFlags();
    const protocol::Purpose purpose = caps.test(fcitx::CapabilityFlag::Password)
                                          ? protocol::Purpose::password
                                          : protocol::Purpose::freeForm;
    const std::uint32_t sequence = ++sequence_;
    protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::key));
    message.u32(sequence)
        .u32(id)
        .u32(static_cast<std::uint32_t>(key.sym()))
        .u32(code)
        .u32(states)
        .u32(fcitx::Key::keySymToUnicode(key.sym()));
    appendSurrounding(message, ic->surroundingText())
        .i32(caret.left())
        .i32(caret.top())
        .i32(caret.width())
        .i32(caret.height())
        .u8(static_cast<std::uint8_t>(purpose));
    return send(message) ? sequence : 0;
  }

  // The key goes on to the application as typed, and so does the rest of the word it begins.
  void goOnAsTyped(const fcitx::Key& key) {
    typedWord_ = key.sym() != FcitxKey_BackSpace && continuesWord(key);
  }

  // Letters, digits and the apostrophe, and Backspace within them, without Control, Alt or Super.
  static bool continuesWord(const fcitx::Key& key) {
    if (key.states().testAny(fcitx::KeyStates{fcitx::KeyState::Ctrl, fcitx::KeyState::Alt,
                                              fcitx::KeyState::Super, fcitx::KeyState::Super2}))
      return false;
    if (key.sym() == FcitxKey_BackSpace) return true;
    const std::uint32_t c = fcitx::Key::keySymToUnicode(key.sym());
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '\'' || c > 0xA0;
  }

  void activate(const fcitx::InputMethodEntry&, fcitx::InputContextEvent& event) override {
    fcitx::InputContext* ic = event.inputContext();
    focusCame(ic);
    // fcitx5 empties the context's status area as it activates the input method: the rows are
    // back at once as the program last sent them, and follow once it hears of the focus.
    offerMenu(ic);
    if (!connected() && !connect()) return start();
    if (!stalled_) sendFocusIn(ic);
  }

  // The focus left the context, or it switched input methods: the preedit it shows is put in (by
  // fcitx5 and the toolkits on a focus change, here otherwise) and the composition is over.
  void deactivate(const fcitx::InputMethodEntry&, fcitx::InputContextEvent& event) override {
    fcitx::InputContext* ic = event.inputContext();
    typedWord_ = false;
    const bool focusOut = event.type() == fcitx::EventType::InputContextFocusOut;
    if (focusOut && std::exchange(withheld_, 0) == idOf(ic)) return hold(ic);
    if (held_ && held_->id == idOf(ic)) releaseHeld();
    if (!focusOut) commitPreedit(ic);
    // A client that puts in its preedit itself as it loses the focus keeps it until then: fcitx5
    // takes the focus from it as soon as another client's field takes it, which may come first.
    clearPanel(
        ic, !focusOut || !ic->capabilityFlags().test(fcitx::CapabilityFlag::ClientUnfocusCommit));
    if (!connected() || stalled_) return;
    sendFocusOut(ic);
  }

  // The application reset its input state (a click in the text, a change of its own). Qt's module
  // puts in the preedit it shows first, and reports its text with it; GTK's drops it: what the
  // field reported tells which, and the word goes in here where the field has not taken it.
  void reset(const fcitx::InputMethodEntry&, fcitx::InputContextEvent& event) override {
    fcitx::InputContext* ic = event.inputContext();
    typedWord_ = false;
    if (held_ && held_->id == idOf(ic)) releaseHeld();
    if (event.type() != fcitx::EventType::InputContextReset || !fieldTookPreedit(ic))
      commitPreedit(ic);
    endComposition(ic);
  }

  // A click in the text, which Qt's module hands to the input method instead of resetting: the
  // word goes in as it stands.
  void invokeActionImpl(const fcitx::InputMethodEntry&, fcitx::InvokeActionEvent& event) override {
    fcitx::InputContext* ic = event.inputContext();
    if (held_ && held_->id == idOf(ic)) releaseHeld();
    commitPreedit(ic);
    endComposition(ic);
    event.filter();
  }

  void candidateClicked(fcitx::InputContext* ic, int row) {
    if (!connected() || stalled_) return;
    protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::candidateClicked));
    message.u32(idOf(ic)).u32(static_cast<std::uint32_t>(row));
    send(message);
  }

  bool onKdePanel() const { return instance_->userInterfaceManager().currentUI() == "kimpanel"; }

  void menuRowChosen(fcitx::InputContext* ic, const MenuRow& row) {
    if (!connected() || stalled_ || !ic) return;
    const bool on = row.kind() == protocol::RowKind::toggle ? !row.isChecked(ic) : true;
    // A row comes with no text of its own: where the caret moved since the field last told its
    // text, the selection the program holds may not be the field's, and it is told there is none.
    auto told = told_.find(idOf(ic));
    if (told != told_.end() && told->second.moved) {
      protocol::Writer unknown(static_cast<std::uint8_t>(protocol::ToProgram::surrounding));
      appendSurrounding(unknown.u32(idOf(ic)), fcitx::SurroundingText());
      send(unknown);
    }
    protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::menuActivate));
    message.u32(idOf(ic)).text(row.key()).u8(on ? 1 : 0);
    send(message);
  }

 private:
  struct Shown {
    std::string preedit;
    std::uint32_t caret = 0;
  };
  // A word whose field lost the focus, and the field's text then.
  struct Held {
    std::uint32_t id = 0;
    std::string word;
    std::uint32_t caret = 0;
    bool known = false;
    std::string text;
    unsigned cursor = 0;
    unsigned anchor = 0;
  };

  // fcitx5's own commit of the word shown, as the field loses the focus.
  bool isUnfocusCommit(fcitx::InputContext* ic, const std::string& text) {
    if (ownCommit_ || ic->hasFocus() || instance_->inputMethodEngine(ic) != this || !connected() ||
        stalled_)
      return false;
    auto id = ids_.find(ic);
    if (id == ids_.end() || contextOf(id->second) != ic) return false;
    auto found = shown_.find(id->second);
    if (found == shown_.end() || found->second.preedit.empty() || found->second.preedit != text)
      return false;
    withheld_ = id->second;
    return true;
  }

  // The field lost the focus with a word shown, which fcitx5 did not put in: the program keeps
  // the word, and the panel stays as it was, until the focus comes back (focusCame) or has gone
  // for good (releaseHeld).
  void hold(fcitx::InputContext* ic) {
    releaseHeld();
    const std::uint32_t id = idOf(ic);
    const Shown& shown = shown_[id];
    const fcitx::SurroundingText& surrounding = ic->surroundingText();
    held_ = Held{id,
                 shown.preedit,
                 shown.caret,
                 surrounding.isValid(),
                 surrounding.isValid() ? surrounding.text() : std::string(),
                 surrounding.isValid() ? surrounding.cursor() : 0,
                 surrounding.isValid() ? surrounding.anchor() : 0};
    const std::uint64_t due = fcitx::now(CLOCK_MONOTONIC) + kFocusReturnUs;
    if (heldTimer_) {
      heldTimer_->setTime(due);
      heldTimer_->setOneShot();
    } else {
      heldTimer_ = instance_->eventLoop().addTimeEvent(
          CLOCK_MONOTONIC, due, 0, [this](fcitx::EventSourceTime*, std::uint64_t) {
            releaseHeld();
            return true;
          });
    }
  }

  // The focus came to `ic`. Back to the field that lost it, its text as it was, the word goes on
  // and is shown again (the field dropped it as it lost the focus); anywhere else the word's field
  // has lost the focus for good.
  void focusCame(fcitx::InputContext* ic) {
    if (!held_) return;
    const fcitx::SurroundingText& now = ic->surroundingText();
    const bool same =
        held_->id == idOf(ic) && now.isValid() == held_->known &&
        (!now.isValid() || (now.text() == held_->text && now.cursor() == held_->cursor &&
                            now.anchor() == held_->anchor));
    if (!same) return releaseHeld();
    const Held held = std::move(*held_);
    held_.reset();
    heldTimer_->setEnabled(false);
    showPreedit(ic, held.word, held.caret);
    ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
  }

  // The held word's field lost the focus for good: the word goes in as fcitx5 would have put it
  // in as the field lost the focus, unless the context has the focus again (in another field of
  // the same client, through the compositor's text input: it would land there), and the
  // composition is over.
  void releaseHeld() {
    if (!held_) return;
    const Held held = std::move(*held_);
    held_.reset();
    heldTimer_->setEnabled(false);
    fcitx::InputContext* ic = contextOf(held.id);
    if (!ic) return;
    if (!ic->hasFocus()) commitText(ic, held.word);
    clearPanel(ic);
    if (connected() && !stalled_) sendFocusOut(ic);
  }

  void commitText(fcitx::InputContext* ic, const std::string& text) {
    ownCommit_ = true;
    ic->commitString(text);
    ownCommit_ = false;
  }
  // The field's text and caret as it last told them.
  struct Told {
    std::string text;
    unsigned cursor = 0;
    unsigned anchor = 0;
    // The caret's rectangle then, and whether it has moved since.
    fcitx::Rect caret;
    bool moved = false;
  };

  // What the field tells between keys goes to the program, which keeps it for a menu row (that
  // comes with no text of its own). Only the caret moved, under a word shown: a click in the text,
  // which the toolkits' fcitx5 modules do not hand on (Qt's drops the word from the field, GTK's
  // shows it at the new caret and tells the move only with the next key). The word goes in at the
  // caret, as it stands, and the next key starts a new one. The caret's rectangle alone moves with
  // the word shown: IBus's GTK module tells the same text at the same caret before every key, after
  // the rectangle that followed the word.
  void surroundingTold(fcitx::InputContext* ic) {
    if (instance_->inputMethodEngine(ic) != this) return;
    const std::optional<Told> before = remember(ic);
    const fcitx::SurroundingText& now = ic->surroundingText();
    const bool sameText = before && now.isValid() && now.text() == before->text;
    const bool sameCaret =
        sameText && now.cursor() == before->cursor && now.anchor() == before->anchor;
    if (sameCaret && !before->moved) return;
    auto found = shown_.find(idOf(ic));
    const bool heldHere = held_ && held_->id == idOf(ic);
    if (sameText && !sameCaret && !heldHere && found != shown_.end() &&
        !found->second.preedit.empty()) {
      commitPreedit(ic);
      endComposition(ic);
    }
    if (!connected() || stalled_) return;
    protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::surrounding));
    appendSurrounding(message.u32(idOf(ic)), now);
    send(message);
  }

  // The caret moved with no text told since: GTK 3 tells its text only with keys, not after a
  // click or a drag.
  void caretMoved(fcitx::InputContext* ic) {
    if (instance_->inputMethodEngine(ic) != this) return;
    auto found = told_.find(idOf(ic));
    if (found != told_.end() && !(found->second.caret == ic->cursorRect()))
      found->second.moved = true;
  }

  // Keeps what the field tells now; answers what it told before, if it told anything.
  std::optional<Told> remember(fcitx::InputContext* ic) {
    const std::uint32_t id = idOf(ic);
    auto found = told_.find(id);
    std::optional<Told> before;
    if (found != told_.end()) before = std::move(found->second);
    const fcitx::SurroundingText& now = ic->surroundingText();
    if (now.isValid()) {
      told_[id] = Told{now.text(), now.cursor(), now.anchor(), ic->cursorRect()};
    } else {
      told_.erase(id);
    }
    return before;
  }

  // The preedit shown is in the field's reported text, just before the caret.
  bool fieldTookPreedit(fcitx::InputContext* ic) {
    auto found = shown_.find(idOf(ic));
    if (found == shown_.end() || found->second.preedit.empty()) return true;
    const fcitx::SurroundingText& surrounding = ic->surroundingText();
    if (!surrounding.isValid()) return false;
    const std::string& text = surrounding.text();
    const std::size_t length = fcitx::utf8::length(text);
    if (length == fcitx::utf8::INVALID_LENGTH || surrounding.cursor() > length) return false;
    const std::string before =
        text.substr(0, fcitx::utf8::ncharByteLength(text.begin(), surrounding.cursor()));
    const std::string& preedit = found->second.preedit;
    return before.size() >= preedit.size() &&
           before.compare(before.size() - preedit.size(), preedit.size(), preedit) == 0;
  }

  // The preedit is in the field (or was never shown): the program's composition is over.
  void endComposition(fcitx::InputContext* ic) {
    clearPanel(ic);
    if (!connected() || stalled_) return;
    protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::reset));
    message.u32(idOf(ic));
    send(message);
  }

  bool connected() const { return fd_ >= 0; }

  std::uint32_t idOf(fcitx::InputContext* ic) {
    auto found = ids_.find(ic);
    if (found != ids_.end()) {
      if (contextOf(found->second) == ic) return found->second;
      // A context at the address of one that ended untold is another.
      shown_.erase(found->second);
      told_.erase(found->second);
      byId_.erase(found->second);
    }
    const std::uint32_t id = ++contexts_;
    ids_[ic] = id;
    byId_[id] = ic->watch();
    return id;
  }

  // The context of an id while it lives. fcitx5 tells of the contexts that end while it runs, but
  // not of those it ends as it ends itself (it takes no events once told to exit), before the
  // addon ends.
  fcitx::InputContext* contextOf(std::uint32_t id) const {
    auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : found->second.get();
  }

  std::vector<fcitx::InputContext*> contexts() const {
    std::vector<fcitx::InputContext*> live;
    for (const auto& [id, ic] : byId_) {
      if (fcitx::InputContext* context = ic.get()) live.push_back(context);
    }
    return live;
  }

  void forget(fcitx::InputContext* ic) {
    auto found = ids_.find(ic);
    if (found == ids_.end()) return;
    const std::uint32_t id = found->second;
    if (connected() && !stalled_) {
      protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::contextGone));
      message.u32(id);
      send(message);
    }
    if (focusedId_ == id) focusedId_ = 0;
    if (menuId_ == id) menuId_ = 0;
    // Its client is going: its word has nowhere to go.
    if (held_ && held_->id == id) held_.reset();
    if (withheld_ == id) withheld_ = 0;
    shown_.erase(id);
    told_.erase(id);
    byId_.erase(id);
    ids_.erase(found);
  }

  // The program's socket, if one listens; also the first messages.
  bool connect() {
    const std::string path = protocol::socketPath();
    if (path.empty()) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      ::close(fd);
      return false;
    }
    // Only a program of the person's own may type for them.
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid()) {
      FCITX_ERROR() << "Tolvani: " << path << " is served by another user; not used";
      ::close(fd);
      return false;
    }
    fd_ = fd;
    stalled_ = false;
    answered_ = false;
    restartAwaited_ = false;
    focusedId_ = 0;
    io_ = instance_->eventLoop().addIOEvent(
        fd_, fcitx::IOEventFlag::In, [this](fcitx::EventSourceIO*, int, fcitx::IOEventFlags) {
          readAvailable();
          return true;
        });
    // A program that answers may be started again at once when it is gone.
    started_.reset();
    protocol::Writer hello(static_cast<std::uint8_t>(protocol::ToProgram::hello));
    hello.u32(protocol::kVersion);
    if (!send(hello)) return false;
    FCITX_INFO() << "Tolvani: connected to " << path;
    // The fields that have the focus with Tolvani on are the program's first. With none, as when
    // the focus left while the program started, the last field is made known to it, and gets its
    // rows for fcitx5's menu.
    bool told = false;
    instance_->inputContextManager().foreach ([this, &told](fcitx::InputContext* ic) {
      if (ic->hasFocus() && instance_->inputMethodEngine(ic) == this) {
        sendFocusIn(ic);
        told = true;
      }
      return connected();
    });
    fcitx::InputContext* last = instance_->mostRecentInputContext();
    if (!told && last && instance_->inputMethodEngine(last) == this) {
      sendFocusIn(last);
      sendFocusOut(last);
    }
    return connected();
  }

  // The connection ends: whatever preedit the contexts show is put in, as typed.
  void disconnect(bool commitShown = true) {
    if (fd_ < 0) return;
    // A held word goes in with the other words shown, below.
    held_.reset();
    io_.reset();
    ::close(fd_);
    fd_ = -1;
    inbox_.clear();
    stalled_ = false;
    focusedId_ = 0;
    if (!commitShown) return;
    for (fcitx::InputContext* ic : contexts()) {
      commitPreedit(ic);
      clearPanel(ic);
    }
    closeMenu();
  }

  // Starts the program (detached: it outlives this fcitx5) and looks for its socket meanwhile.
  void start() {
    const auto now = std::chrono::steady_clock::now();
    if (started_ && now - *started_ < kStartInterval) return;
    started_ = now;
    const std::string program = programPath();
    // A shell that starts the program in the background and ends at once: the program is no
    // child of fcitx5's.
    const char* argv[] = {"/bin/sh", "-c", "\"$0\" --fcitx5 </dev/null &", program.c_str(),
                          nullptr};
    pid_t shell = 0;
    if (::posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv),
                      environ) != 0) {
      FCITX_ERROR() << "Tolvani: could not start " << program;
      return;
    }
    int status = 0;
    while (::waitpid(shell, &status, 0) < 0 && errno == EINTR) {
    }
    FCITX_INFO() << "Tolvani: started " << program;
    retries_ = 0;
    retry_ = instance_->eventLoop().addTimeEvent(
        CLOCK_MONOTONIC, fcitx::now(CLOCK_MONOTONIC) + kConnectRetryUs, 0,
        [this](fcitx::EventSourceTime* source, std::uint64_t) {
          if (connected() || connect()) return true;
          if (++retries_ < kConnectRetries) {
            source->setNextInterval(kConnectRetryUs);
            source->setOneShot();
          }
          return true;
        });
  }

  bool send(protocol::Writer& message) {
    if (!connected()) return false;
    const std::string& frame = message.frame();
    std::size_t at = 0;
    const std::uint64_t deadline = monotonicUs() + kDeadlineMs * 1000u;
    while (at < frame.size()) {
      const ssize_t n = ::send(fd_, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && monotonicUs() < deadline) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 10);
        continue;
      }
      // The program is gone, or has not read for so long that its socket is full.
      const bool gone = n < 0 && (errno == EPIPE || errno == ECONNRESET);
      FCITX_WARN() << "Tolvani: the program does not take messages; the connection ends";
      disconnect();
      restartAwaited_ = gone;
      return false;
    }
    return true;
  }

  void sendFocusIn(fcitx::InputContext* ic) {
    protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::focusIn));
    const std::uint32_t id = idOf(ic);
    message.u32(id);
    if (send(message)) focusedId_ = id;
  }

  void sendFocusOut(fcitx::InputContext* ic) {
    protocol::Writer message(static_cast<std::uint8_t>(protocol::ToProgram::focusOut));
    message.u32(idOf(ic));
    send(message);
    if (focusedId_ == idOf(ic)) focusedId_ = 0;
  }

  // The key went unanswered: the preedit shown so far goes in, the key goes on as typed, and so
  // do the keys after it until the program answers.
  void stall(fcitx::InputContext* ic, std::uint32_t sequence) {
    FCITX_WARN() << "Tolvani: no answer in time; keys go on as typed";
    stalled_ = true;
    stalledSequence_ = sequence;
    stalledId_ = idOf(ic);
    held_.reset();
    for (fcitx::InputContext* context : contexts()) {
      commitPreedit(context);
      clearPanel(context);
    }
  }

  // Reads what the program sent meanwhile, without waiting: a late answer ends the stall.
  void drain() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) readAvailable();
  }

  void readAvailable() {
    char chunk[16384];
    for (;;) {
      const ssize_t n = ::recv(fd_, chunk, sizeof(chunk), MSG_DONTWAIT);
      if (n > 0) {
        inbox_.append(chunk, static_cast<std::size_t>(n));
        // A program that sends without pause must not hold fcitx5's loop here nor fill its
        // memory: what is left waits for the next turn.
        if (inbox_.size() > protocol::kMaxMessage + 4) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      FCITX_INFO() << "Tolvani: the program ended the connection";
      disconnect();
      restartAwaited_ = true;
      return;
    }
    std::string body;
    bool broken = false;
    while (connected() && protocol::takeMessage(inbox_, body, broken)) {
      if (!apply(body)) {
        FCITX_ERROR() << "Tolvani: a message from the program could not be read; "
                         "the connection ends";
        disconnect();
        return;
      }
    }
    if (broken) {
      FCITX_ERROR() << "Tolvani: a message from the program has a length out of bounds";
      disconnect();
    }
  }

  // One message from the program; false when it cannot be read or answers no key sent.
  bool apply(const std::string& body) {
    std::optional<protocol::ProgramMessage> message = protocol::readProgramMessage(body);
    if (!message) return false;
    switch (message->type) {
      case protocol::ToAddon::answer: {
        // Only the key being waited for has an answer due, or the one that went unanswered.
        const bool current =
            !stalled_ && awaiting_ != 0 && !answer_ && message->sequence == awaiting_;
        const bool late = stalled_ && message->sequence == stalledSequence_;
        if (!current && !late) return false;
        if (late) {
          // What it says was overtaken by the keys that went on: the program drops the
          // composition, and the context starts afresh.
          stalled_ = false;
          if (contextOf(stalledId_)) {
            protocol::Writer resync(static_cast<std::uint8_t>(protocol::ToProgram::resync));
            resync.u32(stalledId_);
            send(resync);
          }
          focusedId_ = 0;
          return true;
        }
        if (fcitx::InputContext* ic = contextOf(focusedId_)) applyActions(message->actions, ic);
        answer_ = message->handled;
        return true;
      }
      case protocol::ToAddon::update: {
        fcitx::InputContext* ic = contextOf(message->context);
        if (!stalled_ && ic) applyActions(message->actions, ic);
        return true;
      }
      case protocol::ToAddon::refused:
        FCITX_ERROR() << "Tolvani: the program refused a message: " << message->refusal;
        disconnect();
        return true;
    }
    return false;
  }

  void applyActions(const std::vector<protocol::ActionStep>& steps, fcitx::InputContext* ic) {
    for (const protocol::ActionStep& step : steps) {
      switch (step.action) {
        case protocol::Action::preedit:
          showPreedit(ic, step.text, step.caret);
          break;
        case protocol::Action::commit:
          commitText(ic, step.text);
          break;
        case protocol::Action::deleteSurrounding:
          ic->deleteSurroundingText(step.offset, step.count);
          break;
        case protocol::Action::candidates:
          showCandidates(ic, step.rows, step.cursor, step.text);
          break;
        case protocol::Action::menu:
          showMenu(ic, step.menu);
          break;
      }
    }
  }

  void showPreedit(fcitx::InputContext* ic, const std::string& text, std::uint32_t caret) {
    shown_[idOf(ic)] = Shown{text, caret};
    fcitx::Text preedit;
    if (!text.empty()) preedit.append(text, fcitx::TextFormatFlag::Underline);
    preedit.setCursor(static_cast<int>(caret));
    fcitx::InputPanel& panel = ic->inputPanel();
    if (ic->capabilityFlags().test(fcitx::CapabilityFlag::Preedit)) {
      panel.setClientPreedit(preedit);
      ic->updatePreedit();
      return;
    }
    // Only a field that shows no preedit of its own has it in fcitx5's panel: the panel is drawn
    // again only then (KDE Plasma's panel shows and sizes its window anew at every drawing).
    panel.setPreedit(blank(text) ? fcitx::Text() : preedit);
    ic->updatePreedit();
    ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
  }

  // Nothing a person would see: KDE Plasma's panel shows an empty window for it.
  static bool blank(const std::string& text) {
    return text.find_first_not_of(" \t\n\r") == std::string::npos;
  }

  static bool panelShows(const fcitx::InputPanel& panel) {
    return !panel.preedit().toString().empty() || !panel.auxUp().toString().empty() ||
           !panel.auxDown().toString().empty() || panel.candidateList();
  }

  void showCandidates(fcitx::InputContext* ic, const std::vector<protocol::CandidateText>& rows,
                      int cursor, const std::string& status) {
    fcitx::InputPanel& panel = ic->inputPanel();
    if (std::all_of(rows.begin(), rows.end(),
                    [](const protocol::CandidateText& row) { return blank(row.text); })) {
      panel.setCandidateList(nullptr);
    } else {
      auto list = std::make_unique<fcitx::CommonCandidateList>();
      list->setPageSize(kPageSize);
      std::vector<std::string> labels;
      for (std::size_t i = 0; i < rows.size() && i < kPageSize; ++i)
        labels.push_back(rows[i].label.empty() ? std::string() : rows[i].label + ". ");
      list->setLabels(labels);
      list->setLayoutHint(fcitx::CandidateLayoutHint::Vertical);
      for (std::size_t i = 0; i < rows.size(); ++i) {
        list->append<CandidateRow>(this, static_cast<int>(i), rows[i].text, rows[i].label);
      }
      if (cursor >= 0) list->setGlobalCursorIndex(cursor);
      panel.setCandidateList(std::move(list));
    }
    panel.setAuxUp(blank(status) ? fcitx::Text() : fcitx::Text(status));
    ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
  }

  void clearPanel(fcitx::InputContext* ic, bool clearClientPreedit = true) {
    shown_.erase(idOf(ic));
    const bool shown = panelShows(ic->inputPanel());
    ic->inputPanel().reset();
    if (clearClientPreedit) ic->updatePreedit();
    if (shown) ic->updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
  }

  // Puts the shown preedit in, as it stands.
  void commitPreedit(fcitx::InputContext* ic) {
    auto found = shown_.find(idOf(ic));
    if (found == shown_.end() || found->second.preedit.empty()) return;
    const std::string text = std::move(found->second.preedit);
    found->second.preedit.clear();
    showPreedit(ic, std::string(), 0);
    commitText(ic, text);
  }

  // The same rows of the same kinds, whatever their words and marks.
  static bool sameShape(const std::vector<protocol::MenuEntry>& a,
                        const std::vector<protocol::MenuEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
      return x.key == y.key && x.kind == y.kind && sameShape(x.rows, y.rows);
    });
  }

  // The rows as status-area actions of the context (the tray's and the KDE panel's menu).
  void showMenu(fcitx::InputContext* ic, const std::vector<protocol::MenuEntry>& menu) {
    const std::uint32_t id = idOf(ic);
    if (menuId_ == 0 || !sameShape(menu, menuSpec_)) {
      closeMenu();
      for (const protocol::MenuEntry& row : menu) top_.push_back(makeRow(row));
    }
    menuSpec_ = menu;
    menuId_ = id;
    for (const protocol::MenuEntry& row : menu) updateRow(row, ic);
    offerMenu(ic);
  }

  void offerMenu(fcitx::InputContext* ic) {
    // A menu the program sends after the context went on to another input method (a language
    // change redraws it) is kept for Tolvani's return, not shown beside that one's.
    if (top_.empty() || instance_->inputMethodEngine(ic) != this) return;
    // Known, so that the rows leave its status area with the menu.
    idOf(ic);
    fcitx::StatusArea& area = ic->statusArea();
    area.clearGroup(fcitx::StatusGroup::InputMethod);
    const bool kde = onKdePanel();
    for (MenuRow* row : top_) {
      if (!kde || shownOnKdePanel(*row)) area.addAction(fcitx::StatusGroup::InputMethod, row);
    }
    ic->updateUserInterface(fcitx::UserInterfaceComponent::StatusArea);
  }

  // KDE Plasma's panel draws each row as a button of its icon, the title in a tooltip: a section
  // title or a line would be a button that does nothing. They stay out there, as on GNOME, and so
  // does the row that never changes (the offline promise, which the settings window also makes).
  static bool shownOnKdePanel(const MenuRow& row) {
    return row.kind() != protocol::RowKind::header && row.kind() != protocol::RowKind::separator &&
           row.key() != kFullyOfflineKey;
  }

  MenuRow* makeRow(const protocol::MenuEntry& entry) {
    auto row = std::make_unique<MenuRow>(this, entry.key, entry.kind);
    MenuRow* raw = row.get();
    if (entry.kind == protocol::RowKind::separator) row->setSeparator(true);
    if (entry.kind == protocol::RowKind::radio || entry.kind == protocol::RowKind::toggle)
      row->setCheckable(true);
    instance_->userInterfaceManager().registerAction("tolvani-" + entry.key, raw);
    if (entry.kind == protocol::RowKind::submenu) {
      auto menu = std::make_unique<fcitx::Menu>();
      for (const protocol::MenuEntry& child : entry.rows) menu->addAction(makeRow(child));
      raw->setMenu(menu.get());
      menus_.push_back(std::move(menu));
    }
    rows_[entry.key] = std::move(row);
    return raw;
  }

  void updateRow(const protocol::MenuEntry& entry, fcitx::InputContext* ic) {
    auto found = rows_.find(entry.key);
    if (found == rows_.end()) return;
    MenuRow& row = *found->second;
    row.setShortText(entry.title);
    row.setIcon(entry.icon);
    row.setChecked(entry.on);
    row.update(ic);
    for (const protocol::MenuEntry& child : entry.rows) updateRow(child, ic);
  }

  void closeMenu() {
    for (fcitx::InputContext* ic : contexts())
      ic->statusArea().clearGroup(fcitx::StatusGroup::InputMethod);
    top_.clear();
    for (auto& [key, row] : rows_) row->setMenu(nullptr);
    menus_.clear();
    rows_.clear();
    menuSpec_.clear();
    menuId_ = 0;
  }

  static constexpr std::size_t kPageSize = 9;
  static constexpr const char* kFullyOfflineKey = "fullyOffline";

  fcitx::Instance* instance_;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> destroyed_;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> focused_;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> surroundingWatch_;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> caretWatch_;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> uiChanged_;
  std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> commitWatch_;
  int fd_ = -1;
  std::unique_ptr<fcitx::EventSourceIO> io_;
  std::unique_ptr<fcitx::EventSourceTime> retry_;
  int retries_ = 0;
  std::optional<std::chrono::steady_clock::time_point> started_;
  std::string inbox_;
  std::uint32_t sequence_ = 0;
  std::uint32_t awaiting_ = 0;
  std::optional<bool> answer_;
  // The program has answered a key since the connection began.
  bool answered_ = false;
  // The program ended the connection (it is gone): the next key waits for it to be back.
  bool restartAwaited_ = false;
  // Keys go on as typed to the end of the word.
  bool typedWord_ = false;
  bool stalled_ = false;
  std::uint32_t stalledSequence_ = 0;
  std::uint32_t stalledId_ = 0;
  std::uint32_t contexts_ = 0;
  std::uint32_t focusedId_ = 0;
  // Our own commit is under way.
  bool ownCommit_ = false;
  // The context whose word fcitx5 was kept from putting in as the focus left it.
  std::uint32_t withheld_ = 0;
  std::optional<Held> held_;
  std::unique_ptr<fcitx::EventSourceTime> heldTimer_;
  std::unordered_map<fcitx::InputContext*, std::uint32_t> ids_;
  std::map<std::uint32_t, fcitx::TrackableObjectReference<fcitx::InputContext>> byId_;
  std::map<std::uint32_t, Shown> shown_;
  std::map<std::uint32_t, Told> told_;
  // The menu's actions, by row key, and the sub-menus that hold some of them.
  std::map<std::string, std::unique_ptr<MenuRow>> rows_;
  std::vector<std::unique_ptr<fcitx::Menu>> menus_;
  std::vector<MenuRow*> top_;
  std::vector<protocol::MenuEntry> menuSpec_;
  std::uint32_t menuId_ = 0;
};

void CandidateRow::select(fcitx::InputContext* ic) const { engine_->candidateClicked(ic, row_); }

void MenuRow::activate(fcitx::InputContext* ic) { engine_->menuRowChosen(ic, *this); }

// KDE Plasma's input-method panel draws no check mark (fcitx5's KDE panel protocol carries none):
// there, a row that is on keeps its own icon, to be told from the others, and its title, in the
// button's tooltip, begins with the mark.
std::string MenuRow::shortText(fcitx::InputContext* ic) const {
  std::string title = fcitx::SimpleAction::shortText(ic);
  if (isCheckable() && isChecked(ic) && engine_->onKdePanel()) title.insert(0, "✓ ");
  return title;
}

class TolvaniFactory final : public fcitx::AddonFactory {
 public:
  fcitx::AddonInstance* create(fcitx::AddonManager* manager) override {
    return new TolvaniEngine(manager->instance());
  }
};

}  // namespace
}  // namespace tolvani

FCITX_ADDON_FACTORY(tolvani::TolvaniFactory)
