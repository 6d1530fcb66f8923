// The road of one keystroke: which keys the input method keeps, and what each kept key does
// (engine keys, row selections, text shortcuts, hot keys, the post-commit panel's keys).
#include <unicode/uchar.h>

#include <QTextBoundaryFinder>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string_view>
#include <utility>

#include "ime/BanglishConverter.h"
#include "ime/TolvaniInputController.h"
#include "platform/Clock.h"
#include "settings/TextShortcuts.h"
#include "settings/UIStrings.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/TypingStatsStore.h"

namespace tolvani {
namespace {

using platform::TextRange;
namespace Codes = KeyCodes;

// A key passed through in English that goes on a word: a letter, a digit, an apostrophe.
bool isWordCharacter(const QString& characters) {
  return characters.size() == 1 &&
         (characters.at(0).isLetterOrNumber() || characters.at(0) == QLatin1Char('\''));
}

constexpr std::uint64_t kPlainMask =
    KeyFlags::kShift | KeyFlags::kControl | KeyFlags::kOption | KeyFlags::kCommand;
constexpr std::uint64_t kHotKeyMask = KeyFlags::kControl | KeyFlags::kOption | KeyFlags::kCommand;
constexpr std::uint64_t kCommandOrControl = KeyFlags::kControl | KeyFlags::kCommand;
constexpr qsizetype kShortcutReadBack = 48;
constexpr std::string_view kVirama = "\u09CD";
constexpr int kMaxShortcutWord = 24;

// Function keys, Home, End, Page Up, Page Down, Forward Delete, Left and Right.
constexpr std::uint16_t kNavigationKeys[] = {96,  97,  98,  99,  100, 101, 103, 109, 111, 115,
                                             116, 117, 118, 119, 120, 121, 122, 123, 124};

bool isNavigationKey(std::uint16_t code, bool candidatesShown) {
  if (std::find(std::begin(kNavigationKeys), std::end(kNavigationKeys), code) !=
      std::end(kNavigationKeys)) {
    return true;
  }
  return !candidatesShown && (code == Codes::kDown || code == Codes::kUp);
}

bool isIdlePassKey(std::uint16_t code) {
  switch (code) {
    case Codes::kReturn:
    case Codes::kTab:
    case Codes::kDelete:
    case Codes::kEscape:
    case Codes::kEnter:
    case Codes::kDown:
    case Codes::kUp:
      return true;
    default:
      return isNavigationKey(code, true);
  }
}

bool isReturn(std::uint16_t code) { return code == Codes::kReturn || code == Codes::kEnter; }

bool hasBanglaLetter(const std::string& utf8) {
  for (const char32_t c : QString::fromStdString(utf8).toUcs4()) {
    if ((c >= 0x0985 && c <= 0x09B9) || (c >= 0x09DC && c <= 0x09DF)) return true;
  }
  return false;
}

// The whole number a key's text stands for, when it is one scalar with such a value (Bangla
// digits included).
std::optional<int> wholeNumberValue(const QString& text) {
  const QList<uint> scalars = text.toUcs4();
  if (scalars.size() != 1) return std::nullopt;
  const double value = u_getNumericValue(static_cast<UChar32>(scalars.front()));
  if (value == U_NO_NUMERIC_VALUE || value != std::floor(value) || value < 0 || value > 1e6) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

// A letter typed without Control or Command only adds to the composition, and Space commits it
// as it would with the rows shown (a row the person chose has come with them): neither reads the
// rows.
bool readsNoRows(const KeyEvent& event) {
  if ((event.modifierFlags & kCommandOrControl) != 0) return false;
  if (event.keyCode == Codes::kSpace) return true;
  const QString& text = event.characters;
  return text.size() == 1 && text.front().isLetter();
}

// Control characters, DEL and the private-use characters that function keys type.
bool hasControlOrFunctionCharacter(const QString& text) {
  for (const char32_t c : text.toUcs4()) {
    if (c < 0x20 || c == 0x7F || (c >= 0xF700 && c <= 0xF8FF)) return true;
  }
  return false;
}

bool isActive(const EngineState& state) {
  return !state.preedit.empty() || !state.raw_text.empty() || !state.candidates.empty();
}

bool isWhitespace(const QString& character) {
  const QList<uint> scalars = character.toUcs4();
  return !scalars.isEmpty() && u_isUWhiteSpace(static_cast<UChar32>(scalars.front()));
}

// Records the time from construction to destruction as the key's handling time.
class KeyTimer {
 public:
  KeyTimer() : start_(platform::clock().uptime()) {}
  ~KeyTimer() {
    const std::chrono::duration<double, std::milli> elapsed = platform::clock().uptime() - start_;
    RuntimeDiagnostics::record(RuntimeDiagnostics::Metric::keyHandling, elapsed.count());
  }
  KeyTimer(const KeyTimer&) = delete;
  KeyTimer& operator=(const KeyTimer&) = delete;

 private:
  const std::chrono::nanoseconds start_;
};

}  // namespace

QString TolvaniInputController::composedString() const {
  return QString::fromStdString(currentState_.preedit);
}

QString TolvaniInputController::originalString() const { return composedString(); }

std::optional<QString> TolvaniInputController::selectedText(platform::TextClient* client,
                                                            TextRange range) const {
  if (!client) return std::nullopt;
  std::optional<QString> text = client->attributedSubstring(range);
  if (!text || text->size() != range.length) return std::nullopt;
  return text;
}

EngineState TolvaniInputController::sendOrEmpty(EngineKeyKind kind, std::uint16_t keyCode,
                                                std::uint32_t modifiers, const QString& text) {
  EngineBridge* bridge = engine();
  return bridge ? bridge->send(kind, keyCode, modifiers, text) : emptyState();
}

bool TolvaniInputController::handle(const KeyEvent& event, platform::TextClient* client) {
  const KeyTimer timer;
  // What other keys do may depend on the rows of the key before; keys typed in a burst rank
  // nothing until it ends.
  if (!readsNoRows(event)) settleRanking();
  const bool handled = handleKey(event, client);
  // Counted after the key's preedit has gone, which the count would otherwise delay.
  if (std::exchange(keystrokeToRecord_, false)) TypingStatsStore::recordKeystroke();
  if (!postponedMenuItems_.empty() && !wordUnderWay()) runPostponedMenuItems();
  return handled;
}

bool TolvaniInputController::handleKey(const KeyEvent& event, platform::TextClient* client) {
  if (!client) return false;
  updateLearningSuppression();
  if (learningSuppressed_) return false;
  if (!event.keyDown) return false;

  const std::uint16_t code = event.keyCode;
  // Return and Tab after Unijoy's link key keep the virama as typed, and then do what they do
  // with nothing composed: they are the client's.
  const bool linkHeld = std::exchange(linkHeld_, false) && currentMode_ == KeyboardMode::unijoy;
  if (code != Codes::kDelete) {
    recentCommit_.reset();
    if (englishAlternative_) withPanel([](CandidatePanel& panel) { panel.hide(); });
    englishAlternative_ = false;
  }

  const std::uint64_t flags = event.modifierFlags;
  if (postCommit_) {
    if (const std::optional<bool> answer = handlePostCommitKey(event)) return *answer;
  }

  const bool control = (flags & KeyFlags::kControl) != 0;
  const bool option = (flags & KeyFlags::kOption) != 0;
  const bool command = (flags & KeyFlags::kCommand) != 0;
  const bool shift = (flags & KeyFlags::kShift) != 0;
  if (control && !command && !option && code == Codes::kSpace) {
    if (!shift) {
      toggleEnglishPassthrough();
    } else {
      isEnglishBypass_ = false;
      cycleMode();
    }
    return true;
  }
  if ((flags & kHotKeyMask) == (KeyFlags::kControl | KeyFlags::kOption)) {
    if (code == Codes::kS) {
      toggleSuggestions(client);
      return true;
    }
    if (code == Codes::kB) {
      convertSelectedBanglish(client);
      return true;
    }
  }

  if (isEnglishBypass_) {
    if (code != Codes::kDelete) passedWordUnderWay_ = isWordCharacter(event.characters);
    return false;
  }
  if (code == Codes::kDelete && !prepareBackspace(client)) return false;

  if ((flags & kCommandOrControl) != 0 || (option && currentMode_ == KeyboardMode::phonetic)) {
    if (isActive(currentState_)) commitPendingComposition(client);
    return false;
  }

  const std::uint32_t modifiers = (shift ? 1u : 0u) | (option ? 2u : 0u);
  const bool candidatesShown = !currentState_.candidates.empty();

  if (currentMode_ == KeyboardMode::phonetic && hasBanglaLetter(currentState_.preedit) &&
      candidatesShown) {
    const int rows = static_cast<int>(currentState_.candidates.size()) + (inlineEmoji_ ? 1 : 0);
    const std::optional<int> n = wholeNumberValue(event.characters);
    if (n && *n >= 1 && *n <= rows) {
      TypingStatsStore::recordCandidateSelection();
      apply(selectionState(*n - 1), client);
      return true;
    }
  }

  keystrokeToRecord_ = true;

  const bool active = isActive(currentState_);
  if (!active) {
    if (isIdlePassKey(code)) return false;
    if (code == Codes::kSpace) return expandTextShortcut(client);
  } else if ((isReturn(code) || code == Codes::kTab) && linkHeld &&
             !selectedPanelIndexIfUserSelected()) {
    apply(sendOrEmpty(EngineKeyKind::space, code, 0), client);
    return false;
  } else if (candidatesShown) {
    if (isReturn(code) || code == Codes::kTab) {
      if (const std::optional<int> picked = selectedPanelIndexIfUserSelected()) {
        apply(selectionState(*picked), client);
      } else if (isReturn(code)) {
        apply(sendOrEmpty(EngineKeyKind::space, code, 0), client);
      } else {
        apply(sendOrEmpty(EngineKeyKind::tab, code, modifiers), client);
      }
      return true;
    }
    if (code == Codes::kSpace) {
      if (expandComposingShortcut(client)) return true;
      if (const std::optional<int> picked = selectedPanelIndexIfUserSelected()) {
        apply(selectionState(*picked), client);
        client->insertText(QStringLiteral(" "), TextRange::notFound());
        if (recentCommit_) {
          recentCommit_->text += QLatin1Char(' ');
          recentCommit_->range.length += 1;
        }
        postCommitCaretMoved(1);
        return true;
      }
      apply(sendOrEmpty(EngineKeyKind::space, code, 0, QStringLiteral(" ")), client);
      return true;
    }
    if (code == Codes::kDown) {
      withPanel([](CandidatePanel& panel) { panel.selectNext(); });
      return true;
    }
    if (code == Codes::kUp) {
      withPanel([](CandidatePanel& panel) { panel.selectPrevious(); });
      return true;
    }
  }

  // An active composition, or an idle text key.
  std::optional<EngineKeyKind> kind;
  QString text;
  if (code == Codes::kDelete) {
    kind = EngineKeyKind::backspace;
  } else if (isReturn(code)) {
    // Return commits as Space does, without a space of its own.
    kind = EngineKeyKind::space;
  } else if (code == Codes::kTab) {
    kind = EngineKeyKind::tab;
  } else if (code == Codes::kSpace) {
    if (active && expandComposingShortcut(client)) return true;
    kind = EngineKeyKind::space;
    text = QStringLiteral(" ");
  } else if (code == Codes::kEscape) {
    kind = EngineKeyKind::escape;
  } else if (isNavigationKey(code, candidatesShown)) {
    if (active) commitCompositionForNavigation(client);
    return false;
  } else {
    text = option ? event.charactersIgnoringModifiers : event.characters;
    if (text.isEmpty()) return false;
    if (hasControlOrFunctionCharacter(text)) {
      if (active) commitCompositionForNavigation(client);
      return false;
    }
    kind = EngineKeyKind::text;
  }

  EngineBridge* bridge = engine();
  if (!bridge) return false;
  const std::string rawBefore = currentState_.raw_text;
  EngineState state = bridge->send(*kind, code, modifiers, text);
  // The link key holds: a key without AltGr that adds a lone virama.
  linkHeld_ = currentMode_ == KeyboardMode::unijoy && !option && *kind == EngineKeyKind::text &&
              state.raw_text == rawBefore + std::string(kVirama);
  bool consumed = !state.preedit.empty() || !state.raw_text.empty() || !state.commit_text.empty();
  if (!consumed) consumed = !state.candidates.empty() || (state.status_flags & 0x7) != 0;
  if (!consumed) consumed = (code == Codes::kEscape || code == Codes::kDelete) && active;
  apply(std::move(state), client);
  return consumed;
}

std::optional<bool> TolvaniInputController::handlePostCommitKey(const KeyEvent& event) {
  const bool plain = (event.modifierFlags & kPlainMask) == 0;
  const std::uint16_t code = event.keyCode;
  auto dismiss = [this] {
    postCommit_.reset();
    withPanel([](CandidatePanel& panel) { panel.hide(); });
  };
  if (plain && isReturn(code)) {
    if (const std::optional<int> picked = selectedPanelIndexIfUserSelected()) {
      selectPostCommitItem(*picked);
      return true;
    }
  } else if (plain && code == Codes::kTab) {
    selectPostCommitItem(withPanel([](CandidatePanel& panel) { return panel.selectedIndex(); }));
    return true;
  } else if (plain && code == Codes::kEscape) {
    dismiss();
    return true;
  } else if (plain && code == Codes::kDown) {
    withPanel([](CandidatePanel& panel) { panel.selectNext(); });
    return true;
  } else if (plain && code == Codes::kUp) {
    withPanel([](CandidatePanel& panel) { panel.selectPrevious(); });
    return true;
  }
  dismiss();
  return std::nullopt;
}

bool TolvaniInputController::prepareBackspace(platform::TextClient* client) {
  recentCommit_.reset();
  englishAlternative_ = false;
  withPanel([](CandidatePanel& panel) { panel.hide(); });
  if (currentState_.preedit.empty()) {
    if (!currentState_.raw_text.empty()) return true;
  } else if (client) {
    // A client that reports neither its selection nor its text cannot tell its marked text
    // apart: there the marked text is only ever ours, and the framework resets the composition
    // when the user moves the caret, so the Delete belongs to the composition.
    if (!client->respondsTo(platform::TextClient::Call::selectedRange) ||
        !client->respondsTo(platform::TextClient::Call::stringFromRange)) {
      return true;
    }
    const QString preedit = QString::fromStdString(currentState_.preedit);
    const TextRange marked = client->markedRange();
    const TextRange selection = client->selectedRange();
    if (!marked.isNotFound() && marked.location >= 0 && marked.length == preedit.size() &&
        !selection.isNotFound() && selection.length == 0 && selection.location == marked.end()) {
      TextRange actual;
      const std::optional<QString> text = client->stringFromRange(marked, &actual);
      if (text == preedit && actual == marked) return true;
    }
  }
  if (EngineBridge* bridge = engine_.get()) bridge->reset();
  currentState_ = emptyState();
  inlineEmoji_.reset();
  withPanel([](CandidatePanel& panel) { panel.hide(); });
  return false;
}

bool TolvaniInputController::expandTextShortcut(platform::TextClient* client) {
  if (!client->respondsTo(platform::TextClient::Call::selectedRange) ||
      !client->respondsTo(platform::TextClient::Call::stringFromRange)) {
    return false;
  }
  const TextRange selection = client->selectedRange();
  if (selection.isNotFound() || selection.length != 0 || selection.location < 1) return false;
  const qsizetype caret = selection.location;
  qsizetype start = std::max<qsizetype>(0, caret - kShortcutReadBack);
  TextRange actual{platform::kNotFound, 0};
  const std::optional<QString> before = client->stringFromRange({start, caret - start}, &actual);
  if (!before || before->isEmpty()) return false;
  if (!actual.isNotFound()) start = actual.location;
  const qsizetype prefix = caret - start;
  if (prefix < 1 || prefix > before->size()) return false;
  const QString text = before->left(prefix);

  // The run of non-whitespace characters before the caret, at most 24 of them.
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  finder.toEnd();
  qsizetype wordStart = text.size();
  int characters = 0;
  while (true) {
    const qsizetype end = finder.position();
    const qsizetype begin = finder.toPreviousBoundary();
    if (begin < 0 || isWhitespace(text.mid(begin, end - begin))) break;
    if (++characters > kMaxShortcutWord) return false;
    wordStart = begin;
  }
  const QString word = text.mid(wordStart);
  if (word.isEmpty()) return false;
  const std::optional<QString> expansion =
      AppSettings::shortcutExpansion(word, /*includeDynamic=*/true);
  if (!expansion) return false;
  if (word.size() > caret) return false;
  client->insertText(*expansion + QLatin1Char(' '), {caret - word.size(), word.size()});
  return true;
}

bool TolvaniInputController::expandComposingShortcut(platform::TextClient* client) {
  if (currentMode_ != KeyboardMode::phonetic) return false;
  const std::optional<QString> expansion = AppSettings::shortcutExpansion(
      QString::fromStdString(currentState_.raw_text), /*includeDynamic=*/false);
  if (!expansion || !client) return false;
  if (EngineBridge* bridge = engine_.get()) bridge->reset();
  currentState_ = emptyState();
  withPanel([](CandidatePanel& panel) { panel.hide(); });
  clearMarkedText(client);
  client->insertText(*expansion + QLatin1Char(' '), TextRange::notFound());
  return true;
}

void TolvaniInputController::commitCompositionForNavigation(platform::TextClient* client) {
  const std::optional<int> picked =
      currentState_.candidates.empty() ? std::nullopt : selectedPanelIndexIfUserSelected();
  if (picked) {
    apply(selectionState(*picked), client);
  } else {
    apply(sendOrEmpty(EngineKeyKind::space, 0, 0), client);
  }
  if (postCommit_) {
    if (EngineBridge* bridge = engine_.get()) bridge->reset();
    postCommit_.reset();
    withPanel([](CandidatePanel& panel) { panel.hide(); });
  }
}

void TolvaniInputController::postCommitCaretMoved(qsizetype count) {
  if (postCommit_) postCommit_->caret += count;
}

void TolvaniInputController::convertSelectedBanglishFromMenu() {
  updateLearningSuppression();
  if (learningSuppressed_ || !client_) return;
  // A composition goes in first, so that the application tells the text with it.
  commitPendingComposition(client_);
  std::weak_ptr<TolvaniInputController*> weak = self_;
  client_->refreshSelection([weak](bool current) {
    const std::shared_ptr<TolvaniInputController*> alive = weak.lock();
    if (!alive || !*alive) return;
    TolvaniInputController& controller = **alive;
    if (current) return controller.convertSelectedBanglish(controller.client_);
    controller.updateLearningSuppression();
    if (!controller.learningSuppressed_) {
      controller.showConversionStatus(UIStrings::convertSelectionUnavailable(), controller.client_);
    }
  });
}

void TolvaniInputController::convertSelectedBanglish(platform::TextClient* client) {
  updateLearningSuppression();
  if (learningSuppressed_ || !client) return;
  // A message near the caret. The client that asked is borrowed: once it is no longer the
  // controller's own it may be gone, so the controller's own gets the message instead.
  const auto toast = [](TolvaniInputController& controller, platform::TextClient* target,
                        const QString& message) {
    if (target != controller.client_) target = controller.client_;
    if (target) controller.showConversionStatus(message, target);
  };
  commitPendingComposition(client);
  recentCommit_.reset();
  englishAlternative_ = false;

  const TextRange range = client->selectedRange();
  if (range.location == platform::kNotFound || range.length == platform::kNotFound ||
      !client->tellsSelection()) {
    return toast(*this, client, UIStrings::convertSelectionUnavailable());
  }
  if (range.length <= 0) {
    return toast(*this, client,
                 client->tellsEmptySelection() ? UIStrings::convertSelectFirst()
                                               : UIStrings::convertSelectionHidden());
  }
  if (range.length > BanglishConverter::maxSelectionLength) {
    return toast(*this, client, UIStrings::convertSelectionTooLong());
  }
  const std::optional<QString> requested = selectedText(client, range);
  if (!requested) return toast(*this, client, UIStrings::convertSelectionUnavailable());
  if (!BanglishConverter::containsBanglish(*requested)) {
    return toast(*this, client, UIStrings::convertNothingToConvert());
  }

  std::weak_ptr<TolvaniInputController*> weak = self_;
  BanglishConverter::shared().convert(*requested, [weak, client, range, requested = *requested,
                                                   toast](const std::optional<QString>& result) {
    const std::shared_ptr<TolvaniInputController*> alive = weak.lock();
    if (!alive || !*alive) return;
    TolvaniInputController& controller = **alive;
    if (!result) return toast(controller, client, UIStrings::convertEngineUnavailable());
    // The selection may have moved, or a composition begun, while the text was converted.
    const bool current = controller.client_ && controller.client_ == client &&
                         controller.currentState_.preedit.empty() &&
                         client->selectedRange() == range &&
                         controller.selectedText(client, range) == requested;
    if (!current) return toast(controller, client, UIStrings::convertSelectionChanged());
    if (*result == requested) return;
    client->insertText(*result, range);
    controller.recentCommit_.reset();
  });
}

}  // namespace tolvani
