// The first-run keyboard setup window: a guide page in a web view (or, when the page is missing,
// does not come up, fails or stops, a native panel with a status line and three buttons), the
// messages between the page and the program, and the setup run that registers, shows and selects
// Tolvani's input source through command-mode children. There is one instance per process, made
// by the first show() and kept; its window is hidden, never destroyed, when closed. The web view,
// its page, channel and profile go with each close, and with them the web engine's helper
// processes; the next guide load makes new ones. Asynchronous work re-checks a session token,
// renewed at every guide load and close, and drops stale results. Thread-safety: main thread only.
#ifndef TOLVANI_SETUP_ONBOARDING_ONBOARDINGWINDOWCONTROLLER_H_
#define TOLVANI_SETUP_ONBOARDING_ONBOARDINGWINDOWCONTROLLER_H_

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "setup/GuideSnapshot.h"
#include "setup/InputSourceRegistration.h"
#include "setup/InputSourceSnapshot.h"
#include "setup/SetupError.h"

class QLabel;
class QPushButton;
class QStackedLayout;
class QWebChannel;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class QWidget;

namespace tolvani {

class GuidePage;
class GuideRequestGuard;
class InputSourceWatch;
class SetupMessageHandler;

class OnboardingWindowController : public QObject {
  Q_OBJECT

 public:
  using Stage = guide::Stage;
  using Step = guide::Step;

  // How long a guide load may take before the native panel replaces it.
  static constexpr std::chrono::seconds kGuideLoadLimit{10};
  // How long a probe or a step of a run, or a switch, may go unanswered: as long as one child
  // may run. Without it a step's children, each bounded, add up to half a minute of "Working…".
  static constexpr std::chrono::seconds kAnswerLimit{8};

  // ---- Entry points for the rest of the program.

  // Opens the setup window, or brings it forward (re-probing, not reloading) when it is open.
  static void show();
  // As show(), for the window the program offers by itself: it never takes the focus from the
  // field the person types into, and an open window is only re-probed.
  static void offer();
  // Whether an offered window is shown minimized on the Qt platform `platform`: on Wayland, where
  // a window cannot ask to be mapped without the focus and KWin gives a new one the focus unless
  // it maps minimized. GNOME's shell, which has no task bar to find it in, keeps it shown.
  static bool offerMinimized(const QString& platform, bool gnome);
  // Offers the window when onboarding is not completed; after an earlier deferral only when a
  // probe finds the source not enabled (or cannot tell).
  static void showIfNeeded();
  // show(), then the tour at its first chapter.
  static void showTour();
  // Marks onboarding completed when `committed` holds a Bangla letter. True when onboarding is
  // (now) completed. Cheap once completed: the text is not looked at.
  static bool confirmSetup(const QString& committed);
  // The one instance, or null before the first show().
  static OnboardingWindowController* existing();

  // Seams the program sets: the settings window and the text-shortcut editor, opened by the
  // tour's "preferences" and "shortcut" actions. Unset, those actions only render.
  static void setPreferencesOpener(std::function<void()> open);
  static void setShortcutEditorOpener(std::function<void()> open);
  // The keyboard help, opened by the tour's "help" action; unset, it opens in this process.
  static void setHelpOpener(std::function<void()> open);
  // Called after the window closed and gave up its web view.
  static void setClosedObserver(std::function<void()> closed);
  // The window's status probed again when it shows (after onboarding completed elsewhere, say).
  static void refreshShown();

  // The operations that reach the system, replaceable by tests. Each completes on the main thread.
  struct Operations {
    std::function<void(CancellationRef, SetupCompletion<InputSourceSnapshot>)> probe;
    std::function<void(CancellationRef, SetupCompletion<Done>)> activate;
    // The add step when the show step follows it in the run, if it differs (the input menu is
    // then refreshed once, by the show step).
    std::function<void(CancellationRef, SetupCompletion<Done>)> activateBeforeShow;
    std::function<void(CancellationRef, SetupCompletion<Done>)> showInputMenu;
    std::function<void(CancellationRef, SetupCompletion<InputSourceSnapshot>)> select;
    std::function<bool()> menuVisible;
    // Whether a panel shows the input menu now, and whether only the desktop's shell switches
    // input sources (InputSourceSystem's panelRuns() and selectedByPerson()).
    std::function<bool()> panelRuns;
    std::function<bool()> selectedByPerson;
    // Under fcitx5, whether a status area shows its icon (Fcitx5InputSources::statusAreaRuns).
    std::function<bool()> statusArea;
  };
  static Operations defaultOperations();
  static void testSetOperations(std::optional<Operations> operations);
  // Called with every console message of the guide page (level 0 info, 1 warning, 2 error).
  static void testSetConsoleObserver(std::function<void(int level, const QString& message)> f);

  // A window of its own, not shown. Tests make fresh ones; the program uses show().
  OnboardingWindowController();
  ~OnboardingWindowController() override;

  QWidget* window() const { return window_.get(); }
  // The guide's web view; null from a close until the next guide load.
  QWebEngineView* webView() const { return webView_; }

  // A message the page posted, as JSON text; anything that fails a check is dropped silently.
  void receive(const QString& json);

  // The stored state as one line, for tests.
  QString describe() const;
  QString session() const { return session_; }
  bool pageReady() const { return pageReady_; }

  // Actions of the native panel's buttons and of the page.
  void loadGuide();
  void retrySetup();
  void openKeyboardSettings();
  void refreshStatus();

 private:
  friend class GuideWindow;
  friend class GuidePage;

  static OnboardingWindowController* ensureExisting();
  void configureWebView();
  // Makes the web view, its page, channel and profile when there are none.
  void makeWebView();
  // Takes them out of the window and ends them in a later turn of the event loop (a close may
  // come from inside one of the page's own messages).
  void releaseWebView();
  void endReleasedWebViews();
  void applyLanguage();
  void showFallback(const QString& message);
  void cancelWatchdog();
  void render(bool focusTyping);
  guide::State state(bool focusTyping) const;
  bool windowShownOrMinimized() const;
  void updateColors();
  QColor guideBackground() const;

  // Window events.
  void windowWillClose();
  void windowStateChanged();

  // Navigation rule of the web view: `byProgram` when the program's own load() asked for it.
  bool allowNavigation(const QUrl& url, bool byProgram, bool isMainFrame) const;
  void loadFinished(bool failed, int errorCode, const QString& errorText);
  void renderProcessTerminated();

  // The setup state machine.
  void runSetup(bool force);
  void setUp(bool force, const QString& generation, const CancellationRef& task);
  void runStep(std::vector<Step> steps, size_t index, const QString& generation,
               const CancellationRef& task);
  void verify(std::optional<Step> failing, const QString& message, const QString& generation,
              const CancellationRef& task);
  void finishSetup(std::optional<Step> failing, const QString& message);
  // Bounds the wait for the answer of what `task` does now; a later call replaces the bound.
  void awaitAnswer(const CancellationRef& task);
  void stopAwaiting();
  // `task` went unanswered: it is given up and its step recorded as failed.
  void noAnswer(const CancellationRef& task);
  void open(bool activate);
  void switchKeyboard();
  void observeInputSources(bool on);
  void applySnapshot(const InputSourceSnapshot& snapshot);
  // What the steps' conditions read: the last known state, and the desktop's; the page's state
  // starts from it.
  guide::State stepState() const;
  // Whether the step holds in this session.
  bool conditionMet(Step step) const;
  bool allStepsMet() const;
  // Whether a run takes the step: without a daemon only what it will read later is written.
  bool stepLeft(Step step, bool force) const;
  // True once after a probe first found the session's daemon, while a step does not hold.
  bool takeDaemonStart();
  // Whether the settings the native panel and the page offer can work in this session.
  bool keyboardSettingsWork() const;
  void openWindowOf(const std::function<void()>& open);

  // A web view with what it uses, as made together and ended together.
  struct WebView {
    QPointer<QWebEngineView> view;  // owned by the window while shown
    QWebEnginePage* page;           // a GuidePage; deleted before its profile
    QWebChannel* channel;
    QWebEngineProfile* profile;
  };

  std::unique_ptr<QWidget> window_;
  QWebEngineProfile* profile_ = nullptr;       // owned by this object; deleted after the page
  QWebEnginePage* page_ = nullptr;             // a GuidePage, owned by this object
  QWebEngineView* webView_ = nullptr;          // owned by guideHolder_
  QWebChannel* channel_ = nullptr;             // owned by this object
  SetupMessageHandler* handler_ = nullptr;     // owned by channel_
  GuideRequestGuard* requestGuard_ = nullptr;  // owned by this object
  std::vector<WebView> released_;              // taken out of the window, not yet ended
  QStackedLayout* stack_ = nullptr;            // owned by window_
  QWidget* guideHolder_ = nullptr;             // owned by window_; holds the web view
  QWidget* fallback_ = nullptr;                // owned by window_
  QLabel* fallbackTitle_ = nullptr;            // owned by window_
  QLabel* fallbackStatus_ = nullptr;           // owned by window_
  std::vector<QPushButton*> fallbackButtons_;  // owned by window_: retry, settings, reload
  std::unique_ptr<InputSourceWatch> inputSourceWatch_;  // present while watching
  std::unique_ptr<InputSourceWatch> motionWatch_;

  CancellationRef setupTask_;
  CancellationRef refreshTask_;
  bool refreshQueued_ = false;
  int stateEpoch_ = 0;
  platform::Clock::TimerId loadingTask_ = 0;
  int watchdogGeneration_ = 0;  // retires a watchdog that fired but has not reached the window
  QString session_;
  Stage stage_ = Stage::setup;
  int tourStep_ = 0;
  QString language_ = QStringLiteral("en");
  bool languageChosenInGuide_ = false;
  InputSourceRegistration::State status_ = InputSourceRegistration::State::notRegistered;
  bool selected_ = false;
  bool menuVisible_ = false;
  bool ibusRunning_ = true;
  bool daemonStarted_ = false;  // a probe found the daemon that an earlier one did not
  bool checked_ = false;        // a probe of this load has answered
  bool panelRuns_ = true;
  bool selectedByPerson_ = false;
  bool statusArea_ = true;
  // Offered by the program, not opened by the person: its runs leave the keyboard alone.
  bool offered_ = false;
  platform::Clock::TimerId answerTimer_ = 0;
  int answerBound_ = 0;  // retires a bound that fired but has not reached the window
  std::optional<Step> running_;
  std::optional<Step> failed_;
  QString failure_;
  bool pageReady_ = false;
  std::optional<QUrl> pageURL_;

  platform::NotificationCenter::Token settingsObserver_ = 0;
  platform::NotificationCenter::Token powerObserver_ = 0;
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_ONBOARDING_ONBOARDINGWINDOWCONTROLLER_H_
