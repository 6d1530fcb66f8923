// The settings window driven as a user drives it under the offscreen platform: the General and
// Typing tabs store each change before announcing it, once; the stored values shown as the store's
// readers give them; the interface language switched live; the pages pushed inside the Typing tab;
// the controller's one window with a fresh view at each opening; and screenshots of every tab and
// page in both languages and under a dark palette.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "help/KeyboardHelpController.h"
#include "stats/DiagnosticsView.h"
#include "stats/TypingStatsWindowController.h"
#include "windows/CorrectionPreferencesView.h"
#include "windows/CustomLayoutEditor.h"
#include "windows/PreferencesWindowController.h"
#include "windows/SettingsRootView.h"
#include "windows/TextShortcutsEditor.h"
#include "windows/TypingTab.h"
#include "windows/UserDictionaryWork.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

class SettingsWindowTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::registerDefaults();
    AppSettings::setUiLanguage(1);
    dialogs::testSetDialogs(&dialogs_);
    token_ = platform::NotificationCenter::defaultCenter().addObserver(
        AppSettings::didChangeNotification(), [this](const platform::Notification& n) {
          notes_ << QStringLiteral("post %1 %2")
                        .arg(AppSettings::reloadUserDataRequested(n) ? "true" : "false",
                             storeState());
        });
  }
  void TearDown() override {
    platform::NotificationCenter::defaultCenter().removeObserver(token_);
    dialogs::testSetDialogs(nullptr);
    EXPECT_TRUE(dialogs_.files.empty() && dialogs_.confirmations.empty()) << "unused answers";
    LearnedDataTest::TearDown();
  }

  // The stored settings the window writes, as the store's readers give them.
  static QString storeState() {
    const EnginePreferences p = AppSettings::enginePreferences();
    return QStringLiteral(
               "mode=%1 lang=%2 sugg=%3 count=%4 theme=%5 digits=%6 emoji=%7 "
               "modern=%8 spoken=%9 predict=%10 auto=%11 esc=%12")
        .arg(rawValue(AppSettings::defaultMode()))
        .arg(AppSettings::uiLanguage())
        .arg(AppSettings::suggestionsEnabled())
        .arg(AppSettings::suite().integer(AppSettings::kSuggestionCountKey).value_or(-1))
        .arg(AppSettings::panelAppearance())
        .arg(AppSettings::banglaDigitsEnabled())
        .arg(AppSettings::inlineEmojiEnabled())
        .arg(p.preferModernSpellings)
        .arg(p.offerSpokenStandard)
        .arg(AppSettings::predictiveTextEnabled())
        .arg(AppSettings::autocorrectEnabled())
        .arg(AppSettings::englishPassthroughEnabled());
  }
  // The notes since the last call.
  QStringList takeNotes() { return std::exchange(notes_, {}); }

  testing::ScriptedDialogs dialogs_;
  QStringList notes_;
  platform::NotificationCenter::Token token_ = 0;
};

template <typename T>
T* child(QWidget* parent, const char* name) {
  T* found = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// Every text the window shows, in reading order, one per line.
QString visibleTexts(QWidget* root) {
  QStringList texts;
  if (auto* tabs = root->findChild<QTabWidget*>(QStringLiteral("tabs")))
    for (int i = 0; i < tabs->count(); ++i) texts << "tab " + tabs->tabText(i);
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (auto* label = qobject_cast<QLabel*>(w)) texts << "label " + label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << "button " + button->text();
    if (auto* box = qobject_cast<QGroupBox*>(w)) texts << "section " + box->title();
    if (auto* combo = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < combo->count(); ++i) texts << "option " + combo->itemText(i);
  }
  return texts.join('\n');
}

TEST_F(SettingsWindowTest, GeneralTabStoresThenAnnouncesEachChangeOnce) {
  ASSERT_TRUE(AppSettings::suite().set(AppSettings::kSuggestionCountKey, 20));
  SettingsRootView view;
  view.show();
  auto* count = child<QSpinBox>(&view, "suggestionCount");
  auto* suggestions = child<QCheckBox>(&view, "showSuggestions");
  auto* layout = child<QComboBox>(&view, "defaultLayout");
  auto* theme = child<QComboBox>(&view, "panelTheme");
  // An absent switch shows on, a stored count out of range shows clamped.
  EXPECT_TRUE(suggestions->isChecked());
  EXPECT_EQ(count->value(), 15);
  EXPECT_EQ(layout->currentText(), QStringLiteral("তোলভানি ফোনেটিক"));
  EXPECT_EQ(theme->currentIndex(), 0);

  // At the top the increment does nothing: nothing is stored or posted.
  QTest::keyClick(count, Qt::Key_Up);
  EXPECT_EQ(count->value(), 15);
  EXPECT_EQ(takeNotes(), QStringList());
  EXPECT_EQ(AppSettings::suite().integer(AppSettings::kSuggestionCountKey), 20);
  QTest::keyClick(count, Qt::Key_Down);
  const QString base =
      "mode=0 lang=1 sugg=1 count=14 theme=0 digits=1 emoji=1 modern=0 "
      "spoken=0 predict=0 auto=0 esc=1";
  EXPECT_EQ(takeNotes(), QStringList{"post false " + base});

  // Off disables the stepper and keeps its value and the stored count; on again brings it back.
  click(suggestions);
  EXPECT_EQ(takeNotes(), QStringList{"post false " + QString(base).replace("sugg=1", "sugg=0")});
  EXPECT_FALSE(count->isEnabled());
  EXPECT_EQ(count->value(), 14);
  click(suggestions);
  EXPECT_EQ(takeNotes(), QStringList{"post false " + base});
  EXPECT_TRUE(count->isEnabled());
  EXPECT_EQ(count->value(), 14);

  // Pickers: the next option is stored; the one already chosen changes nothing.
  QTest::keyClick(layout, Qt::Key_Up);
  EXPECT_EQ(takeNotes(), QStringList());
  QTest::keyClick(layout, Qt::Key_Down);
  QTest::keyClick(theme, Qt::Key_Down);
  QTest::keyClick(theme, Qt::Key_Down);
  EXPECT_EQ(
      takeNotes(),
      QStringList(
          {"post false " + QString(base).replace("mode=0", "mode=1"),
           "post false " + QString(base).replace("mode=0", "mode=1").replace("theme=0", "theme=1"),
           "post false " +
               QString(base).replace("mode=0", "mode=1").replace("theme=0", "theme=2")}));
  EXPECT_EQ(posts_, std::vector<bool>(6, false));
}

TEST_F(SettingsWindowTest, UnknownStoredChoicesLeaveThePickersEmptyAndTheInterfaceEnglish) {
  AppSettings::setUiLanguage(5);
  AppSettings::setPanelAppearance(7);
  AppSettings::suite().set(AppSettings::kDefaultModeKey, 9);
  SettingsRootView view;
  view.show();
  EXPECT_EQ(child<QComboBox>(&view, "uiLanguage")->currentIndex(), -1);
  EXPECT_EQ(child<QComboBox>(&view, "panelTheme")->currentIndex(), -1);
  EXPECT_EQ(child<QComboBox>(&view, "defaultLayout")->currentIndex(), 0);
  EXPECT_EQ(view.tabs()->tabText(0), "General");
  EXPECT_EQ(child<QCheckBox>(&view, "showSuggestions")->text(), "Show suggestions");
  EXPECT_EQ(takeNotes(), QStringList());
}

TEST_F(SettingsWindowTest, InterfaceLanguageSwitchesEveryTextAtOnce) {
  AppSettings::setUiLanguage(1);
  SettingsRootView view;
  view.show();
  const QString english = visibleTexts(&view);
  auto* language = child<QComboBox>(&view, "uiLanguage");
  ASSERT_EQ(language->currentIndex(), 1);
  QTest::keyClick(language, Qt::Key_Up);
  ASSERT_EQ(takeNotes().size(), 1);
  EXPECT_EQ(AppSettings::uiLanguage(), 0);
  {
    SettingsRootView fresh;
    EXPECT_EQ(visibleTexts(&view), visibleTexts(&fresh));
  }
  EXPECT_NE(visibleTexts(&view), english);
  EXPECT_EQ(view.tabs()->tabText(1), QStringLiteral("টাইপিং"));
  QTest::keyClick(language, Qt::Key_Down);
  EXPECT_EQ(takeNotes().size(), 1);
  EXPECT_EQ(visibleTexts(&view), english);
}

// Clicks the tab that reads `text`.
void clickTab(QTabWidget* tabs, const QString& text) {
  QTabBar* bar = tabs->tabBar();
  for (int i = 0; i < bar->count(); ++i) {
    if (bar->tabText(i) != text) continue;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
    ASSERT_EQ(tabs->currentIndex(), i) << text.toStdString();
    return;
  }
  FAIL() << "no tab reads " << text.toStdString();
}

// Opens `combo`'s list with a click, then clicks the option that reads `text` in it.
void chooseByClicks(QComboBox* combo, const QString& text) {
  const int row = combo->findText(text);
  ASSERT_GE(row, 0) << text.toStdString();
  QTest::mouseClick(combo, Qt::LeftButton, {}, combo->rect().center());
  QAbstractItemView* list = combo->view();
  ASSERT_TRUE(QTest::qWaitFor([list] { return list->isVisible(); }, 5000));
  const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
  QTest::mouseMove(list->viewport(), at);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  ASSERT_TRUE(QTest::qWaitFor([list] { return !list->isVisible(); }, 5000));
  EXPECT_EQ(combo->currentText(), text);
}

// What the page pushed in the Typing tab shows, its back button first: labels, buttons and the
// cells of its list, in order.
QString pageTexts(TypingTab* typing) {
  QWidget* page = typing->pushedPage();
  if (!page) return "<no page>";
  QStringList texts{typing->findChild<QToolButton*>("back")->text()};
  for (QWidget* w : page->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
    if (auto* table = qobject_cast<QTableView*>(w)) {
      for (int r = 0; r < table->model()->rowCount(); ++r)
        for (int c = 0; c < table->model()->columnCount(); ++c)
          texts << table->model()->index(r, c).data().toString();
    }
  }
  texts.removeAll(QString());
  return texts.join(" | ");
}

// A page open in the Typing tab switches language with the rest of the window: in the Bangla
// interface, a user who opened Correction Preferences, chose English in the General tab and came
// back found the page's title, explanation and button still in Bangla beside an English "Back".
TEST_F(SettingsWindowTest, AnOpenPageSwitchesLanguageWithTheWindow) {
  testing::writeBytes(AppSettings::selectionMemoryURL(),
                      R"({"selections":{"ami":{"text":"আমি","count":2}}})");
  testing::writeBytes(AppSettings::userRejectionsURL(), R"({"entries":{"ami":{"আমী":1}}})");
  AppSettings::setUiLanguage(0);
  PreferencesWindowController& controller = PreferencesWindowController::shared();
  controller.showWindow();
  QWidget* window = controller.window();
  QTabWidget* tabs = controller.rootView()->tabs();
  auto* typing = child<TypingTab>(window, "typing");
  const struct {
    const char* link;
    const char* bangla;
    const char* english;
  } pages[] = {
      {"correctionsLink",
       "ফিরে যান | সংশোধনের পছন্দ | আপনার বেছে নেওয়া শব্দ ও এড়িয়ে যাওয়া সাজেশন এখানে দেখা যায়। "
       "ভুল পছন্দ ভুলে যেতে পারেন। | ami | পছন্দ: আমি | এড়ানো: আমী | এই পছন্দ ভুলে যান",
       "Back | Correction Preferences | Review the words you chose and the suggestions you "
       "skipped. Forget an entry to stop using that preference. | ami | Chosen: আমি | Skipped: "
       "আমী | Forget this preference"},
      {"diagnosticsLink", "ফিরে যান | ডায়াগনস্টিকস | হালনাগাদ | শেয়ার",
       "Back | Diagnostics | Refresh | Share"},
  };
  for (const auto& page : pages) {
    SCOPED_TRACE(page.link);
    clickTab(tabs, QStringLiteral("টাইপিং"));
    click(child<QPushButton>(window, page.link));
    EXPECT_EQ(pageTexts(typing), QString::fromUtf8(page.bangla));
    clickTab(tabs, QStringLiteral("সাধারণ"));
    chooseByClicks(child<QComboBox>(window, "uiLanguage"), QStringLiteral("🇬🇧 English"));
    clickTab(tabs, QStringLiteral("Typing"));
    EXPECT_EQ(pageTexts(typing), QString::fromUtf8(page.english));
    // And back again.
    clickTab(tabs, QStringLiteral("General"));
    chooseByClicks(child<QComboBox>(window, "uiLanguage"), QStringLiteral("🇧🇩 বাংলা"));
    clickTab(tabs, QStringLiteral("টাইপিং"));
    EXPECT_EQ(pageTexts(typing), QString::fromUtf8(page.bangla));
    click(child<QToolButton>(window, "back"));
  }
  EXPECT_EQ(takeNotes().size(), 4);
  window->close();
}

TEST_F(SettingsWindowTest, TypingTabSwitchesStoreThenAnnounceOnce) {
  SettingsRootView view;
  view.show();
  view.tabs()->setCurrentIndex(1);
  const QString base = storeState();
  const struct {
    const char* name;
    const char* before;
    const char* after;
  } rows[] = {
      {"banglaDigits", "digits=1", "digits=0"},    {"inlineEmoji", "emoji=1", "emoji=0"},
      {"modernSpellings", "modern=0", "modern=1"}, {"predictiveText", "predict=0", "predict=1"},
      {"autocorrect", "auto=0", "auto=1"},         {"englishPassthrough", "esc=1", "esc=0"},
  };
  for (const auto& row : rows) {
    auto* box = child<QCheckBox>(&view, row.name);
    ASSERT_TRUE(base.contains(row.before)) << row.name;
    click(box);
    EXPECT_EQ(takeNotes(),
              QStringList{"post false " + QString(base).replace(row.before, row.after)})
        << row.name;
    click(box);
    EXPECT_EQ(takeNotes(), QStringList{"post false " + base}) << row.name;
  }
  // The spoken-forms choice stores a Bool and nothing else.
  auto* spoken = child<QComboBox>(&view, "spokenForms");
  EXPECT_EQ(spoken->currentText(), "Keep what I type");
  QTest::keyClick(spoken, Qt::Key_Down);
  EXPECT_EQ(takeNotes(),
            QStringList{"post false " + QString(base).replace("spoken=0", "spoken=1")});
  EXPECT_EQ(AppSettings::suite().object(AppSettings::kSpokenStandardKey), QVariant(true));
  QTest::keyClick(spoken, Qt::Key_Up);
  EXPECT_EQ(AppSettings::suite().object(AppSettings::kSpokenStandardKey), QVariant(false));
  EXPECT_EQ(takeNotes().size(), 1);
}

TEST_F(SettingsWindowTest, TypingTabLinksPushPagesAndToolsOpenWindows) {
  SettingsRootView view;
  view.show();
  view.tabs()->setCurrentIndex(1);
  auto* typing = child<TypingTab>(&view, "typing");
  click(child<QPushButton>(&view, "diagnosticsLink"));
  ASSERT_NE(qobject_cast<DiagnosticsView*>(typing->pushedPage()), nullptr);
  EXPECT_TRUE(typing->pushedPage()->isVisible());
  click(child<QToolButton>(&view, "back"));
  EXPECT_EQ(typing->pushedPage(), nullptr);
  click(child<QPushButton>(&view, "correctionsLink"));
  ASSERT_NE(qobject_cast<CorrectionPreferencesView*>(typing->pushedPage()), nullptr);
  EXPECT_TRUE(typing->pushedPage()->isVisible());
  click(child<QToolButton>(&view, "back"));
  EXPECT_TRUE(child<QPushButton>(&view, "diagnosticsLink")->isVisible());
  EXPECT_EQ(takeNotes(), QStringList());

  // Twice: the same help window, in front.
  click(child<QPushButton>(&view, "keyboardHelp"));
  QWidget* help = KeyboardHelpController::shared().window();
  EXPECT_TRUE(help->isVisible());
  click(child<QPushButton>(&view, "keyboardHelp"));
  EXPECT_EQ(KeyboardHelpController::shared().window(), help);
  help->close();
  click(child<QPushButton>(&view, "textShortcuts"));
  QWidget* shortcuts = TextShortcutsEditorController::shared().window();
  EXPECT_TRUE(shortcuts->isVisible());
  shortcuts->close();
  click(child<QPushButton>(&view, "customKeys"));
  QWidget* keys = CustomLayoutEditorController::shared().window();
  EXPECT_TRUE(keys->isVisible());
  keys->close();
  click(child<QPushButton>(&view, "typingInsights"));
  QWidget* insights = &TypingStatsWindowController::shared();
  EXPECT_TRUE(insights->isVisible());
  insights->close();
  EXPECT_EQ(takeNotes(), QStringList());
}

TEST_F(SettingsWindowTest, EachOpeningShowsTheOneWindowWithAFreshView) {
  AppSettings::setUiLanguage(0);
  PreferencesWindowController& controller = PreferencesWindowController::shared();
  EXPECT_EQ(&controller, &PreferencesWindowController::shared());
  QWidget* window = controller.window();
  controller.showWindow();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("তোলভানি"));
  EXPECT_EQ(window->size(), QSize(560, 460));
  SettingsRootView* first = controller.rootView();
  first->tabs()->setCurrentIndex(2);
  window->move(window->pos() + QPoint(40, 30));
  const QPoint moved = window->pos();
  AppSettings::setUiLanguage(1);
  AppSettings::setDefaultMode(KeyboardMode::national);
  controller.showWindow();
  EXPECT_EQ(controller.window(), window);
  EXPECT_NE(controller.rootView(), first);
  EXPECT_TRUE(controller.rootView()->isVisible());
  EXPECT_EQ(controller.rootView()->tabs()->currentIndex(), 0);
  EXPECT_EQ(window->windowTitle(), "Tolvani");
  EXPECT_EQ(window->pos(), moved);
  EXPECT_EQ(child<QComboBox>(window, "defaultLayout")->currentText(),
            QStringLiteral("তোলভানি জাতীয়"));
  // A layout switched elsewhere while the window is open shows at the next opening only.
  AppSettings::setDefaultMode(KeyboardMode::probhat);
  EXPECT_EQ(child<QComboBox>(window, "defaultLayout")->currentText(),
            QStringLiteral("তোলভানি জাতীয়"));
  AppSettings::setDefaultMode(KeyboardMode::national);
  // The title keeps its language until the next opening.
  QTest::keyClick(child<QComboBox>(window, "uiLanguage"), Qt::Key_Up);
  EXPECT_EQ(window->windowTitle(), "Tolvani");
  EXPECT_EQ(controller.rootView()->tabs()->tabText(0), QStringLiteral("সাধারণ"));
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(takeNotes().size(), 1);
}

// Every text fits its widget and stands out from its background, in both languages and in both
// palettes; the screenshots go into the build tree.
TEST_F(SettingsWindowTest, ScreenshotsOfEveryTabAndPage) {
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  testing::writeBytes(AppSettings::userDictionaryURL(),
                      R"({"words":{"আমি":{"frequency":3},"ভাত":{"frequency":1}}})");
  testing::writeBytes(AppSettings::selectionMemoryURL(),
                      R"({"selections":{"ami":{"text":"আমি","count":2},)"
                      R"("#standard:korchi":{"text":"করছি","count":1}}})");
  testing::writeBytes(AppSettings::userRejectionsURL(), R"({"entries":{"ami":{"আমী":1,"আমই":2}}})");
  // The picker shows a fixed layout, Unijoy.
  AppSettings::setDefaultMode(KeyboardMode::unijoy);
  const QPalette original = QApplication::palette();
  const QPalette dark = testing::darkPalette();
  const char* tabNames[] = {"general", "typing", "data", "about"};
  for (const QPalette* palette : {&original, &dark}) {
    QApplication::setPalette(*palette);
    for (int language : {0, 1}) {
      AppSettings::setUiLanguage(language);
      SettingsRootView view;
      view.show();
      // The learned-word count in the pictures.
      UserDictionaryWork::testWaitUntilDone();
      const QString suffix =
          QString(language == 0 ? "-bangla" : "-english") + (palette == &dark ? "-dark" : "");
      auto shoot = [&](const QString& name) {
        QApplication::processEvents();
        testing::expectTextsFitAndStandOut(&view, name);
        const QString path = folder + "/settings-" + name + suffix + ".png";
        EXPECT_TRUE(view.grab().save(path)) << path.toStdString();
      };
      for (int i = 0; i < 4; ++i) {
        view.tabs()->setCurrentIndex(i);
        shoot(tabNames[i]);
        // The rest of a tab that scrolls.
        for (QScrollArea* scroll : view.tabs()->currentWidget()->findChildren<QScrollArea*>()) {
          QScrollBar* bar = scroll->verticalScrollBar();
          if (!scroll->isVisible() || bar->maximum() == 0) continue;
          bar->setValue(bar->maximum());
          shoot(QString::fromLatin1(tabNames[i]) + "-end");
          bar->setValue(0);
        }
      }
      view.tabs()->setCurrentIndex(1);
      click(child<QPushButton>(&view, "diagnosticsLink"));
      shoot("diagnostics");
      click(child<QToolButton>(&view, "back"));
      click(child<QPushButton>(&view, "correctionsLink"));
      shoot("corrections");
      click(child<QToolButton>(&view, "back"));
    }
  }
  QApplication::setPalette(original);
  EXPECT_EQ(takeNotes(), QStringList());
}

}  // namespace
}  // namespace tolvani
