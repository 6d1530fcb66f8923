// The typing statistics window under the offscreen platform, driven by clicks: the values of a
// known statistics file, a second opening after more typing, the reset confirmation cancelled and
// confirmed (the file and the window after each), and its texts and screenshots in both interface
// languages and under a dark palette.
#include "stats/TypingStatsWindowController.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <ostream>

#include "platform/testing/RenderedText.h"
#include "platform/testing/WindowTesting.h"
#include "settings/AppSettings.h"
#include "stats/TypingStatsStore.h"
#include "stats/tests/StatsTestSupport.h"

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace tolvani {
namespace {

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// Answers the next modal message box once it is up; fails the test when none comes within 5 s.
void answerBox(std::function<void(QMessageBox&)> answer) {
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [answer, started, poll] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      answer(*box);
      *poll = nullptr;  // ends the cycle
      return;
    }
    if (started->hasExpired(5000)) {
      ADD_FAILURE() << "no confirmation came";
      *poll = nullptr;
      return;
    }
    QTimer::singleShot(10, *poll);
  };
  QTimer::singleShot(0, *poll);
}

QAbstractButton* buttonNamed(QMessageBox& box, const QString& text) {
  for (QAbstractButton* button : box.buttons()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

class TypingStatsWindowTest : public testing::DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    TypingStatsStore::testReset();
    AppSettings::setUiLanguage(1);
  }
  void TearDown() override {
    TypingStatsStore::testReset();
    AppSettings::setUiLanguage(1);
    DataFolderTest::TearDown();
  }

  // The seven values, " | " between.
  static QString values(TypingStatsWindowController& window) {
    QStringList shown;
    for (const char* name :
         {"keystrokes", "words", "autocorrections", "selections", "saved", "sessions", "since"}) {
      shown << window.findChild<QLabel*>(QLatin1String(name))->text();
    }
    return shown.join(QStringLiteral(" | "));
  }
  static QPushButton* resetButton(TypingStatsWindowController& window) {
    return window.findChild<QPushButton*>(QStringLiteral("reset"));
  }

  void writeKnownStats() {
    TypingStats stats;
    stats.totalKeystrokes = 1234567;
    stats.totalWordsCommitted = 4321;
    stats.totalAutocorrections = 7;
    stats.totalCandidateSelections = 0;
    stats.keystrokesSavedByAutocorrect = 19;
    stats.sessionCount = 5;
    stats.firstUsed = QDateTime(QDate(2024, 3, 5), QTime(23, 30), Qt::UTC);
    stats.lastUsed = QDateTime(QDate(2024, 4, 1), QTime(8, 0), Qt::UTC);
    writeFile("typing-stats.json", stats.toJson());
  }
};

TEST_F(TypingStatsWindowTest, ShowsTheStoredCountsAndTheNewOnesWhenOpenedAgain) {
  {
    // No file: zeros and "Not yet".
    TypingStatsWindowController window;
    window.showWindow();
    EXPECT_EQ(values(window), "0 | 0 | 0 | 0 | 0 | 0 | Not yet");
  }
  TypingStatsStore::testReset();
  writeKnownStats();
  TypingStatsWindowController window;
  EXPECT_EQ(values(window), " |  |  |  |  |  | ") << "nothing is read before the window opens";
  window.showWindow();
  EXPECT_EQ(values(window), "1,234,567 | 4,321 | 7 | 0 | 19 | 5 | Mar 5, 2024");

  // More typing while the window is open shows only at the next opening.
  TypingStatsStore::recordKeystroke();
  TypingStatsStore::recordCommit(true, 3);
  TypingStatsStore::load();
  EXPECT_EQ(values(window), "1,234,567 | 4,321 | 7 | 0 | 19 | 5 | Mar 5, 2024");
  window.close();
  window.showWindow();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(values(window), "1,234,568 | 4,322 | 8 | 0 | 22 | 5 | Mar 5, 2024");

  // Another locale groups and dates its own way.
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("de_DE"), status);
  window.reload();
  EXPECT_EQ(values(window), "1.234.568 | 4.322 | 8 | 0 | 22 | 5 | 05.03.2024");
}

TEST_F(TypingStatsWindowTest, SharedWindowOpensOnceAndComesBackToTheFront) {
  TypingStatsWindowController& first = TypingStatsWindowController::shared();
  first.showWindow();
  EXPECT_TRUE(first.isVisible());
  first.close();
  EXPECT_FALSE(first.isVisible());
  TypingStatsWindowController::shared().showWindow();
  EXPECT_EQ(&TypingStatsWindowController::shared(), &first);
  EXPECT_TRUE(first.isVisible());
  EXPECT_EQ(QApplication::topLevelWidgets().count(&first), 1);
  first.close();
}

TEST_F(TypingStatsWindowTest, ResetAsksAndErasesOnlyWhenConfirmed) {
  writeKnownStats();
  const QByteArray before = *readFile("typing-stats.json");
  TypingStatsWindowController window;
  window.showWindow();
  const QString shown = values(window);

  // Cancel, then Return (the default button is Cancel), then Escape: nothing changes.
  QStringList seen;
  answerBox([&](QMessageBox& box) {
    QStringList buttons;
    for (QAbstractButton* button : box.buttons()) buttons << button->text();
    buttons.sort();
    seen << QString::number(box.icon()) + " " + box.text() + " / " + box.informativeText() + " [" +
                buttons.join(',') + "] default " + box.defaultButton()->text();
    EXPECT_EQ(box.parentWidget(), &window);
    QTest::mouseClick(buttonNamed(box, "Cancel"), Qt::LeftButton);
  });
  QTest::mouseClick(resetButton(window), Qt::LeftButton);
  EXPECT_EQ(seen, QStringList({"2 Are you sure? / All typing statistics will be erased. "
                               "[Cancel,Reset] default Cancel"}));
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    answerBox([key](QMessageBox& box) { QTest::keyClick(&box, key); });
    QTest::mouseClick(resetButton(window), Qt::LeftButton);
  }
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(readFile("typing-stats.json"), before);
  EXPECT_EQ(values(window), shown);
  EXPECT_EQ(TypingStatsStore::load().totalKeystrokes, 1234567);

  // Reset: the file goes and the window shows zeros at once.
  answerBox([](QMessageBox& box) { QTest::mouseClick(buttonNamed(box, "Reset"), Qt::LeftButton); });
  QTest::mouseClick(resetButton(window), Qt::LeftButton);
  EXPECT_FALSE(QFile::exists(filePath("typing-stats.json")));
  EXPECT_EQ(values(window), "0 | 0 | 0 | 0 | 0 | 0 | Not yet");
  TypingStatsStore::flush();
  EXPECT_FALSE(QFile::exists(filePath("typing-stats.json")));
  EXPECT_EQ(TypingStatsStore::load(), TypingStats());
}

// In Bangla the same clicks on the Bangla buttons: "বাতিল" keeps the counts, "রিসেট" erases them
// and the window shows zeros and "এখনো নয়".
TEST_F(TypingStatsWindowTest, ResetInBanglaUnderItsBanglaButtons) {
  AppSettings::setUiLanguage(0);
  writeKnownStats();
  TypingStatsWindowController window;
  window.showWindow();
  ASSERT_EQ(resetButton(window)->text(), u("পরিসংখ্যান রিসেট করুন"));
  const QString shown = values(window);
  for (const char* answer : {"বাতিল", "রিসেট"}) {
    SCOPED_TRACE(answer);
    answerBox([answer](QMessageBox& box) {
      QAbstractButton* button = buttonNamed(box, u(answer));
      ASSERT_NE(button, nullptr);
      QTest::mouseClick(button, Qt::LeftButton);
    });
    QTest::mouseClick(resetButton(window), Qt::LeftButton);
    if (QString(answer) == u("বাতিল")) {
      EXPECT_EQ(values(window), shown);
    }
  }
  EXPECT_EQ(values(window), u("0 | 0 | 0 | 0 | 0 | 0 | এখনো নয়"));
  EXPECT_FALSE(QFile::exists(filePath("typing-stats.json")));
}

// Each row's title stands on the baseline of its value, as measured in the rendered window: in
// Bangla the titles sat about 5 px above their numbers, each label centring a line of its own
// depth, and Bangla brings a deeper line than digits.
TEST_F(TypingStatsWindowTest, RowTitlesStandOnTheBaselineOfTheirValues) {
  for (bool used : {true, false}) {  // a date, or "not yet" in the interface language
    for (int language : {0, 1}) {
      SCOPED_TRACE(std::string(used ? "used " : "never used ") + (language ? "english" : "bangla"));
      if (used) {
        writeKnownStats();
      } else {
        TypingStatsStore::reset();
      }
      AppSettings::setUiLanguage(language);
      TypingStatsWindowController window;
      window.showWindow();
      const QImage shot = window.grab().toImage();
      auto* grid = window.findChild<QGridLayout*>();
      ASSERT_NE(grid, nullptr);
      ASSERT_EQ(grid->rowCount(), 7);
      for (int row = 0; row < grid->rowCount(); ++row) {
        auto* title = qobject_cast<QLabel*>(grid->itemAtPosition(row, 0)->widget());
        auto* value = qobject_cast<QLabel*>(grid->itemAtPosition(row, 1)->widget());
        ASSERT_TRUE(title && value);
        const std::optional<int> titleBaseline = testing::renderedBaseline(&window, shot, title);
        const std::optional<int> valueBaseline = testing::renderedBaseline(&window, shot, value);
        ASSERT_TRUE(titleBaseline && valueBaseline) << row;
        EXPECT_LE(std::abs(*titleBaseline - *valueBaseline), 1)
            << title->text().toStdString() << " at " << *titleBaseline << ", "
            << value->text().toStdString() << " at " << *valueBaseline;
      }
      const QString name = QString("typing-stats-baselines-") + (used ? "used-" : "never-") +
                           (language ? "english" : "bangla");
      EXPECT_TRUE(
          shot.save(QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots/" + name + ".png"));
    }
  }
}

TEST_F(TypingStatsWindowTest, TextsAndScreenshotsInBothLanguagesAndDark) {
  writeKnownStats();
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  const QPalette light = QApplication::palette();
  struct Case {
    int language;
    bool dark;
    const char* name;
    const char* texts;
    const char* confirmation;
  };
  const Case cases[] = {
      {1, false, "english",
       "Typing Insights | Typing Insights | All data stays on this computer | Total keystrokes | "
       "Words committed | Autocorrections | Candidate selections | Keystrokes saved | Sessions | "
       "Tracking since | Reset Statistics",
       "Are you sure? | All typing statistics will be erased. | Cancel | Reset"},
      {0, false, "bangla",
       "টাইপিং পরিসংখ্যান | টাইপিং পরিসংখ্যান | সব তথ্য শুধুমাত্র এই কম্পিউটারে সংরক্ষিত | মোট "
       "কীস্ট্রোক | লেখা শব্দ | স্বয়ংক্রিয় সংশোধন | প্রার্থী নির্বাচন | সাশ্রয় হওয়া কীস্ট্রোক | "
       "সেশন | গণনা শুরু | পরিসংখ্যান রিসেট করুন",
       "আপনি কি নিশ্চিত? | সব টাইপিং পরিসংখ্যান মুছে যাবে। | বাতিল | রিসেট"},
      {0, true, "bangla-dark", nullptr, nullptr},
      {1, true, "english-dark", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppSettings::setUiLanguage(c.language);
    QApplication::setPalette(c.dark ? testing::darkPalette() : light);
    TypingStatsWindowController window;
    window.showWindow();
    QStringList texts{window.windowTitle()};
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (label->objectName().isEmpty() || label->objectName() == "heading" ||
          label->objectName() == "subtitle") {
        texts << label->text();
      }
    }
    texts << resetButton(window)->text();
    if (c.texts) {
      EXPECT_EQ(texts.join(" | "), u(c.texts));
    }

    // Every text has the room it asks for and stands out from the window's background.
    const QColor background = window.palette().color(QPalette::Window);
    for (QWidget* widget : window.findChildren<QWidget*>()) {
      EXPECT_GE(widget->width(), widget->sizeHint().width()) << widget->objectName().toStdString();
      EXPECT_GE(widget->height(), widget->sizeHint().height());
      const QColor ink = widget->palette().color(widget->foregroundRole());
      EXPECT_GT(std::abs(ink.lightness() - background.lightness()), 80)
          << widget->objectName().toStdString();
    }
    EXPECT_GE(window.width(), 380);
    EXPECT_GE(window.height(), 340);
    EXPECT_TRUE(window.grab().save(folder + "/typing-stats-" + c.name + ".png"));

    if (!c.confirmation) continue;
    QString confirmation;
    answerBox([&](QMessageBox& box) {
      QStringList buttons;
      for (QAbstractButton* button : box.buttons()) buttons << button->text();
      buttons.sort();
      confirmation = box.text() + " | " + box.informativeText() + " | " + buttons.join(" | ");
      QApplication::processEvents();
      box.grab().save(folder + "/typing-stats-confirm-" + c.name + ".png");
      QTest::keyClick(&box, Qt::Key_Escape);
    });
    QTest::mouseClick(resetButton(window), Qt::LeftButton);
    EXPECT_EQ(confirmation, u(c.confirmation));
  }
  QApplication::setPalette(light);
  EXPECT_TRUE(QFile::exists(filePath("typing-stats.json")));
}

}  // namespace
}  // namespace tolvani
