// Every window under copies of the dark palettes desktops hand a Qt 6 program (KDE's Breeze Dark
// as the KDE platform theme maps it, and Qt's own Fusion dark palette) and under Qt's light one,
// on the offscreen platform, in both interface languages: each text in sight read back from the
// rendered pixels, at least 4.5:1 on what is behind it; and screenshots of every window under
// both dark palettes. DesktopThemesTest runs the same windows under the real platform themes.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/testing/DesktopPalettes.h"
#include "windows/tests/EveryWindow.h"

namespace tolvani {
namespace {

class DarkDesktopTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::registerDefaults();
    original_ = QApplication::palette();
    testing::fillEveryList();
  }
  void TearDown() override {
    QApplication::setPalette(original_);
    LearnedDataTest::TearDown();
  }

  // Reads every text of `window` back from its pixels, then keeps the screenshot when `keep`.
  void check(QWidget* window, const QString& name, bool keep) {
    testing::expectEveryTextReadable(window, name,
                                     keep ? folder_ + "/dark-desktop-" + name + ".png" : QString());
  }

  QPalette original_;
  const QString folder_ = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
};

TEST_F(DarkDesktopTest, EveryWindowReadsFromItsPixelsUnderEachPaletteInBothLanguages) {
  std::vector<testing::NamedPalette> palettes = testing::darkDesktopPalettes();
  palettes.push_back({QStringLiteral("light"), original_});
  for (const testing::NamedPalette& palette : palettes) {
    QApplication::setPalette(palette.palette);
    const bool keep = palette.name != u"light";
    testing::showEveryWindow([&](QWidget* window, const QString& name) {
      check(window, name + u'-' + palette.name, keep);
    });
  }
}

// Secondary colours are computed, not taken from a role: an open window computes them again when
// the desktop switches between light and dark.
TEST_F(DarkDesktopTest, OpenWindowsFollowASwitchToDarkAndBack) {
  AppSettings::setUiLanguage(0);
  SettingsRootView settings;
  settings.show();
  settings.tabs()->setCurrentIndex(2);
  UserDictionaryEditor dictionary;
  dictionary.reload();
  dictionary.show();
  UserDictionaryWork::testWaitUntilDone();  // the count and the rows
  TypingStatsWindowController stats;
  stats.showWindow();
  for (const testing::NamedPalette& palette :
       {testing::NamedPalette{QStringLiteral("breeze-dark"), testing::breezeDarkPalette()},
        testing::NamedPalette{QStringLiteral("light"), original_}}) {
    QApplication::setPalette(palette.palette);
    check(&settings, "switched-settings-data-" + palette.name, false);
    check(&dictionary, "switched-user-dictionary-" + palette.name, false);
    check(&stats, "switched-typing-stats-" + palette.name, false);
  }
}

}  // namespace
}  // namespace tolvani
