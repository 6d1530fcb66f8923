// The boxes every window shows through the dialog seam, as the desktop runs them under the
// offscreen platform: the confirmation's two buttons (Escape and Return cancel, only the
// destructive button confirms), modality over the asking window, and a scripted answer that never
// finds its box failing within its time limit.
#include "settings/Dialogs.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include "platform/testing/WindowTesting.h"

namespace tolvani {
namespace {

using testing::answerModal;

const dialogs::Confirmation kConfirmation{"Are you sure?", "<b>Gone</b> for good.", "Reset",
                                          "Cancel"};

TEST(DialogsTest, ConfirmationAsksOverItsWindowAndOnlyTheDestructiveButtonConfirms) {
  QWidget window;
  window.show();
  QStringList seen;
  const struct {
    const char* how;
    bool confirmed;
  } rows[] = {{"escape", false}, {"return", false}, {"cancel", false}, {"confirm", true}};
  for (const auto& row : rows) {
    const QString how = QString::fromLatin1(row.how);
    answerModal<QMessageBox>([&](QMessageBox* box) {
      seen << box->text() + "|" + box->informativeText() + "|" +
                  QString::number(box->textFormat()) + "|" +
                  (box->parentWidget() == &window ? "over its window" : "elsewhere") + "|" +
                  box->defaultButton()->text() + "|" + box->escapeButton()->text();
      if (how == "escape") QTest::keyClick(box, Qt::Key_Escape);
      if (how == "return") QTest::keyClick(box, Qt::Key_Return);
      if (how == "cancel" || how == "confirm")
        QTest::mouseClick(box->findChild<QPushButton*>(how), Qt::LeftButton);
    });
    EXPECT_EQ(dialogs::current().confirm(&window, kConfirmation), row.confirmed) << row.how;
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
  EXPECT_EQ(seen.size(), 4);
  for (const QString& line : seen)
    EXPECT_EQ(line, "Are you sure?|<b>Gone</b> for good.|0|over its window|Cancel|Cancel");

  // An alert has its one button for both keys.
  answerModal<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->buttons().size(), 1);
    QTest::keyClick(box, Qt::Key_Escape);
  });
  dialogs::current().showAlert(&window, {"Saved.", dialogs::AlertStyle::informational, "OK"});
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(DialogsTest, AnAnswerWhoseBoxNeverComesFailsInTime) {
  EXPECT_NONFATAL_FAILURE(
      {
        answerModal<QMessageBox>([](QMessageBox*) {}, 50);
        QTest::qWait(300);
      },
      "no QMessageBox came up");
}

}  // namespace
}  // namespace tolvani
