// The Data tab over a real user-data folder, driven by clicks: the learned-word count and when it
// is read again, the reset after its confirmation and the cancelled one, the four backup buttons
// through the file dialogs over the settings window, and the data folder handed to the desktop;
// then the settings window itself exporting, importing a large backup and resetting, each off the
// main thread with the learned-data buttons disabled meanwhile, in every Data tab.
#include "windows/DataTab.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QUrl>
#include <future>
#include <memory>
#include <set>

#include "platform/testing/UrlCatcher.h"
#include "settings/AppSettingsUserData.h"
#include "settings/BackupPanels.h"
#include "settings/TextShortcuts.h"
#include "tolvani_engine.h"
#include "windows/PreferencesWindowController.h"
#include "windows/SettingsRootView.h"
#include "windows/UserDictionaryEditor.h"
#include "windows/UserDictionaryWork.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;
using testing::UrlCatcher;

class DataTabTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::setUiLanguage(1);
    dialogs::testSetDialogs(&dialogs_);
    ASSERT_TRUE(files_.isValid());
    tab_.resize(560, 420);
    tab_.show();
    dialogs_.expectedParent = tab_.window();
  }
  void TearDown() override {
    dialogs::testSetDialogs(nullptr);
    EXPECT_TRUE(dialogs_.files.empty() && dialogs_.confirmations.empty()) << "unused answers";
    LearnedDataTest::TearDown();
  }

  // The count as shown once the reads asked for so far have come back.
  QString count() const {
    UserDictionaryWork::testWaitUntilDone();
    return tab_.findChild<QLabel*>("learnedWordCount")->text();
  }
  void press(const char* name) { click(tab_.findChild<QPushButton*>(name)); }
  QStringList takeEvents() { return std::exchange(dialogs_.events, {}); }
  static std::string stores() {
    return testing::folderState(AppSettings::supportDirectoryURL(), {QStringLiteral("*.json")});
  }

  testing::ScriptedDialogs dialogs_;
  QTemporaryDir files_;
  DataTab tab_;
};

TEST_F(DataTabTest, ResetAfterConfirmationAndCancel) {
  EXPECT_EQ(count(), "0");  // no dictionary yet
  testing::writeBytes(AppSettings::userDictionaryURL(),
                      R"({"words":{"আমি":{"frequency":3},"ভাত":{"frequency":1}},)"
                      R"("tombstones":{"তুমি":5}})");
  EXPECT_EQ(count(), "0");  // read only at its moments
  tab_.reload();
  EXPECT_EQ(count(), "2");
  const std::string before = stores();

  const QString confirmation =
      "confirm Are you sure? / This will permanently delete learned words, candidate choices, "
      "and personal ranking. This action cannot be undone. [Reset|Cancel]";
  dialogs_.confirmations = {false};
  press("resetLearnedData");
  EXPECT_EQ(takeEvents(), QStringList{confirmation});
  EXPECT_EQ(stores(), before);
  EXPECT_EQ(count(), "2");
  EXPECT_TRUE(posts_.empty());

  dialogs_.confirmations = {true};
  press("resetLearnedData");
  EXPECT_EQ(takeEvents(), QStringList{confirmation});
  EXPECT_EQ(count(), "0");
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));  // when confirmed, and when done
  EXPECT_EQ(AppSettings::learnedWordCount(), 0);
}

// The Bangla message holds a zero-width joiner between র and the virama, as the real box shows it.
TEST_F(DataTabTest, TheDesktopsConfirmationInBangla) {
  AppSettings::setUiLanguage(0);
  dialogs::testSetDialogs(nullptr);
  QString message;
  testing::answerModal<QMessageBox>([&](QMessageBox* box) {
    message = box->informativeText();
    const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
    QDir().mkpath(folder);
    EXPECT_TRUE(box->grab().save(folder + "/reset-confirmation-bangla.png"));
    QTest::keyClick(box, Qt::Key_Escape);
  });
  press("resetLearnedData");
  EXPECT_TRUE(message.contains(QStringLiteral("র\u200D্যাঙ্কিং"))) << message.toStdString();
  EXPECT_TRUE(posts_.empty());
}

TEST_F(DataTabTest, BackupsGoThroughTheButtons) {
  testing::writeBytes(AppSettings::userDictionaryURL(), R"({"words":{"আমি":{"frequency":3}}})");
  tab_.reload();
  const QString backup = files_.filePath("backup.json");
  dialogs_.files = {backup};
  press("exportLearnedWords");
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(takeEvents(),
            QStringList({"save tolvani-backup.json", "alert Saved to “backup.json”. [OK]"}));

  // Cancelling the import still reads the count again; importing the backup brings the word back.
  testing::writeBytes(AppSettings::userDictionaryURL(), R"({"words":{}})");
  dialogs_.files = {QString()};
  press("importLearnedWords");
  EXPECT_EQ(takeEvents(), QStringList{"open"});
  EXPECT_EQ(count(), "0");
  dialogs_.files = {backup};
  press("importLearnedWords");
  EXPECT_EQ(count(), "1");
  EXPECT_EQ(takeEvents(), QStringList({"open", "alert Imported 1 learned word. [OK]"}));
  EXPECT_EQ(posts_, std::vector<bool>{true});

  AppSettings::setTextShortcuts({{"brb", "be right back"}});
  const QString shortcuts = files_.filePath("shortcuts.json");
  dialogs_.files = {shortcuts};
  press("exportTextShortcuts");
  EXPECT_EQ(takeEvents(),
            QStringList({"save Tolvani Shortcuts.json", "alert Saved to “shortcuts.json”. [OK]"}));
  AppSettings::setTextShortcuts({});
  testing::writeBytes(AppSettings::userDictionaryURL(), R"({"words":{}})");
  dialogs_.files = {shortcuts};
  press("importTextShortcuts");
  EXPECT_EQ(takeEvents(), QStringList({"open", "alert Imported 1 shortcut. [OK]"}));
  EXPECT_EQ(AppSettings::textShortcuts(), (QMap<QString, QString>{{"brb", "be right back"}}));
  EXPECT_EQ(posts_, std::vector<bool>({true, false}));
  // Neither shortcut button reads the count again.
  EXPECT_EQ(count(), "1");
}

TEST_F(DataTabTest, TheDataFolderIsMadeAndHandedToTheDesktop) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
  ASSERT_FALSE(QDir(AppSettings::supportDirectoryURL()).exists());
  press("openDataFolder");
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(AppSettings::supportDirectoryURL())});
  EXPECT_TRUE(QDir(AppSettings::supportDirectoryURL()).exists());
  EXPECT_TRUE(posts_.empty());

  // A word added in the dictionary editor shows in the count only when it is read again.
  press("editDictionary");
  UserDictionaryEditor* editor = UserDictionaryEditorController::shared().window();
  ASSERT_TRUE(editor->isVisible());
  testing::typeText(editor->findChild<QLineEdit*>("addWord"), "নতুন");
  QTest::keyClick(editor->findChild<QLineEdit*>("addWord"), Qt::Key_Return);
  UserDictionaryWork::testWaitUntilDone();
  editor->close();
  EXPECT_EQ(AppSettings::learnedWordCount(), 1);
  EXPECT_EQ(count(), "0");
  tab_.reload();
  EXPECT_EQ(count(), "1");
}

using Json = nlohmann::json;

// The scripted answers, each alert noted with the count that the settings window shows behind it.
class CountBehindAlerts final : public dialogs::Dialogs {
 public:
  explicit CountBehindAlerts(testing::ScriptedDialogs& answers) : answers_(answers) {}
  std::optional<QString> chooseSaveFile(QWidget* parent, const QString& name,
                                        const QStringList& filters) override {
    return answers_.chooseSaveFile(parent, name, filters);
  }
  std::optional<QString> chooseOpenFile(QWidget* parent, const QStringList& filters) override {
    return answers_.chooseOpenFile(parent, filters);
  }
  void showAlert(QWidget* parent, const dialogs::Alert& alert) override {
    answers_.showAlert(parent, alert);
    answers_.events.last() += " over " + PreferencesWindowController::shared()
                                             .window()
                                             ->findChild<QLabel*>("learnedWordCount")
                                             ->text();
  }
  bool confirm(QWidget* parent, const dialogs::Confirmation& confirmation) override {
    return answers_.confirm(parent, confirmation);
  }

 private:
  testing::ScriptedDialogs& answers_;
};

// The settings window as the user meets it, over a dictionary of 30 words used often and lately,
// with every store lock able to be held shut.
class SettingsWindowDataTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::setUiLanguage(1);
    dialogs::testSetDialogs(&countBehindAlerts_);
    ASSERT_TRUE(files_.isValid());
    std::string mine = R"({"words":{)";
    for (int i = 0; i < 30; ++i)
      mine += (i ? ",\"mine" : "\"mine") + std::to_string(i) + R"(":{"frequency":50,"last_used":)" +
              std::to_string(testing::kNow - 100) + "}";
    testing::writeBytes(AppSettings::userDictionaryURL(), mine + "}}");
    // Each lock taken waits while the gate is shut: on the main thread, 10 s at most, so that
    // the test fails instead of hanging.
    locks_.afterLock = [this] { gate_.wait_for(std::chrono::seconds(10)); };
    AppSettings::testSetStoreFileSystem(&locks_);
    openData();
    UserDictionaryWork::testWaitUntilDone();
    dialogs_.expectedParent = settings().window();
  }
  void TearDown() override {
    openGate();
    UserDictionaryWork::testWaitUntilDone();
    settings().window()->close();
    dialogs::testSetDialogs(nullptr);
    EXPECT_TRUE(dialogs_.files.empty() && dialogs_.confirmations.empty()) << "unused answers";
    LearnedDataTest::TearDown();
  }

  static PreferencesWindowController& settings() { return PreferencesWindowController::shared(); }
  // Opens the settings window and clicks its Data tab.
  static void openData() {
    settings().showWindow();
    QTabWidget* tabs = settings().rootView()->tabs();
    QTabBar* bar = tabs->tabBar();
    const int data = tabs->indexOf(tabs->findChild<DataTab*>());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(data).center());
    ASSERT_EQ(tabs->currentIndex(), data);
  }
  static QPushButton* button(const char* name) {
    return settings().window()->findChild<QPushButton*>(name);
  }
  // The count as shown now, and which of the learned-data buttons take a click.
  static QString tab() {
    QString shown = settings().window()->findChild<QLabel*>("learnedWordCount")->text();
    for (const char* name : {"resetLearnedData", "exportLearnedWords", "importLearnedWords"})
      shown += QStringLiteral(" ") + (button(name)->isEnabled() ? "on" : "off");
    return shown;
  }
  static QString number(int n) { return QLocale::system().toString(n); }
  void shutGate() { gate_ = (opener_ = {}).get_future().share(); }
  void openGate() {
    if (!opened_(gate_)) opener_.set_value();
  }
  static bool opened_(const std::shared_future<void>& gate) {
    return gate.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  QStringList takeEvents() { return std::exchange(dialogs_.events, {}); }

  // 10,000 words, each used one to five times, the latest an hour or two ago.
  QString largeBackup() {
    std::string backup = R"({"dictionary":{"words":{)";
    for (int i = 0; i < 10'000; ++i)
      backup += (i ? ",\"w" : "\"w") + std::to_string(i) + R"(":{"frequency":)" +
                std::to_string(1 + i % 5) + R"(,"last_used":)" +
                std::to_string(testing::kNow - 3'600 - i) + "}";
    const QString path = files_.filePath("backup.json");
    testing::writeBytes(path, backup + "}}}");
    return path;
  }
  static Json words() { return testing::readJson(AppSettings::userDictionaryURL())["words"]; }

  testing::ScriptedDialogs dialogs_;
  CountBehindAlerts countBehindAlerts_{dialogs_};
  testing::FaultFileSystem locks_;
  std::promise<void> opener_;
  std::shared_future<void> gate_ = [] {
    std::promise<void> open;
    open.set_value();
    return open.get_future().share();
  }();
  QTemporaryDir files_;
};

TEST_F(SettingsWindowDataTest, ALargeImportKeepsTypingAndTellsWhatWasKept) {
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(tab(), "30 on on on");
  const QString backup = largeBackup();

  // The merge waits for the dictionary's lock while the main thread goes on.
  shutGate();
  dialogs_.files = {backup};
  click(button("importLearnedWords"));
  EXPECT_EQ(takeEvents(), QStringList{"open"});
  EXPECT_EQ(tab(), "30 off off off");
  // Clicks on the disabled buttons start nothing: no dialog nor confirmation is asked.
  click(button("importLearnedWords"));
  click(button("resetLearnedData"));
  click(button("exportLearnedWords"));
  // The window opened again makes a fresh Data tab, disabled as well; its count is read after
  // the import.
  openData();
  QTest::qWait(50);
  EXPECT_EQ(tab(), " off off off");
  EXPECT_EQ(takeEvents(), QStringList());
  EXPECT_TRUE(posts_.empty());
  EXPECT_EQ(words().size(), 30u);

  openGate();
  UserDictionaryWork::testWaitUntilDone();
  // The engine keeps 9,000 words: the 30 used most and 8,970 of the backup's.
  EXPECT_EQ(takeEvents(),
            QStringList{"alert Imported 8970 learned words. [OK] over " + number(9'000)});
  EXPECT_EQ(tab(), number(9'000) + " on on on");
  const Json kept = words();
  EXPECT_EQ(kept.size(), 9'000u);
  for (int i = 0; i < 30; ++i) EXPECT_TRUE(kept.contains("mine" + std::to_string(i))) << i;
  EXPECT_EQ(posts_, std::vector<bool>{true});

  // Again in Bangla, into the 9,000: the backup's words already there are kept again.
  AppSettings::setUiLanguage(0);
  openData();
  dialogs_.files = {backup};
  click(button("importLearnedWords"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(takeEvents(),
            QStringList(
                {"open", "alert 8970 টি শেখা শব্দ ইমপোর্ট হয়েছে। [ঠিক আছে] over " + number(9'000)}));
  EXPECT_EQ(tab(), number(9'000) + " on on on");
  EXPECT_EQ(words(), kept);
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));
}

// The engines' save, the reading of every store and its serialising ran on the main thread from
// the click until the save dialog: over the largest dictionary every key waited most of a second.
TEST_F(SettingsWindowDataTest, AnExportKeepsTypingAndHoldsWhatWasTypedBeforeTheClick) {
  const std::unique_ptr<TolvaniEngine, void (*)(TolvaniEngine*)> engine(tolvani_engine_create(),
                                                                        tolvani_engine_destroy);
  ASSERT_NE(engine, nullptr);
  for (const char32_t c : std::u32string_view(U"ami ")) {
    const CResult typed = tolvani_engine_handle_key_event(
        engine.get(), CKeyEvent{c == U' ' ? TOLVANI_KEY_SPACE : TOLVANI_KEY_TEXT, 0, 0, c});
    tolvani_engine_free_result(typed.ptr, typed.len);
  }
  // A save that takes its time, as over the largest dictionary.
  BackupPanels::setLearnedDataSaver([this, session = engine.get()] {
    gate_.wait_for(std::chrono::seconds(10));
    EXPECT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(session)));
  });
  const auto noSaver = qScopeGuard([] { BackupPanels::setLearnedDataSaver(nullptr); });
  const QString path = files_.filePath("export.json");
  shutGate();
  dialogs_.files = {path};
  click(button("exportLearnedWords"));
  EXPECT_EQ(takeEvents(), QStringList());
  EXPECT_EQ(tab(), "30 off off off");
  openGate();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(takeEvents(), QStringList({"save tolvani-backup.json",
                                       "alert Saved to “export.json”. [OK] over 30"}));
  EXPECT_EQ(tab(), "30 on on on");
  const Json exported = testing::readJson(path)["dictionary"]["words"];
  EXPECT_EQ(exported.size(), 31u);
  EXPECT_TRUE(exported.contains("আমি")) << exported.dump();

  // A window closed before the backup is ready shows nothing.
  shutGate();
  click(button("exportLearnedWords"));
  settings().window()->close();
  openGate();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(takeEvents(), QStringList());
}

// The sessions were asked to reload only once the worker had reset the files, so a session's
// reload could read the reset files before that call reached it and take in, as learned after
// the reset, what its keys had learned before the click. They are asked when the reset is
// confirmed, before any store changes, and again once every store is reset.
TEST_F(SettingsWindowDataTest, AResetAsksTheSessionsToReloadBeforeItChangesAnyStore) {
  const QString bigrams = QDir(AppSettings::supportDirectoryURL()).filePath("user-bigrams.json");
  testing::writeBytes(bigrams, R"({"pairs":{"আমি":{"ভাত":{"frequency":2}}}})");
  shutGate();
  dialogs_.confirmations = {true};
  click(button("resetLearnedData"));
  EXPECT_EQ(takeEvents().size(), 1);  // the confirmation
  EXPECT_EQ(posts_, std::vector<bool>{true});
  EXPECT_EQ(words().size(), 30u);
  EXPECT_EQ(testing::readJson(bigrams).dump(), R"({"pairs":{"আমি":{"ভাত":{"frequency":2}}}})");

  openGate();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));
  EXPECT_EQ(words().size(), 0u);
  EXPECT_EQ(testing::readJson(bigrams)["pairs"].dump(), "{}");
}

TEST_F(SettingsWindowDataTest, AResetKeepsTypingAndEmptiesEveryStore) {
  testing::writeBytes(QDir(AppSettings::supportDirectoryURL()).filePath("user-bigrams.json"),
                      R"({"pairs":{"আমি":{"ভাত":{"frequency":2}}}})");
  shutGate();
  dialogs_.confirmations = {true};
  click(button("resetLearnedData"));
  EXPECT_EQ(takeEvents().size(), 1);  // the confirmation
  EXPECT_EQ(tab(), "30 off off off");
  EXPECT_EQ(words().size(), 30u);

  openGate();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(tab(), "0 on on on");
  EXPECT_EQ(takeEvents(), QStringList());
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));  // when confirmed, and when done
  std::set<std::string> resetIds;
  for (const UserDataFile& store : AppSettings::userDataFiles()) {
    Json document = testing::readJson(store.url);
    resetIds.insert(document["reset_id"].get<std::string>());
    document.erase("reset_id");
    EXPECT_EQ(document.dump(),
              R"({"entries":{},"pairs":{},"selections":{},"tombstones":{},"triples":{},)"
              R"("words":{}})")
        << store.key.toStdString();
  }
  EXPECT_EQ(resetIds.size(), 1u);
}

}  // namespace
}  // namespace tolvani
