#include <QApplication>
#include <QDesktopServices>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include "help/KeyboardHelpController.h"
#include "ime/InputMenuWindows.h"
#include "ime/tests/ImeTestSupport.h"
#include "settings/UIStrings.h"
#include "stats/TypingStatsWindowController.h"

namespace tolvani {
namespace {

using namespace testing;
namespace Keys = InputMenuKeys;

const KeyEvent kControlSpace = key(KeyCodes::kSpace, " ", KeyFlags::kControl);
const KeyEvent kControlShiftSpace =
    key(KeyCodes::kSpace, " ", KeyFlags::kControl | KeyFlags::kShift);
const KeyEvent kControlAltS = key(KeyCodes::kS, "s", KeyFlags::kControl | KeyFlags::kOption);

// The menu one row a line: "key|kind|title|icon|on|sensitive", then "|hidden" for a hidden row; a
// submenu's rows follow it, each after "> ".
void describe(const InputMenu& menu, const QString& indent, QStringList& lines) {
  static const char* const kinds[] = {"header", "radio", "toggle", "item", "separator", "submenu"};
  for (const InputMenuRow& row : menu) {
    lines << indent + row.key + u'|' + QString::fromLatin1(kinds[static_cast<int>(row.kind)]) +
                 u'|' + row.title + u'|' + row.iconName + u'|' +
                 QString::fromLatin1(row.on ? "on" : "off") + u'|' +
                 QString::fromLatin1(row.sensitive ? "enabled" : "disabled") +
                 QString::fromLatin1(row.visible ? "" : "|hidden");
    describe(row.rows, indent + QStringLiteral("> "), lines);
  }
}
std::string describe(const InputMenu& menu) {
  QStringList lines;
  describe(menu, QString(), lines);
  return lines.join(u'\n').toStdString();
}

const char* const kEnglishMenu =
    "layouts|header|Layouts||off|disabled\n"
    "switchToPhonetic|radio|ফোনেটিক (Phonetic)|preferences-desktop-font|on|enabled\n"
    "switchToProbhat|radio|প্রভাত (Probhat)|input-keyboard|off|enabled\n"
    "switchToNational|radio|জাতীয় (National)|preferences-desktop-locale|off|enabled\n"
    "switchToUnijoy|radio|ইউনিজয় (Unijoy)|accessories-character-map|off|enabled\n"
    "separator1|separator|||off|enabled\n"
    "quickControls|header|Quick Controls||off|disabled\n"
    "toggleEnglishPassthrough|toggle|English Passthrough|insert-text|off|enabled\n"
    "toggleSuggestions|toggle|Suggestions|starred-symbolic|on|enabled\n"
    "separator2|separator|||off|enabled\n"
    "tools|submenu|Tools|applications-utilities|off|enabled\n"
    "> convertBanglishSelection|item|Convert Banglish Selection (Ctrl+Alt+B)|edit-find-replace|off|"
    "enabled\n"
    "> openKeyboardSetup|item|Keyboard Setup|preferences-desktop-keyboard|off|enabled\n"
    "> openKeyboardTour|item|Keyboard Tour|media-playback-start|off|enabled\n"
    "> openCustomLayoutEditor|item|Custom Keys...|accessories-text-editor|off|enabled\n"
    "> openTypingStats|item|Typing Stats...|x-office-spreadsheet|off|enabled\n"
    "> openKeyboardHelp|item|Keyboard Help...|help-contents|off|enabled\n"
    "> openPreferences|item|Settings...|preferences-system|off|enabled\n"
    "> checkForUpdates|item|Check for Updates...|system-software-update|off|enabled\n"
    "separator3|separator|||off|enabled\n"
    "privacy|header|Privacy||off|disabled\n"
    "secureKeyboardEntry|item|Secure Keyboard Entry is active — using "
    "English|dialog-password|off|disabled|"
    "hidden\n"
    "fullyOffline|item|Fully Offline|security-high|off|disabled";

const char* const kBanglaMenu =
    "layouts|header|লেআউট||off|disabled\n"
    "switchToPhonetic|radio|ফোনেটিক (Phonetic)|preferences-desktop-font|off|enabled\n"
    "switchToProbhat|radio|প্রভাত (Probhat)|input-keyboard|off|enabled\n"
    "switchToNational|radio|জাতীয় (National)|preferences-desktop-locale|on|enabled\n"
    "switchToUnijoy|radio|ইউনিজয় (Unijoy)|accessories-character-map|off|enabled\n"
    "separator1|separator|||off|enabled\n"
    "quickControls|header|দ্রুত নিয়ন্ত্রণ||off|disabled\n"
    "toggleEnglishPassthrough|toggle|ইংরেজি পাসথ্রু|insert-text|on|enabled\n"
    "toggleSuggestions|toggle|সাজেশন|non-starred-symbolic|off|enabled\n"
    "separator2|separator|||off|enabled\n"
    "tools|submenu|টুলস|applications-utilities|off|enabled\n"
    "> convertBanglishSelection|item|সিলেক্ট করা বাংলিশ বাংলায় রূপান্তর (Ctrl+Alt+B)|"
    "edit-find-replace|off|enabled\n"
    "> openKeyboardSetup|item|কীবোর্ড সেটআপ|preferences-desktop-keyboard|off|enabled\n"
    "> openKeyboardTour|item|কীবোর্ড ঘুরে দেখুন|media-playback-start|off|enabled\n"
    "> openCustomLayoutEditor|item|কাস্টম কী...|accessories-text-editor|off|enabled\n"
    "> openTypingStats|item|টাইপিং পরিসংখ্যান...|x-office-spreadsheet|off|enabled\n"
    "> openKeyboardHelp|item|কীবোর্ড সাহায্য...|help-contents|off|enabled\n"
    "> openPreferences|item|সেটিংস...|preferences-system|off|enabled\n"
    "> checkForUpdates|item|নতুন সংস্করণ আছে কি না দেখুন...|system-software-update|off|enabled\n"
    "separator3|separator|||off|enabled\n"
    "privacy|header|গোপনীয়তা||off|disabled\n"
    "secureKeyboardEntry|item|Secure Keyboard Entry is active — using "
    "English|dialog-password|off|disabled|"
    "hidden\n"
    "fullyOffline|item|সম্পূর্ণ অফলাইন|security-high|off|disabled";

class TolvaniInputControllerMenuTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    AppSettings::setUiLanguage(1);
    controller_->setMenuObserver([this] { ++menuChanges_; });
  }
  void choose(const QString& row, bool on = true) { controller_->activateMenuItem(row, on); }
  std::string menu() const { return describe(controller_->menu()); }
  // The lines of the menu that hold `key`.
  std::string rowOf(const QString& key) const {
    for (const InputMenuRow& row : controller_->menu()) {
      if (row.key == key) return describe({row});
    }
    return "none";
  }
  std::string toast() const {
    const CandidatePanel::Layout& layout = controller_->testPanel()->layout();
    if (layout.state != CandidatePanel::State::status) return "none";
    return layout.statusMessage.toStdString();
  }

  int menuChanges_ = 0;
};

TEST_F(TolvaniInputControllerMenuTest, RowsInBothLanguagesFollowTheState) {
  EXPECT_EQ(menu(), kEnglishMenu);

  AppSettings::setUiLanguage(0);
  controller_->testSetCurrentMode(KeyboardMode::national);
  controller_->testSetEnglishBypass(true);
  AppSettings::setSuggestionsEnabled(false);
  EXPECT_EQ(menu(), kBanglaMenu) << "titles, check marks and the suggestions icon";

  // The settings notification tells the face that titles and switches may have changed.
  menuChanges_ = 0;
  AppSettings::postDidChange();
  EXPECT_GE(menuChanges_, 1);
}

TEST_F(TolvaniInputControllerMenuTest, SecureEntryRowOnlyWhileLearningIsSuppressed) {
  client_.setInputPurpose(platform::InputPurpose::password);
  controller_->inputPurposeChanged();
  EXPECT_TRUE(controller_->testLearningSuppressed());
  EXPECT_EQ(menuChanges_, 1);
  std::string privacy = menu();
  privacy = privacy.substr(privacy.find("privacy|"));
  EXPECT_EQ(privacy,
            "privacy|header|Privacy||off|disabled\n"
            "secureKeyboardEntry|item|Secure Keyboard Entry is active — using "
            "English|dialog-password|off|"
            "disabled\n"
            "fullyOffline|item|Fully Offline|security-high|off|disabled");
  AppSettings::setUiLanguage(0);
  EXPECT_EQ(rowOf(Keys::kSecureEntry),
            "secureKeyboardEntry|item|Secure Keyboard Entry is active — using "
            "English|dialog-password|off|"
            "disabled")
      << "English in both languages";

  client_.setInputPurpose(platform::InputPurpose::freeForm);
  controller_->inputPurposeChanged();
  EXPECT_EQ(menuChanges_, 2);
  EXPECT_EQ(rowOf(Keys::kSecureEntry),
            "secureKeyboardEntry|item|Secure Keyboard Entry is active — using "
            "English|dialog-password|off|"
            "disabled|hidden")
      << "hidden in its place, for a panel that reads the rows only once";
  controller_->inputPurposeChanged();
  EXPECT_EQ(menuChanges_, 2) << "no change, no news";
}

// A layout chosen in the menu while a word is being typed comes in once the word ends: switched
// at once, the word would end in another layout than it began in.
TEST_F(TolvaniInputControllerMenuTest, LayoutChosenWhileAWordIsTypedComesInAtTheWordsEnd) {
  type("ab");
  ASSERT_EQ(client_.markedText(), u("কখ"));
  takeCalls();
  choose(Keys::kProbhat);
  EXPECT_EQ(client_.markedText(), u("কখ")) << "the word goes on";
  EXPECT_EQ(controller_->testCurrentMode(), KeyboardMode::phonetic);
  EXPECT_TRUE(takeCalls().empty());
  EXPECT_EQ(rowOf(Keys::kPhonetic),
            "switchToPhonetic|radio|ফোনেটিক (Phonetic)|preferences-desktop-font|on|enabled")
      << "the menu shows the layout the typing uses";
  type("c ");
  EXPECT_EQ(client_.document(), u("x কখগ ")) << "one word, in one layout";
  EXPECT_EQ(controller_->testCurrentMode(), KeyboardMode::probhat);
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::probhat) << "new controllers start in it";
  EXPECT_EQ(rowOf(Keys::kProbhat),
            "switchToProbhat|radio|প্রভাত (Probhat)|input-keyboard|on|enabled");
  EXPECT_EQ(rowOf(Keys::kPhonetic).find("|on|"), std::string::npos);
  EXPECT_GE(menuChanges_, 1);

  // A panel reports the row it turned off too: that changes nothing.
  choose(Keys::kPhonetic, false);
  EXPECT_EQ(controller_->testCurrentMode(), KeyboardMode::probhat);
  // Between words the current mode chosen again hides the panel.
  choose(Keys::kProbhat);
  EXPECT_EQ(rows(), "hidden");
  EXPECT_EQ(client_.document(), u("x কখগ "));

  // Letters passed through in English make a word too; a switch waits for it as well.
  choose(Keys::kEnglishPassthrough, true);
  ASSERT_TRUE(controller_->testEnglishBypass());
  EXPECT_FALSE(press(letter('o')));
  choose(Keys::kNational);
  choose(Keys::kEnglishPassthrough, false);
  EXPECT_FALSE(press(letter('k')));
  EXPECT_TRUE(controller_->testEnglishBypass()) << "still in the word";
  EXPECT_FALSE(press(kSpace));
  EXPECT_FALSE(controller_->testEnglishBypass());
  EXPECT_EQ(controller_->testCurrentMode(), KeyboardMode::national);

  // The client loses the focus in the middle of a word: the word ends there.
  type("a");
  choose(Keys::kPhonetic);
  EXPECT_EQ(controller_->testCurrentMode(), KeyboardMode::national);
  controller_->deactivateServer(&client_);
  EXPECT_EQ(controller_->testCurrentMode(), KeyboardMode::phonetic);

  // Without an engine session the mode is still stored and the state cleared.
  static const EngineSeam failing = [] {
    EngineSeam seam = scriptedSeam();
    seam.create = []() -> TolvaniEngine* { return nullptr; };
    return seam;
  }();
  testSetEngineSeam(&failing);
  RecordingTextClient other{u("")};
  auto engineless = makeController(other);
  ASSERT_TRUE(engineless->testEngineFailed());
  engineless->activateMenuItem(Keys::kNational, true);
  EXPECT_EQ(engineless->testCurrentMode(), KeyboardMode::national);
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::national);
}

TEST_F(TolvaniInputControllerMenuTest, EnglishBypassAndCyclingTheMode) {
  type("a");
  EXPECT_TRUE(press(kControlSpace));
  EXPECT_EQ(client_.document(), u("x ক")) << "committed before the bypass";
  EXPECT_TRUE(controller_->testEnglishBypass());
  EXPECT_FALSE(press(letter('a'))) << "keys pass to the application";
  EXPECT_FALSE(press(kSpace));
  EXPECT_EQ(rowOf(Keys::kEnglishPassthrough),
            "toggleEnglishPassthrough|toggle|English Passthrough|insert-text|on|enabled");
  // A panel asking for the state that already holds flips nothing.
  choose(Keys::kEnglishPassthrough, true);
  EXPECT_TRUE(controller_->testEnglishBypass());
  choose(Keys::kEnglishPassthrough, false);
  EXPECT_FALSE(controller_->testEnglishBypass());
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::phonetic) << "the bypass is not persisted";
  choose(Keys::kEnglishPassthrough, true);

  // Cycling: phonetic, probhat, national, unijoy, phonetic; it ends the bypass.
  std::vector<KeyboardMode> modes;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(press(kControlShiftSpace));
    EXPECT_FALSE(controller_->testEnglishBypass());
    modes.push_back(controller_->testCurrentMode());
  }
  EXPECT_EQ(modes, (std::vector<KeyboardMode>{KeyboardMode::probhat, KeyboardMode::national,
                                              KeyboardMode::unijoy, KeyboardMode::phonetic}));
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::phonetic);
  EXPECT_TRUE(press(letter('a'))) << "typing again";
}

TEST_F(TolvaniInputControllerMenuTest, SuggestionsSwitchWithItsToast) {
  type("ab");
  choose(Keys::kSuggestions, false);
  EXPECT_FALSE(AppSettings::suggestionsEnabled());
  EXPECT_EQ(toast(), "Suggestions off") << "near the caret of the controller's client";
  EXPECT_EQ(rowOf(Keys::kSuggestions),
            "toggleSuggestions|toggle|Suggestions|non-starred-symbolic|off|enabled")
      << "the icon follows the setting, the title does not";
  EXPECT_EQ(client_.markedText(), u("কখ")) << "the composition goes on";

  AppSettings::setUiLanguage(0);
  EXPECT_TRUE(press(kControlAltS));
  EXPECT_TRUE(AppSettings::suggestionsEnabled());
  EXPECT_EQ(toast(), "সাজেশন চালু");

  // With secure entry on the setting still flips, silently.
  controller_->activateServer(&client_);
  client_.setInputPurpose(platform::InputPurpose::pin);
  choose(Keys::kSuggestions, false);
  EXPECT_FALSE(AppSettings::suggestionsEnabled());
  EXPECT_EQ(toast(), "none");
  EXPECT_EQ(rows(), "hidden");
}

TEST_F(TolvaniInputControllerMenuTest, ConvertRowAsksTheControllersClient) {
  choose(Keys::kConvertBanglish);
  EXPECT_EQ(toast(), UIStrings::convertSelectFirst().toStdString());

  // Chosen while the client has lost the focus (a desktop's menu takes it as it opens), which is
  // when its selection cannot be read: the conversion comes once the client has the focus again.
  controller_->deactivateServer(&client_);
  ASSERT_EQ(toast(), "none");
  choose(Keys::kConvertBanglish);
  EXPECT_EQ(toast(), "none");
  controller_->activateServer(&client_);
  EXPECT_EQ(toast(), UIStrings::convertSelectFirst().toStdString());
  // Another client took the focus meanwhile: the conversion is not the next one's.
  controller_->deactivateServer(&client_);
  choose(Keys::kConvertBanglish);
  controller_->forgetConversionOnReturn();
  controller_->activateServer(&client_);
  EXPECT_EQ(toast(), "none");
}

// A row chosen when no client is left for it to speak for (the application of the field that had
// the focus last has closed): the windows open, a layout and the suggestions switch go to the
// settings, which running controllers follow and new ones start from.
TEST_F(TolvaniInputControllerMenuTest, RowsChosenWithoutAControllerOpenWindowsAndSetTheSettings) {
  QWidget preferences;
  InputMenuWindows::setPreferencesOpener([&] { return &preferences; });
  TolvaniInputController::activateMenuItemWithoutController(Keys::kSettings, false);
  EXPECT_TRUE(preferences.isVisible());
  InputMenuWindows::setPreferencesOpener(nullptr);
  preferences.hide();

  TolvaniInputController::activateMenuItemWithoutController(Keys::kPhonetic, false);
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::phonetic) << "a row turned off";
  TolvaniInputController::activateMenuItemWithoutController(Keys::kProbhat, true);
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::probhat);
  EXPECT_EQ(controller_->testCurrentMode(), KeyboardMode::probhat);
  TolvaniInputController::activateMenuItemWithoutController(Keys::kSuggestions, false);
  EXPECT_FALSE(AppSettings::suggestionsEnabled());
}

// Records the pages the desktop's browser would open.
class Browser : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public Q_SLOTS:
  void open(const QUrl& url) { opened << url; }
};

TEST_F(TolvaniInputControllerMenuTest, WindowRowsOpenTheirWindowOnceAndBringItForward) {
  // The settings window and the custom-keys editor are the program's to give; plain windows
  // stand in for them here.
  QWidget preferences, customKeys;
  int preferencesBuilt = 0;
  InputMenuWindows::setPreferencesOpener([&] {
    ++preferencesBuilt;
    return &preferences;
  });
  InputMenuWindows::setCustomLayoutEditorOpener([&] { return &customKeys; });
  InputMenuWindows::setKeyboardHelpOpener([] {
    KeyboardHelpController& help = KeyboardHelpController::shared();
    help.showWindow();
    return help.window();
  });
  int setups = 0, tours = 0;
  InputMenuWindows::setKeyboardSetupOpener([&] { ++setups; });
  InputMenuWindows::setKeyboardTourOpener([&] { ++tours; });

  const std::vector<std::pair<QString, std::function<QWidget*()>>> windows = {
      {Keys::kSettings, [&] { return &preferences; }},
      {Keys::kCustomKeys, [&] { return &customKeys; }},
      {Keys::kTypingStats, [] { return &TypingStatsWindowController::shared(); }},
      {Keys::kKeyboardHelp, [] { return KeyboardHelpController::shared().window(); }},
  };
  for (const auto& [row, window] : windows) {
    SCOPED_TRACE(row.toStdString());
    const qsizetype before = QApplication::topLevelWidgets().size();
    choose(row);
    QWidget* shown = window();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(shown, 2000));
    EXPECT_EQ(QApplication::activeWindow(), shown);
    const qsizetype after = QApplication::topLevelWidgets().size();
    EXPECT_LE(after - before, 1) << "one window at most is built";
  }
  // Chosen again, each comes forward without another window being built.
  const qsizetype count = QApplication::topLevelWidgets().size();
  for (const auto& [row, window] : windows) {
    SCOPED_TRACE(row.toStdString());
    choose(row);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window(), 2000));
    EXPECT_EQ(QApplication::activeWindow(), window());
  }
  EXPECT_EQ(QApplication::topLevelWidgets().size(), count);
  EXPECT_EQ(preferencesBuilt, 2);

  choose(Keys::kKeyboardSetup);
  choose(Keys::kKeyboardTour);
  choose(Keys::kKeyboardTour);
  EXPECT_EQ(setups, 1);
  EXPECT_EQ(tours, 2);

  Browser browser;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
  choose(Keys::kCheckForUpdates);
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(browser.opened, QList<QUrl>{AppSettings::updateCheckURL()});

  for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
  InputMenuWindows::setPreferencesOpener(nullptr);
  InputMenuWindows::setCustomLayoutEditorOpener(nullptr);
  InputMenuWindows::setKeyboardHelpOpener(nullptr);
  InputMenuWindows::setKeyboardSetupOpener(nullptr);
  InputMenuWindows::setKeyboardTourOpener(nullptr);
  choose(Keys::kSettings);
  EXPECT_FALSE(preferences.isVisible()) << "an unset opener does nothing";
}

}  // namespace
}  // namespace tolvani

#include "TolvaniInputControllerMenuTest.moc"
