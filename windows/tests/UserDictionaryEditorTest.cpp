// The user dictionary editor over a real dictionary file, driven by keys and clicks: the first
// order, the search in any case and form, removing exactly the selected visible rows under a
// search, adding with a search active, header clicks, and screenshots.
#include "windows/UserDictionaryEditor.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "windows/UserDictionaryWork.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

class UserDictionaryEditorTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::setUiLanguage(1);
    testing::writeBytes(AppSettings::userDictionaryURL(),
                        "{\"words\":{\"আমি\":{\"frequency\":9},\"Hello\":{\"frequency\":7},"
                        "\"a b\":{\"frequency\":1},\"\u09A1\u09BC\":{\"frequency\":4},"
                        "\"ab\":{\"frequency\":2},\"ভাত\":{\"frequency\":5}}}");
  }

  // The rows as shown once the reads and edits asked for so far have come back: "word:uses", in
  // screen order.
  static QString rows(QTableView* table) {
    UserDictionaryWork::testWaitUntilDone();
    QStringList out;
    const QAbstractItemModel* m = table->model();
    for (int r = 0; r < m->rowCount(); ++r)
      out << m->index(r, 0).data().toString() + ":" + m->index(r, 1).data().toString();
    return out.join(' ');
  }
  static void select(QTableView* table, const QString& word, bool add) {
    const QAbstractItemModel* m = table->model();
    for (int r = 0; r < m->rowCount(); ++r) {
      if (m->index(r, 0).data().toString() != word) continue;
      QTest::mouseClick(table->viewport(), Qt::LeftButton,
                        add ? Qt::ControlModifier : Qt::KeyboardModifiers(),
                        table->visualRect(m->index(r, 0)).center());
      return;
    }
    ADD_FAILURE() << "no row " << word.toStdString();
  }
};

TEST_F(UserDictionaryEditorTest, SearchRemoveAddAndSort) {
  UserDictionaryEditor editor;
  editor.reload();
  editor.show();
  auto* table = editor.findChild<QTableView*>("words");
  QAbstractItemModelTester tester(table->model());
  auto* search = editor.findChild<QLineEdit*>("search");
  auto* count = editor.findChild<QLabel*>("count");
  UserDictionaryWork::testWaitUntilDone();
  const QString all = "আমি:9 Hello:7 ভাত:5 \u09A1\u09BC:4 ab:2 a b:1";
  EXPECT_EQ(rows(table), all);
  EXPECT_EQ(count->text(), "6 of 6 words");

  const struct {
    QString search;
    QString rows;
  } searches[] = {
      {"HELLO", "Hello:7"}, {"hello", "Hello:7"},
      {" ", "a b:1"},       {"\u09DC", "\u09A1\u09BC:4"},  // ড় found as ড + nukta
      {"a", "ab:2 a b:1"},
  };
  for (const auto& s : searches) {
    search->clear();
    testing::typeText(search, s.search);
    EXPECT_EQ(rows(table), s.rows) << s.search.toStdString();
  }
  EXPECT_EQ(count->text(), "2 of 6 words");

  // Exactly the selected visible rows go, not the rows at their places in the whole list.
  select(table, "ab", false);
  select(table, "a b", true);
  click(editor.findChild<QPushButton*>("removeSelected"));
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));
  EXPECT_EQ(rows(table), "");
  EXPECT_EQ(search->text(), "a");
  EXPECT_EQ(count->text(), "0 of 4 words");

  // Adding under a search: the field empties, the search stays, the total grows.
  auto* addField = editor.findChild<QLineEdit*>("addWord");
  testing::typeText(addField, "  নতুন ");
  QTest::keyClick(addField, Qt::Key_Return);
  EXPECT_EQ(addField->text(), "");
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(count->text(), "0 of 5 words");
  QTest::keyClicks(addField, "   ");
  click(editor.findChild<QPushButton*>("add"));
  EXPECT_EQ(addField->text(), "   ");  // nothing to add
  addField->clear();
  testing::typeText(addField, "ভাত");
  click(editor.findChild<QPushButton*>("add"));
  search->clear();
  EXPECT_EQ(rows(table), "আমি:9 Hello:7 ভাত:6 \u09A1\u09BC:4 নতুন:1");
  EXPECT_EQ(posts_.size(), 4u);

  // The word header sorts by word, a second click the other way; the uses header most used
  // first.
  QHeaderView* header = table->horizontalHeader();
  auto clickHeader = [&](int section) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(section) + 10, header->height() / 2));
  };
  clickHeader(0);
  EXPECT_EQ(rows(table), "Hello:7 আমি:9 \u09A1\u09BC:4 নতুন:1 ভাত:6");
  clickHeader(0);
  EXPECT_EQ(rows(table), "ভাত:6 নতুন:1 \u09A1\u09BC:4 আমি:9 Hello:7");
  clickHeader(1);
  EXPECT_EQ(rows(table), "আমি:9 Hello:7 ভাত:6 \u09A1\u09BC:4 নতুন:1");
}

TEST_F(UserDictionaryEditorTest, OneWindowKeepsItsSearchAndShowsTheFileAtEachOpening) {
  UserDictionaryEditorController& controller = UserDictionaryEditorController::shared();
  controller.showWindow();
  UserDictionaryEditor* window = controller.window();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "User Dictionary");
  testing::typeText(window->findChild<QLineEdit*>("search"), "ভ");
  window->close();
  ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("ভয়")));
  controller.showWindow();
  EXPECT_EQ(controller.window(), window);
  EXPECT_EQ(rows(window->findChild<QTableView*>("words")), "ভাত:5 ভয়:1");

  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  window->findChild<QLineEdit*>("search")->clear();
  // The words of a closed window are let go of, with what arrives for it while it is closed (the
  // largest dictionary lists tens of megabytes, which a process that serves typing all session
  // kept until logout); the next opening reads them again.
  auto* table = window->findChild<QTableView*>("words");
  window->close();
  EXPECT_EQ(rows(table), "");
  window->reload();
  EXPECT_EQ(rows(table), "") << "a read answered after the close";
  controller.showWindow();
  EXPECT_EQ(rows(table), "আমি:9 Hello:7 ভাত:5 \u09A1\u09BC:4 ab:2 a b:1 ভয়:1");
  testing::expectTextsFitAndStandOut(window, "user-dictionary-english");
  EXPECT_TRUE(window->grab().save(folder + "/user-dictionary-english.png"));
  const QPalette original = QApplication::palette();
  QApplication::setPalette(testing::darkPalette());
  QCoreApplication::processEvents();
  testing::expectTextsFitAndStandOut(window, "user-dictionary-english-dark");
  EXPECT_TRUE(window->grab().save(folder + "/user-dictionary-english-dark.png"));
  QApplication::setPalette(original);
  window->close();
  // Its texts are read when it is built: a window built in Bangla.
  AppSettings::setUiLanguage(0);
  UserDictionaryEditor bangla;
  bangla.reload();
  bangla.show();
  UserDictionaryWork::testWaitUntilDone();
  EXPECT_EQ(bangla.windowTitle(), QStringLiteral("ব্যবহারকারীর অভিধান"));
  EXPECT_EQ(bangla.findChild<QLabel*>("count")->text(), QStringLiteral("7 টির মধ্যে 7 টি শব্দ"));
  testing::expectTextsFitAndStandOut(&bangla, "user-dictionary-bangla");
  EXPECT_TRUE(bangla.grab().save(folder + "/user-dictionary-bangla.png"));
}

}  // namespace
}  // namespace tolvani
