// The input controller: one per client text session (an IBus input context), turning key events
// into engine calls and engine states into the client's marked and committed text and the
// candidate panel. Thread-safety: main thread only; the save after deactivation is the only work
// it sends elsewhere.
#ifndef TOLVANI_IME_TOLVANIINPUTCONTROLLER_H_
#define TOLVANI_IME_TOLVANIINPUTCONTROLLER_H_

#include <QRectF>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "ime/CandidatePanel.h"
#include "ime/EngineBridge.h"
#include "ime/InputMenu.h"
#include "ime/KeyTable.h"
#include "platform/NotificationCenter.h"
#include "platform/TextClient.h"
#include "settings/AppSettings.h"

namespace tolvani {

class TolvaniInputController {
 public:
  // Only key-down events reach the controller.
  static constexpr std::uint64_t kRecognizedEvents = 1024;

  // `client` is the text session the controller serves (borrowed: it must outlive the
  // controller).
  explicit TolvaniInputController(platform::TextClient* client);
  ~TolvaniInputController();
  TolvaniInputController(const TolvaniInputController&) = delete;
  TolvaniInputController& operator=(const TolvaniInputController&) = delete;

  platform::TextClient* client() const { return client_; }

  // A key's candidates come once the keys pause, so that no preedit waits for a ranking and
  // keys typed in a burst rank only their last composition. Set before the first key.
  void setRankingDeferred(bool on) { rankingDeferred_ = on; }

  // Who puts a pending composition into the client when the platform ends it.
  enum class PendingText {
    // The controller inserts the engine's commit.
    insert,
    // The client has already inserted the marked text it showed (IBus commits a preedit shown in
    // its commit mode when the focus leaves the context, and the toolkits commit it before they
    // reset): the engine learns that text and nothing more is sent.
    insertedByClient,
  };

  // The input method was selected for the client, or the client got the focus.
  void activateServer(platform::TextClient* sender);
  // The input method leaves the client: commits, saves learned data off the main thread, resets.
  // A null sender means the controller's own client.
  void deactivateServer(platform::TextClient* sender, PendingText pending = PendingText::insert);
  // The client asks for the composition to be committed.
  void commitComposition(platform::TextClient* sender, PendingText pending = PendingText::insert);
  std::uint64_t recognizedEvents() const { return kRecognizedEvents; }

  // One key event; true when the input method consumed it.
  bool handle(const KeyEvent& event, platform::TextClient* client);
  // Writes `state` to `client`: marked text, commits and the candidate panel.
  void apply(std::optional<EngineState> state, platform::TextClient* client);
  // The state that picking panel row `index` produces, or none.
  std::optional<EngineState> selectionState(int index);

  // The input menu as it stands now: the check marks show the state of this moment.
  InputMenu menu() const;
  // The menu while no controller exists: the layout of the settings, no switch on.
  static InputMenu menuWithoutController();
  // Runs the command of the menu row `key`. `on` is the state the person chose: a layout row acts
  // only when chosen on (choosing the current layout still commits and resets), a switch only
  // when `on` differs from its present state; other rows ignore it. Unknown keys do nothing.
  // The client need not have the focus (opening a desktop's menu takes it): a layout or switch
  // applies to the typing that follows, and chosen while a word is being typed, once that word
  // ends; the conversion waits until the client has the focus again.
  void activateMenuItem(const QString& key, bool on);
  // A row chosen while no controller exists: the windows open, a layout or the suggestions switch
  // goes to the settings (which new controllers start from); the rest belong to a client.
  static void activateMenuItemWithoutController(const QString& key, bool on);
  // Another client took the focus: a conversion waiting for this one is dropped.
  void forgetConversionOnReturn() { convertOnActivation_ = false; }
  // Told, on the main thread, whenever the state the menu shows may have changed.
  void setMenuObserver(std::function<void()> observer) { menuObserver_ = std::move(observer); }
  // The client's input purpose may have changed (a password field gets or loses secure entry).
  void inputPurposeChanged();

  // The preedit as the client shows it (never the raw Latin input).
  QString composedString() const;
  QString originalString() const;
  // The client's text of `range` as plain text; none when the client gives none or a text of
  // another length.
  std::optional<QString> selectedText(platform::TextClient* client,
                                      platform::TextRange range) const;

  // Test view of the fields.
  const EngineState& testCurrentState() const { return currentState_; }
  KeyboardMode testCurrentMode() const { return currentMode_; }
  void testSetCurrentMode(KeyboardMode mode) { currentMode_ = mode; }
  bool testLearningSuppressed() const { return learningSuppressed_; }
  bool testEngineFailed() const { return engineTried_ && !engine_; }
  bool testEnglishBypass() const { return isEnglishBypass_; }
  void testSetEnglishBypass(bool on) { isEnglishBypass_ = on; }
  bool testHasPostCommit() const { return postCommit_.has_value(); }
  bool testHasRecentCommit() const { return recentCommit_.has_value(); }
  EngineBridge* testEngine() const { return engine_.get(); }
  CandidatePanel* testPanel() const { return panel_.get(); }

  // The one empty state every reset copies.
  static const EngineState& emptyState();

  // What confirms setup with committed text: the setup window's own check, which also refreshes
  // the window when it shows. Without one, the setting alone is written.
  static void setSetupConfirmer(std::function<bool(const QString& committed)> confirm);

 private:
  struct RecentCommit {
    QString raw;
    QString text;
    platform::TextRange range;
    platform::TextClient* client = nullptr;
  };
  struct PostCommit {
    struct Offer {
      QString text;
      QString replacement;
      platform::TextRange range;
    };
    std::vector<CandidateItem> items;
    std::optional<Offer> offer;
    qsizetype caret = 0;
    platform::TextClient* client = nullptr;
  };

  // The bridge, made on first use with the default mode; a failure is kept and not retried.
  EngineBridge* engine();
  // Runs `operation` on the panel, made on first use. Requires: the main thread.
  template <typename F>
  auto withPanel(F&& operation) {
    return operation(panel());
  }
  // The panel, made on first use. Requires: the main thread.
  CandidatePanel& panel();
  std::optional<int> selectedPanelIndexIfUserSelected();

  void commitPendingComposition(platform::TextClient* client,
                                PendingText pending = PendingText::insert);
  void updateLearningSuppression();
  void handleSettingsChange(const platform::Notification& notification);
  bool secureEntryActive() const;
  void resetComposition();
  // Whether `state` came from a key whose candidates are ranked once the keys pause.
  bool rankingPending(const EngineState& state) const;
  // Shows the candidates the last key left pending now, rather than once the keys pause.
  void settleRanking();
  void applyRanking();
  void clearMarkedText(platform::TextClient* client);
  // The caret rectangle; a null rectangle when no valid one is known (the panel then goes where
  // the framework puts it).
  QRectF cursorRect(platform::TextClient* client);
  bool isValidCursorRect(const std::optional<QRectF>& rect);

  // Key handling.
  bool handleKey(const KeyEvent& event, platform::TextClient* client);
  // Whether the post-commit panel consumed the key; none lets it go on.
  std::optional<bool> handlePostCommitKey(const KeyEvent& event);
  bool prepareBackspace(platform::TextClient* client);
  bool expandTextShortcut(platform::TextClient* client);
  bool expandComposingShortcut(platform::TextClient* client);
  void commitCompositionForNavigation(platform::TextClient* client);
  void postCommitCaretMoved(qsizetype count);
  // The engine's answer, or the empty state without an engine.
  EngineState sendOrEmpty(EngineKeyKind kind, std::uint16_t keyCode, std::uint32_t modifiers,
                          const QString& text = QString());

  // Applying compositions.
  void selectPostCommitItem(int index);
  bool showPostCommitPanel(const EngineState& state, platform::TextClient* client);
  // Marks onboarding completed once committed text holds a Bangla letter; true when it is
  // completed.
  static bool confirmSetupByCommitting(const QString& text);
  // Counts a commit of `text` in the statistics and confirms setup with it.
  void recordCommit(const QString& text, bool autocorrected, std::int64_t saved);
  // Remembers the commit just inserted for its English alternative, when it qualifies.
  void rememberCommit(const QString& raw, const QString& commit, platform::TextClient* client);

  // The input menu's commands and hot keys.
  // Commits a pending composition, ends the English bypass and makes `mode` the default.
  void switchMode(KeyboardMode mode);
  void toggleEnglishPassthrough();
  // Phonetic, probhat, national, unijoy, and round again.
  void cycleMode();
  // `sender`: the client of the hot key; null from the menu (the controller's own client).
  void toggleSuggestions(platform::TextClient* sender);
  void convertSelectedBanglish(platform::TextClient* client);
  // The menu's conversion: it comes without a key press, before which some applications tell
  // their selection, so the client asks for it first.
  void convertSelectedBanglishFromMenu();
  // Short messages near the caret of `client` (null: the controller's own); none without one.
  void showSuggestionStatus(bool enabled, platform::TextClient* sender);
  void showConversionStatus(const QString& text, platform::TextClient* client);
  void menuChanged();
  static InputMenu menuFor(KeyboardMode mode, bool englishBypass, bool secureEntry);
  // Whether a word is being typed: a composition, or letters passed through in English.
  bool wordUnderWay() const;
  // The layout and switch rows chosen while a word was being typed, in the order chosen.
  void runPostponedMenuItems();

  platform::TextClient* const client_;
  std::shared_ptr<EngineBridge> engine_;
  bool engineTried_ = false;
  std::unique_ptr<CandidatePanel> panel_;
  EngineState currentState_;
  KeyboardMode currentMode_;
  bool isEnglishBypass_ = false;
  std::optional<RecentCommit> recentCommit_;
  std::optional<QString> inlineEmoji_;
  bool englishAlternative_ = false;
  std::optional<PostCommit> postCommit_;
  bool hasActivatedBefore_ = false;
  // The key being handled counts in the typing statistics once it has been answered.
  bool keystrokeToRecord_ = false;
  bool setupConfirmed_;
  bool learningSuppressed_ = false;
  QRectF lastGoodRect_;
  bool rankingDeferred_ = false;
  QTimer rankingTimer_;
  std::function<void()> menuObserver_;
  std::vector<std::pair<QString, bool>> postponedMenuItems_;
  // The last key passed through in English was part of a word.
  bool passedWordUnderWay_ = false;
  // Unijoy's link key holds its virama at the end of the composition.
  bool linkHeld_ = false;
  // Between activation and deactivation.
  bool active_ = false;
  bool convertOnActivation_ = false;

  platform::NotificationCenter::Token settingsObserver_ = 0;
  // Callbacks hold this weakly; it is cleared when the controller ends.
  std::shared_ptr<TolvaniInputController*> self_;
};

}  // namespace tolvani

#endif  // TOLVANI_IME_TOLVANIINPUTCONTROLLER_H_
