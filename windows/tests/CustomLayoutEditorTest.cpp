// The custom key mappings editor driven by keys and clicks, with custom-layout.json compared whole
// after each change: adding, replacing, the same key in two layers, removing the selected rows,
// deleting everything, a damaged file, outputs too long to type, and screenshots.
#include "windows/CustomLayoutEditor.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "settings/CustomLayoutFile.h"
#include "settings/UIStrings.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

class CustomLayoutEditorTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    editor_.reload();
    editor_.show();
    table_ = editor_.findChild<QTableView*>("mappings");
  }

  // Types a mapping into the entry row and presses Add.
  void add(const QString& key, int layer, const QString& output) {
    auto* keyField = editor_.findChild<QLineEdit*>("key");
    auto* outputField = editor_.findChild<QLineEdit*>("output");
    keyField->clear();
    outputField->clear();
    testing::typeText(keyField, key);
    editor_.findChild<QComboBox*>("layer")->setCurrentIndex(layer);
    testing::typeText(outputField, output);
    click(editor_.findChild<QPushButton*>("add"));
  }
  QString rows() const {
    QStringList out;
    const QAbstractItemModel* m = table_->model();
    for (int r = 0; r < m->rowCount(); ++r)
      out << m->index(r, 1).data().toString() + ":" + m->index(r, 0).data().toString() + "=" +
                 m->index(r, 2).data().toString();
    return out.join(' ');
  }
  void select(int row, bool addToSelection) {
    QTest::mouseClick(table_->viewport(), Qt::LeftButton,
                      addToSelection ? Qt::ControlModifier : Qt::KeyboardModifiers(),
                      table_->visualRect(table_->model()->index(row, 0)).center());
  }
  static std::string file() { return testing::readBytes(CustomLayoutFile::path()); }

  CustomLayoutEditor editor_;
  QTableView* table_ = nullptr;
};

TEST_F(CustomLayoutEditorTest, AddReplaceRemoveAndResetRewriteTheFileWhole) {
  QAbstractItemModelTester tester(table_->model());
  EXPECT_EQ(rows(), "");
  EXPECT_FALSE(QDir(AppSettings::supportDirectoryURL()).exists());
  add(" k ", 0, "ক্ষ");
  EXPECT_EQ(file(),
            "{\n  \"overrides\": {\n    \"default\": {\n      \"k\": \"ক্ষ\"\n    }\n  }\n}\n");
  EXPECT_EQ(editor_.findChild<QLineEdit*>("key")->text(), "");
  EXPECT_EQ(editor_.findChild<QComboBox*>("layer")->currentText(), "default");

  add("k", 0, "খ");  // replaces
  add("k", 1, "ঙ");  // the same key in another layer
  add("A", 1, "আ");  // "A" and "a" differ
  add("a", 1, "অ");
  add("q", 3, "ৎ");
  add("j", 2, "ঞ");
  add("x", 0, "   ");  // spaces alone are no output
  EXPECT_EQ(editor_.findChild<QLineEdit*>("key")->text(), "x");
  EXPECT_EQ(rows(), "alt:j=ঞ default:k=খ shift:A=আ shift:a=অ shift:k=ঙ shift_alt:q=ৎ");
  EXPECT_EQ(
      file(),
      "{\n  \"overrides\": {\n    \"alt\": {\n      \"j\": \"ঞ\"\n    },\n"
      "    \"default\": {\n      \"k\": \"খ\"\n    },\n"
      "    \"shift\": {\n      \"A\": \"আ\",\n      \"a\": \"অ\",\n      \"k\": \"ঙ\"\n    },\n"
      "    \"shift_alt\": {\n      \"q\": \"ৎ\"\n    }\n  }\n}\n");
  EXPECT_EQ(posts_, std::vector<bool>(7, true));

  // Removing the rows shown, with the file read afresh; an emptied layer stays as {}.
  select(0, false);
  select(5, true);
  click(editor_.findChild<QPushButton*>("removeSelected"));
  EXPECT_EQ(rows(), "default:k=খ shift:A=আ shift:a=অ shift:k=ঙ");
  EXPECT_EQ(
      file(),
      "{\n  \"overrides\": {\n    \"alt\": {},\n    \"default\": {\n      \"k\": \"খ\"\n    },\n"
      "    \"shift\": {\n      \"A\": \"আ\",\n      \"a\": \"অ\",\n      \"k\": \"ঙ\"\n    },\n"
      "    \"shift_alt\": {}\n  }\n}\n");
  click(editor_.findChild<QPushButton*>("removeSelected"));  // nothing selected: nothing
  EXPECT_EQ(posts_.size(), 8u);

  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  testing::expectTextsFitAndStandOut(&editor_, "custom-keys");
  EXPECT_TRUE(editor_.grab().save(folder + "/custom-keys.png"));
  const QPalette original = QApplication::palette();
  QApplication::setPalette(testing::darkPalette());
  QCoreApplication::processEvents();
  testing::expectTextsFitAndStandOut(&editor_, "custom-keys-dark");
  EXPECT_TRUE(editor_.grab().save(folder + "/custom-keys-dark.png"));
  QApplication::setPalette(original);

  click(editor_.findChild<QPushButton*>("resetAll"));
  EXPECT_EQ(file(), "<missing>");
  EXPECT_EQ(rows(), "");
  click(editor_.findChild<QPushButton*>("resetAll"));  // no file: still announced
  EXPECT_EQ(posts_, std::vector<bool>(10, true));
}

TEST_F(CustomLayoutEditorTest, ADamagedFileShowsEmptyAndIsKeptAsideByTheNextAdd) {
  testing::writeBytes(CustomLayoutFile::path(), R"({"overrides":{"default":{"k":1}}})");
  editor_.reload();
  EXPECT_EQ(rows(), "");
  add("k", 0, "ক");
  EXPECT_EQ(rows(), "default:k=ক");
  EXPECT_EQ(testing::readBytes(CustomLayoutFile::path() + ".corrupt-1700000000"),
            R"({"overrides":{"default":{"k":1}}})");

  // A layer written by hand is listed and removed like any other.
  testing::writeBytes(CustomLayoutFile::path(), R"({"overrides":{"mine":{"z":"y"}}})");
  CustomLayoutEditorController::shared().showWindow();
  CustomLayoutEditor* window = CustomLayoutEditorController::shared().window();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Custom Key Mappings");
  auto* table = window->findChild<QTableView*>("mappings");
  EXPECT_EQ(table->model()->index(0, 1).data().toString(), "mine");
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                    table->visualRect(table->model()->index(0, 0)).center());
  click(window->findChild<QPushButton*>("removeSelected"));
  EXPECT_EQ(file(), "{\n  \"overrides\": {\n    \"mine\": {}\n  }\n}\n");
  window->close();
}

// An output longer than the engine types is refused with a message, and nothing is written; one at
// the limit, counted in characters, not UTF-16 units, is stored. A file already holding a longer
// one, written by hand, stays readable and keeps it through later changes.
TEST_F(CustomLayoutEditorTest, AnOutputTooLongToTypeIsRefusedWithAMessage) {
  testing::ScriptedDialogs dialogs;
  dialogs.expectedParent = &editor_;
  dialogs::testSetDialogs(&dialogs);
  const QString handWritten = QStringLiteral("\u0995") + QString(200, QChar(0x0301));
  testing::writeBytes(
      CustomLayoutFile::path(),
      (R"({"overrides":{"default":{"k":")" + handWritten + R"(","j":"ক্ষ"}}})").toStdString());
  editor_.reload();
  EXPECT_EQ(rows(), "default:j=ক্ষ default:k=" + handWritten);
  const std::string before = file();

  const QString limit(CustomLayoutFile::kMaxOutputCharacters, QChar(0x09BE));
  const QString tooLong = limit + QStringLiteral("\u09BE");
  auto* keyField = editor_.findChild<QLineEdit*>("key");
  auto* outputField = editor_.findChild<QLineEdit*>("output");
  // The window speaks English whatever the interface language, its refusal too.
  const QString message =
      QStringLiteral("The output is too long. A key can type at most 64 characters.");
  for (int language : {1, 0}) {
    AppSettings::setUiLanguage(language);
    add("a", 0, tooLong);
    ASSERT_EQ(dialogs.events.size(), language == 1 ? 1 : 2);
    EXPECT_EQ(dialogs.events.last(), "alert " + message + " [OK]");
    EXPECT_EQ(file(), before);
    EXPECT_TRUE(posts_.empty());
    // The fields keep the text, to be shortened.
    EXPECT_EQ(keyField->text(), "a");
    EXPECT_EQ(outputField->text(), tooLong);
  }
  const auto box = dialogs::makeAlertBox(
      &editor_, {message, dialogs::AlertStyle::warning, QStringLiteral("OK")});
  box->show();
  QApplication::processEvents();
  for (QLabel* label : box->findChildren<QLabel*>()) {
    EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString();
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
  }
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  EXPECT_TRUE(box->grab().save(folder + "/custom-keys-too-long.png"));

  // At the limit it is stored; characters beyond the first plane count once each.
  add("a", 0, limit);
  const QString emoji = QString::fromUcs4(std::u32string(64, U'\U0001F600').data(), 64);
  add("b", 0, emoji);
  EXPECT_EQ(dialogs.events.size(), 2);
  EXPECT_EQ(posts_, std::vector<bool>(2, true));
  EXPECT_EQ(rows(), "default:a=" + limit + " default:b=" + emoji +
                        " default:j=ক্ষ default:k=" + handWritten);
  const std::optional<CustomLayoutFile::Overrides> stored =
      CustomLayoutFile::parse(QByteArray::fromStdString(file()));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->at("default").at("k"), handWritten);
  EXPECT_EQ(stored->at("default").size(), 4u);
  dialogs::testSetDialogs(nullptr);
}

}  // namespace
}  // namespace tolvani
