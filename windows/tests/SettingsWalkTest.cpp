// Every control of the settings window and of its editors, in the Bangla and in the English
// interface: each found by the text the user reads, pressed as a user presses it, the desktop's
// own boxes and file dialogs answered by their buttons and name field, and what it did checked
// where the user or the program sees it: the store, the files on disk, the list shown, the
// announcement and its "reloadUserData".
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "help/KeyboardHelpController.h"
#include "platform/testing/UrlCatcher.h"
#include "settings/AppSettingsUserData.h"
#include "settings/CustomLayoutFile.h"
#include "settings/DataBackup.h"
#include "settings/TextShortcuts.h"
#include "settings/UIStrings.h"
#include "stats/DiagnosticsView.h"
#include "stats/TypingStatsWindowController.h"
#include "windows/AboutTab.h"
#include "windows/CorrectionPreferencesView.h"
#include "windows/CustomLayoutEditor.h"
#include "windows/SettingsRootView.h"
#include "windows/TextShortcutsEditor.h"
#include "windows/TypingTab.h"
#include "windows/UserDictionaryEditor.h"
#include "windows/UserDictionaryWork.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

// A text as a button, tab or section title shows it: "&" is written "&&" there.
QString shown(QString text) { return text.replace(QStringLiteral("&&"), QStringLiteral("&")); }

// Every text `root` holds, shown or not: labels, buttons, section titles, tab titles, options,
// placeholders, tooltips and column headings.
QStringList textsOf(QWidget* root) {
  QStringList texts;
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << shown(button->text());
    if (auto* box = qobject_cast<QGroupBox*>(w)) texts << shown(box->title());
    if (auto* tabs = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < tabs->count(); ++i) texts << shown(tabs->tabText(i));
    if (auto* combo = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    if (auto* field = qobject_cast<QLineEdit*>(w)) texts << field->placeholderText();
    if (auto* table = qobject_cast<QTableView*>(w))
      for (int c = 0; c < table->model()->columnCount(); ++c)
        texts << table->model()->headerData(c, Qt::Horizontal).toString();
    if (!w->toolTip().isEmpty()) texts << w->toolTip();
  }
  return texts;
}

// The button in sight under `root` that reads `text`.
QAbstractButton* button(QWidget* root, const QString& text) {
  for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
    if (b->isVisible() && shown(b->text()) == text) return b;
  ADD_FAILURE() << "no button reads " << text.toStdString();
  return nullptr;
}

// Presses the button that reads `text`.
void press(QWidget* root, const QString& text) {
  if (QAbstractButton* b = button(root, text)) click(b);
}

// Chooses the option that reads `text` with the arrow keys.
void choose(QComboBox* combo, const QString& text) {
  const int wanted = combo->findText(text);
  ASSERT_GE(wanted, 0) << text.toStdString();
  combo->setFocus();
  while (combo->currentIndex() < wanted) QTest::keyClick(combo, Qt::Key_Down);
  while (combo->currentIndex() > wanted) QTest::keyClick(combo, Qt::Key_Up);
}

// Clicks the tab that reads `text`.
void openTab(QTabWidget* tabs, const QString& text) {
  QTabBar* bar = tabs->tabBar();
  for (int i = 0; i < bar->count(); ++i) {
    if (shown(bar->tabText(i)) != text) continue;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
    EXPECT_EQ(tabs->currentIndex(), i);
    return;
  }
  ADD_FAILURE() << "no tab reads " << text.toStdString();
}

// The rows of a table as shown, the cells of a row joined by "=".
QString rows(QTableView* table) {
  QStringList out;
  const QAbstractItemModel* m = table->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < m->columnCount(); ++c) cells << m->index(r, c).data().toString();
    out << cells.join('=');
  }
  return out.join(' ');
}

void selectRow(QTableView* table, const QString& first, bool add = false) {
  const QAbstractItemModel* m = table->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    if (m->index(r, 0).data().toString() != first) continue;
    QTest::mouseClick(table->viewport(), Qt::LeftButton,
                      add ? Qt::ControlModifier : Qt::KeyboardModifiers(),
                      table->visualRect(m->index(r, 0)).center());
    return;
  }
  ADD_FAILURE() << "no row " << first.toStdString();
}

class SettingsWalkTest : public testing::LearnedDataTest,
                         public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::registerDefaults();
    AppSettings::setUiLanguage(GetParam());
    dialogs::testSetDialogs(nullptr);
    ASSERT_TRUE(files_.isValid());
  }
  void TearDown() override {
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    LearnedDataTest::TearDown();
  }

  bool bangla() const { return GetParam() == 0; }
  // The Bangla text in the Bangla interface, else the English one.
  QString t(const char* english, const char* bangla) const {
    return QString::fromUtf8(this->bangla() ? bangla : english);
  }
  // Fails for each of `expected` that `root` does not show.
  static void expectTexts(QWidget* root, const QStringList& expected) {
    const QStringList texts = textsOf(root);
    for (const QString& text : expected)
      EXPECT_TRUE(texts.contains(text)) << "missing text: " << text.toStdString();
  }
  std::vector<bool> takePosts() { return std::exchange(posts_, {}); }

  // Answers the next file dialog as a user does: `path` pasted into its name field, then its
  // "Save" or "Open" button pressed. `proposed` receives the name the dialog offered.
  static void answerFileDialog(const QString& path, QString* proposed = nullptr) {
    testing::answerModal<QFileDialog>([path, proposed](QFileDialog* dialog) {
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (name == nullptr) {
        ADD_FAILURE() << "a file dialog without a name field";
        dialog->reject();
        return;
      }
      if (proposed) *proposed = name->text();
      // Pasted whole: typed one character at a time, the dialog would select each folder on the
      // way in its list, and that selection, not the typed name, is what it would accept.
      QGuiApplication::clipboard()->setText(path);
      name->selectAll();
      QTest::keySequence(name, QKeySequence::Paste);
      QPushButton* accept = nullptr;
      if (auto* box = dialog->findChild<QDialogButtonBox*>())
        for (QAbstractButton* b : box->buttons())
          if (box->buttonRole(b) == QDialogButtonBox::AcceptRole)
            accept = qobject_cast<QPushButton*>(b);
      if (accept == nullptr) {
        ADD_FAILURE() << "a file dialog without an accepting button";
        dialog->reject();
        return;
      }
      QTest::mouseClick(accept, Qt::LeftButton);
      if (dialog->isVisible()) {
        ADD_FAILURE() << "the file dialog stayed up for " << path.toStdString();
        dialog->reject();
      }
    });
  }
  // Answers the next box by clicking its button that reads `button`; `text` receives what the
  // box said (title, then the informative text when there is one).
  static void answerBox(const QString& buttonText, QString* text) {
    testing::answerModal<QMessageBox>([buttonText, text](QMessageBox* box) {
      *text = box->text();
      if (!box->informativeText().isEmpty()) *text += " / " + box->informativeText();
      for (QAbstractButton* b : box->buttons()) {
        if (b->text() != buttonText) continue;
        QTest::mouseClick(b, Qt::LeftButton);
        return;
      }
      ADD_FAILURE() << "no box button reads " << buttonText.toStdString();
      box->reject();
    });
  }

  QTemporaryDir files_;
};

INSTANTIATE_TEST_SUITE_P(Languages, SettingsWalkTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 0 ? "Bangla" : "English");
                         });

TEST_P(SettingsWalkTest, GeneralTabEveryControl) {
  SettingsRootView view;
  view.show();
  auto* tabs = view.findChild<QTabWidget*>(QStringLiteral("tabs"));
  EXPECT_EQ(shown(tabs->tabText(0)) + "|" + shown(tabs->tabText(1)) + "|" +
                shown(tabs->tabText(2)) + "|" + shown(tabs->tabText(3)),
            t("General|Typing|Data|About", "সাধারণ|টাইপিং|ডেটা|সম্পর্কে"));
  openTab(tabs, t("Data", "ডেটা"));
  openTab(tabs, t("General", "সাধারণ"));
  expectTexts(&view, {t("Layout", "লেআউট"), t("Default layout", "ডিফল্ট লেআউট"),
                      t("Interface language", "ভাষা (ইন্টারফেস)"), t("Suggestions", "সাজেশন"),
                      t("Show suggestions", "সাজেশন দেখান"), t("Candidates shown", "প্রার্থীর সংখ্যা"),
                      t("Panel theme", "প্যানেল থিম")});
  auto* layout = view.findChild<QComboBox*>(QStringLiteral("defaultLayout"));
  auto* language = view.findChild<QComboBox*>(QStringLiteral("uiLanguage"));
  auto* theme = view.findChild<QComboBox*>(QStringLiteral("panelTheme"));
  auto* count = view.findChild<QSpinBox*>(QStringLiteral("suggestionCount"));
  ASSERT_TRUE(layout && language && theme && count);
  // The layout titles and the languages' own names are the same in both interfaces.
  QStringList options;
  for (QComboBox* combo : {layout, language, theme})
    for (int i = 0; i < combo->count(); ++i) options << combo->itemText(i);
  EXPECT_EQ(
      options.join('|'),
      "তোলভানি ফোনেটিক|তোলভানি প্রভাত|তোলভানি জাতীয়|তোলভানি ইউনিজয়|🇧🇩 বাংলা|🇬🇧 English|" +
          t("System (Auto)|Always Dark|Always Light", "সিস্টেম (স্বয়ংক্রিয়)|সবসময় ডার্ক|সবসময় লাইট"));

  choose(layout, QStringLiteral("তোলভানি জাতীয়"));
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::national);
  EXPECT_EQ(takePosts(), std::vector<bool>({false, false}));  // one step at a time
  choose(layout, QStringLiteral("তোলভানি ইউনিজয়"));
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::unijoy);
  EXPECT_EQ(takePosts(), std::vector<bool>{false});
  choose(theme, t("Always Light", "সবসময় লাইট"));
  EXPECT_EQ(AppSettings::panelAppearance(), 2);
  EXPECT_EQ(takePosts(), std::vector<bool>({false, false}));
  QTest::keyClick(count, Qt::Key_Up);
  EXPECT_EQ(AppSettings::suggestionCount(), 6);
  EXPECT_EQ(takePosts(), std::vector<bool>{false});
  auto* suggestions =
      qobject_cast<QCheckBox*>(button(&view, t("Show suggestions", "সাজেশন দেখান")));
  ASSERT_NE(suggestions, nullptr);
  click(suggestions);
  EXPECT_FALSE(AppSettings::suggestionsEnabled());
  EXPECT_FALSE(count->isEnabled());
  click(suggestions);
  EXPECT_TRUE(AppSettings::suggestionsEnabled());
  EXPECT_EQ(AppSettings::suggestionCount(), 6);
  EXPECT_EQ(takePosts(), std::vector<bool>({false, false}));

  // The other language: every text of the window follows at once.
  const QString other = bangla() ? QStringLiteral("🇬🇧 English") : QStringLiteral("🇧🇩 বাংলা");
  choose(language, other);
  EXPECT_EQ(AppSettings::uiLanguage(), bangla() ? 1 : 0);
  EXPECT_EQ(takePosts(), std::vector<bool>{false});
  EXPECT_EQ(shown(tabs->tabText(0)), bangla() ? "General" : "সাধারণ");
  EXPECT_EQ(shown(suggestions->text()), bangla() ? "Show suggestions" : "সাজেশন দেখান");
}

TEST_P(SettingsWalkTest, TypingTabEveryControl) {
  SettingsRootView view;
  view.show();
  openTab(view.findChild<QTabWidget*>(QStringLiteral("tabs")), t("Typing", "টাইপিং"));
  expectTexts(&view, {t("Input behavior", "লিখনরীতি"), t("Tools", "টুলস"),
                      t("Spoken forms (করতেছি)", "কথ্য রূপ (করতেছি)"),
                      t("Keep what I type", "যেমন লিখি তেমন"),
                      t("Suggest standard", "প্রমিত রূপ সাজেস্ট করুন"), UIStrings::shortcutTip()});

  // Each switch, found by its text: stored, then announced once, both ways.
  const struct {
    const char* english;
    const char* bangla;
    std::function<bool()> stored;
  } switches[] = {
      {"Bangla digits ০-৯", "বাংলা সংখ্যা ০-৯", [] { return AppSettings::banglaDigitsEnabled(); }},
      {"Emoji suggestions", "ইমোজি সাজেশন", [] { return AppSettings::inlineEmojiEnabled(); }},
      {"Prefer modern spellings", "আধুনিক বানান পছন্দ করুন",
       [] { return AppSettings::enginePreferences().preferModernSpellings; }},
      {"Next-word predictions", "পরের শব্দের সাজেশন",
       [] { return AppSettings::predictiveTextEnabled(); }},
      {"Autocorrect", "স্বয়ংক্রিয় সংশোধন", [] { return AppSettings::autocorrectEnabled(); }},
      {"Escape commits English text", "Escape চাপলে ইংরেজি কমিট হবে",
       [] { return AppSettings::englishPassthroughEnabled(); }},
  };
  for (const auto& s : switches) {
    auto* box = qobject_cast<QCheckBox*>(button(&view, t(s.english, s.bangla)));
    ASSERT_NE(box, nullptr) << s.english;
    const bool before = s.stored();
    EXPECT_EQ(box->isChecked(), before) << s.english;
    click(box);
    EXPECT_EQ(s.stored(), !before) << s.english;
    click(box);
    EXPECT_EQ(s.stored(), before) << s.english;
    EXPECT_EQ(takePosts(), std::vector<bool>({false, false})) << s.english;
  }
  choose(view.findChild<QComboBox*>(QStringLiteral("spokenForms")),
         t("Suggest standard", "প্রমিত রূপ সাজেস্ট করুন"));
  EXPECT_TRUE(AppSettings::enginePreferences().offerSpokenStandard);
  choose(view.findChild<QComboBox*>(QStringLiteral("spokenForms")),
         t("Keep what I type", "যেমন লিখি তেমন"));
  EXPECT_FALSE(AppSettings::enginePreferences().offerSpokenStandard);
  EXPECT_EQ(takePosts(), std::vector<bool>({false, false}));

  // The two links push their pages, titled in the interface's language; Back returns.
  auto* typing = view.findChild<TypingTab*>(QStringLiteral("typing"));
  press(&view, t("Diagnostics", "ডায়াগনস্টিকস"));
  EXPECT_NE(qobject_cast<DiagnosticsView*>(typing->pushedPage()), nullptr);
  press(&view, t("Back", "ফিরে যান"));
  EXPECT_EQ(typing->pushedPage(), nullptr);
  press(&view, t("Correction Preferences", "সংশোধনের পছন্দ"));
  ASSERT_NE(qobject_cast<CorrectionPreferencesView*>(typing->pushedPage()), nullptr);
  EXPECT_EQ(typing->pushedPage()->findChild<QLabel*>(QStringLiteral("title"))->text(),
            t("Correction Preferences", "সংশোধনের পছন্দ"));
  press(&view, t("Back", "ফিরে যান"));
  EXPECT_EQ(typing->pushedPage(), nullptr);

  // The four tools open their windows; the custom-key editor is English in both interfaces.
  press(&view, t("Custom Keys Editor", "কাস্টম কী এডিটর"));
  QWidget* keys = CustomLayoutEditorController::shared().window();
  EXPECT_TRUE(keys->isVisible());
  EXPECT_EQ(keys->windowTitle(), "Custom Key Mappings");
  keys->close();
  press(&view, t("Text Shortcuts", "টেক্সট শর্টকাট"));
  QWidget* shortcuts = TextShortcutsEditorController::shared().window();
  EXPECT_TRUE(shortcuts->isVisible());
  EXPECT_EQ(shortcuts->windowTitle(), t("Text Shortcuts", "টেক্সট শর্টকাট"));
  shortcuts->close();
  press(&view, t("Typing Insights", "টাইপিং পরিসংখ্যান"));
  EXPECT_TRUE(TypingStatsWindowController::shared().isVisible());
  TypingStatsWindowController::shared().close();
  press(&view, t("Keyboard Help", "কীবোর্ড সহায়িকা"));
  EXPECT_TRUE(KeyboardHelpController::shared().window()->isVisible());
  KeyboardHelpController::shared().window()->close();
  EXPECT_EQ(takePosts(), std::vector<bool>());
}

TEST_P(SettingsWalkTest, CorrectionPreferencesPageForgetsAndReportsAFailure) {
  testing::writeBytes(AppSettings::selectionMemoryURL(),
                      R"({"reset_id":"s","selections":{"ami":{"text":"আমি","count":2},)"
                      R"("bhat":{"text":"ভাত","count":1}}})");
  testing::writeBytes(AppSettings::userRejectionsURL(),
                      R"({"reset_id":"r","entries":{"ami":{"আমী":1}}})");
  SettingsRootView view;
  view.show();
  openTab(view.findChild<QTabWidget*>(QStringLiteral("tabs")), t("Typing", "টাইপিং"));
  press(&view, t("Correction Preferences", "সংশোধনের পছন্দ"));
  QWidget* page = view.findChild<TypingTab*>(QStringLiteral("typing"))->pushedPage();
  ASSERT_NE(page, nullptr);
  expectTexts(page, {t("Review the words you chose and the suggestions you skipped. Forget an "
                       "entry to stop using that preference.",
                       "আপনার বেছে নেওয়া শব্দ ও এড়িয়ে যাওয়া সাজেশন এখানে দেখা যায়। ভুল পছন্দ "
                       "ভুলে যেতে পারেন।")});
  auto* table = page->findChild<QTableView*>(QStringLiteral("preferences"));
  EXPECT_EQ(rows(table), t("ami=Chosen: আমি=Skipped: আমী bhat=Chosen: ভাত=",
                           "ami=পছন্দ: আমি=এড়ানো: আমী bhat=পছন্দ: ভাত="));
  QTest::keyClicks(page->findChild<QLineEdit*>(QStringLiteral("search")), "BH");
  selectRow(table, "bhat");
  press(page, t("Forget this preference", "এই পছন্দ ভুলে যান"));
  EXPECT_EQ(takePosts(), std::vector<bool>{true});
  EXPECT_EQ(rows(table), "");
  EXPECT_EQ(AppSettings::correctionPreferences().size(), 1u);

  // Files that cannot be changed: the desktop's alert, in the interface's language.
  testing::writeBytes(AppSettings::userRejectionsURL(), "{}");
  page->findChild<QLineEdit*>(QStringLiteral("search"))->clear();
  selectRow(table, "ami");
  QString said;
  answerBox(t("OK", "ঠিক আছে"), &said);
  press(page, t("Forget this preference", "এই পছন্দ ভুলে যান"));
  EXPECT_EQ(said, t("Could not save changes", "সংরক্ষণ করা যায়নি"));
  EXPECT_EQ(takePosts(), std::vector<bool>{true});
}

TEST_P(SettingsWalkTest, DataTabEveryButtonThroughTheDesktopsBoxes) {
  testing::writeBytes(AppSettings::userDictionaryURL(),
                      R"({"words":{"আমি":{"frequency":3},"ভাত":{"frequency":1}}})");
  AppSettings::setTextShortcuts({{"brb", "be right back"}});
  SettingsRootView view;
  view.show();
  openTab(view.findChild<QTabWidget*>(QStringLiteral("tabs")), t("Data", "ডেটা"));
  expectTexts(&view, {t("Memory & Privacy", "মেমরি ও গোপনীয়তা"), t("Learned words", "শেখা শব্দ"),
                      t("Backup", "ব্যাকআপ"), t("Fully Offline", "সম্পূর্ণ অফলাইন"),
                      UIStrings::backupDescription(), UIStrings::footnote()});
  auto* count = view.findChild<QLabel*>(QStringLiteral("learnedWordCount"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(count->text(), "2");

  // Edit Dictionary: the editor's one window.
  press(&view, t("Edit Dictionary...", "অভিধান সম্পাদনা..."));
  QWidget* dictionary = UserDictionaryEditorController::shared().window();
  EXPECT_TRUE(dictionary->isVisible());
  dictionary->close();

  // Open Data Folder: the folder handed to the desktop's file viewer.
  testing::UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
  press(&view, t("Open Data Folder", "ডেটা ফোল্ডার খুলুন"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(AppSettings::supportDirectoryURL())});
  EXPECT_EQ(takePosts(), std::vector<bool>());

  // Export Learned Words…: the file on disk holds the words.
  const QString backup = files_.filePath("words.json");
  QString proposed, said;
  answerFileDialog(backup, &proposed);
  answerBox(t("OK", "ঠিক আছে"), &said);
  press(&view, t("Export Learned Words…", "শেখা শব্দ এক্সপোর্ট…"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(proposed, "tolvani-backup.json");
  EXPECT_EQ(said, UIStrings::savedFile("words.json"));
  EXPECT_NE(testing::readBytes(backup).find("ভাত"), std::string::npos);

  // Reset Learned Data: Cancel keeps everything; Reset empties it and says so.
  const QString question =
      t("Are you sure? / This will permanently delete learned words, candidate choices, and "
        "personal ranking. This action cannot be undone.",
        "আপনি কি নিশ্চিত? / এটি শেখা শব্দ, প্রার্থী পছন্দ এবং ব্যক্তিগত র\u200D্যাঙ্কিং স্থায়ীভাবে মুছে "
        "ফেলবে। এই ক্রিয়া পূর্বাবস্থায় ফেরানো যাবে না।");
  answerBox(t("Cancel", "বাতিল"), &said);
  press(&view, t("Reset Learned Data", "শেখা ডেটা মুছুন"));
  EXPECT_EQ(said, question);
  EXPECT_EQ(AppSettings::learnedWordCount(), 2);
  EXPECT_EQ(takePosts(), std::vector<bool>());
  answerBox(t("Reset", "রিসেট"), &said);
  press(&view, t("Reset Learned Data", "শেখা ডেটা মুছুন"));
  EXPECT_EQ(said, question);
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(AppSettings::learnedWordCount(), 0);
  EXPECT_EQ(count->text(), "0");
  // Once before the files change and once after.
  EXPECT_EQ(takePosts(), (std::vector<bool>{true, true}));

  // Import Learned Words…: the backup's words come back and the count shows them.
  answerFileDialog(backup);
  answerBox(t("OK", "ঠিক আছে"), &said);
  press(&view, t("Import Learned Words…", "শেখা শব্দ ইমপোর্ট…"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(said, UIStrings::learnedWordsImported(2));
  EXPECT_EQ(count->text(), "2");
  EXPECT_EQ(takePosts(), std::vector<bool>{true});

  // Export and Import Text Shortcuts…: the set goes to a file and comes back from it.
  const QString shortcutsFile = files_.filePath("shortcuts.json");
  answerFileDialog(shortcutsFile, &proposed);
  answerBox(t("OK", "ঠিক আছে"), &said);
  press(&view, t("Export Text Shortcuts…", "টেক্সট শর্টকাট এক্সপোর্ট…"));
  EXPECT_EQ(proposed, "Tolvani Shortcuts.json");
  EXPECT_EQ(said, UIStrings::savedFile("shortcuts.json"));
  EXPECT_EQ(testing::readBytes(shortcutsFile), AppSettings::exportTextShortcuts().toStdString());
  AppSettings::setTextShortcuts({});
  // The text shortcuts editor, open meanwhile, shows what the import brings.
  auto* tabs = view.findChild<QTabWidget*>(QStringLiteral("tabs"));
  openTab(tabs, t("Typing", "টাইপিং"));
  press(&view, t("Text Shortcuts", "টেক্সট শর্টকাট"));
  auto* editorList = TextShortcutsEditorController::shared().view()->findChild<QTableView*>(
      QStringLiteral("shortcuts"));
  EXPECT_EQ(rows(editorList), "");
  openTab(tabs, t("Data", "ডেটা"));
  answerFileDialog(shortcutsFile);
  answerBox(t("OK", "ঠিক আছে"), &said);
  press(&view, t("Import Text Shortcuts…", "টেক্সট শর্টকাট ইমপোর্ট…"));
  EXPECT_EQ(said, UIStrings::shortcutsImported(1, 0));
  EXPECT_EQ(AppSettings::textShortcuts(), (QMap<QString, QString>{{"brb", "be right back"}}));
  EXPECT_EQ(rows(editorList), "brb=be right back");
  TextShortcutsEditorController::shared().window()->close();
  EXPECT_EQ(takePosts(), std::vector<bool>{false});
  EXPECT_EQ(count->text(), "2");
}

TEST_P(SettingsWalkTest, AboutTabLinksAndShare) {
  SettingsRootView view;
  view.show();
  openTab(view.findChild<QTabWidget*>(QStringLiteral("tabs")), t("About", "সম্পর্কে"));
  expectTexts(&view, {t("Tolvani", "তোলভানি"), t("Developer", "ডেভেলপার"),
                      t("Install on iPhone", "iPhone-এ ইনস্টল করুন"),
                      t("Scan with an iPhone or send the link to a friend. The same page will "
                        "install from the App Store when the listing is live.",
                        "iPhone দিয়ে স্ক্যান করুন বা বন্ধুকে লিংক পাঠান। App Store link প্রকাশ হলে "
                        "একই পেজ থেকে ইনস্টল হবে।")});
  EXPECT_EQ(view.findChild<QWidget*>(QStringLiteral("qrCode"))->accessibleName(),
            t("QR code for the iPhone install page", "iPhone install পেজের QR কোড"));
  testing::UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  QDesktopServices::setUrlHandler("mailto", &catcher, "open");
  press(&view, t("Check for Updates...", "নতুন সংস্করণ আছে কি না দেখুন..."));
  press(&view, QStringLiteral("tolvani.org"));
  press(&view, t("Facebook Page", "Facebook পেজ"));
  press(&view, QStringLiteral("support@tolvani.org"));
  press(&view, t("Open Install Page", "ইনস্টল পেজ খুলুন"));
  QDesktopServices::unsetUrlHandler("https");
  QDesktopServices::unsetUrlHandler("mailto");
  EXPECT_EQ(catcher.urls,
            QList<QUrl>({AppSettings::updateCheckURL(), AboutTab::developerWebsiteURL(),
                         AboutTab::facebookPageURL(), AboutTab::supportEmailURL(),
                         AboutTab::installOniPhoneURL()}));
  QGuiApplication::clipboard()->clear();
  press(&view, t("Share Install Link", "ইনস্টল লিংক শেয়ার করুন"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), AboutTab::installOniPhoneURL().toString());
  EXPECT_EQ(takePosts(), std::vector<bool>());
}

TEST_P(SettingsWalkTest, TextShortcutsEditorEveryButton) {
  TextShortcutsEditorController& controller = TextShortcutsEditorController::shared();
  controller.showWindow();
  QWidget* window = controller.window();
  expectTexts(window,
              {t("Text Shortcuts", "টেক্সট শর্টকাট"),
               t("Type a shortcut and press Space to insert the full phrase.",
                 "শর্টকাট টাইপ করে স্পেস চাপলে পুরো লেখাটি বসে যাবে।"),
               t("Shortcut", "শর্টকাট"), t("Expansion", "সম্প্রসারণ"),
               t("Shortcut (e.g. brb)", "শর্টকাট (যেমন brb)"), t("Expanded text", "সম্প্রসারিত লেখা"),
               UIStrings::dynamicShortcutsHint(), UIStrings::shortcutsFileFormats(),
               t("Restore Defaults", "ডিফল্ট ফিরিয়ে আনুন")});
  auto* table = window->findChild<QTableView*>(QStringLiteral("shortcuts"));
  EXPECT_TRUE(rows(table).startsWith("brb=আমি একটু পরে আসছি gm="));

  // Add: typed, then the button; Return adds nothing.
  auto* key = window->findChild<QLineEdit*>(QStringLiteral("newKey"));
  auto* expansion = window->findChild<QLineEdit*>(QStringLiteral("newExpansion"));
  QTest::keyClicks(key, "OMW");
  testing::typeText(expansion, QStringLiteral("আসছি"));
  QTest::keyClick(expansion, Qt::Key_Return);
  EXPECT_FALSE(AppSettings::textShortcuts().contains("omw"));
  press(window, t("Add", "যোগ"));
  EXPECT_EQ(AppSettings::textShortcuts().value("omw"), QStringLiteral("আসছি"));
  EXPECT_EQ(key->text(), "");

  // A row's expansion edited in place is stored at each keystroke, wherever the cursor is.
  const QModelIndex gm = table->model()->index(1, 1);
  ASSERT_EQ(table->model()->index(1, 0).data().toString(), "gm");
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(gm).center());
  QTest::keyClick(table, Qt::Key_F2);
  QLineEdit* cell = nullptr;
  for (QLineEdit* e : table->viewport()->findChildren<QLineEdit*>())
    if (e->isVisible()) cell = e;
  ASSERT_NE(cell, nullptr);
  cell->selectAll();
  QTest::keyClicks(cell, "morning");
  EXPECT_EQ(AppSettings::textShortcuts().value("gm"), "morning");
  QTest::keyClick(cell, Qt::Key_Home);
  QTest::keyClicks(cell, "good ");
  EXPECT_EQ(AppSettings::textShortcuts().value("gm"), "good morning");
  // A settings change made elsewhere reloads the list mid-edit: nothing typed is lost.
  AppSettings::postDidChange(false);
  EXPECT_EQ(table->model()->index(1, 1).data().toString(), "good morning");
  takePosts();

  // Delete: the selected rows go from the list and the store.
  selectRow(table, "brb");
  selectRow(table, "omw", true);
  press(window, t("Delete", "মুছুন"));
  EXPECT_FALSE(AppSettings::textShortcuts().contains("brb"));
  EXPECT_FALSE(AppSettings::textShortcuts().contains("omw"));
  EXPECT_FALSE(rows(table).contains("omw="));
  EXPECT_EQ(table->model()->rowCount(), 6);

  // Export: the list as stored, in a file.
  const QString exported = files_.filePath("mine.json");
  QString proposed, said;
  answerFileDialog(exported, &proposed);
  answerBox(t("OK", "ঠিক আছে"), &said);
  press(window, t("Export Text Shortcuts…", "টেক্সট শর্টকাট এক্সপোর্ট…"));
  EXPECT_EQ(proposed, "Tolvani Shortcuts.json");
  EXPECT_EQ(said, UIStrings::savedFile("mine.json"));
  EXPECT_EQ(testing::readBytes(exported), AppSettings::exportTextShortcuts().toStdString());

  // Restore Defaults: the seven built-in ones.
  press(window, t("Restore Defaults", "ডিফল্ট ফিরিয়ে আনুন"));
  EXPECT_EQ(table->model()->rowCount(), 7);
  EXPECT_TRUE(rows(table).startsWith("brb=আমি একটু পরে আসছি gm="));
  EXPECT_EQ(takePosts(), std::vector<bool>());  // the editor's own edits are announced to nobody

  // Import: the file's shortcuts join the list shown.
  testing::writeBytes(files_.filePath("more.csv"), "otw,on the way\n");
  answerFileDialog(files_.filePath("more.csv"));
  answerBox(t("OK", "ঠিক আছে"), &said);
  press(window, t("Import Text Shortcuts…", "টেক্সট শর্টকাট ইমপোর্ট…"));
  EXPECT_EQ(said, UIStrings::shortcutsImported(1, 0));
  EXPECT_TRUE(rows(table).contains("otw=on the way"));
  EXPECT_EQ(takePosts(), std::vector<bool>{false});
  window->close();
}

TEST_P(SettingsWalkTest, UserDictionaryEditorEveryControl) {
  testing::writeBytes(AppSettings::userDictionaryURL(),
                      R"({"words":{"আমি":{"frequency":3},"ভাত":{"frequency":1}}})");
  // Its texts are read when it is built.
  UserDictionaryEditor editor;
  editor.reload();
  editor.show();
  EXPECT_EQ(editor.windowTitle(), t("User Dictionary", "ব্যবহারকারীর অভিধান"));
  expectTexts(&editor, {t("Search words...", "শব্দ খুঁজুন..."), t("Word", "শব্দ"), t("Uses", "ব্যবহার"),
                        t("Add a word...", "একটি শব্দ যোগ করুন...")});
  auto* table = editor.findChild<QTableView*>(QStringLiteral("words"));
  auto* countLine = editor.findChild<QLabel*>(QStringLiteral("count"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(countLine->text(), t("2 of 2 words", "2 টির মধ্যে 2 টি শব্দ"));

  // Add by the button and by Return.
  auto* field = editor.findChild<QLineEdit*>(QStringLiteral("addWord"));
  testing::typeText(field, QStringLiteral("নতুন"));
  press(&editor, t("Add", "যোগ"));
  testing::typeText(field, QStringLiteral("ভাত"));
  QTest::keyClick(field, Qt::Key_Return);
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(rows(table), "আমি=3 ভাত=2 নতুন=1");
  EXPECT_EQ(takePosts(), std::vector<bool>({true, true}));

  // Search, then remove what it shows.
  testing::typeText(editor.findChild<QLineEdit*>(QStringLiteral("search")), QStringLiteral("ন"));
  EXPECT_EQ(rows(table), "নতুন=1");
  EXPECT_EQ(countLine->text(), t("1 of 3 words", "3 টির মধ্যে 1 টি শব্দ"));
  selectRow(table, QStringLiteral("নতুন"));
  press(&editor, t("Remove Selected", "নির্বাচিত মুছুন"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(takePosts(), std::vector<bool>{true});
  EXPECT_EQ(AppSettings::learnedWordCount(), 2);
  EXPECT_EQ(countLine->text(), t("0 of 2 words", "2 টির মধ্যে 0 টি শব্দ"));

  // A header click sorts by word.
  editor.findChild<QLineEdit*>(QStringLiteral("search"))->clear();
  QHeaderView* header = table->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 10, header->height() / 2));
  EXPECT_EQ(rows(table), "আমি=3 ভাত=2");
}

// The custom-key editor speaks English whatever the interface language; its three buttons rewrite
// the file and announce it with reloadUserData.
TEST_P(SettingsWalkTest, CustomKeysEditorEveryButton) {
  CustomLayoutEditorController::shared().showWindow();
  QWidget* window = CustomLayoutEditorController::shared().window();
  expectTexts(window, {"Custom Key Mappings", "Key", "Layer", "Output", "Key (e.g. a)",
                       QStringLiteral("Output (e.g. ক)"), "default", "shift", "alt", "shift_alt",
                       "Override key mappings for fixed layouts (Probhat/National/Unijoy). These "
                       "overrides are applied on top of the default layout."});
  auto* table = window->findChild<QTableView*>(QStringLiteral("mappings"));
  testing::typeText(window->findChild<QLineEdit*>(QStringLiteral("key")), QStringLiteral("k"));
  choose(window->findChild<QComboBox*>(QStringLiteral("layer")), QStringLiteral("alt"));
  testing::typeText(window->findChild<QLineEdit*>(QStringLiteral("output")), QStringLiteral("ক্ষ"));
  press(window, QStringLiteral("Add"));
  EXPECT_EQ(rows(table), QStringLiteral("k=alt=ক্ষ"));
  EXPECT_EQ(CustomLayoutFile::read().overrides.at(QStringLiteral("alt")).at(QStringLiteral("k")),
            QStringLiteral("ক্ষ"));
  selectRow(table, QStringLiteral("k"));
  press(window, QStringLiteral("Remove Selected"));
  EXPECT_EQ(rows(table), "");
  EXPECT_TRUE(CustomLayoutFile::read().overrides.at(QStringLiteral("alt")).empty());
  press(window, QStringLiteral("Reset All"));
  EXPECT_FALSE(QFile::exists(CustomLayoutFile::path()));
  EXPECT_EQ(takePosts(), std::vector<bool>({true, true, true}));
  window->close();
}

}  // namespace
}  // namespace tolvani
