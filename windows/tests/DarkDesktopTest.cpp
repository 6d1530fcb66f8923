// Every window under the dark palettes real desktops hand a Qt 6 program (KDE's Breeze Dark as the
// KDE platform theme maps it, and Qt's own Fusion dark palette) and under Qt's light one, in both
// interface languages: each text in sight read back from the rendered pixels, body text at least
// 4.5:1 on what is behind it and secondary text at least 3:1; and screenshots of every window
// under both dark palettes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <functional>

#include "help/KeyboardHelpWindow.h"
#include "platform/testing/DesktopPalettes.h"
#include "platform/testing/RenderedText.h"
#include "settings/CustomLayoutFile.h"
#include "stats/TypingStatsWindowController.h"
#include "windows/CustomLayoutEditor.h"
#include "windows/SettingsRootView.h"
#include "windows/TextShortcutsEditor.h"
#include "windows/UserDictionaryEditor.h"
#include "windows/UserDictionaryWork.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::click;

class DarkDesktopTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    AppSettings::registerDefaults();
    original_ = QApplication::palette();
    // Rows in every list, with the secondary columns filled.
    testing::writeBytes(AppSettings::userDictionaryURL(),
                        R"({"words":{"আমি":{"frequency":3},"ভাত":{"frequency":12}}})");
    testing::writeBytes(AppSettings::selectionMemoryURL(),
                        R"({"selections":{"ami":{"text":"আমি","count":2}}})");
    testing::writeBytes(AppSettings::userRejectionsURL(),
                        R"({"entries":{"ami":{"আমী":1,"আমই":2},"bhat":{"ভাট":1}}})");
    ASSERT_TRUE(CustomLayoutFile::update([](CustomLayoutFile::Overrides& overrides) {
      overrides[QStringLiteral("shift")][QStringLiteral("k")] = QStringLiteral("ঙ");
      overrides[QStringLiteral("default")][QStringLiteral("a")] = QStringLiteral("অ");
    }));
    QDir().mkpath(folder_);
  }
  void TearDown() override {
    QApplication::setPalette(original_);
    LearnedDataTest::TearDown();
  }

  // Reads every text of `window` back from its pixels, then keeps the screenshot when `keep`.
  void check(QWidget* window, const QString& name, bool keep) {
    // A field's blinking caret would stand in for its placeholder's colour.
    if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
    QApplication::processEvents();
    const QImage shot = window->grab().toImage();
    testing::expectReadableTexts(window, shot, name);
    testing::expectTextsFitAndStandOut(window, name);
    if (keep) {
      const QString path = folder_ + "/dark-desktop-" + name + ".png";
      EXPECT_TRUE(shot.save(path)) << path.toStdString();
    }
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
    for (int language : {0, 1}) {
      AppSettings::setUiLanguage(language);
      const QString suffix = u'-' + palette.name + (language == 0 ? "-bangla" : "-english");

      SettingsRootView settings;
      settings.show();
      UserDictionaryWork::testWaitUntilDone();  // the learned-word count
      const char* tabNames[] = {"general", "typing", "data", "about"};
      for (int i = 0; i < 4; ++i) {
        settings.tabs()->setCurrentIndex(i);
        check(&settings, "settings-" + QString::fromLatin1(tabNames[i]) + suffix, keep);
        for (QScrollArea* scroll : settings.tabs()->currentWidget()->findChildren<QScrollArea*>()) {
          QScrollBar* bar = scroll->verticalScrollBar();
          if (!scroll->isVisible() || bar->maximum() == 0) continue;
          bar->setValue(bar->maximum());
          check(&settings, "settings-" + QString::fromLatin1(tabNames[i]) + "-end" + suffix, keep);
          bar->setValue(0);
        }
      }
      settings.tabs()->setCurrentIndex(1);
      click(settings.findChild<QPushButton*>("diagnosticsLink"));
      check(&settings, "settings-diagnostics" + suffix, keep);
      click(settings.findChild<QToolButton*>("back"));
      click(settings.findChild<QPushButton*>("correctionsLink"));
      check(&settings, "settings-corrections" + suffix, keep);
      click(settings.findChild<QToolButton*>("back"));

      TextShortcutsEditorView shortcuts;
      shortcuts.show();
      check(&shortcuts, "text-shortcuts" + suffix, keep);

      UserDictionaryEditor dictionary;
      dictionary.reload();
      dictionary.show();
      UserDictionaryWork::testWaitUntilDone();  // the rows
      check(&dictionary, "user-dictionary" + suffix, keep);

      TypingStatsWindowController stats;
      stats.showWindow();
      check(&stats, "typing-stats" + suffix, keep);
    }

    // Texts the interface language does not choose: English in the custom keys editor, Bangla in
    // the keyboard help.
    CustomLayoutEditor keys;
    keys.reload();
    keys.show();
    check(&keys, "custom-keys-" + palette.name, keep);

    KeyboardHelpWindow help;
    help.show();
    auto* tabs = help.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      check(&help, "keyboard-help-" + tabs->currentWidget()->objectName() + u'-' + palette.name,
            keep);
    }
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
