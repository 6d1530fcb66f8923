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

#include "platform/Clock.h"
#include "settings/AppSettings.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/tests/StatsTestSupport.h"

using namespace std::chrono_literals;

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace tolvani {
namespace {

const QString kHeader = QStringLiteral(
    "Tolvani local diagnostics\nAggregate timings only; no typed text. Memory is sampled, not a "
    "measured session maximum. Launches include normal process restarts.\n\n");
const QString kPlaceholder =
    QStringLiteral("Use the keyboard, then reopen this page to see measurements.");

class DiagnosticsViewTest : public testing::DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    RuntimeDiagnostics::testReset();
    AppSettings::setUiLanguage(1);
  }

  void TearDown() override {
    RuntimeDiagnostics::testWaitForQueue();
    AppSettings::setUiLanguage(1);
    DataFolderTest::TearDown();
  }

  static QPlainTextEdit* reportView(DiagnosticsView& view) {
    return view.findChild<QPlainTextEdit*>(QStringLiteral("report"));
  }
  static QToolButton* button(DiagnosticsView& view, const char* name) {
    return view.findChild<QToolButton*>(QString::fromLatin1(name));
  }
};

TEST_F(DiagnosticsViewTest, ShowsHeaderAndPlaceholderWithoutDocumentsAndItsTextsInBothLanguages) {
  const struct {
    int language;
    QString title, refresh, share;
  } rows[] = {
      {0, QStringLiteral("ডায়াগনস্টিকস"), QStringLiteral("হালনাগাদ"), QStringLiteral("শেয়ার")},
      {1, "Diagnostics", "Refresh", "Share"},
      {7, "Diagnostics", "Refresh", "Share"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.language);
    AppSettings::setUiLanguage(row.language);
    DiagnosticsView view;
    EXPECT_EQ(view.report(), kHeader + kPlaceholder);
    EXPECT_EQ(reportView(view)->toPlainText(), kHeader + kPlaceholder);
    EXPECT_TRUE(reportView(view)->isReadOnly());
    EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("title"))->text(), row.title);
    EXPECT_EQ(view.windowTitle(), row.title);
    EXPECT_EQ(button(view, "refresh")->text(), row.refresh);
    EXPECT_EQ(button(view, "share")->text(), row.share);
  }
}

TEST_F(DiagnosticsViewTest, AppearingAsksForAFileAndRefreshReadsItWithoutAskingAgain) {
  RuntimeDiagnostics::record(RuntimeDiagnostics::Metric::keyHandling, 2.5);
  DiagnosticsView view;
  EXPECT_EQ(view.report(), kHeader + kPlaceholder);  // creating the page writes nothing

  view.show();
  RuntimeDiagnostics::testWaitForQueue();
  const std::optional<QByteArray> written = readFile(RuntimeDiagnostics::fileName());
  ASSERT_TRUE(written) << "showing the page flushes";
  const QString document = QString::fromUtf8(*written);
  EXPECT_TRUE(document.contains("\"keyHandling\""));

  // Another role's document sorts first; both are shown, a blank line apart.
  writeFile("diagnostics-a.json", "{\n    \"bundle\": \"a\"\n}");
  QTest::mouseClick(button(view, "refresh"), Qt::LeftButton);
  const QString both = kHeader + "{\n    \"bundle\": \"a\"\n}" + "\n\n" + document;
  EXPECT_EQ(view.report(), both);
  EXPECT_EQ(reportView(view)->toPlainText(), both);

  // Refreshing does not flush: a new sample stays out of the file until the page appears again.
  RuntimeDiagnostics::record(RuntimeDiagnostics::Metric::persistence, 7);
  clock_.advance(31s);
  view.refresh();
  RuntimeDiagnostics::testWaitForQueue();
  view.refresh();
  EXPECT_FALSE(view.report().contains("\"persistence\""));

  view.hide();
  view.show();
  RuntimeDiagnostics::testWaitForQueue();
  view.refresh();
  EXPECT_TRUE(view.report().contains("\"persistence\""));
}

TEST_F(DiagnosticsViewTest, SharingAndCopyingHandOverExactlyTheTextShown) {
  writeFile("diagnostics-keyboard.json", "{\n    \"launches\": 3\n}");
  DiagnosticsView view;
  view.show();
  RuntimeDiagnostics::testWaitForQueue();
  view.refresh();  // with this process's own document too
  const QString shown = reportView(view)->toPlainText();
  ASSERT_TRUE(shown.startsWith(kHeader));

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
  reportView(view)->setFocus();
  QTest::keyClick(reportView(view), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(reportView(view), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), view.report());
}

TEST_F(DiagnosticsViewTest, ScreenshotsInBothLanguages) {
  RuntimeDiagnostics::record(RuntimeDiagnostics::Metric::keyHandling, 1.25);
  RuntimeDiagnostics::record(RuntimeDiagnostics::Metric::persistence, 12);
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  for (int language : {0, 1}) {
    SCOPED_TRACE(language);
    AppSettings::setUiLanguage(language);
    DiagnosticsView view;
    view.resize(520, 420);
    view.show();
    RuntimeDiagnostics::testWaitForQueue();
    view.refresh();
    ASSERT_TRUE(view.report().contains("\"keyHandling\""));
    // Nothing in the bar is squeezed below the size it asks for.
    for (QWidget* widget : {static_cast<QWidget*>(view.findChild<QLabel*>("title")),
                            static_cast<QWidget*>(button(view, "refresh")),
                            static_cast<QWidget*>(button(view, "share"))}) {
      EXPECT_GE(widget->width(), widget->sizeHint().width()) << widget->objectName().toStdString();
      EXPECT_GE(widget->height(), widget->sizeHint().height());
    }
    const QString path =
        folder + (language == 0 ? "/diagnostics-page-bangla.png" : "/diagnostics-page-english.png");
    EXPECT_TRUE(view.grab().save(path)) << path.toStdString();
    clock_.advance(31s);
  }
}

}  // namespace
}  // namespace tolvani
