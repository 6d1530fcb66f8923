// Every window under the palettes real desktops hand a Qt 6 program on a virtual X display:
// Plasma's Breeze Dark through Qt's own KDE platform theme reading `kdeglobals`, GNOME's Adwaita
// dark through the GTK 3 platform theme, and Qt's light palette with no desktop; in both interface
// languages, each text in sight read back from the rendered pixels, at least 4.5:1 on the colour
// behind it (the tab pane and a section box are lighter or darker than the window), with
// screenshots. Each desktop runs in a program of its own, as a platform theme is chosen once when
// the program starts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <cstdio>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/DesktopPalettes.h"
#include "windows/tests/EveryWindow.h"

namespace tolvani {
namespace {

const QString kScreenshots = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";

// Reports the palette the platform theme gave, then checks every window; fails when any check did.
TOLVANI_CHILD_ROLE(everyWindowOnThisDesktop) {
  const QString desktop = arguments.value(0);
  const QPalette palette = QApplication::palette();
  std::printf("window %s text %s\n",
              qPrintable(palette.color(QPalette::Active, QPalette::Window).name()),
              qPrintable(palette.color(QPalette::Active, QPalette::WindowText).name()));
  AppSettings::registerDefaults();
  testing::showEveryWindow([&](QWidget* window, const QString& name) {
    testing::expectEveryTextReadable(window, name + u'-' + desktop,
                                     kScreenshots + "/desktop-" + desktop + '-' + name + ".png");
  });
  std::fflush(stdout);
  return ::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed() ? 1 : 0;
}

// A virtual X display, ended with the test.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    // Xvfb picks a free display itself and writes its number.
    xvfb_.start(QStringLiteral("Xvfb"),
                {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                 QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                 QStringLiteral("1280x1024x24")});
    if (!xvfb_.waitForStarted()) return;
    QByteArray number;
    while (!number.contains('\n') && xvfb_.waitForReadyRead(20000))
      number += xvfb_.readAllStandardOutput();
    if (number.contains('\n')) name_ = u':' + QString::fromLatin1(number.trimmed());
  }
  ~VirtualDisplay() {
    xvfb_.terminate();
    if (!xvfb_.waitForFinished(5000)) xvfb_.kill();
    xvfb_.waitForFinished();
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // ":N", empty when Xvfb did not start.
  const QString& name() const { return name_; }
  QString errors() { return QString::fromLocal8Bit(xvfb_.readAllStandardError()); }

 private:
  QProcess xvfb_;
  QString name_;
};

class DesktopThemesTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::registerDefaults();
    testing::fillEveryList();
    ASSERT_FALSE(display_.name().isEmpty()) << display_.errors().toStdString();
  }

  // Runs the windows under the desktop `environment` describes; answers the palette's window and
  // text colours as the program reported them.
  std::pair<QColor, QColor> runOn(const QString& desktop, QProcessEnvironment environment) {
    environment.insert("DISPLAY", display_.name());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("GDK_BACKEND", "x11");
    // No accessibility bus, and no session bus started for GTK on the display.
    environment.insert("NO_AT_BRIDGE", "1");
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    for (const char* name :
         {"XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORMTHEME", "KDE_SESSION_VERSION", "KDE_FULL_SESSION",
          "DESKTOP_SESSION", "GTK_THEME", "QT_STYLE_OVERRIDE"})
      if (!environment.contains(name)) environment.insert(name, QString());
    const testing::ChildResult child =
        testing::runChild("everyWindowOnThisDesktop", {desktop}, environment);
    const QString output = QString::fromUtf8(child.standardOutput);
    EXPECT_EQ(child.exitCode, 0) << desktop.toStdString() << ":\n"
                                 << output.toStdString() << child.standardError.toStdString();
    const QRegularExpressionMatch colors =
        QRegularExpression(QStringLiteral("^window (#[0-9a-f]{6}) text (#[0-9a-f]{6})$"),
                           QRegularExpression::MultilineOption)
            .match(output);
    EXPECT_TRUE(colors.hasMatch()) << output.toStdString();
    return {QColor(colors.captured(1)), QColor(colors.captured(2))};
  }

  VirtualDisplay display_;
};

TEST_F(DesktopThemesTest, PlasmaBreezeDarkThroughKdeglobals) {
  // Plasma writes the chosen colour scheme into kdeglobals.
  const QString kdeglobals = qEnvironmentVariable("XDG_CONFIG_HOME") + "/kdeglobals";
  QFile::remove(kdeglobals);
  ASSERT_TRUE(QFile::copy(testing::kBreezeDarkColors, kdeglobals));
  QProcessEnvironment plasma;
  plasma.insert("XDG_CURRENT_DESKTOP", "KDE");
  plasma.insert("KDE_SESSION_VERSION", "5");
  plasma.insert("KDE_FULL_SESSION", "true");
  const auto [window, text] = runOn(QStringLiteral("breeze-dark"), plasma);
  // The scheme's own colours, so the theme was in use.
  const std::optional<QPalette> scheme =
      testing::kdeColorSchemePalette(testing::kBreezeDarkColors, QPalette());
  ASSERT_TRUE(scheme);
  EXPECT_EQ(window.name(), scheme->color(QPalette::Active, QPalette::Window).name());
  EXPECT_EQ(text.name(), scheme->color(QPalette::Active, QPalette::WindowText).name());
}

TEST_F(DesktopThemesTest, GnomeAdwaitaDarkThroughTheGtkTheme) {
  QProcessEnvironment gnome;
  gnome.insert("XDG_CURRENT_DESKTOP", "GNOME");
  gnome.insert("QT_QPA_PLATFORMTHEME", "gtk3");
  gnome.insert("GTK_THEME", "Adwaita:dark");
  const auto [window, text] = runOn(QStringLiteral("adwaita-dark"), gnome);
  // Dark, so the theme was in use (package qt6-gtk-platformtheme).
  EXPECT_LT(window.lightness(), 80) << window.name().toStdString();
  EXPECT_GT(text.lightness(), 200) << text.name().toStdString();
}

TEST_F(DesktopThemesTest, QtsLightPaletteWithoutADesktop) {
  const auto [window, text] = runOn(QStringLiteral("light"), {});
  EXPECT_GT(window.lightness(), 200) << window.name().toStdString();
  EXPECT_LT(text.lightness(), 60) << text.name().toStdString();
}

}  // namespace
}  // namespace tolvani
