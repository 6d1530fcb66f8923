// The window, the web view that hosts the guide page, the native panel that takes its place, and
// loading, navigation and closing. The page's messages are in ...Protocol.cpp, the setup run in
// ...Setup.cpp.
#include "setup/onboarding/OnboardingWindowController.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <malloc.h>

#include <chrono>

#include "platform/Bundle.h"
#include "platform/Desktop.h"
#include "platform/PowerState.h"
#include "platform/Queues.h"
#include "settings/AppSettings.h"
#include "settings/Dialogs.h"
#include "settings/UIStrings.h"
#include "setup/onboarding/InputSourceWatch.h"

namespace tolvani {

namespace {

std::function<void(int, const QString&)>& consoleObserver() {
  static std::function<void(int, const QString&)> observer;
  return observer;
}

std::function<void()>& closedObserver() {
  static std::function<void()> observer;
  return observer;
}

// Chromium's code for a load given up because another replaced it or the page refused it.
constexpr int kLoadAborted = -3;

QString newSession() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

}  // namespace

// Lets the page read files of the guide's folder and nothing else: no other file, no network.
class GuideRequestGuard : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void setFolder(const QString& folder) { folder_ = folder; }

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QUrl url = info.requestUrl();
    bool allowed = url.toString() == QLatin1String("about:blank");
    if (url.isLocalFile() && !folder_.isEmpty())
      allowed = QDir::cleanPath(url.toLocalFile()).startsWith(folder_ + QLatin1Char('/'));
    if (!allowed) info.block(true);
  }

 private:
  QString folder_;
};

class GuidePage : public QWebEnginePage {
 public:
  GuidePage(QWebEngineProfile* profile, OnboardingWindowController* owner)
      : QWebEnginePage(profile), owner_(owner) {}
  // A page on its way out refuses every navigation.
  void detach() { owner_ = nullptr; }

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    // Only load() makes a typed navigation: a reload, a step in the history or a script's
    // navigation is never the program's.
    return owner_ && owner_->allowNavigation(url, type == NavigationTypeTyped, isMainFrame);
  }
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                int line, const QString& source) override {
    if (consoleObserver())
      consoleObserver()(static_cast<int>(level),
                        QStringLiteral("%1 (%2:%3)").arg(message, source).arg(line));
  }

 private:
  QPointer<OnboardingWindowController> owner_;
};

// The object the page posts its messages to, named "setup" on the page's channel.
class SetupMessageHandler : public QObject {
  Q_OBJECT

 public:
  explicit SetupMessageHandler(OnboardingWindowController* owner) : owner_(owner) {}
  // A page on its way out may still post; nobody hears it.
  void detach() { owner_ = nullptr; }

  Q_INVOKABLE void postMessage(const QString& json) {
    if (owner_) owner_->receive(json);
  }

 private:
  QPointer<OnboardingWindowController> owner_;
};

// GNOME Shell 43 on X11 (seen with software GL) can miss the damage of a frame that closely follows
// another, such as the guide's last state after its spinner's frames, and show the older frame
// until the window draws again. So once the window has been still for a moment, it presents its
// last frame once more, on its own.
class GuideWindow : public QWidget {
 public:
  explicit GuideWindow(OnboardingWindowController* owner) : owner_(owner) {
    still_.setSingleShot(true);
    still_.setInterval(kStillBeforePresenting);
    QObject::connect(&still_, &QTimer::timeout, this, [this] {
      if (!isVisible() || isMinimized()) return;
      presenting_ = true;
      repaint();
      presenting_ = false;
    });
  }

 protected:
  bool event(QEvent* event) override {
    // Every frame of the window, the page's included, passes here before it is drawn.
    if (event->type() == QEvent::UpdateRequest && !presenting_) still_.start();
    return QWidget::event(event);
  }
  void closeEvent(QCloseEvent* event) override {
    event->accept();
    if (owner_) owner_->windowWillClose();
  }
  void changeEvent(QEvent* event) override {
    QWidget::changeEvent(event);
    if (!owner_) return;
    if (event->type() == QEvent::WindowStateChange) owner_->windowStateChanged();
    if (event->type() == QEvent::PaletteChange) owner_->updateColors();
  }

 private:
  static constexpr std::chrono::milliseconds kStillBeforePresenting{300};
  QPointer<OnboardingWindowController> owner_;
  QTimer still_;
  bool presenting_ = false;
};

void OnboardingWindowController::testSetConsoleObserver(
    std::function<void(int level, const QString& message)> f) {
  consoleObserver() = std::move(f);
}

OnboardingWindowController::OnboardingWindowController()
    : window_(std::make_unique<GuideWindow>(this)), session_(newSession()) {
  window_->resize(960, 700);
  window_->setMinimumSize(820, 660);
  window_->setAutoFillBackground(true);
  centerOnScreen(window_.get());
  configureWebView();
  applyLanguage();
  updateColors();

  // Desktop events that matter only while the window is up.
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] {
    if (windowShownOrMinimized()) refreshStatus();
  });
  motionWatch_ = InputSourceWatch::forMotionSetting([self = QPointer(this)] {
    if (self && self->windowShownOrMinimized()) self->render(false);
  });
  // Made here, on the main thread, the power state posts its changes there.
  platform::powerState();
  powerObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      platform::powerStateDidChangeNotification(),
      [self = QPointer(this)](const platform::Notification&) {
        if (self && self->windowShownOrMinimized()) self->render(false);
      });
  settingsObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      AppSettings::didChangeNotification(), [self = QPointer(this)](const platform::Notification&) {
        // Posted on any thread; the window is touched on the main thread only.
        platform::mainQueue().async([self] {
          if (!self || !self->windowShownOrMinimized()) return;
          self->applyLanguage();
          self->render(false);
        });
      });
}

OnboardingWindowController::~OnboardingWindowController() {
  platform::NotificationCenter::defaultCenter().removeObserver(settingsObserver_);
  platform::NotificationCenter::defaultCenter().removeObserver(powerObserver_);
  cancelWatchdog();
  stopAwaiting();
  inputSourceWatch_.reset();
  motionWatch_.reset();
  if (setupTask_) setupTask_->cancel();
  if (refreshTask_) refreshTask_->cancel();
  // The page answers its pending scripts and may report its load as it goes, after the window:
  // nothing of it must reach the widgets gone with the window.
  pageReady_ = false;
  releaseWebView();
  endReleasedWebViews();
  window_.reset();
}

void OnboardingWindowController::makeWebView() {
  if (page_) return;
  // No storage name: an off-the-record profile, which writes nothing to the user's folders.
  profile_ = new QWebEngineProfile();
  profile_->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  profile_->setSpellCheckEnabled(false);
  profile_->setUrlRequestInterceptor(requestGuard_);

  page_ = new GuidePage(profile_, this);
  QWebEngineSettings* settings = page_->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);

  // The channel's client script, given to the page's own world before the page's scripts run, so
  // the page needs no file outside its folder.
  QFile clientScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  if (clientScript.open(QIODevice::ReadOnly)) {
    QWebEngineScript script;
    script.setName(QStringLiteral("qwebchannel"));
    script.setSourceCode(QString::fromUtf8(clientScript.readAll()));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    page_->scripts().insert(script);
  }
  channel_ = new QWebChannel();
  handler_ = new SetupMessageHandler(this);
  handler_->setParent(channel_);
  channel_->registerObject(QStringLiteral("setup"), handler_);
  page_->setWebChannel(channel_, QWebEngineScript::MainWorld);

  connect(page_, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
      loadFinished(true, info.errorCode(), info.errorString());
  });
  connect(page_, &QWebEnginePage::renderProcessTerminated, this,
          [this] { renderProcessTerminated(); });

  webView_ = new QWebEngineView(guideHolder_);
  webView_->setObjectName(QStringLiteral("guideView"));
  webView_->setPage(page_);
  // The guide is an application window, not a browser: no Back, Reload or View Source.
  webView_->setContextMenuPolicy(Qt::NoContextMenu);
  guideHolder_->layout()->addWidget(webView_);
  updateColors();
}

void OnboardingWindowController::configureWebView() {
  requestGuard_ = new GuideRequestGuard(this);
  guideHolder_ = new QWidget(window_.get());
  guideHolder_->setObjectName(QStringLiteral("guide"));
  auto* holderLayout = new QVBoxLayout(guideHolder_);
  holderLayout->setContentsMargins(0, 0, 0, 0);
  makeWebView();

  fallback_ = new QWidget(window_.get());
  fallback_->setObjectName(QStringLiteral("fallback"));
  auto* column = new QVBoxLayout(fallback_);
  column->setContentsMargins(40, 50, 40, 40);
  column->setSpacing(16);
  fallbackTitle_ = new QLabel(fallback_);
  fallbackTitle_->setObjectName(QStringLiteral("fallbackTitle"));
  QFont titleFont = fallbackTitle_->font();
  titleFont.setPointSizeF(26);
  titleFont.setWeight(QFont::DemiBold);
  fallbackTitle_->setFont(titleFont);
  column->addWidget(fallbackTitle_, 0, Qt::AlignLeft);
  fallbackStatus_ = new QLabel(fallback_);
  fallbackStatus_->setObjectName(QStringLiteral("fallbackStatus"));
  fallbackStatus_->setTextFormat(Qt::PlainText);
  fallbackStatus_->setWordWrap(true);
  fallbackStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont statusFont = fallbackStatus_->font();
  statusFont.setPointSizeF(14);
  fallbackStatus_->setFont(statusFont);
  column->addWidget(fallbackStatus_);
  const std::pair<const char*, void (OnboardingWindowController::*)()> buttons[] = {
      {"retryButton", &OnboardingWindowController::retrySetup},
      {"settingsButton", &OnboardingWindowController::openKeyboardSettings},
      {"reloadButton", &OnboardingWindowController::loadGuide}};
  for (const auto& [name, action] : buttons) {
    auto* button = new QPushButton(fallback_);
    button->setObjectName(QLatin1String(name));
    connect(button, &QPushButton::clicked, this, action);
    column->addWidget(button, 0, Qt::AlignLeft);
    fallbackButtons_.push_back(button);
  }
  column->addStretch(1);

  stack_ = new QStackedLayout(window_.get());
  stack_->addWidget(guideHolder_);
  stack_->addWidget(fallback_);
  stack_->setCurrentWidget(guideHolder_);
}

void OnboardingWindowController::releaseWebView() {
  if (!page_) return;
  page_->disconnect(this);
  static_cast<GuidePage*>(page_)->detach();
  handler_->detach();
  page_->triggerAction(QWebEnginePage::Stop);
  webView_->hide();
  released_.push_back({webView_, page_, channel_, profile_});
  webView_ = nullptr;
  page_ = nullptr;
  channel_ = nullptr;
  handler_ = nullptr;
  profile_ = nullptr;
  QTimer::singleShot(0, this, &OnboardingWindowController::endReleasedWebViews);
}

void OnboardingWindowController::endReleasedWebViews() {
  std::vector<WebView> ending;
  ending.swap(released_);
  for (WebView& web : ending) {
    delete web.view.data();
    // With the last page of a profile go its helper processes.
    delete web.page;
    delete web.channel;
    delete web.profile;
  }
  // The engine's pages leave much of the heap free; give it back to the system.
  if (!ending.empty()) ::malloc_trim(0);
}

void OnboardingWindowController::applyLanguage() {
  if (!languageChosenInGuide_)
    language_ = AppSettings::isBanglaUI() ? QStringLiteral("bn") : QStringLiteral("en");
  window_->setWindowTitle(UIStrings::setupTitle());
  fallbackTitle_->setText(UIStrings::setupTitle());
  const QString titles[] = {UIStrings::setupRetry(), UIStrings::setupOpenSettings(),
                            UIStrings::setupReloadGuide()};
  for (size_t i = 0; i < fallbackButtons_.size() && i < std::size(titles); ++i)
    fallbackButtons_[i]->setText(titles[i]);
}

// The guide's background: warm paper in a light palette, near-black green in a dark one.
QColor OnboardingWindowController::guideBackground() const {
  const bool dark = window_->palette().color(QPalette::WindowText).lightness() >
                    window_->palette().color(QPalette::Window).lightness();
  return dark ? QColor::fromRgbF(0.102f, 0.114f, 0.106f) : QColor::fromRgbF(0.984f, 0.973f, 0.945f);
}

void OnboardingWindowController::updateColors() {
  const QColor background = guideBackground();
  QPalette palette = window_->palette();
  if (palette.color(QPalette::Window) != background) {
    palette.setColor(QPalette::Window, background);
    window_->setPalette(palette);
  }
  if (!page_) return;
  page_->setBackgroundColor(background);
  const bool dark = background.lightness() < 128;
  const QString theme = dark ? QStringLiteral("dark") : QStringLiteral("light");
  // The page reads the theme when it starts and when told; the snapshot does not carry it.
  QWebEngineScript script;
  script.setName(QStringLiteral("theme"));
  script.setSourceCode(QStringLiteral("window.tolvaniTheme = '%1';").arg(theme));
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(false);
  for (const QWebEngineScript& old : page_->scripts().find(QStringLiteral("theme")))
    page_->scripts().remove(old);
  page_->scripts().insert(script);
  if (pageReady_)
    page_->runJavaScript(
        QStringLiteral("window.tolvaniTheme = '%1'; if (window.setup && window.setup.applyTheme) "
                       "window.setup.applyTheme();")
            .arg(theme),
        QWebEngineScript::MainWorld);
}

void OnboardingWindowController::loadGuide() {
  if (setupTask_) setupTask_->cancel();
  if (refreshTask_) refreshTask_->cancel();
  setupTask_.reset();
  refreshTask_.reset();
  refreshQueued_ = false;
  session_ = newSession();
  stage_ = Stage::setup;
  tourStep_ = 0;
  running_.reset();
  failed_.reset();
  failure_.clear();
  status_ = InputSourceRegistration::State::notRegistered;
  selected_ = false;
  ibusRunning_ = true;
  daemonStarted_ = false;
  checked_ = false;
  panelRuns_ = true;
  selectedByPerson_ = false;
  stopAwaiting();
  pageReady_ = false;
  languageChosenInGuide_ = false;
  applyLanguage();
  observeInputSources(true);
  stack_->setCurrentWidget(guideHolder_);
  runSetup(false);

  const QString resources = platform::bundle::resourcesDir();
  const QString folder = QDir::cleanPath(resources + QStringLiteral("/Setup"));
  const QString file = folder + QStringLiteral("/index.html");
  if (resources.isEmpty() || !QFileInfo(file).isFile()) {
    // A watchdog of an earlier load would otherwise overwrite this text.
    cancelWatchdog();
    showFallback(UIStrings::setupGuideMissing() + QLatin1Char('\n') +
                 UIStrings::setupSettingsPath());
    return;
  }
  makeWebView();
  pageURL_ = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
  requestGuard_->setFolder(QFileInfo(folder).absoluteFilePath());
  page_->load(*pageURL_);

  cancelWatchdog();
  const int generation = ++watchdogGeneration_;
  loadingTask_ = platform::clock().schedule(kGuideLoadLimit, [self = QPointer(this), generation] {
    platform::mainQueue().async([self, generation] {
      if (!self || self->watchdogGeneration_ != generation) return;
      self->loadingTask_ = 0;
      if (!self->pageReady_) self->showFallback(UIStrings::setupGuideNotLoaded());
    });
  });
}

void OnboardingWindowController::cancelWatchdog() {
  if (loadingTask_ != 0) platform::clock().cancel(loadingTask_);
  loadingTask_ = 0;
  ++watchdogGeneration_;
}

void OnboardingWindowController::showFallback(const QString& message) {
  pageReady_ = false;
  // The load this replaces is over, so its watchdog has nothing left to report.
  cancelWatchdog();
  if (page_) page_->triggerAction(QWebEnginePage::Stop);
  stack_->setCurrentWidget(fallback_);
  fallbackStatus_->setText(message);
}

bool OnboardingWindowController::allowNavigation(const QUrl& url, bool byProgram,
                                                 bool isMainFrame) const {
  // A guide loaded again behind the program's back would say "ready" to no avail and, with no
  // session, stay dead: only loadGuide() and closing load a page.
  if (!isMainFrame || !byProgram) return false;
  if (pageURL_) return url.adjusted(QUrl::NormalizePathSegments) == *pageURL_;
  return url.toString() == QLatin1String("about:blank");
}

void OnboardingWindowController::loadFinished(bool failed, int errorCode,
                                              const QString& errorText) {
  if (!failed || errorCode == kLoadAborted) return;
  showFallback(errorText);
}

void OnboardingWindowController::renderProcessTerminated() {
  showFallback(UIStrings::setupGuideStopped());
}

bool OnboardingWindowController::windowShownOrMinimized() const {
  return window_->isVisible() || window_->isMinimized();
}

void OnboardingWindowController::windowStateChanged() {
  if (windowShownOrMinimized()) refreshStatus();
}

void OnboardingWindowController::windowWillClose() {
  if (!AppSettings::onboardingCompleted()) AppSettings::setOnboardingDeferred(true);
  observeInputSources(false);
  session_ = newSession();
  if (setupTask_) setupTask_->cancel();
  if (refreshTask_) refreshTask_->cancel();
  setupTask_.reset();
  refreshTask_.reset();
  refreshQueued_ = false;
  stopAwaiting();
  running_.reset();
  failed_.reset();
  failure_.clear();
  cancelWatchdog();
  pageReady_ = false;
  pageURL_.reset();
  requestGuard_->setFolder(QString());
  // The web engine's helper processes stay as long as a page does.
  releaseWebView();
  if (closedObserver()) closedObserver()();
}

void OnboardingWindowController::setClosedObserver(std::function<void()> closed) {
  closedObserver() = std::move(closed);
}

void OnboardingWindowController::show() { ensureExisting()->open(true); }

void OnboardingWindowController::offer() {
  OnboardingWindowController* controller = ensureExisting();
  // An open window stays where the person put it.
  if (controller->windowShownOrMinimized()) return controller->refreshStatus();
  controller->open(false);
}

bool OnboardingWindowController::offerMinimized(const QString& platform, bool gnome) {
  return platform.startsWith(QLatin1String("wayland")) && !gnome;
}

void OnboardingWindowController::open(bool activate) {
  if (windowShownOrMinimized()) {
    stage_ = Stage::setup;
    // Opened by the person, it is theirs.
    if (activate) offered_ = false;
    refreshStatus();
  } else {
    offered_ = !activate;
    loadGuide();
  }
  QWidget* window = window_.get();
  if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  // Mapped so, the window asks window managers for no focus (Qt sets its _NET_WM_USER_TIME to 0)
  // and takes none where there is no window manager.
  window->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
  if (activate)
    openWindow(window);
  else if (offerMinimized(QGuiApplication::platformName(), platform::desktop::isGnome()))
    window->showMinimized();
  else
    window->show();
  render(false);
}

}  // namespace tolvani

#include "OnboardingWindowController.moc"
