// The correction-preferences page: its model and filter without widgets, then the page driven by
// keys and clicks over real learned files: rows as the files hold them, the search, forgetting the
// selected preferences, and the alert when the files cannot be changed.
#include "windows/CorrectionPreferencesView.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

// The rows a proxy shows, one line each: title | chosen | skipped.
QString rowsOf(const QAbstractItemModel& model) {
  QStringList rows;
  for (int r = 0; r < model.rowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < model.columnCount(); ++c) cells << model.index(r, c).data().toString();
    rows << cells.join(" | ");
  }
  return rows.join('\n');
}

class CorrectionPreferencesModelTest : public testing::SettingsSuiteTest {};

TEST_F(CorrectionPreferencesModelTest, RowsAndSearch) {
  AppSettings::setUiLanguage(1);
  CorrectionPreferencesModel model;
  QAbstractItemModelTester modelTester(&model);
  CorrectionPreferencesFilter filter;
  filter.setSourceModel(&model);
  QAbstractItemModelTester filterTester(&filter);
  model.setPreferences({
      {"#standard:ami", std::nullopt, {"আমী"}},
      {"Bhat", QStringLiteral("ভাত"), {}},
      {"kal", QStringLiteral("Kalke"), {"কাল", "কালো"}},
      {"\u09A1\u09BC", std::nullopt, {}},
  });
  const QString all =
      "ami |  | Skipped: আমী\nBhat | Chosen: ভাত | \n"
      "kal | Chosen: Kalke | Skipped: কাল, কালো\n\u09A1\u09BC |  | ";
  const struct {
    QString search;
    QString rows;
  } cases[] = {
      {"", all},
      {"standard", "ami |  | Skipped: আমী"},  // the marker is searched, not shown
      {"bHA", "Bhat | Chosen: ভাত | "},       // the input in any case
      {"kalk", ""},                           // the pick only as written
      {"Kalk", "kal | Chosen: Kalke | Skipped: কাল, কালো"},
      {"কালো", ""},                      // skipped ones are never searched
      {" ", ""},                         // a space is a search
      {"\u09DC", "\u09A1\u09BC |  | "},  // ড় found as ড + nukta
      {"(", ""},                         // no pattern syntax
  };
  for (const auto& c : cases) {
    filter.setSearch(c.search);
    EXPECT_EQ(rowsOf(filter), c.rows) << c.search.toStdString();
  }
  filter.setSearch({});
  EXPECT_EQ(rowsOf(filter), all);
}

class CorrectionPreferencesViewTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::setUiLanguage(1);
    dialogs::testSetDialogs(&dialogs_);
    testing::writeBytes(AppSettings::selectionMemoryURL(),
                        R"({"reset_id":"s","selections":{"ami":{"text":"আমি","count":2},)"
                        R"("bhat":{"text":"ভাত","count":1},"kal":{"text":"কাল","count":1}}})");
    testing::writeBytes(AppSettings::userRejectionsURL(),
                        R"({"reset_id":"r","entries":{"ami":{"আমী":1},"tumi":{"তুমী":1}}})");
  }
  void TearDown() override {
    dialogs::testSetDialogs(nullptr);
    LearnedDataTest::TearDown();
  }

  // Clicks the row of the table whose title is `title`, Control held for more than one.
  static void select(QTableView* table, const QString& title, bool add = false) {
    const QAbstractItemModel* model = table->model();
    for (int r = 0; r < model->rowCount(); ++r) {
      const QModelIndex index = model->index(r, 0);
      if (index.data().toString() != title) continue;
      QTest::mouseClick(table->viewport(), Qt::LeftButton,
                        add ? Qt::ControlModifier : Qt::KeyboardModifiers(),
                        table->visualRect(index).center());
      return;
    }
    ADD_FAILURE() << "no row " << title.toStdString();
  }

  testing::ScriptedDialogs dialogs_;
};

TEST_F(CorrectionPreferencesViewTest, ForgettingTheSelectedRowsUnderASearch) {
  CorrectionPreferencesView view;
  dialogs_.expectedParent = &view;
  EXPECT_EQ(view.model().rowCount(), 0);  // nothing is read before the page shows
  view.resize(560, 420);
  view.show();
  auto* table = view.findChild<QTableView*>("preferences");
  auto* search = view.findChild<QLineEdit*>("search");
  auto* forget = view.findChild<QPushButton*>("forget");
  EXPECT_EQ(rowsOf(*table->model()),
            "ami | Chosen: আমি | Skipped: আমী\nbhat | Chosen: ভাত | \nkal | Chosen: কাল | \n"
            "tumi |  | Skipped: তুমী");
  EXPECT_FALSE(forget->isEnabled());

  QTest::keyClicks(search, "a");
  EXPECT_EQ(rowsOf(*table->model()),
            "ami | Chosen: আমি | Skipped: আমী\nbhat | Chosen: ভাত | \nkal | Chosen: কাল | ");
  select(table, "bhat");
  select(table, "kal", true);
  EXPECT_TRUE(forget->isEnabled());
  click(forget);
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));
  // The search stays; the rows are what the files hold now.
  EXPECT_EQ(search->text(), "a");
  EXPECT_EQ(rowsOf(*table->model()), "ami | Chosen: আমি | Skipped: আমী");
  EXPECT_FALSE(forget->isEnabled());
  search->clear();
  EXPECT_EQ(rowsOf(*table->model()), "ami | Chosen: আমি | Skipped: আমী\ntumi |  | Skipped: তুমী");
  EXPECT_EQ(AppSettings::correctionPreferences().size(), 2u);
  EXPECT_EQ(dialogs_.events, QStringList());

  // Forgetting the last ones leaves the explanation alone on the page.
  select(table, "ami");
  select(table, "tumi", true);
  click(forget);
  EXPECT_EQ(table->model()->rowCount(), 0);
  EXPECT_TRUE(view.findChild<QWidget*>("explanation")->isVisible());
}

TEST_F(CorrectionPreferencesViewTest, AFailedForgetIsReportedAndTheRowsReread) {
  testing::writeBytes(AppSettings::userRejectionsURL(), "{}");  // not a rejections document
  CorrectionPreferencesView view;
  dialogs_.expectedParent = &view;
  view.resize(560, 420);
  view.show();
  auto* table = view.findChild<QTableView*>("preferences");
  select(table, "ami");
  click(view.findChild<QPushButton*>("forget"));
  EXPECT_EQ(dialogs_.events, QStringList{"alert Could not save changes [OK]"});
  EXPECT_EQ(posts_, std::vector<bool>{true});
  EXPECT_EQ(rowsOf(*table->model()),
            "ami | Chosen: আমি | \nbhat | Chosen: ভাত | \nkal | Chosen: কাল | ");
}

}  // namespace
}  // namespace tolvani
