// The messages between the setup window and its guide page: what the page may ask, checked
// before anything is done, and the snapshot of the state handed to the page's render function.
#include <QGuiApplication>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "help/KeyboardHelpController.h"
#include "platform/Desktop.h"
#include "platform/PowerState.h"
#include "settings/AppSettings.h"
#include "settings/TextShortcuts.h"
#include "settings/UIStrings.h"
#include "setup/GuideMessage.h"
#include "setup/onboarding/InputSourceWatch.h"
#include "setup/onboarding/OnboardingWindowController.h"

namespace tolvani {

namespace {

std::function<void()>& preferencesOpener() {
  static std::function<void()> open;
  return open;
}
std::function<void()>& shortcutEditorOpener() {
  static std::function<void()> open;
  return open;
}
std::function<void()>& helpOpener() {
  static std::function<void()> open;
  return open;
}

QString optionalStep(const std::optional<guide::Step>& step) {
  return step ? guide::rawValue(*step) : QStringLiteral("-");
}

// The desktop whose panel the page's words name: each puts IBus's icon, or its own menu, in a
// place of its own.
QString desktopName() {
  if (platform::desktop::isGnome()) return QStringLiteral("gnome");
  const QStringList names =
      qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(QLatin1Char(':'));
  for (const char* name : {"kde", "cinnamon", "xfce", "mate"})
    if (names.contains(QLatin1String(name))) return QLatin1String(name);
  if (names.contains(QLatin1String("x-cinnamon"))) return QStringLiteral("cinnamon");
  return QStringLiteral("other");
}

}  // namespace

void OnboardingWindowController::setPreferencesOpener(std::function<void()> open) {
  preferencesOpener() = std::move(open);
}
void OnboardingWindowController::setShortcutEditorOpener(std::function<void()> open) {
  shortcutEditorOpener() = std::move(open);
}
void OnboardingWindowController::setHelpOpener(std::function<void()> open) {
  helpOpener() = std::move(open);
}

void OnboardingWindowController::receive(const QString& json) {
  // Sub-frames never load (the navigation rule refuses them), so every message comes from the
  // main frame; it must still be showing the guide page.
  if (!page_) return;
  const QUrl current = page_->url();
  const bool currentAbsent = current.isEmpty();
  if (currentAbsent != !pageURL_.has_value()) return;
  if (pageURL_ && current.adjusted(QUrl::NormalizePathSegments) != *pageURL_) return;
  const std::optional<GuideMessage> message = GuideMessage::parse(json);
  if (!message) return;
  const QString& action = message->action;
  if (action == QLatin1String("ready")) {
    if (pageReady_) return;
    pageReady_ = true;
    cancelWatchdog();
    render(false);
    return;
  }
  if (!window_->isVisible() || window_->isMinimized() || !pageReady_) return;
  if (message->session != session_ || !message->textWithinLimit()) return;

  const bool busy = setupTask_ != nullptr;
  const bool tour = stage_ == Stage::tour;
  if (action == QLatin1String("retry")) {
    if (!tour) runSetup(true);
  } else if (action == QLatin1String("settings")) {
    openKeyboardSettings();
  } else if (action == QLatin1String("done")) {
    if (!busy) window_->close();
  } else if (action == QLatin1String("close")) {
    window_->close();
  } else if (action == QLatin1String("tour")) {
    // Without a daemon the tour could neither switch nor type.
    if (!tour && !busy && status_ == InputSourceRegistration::State::enabled && ibusRunning_) {
      stage_ = Stage::tour;
      tourStep_ = 0;
      render(false);
    }
  } else if (action == QLatin1String("tourSetup")) {
    if (tour) {
      stage_ = Stage::setup;
      render(false);
    }
  } else if (action == QLatin1String("tourNext")) {
    if (tour && tourStep_ <= 3) {
      ++tourStep_;
      render(false);
    }
  } else if (action == QLatin1String("tourBack")) {
    if (tour && tourStep_ >= 1) {
      --tourStep_;
      render(false);
    }
  } else if (action == QLatin1String("tourChapter")) {
    const std::optional<int> chapter = guideTourChapter(message->text);
    if (tour && chapter) {
      tourStep_ = *chapter;
      render(false);
    }
  } else if (action == QLatin1String("preferences")) {
    if (tour) {
      openWindowOf(preferencesOpener());
      render(false);
    }
  } else if (action == QLatin1String("help")) {
    if (tour && tourStep_ == 2) {
      if (helpOpener())
        openWindowOf(helpOpener());
      else
        openWindowOf([] { KeyboardHelpController::shared().showWindow(); });
      render(false);
    }
  } else if (action == QLatin1String("shortcut")) {
    if (tour && tourStep_ == 3) {
      openWindowOf(shortcutEditorOpener());
      render(false);
    }
  } else if (action == QLatin1String("select")) {
    // Where only the shell switches, the person chooses in its menu.
    if (tour && tourStep_ == 0 && !busy && !selectedByPerson_) switchKeyboard();
  } else if (action == QLatin1String("language")) {
    language_ = language_ == QLatin1String("bn") ? QStringLiteral("en") : QStringLiteral("bn");
    languageChosenInGuide_ = true;
    render(false);
  }
}

void OnboardingWindowController::openWindowOf(const std::function<void()>& open) {
  if (open) open();
}

guide::State OnboardingWindowController::state(bool focusTyping) const {
  guide::State state = stepState();
  state.language = language_;
  state.stage = stage_;
  state.tourStep = tourStep_;
  state.busy = setupTask_ != nullptr;
  state.running = running_;
  state.failed = failed_;
  state.failure = failure_;
  state.desktop = desktopName();
  state.session = session_;
  state.focusTyping = focusTyping;
  state.digits = AppSettings::banglaDigitsEnabled();
  state.english = AppSettings::englishPassthroughEnabled();
  state.suggestions = AppSettings::suggestionsEnabled();
  state.autocorrect = AppSettings::autocorrectEnabled();
  state.emoji = AppSettings::inlineEmojiEnabled();
  state.shortcut = AppSettings::shortcutExpansion(QStringLiteral("gm"), false).value_or(QString());
  state.defaultLayout = rawValue(AppSettings::defaultMode());
  state.quiet = InputSourceWatch::reduceMotion() || platform::powerState().lowPowerModeEnabled();
  state.visible = window_->isVisible() && !window_->isMinimized() &&
                  QGuiApplication::applicationState() == Qt::ApplicationActive;
  return state;
}

void OnboardingWindowController::render(bool focusTyping) {
  const guide::State now = state(false);
  const QString phase = guide::phase(now);
  if (!failure_.isEmpty())
    fallbackStatus_->setText(failure_);
  else if (phase == QLatin1String("working"))
    fallbackStatus_->setText(UIStrings::setupWorking());
  else if (phase == QLatin1String("waiting"))
    fallbackStatus_->setText(
        now.fcitx5 ? UIStrings::setupFcitx5NotRunning(now.switchKey, now.chooseVirtualKeyboard)
                   : UIStrings::setupIBusNotRunning());
  else if (phase == QLatin1String("done"))
    fallbackStatus_->setText(now.fcitx5
                                 ? UIStrings::setupDoneDetailFcitx5(now.switchKey, now.statusArea)
                                 : UIStrings::setupDoneDetail());
  else if (phase == QLatin1String("away"))
    fallbackStatus_->setText(now.fcitx5
                                 ? UIStrings::setupSwitchBackFcitx5(now.switchKey, now.statusArea)
                                 : UIStrings::setupSwitchBack(selectedByPerson_));
  else if (phase == QLatin1String("choose"))
    fallbackStatus_->setText(UIStrings::setupChooseInTopBar());
  else if (phase == QLatin1String("panel"))
    fallbackStatus_->setText(UIStrings::setupPanelMissing());
  else if (phase == QLatin1String("left"))
    fallbackStatus_->setText(UIStrings::setupStepsLeft());
  else
    fallbackStatus_->setText(UIStrings::setupEnableDetail());
  fallbackButtons_[1]->setVisible(keyboardSettingsWork());
  if (!pageReady_) return;

  const QByteArray snapshot =
      QJsonDocument(guide::snapshot(state(focusTyping))).toJson(QJsonDocument::Compact);
  // A throwing render function is reported to the console and answered with false.
  const QString script = QStringLiteral(
                             "(function (snapshot) { try { window.setup.render(snapshot); return "
                             "true; } catch (error) { console.error('render failed: ' + error); "
                             "return false; } })(%1)")
                             .arg(QString::fromUtf8(snapshot));
  page_->runJavaScript(script, QWebEngineScript::MainWorld,
                       [self = QPointer(this), generation = session_](const QVariant& result) {
                         if (!self || self->session_ != generation) return;
                         const bool rendered =
                             result.typeId() == QMetaType::Bool && result.toBool();
                         if (rendered || !self->pageReady_) return;
                         self->pageReady_ = false;
                         if (self->page_) self->page_->triggerAction(QWebEnginePage::Stop);
                         self->stack_->setCurrentWidget(self->fallback_);
                         self->fallbackStatus_->setText(UIStrings::setupGuideUpdateFailed());
                       });
}

QString OnboardingWindowController::describe() const {
  return QStringLiteral(
             "stage=%1 tour=%2 lang=%3%4 status=%5 selected=%6 menu=%7 running=%8 failed=%9 "
             "failure=\"%10\" busy=%11 refresh=%12%13 epoch=%14 ready=%15 page=%16%17")
      .arg(stage_ == Stage::tour ? "tour" : "setup")
      .arg(tourStep_)
      .arg(language_, languageChosenInGuide_ ? QStringLiteral("(chosen)") : QString())
      .arg(InputSourceRegistration::rawValue(status_))
      .arg(int(selected_))
      .arg(int(menuVisible_))
      .arg(optionalStep(running_), optionalStep(failed_), failure_)
      .arg(int(setupTask_ != nullptr))
      .arg(int(refreshTask_ != nullptr))
      .arg(refreshQueued_ ? QStringLiteral("+queued") : QString())
      .arg(stateEpoch_)
      .arg(int(pageReady_))
      .arg(stack_->currentWidget() == fallback_ ? QStringLiteral("fallback")
                                                : QStringLiteral("guide"))
      .arg(ibusRunning_ ? QString() : QStringLiteral(" ibus=0"));
}

}  // namespace tolvani
