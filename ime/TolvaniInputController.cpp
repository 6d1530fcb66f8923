#include "ime/TolvaniInputController.h"

#include <cassert>

#include "ime/CandidatePanelWindow.h"
#include "platform/Queues.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/TypingStatsStore.h"

namespace tolvani {

const EngineState& TolvaniInputController::emptyState() {
  static const EngineState empty;
  return empty;
}

TolvaniInputController::TolvaniInputController(platform::TextClient* client)
    : client_(client),
      currentState_(emptyState()),
      currentMode_(AppSettings::defaultMode()),
      setupConfirmed_(AppSettings::onboardingCompleted()),
      self_(std::make_shared<TolvaniInputController*>(this)) {
  rankingTimer_.setSingleShot(true);
  rankingTimer_.setInterval(CandidatePanelWindow::kPaintDelayMs);
  QObject::connect(&rankingTimer_, &QTimer::timeout, [this] { applyRanking(); });
  std::weak_ptr<TolvaniInputController*> weak = self_;
  settingsObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      AppSettings::didChangeNotification(), [weak](const platform::Notification& notification) {
        auto deliver = [weak, notification] {
          const std::shared_ptr<TolvaniInputController*> alive = weak.lock();
          if (alive && *alive) (*alive)->handleSettingsChange(notification);
        };
        // A setting written off the main thread still reaches the controller on it.
        if (platform::isMainThread()) {
          deliver();
        } else {
          platform::mainQueue().async(deliver);
        }
      });
}

TolvaniInputController::~TolvaniInputController() {
  platform::NotificationCenter::defaultCenter().removeObserver(settingsObserver_);
  *self_ = nullptr;
  // The panel goes before the bridge; the bridge's teardown writes its learned data.
  panel_.reset();
}

EngineBridge* TolvaniInputController::engine() {
  if (!engineTried_) {
    engineTried_ = true;
    engine_ = EngineBridge::create(AppSettings::defaultMode(), rankingDeferred_);
  }
  return engine_.get();
}

CandidatePanel& TolvaniInputController::panel() {
  assert(platform::isMainThread());
  if (!panel_) panel_ = CandidatePanel::make();
  return *panel_;
}

std::optional<int> TolvaniInputController::selectedPanelIndexIfUserSelected() {
  return withPanel([](CandidatePanel& panel) -> std::optional<int> {
    if (!panel.hasUserSelection()) return std::nullopt;
    return panel.selectedIndex();
  });
}

bool TolvaniInputController::secureEntryActive() const {
  return client_ && client_->isSecureEntry();
}

void TolvaniInputController::resetComposition() {
  rankingTimer_.stop();
  if (EngineBridge* bridge = engine_.get()) bridge->reset();
  currentState_ = emptyState();
  // The rows go with the panel: a later Tab or Return must not pick a row nobody saw.
  postCommit_.reset();
  englishAlternative_ = false;
  withPanel([](CandidatePanel& panel) { panel.hide(); });
}

void TolvaniInputController::activateServer(platform::TextClient*) {
  RuntimeDiagnostics::start();
  recentCommit_.reset();
  postCommit_.reset();
  learningSuppressed_ = secureEntryActive();

  EnginePreferences preferences = AppSettings::enginePreferences();
  preferences.learningDisabled = learningSuppressed_;
  if (EngineBridge* bridge = engine()) bridge->applyPreferences(preferences);

  if (learningSuppressed_) {
    resetComposition();
  } else {
    TypingStatsStore::recordSession();
  }
  if (!hasActivatedBefore_) {
    hasActivatedBefore_ = true;
    currentMode_ = AppSettings::defaultMode();
    isEnglishBypass_ = false;
  }
  if (EngineBridge* bridge = engine_.get()) bridge->setMode(currentMode_);

  std::weak_ptr<TolvaniInputController*> weak = self_;
  withPanel([weak](CandidatePanel& panel) {
    panel.onCandidateSelected = [weak](int index) {
      const std::shared_ptr<TolvaniInputController*> alive = weak.lock();
      if (!alive || !*alive) return;
      TolvaniInputController& controller = **alive;
      controller.updateLearningSuppression();
      if (controller.learningSuppressed_) {
        controller.withPanel([](CandidatePanel& p) { p.hide(); });
        return;
      }
      // A post-commit row counts its selection where it is inserted.
      const bool postCommitPick =
          controller.postCommit_ && controller.currentState_.raw_text.empty();
      if (!postCommitPick) TypingStatsStore::recordCandidateSelection();
      controller.apply(controller.selectionState(index), controller.client_);
    };
  });
  lastGoodRect_ = QRectF();
  active_ = true;
  menuChanged();
  if (std::exchange(convertOnActivation_, false)) convertSelectedBanglishFromMenu();
}

void TolvaniInputController::deactivateServer(platform::TextClient* sender, PendingText pending) {
  commitPendingComposition(sender ? sender : client_, pending);
  postCommit_.reset();
  withPanel([](CandidatePanel& panel) { panel.hide(); });
  if (std::shared_ptr<EngineBridge> bridge = engine_) {
    // The queued save keeps the bridge alive until it has written.
    platform::utilityQueue().async([bridge] { bridge->sync(); });
  }
  if (EngineBridge* bridge = engine_.get()) bridge->reset();
  currentState_ = emptyState();
  active_ = false;
  // The word ended here.
  passedWordUnderWay_ = false;
  runPostponedMenuItems();
}

void TolvaniInputController::commitComposition(platform::TextClient* sender, PendingText pending) {
  commitPendingComposition(sender ? sender : client_, pending);
  // The client moved its caret or reset its input: the word ended.
  passedWordUnderWay_ = false;
  runPostponedMenuItems();
}

void TolvaniInputController::commitPendingComposition(platform::TextClient* client,
                                                      PendingText pending) {
  updateLearningSuppression();
  if (!currentState_.preedit.empty()) {
    if (pending == PendingText::insertedByClient) {
      // Sending the engine's own commit now would put the text in whichever client has the focus
      // next; the text is where it was typed, and the engine learns it as typed there.
      const QString text = QString::fromStdString(currentState_.preedit);
      if (EngineBridge* bridge = engine_.get()) bridge->noteCommittedWord(text);
      recordCommit(text, false, 0);
    } else if (client) {
      EngineBridge* bridge = engine_.get();
      apply(bridge ? bridge->send(EngineKeyKind::space, 0, 0) : emptyState(), client);
    }
    resetComposition();
    return;
  }
  if (currentState_.raw_text.empty() && currentState_.candidates.empty()) return;
  resetComposition();
}

void TolvaniInputController::updateLearningSuppression() {
  const bool secure = secureEntryActive();
  if (secure == learningSuppressed_) return;
  learningSuppressed_ = secure;
  // The privacy section shows whether secure entry is on.
  menuChanged();
  EnginePreferences preferences = AppSettings::enginePreferences();
  preferences.learningDisabled = secure;
  if (EngineBridge* bridge = engine()) bridge->applyPreferences(preferences);
  if (!secure) return;
  if (client_ && !currentState_.preedit.empty()) {
    client_->insertText(QString::fromStdString(currentState_.preedit),
                        platform::TextRange::notFound());
  }
  if (client_) clearMarkedText(client_);
  resetComposition();
}

void TolvaniInputController::handleSettingsChange(const platform::Notification& notification) {
  updateLearningSuppression();
  if (AppSettings::reloadUserDataRequested(notification)) {
    if (EngineBridge* bridge = engine()) bridge->reloadUserData();
  }
  // The menu's titles follow the interface language, its switches the settings.
  menuChanged();
  if (learningSuppressed_) return;
  const KeyboardMode mode = AppSettings::defaultMode();
  if (mode != currentMode_) {
    commitPendingComposition(client_);
    currentMode_ = mode;
    if (EngineBridge* bridge = engine()) bridge->setMode(mode);
    menuChanged();
  }
  EnginePreferences preferences = AppSettings::enginePreferences();
  preferences.learningDisabled = learningSuppressed_;
  EngineBridge* bridge = engine();
  const EngineState state = bridge ? bridge->applyPreferences(preferences) : emptyState();
  if (client_) apply(state, client_);
}

}  // namespace tolvani
