// The text shortcuts editor driven by keys and clicks over a real settings file: the built-in set,
// adding with its trimming and refusals, editing in place, deleting everything and restoring,
// sorting by a header click, an import reaching the open list, the one window with a fresh view,
// and screenshots in both languages.
#include "windows/TextShortcutsEditor.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "settings/TextShortcuts.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

class TextShortcutsEditorTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::setUiLanguage(1);
    dialogs::testSetDialogs(&dialogs_);
  }
  void TearDown() override {
    dialogs::testSetDialogs(nullptr);
    LearnedDataTest::TearDown();
  }

  // The rows as shown: "trigger=expansion", in screen order.
  static QString rows(QTableView* table) {
    QStringList out;
    const QAbstractItemModel* m = table->model();
    for (int r = 0; r < m->rowCount(); ++r)
      out << m->index(r, 0).data().toString() + "=" + m->index(r, 1).data().toString();
    return out.join(' ');
  }
  static QString stored() {
    QStringList out;
    const QMap<QString, QString> s = AppSettings::textShortcuts();
    for (auto it = s.begin(); it != s.end(); ++it) out << it.key() + "=" + it.value();
    return out.join(' ');
  }

  testing::ScriptedDialogs dialogs_;
};

const QString kBuiltIn =
    "brb=আমি একটু পরে আসছি gm=শুভ সকাল gn=শুভ রাত্রি idk=আমি জানি না nb=শুভ নববর্ষ "
    "ty=ধন্যবাদ wb=স্বাগতম";

TEST_F(TextShortcutsEditorTest, AddEditDeleteAndRestore) {
  TextShortcutsEditorView view;
  view.show();
  QAbstractItemModelTester tester(const_cast<TextShortcutsModel*>(&view.model()));
  auto* table = view.findChild<QTableView*>("shortcuts");
  auto* key = view.findChild<QLineEdit*>("newKey");
  auto* expansion = view.findChild<QLineEdit*>("newExpansion");
  auto* add = view.findChild<QPushButton*>("add");
  auto* exportButton = view.findChild<QPushButton*>("export");
  EXPECT_EQ(rows(table), kBuiltIn);
  EXPECT_TRUE(exportButton->isEnabled());
  EXPECT_FALSE(add->isEnabled());

  // Trimmed, the trigger lower-cased; it replaces brb in its place.
  QTest::keyClicks(key, " BRB ");
  QTest::keyClicks(expansion, "  be right back  ");
  QTest::keyClick(expansion, Qt::Key_Return);  // Return adds nothing
  EXPECT_EQ(key->text(), " BRB ");
  click(add);
  EXPECT_EQ(key->text(), "");
  EXPECT_EQ(expansion->text(), "");
  EXPECT_EQ(rows(table), QString(kBuiltIn).replace("brb=আমি একটু পরে আসছি", "brb=be right back"));
  EXPECT_EQ(stored(), rows(table));

  // Two words are refused with the button enabled; spaces alone disable it.
  QTest::keyClicks(key, "two words");
  QTest::keyClicks(expansion, "x");
  EXPECT_TRUE(add->isEnabled());
  click(add);
  EXPECT_EQ(key->text(), "two words");
  key->clear();
  QTest::keyClicks(key, "   ");
  EXPECT_FALSE(add->isEnabled());
  key->clear();
  QTest::keyClicks(key, "aj");
  click(add);
  EXPECT_TRUE(stored().startsWith("aj=x brb="));

  // An expansion edited in place is stored as typed, even empty.
  const QModelIndex gm = table->model()->index(2, 1);
  ASSERT_EQ(table->model()->index(2, 0).data().toString(), "gm");
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(gm).center());
  QTest::keyClick(table, Qt::Key_F2);
  // The cell's editor: the one on screen, not a closed one waiting to be deleted.
  auto openEditor = [&]() -> QLineEdit* {
    for (QLineEdit* e : table->viewport()->findChildren<QLineEdit*>())
      if (e->isVisible()) return e;
    return nullptr;
  };
  QLineEdit* editor = openEditor();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "good morning ");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the view commits the edit on its next turn
  EXPECT_EQ(AppSettings::textShortcuts().value("gm"), "good morning ");
  table->setCurrentIndex(table->model()->index(3, 1));
  QTest::keyClick(table, Qt::Key_F2);
  editor = openEditor();
  ASSERT_NE(editor, nullptr);
  editor->clear();
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the view commits the edit on its next turn
  EXPECT_TRUE(AppSettings::textShortcuts().contains("gn"));
  EXPECT_EQ(AppSettings::textShortcuts().value("gn"), "");

  // Deleting every row stores an empty set; the built-ins come back only on request.
  table->setFocus();
  table->selectAll();
  click(view.findChild<QPushButton*>("delete"));
  EXPECT_EQ(rows(table), "");
  EXPECT_TRUE(AppSettings::textShortcuts().isEmpty());
  EXPECT_FALSE(exportButton->isEnabled());
  click(view.findChild<QPushButton*>("restoreDefaults"));
  EXPECT_EQ(rows(table), kBuiltIn);
  EXPECT_TRUE(posts_.empty());  // the editor's own changes are announced to nobody

  // A header click sorts the other way.
  QHeaderView* header = table->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 20, header->height() / 2));
  EXPECT_TRUE(rows(table).startsWith("wb="));
}

TEST_F(TextShortcutsEditorTest, AnImportReachesTheOpenListAndEachOpeningIsFresh) {
  TextShortcutsEditorController& controller = TextShortcutsEditorController::shared();
  controller.showWindow();
  TextShortcutsEditorView* first = controller.view();
  auto* key = first->findChild<QLineEdit*>("newKey");
  QTest::keyClicks(key, "half typed");
  QTemporaryDir files;
  testing::writeBytes(files.filePath("more.csv"), "omw,on my way\n");
  dialogs_.expectedParent = controller.window();
  dialogs_.files = {files.filePath("more.csv")};
  click(first->findChild<QPushButton*>("import"));
  EXPECT_EQ(dialogs_.events, QStringList({"open", "alert Imported 1 shortcut. [OK]"}));
  EXPECT_EQ(posts_, std::vector<bool>{false});
  auto* table = first->findChild<QTableView*>("shortcuts");
  EXPECT_TRUE(rows(table).contains("omw=on my way"));

  AppSettings::setUiLanguage(0);
  controller.showWindow();
  EXPECT_NE(controller.view(), first);
  EXPECT_TRUE(controller.view()->isVisible());
  EXPECT_EQ(controller.window()->windowTitle(), QStringLiteral("টেক্সট শর্টকাট"));
  EXPECT_EQ(controller.view()->findChild<QLineEdit*>("newKey")->text(), "");

  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  testing::expectTextsFitAndStandOut(controller.window(), "text-shortcuts-bangla");
  EXPECT_TRUE(controller.window()->grab().save(folder + "/text-shortcuts-bangla.png"));
  AppSettings::setUiLanguage(1);
  controller.showWindow();
  testing::expectTextsFitAndStandOut(controller.window(), "text-shortcuts-english");
  EXPECT_TRUE(controller.window()->grab().save(folder + "/text-shortcuts-english.png"));
  const QPalette original = QApplication::palette();
  QApplication::setPalette(testing::darkPalette());
  QCoreApplication::processEvents();
  testing::expectTextsFitAndStandOut(controller.window(), "text-shortcuts-english-dark");
  EXPECT_TRUE(controller.window()->grab().save(folder + "/text-shortcuts-english-dark.png"));
  QApplication::setPalette(original);
  controller.window()->close();
}

}  // namespace
}  // namespace tolvani
