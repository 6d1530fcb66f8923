// The About tab: its QR code read back by a real decoder, the address copied and opened, the
// version line with and without a version, and the icon's fallback.
#include "windows/AboutTab.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "platform/Bundle.h"
#include "platform/testing/UrlCatcher.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;
using testing::UrlCatcher;

class AboutTabTest : public testing::SettingsSuiteTest {
 protected:
  void SetUp() override {
    SettingsSuiteTest::SetUp();
    AppSettings::setUiLanguage(1);
  }
};

// What zbarimg reads from the image, or why it could not.
QString decoded(const QImage& image) {
  QTemporaryDir dir;
  const QString path = dir.filePath("code.png");
  if (!image.save(path)) return "<not saved>";
  QProcess zbar;
  zbar.start(QStringLiteral("zbarimg"), {"--quiet", "--raw", "-Sdisable", "-Sqrcode.enable", path});
  if (!zbar.waitForFinished(30'000)) return "<zbarimg did not run>";
  return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

TEST_F(AboutTabTest, TheQrCodeReadsBackAsTheAddressTheButtonsShareAndOpen) {
  ASSERT_FALSE(QStandardPaths::findExecutable("zbarimg").isEmpty()) << "scripts/setup installs it";
  const QString address = AboutTab::installOniPhoneURL().toString();
  EXPECT_EQ(address, "https://tolvani.org/install/?platform=ios");
  const std::optional<QImage> modules = qrCodeImage(address);
  ASSERT_TRUE(modules);
  // With a quiet zone of four modules, as a scanner expects around a bare code.
  QImage bare(modules->width() + 8, modules->height() + 8, QImage::Format_RGB32);
  bare.fill(Qt::white);
  {
    QPainter painter(&bare);
    painter.drawImage(4, 4, *modules);
  }
  EXPECT_EQ(decoded(bare.scaled(bare.size() * 4)), address);

  AboutTab tab;
  tab.resize(560, 420);
  tab.show();
  auto* code = tab.findChild<QrCodeView*>("qrCode");
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code->size(), QSize(138, 138));
  EXPECT_EQ(code->accessibleName(), "QR code for the iPhone install page");
  // The card as drawn on screen, even under a dark palette.
  const QPalette original = QApplication::palette();
  QApplication::setPalette(testing::darkPalette());
  EXPECT_EQ(decoded(code->grab().toImage()), address);
  QApplication::setPalette(original);

  QGuiApplication::clipboard()->clear();
  click(tab.findChild<QPushButton*>("shareInstallLink"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), address);
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  QDesktopServices::setUrlHandler("mailto", &catcher, "open");
  for (const char* name :
       {"openInstallPage", "checkForUpdates", "developerWebsite", "facebookPage", "supportEmail"})
    click(tab.findChild<QPushButton*>(name));
  QDesktopServices::unsetUrlHandler("https");
  QDesktopServices::unsetUrlHandler("mailto");
  EXPECT_EQ(catcher.urls,
            QList<QUrl>({AboutTab::installOniPhoneURL(), AppSettings::updateCheckURL(),
                         AboutTab::developerWebsiteURL(), AboutTab::facebookPageURL(),
                         QUrl("mailto:support@tolvani.org")}));
  EXPECT_EQ(tab.findChild<QPushButton*>("supportEmail")->text(), "support@tolvani.org");
}

TEST_F(AboutTabTest, VersionLineAndIconFallBack) {
  platform::bundle::testSetShortVersion(QString());
  EXPECT_EQ(AboutTab::versionLine(), "v1.0");
  platform::bundle::testSetShortVersion(QStringLiteral("2.3"));
  EXPECT_EQ(AboutTab::versionLine(), "v2.3");
  platform::bundle::testSetShortVersion(std::nullopt);

  // No icon installed in the theme: the application's own, at 64 × 64.
  QPixmap own(64, 64);
  own.fill(Qt::red);
  QApplication::setWindowIcon(QIcon(own));
  {
    AboutTab tab;
    const QImage shown = tab.findChild<QLabel*>("icon")->pixmap().toImage();
    EXPECT_EQ(shown.size(), QSize(64, 64));
    EXPECT_EQ(shown.pixelColor(32, 32), QColor(Qt::red));
  }
  QApplication::setWindowIcon(QIcon());
}

}  // namespace
}  // namespace tolvani
