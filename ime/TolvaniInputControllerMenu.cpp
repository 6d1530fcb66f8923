// The input menu and the commands behind its rows and the hot keys.
#include <algorithm>
#include <array>
#include <utility>

#include "ime/InputMenuWindows.h"
#include "ime/TolvaniInputController.h"
#include "settings/UIStrings.h"

namespace tolvani {
namespace {

using Kind = InputMenuRow::Kind;
namespace Keys = InputMenuKeys;

InputMenuRow header(const QString& key, const QString& title) {
  return {key, Kind::header, title, QString(), false, false};
}

InputMenuRow separator(int number) {
  return {QStringLiteral("separator") + QString::number(number),
          Kind::separator,
          QString(),
          QString(),
          false,
          true};
}

InputMenuRow row(const QString& key, Kind kind, const QString& title, const char* icon,
                 bool on = false) {
  return {key, kind, title, QString::fromLatin1(icon), on, true};
}

constexpr std::array<KeyboardMode, 4> kCycle = {KeyboardMode::phonetic, KeyboardMode::probhat,
                                                KeyboardMode::national, KeyboardMode::unijoy};

}  // namespace

InputMenu TolvaniInputController::menu() const {
  return menuFor(currentMode_, isEnglishBypass_, learningSuppressed_);
}

InputMenu TolvaniInputController::menuWithoutController() {
  return menuFor(AppSettings::defaultMode(), false, false);
}

InputMenu TolvaniInputController::menuFor(KeyboardMode mode, bool englishBypass, bool secureEntry) {
  // Icons: the icon theme's nearest kin of each row's picture, a different one for each row, of
  // the names that both Breeze and Adwaita (or hicolor) have: KDE's panel shows a row by its icon
  // alone, and a name its theme lacks as the title's first letter.
  InputMenu menu;
  menu.push_back(header(Keys::kLayouts, UIStrings::menuLayouts()));
  menu.push_back(row(Keys::kPhonetic, Kind::radio, QStringLiteral("ফোনেটিক (Phonetic)"),
                     "preferences-desktop-font", mode == KeyboardMode::phonetic));
  menu.push_back(row(Keys::kProbhat, Kind::radio, QStringLiteral("প্রভাত (Probhat)"),
                     "input-keyboard", mode == KeyboardMode::probhat));
  menu.push_back(row(Keys::kNational, Kind::radio, QStringLiteral("জাতীয় (National)"),
                     "preferences-desktop-locale", mode == KeyboardMode::national));
  menu.push_back(row(Keys::kUnijoy, Kind::radio, QStringLiteral("ইউনিজয় (Unijoy)"),
                     "accessories-character-map", mode == KeyboardMode::unijoy));
  menu.push_back(separator(1));
  menu.push_back(header(Keys::kQuickControls, UIStrings::menuQuickControls()));
  menu.push_back(row(Keys::kEnglishPassthrough, Kind::toggle, UIStrings::menuEnglishPassthrough(),
                     "insert-text", englishBypass));
  const bool suggestions = AppSettings::suggestionsEnabled();
  menu.push_back(row(Keys::kSuggestions, Kind::toggle, UIStrings::suggestions(),
                     suggestions ? "starred-symbolic" : "non-starred-symbolic", suggestions));
  menu.push_back(separator(2));
  // The tools in one submenu: with the desktop's own rows, the whole menu fits on a small
  // screen (GNOME Shell shows the rows inline, and cuts off what falls below the screen).
  InputMenuRow tools =
      row(Keys::kTools, Kind::submenu, UIStrings::menuTools(), "applications-utilities");
  tools.rows = {
      row(Keys::kConvertBanglish, Kind::item, UIStrings::menuConvertBanglish(),
          "edit-find-replace"),
      row(Keys::kKeyboardSetup, Kind::item, UIStrings::setupTitle(),
          "preferences-desktop-keyboard"),
      row(Keys::kKeyboardTour, Kind::item, UIStrings::setupTour(), "media-playback-start"),
      row(Keys::kCustomKeys, Kind::item, UIStrings::customKeys(), "accessories-text-editor"),
      row(Keys::kTypingStats, Kind::item, UIStrings::typingStats(), "x-office-spreadsheet"),
      row(Keys::kKeyboardHelp, Kind::item, UIStrings::menuKeyboardHelp(), "help-contents"),
      row(Keys::kSettings, Kind::item, UIStrings::menuSettings(), "preferences-system"),
      row(Keys::kCheckForUpdates, Kind::item, UIStrings::checkForUpdates(),
          "system-software-update"),
  };
  menu.push_back(std::move(tools));
  menu.push_back(separator(3));
  menu.push_back(header(Keys::kPrivacy, UIStrings::menuPrivacy()));
  InputMenuRow secure =
      row(Keys::kSecureEntry, Kind::item,
          QStringLiteral("Secure Keyboard Entry is active — using English"), "dialog-password");
  secure.sensitive = false;
  secure.visible = secureEntry;
  menu.push_back(secure);
  InputMenuRow offline =
      row(Keys::kFullyOffline, Kind::item, UIStrings::menuFullyOffline(), "security-high");
  offline.sensitive = false;
  menu.push_back(offline);
  return menu;
}

namespace {

bool isLayoutRow(const QString& key) {
  return key == Keys::kPhonetic || key == Keys::kProbhat || key == Keys::kNational ||
         key == Keys::kUnijoy;
}

KeyboardMode layoutOfRow(const QString& key) {
  return key == Keys::kPhonetic   ? KeyboardMode::phonetic
         : key == Keys::kProbhat  ? KeyboardMode::probhat
         : key == Keys::kNational ? KeyboardMode::national
                                  : KeyboardMode::unijoy;
}

// Opens the window of a window row; false for other rows.
bool openMenuWindow(const QString& key) {
  if (key == Keys::kKeyboardSetup) {
    InputMenuWindows::openKeyboardSetup();
  } else if (key == Keys::kKeyboardTour) {
    InputMenuWindows::openKeyboardTour();
  } else if (key == Keys::kCustomKeys) {
    InputMenuWindows::openCustomLayoutEditor();
  } else if (key == Keys::kTypingStats) {
    InputMenuWindows::openTypingStats();
  } else if (key == Keys::kKeyboardHelp) {
    InputMenuWindows::openKeyboardHelp();
  } else if (key == Keys::kSettings) {
    InputMenuWindows::openPreferences();
  } else if (key == Keys::kCheckForUpdates) {
    InputMenuWindows::checkForUpdates();
  } else {
    return false;
  }
  return true;
}

}  // namespace

void TolvaniInputController::activateMenuItem(const QString& key, bool on) {
  if (openMenuWindow(key)) return;
  if ((isLayoutRow(key) || key == Keys::kEnglishPassthrough) && wordUnderWay()) {
    // Switched now, the word would end in another layout than it began in.
    postponedMenuItems_.emplace_back(key, on);
    return;
  }
  if (isLayoutRow(key)) {
    // A panel also reports the row that a choice turned off.
    if (on) switchMode(layoutOfRow(key));
  } else if (key == Keys::kEnglishPassthrough) {
    // A panel showing an older state must not flip the switch away from what the person chose.
    if (on != isEnglishBypass_) toggleEnglishPassthrough();
  } else if (key == Keys::kSuggestions) {
    if (on != AppSettings::suggestionsEnabled()) toggleSuggestions(nullptr);
  } else if (key == Keys::kConvertBanglish) {
    // The selection is the client's, which tells it only while it has the focus.
    if (active_)
      convertSelectedBanglishFromMenu();
    else
      convertOnActivation_ = true;
  }
}

void TolvaniInputController::activateMenuItemWithoutController(const QString& key, bool on) {
  if (openMenuWindow(key)) return;
  if (isLayoutRow(key) && on) {
    AppSettings::setDefaultMode(layoutOfRow(key));
    AppSettings::postDidChange(false);
  } else if (key == Keys::kSuggestions && on != AppSettings::suggestionsEnabled()) {
    AppSettings::setSuggestionsEnabled(on);
    AppSettings::postDidChange(false);
  }
}

bool TolvaniInputController::wordUnderWay() const {
  return !currentState_.preedit.empty() || !currentState_.raw_text.empty() ||
         (isEnglishBypass_ && passedWordUnderWay_);
}

void TolvaniInputController::runPostponedMenuItems() {
  for (const auto& [key, on] : std::exchange(postponedMenuItems_, {})) activateMenuItem(key, on);
}

void TolvaniInputController::inputPurposeChanged() { updateLearningSuppression(); }

void TolvaniInputController::menuChanged() {
  if (menuObserver_) menuObserver_();
}

void TolvaniInputController::switchMode(KeyboardMode mode) {
  updateLearningSuppression();
  if (client_) {
    commitPendingComposition(client_);
    clearMarkedText(client_);
  }
  currentMode_ = mode;
  isEnglishBypass_ = false;
  AppSettings::setDefaultMode(mode);
  if (EngineBridge* bridge = engine()) bridge->setMode(mode);
  resetComposition();
  menuChanged();
}

void TolvaniInputController::toggleEnglishPassthrough() {
  updateLearningSuppression();
  if (client_) {
    commitPendingComposition(client_);
    clearMarkedText(client_);
  }
  isEnglishBypass_ = !isEnglishBypass_;
  engine();
  resetComposition();
  menuChanged();
}

void TolvaniInputController::cycleMode() {
  const auto* at = std::find(kCycle.begin(), kCycle.end(), currentMode_);
  const std::ptrdiff_t index = at == kCycle.end() ? -1 : at - kCycle.begin();
  switchMode(kCycle[static_cast<std::size_t>(index + 1) % kCycle.size()]);
}

void TolvaniInputController::toggleSuggestions(platform::TextClient* sender) {
  updateLearningSuppression();
  const bool enabled = !AppSettings::suggestionsEnabled();
  AppSettings::setSuggestionsEnabled(enabled);
  EnginePreferences preferences = AppSettings::enginePreferences();
  preferences.learningDisabled = learningSuppressed_;
  EngineBridge* bridge = engine();
  EngineState state = bridge ? bridge->applyPreferences(preferences) : emptyState();
  AppSettings::postDidChange(false);
  apply(std::move(state), sender ? sender : client_);
  if (learningSuppressed_) {
    withPanel([](CandidatePanel& panel) { panel.hide(); });
  } else {
    if (!enabled) withPanel([](CandidatePanel& panel) { panel.hide(); });
    showSuggestionStatus(enabled, sender);
  }
  menuChanged();
}

void TolvaniInputController::showSuggestionStatus(bool enabled, platform::TextClient* sender) {
  showConversionStatus(enabled ? UIStrings::suggestionsOn() : UIStrings::suggestionsOff(),
                       sender ? sender : client_);
}

void TolvaniInputController::showConversionStatus(const QString& text,
                                                  platform::TextClient* client) {
  if (!client) return;
  const QRectF caret = cursorRect(client);
  withPanel([&](CandidatePanel& panel) { panel.showStatus(text, caret); });
}

}  // namespace tolvani
