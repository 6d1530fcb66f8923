// The windows' reads and edits of the user dictionary, over a real dictionary file behind a file
// layer that notes which thread touches it: the settings window and the dictionary editor leave
// every read and write of it to the worker thread, so do a backup import and a reset of the
// learned data from the settings window, the settings window reads it once when its content is
// made and once when that comes on screen, answers keep the order of the requests, an answer
// whose window went meanwhile is dropped, and the end of the process waits for the edits asked
// for, within its bound.
#include "windows/UserDictionaryWork.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <condition_variable>
#include <mutex>

#include "platform/Queues.h"
#include "windows/PreferencesWindowController.h"
#include "windows/SettingsRootView.h"
#include "windows/UserDictionaryEditor.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

// The real file layer, noting each read and each replacement of the dictionary with the thread
// that made it: "read main", "replace worker", ...
class WatchedFileSystem final : public store_io::PosixStoreFileSystem {
 public:
  store_io::IoStatus read_file(const std::filesystem::path& path, std::string& out) override {
    note("read", path);
    return PosixStoreFileSystem::read_file(path, out);
  }
  store_io::IoStatus rename(const std::filesystem::path& from,
                            const std::filesystem::path& to) override {
    {
      std::unique_lock lock(mu_);
      released_.wait(lock, [&] { return !held_; });
    }
    note("replace", to);
    return PosixStoreFileSystem::rename(from, to);
  }
  // While held, a replacement waits.
  void holdReplacements(bool held) {
    std::lock_guard lock(mu_);
    held_ = held;
    released_.notify_all();
  }
  QStringList take() {
    std::lock_guard lock(mu_);
    return std::exchange(notes_, {});
  }

 private:
  void note(const char* what, const std::filesystem::path& path) {
    if (path.filename() != "user-dictionary.json") return;
    std::lock_guard lock(mu_);
    notes_ << QString::fromLatin1(what) +
                  (platform::isMainThread() ? QStringLiteral(" main") : QStringLiteral(" worker"));
  }

  std::mutex mu_;
  std::condition_variable released_;
  QStringList notes_;  // guarded by mu_
  bool held_ = false;  // guarded by mu_
};

class UserDictionaryWorkTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::setUiLanguage(1);
    testing::writeBytes(AppSettings::userDictionaryURL(),
                        R"({"words":{"আমি":{"frequency":3},"ভাত":{"frequency":1}}})");
    AppSettings::testSetStoreFileSystem(&files_);
  }
  void TearDown() override {
    UserDictionaryWork::testWaitUntilDone();
    AppSettings::testSetStoreFileSystem(nullptr);
    LearnedDataTest::TearDown();
  }

  WatchedFileSystem files_;
};

template <typename T>
T* child(QWidget* parent, const char* name) {
  T* found = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

QStringList times(int n, const QString& note) { return QStringList(n, note); }

TEST_F(UserDictionaryWorkTest, TheWindowsLeaveTheDictionaryToTheWorker) {
  PreferencesWindowController& settings = PreferencesWindowController::shared();
  // The content made with the window, the first time.
  UserDictionaryWork::testWaitUntilDone();
  files_.take();
  settings.showWindow();
  UserDictionaryWork::testWaitUntilDone();
  QWidget* window = settings.window();
  EXPECT_EQ(child<QLabel>(window, "learnedWordCount")->text(), "2");
  // Its content is made, then comes on screen.
  EXPECT_EQ(files_.take(), times(2, "read worker"));

  settings.rootView()->tabs()->setCurrentIndex(2);
  click(child<QPushButton>(window, "editDictionary"));
  UserDictionaryEditor* editor = UserDictionaryEditorController::shared().window();
  ASSERT_TRUE(editor->isVisible());
  auto* count = child<QLabel>(editor, "count");
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(count->text(), "2 of 2 words");
  EXPECT_EQ(files_.take(), times(1, "read worker"));

  auto* field = child<QLineEdit>(editor, "addWord");
  testing::typeText(field, QStringLiteral("নতুন"));
  QTest::keyClick(field, Qt::Key_Return);
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(count->text(), "3 of 3 words");
  // The edit's read under the lock, its replacement, and the list read again.
  EXPECT_EQ(files_.take(), QStringList({"read worker", "replace worker", "read worker"}));

  auto* table = child<QTableView>(editor, "words");
  table->selectAll();
  click(child<QPushButton>(editor, "removeSelected"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(count->text(), "0 of 0 words");
  EXPECT_EQ(files_.take(),
            QStringList({"read worker", "replace worker", "read worker", "replace worker",
                         "read worker", "replace worker", "read worker"}));
  EXPECT_EQ(posts_, std::vector<bool>({true, true, true, true}));
  editor->close();

  settings.showWindow();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(child<QLabel>(window, "learnedWordCount")->text(), "0");
  EXPECT_EQ(files_.take(), times(2, "read worker"));
  window->close();
}

TEST_F(UserDictionaryWorkTest, AnImportAndAResetLeaveTheStoresToTheWorker) {
  testing::ScriptedDialogs dialogs;
  dialogs::testSetDialogs(&dialogs);
  QTemporaryDir folder;
  const QString backup = folder.filePath("backup.json");
  testing::writeBytes(backup, R"({"dictionary":{"words":{"নতুন":{"frequency":4}}}})");
  PreferencesWindowController& settings = PreferencesWindowController::shared();
  settings.showWindow();
  settings.rootView()->tabs()->setCurrentIndex(2);
  QWidget* window = settings.window();
  UserDictionaryWork::testWaitUntilDone();
  files_.take();

  dialogs.files = {backup};
  click(child<QPushButton>(window, "importLearnedWords"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(child<QLabel>(window, "learnedWordCount")->text(), "3");
  // The merge's read under the lock, its replacement, and the count read again.
  EXPECT_EQ(files_.take(), QStringList({"read worker", "replace worker", "read worker"}));

  dialogs.confirmations = {true};
  click(child<QPushButton>(window, "resetLearnedData"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(child<QLabel>(window, "learnedWordCount")->text(), "0");
  EXPECT_EQ(files_.take(), QStringList({"replace worker", "read worker"}));
  EXPECT_EQ(dialogs.events.size(), 3);  // the open dialog, the alert and the confirmation
  // The import's, and the reset's when confirmed and when done.
  EXPECT_EQ(posts_, std::vector<bool>({true, true, true}));
  window->close();
  dialogs::testSetDialogs(nullptr);
}

TEST_F(UserDictionaryWorkTest, AnOpeningReadsTheCountAtCreationAndWhenShownOnly) {
  SettingsRootView view;
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(files_.take().size(), 1);
  view.show();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(files_.take().size(), 1);
  auto* count = child<QLabel>(&view, "learnedWordCount");
  EXPECT_EQ(count->text(), "2");

  // Nothing else reads it again: not an edit elsewhere, not a change of tab or language.
  ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("নতুন")));
  files_.take();
  view.tabs()->setCurrentIndex(2);
  AppSettings::setUiLanguage(0);
  QTest::keyClick(child<QComboBox>(&view, "uiLanguage"), Qt::Key_Up);
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(files_.take(), QStringList());
  EXPECT_EQ(count->text(), "2");
}

TEST_F(UserDictionaryWorkTest, AnswersKeepTheOrderOfTheRequests) {
  QObject receiver;
  QStringList answers;
  auto words = [&](const UserDictionaryWork::Entries& entries) {
    QStringList listed;
    for (const UserWordEntry& e : entries) listed << e.word + "=" + QString::number(e.frequency);
    listed.sort();
    answers << listed.join(' ');
  };
  auto count = [&](int n) { answers << QString::number(n); };
  UserDictionaryWork::addWord(QStringLiteral("নতুন"), &receiver, words);
  UserDictionaryWork::countWords(&receiver, count);
  UserDictionaryWork::removeWords({QStringLiteral("আমি"), QStringLiteral("নতুন")}, &receiver, words);
  UserDictionaryWork::countWords(&receiver, count);
  UserDictionaryWork::addWord(QStringLiteral("ভাত"), &receiver, words);
  UserDictionaryWork::loadEntries(&receiver, words);
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(answers, QStringList({"আমি=3 নতুন=1 ভাত=1", "3", "ভাত=1", "1", "ভাত=2", "ভাত=2"}));
  EXPECT_EQ(posts_, std::vector<bool>({true, true, true, true}));
}

TEST_F(UserDictionaryWorkTest, AnAnswerForAReceiverGoneMeanwhileIsDropped) {
  auto receiver = std::make_unique<QObject>();
  QObject stays;
  QStringList answers;
  UserDictionaryWork::countWords(receiver.get(), [&](int n) { answers << QString::number(n); });
  UserDictionaryWork::addWord(QStringLiteral("নতুন"), receiver.get(),
                              [&](const UserDictionaryWork::Entries&) { answers << "entries"; });
  UserDictionaryWork::countWords(&stays, [&](int n) { answers << "stays " + QString::number(n); });
  receiver.reset();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(answers, QStringList{"stays 3"});
  // The edit itself was made.
  EXPECT_EQ(AppSettings::learnedWordCount(), 3);

  // A window closed and destroyed before its count came.
  auto tab = std::make_unique<SettingsRootView>();
  tab->show();
  tab.reset();
  UserDictionaryWork::testWaitUntilDone();
}

// The end of the process waits for the edits asked for, within its bound: a display's loss ends
// it without the worker's own end, which would run them.
TEST_F(UserDictionaryWorkTest, TheEndWaitsForTheEditsAskedForWithinItsBound) {
  QObject receiver;
  files_.holdReplacements(true);
  UserDictionaryWork::addWord(QStringLiteral("নতুন"), &receiver,
                              [](const UserDictionaryWork::Entries&) {});
  EXPECT_FALSE(UserDictionaryWork::waitForQueuedWork(std::chrono::milliseconds(100)));
  EXPECT_EQ(testing::readBytes(AppSettings::userDictionaryURL()).find("নতুন"), std::string::npos);
  files_.holdReplacements(false);
  EXPECT_TRUE(UserDictionaryWork::waitForQueuedWork(std::chrono::seconds(20)));
  // Read at once, with no turn of the event loop: the edit is on disk.
  EXPECT_NE(testing::readBytes(AppSettings::userDictionaryURL()).find("নতুন"), std::string::npos);
}

}  // namespace
}  // namespace tolvani
