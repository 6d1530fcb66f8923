// The diagnostics page under the offscreen platform: what it shows with and without diagnostics
// files, when it reads them again, what sharing and copying hand over, its texts in both interface
// languages, and screenshots of it in both.
#include "stats/DiagnosticsView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QtTest/QTest>
#include <ostream>

#include "settings/AppSettings.h"
#include "stats/tests/StatsTestSupport.h"

using namespace std::chrono_literals;

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace tolvani {
namespace {

using RuntimeDiagnostics::Metric;
using testing::kReportHeader;
using testing::kReportPlaceholder;

class DiagnosticsViewTest : public testing::DiagnosticsFolderTest {
 protected:
  void SetUp() override {
    DiagnosticsFolderTest::SetUp();
    AppSettings::setUiLanguage(1);
  }
  void TearDown() override {
    AppSettings::setUiLanguage(1);
    DiagnosticsFolderTest::TearDown();
  }
  // The page's text view and buttons.
  static QPlainTextEdit* text(DiagnosticsView& view) {
    return view.findChild<QPlainTextEdit*>(QStringLiteral("report"));
  }
  static QToolButton* button(DiagnosticsView& view, const char* name) {
    return view.findChild<QToolButton*>(QString::fromLatin1(name));
  }
  // Shows the page and lets the flush that showing asks for run.
  static void showAndSettle(DiagnosticsView& view) {
    view.show();
    RuntimeDiagnostics::testWaitForQueue();
  }
};

TEST_F(DiagnosticsViewTest, AppearingAsksForAFileAndRefreshReadsItWithoutAskingAgain) {
  RuntimeDiagnostics::record(Metric::keyHandling, 2.5);
  DiagnosticsView view;
  // Creating the page writes nothing: no documents yet.
  EXPECT_EQ(view.report(), kReportHeader + kReportPlaceholder);
  EXPECT_EQ(text(view)->toPlainText(), kReportHeader + kReportPlaceholder);
  EXPECT_TRUE(text(view)->isReadOnly());

  showAndSettle(view);
  const std::optional<QByteArray> written = readFile(RuntimeDiagnostics::fileName());
  ASSERT_TRUE(written) << "showing the page flushes";
  const QString document = QString::fromUtf8(*written);
  EXPECT_TRUE(document.contains("\"keyHandling\""));

  // Another role's document sorts first; both are shown, a blank line apart.
  writeFile("diagnostics-a.json", "{\n    \"bundle\": \"a\"\n}");
  QTest::mouseClick(button(view, "refresh"), Qt::LeftButton);
  const QString both = kReportHeader + "{\n    \"bundle\": \"a\"\n}" + "\n\n" + document;
  EXPECT_EQ(view.report(), both);
  EXPECT_EQ(text(view)->toPlainText(), both);

  // Refreshing does not flush: a new sample stays out of the file until the page appears again.
  RuntimeDiagnostics::record(Metric::persistence, 7);
  clock_.advance(31s);
  view.refresh();
  RuntimeDiagnostics::testWaitForQueue();
  view.refresh();
  EXPECT_FALSE(view.report().contains("\"persistence\""));

  view.hide();
  showAndSettle(view);
  view.refresh();
  EXPECT_TRUE(view.report().contains("\"persistence\""));
}

TEST_F(DiagnosticsViewTest, SharingAndCopyingHandOverExactlyTheTextShown) {
  writeFile("diagnostics-keyboard.json", "{\n    \"launches\": 3\n}");
  DiagnosticsView view;
  showAndSettle(view);
  view.refresh();  // with this process's own document too
  const QString shown = text(view)->toPlainText();
  ASSERT_TRUE(shown.startsWith(kReportHeader));

  // A document written after the page last read them is not shared until a refresh.
  writeFile("diagnostics-zz.json", "{}");
  QGuiApplication::clipboard()->clear();
  QTest::mouseClick(button(view, "share"), Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), shown);

  view.refresh();
  view.share();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), shown + "\n\n{}");

  // The text can be selected and copied from the keyboard too.
  QGuiApplication::clipboard()->clear();
  text(view)->setFocus();
  QTest::keyClick(text(view), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(text(view), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), view.report());
}

// In Bangla the bar's buttons do the same under their Bangla texts: "হালনাগাদ" reads the files
// again and "শেয়ার" hands over the text shown.
TEST_F(DiagnosticsViewTest, BanglaButtonsRefreshAndShare) {
  AppSettings::setUiLanguage(0);
  DiagnosticsView view;
  showAndSettle(view);
  ASSERT_EQ(button(view, "refresh")->text(), QString::fromUtf8("হালনাগাদ"));
  ASSERT_EQ(button(view, "share")->text(), QString::fromUtf8("শেয়ার"));
  writeFile("diagnostics-a.json", "{}");
  EXPECT_FALSE(text(view)->toPlainText().contains("{}"));
  QTest::mouseClick(button(view, "refresh"), Qt::LeftButton);
  EXPECT_TRUE(text(view)->toPlainText().startsWith(kReportHeader + "{}"));
  QGuiApplication::clipboard()->clear();
  QTest::mouseClick(button(view, "share"), Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), text(view)->toPlainText());
}

TEST_F(DiagnosticsViewTest, TextsAndScreenshotsInBothLanguages) {
  RuntimeDiagnostics::record(Metric::keyHandling, 1.25);
  RuntimeDiagnostics::record(Metric::persistence, 12);
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  const std::tuple<int, const char*, const char*> rows[] = {
      {0, "bangla", "ডায়াগনস্টিকস ডায়াগনস্টিকস হালনাগাদ শেয়ার"},
      {1, "english", "Diagnostics Diagnostics Refresh Share"},
      {7, nullptr, "Diagnostics Diagnostics Refresh Share"},  // unknown: English
  };
  for (const auto& [language, screenshot, texts] : rows) {
    SCOPED_TRACE(language);
    clock_.advance(31s);  // past the throttle, so that showing writes the file again
    AppSettings::setUiLanguage(language);
    DiagnosticsView view;
    view.resize(520, 420);
    showAndSettle(view);
    view.refresh();
    ASSERT_TRUE(view.report().contains("\"keyHandling\""));
    EXPECT_EQ(
        QStringList({view.windowTitle(), view.findChild<QLabel*>(QStringLiteral("title"))->text(),
                     button(view, "refresh")->text(), button(view, "share")->text()})
            .join(' '),
        QString::fromUtf8(texts));
    // Nothing in the bar is squeezed below the size it asks for.
    for (const char* name : {"title", "refresh", "share"}) {
      const QWidget* widget = view.findChild<QWidget*>(QLatin1String(name));
      EXPECT_GE(widget->width(), widget->sizeHint().width()) << name;
      EXPECT_GE(widget->height(), widget->sizeHint().height()) << name;
    }
    if (!screenshot) continue;
    const QString path = folder + "/diagnostics-page-" + screenshot + ".png";
    EXPECT_TRUE(view.grab().save(path)) << path.toStdString();
  }
}

}  // namespace
}  // namespace tolvani
