// The Data tab over a real user-data folder, driven by clicks: the learned-word count and when it
// is read again, the reset after its confirmation and the cancelled one, the four backup buttons
// through the file dialogs over the settings window, and the data folder handed to the desktop.
#include "windows/DataTab.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "platform/testing/UrlCatcher.h"
#include "settings/AppSettingsUserData.h"
#include "settings/TextShortcuts.h"
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
  EXPECT_EQ(posts_, std::vector<bool>{true});
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
  EXPECT_EQ(takeEvents(), QStringList({"open", "alert Imported 1 learned word. [OK]"}));
  EXPECT_EQ(count(), "1");
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

}  // namespace
}  // namespace tolvani
