// The guide page in the real web view: it comes up, draws every state the program sends without
// a script error, speaks only the protocol (every message with the session), and each of its
// buttons reaches its action; stale, oversized and foreign messages and navigations are refused;
// a missing, hung, throwing or killed page gives way to the native panel.
#include <signal.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "help/KeyboardHelpController.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PowerState.h"
#include "settings/AppSettings.h"
#include "settings/TextShortcuts.h"
#include "settings/UIStrings.h"
#include "setup/onboarding/tests/OnboardingTestSupport.h"

namespace tolvani {
namespace {

using State = InputSourceRegistration::State;
using testing::settle;
using testing::settleUntil;

const InputSourceSnapshot kNotRegistered{State::notRegistered, false};
const InputSourceSnapshot kEnabled{State::enabled, false};
const InputSourceSnapshot kSelected{State::enabled, true};

class FakePowerState : public platform::PowerState {
 public:
  bool lowPowerModeEnabled() const override { return on; }
  void set(bool value) {
    on = value;
    platform::NotificationCenter::defaultCenter().post(platform::powerStateDidChangeNotification());
  }
  bool on = false;
};

// Sets XDG_CURRENT_DESKTOP for the life of the object (never unset: see kChangedVariables).
class DesktopPin {
 public:
  explicit DesktopPin(const char* desktop) : saved_(qgetenv("XDG_CURRENT_DESKTOP")) {
    qputenv("XDG_CURRENT_DESKTOP", desktop);
  }
  ~DesktopPin() { qputenv("XDG_CURRENT_DESKTOP", saved_); }
  DesktopPin(const DesktopPin&) = delete;
  DesktopPin& operator=(const DesktopPin&) = delete;

 private:
  QByteArray saved_;
};

class OnboardingGuideTest : public testing::ControllerTest {
 protected:
  void SetUp() override {
    platform::testSetPowerState(&power_);
    OnboardingWindowController::testSetConsoleObserver([this](int level, const QString& message) {
      if (level >= QWebEnginePage::ErrorMessageLevel) errors_ << message;
    });
    OnboardingWindowController::setPreferencesOpener([this] { opened_ << "preferences"; });
    OnboardingWindowController::setShortcutEditorOpener([this] { opened_ << "shortcut"; });
    AppSettings::setBanglaDigitsEnabled(true);
    makeController();
  }
  void TearDown() override {
    ControllerTest::TearDown();
    OnboardingWindowController::testSetConsoleObserver(nullptr);
    OnboardingWindowController::setPreferencesOpener(nullptr);
    OnboardingWindowController::setShortcutEditorOpener(nullptr);
    platform::testSetPowerState(nullptr);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join('\n');
  }

  void open() {
    controller_->loadGuide();
    controller_->window()->show();
  }
  bool openAndWaitReady() {
    open();
    return settleUntil([&] { return controller_->pageReady(); });
  }
  // A first run's steps answered: Tolvani added, the menu shown, the switch and the last check
  // answered with `switched`.
  bool answerFirstRun(const InputSourceSnapshot& switched) {
    desktop_.menuVisible = false;
    if (!desktop_.answer("probe", kNotRegistered) || !desktop_.answer("activate")) return false;
    desktop_.menuVisible = true;
    return desktop_.answer("showInputMenu") && desktop_.answer("select", switched) &&
           desktop_.answer("probe", switched);
  }
  QString state() const { return controller_->describe(); }
  QString fallbackStatus() const {
    return controller_->window()->findChild<QLabel*>("fallbackStatus")->text();
  }

  // Runs `script` in the page and waits for its value.
  QVariant js(const QString& script) {
    std::optional<QVariant> result;
    controller_->webView()->page()->runJavaScript(script, QWebEngineScript::MainWorld,
                                                  [&](const QVariant& v) { result = v; });
    settleUntil([&] { return result.has_value(); }, 10000);
    return result.value_or(QVariant());
  }
  QString jsText(const QString& script) { return js(script).toString(); }
  // What the page last drew, from its own elements.
  QString drawn() {
    return jsText(
        "(() => { const rows = ['add','show','select'].map(s => s + '=' + "
        "document.querySelector('.row[data-step=\"' + s + '\"]').dataset.state).join(' ');"
        "const tour = !document.getElementById('tour-stage').hidden;"
        "const chapter = [...document.querySelectorAll('.chapter')].findIndex(c => !c.hidden);"
        "return document.documentElement.lang + ' ' + (tour ? 'tour' + chapter : 'setup') + ' ' + "
        "rows + ' phase=' + document.getElementById('phase').textContent + ' error=' + "
        "document.getElementById('error').textContent; })()");
  }
  // Waits until the page has drawn a snapshot for which `done` holds.
  bool waitDrawn(const std::function<bool(const QString&)>& done) {
    return settleUntil([&] { return done(drawn()); }, 10000);
  }
  void clickInPage(const QString& selector) {
    js(QStringLiteral("document.querySelector('%1').click()").arg(selector));
    settle(50);
  }
  QJsonArray posted() {
    return QJsonDocument::fromJson(jsText("JSON.stringify(window.setup.posted)").toUtf8()).array();
  }
  void screenshot(const QString& name) {
    const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
    QDir().mkpath(folder);
    settle(150);  // let the compositor paint the last frame
    const QString path = folder + "/onboarding-" + name + ".png";
    EXPECT_TRUE(controller_->window()->grab().save(path)) << path;
  }

  FakePowerState power_;
  QStringList errors_;
  QStringList opened_;
};

TEST_F(OnboardingGuideTest, GuideComesUpAndDrawsEveryStageInBothLanguages) {
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(openAndWaitReady());
  EXPECT_LT(timer.elapsed(), 10000);
  EXPECT_EQ(clock_.pendingTimers(), 1) << "ready retires the watchdog; the probe's bound waits";
  AppSettings::setTextShortcuts({{"gm", QString::fromUtf8("শুভ সকাল <b>bold</b>")}});

  for (const char* language : {"en", "bn"}) {
    SCOPED_TRACE(language);
    const QString lang = QLatin1String(language);
    if (lang == "bn") {
      clickInPage("#language");
      ASSERT_TRUE(waitDrawn([](const QString& d) { return d.startsWith("bn "); })) << drawn();
      // A new run for the second pass: back to the start.
      AppSettings::setOnboardingCompleted(false);
      controller_->retrySetup();
      settle();
      ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
    } else {
      ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
    }
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("add=working"); })) << drawn();
    screenshot(lang + "-setup-working");

    // A failure whose message looks like markup is shown as the very text.
    ASSERT_TRUE(desktop_.answer("activate"));
    ASSERT_TRUE(desktop_.fail("showInputMenu", "<img src=x onerror=alert(1)> failed"));
    ASSERT_TRUE(desktop_.answer("probe", kEnabled));
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("show=failed"); })) << drawn();
    EXPECT_TRUE(drawn().endsWith("error=<img src=x onerror=alert(1)> failed")) << drawn();
    EXPECT_EQ(jsText("String(document.querySelectorAll('img').length)"), "0");
    screenshot(lang + "-setup-failed");

    // A run that leaves Tolvani enabled but not the engine says what is left.
    controller_->retrySetup();
    settle();
    desktop_.menuVisible = true;
    ASSERT_TRUE(desktop_.answer("probe", kEnabled) && desktop_.answer("activate") &&
                desktop_.answer("showInputMenu") && desktop_.answer("select", kEnabled) &&
                desktop_.answer("probe", kEnabled));
    ASSERT_TRUE(waitDrawn([&](const QString& d) {
      return d.contains(
          "show=done select=pending phase=" +
          QString::fromUtf8(lang == "en" ? "Some steps are not done yet." : "কিছু ধাপ এখনো বাকি।"));
    })) << drawn();
    screenshot(lang + "-setup-left");

    // Once setup is complete, another keyboard is no step left: the page says how to come back.
    AppSettings::setOnboardingCompleted(true);
    controller_->refreshStatus();
    ASSERT_TRUE(desktop_.answer("probe", kEnabled));
    ASSERT_TRUE(waitDrawn([&](const QString& d) {
      return d.contains("add=done show=done select=done phase=" +
                        QString::fromUtf8(lang == "en" ? "Tolvani is set up, and you are typing"
                                                       : "তোলভানি চালু হয়ে গেছে, এখন আপনি"));
    })) << drawn();
    EXPECT_TRUE(drawn().contains("Super+Space")) << drawn();
    screenshot(lang + "-setup-away");
    AppSettings::setOnboardingCompleted(false);

    controller_->retrySetup();
    settle();
    desktop_.menuVisible = true;
    ASSERT_TRUE(desktop_.answerRun(kEnabled));
    ASSERT_TRUE(waitDrawn([](const QString& d) {
      return d.contains("add=done show=done select=done");
    })) << drawn();
    screenshot(lang + "-setup-done");

    clickInPage("button[data-action=tour]");
    for (int chapter = 0; chapter < 5; ++chapter) {
      const QString tour = QStringLiteral(" tour%1 ").arg(chapter);
      ASSERT_TRUE(waitDrawn([&](const QString& d) { return d.contains(tour); })) << drawn();
      screenshot(QStringLiteral("%1-tour-%2").arg(lang).arg(chapter));
      if (chapter == 3) {
        EXPECT_EQ(jsText("document.getElementById('shortcut').textContent"),
                  QString::fromUtf8("শুভ সকাল <b>bold</b>"));
      }
      if (chapter < 4) clickInPage("button[data-action=tourNext]");
    }
    clickInPage("button[data-action=tourSetup]");
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains(" setup "); })) << drawn();
  }

  // Under a dark palette the guide takes the dark background.
  QPalette dark = controller_->window()->palette();
  dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
  controller_->window()->setPalette(dark);
  settle(100);
  EXPECT_EQ(jsText("getComputedStyle(document.body).backgroundColor"), "rgb(26, 29, 27)");
  screenshot("bn-setup-done-dark");

  // Every message the page sent after "ready" carried the session it was given.
  const QJsonArray messages = posted();
  ASSERT_GT(messages.size(), 5);
  EXPECT_EQ(messages.first().toObject(), (QJsonObject{{"action", "ready"}}));
  for (const QJsonValue& message : messages) {
    if (message["action"] == "ready") continue;
    EXPECT_EQ(message["session"].toString(), controller_->session())
        << QJsonDocument(message.toObject()).toJson().toStdString();
  }
}

TEST_F(OnboardingGuideTest, EachButtonReachesItsActionAndTypingStaysInTheField) {
  ASSERT_TRUE(openAndWaitReady());
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=done"); }));

  // The page names only actions of the protocol.
  EXPECT_EQ(jsText("[...new Set([...document.querySelectorAll('button[data-action]')]"
                   ".map(b => b.dataset.action))].sort().join(' ')"),
            "close done help language preferences retry select settings shortcut tour "
            "tourBack tourChapter tourNext tourSetup");

  // "settings" with neither GNOME's nor IBus's tool: the written path, as text.
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", "/nonexistent");
  clickInPage("button[data-action=settings]");
  qputenv("PATH", path);
  ASSERT_TRUE(waitDrawn([](const QString& d) {
    return d.contains(UIStrings::setupSettingsPath());
  })) << drawn();

  clickInPage("button[data-action=retry]");
  EXPECT_TRUE(state().contains("busy=1")) << state();
  EXPECT_EQ(desktop_.waiting().join(' '), "probe");
  ASSERT_TRUE(desktop_.answerRun(kSelected));

  clickInPage("button[data-action=tour]");
  EXPECT_TRUE(state().startsWith("stage=tour tour=0")) << state();
  clickInPage("button[data-action=tourChapter][data-chapter=\"3\"]");
  EXPECT_TRUE(state().startsWith("stage=tour tour=3")) << state();
  clickInPage("button[data-action=shortcut]");
  clickInPage("button[data-action=tourBack]");
  clickInPage("button[data-action=help]");
  EXPECT_TRUE(KeyboardHelpController::shared().window()->isVisible());
  KeyboardHelpController::shared().window()->close();
  clickInPage("button[data-action=tourChapter][data-chapter=\"4\"]");
  clickInPage("button[data-action=preferences]");
  EXPECT_EQ(opened_.join(' '), "shortcut preferences");
  clickInPage("button[data-action=tourChapter][data-chapter=\"0\"]");

  // Switching from the tour asks the page to focus its typing field; what the user types lands
  // there and nowhere else.
  clickInPage("button[data-action=select]");
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(settleUntil([&] { return jsText("document.activeElement.id") == "typing"; }, 10000));
  QWidget* input = controller_->webView()->focusProxy();
  ASSERT_NE(input, nullptr);
  const QString typed = QString::fromUtf8("আমি <i>x</i>");
  for (const QChar c : typed)
    QTest::sendKeyEvent(QTest::Click, input, Qt::Key_unknown, QString(c), Qt::NoModifier);
  ASSERT_TRUE(settleUntil(
      [&] { return jsText("document.getElementById('typing').value") == typed; }, 10000))
      << jsText("document.getElementById('typing').value");
  EXPECT_EQ(jsText("String(document.body.innerText.includes('আমি <i>'))"), "false");
  EXPECT_EQ(jsText("String(document.querySelectorAll('i').length)"), "0");

  // A real mouse click on the language switch, where the page draws it.
  const QStringList box =
      jsText(
          "(() => { const r = document.getElementById('language').getBoundingClientRect();"
          "return [r.left + r.width / 2, r.top + r.height / 2].map(Math.round).join(' '); })()")
          .split(' ');
  ASSERT_EQ(box.size(), 2);
  QTest::mouseClick(input, Qt::LeftButton, Qt::NoModifier, QPoint(box[0].toInt(), box[1].toInt()));
  ASSERT_TRUE(settleUntil([&] { return state().contains("lang=bn(chosen)"); }, 10000)) << state();
  // A settings change does not undo a language chosen in the guide.
  AppSettings::postDidChange();
  settle(50);
  EXPECT_TRUE(state().contains("lang=bn(chosen)")) << state();

  clickInPage("button[data-action=tourSetup]");
  clickInPage("button[data-action=done]");
  EXPECT_FALSE(controller_->window()->isVisible());
  EXPECT_FALSE(AppSettings::onboardingDeferred()) << "closed after completion";
}

// Every button of the page under its own text in each language, each doing its action: the
// setup stage's, the tour's, "Finish" and the footer's "Close" (which defers onboarding when it
// is not complete).
TEST_F(OnboardingGuideTest, EveryButtonUnderItsTextInBothLanguages) {
  struct Case {
    const char* desktop;
    int uiLanguage;
    const char* labels;
  };
  // Outside GNOME the settings button names the window it opens, IBus Preferences (on Xfce it
  // read "Open Keyboard Settings").
  const Case cases[] = {
      {"GNOME", 1,
       "language=বাংলা|retry=Retry Setup|settings=Open Keyboard Settings|done=Done|tour=Take the "
       "Tour|select=Switch to Tolvani|help=Open Keyboard Help|shortcut=Edit Text Shortcuts|"
       "preferences=Open Settings|tourSetup=Setup|tourBack=Back|tourNext=Next|done=Finish|"
       "close=Close"},
      {"GNOME", 0,
       "language=English|retry=আবার চেষ্টা করুন|settings=কীবোর্ড সেটিংস খুলুন|done=শেষ|tour=ঘুরে "
       "দেখুন|select=তোলভানিতে বদলান|help=কীবোর্ড সহায়িকা খুলুন|shortcut=টেক্সট শর্টকাট "
       "সম্পাদনা|preferences=সেটিংস খুলুন|tourSetup=সেটআপ|tourBack=পেছনে|tourNext=পরের ধাপ|"
       "done=শেষ করুন|close=বন্ধ করুন"},
      {"XFCE", 1,
       "language=বাংলা|retry=Retry Setup|settings=Open IBus Preferences|done=Done|tour=Take the "
       "Tour|select=Switch to Tolvani|help=Open Keyboard Help|shortcut=Edit Text Shortcuts|"
       "preferences=Open Settings|tourSetup=Setup|tourBack=Back|tourNext=Next|done=Finish|"
       "close=Close"},
      {"XFCE", 0,
       "language=English|retry=আবার চেষ্টা করুন|settings=IBus Preferences খুলুন|done=শেষ|tour=ঘুরে "
       "দেখুন|select=তোলভানিতে বদলান|help=কীবোর্ড সহায়িকা খুলুন|shortcut=টেক্সট শর্টকাট "
       "সম্পাদনা|preferences=সেটিংস খুলুন|tourSetup=সেটআপ|tourBack=পেছনে|tourNext=পরের ধাপ|"
       "done=শেষ করুন|close=বন্ধ করুন"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.desktop) + " " + std::to_string(c.uiLanguage));
    const DesktopPin desktop(c.desktop);
    AppSettings::setUiLanguage(c.uiLanguage);
    AppSettings::setOnboardingCompleted(false);
    AppSettings::setOnboardingDeferred(false);
    opened_.clear();
    controller_ = std::make_unique<OnboardingWindowController>();
    ASSERT_TRUE(openAndWaitReady());
    desktop_.menuVisible = true;
    ASSERT_TRUE(desktop_.answer("probe", kSelected));
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=done"); })) << drawn();
    EXPECT_EQ(jsText("[...document.querySelectorAll('button[data-action]')]"
                     ".filter(b => b.dataset.action !== 'tourChapter')"
                     ".map(b => b.dataset.action + '=' + b.textContent).join('|')"),
              QString::fromUtf8(c.labels));
    // The language switch turns the page to the other language and back.
    const QString first = c.uiLanguage == 0 ? "bn " : "en ";
    const QString other = c.uiLanguage == 0 ? "en " : "bn ";
    clickInPage("#language");
    ASSERT_TRUE(waitDrawn([&](const QString& d) { return d.startsWith(other); })) << drawn();
    clickInPage("#language");
    ASSERT_TRUE(waitDrawn([&](const QString& d) { return d.startsWith(first); })) << drawn();

    // "Done" while a run is busy leaves the window open.
    clickInPage("button[data-action=retry]");
    EXPECT_TRUE(state().contains("busy=1")) << state();
    clickInPage("#setup-stage button[data-action=done]");
    EXPECT_TRUE(controller_->window()->isVisible());
    ASSERT_TRUE(desktop_.answerRun(kSelected));
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("phase="); })) << drawn();

    clickInPage("button[data-action=tour]");
    EXPECT_TRUE(state().startsWith("stage=tour tour=0")) << state();
    for (const int chapter : {1, 2, 3, 4, 0}) {
      clickInPage(
          QStringLiteral("button[data-action=tourChapter][data-chapter=\"%1\"]").arg(chapter));
      EXPECT_TRUE(state().startsWith(QStringLiteral("stage=tour tour=%1").arg(chapter))) << state();
    }
    clickInPage("button[data-action=select]");
    ASSERT_TRUE(desktop_.answer("select", kSelected));
    ASSERT_TRUE(settleUntil([&] { return jsText("document.activeElement.id") == "typing"; }));
    clickInPage("button[data-action=tourNext]");
    EXPECT_TRUE(state().startsWith("stage=tour tour=1")) << state();
    clickInPage("button[data-action=tourNext]");
    clickInPage("button[data-action=help]");
    EXPECT_TRUE(KeyboardHelpController::shared().window()->isVisible());
    KeyboardHelpController::shared().window()->close();
    clickInPage("button[data-action=tourNext]");
    clickInPage("button[data-action=shortcut]");
    clickInPage("button[data-action=tourBack]");
    EXPECT_TRUE(state().startsWith("stage=tour tour=2")) << state();
    clickInPage("button[data-action=tourChapter][data-chapter=\"4\"]");
    clickInPage("button[data-action=preferences]");
    EXPECT_EQ(opened_.join(' '), "shortcut preferences");
    clickInPage("button[data-action=tourSetup]");
    EXPECT_TRUE(state().startsWith("stage=setup")) << state();
    clickInPage("button[data-action=tour]");
    clickInPage("button[data-action=tourChapter][data-chapter=\"4\"]");
    clickInPage("#tour-stage button[data-action=done]");
    EXPECT_FALSE(controller_->window()->isVisible()) << "Finish closes the window";
    EXPECT_TRUE(AppSettings::onboardingCompleted());
    EXPECT_FALSE(AppSettings::onboardingDeferred());

    // Opened again before setup is complete, the footer's "Close" closes it and defers setup.
    AppSettings::setOnboardingCompleted(false);
    ASSERT_TRUE(openAndWaitReady());
    clickInPage("footer button[data-action=close]");
    EXPECT_FALSE(controller_->window()->isVisible());
    EXPECT_TRUE(AppSettings::onboardingDeferred());
    while (desktop_.answer("probe", kSelected)) {
    }
  }
}

// On Xfce the window's texts sent people to Keyboard Settings, a window that desktop does not
// have; its native panel's button read "Open Keyboard Settings" and opened IBus Preferences.
TEST_F(OnboardingGuideTest, OutsideGnomeTheTextsNameIBusPreferencesInBothLanguages) {
  const DesktopPin xfce("XFCE");
  struct Case {
    int uiLanguage;
    const char* failed;
    const char* panel;
  };
  const Case cases[] = {
      {1, "Setup could not finish. Retry, or add Tolvani in IBus Preferences.",
       "Open IBus Preferences"},
      {0, "সেটআপ শেষ হয়নি। আবার চেষ্টা করুন, অথবা IBus Preferences-এ তোলভানি যোগ করুন।",
       "IBus Preferences খুলুন"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uiLanguage);
    AppSettings::setUiLanguage(c.uiLanguage);
    controller_ = std::make_unique<OnboardingWindowController>();
    ASSERT_TRUE(openAndWaitReady());
    ASSERT_TRUE(desktop_.fail("probe", "x"));
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("error=x"); })) << drawn();
    EXPECT_EQ(jsText("document.getElementById('phase').textContent"), QString::fromUtf8(c.failed));
    EXPECT_EQ(jsText("String(document.body.innerText.includes('Keyboard Settings') || "
                     "document.body.innerText.includes('কীবোর্ড সেটিংস'))"),
              "false");
    EXPECT_EQ(controller_->window()->findChild<QPushButton*>("settingsButton")->text(),
              QString::fromUtf8(c.panel));
    for (const QString& text : {UIStrings::setupEnableDetail(), UIStrings::setupGuideMissing(),
                                UIStrings::setupGuideStopped(), UIStrings::setupSettingsPath()}) {
      EXPECT_TRUE(text.contains("IBus Preferences")) << text;
      EXPECT_FALSE(text.contains("Keyboard Settings") ||
                   text.contains(QString::fromUtf8("কীবোর্ড সেটিংস")))
          << text;
    }
  }
}

// On GNOME the page named IBus's icon in the top bar, where GNOME shows its own keyboard menu, and
// said all set by IBus's engine while the shell showed another keyboard. It names the shell's menu
// and waits for the person's choice there; before its first check it offers nothing that needs
// the daemon; each desktop's row names where its panel shows the menu.
TEST_F(OnboardingGuideTest, EachDesktopsWordsAndGnomesChoiceInBothLanguages) {
  const auto rowShow = [&] {
    return jsText("document.querySelector('.row[data-step=show] p').textContent");
  };
  for (const int language : {1, 0}) {
    SCOPED_TRACE(language);
    AppSettings::setUiLanguage(language);
    const bool en = language == 1;
    {
      const DesktopPin gnome("ubuntu:GNOME");
      desktop_.selectedByPerson = true;
      desktop_.menuVisible = false;
      controller_ = std::make_unique<OnboardingWindowController>();
      ASSERT_TRUE(openAndWaitReady());
      ASSERT_TRUE(desktop_.answer("probe", kNotRegistered) && desktop_.answer("activate"));
      desktop_.menuVisible = true;
      ASSERT_TRUE(desktop_.answer("showInputMenu") && desktop_.answer("probe", kEnabled));
      ASSERT_TRUE(waitDrawn([](const QString& d) {
        return d.contains("add=done show=done select=pending");
      })) << drawn();
      EXPECT_TRUE(desktop_.waiting().isEmpty()) << desktop_.waiting().join(' ');
      EXPECT_EQ(jsText("document.getElementById('phase').textContent"),
                en ? "Almost done: choose Tolvani in the keyboard menu in the top bar."
                   : QString::fromUtf8("প্রায় শেষ: ওপরের বারের কীবোর্ড মেনু থেকে তোলভানি বেছে নিন।"));
      EXPECT_EQ(rowShow(), en ? "GNOME’s keyboard menu in the top bar lets you switch keyboards."
                              : QString::fromUtf8("ওপরের বারে GNOME-এর কীবোর্ড মেনু থেকে কীবোর্ড "
                                                  "বদলানো যায়।"));
      screenshot(QStringLiteral("%1-gnome-choose").arg(en ? "en" : "bn"));
      // The person's choice in the shell's menu reaches the page.
      controller_->refreshStatus();
      ASSERT_TRUE(desktop_.answer("probe", kSelected) && desktop_.answer("probe", kSelected));
      ASSERT_TRUE(waitDrawn([](const QString& d) {
        return d.contains("add=done show=done select=done phase=You’re all set") ||
               d.contains(QString::fromUtf8("select=done phase=সব তৈরি"));
      })) << drawn();
      EXPECT_TRUE(AppSettings::onboardingCompleted());
      AppSettings::setOnboardingCompleted(false);
      desktop_.selectedByPerson = false;
    }
    struct Place {
      const char* desktop;
      const char* en;
      const char* bn;
    };
    for (const Place& place :
         {Place{"KDE",
                "The IBus icon in the panel at the bottom of the screen lets you switch "
                "keyboards.",
                "পর্দার নিচের প্যানেলে IBus-এর আইকন থেকে কীবোর্ড বদলানো যায়।"},
          Place{"MATE",
                "The IBus icon in the panel at the top of the screen lets you switch "
                "keyboards.",
                "পর্দার ওপরের প্যানেলে IBus-এর আইকন থেকে কীবোর্ড বদলানো যায়।"},
          Place{"LXQt", "The IBus icon in the panel lets you switch keyboards.",
                "প্যানেলে IBus-এর আইকন থেকে কীবোর্ড বদলানো যায়।"}}) {
      SCOPED_TRACE(place.desktop);
      const DesktopPin pin(place.desktop);
      controller_ = std::make_unique<OnboardingWindowController>();
      ASSERT_TRUE(openAndWaitReady());
      // Before the first check answers, IBus Preferences are not offered.
      ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains(" setup "); })) << drawn();
      EXPECT_EQ(jsText("String(document.querySelector('#setup-stage "
                       "button[data-action=settings]').hidden)"),
                "true");
      desktop_.panelRuns = false;
      ASSERT_TRUE(desktop_.answer("probe", kSelected) && desktop_.answer("showInputMenu") &&
                  desktop_.answer("probe", kSelected));
      // No panel shows the menu: its row is not done, and the page says what is missing, where
      // it said to retry, which starts no panel.
      ASSERT_TRUE(waitDrawn([](const QString& d) {
        return d.contains("add=done show=pending select=done");
      })) << drawn();
      EXPECT_EQ(rowShow(), en ? QString::fromUtf8(place.en) : QString::fromUtf8(place.bn));
      EXPECT_EQ(jsText("document.getElementById('phase').textContent"),
                en ? QString::fromUtf8("Tolvani is added. The input menu needs IBus’s panel, which "
                                       "starts with your next login: log out and in again.")
                   : QString::fromUtf8("তোলভানি যোগ করা হয়েছে। ইনপুট মেনুর জন্য IBus-এর প্যানেল "
                                       "দরকার, যা পরের বার লগ ইন করলে চালু হবে: লগ আউট করে আবার "
                                       "লগ ইন করুন।"));
      EXPECT_EQ(jsText("String(document.querySelector('#setup-stage "
                       "button[data-action=settings]').hidden)"),
                "false");
      if (QLatin1String(place.desktop) == "KDE")
        screenshot(QStringLiteral("%1-kde-no-panel").arg(en ? "en" : "bn"));
      desktop_.panelRuns = true;
    }
  }
  // GNOME's choice under a dark palette.
  const DesktopPin gnome("GNOME");
  desktop_.selectedByPerson = true;
  controller_ = std::make_unique<OnboardingWindowController>();
  QPalette dark = controller_->window()->palette();
  dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
  controller_->window()->setPalette(dark);
  ASSERT_TRUE(openAndWaitReady());
  ASSERT_TRUE(desktop_.answer("probe", kEnabled));
  ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=pending phase="); }))
      << drawn();
  screenshot("bn-gnome-choose-dark");
}

// Sets the session's input-method variables to fcitx5's for the life of the object (never unset:
// see kChangedVariables).
class Fcitx5Pin {
 public:
  Fcitx5Pin() {
    for (const char* name : {"GTK_IM_MODULE", "QT_IM_MODULE", "XMODIFIERS"})
      saved_.push_back({name, qgetenv(name)});
    qputenv("GTK_IM_MODULE", QByteArray());
    qputenv("QT_IM_MODULE", QByteArray());
    qputenv("XMODIFIERS", "@im=fcitx");
  }
  ~Fcitx5Pin() {
    for (const auto& [name, value] : saved_) qputenv(name, value);
  }
  Fcitx5Pin(const Fcitx5Pin&) = delete;
  Fcitx5Pin& operator=(const Fcitx5Pin&) = delete;

 private:
  std::vector<std::pair<const char*, QByteArray>> saved_;
};

// Under fcitx5 the page named IBus's icon and IBus Preferences. It names fcitx5's icon, its
// configuration tool and its trigger key, in both languages, and says all is set only once every
// row is done.
TEST_F(OnboardingGuideTest, UnderFcitx5ThePageNamesItsIconItsToolAndItsKeyInBothLanguages) {
  const DesktopPin kde("KDE");
  const Fcitx5Pin fcitx5;
  const auto text = [&](const char* selector) {
    return jsText(QStringLiteral("document.querySelector('%1').textContent").arg(selector));
  };
  struct Case {
    int uiLanguage;
    const char* add;
    const char* show;
    const char* left;
    const char* done;
    const char* failed;
    const char* panel;
  };
  const Case cases[] = {
      {1, "fcitx5 learns about the keyboard and lists it after your layouts.",
       "The fcitx5 icon in the panel (on KDE Plasma, its input-method indicator) lets you switch "
       "keyboards.",
       "Some steps are not done yet.",
       "You’re all set. Press Control+Space to switch between your keyboard and Tolvani.",
       "Setup could not finish. Retry, or add Tolvani in Fcitx 5 Configuration.",
       "Open Fcitx 5 Configuration"},
      {0, "fcitx5 কীবোর্ডটি চিনে নেয় ও আপনার লেআউটগুলোর পরে তালিকায় রাখে।",
       "প্যানেলে fcitx5-এর আইকন (KDE Plasma-য় তার ইনপুট মেথড নির্দেশক) থেকে কীবোর্ড বদলানো যায়।",
       "কিছু ধাপ এখনো বাকি।", "সব তৈরি। আপনার কীবোর্ড আর তোলভানির মধ্যে বদলাতে Control+Space চাপুন।",
       "সেটআপ শেষ হয়নি। আবার চেষ্টা করুন, অথবা Fcitx 5 Configuration-এ তোলভানি যোগ করুন।",
       "Fcitx 5 Configuration খুলুন"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uiLanguage);
    const QString lang = c.uiLanguage == 1 ? QStringLiteral("en") : QStringLiteral("bn");
    AppSettings::setUiLanguage(c.uiLanguage);
    AppSettings::setOnboardingCompleted(false);
    controller_ = std::make_unique<OnboardingWindowController>();
    ASSERT_TRUE(openAndWaitReady());
    ASSERT_TRUE(desktop_.fail("probe", "x"));
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("error=x"); })) << drawn();
    EXPECT_EQ(text("#phase"), QString::fromUtf8(c.failed));
    for (const QString& line : {UIStrings::setupEnableDetail(), UIStrings::setupGuideMissing(),
                                UIStrings::setupGuideStopped(), UIStrings::setupSettingsPath()}) {
      EXPECT_TRUE(line.contains("Fcitx 5 Configuration")) << line;
      EXPECT_FALSE(line.contains("IBus")) << line;
    }

    controller_ = std::make_unique<OnboardingWindowController>();
    ASSERT_TRUE(openAndWaitReady());
    // Added and shown, not switched: a step is left, and all is not said to be set.
    ASSERT_TRUE(answerFirstRun(kEnabled));
    ASSERT_TRUE(waitDrawn([&](const QString& d) {
      return d.contains("add=done show=done select=pending phase=" + QString::fromUtf8(c.left));
    })) << drawn();
    EXPECT_EQ(text(".row[data-step=add] p"), QString::fromUtf8(c.add));
    EXPECT_EQ(text(".row[data-step=show] p"), QString::fromUtf8(c.show));
    EXPECT_EQ(controller_->window()->findChild<QPushButton*>("settingsButton")->text(),
              QString::fromUtf8(c.panel));
    EXPECT_EQ(text("#setup-stage button[data-action=settings]"), QString::fromUtf8(c.panel));
    EXPECT_EQ(jsText("String(/IBus|Super\\+Space/.test(document.body.innerText))"), "false");
    screenshot(lang + "-fcitx5-left");

    controller_->retrySetup();
    settle();
    ASSERT_TRUE(desktop_.answerRun(kEnabled));
    ASSERT_TRUE(waitDrawn([&](const QString& d) {
      return d.contains("add=done show=done select=done phase=" + QString::fromUtf8(c.done));
    })) << drawn();
    EXPECT_EQ(fallbackStatus(),
              c.uiLanguage == 1
                  ? QString::fromUtf8("You’re all set. Tolvani is in fcitx5’s input methods; press "
                                      "Control+Space to switch between your keyboard and Tolvani.")
                  : QString::fromUtf8("সব তৈরি। তোলভানি fcitx5-এর ইনপুট মেথডে আছে; আপনার কীবোর্ড "
                                      "আর তোলভানির মধ্যে বদলাতে Control+Space চাপুন।"));
    screenshot(lang + "-fcitx5-done");
  }
  // The done page on a dark palette.
  AppSettings::setOnboardingCompleted(false);
  controller_ = std::make_unique<OnboardingWindowController>();
  QPalette dark = controller_->window()->palette();
  dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
  controller_->window()->setPalette(dark);
  ASSERT_TRUE(openAndWaitReady());
  ASSERT_TRUE(answerFirstRun(kSelected));
  ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=done phase="); }))
      << drawn();
  screenshot("bn-fcitx5-done-dark");
}

// Without trigger keys (fcitx5 writes their emptied list so) the page and the native panel named
// Control+Space. They say no key is set and where to set one.
TEST_F(OnboardingGuideTest, UnderFcitx5WithoutATriggerKeyThePageSaysWhereToSetOne) {
  const DesktopPin kde("KDE");
  const Fcitx5Pin fcitx5;
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/fcitx5/config";
  QDir().mkpath(QFileInfo(config).path());
  QFile file(config);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[Hotkey]\nTriggerKeys=\n") > 0);
  file.close();
  for (const int language : {1, 0}) {
    AppSettings::setUiLanguage(language);
    AppSettings::setOnboardingCompleted(false);
    controller_ = std::make_unique<OnboardingWindowController>();
    ASSERT_TRUE(openAndWaitReady());
    ASSERT_TRUE(answerFirstRun(kSelected));
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=done phase="); }))
        << drawn();
    const QString phase = jsText("document.getElementById('phase').textContent");
    const QString end = language == 1
                            ? QString::fromUtf8("(Global Options → Trigger Input Method).")
                            : QString::fromUtf8("একটি কী ঠিক করে দিন।");
    EXPECT_TRUE(phase.endsWith(end) && fallbackStatus().endsWith(end)) << phase << fallbackStatus();
    EXPECT_FALSE(phase.contains("Control") || fallbackStatus().contains("Control"));
    screenshot(QLatin1String(language == 1 ? "en" : "bn") + "-fcitx5-done-no-key");
  }
  QFile::remove(config);
}

// Under Sway with no status area (no status-notifier host, no KDE panel) the menu row read done
// and, with no trigger key, the page sent the person to fcitx5's icon. The row says no panel shows
// the menu and how Tolvani's windows and layouts are reached instead; the page names no icon.
TEST_F(OnboardingGuideTest, UnderFcitx5WithoutAStatusAreaThePageSaysHowToReachTolvani) {
  const DesktopPin sway("sway");
  const Fcitx5Pin fcitx5;
  desktop_.statusArea = false;
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/fcitx5/config";
  QDir().mkpath(QFileInfo(config).path());
  for (const bool withKey : {true, false}) {
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(withKey ? "[Hotkey/TriggerKeys]\n0=Control+space\n"
                                   : "[Hotkey]\nTriggerKeys=\n") > 0);
    file.close();
    for (const int language : {1, 0}) {
      SCOPED_TRACE(std::to_string(withKey) + " " + std::to_string(language));
      AppSettings::setUiLanguage(language);
      AppSettings::setOnboardingCompleted(false);
      controller_ = std::make_unique<OnboardingWindowController>();
      ASSERT_TRUE(openAndWaitReady());
      ASSERT_TRUE(answerFirstRun(kSelected));
      ASSERT_TRUE(waitDrawn([](const QString& d) {
        return d.contains("add=done show=none select=done phase=");
      })) << drawn();
      const QString row = jsText("document.querySelector('.row[data-step=show] p').textContent");
      const QString reach = language == 1
                                ? QString::fromUtf8(
                                      "No panel shows fcitx5’s icon here: open Tolvani’s "
                                      "windows from its entry in your application launcher, "
                                      "and switch its layouts with Control+Shift+Space.")
                                : QString::fromUtf8(
                                      "এখানে কোনো প্যানেলে fcitx5-এর আইকন দেখা যায় না: "
                                      "অ্যাপ্লিকেশন লঞ্চারে তোলভানি থেকে এর উইন্ডোগুলো "
                                      "খুলুন, আর Control+Shift+Space দিয়ে এর লেআউট বদলান।");
      EXPECT_EQ(row, reach);
      EXPECT_EQ(jsText("document.querySelector('.row[data-step=show] .row-state').textContent"),
                QString::fromUtf8(language == 1 ? "No panel" : "প্যানেল নেই"));
      EXPECT_TRUE(fallbackStatus().endsWith(reach)) << fallbackStatus();
      const QString phase = jsText("document.getElementById('phase').textContent");
      for (const QString& said : {phase, fallbackStatus()}) {
        EXPECT_FALSE(said.contains(
            QString::fromUtf8(language == 1 ? "menu of fcitx5’s icon" : "আইকনের মেনু")))
            << said;
        EXPECT_EQ(said.contains("Trigger Input Method"), !withKey) << said;
      }
      screenshot(QLatin1String(language == 1 ? "en" : "bn") + "-fcitx5-no-panel" +
                 (withKey ? "" : "-no-key"));
    }
  }
  QFile::remove(config);
}

// On KDE Plasma on Wayland with Virtual Keyboard = None KWin starts no fcitx5, and a new login
// starts none either: the page and the native panel said to log out and in again. They name the
// setting that starts it.
TEST_F(OnboardingGuideTest, OnKdeWaylandWithoutFcitx5AsVirtualKeyboardThePageNamesTheSetting) {
  const DesktopPin kde("KDE");
  const Fcitx5Pin fcitx5;
  const QByteArray sessionType = qgetenv("XDG_SESSION_TYPE");
  qputenv("XDG_SESSION_TYPE", "wayland");
  const QString kwinrc = qEnvironmentVariable("XDG_CONFIG_HOME") + "/kwinrc";
  const InputSourceSnapshot addedNoDaemon{State::enabled, false, false};
  for (const bool chosen : {false, true}) {
    QFile file(kwinrc);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(chosen ? "[Wayland]\nInputMethod[$e]=/usr/share/applications/"
                                    "org.fcitx.Fcitx5.desktop\n"
                                  : "[Wayland]\nVirtualKeyboardEnabled=false\n") > 0);
    file.close();
    for (const int language : {1, 0}) {
      SCOPED_TRACE(std::to_string(chosen) + " " + std::to_string(language));
      AppSettings::setUiLanguage(language);
      controller_ = std::make_unique<OnboardingWindowController>();
      desktop_.menuVisible = true;
      ASSERT_TRUE(openAndWaitReady());
      ASSERT_TRUE(desktop_.answer("probe", addedNoDaemon));
      ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=waiting"); }))
          << drawn();
      const QString phase = jsText("document.getElementById('phase').textContent");
      const QString setting = QString::fromUtf8("System Settings → Virtual Keyboard → “Fcitx 5”");
      const QString login = QString::fromUtf8(language == 1 ? "log out" : "লগ আউট");
      for (const QString& said : {phase, fallbackStatus()}) {
        EXPECT_EQ(said.contains(setting), !chosen) << said;
        EXPECT_EQ(said.contains(login, Qt::CaseInsensitive), chosen) << said;
        EXPECT_TRUE(said.contains("Control+Space")) << said;
      }
      if (!chosen) screenshot(QLatin1String(language == 1 ? "en" : "bn") + "-fcitx5-kwin-waiting");
    }
  }
  QFile::remove(kwinrc);
  if (sessionType.isNull())
    qunsetenv("XDG_SESSION_TYPE");
  else
    qputenv("XDG_SESSION_TYPE", sessionType);
}

// Without an IBus daemon the page said "You're all set" once Tolvani was added, and offered the
// tour, whose switch and typing cannot work before the session starts IBus; the menu row read done
// though no IBus icon can show before then.
TEST_F(OnboardingGuideTest, WithoutADaemonThePageSaysWhatIsLeftAndOffersNoTour) {
  const DesktopPin xfce("XFCE");
  const InputSourceSnapshot addedNoDaemon{State::enabled, false, false};
  for (const int language : {1, 0}) {
    SCOPED_TRACE(language);
    AppSettings::setUiLanguage(language);
    controller_ = std::make_unique<OnboardingWindowController>();
    desktop_.menuVisible = true;
    ASSERT_TRUE(openAndWaitReady());
    ASSERT_TRUE(desktop_.answer("probe", addedNoDaemon));
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=waiting"); }))
        << drawn();
    const QString phase = jsText("document.getElementById('phase').textContent");
    EXPECT_EQ(phase,
              language == 1
                  ? QString::fromUtf8("IBus is not running in this session yet. Choose it once "
                                      "with \"im-config -n ibus\", then log out and in again; "
                                      "then Super+Space switches to Tolvani.")
                  : QString::fromUtf8("এই সেশনে IBus এখনো চালু হয়নি। একবার \"im-config -n "
                                      "ibus\" দিয়ে IBus বেছে নিন, তারপর লগ আউট করে আবার লগ ইন "
                                      "করুন; তারপর Super+Space চাপলে তোলভানিতে বদলাবে।"));
    EXPECT_TRUE(drawn().contains("add=done show=waiting select=waiting")) << drawn();
    EXPECT_EQ(jsText("document.querySelector('.row[data-step=select] .row-state').textContent"),
              language == 1 ? QString("After IBus starts") : QString::fromUtf8("IBus চালু হলে"));
    EXPECT_EQ(jsText("String(document.querySelector('#setup-stage button[data-action=tour]')"
                     ".offsetParent === null)"),
              "true");
    // Nor does a forged message reach the tour.
    js(QStringLiteral("new QWebChannel(qt.webChannelTransport, c => c.objects.setup.postMessage("
                      "JSON.stringify({action: 'tour', session: '%1'})))")
           .arg(controller_->session()));
    settle(80);
    EXPECT_TRUE(state().startsWith("stage=setup")) << state();
    screenshot(QStringLiteral("%1-without-ibus").arg(language == 1 ? "en" : "bn"));
  }
  // The waiting row and the status line on the dark background too.
  QPalette dark = controller_->window()->palette();
  dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
  controller_->window()->setPalette(dark);
  settle(100);
  screenshot("bn-without-ibus-dark");
}

// The page answers its pending calls while it goes: the window's closing render, or the one an
// application quitting right after a state change leaves, touched the destroyed window.
TEST_F(OnboardingGuideTest, ControllerGoesWithRendersStillPending) {
  ASSERT_TRUE(openAndWaitReady());
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  for (int i = 0; i < 3; ++i) controller_->refreshStatus();
  controller_.reset();
  settle(100);
  controller_ = std::make_unique<OnboardingWindowController>();
  EXPECT_TRUE(openAndWaitReady()) << state();
}

TEST_F(OnboardingGuideTest, StaleOversizedAndForeignMessagesAndNavigationsAreRefused) {
  ASSERT_TRUE(openAndWaitReady());
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  ASSERT_TRUE(waitDrawn([](const QString& d) { return d.contains("select=done"); }));
  clickInPage("button[data-action=tour]");
  ASSERT_TRUE(state().startsWith("stage=tour tour=0")) << state();

  // Posts straight to the program's channel object, as a page would that forged its messages.
  const auto post = [&](const QJsonObject& message) {
    js(QStringLiteral("new QWebChannel(qt.webChannelTransport, c => "
                      "c.objects.setup.postMessage(%1))")
           .arg(QString::fromUtf8(
               QJsonDocument(QJsonArray{QString::fromUtf8(
                                 QJsonDocument(message).toJson(QJsonDocument::Compact))})
                   .toJson(QJsonDocument::Compact)
                   .mid(1)
                   .chopped(1))));
    settle(80);
  };
  const QString session = controller_->session();
  post({{"action", "tourChapter"}, {"session", "stale"}, {"text", "2"}});
  post({{"action", "tourChapter"}, {"text", "2"}});
  post({{"action", "tourChapter"}, {"session", session}, {"text", QString(2048, '0') + "3"}});
  EXPECT_TRUE(state().startsWith("stage=tour tour=0")) << state();
  post({{"action", "tourChapter"}, {"session", session}, {"text", QString(2047, '0') + "2"}});
  EXPECT_TRUE(state().startsWith("stage=tour tour=2")) << state();
  post({{"action", "tourChapter"}, {"session", session}, {"text", "5"}});
  post({{"action", "tourNext"}, {"session", session}, {"text", 7}});
  EXPECT_TRUE(state().startsWith("stage=tour tour=3")) << state();
  post({{"action", "ready"}});  // a second "ready" changes nothing
  EXPECT_TRUE(controller_->pageReady());

  // The page stays on its one URL: no other file, no web address, no window, no frame.
  const QUrl page = controller_->webView()->url();
  js("location.href = 'other.html'");
  js("location.href = 'https://example.org/'");
  EXPECT_EQ(jsText("String(window.open('index.html'))"), "null");
  js("const f = document.createElement('iframe'); f.src = 'index.html'; "
     "document.body.appendChild(f);");
  settle(300);
  EXPECT_EQ(controller_->webView()->url(), page);
  EXPECT_TRUE(controller_->pageReady());

  // A minimised window takes no messages but "ready"; a message after close is dropped too.
  controller_->window()->showMinimized();
  settle(50);
  post({{"action", "tourBack"}, {"session", session}});
  EXPECT_TRUE(state().startsWith("stage=tour tour=3")) << state();
  controller_->window()->showNormal();
  settle(50);
  controller_->window()->close();
  EXPECT_EQ(controller_->webView(), nullptr);
  EXPECT_TRUE(AppSettings::onboardingCompleted());
  errors_.clear();  // the page's own policy refused the frame above, with an error
}

// Closing ends the page, its profile and its renderer process, also when the page's own button
// closes the window from inside its message; the next open brings a guide that answers as the
// first did.
TEST_F(OnboardingGuideTest, ClosingEndsThePageAndItsRendererAndTheNextOpenWorksAsTheFirst) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(openAndWaitReady());
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.startsWith("en setup"); })) << drawn();
    clickInPage("#language");
    ASSERT_TRUE(waitDrawn([](const QString& d) { return d.startsWith("bn setup"); })) << drawn();

    QPointer<QWebEnginePage> page = controller_->webView()->page();
    QPointer<QWebEngineProfile> profile = page->profile();
    const qint64 renderer = page->renderProcessPid();
    ASSERT_GT(renderer, 0);
    if (round == 1) {
      clickInPage("button[data-action=close]");
    } else {
      controller_->window()->close();
    }
    EXPECT_FALSE(controller_->window()->isVisible());
    EXPECT_EQ(controller_->webView(), nullptr);
    EXPECT_TRUE(settleUntil([&] { return !page && !profile; }, 10000));
    // Gone, or a zombie its parent has not reaped yet. A process reaped between the open and
    // the read leaves nothing to read.
    const auto ended = [renderer] {
      QFile stat(QStringLiteral("/proc/%1/stat").arg(renderer));
      if (!stat.open(QIODevice::ReadOnly)) return true;
      const QByteArray line = stat.readAll();
      return line.isEmpty() || line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
    };
    EXPECT_TRUE(settleUntil(ended, 30000)) << "renderer " << renderer << " still runs";
  }
}

// The view's own context menu offered Back, Forward, Reload, Save Page and View Source; a reload
// brought the page back without a session, its every button dead and its texts English.
TEST_F(OnboardingGuideTest, NoContextMenuAndNoReloadBehindTheProgramsBack) {
  ASSERT_TRUE(openAndWaitReady());
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  clickInPage("#language");
  ASSERT_TRUE(waitDrawn([](const QString& d) { return d.startsWith("bn "); })) << drawn();
  js("window.sameDocument = true");

  QWidget* input = controller_->webView()->focusProxy();
  ASSERT_NE(input, nullptr);
  QTest::mouseClick(input, Qt::RightButton, Qt::NoModifier, QPoint(300, 300));
  settle(300);
  QStringList menus;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && top != controller_->window()) menus << top->metaObject()->className();
  EXPECT_TRUE(menus.isEmpty()) << menus.join(' ');

  // The menu's Reload and a script's reload are refused: the same page goes on, drawn in its
  // language and with its session.
  controller_->webView()->page()->triggerAction(QWebEnginePage::Reload);
  js("location.reload()");
  settle(300);
  EXPECT_EQ(jsText("String(window.sameDocument)"), "true");
  EXPECT_TRUE(drawn().startsWith("bn ")) << drawn();
  clickInPage("button[data-action=tour]");
  EXPECT_TRUE(state().startsWith("stage=tour tour=0")) << state();
  clickInPage("footer button[data-action=close]");
  EXPECT_FALSE(controller_->window()->isVisible());
}

// Each action sent straight to the program in the states where the program refuses it. The page
// disables its buttons in most of them, so clicking the page never reaches these checks.
TEST_F(OnboardingGuideTest, ActionsTheProgramRefusesChangeNothingWhateverThePageSends) {
  ASSERT_TRUE(openAndWaitReady());
  js("(() => { const render = window.setup.render; window.renders = 0;"
     "window.setup.render = s => { ++window.renders; render(s); }; })()");
  const auto message = [&](const char* action, const char* text = nullptr) {
    QJsonObject m{{"action", action}, {"session", controller_->session()}};
    if (text) m["text"] = text;
    return m;
  };
  const auto send = [&](const QJsonObject& m) {
    controller_->receive(QString::fromUtf8(QJsonDocument(m).toJson(QJsonDocument::Compact)));
  };
  // Everything a refused action could have touched: the state, the desktop, other windows, this
  // window and the page's renders.
  const auto picture = [&] {
    settle(5);
    return QStringList{state(),
                       desktop_.log.join(' '),
                       opened_.join(' '),
                       KeyboardHelpController::shared().window()->isVisible() ? "help" : "-",
                       controller_->window()->isVisible() ? "open" : "closed",
                       jsText("String(window.renders)")}
        .join(" | ");
  };
  const auto expectRefused = [&](const char* when, const std::vector<QJsonObject>& messages) {
    for (const QJsonObject& m : messages) {
      const QString before = picture();
      send(m);
      EXPECT_EQ(picture(), before) << when << ": " << QJsonDocument(m).toJson().toStdString();
    }
  };

  expectRefused("ready again", {{{"action", "ready"}}});
  ASSERT_TRUE(desktop_.fail("probe", "no state"));
  expectRefused("setup stage, idle, not enabled", {message("tour")});
  expectRefused("setup stage", {message("tourSetup"), message("tourNext"), message("tourBack"),
                                message("tourChapter", "2"), message("preferences"),
                                message("help"), message("shortcut"), message("select")});
  expectRefused(
      "stale or no session, or too long a text",
      {QJsonObject{{"action", "retry"}, {"session", "stale"}}, QJsonObject{{"action", "retry"}},
       message("retry", QString(2049, 'x').toUtf8().constData())});
  controller_->retrySetup();
  settle();
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  expectRefused("setup stage, enabled, busy", {message("tour"), message("done")});
  ASSERT_TRUE(desktop_.answer("activate") && desktop_.answer("showInputMenu") &&
              desktop_.answer("select", kSelected) && desktop_.answer("probe", kSelected));

  send(message("tour"));
  ASSERT_TRUE(state().startsWith("stage=tour tour=0")) << state();
  expectRefused("tour, chapter 0",
                {message("retry"), message("tourBack"), message("help"), message("shortcut")});
  send(message("tourChapter", "1"));
  expectRefused("tour, chapter 1", {message("tour"), message("select"), message("help")});
  send(message("tourChapter", "3"));
  expectRefused("tour, chapter 3", {message("help"), message("tourChapter", "5")});
  // The setup stage keeps the chapter it was left at.
  for (const char* chapter : {"2", "3"}) {
    send(message("tourChapter", chapter));
    send(message("tourSetup"));
    expectRefused("setup stage, left at chapter 2 or 3", {message("help"), message("shortcut")});
    send(message("tour"));
  }
  send(message("tourChapter", "4"));
  expectRefused("tour, chapter 4", {message("tourNext")});
  send(message("tourChapter", "0"));
  controller_->retrySetup();
  settle();
  expectRefused("tour, chapter 0, busy", {message("select"), message("done")});
  ASSERT_TRUE(desktop_.answerRun(kSelected));
  controller_->window()->showMinimized();
  settle(50);
  expectRefused("minimised", {message("tourNext"), message("close")});
  controller_->window()->showNormal();
  settle(50);
  while (desktop_.answer("probe", kSelected)) {
  }

  // A switch answered after a refresh began: the refresh's older probe is not applied.
  desktop_.log.clear();
  controller_->refreshStatus();
  send(message("select"));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(desktop_.answer("probe", {State::notEnabled, false}));
  EXPECT_EQ(desktop_.log.join(' '), "probe select");
  EXPECT_TRUE(state().contains("status=enabled selected=1")) << state();
  // A switch answered after the window closed leaves no failure behind.
  send(message("select"));
  controller_->window()->close();
  ASSERT_TRUE(desktop_.fail("select", "late"));
  EXPECT_TRUE(state().contains("failed=- failure=\"\" busy=0")) << state();
}

// The system's power-saving mode quiets the guide as reduced motion does, and switching it on or
// off redraws the open page.
TEST_F(OnboardingGuideTest, LowPowerModeQuietsThePageAndItsChangesReachIt) {
  ASSERT_TRUE(openAndWaitReady());
  const auto quiet = [&] {
    return jsText(
        "String(window.setup.snapshot.quiet) + ' ' + "
        "document.body.classList.contains('quiet')");
  };
  ASSERT_TRUE(settleUntil([&] { return quiet() == "false false"; }, 10000)) << quiet();
  power_.set(true);
  EXPECT_TRUE(settleUntil([&] { return quiet() == "true true"; }, 10000)) << quiet();
  power_.set(false);
  EXPECT_TRUE(settleUntil([&] { return quiet() == "false false"; }, 10000)) << quiet();
}

TEST_F(OnboardingGuideTest, ThePageWorksOnItsOwnRecordingWhatItWouldPost) {
  // A plain page with no channel and no theme, as in a browser.
  QWebEnginePage plain;
  std::optional<bool> loaded;
  QObject::connect(&plain, &QWebEnginePage::loadFinished, [&](bool ok) { loaded = ok; });
  plain.load(QUrl::fromLocalFile(platform::bundle::resourcePath("Setup/index.html")));
  ASSERT_TRUE(settleUntil([&] { return loaded.has_value(); }));
  ASSERT_TRUE(*loaded);
  const auto run = [&](const QString& script) {
    std::optional<QVariant> result;
    plain.runJavaScript(script, [&](const QVariant& v) { result = v; });
    settleUntil([&] { return result.has_value(); }, 10000);
    return result.value_or(QVariant()).toString();
  };
  EXPECT_EQ(run("JSON.stringify(window.setup.posted)"), R"([{"action":"ready"}])");
  // Nothing but "ready" goes out before a snapshot names the session.
  EXPECT_EQ(run("document.querySelector('button[data-action=retry]').click(); "
                "JSON.stringify(window.setup.posted)"),
            R"([{"action":"ready"}])");
  run("window.setup.render({lang: 'bn', stage: 'tour', tourStep: 2, phase: 'done', rows: {add: "
      "'done', show: 'done', select: 'done'}, failedStep: '', error: '', status: 'enabled', "
      "selected: true, busy: false, session: 'S', focusTyping: false, options: {}, shortcut: '', "
      "shortcutTruncated: false, defaultLayout: 1, quiet: true, visible: true}); ''");
  EXPECT_EQ(run("document.documentElement.lang + ' ' + "
                "document.getElementById('default-layout').textContent"),
            QString::fromUtf8("bn প্রভাত"));
  EXPECT_EQ(run("document.querySelector('button[data-action=help]').click(); "
                "JSON.stringify(window.setup.posted.slice(1))"),
            R"([{"action":"help","session":"S"}])");
}

TEST_F(OnboardingGuideTest, MissingHungThrowingAndKilledGuidesGiveWayToThePanel) {
  QTemporaryDir resources;
  ASSERT_TRUE(resources.isValid());
  platform::bundle::testSetResourcesDir(resources.path());
  QDir(resources.path()).mkpath("Setup");
  const auto writePage = [&](const QByteArray& html) {
    QFile file(resources.path() + "/Setup/index.html");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(html);
  };

  // A page that never says "ready": the panel after 10 s on the clock.
  writePage("<html><body>silent</body></html>");
  open();
  settle(300);
  EXPECT_TRUE(state().endsWith("page=guide")) << state();
  clock_.advance(std::chrono::milliseconds(9999));
  settle();
  EXPECT_TRUE(state().endsWith("page=guide")) << state();
  clock_.advance(std::chrono::milliseconds(1));
  settle();
  EXPECT_TRUE(state().endsWith("page=fallback")) << state();
  EXPECT_EQ(fallbackStatus(), UIStrings::setupGuideNotLoaded());
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  EXPECT_TRUE(controller_->window()->grab().save(folder + "/onboarding-fallback-not-loaded.png"));

  // The panel's "Reload Guide" brings the guide back with a new watchdog; closing during that
  // load retires it.
  const QString hung = controller_->session();
  QTest::mouseClick(controller_->window()->findChild<QPushButton*>("reloadButton"), Qt::LeftButton);
  EXPECT_TRUE(state().endsWith("page=guide")) << state();
  EXPECT_NE(controller_->session(), hung);
  EXPECT_EQ(clock_.pendingTimers(), 1);
  controller_->window()->close();
  EXPECT_EQ(clock_.pendingTimers(), 0);

  // A page whose render throws: the panel with the update-failed text.
  writePage(
      "<html><body><script>window.setup = { render() { throw new Error('broken'); } };"
      "new QWebChannel(qt.webChannelTransport, c => "
      "c.objects.setup.postMessage(JSON.stringify({action: 'ready'})));</script></body></html>");
  open();
  ASSERT_TRUE(settleUntil([&] { return state().endsWith("page=fallback"); })) << state();
  EXPECT_EQ(fallbackStatus(), UIStrings::setupGuideUpdateFailed());
  EXPECT_EQ(errors_.size(), 1) << errors_.join('\n');
  errors_.clear();
  // Later changes only rewrite the status line.
  ASSERT_TRUE(desktop_.failNewest("probe", "later"));
  EXPECT_EQ(fallbackStatus(), "later");

  // A page whose content process dies.
  writePage(
      "<html><body><script>window.setup = { render() {} };"
      "new QWebChannel(qt.webChannelTransport, c => "
      "c.objects.setup.postMessage(JSON.stringify({action: 'ready'})));</script></body></html>");
  controller_->loadGuide();
  ASSERT_TRUE(settleUntil([&] { return controller_->pageReady(); }));
  const qint64 renderer = controller_->webView()->page()->renderProcessPid();
  ASSERT_GT(renderer, 0);
  ::kill(static_cast<pid_t>(renderer), SIGKILL);
  ASSERT_TRUE(settleUntil([&] { return state().endsWith("page=fallback"); })) << state();
  EXPECT_EQ(fallbackStatus(), UIStrings::setupGuideStopped());

  // A load of the page that fails (the file goes before the engine reads it, which it does only
  // once the program's turn is over): the engine's own error text.
  controller_->loadGuide();
  QFile::remove(resources.path() + "/Setup/index.html");
  ASSERT_TRUE(settleUntil([&] { return state().endsWith("page=fallback"); })) << state();
  EXPECT_FALSE(fallbackStatus().isEmpty());
  EXPECT_FALSE(controller_->pageReady());

  // No page at all.
  controller_->loadGuide();
  EXPECT_EQ(fallbackStatus(),
            UIStrings::setupGuideMissing() + "\n" + UIStrings::setupSettingsPath());
  EXPECT_EQ(clock_.pendingTimers(), 0);
}

}  // namespace
}  // namespace tolvani
