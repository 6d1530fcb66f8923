// A layout chosen in the settings window reaches an input context that is already typing in
// another process: the program started by a private IBus daemon commits what was being composed
// and types the next keys in the new layout.
#include <gtest/gtest.h>
#include <ibus.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>

#include "ime/testing/IBusDaemonHarness.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"
#include "settings/CustomLayoutFile.h"
#include "windows/CustomLayoutEditor.h"
#include "windows/SettingsRootView.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::TestInputContext;

// Presses and releases each key of `keys` (lower-case letters, "[", "]" and space) on a US layout.
void typeKeys(TestInputContext& context, const char* keys) {
  static const std::string rows[] = {"qwertyuiop[]", "asdfghjkl", "zxcvbnm"};
  static const unsigned starts[] = {16, 30, 44};
  for (const char* p = keys; *p; ++p) {
    unsigned keycode = 57;
    for (int r = 0; r < 3 && *p != ' '; ++r)
      if (const std::size_t at = rows[r].find(*p); at != std::string::npos)
        keycode = starts[r] + static_cast<unsigned>(at);
    const unsigned keyval = *p == ' ' ? IBUS_KEY_space : static_cast<unsigned>(*p);
    EXPECT_TRUE(context.sendKey(keyval, keycode, 0)) << "the application also got " << *p;
    context.sendKey(keyval, keycode, IBUS_RELEASE_MASK);
  }
}

TEST(SettingsReachTypingTest, ALayoutChosenInTheWindowTypesTheNextKeys) {
  IBusDaemonHarness harness(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  // The window writes the same settings file the program reads.
  qputenv("XDG_CONFIG_HOME", harness.configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setUiLanguage(1);
  AppSettings::setDefaultMode(KeyboardMode::phonetic);

  TestInputContext context(harness, "settings-app");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] {
    return harness.events().contains("activate " + context.objectPath());
  })) << harness.events().join('\n').toStdString();
  typeKeys(context, "ami am");
  ASSERT_TRUE(harness.waitFor([&] {
    return context.commits.join(QString()) == QStringLiteral("আমি ") && !context.preedits.empty() &&
           context.preedits.back().text == QStringLiteral("আম");
  })) << context.commits.join('|').toStdString();

  SettingsRootView view;
  view.show();
  auto* layout = view.findChild<QComboBox*>(QStringLiteral("defaultLayout"));
  ASSERT_NE(layout, nullptr);
  QTest::keyClick(layout, Qt::Key_Down);
  ASSERT_EQ(AppSettings::defaultMode(), KeyboardMode::probhat);

  // What was being composed is committed as the layout changes; the next keys are probhat's.
  ASSERT_TRUE(harness.waitFor([&] {
    return context.commits.join(QString()) == QStringLiteral("আমি আম");
  })) << context.commits.join('|').toStdString();
  typeKeys(context, "vmi ");
  EXPECT_TRUE(harness.waitFor([&] {
    return context.commits.join(QString()) == QStringLiteral("আমি আমআমি ");
  })) << context.commits.join('|').toStdString();
  qunsetenv("XDG_CONFIG_HOME");
  platform::Defaults::testResetStandard();
}

// A mapping added in the custom-key editor of another process is typed by a probhat context that
// is already active, at its next key.
TEST(SettingsReachTypingTest, ACustomKeyAddedInTheEditorTypesAtTheNextKey) {
  IBusDaemonHarness harness(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  qputenv("XDG_CONFIG_HOME", harness.configHome().toUtf8());
  qputenv("XDG_DATA_HOME", QDir(harness.configHome() + "/../data").absolutePath().toUtf8());
  qunsetenv("TOLVANI_DATA_DIR");
  platform::Defaults::testResetStandard();
  AppSettings::setDefaultMode(KeyboardMode::probhat);

  TestInputContext context(harness, "custom-keys-app");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] {
    return harness.events().contains("activate " + context.objectPath());
  })) << harness.events().join('\n').toStdString();
  typeKeys(context, "k ");
  ASSERT_TRUE(harness.waitFor([&] { return context.commits.join(QString()).endsWith(' '); }));
  const QString before = context.commits.join(QString());
  ASSERT_NE(before, QStringLiteral("ক্ষ "));

  CustomLayoutEditor editor;
  editor.reload();
  editor.show();
  testing::typeText(editor.findChild<QLineEdit*>(QStringLiteral("key")), QStringLiteral("k"));
  testing::typeText(editor.findChild<QLineEdit*>(QStringLiteral("output")), QStringLiteral("ক্ষ"));
  QTest::mouseClick(editor.findChild<QPushButton*>(QStringLiteral("add")), Qt::LeftButton);
  ASSERT_TRUE(QFile::exists(CustomLayoutFile::path()));

  typeKeys(context, "k ");
  EXPECT_TRUE(harness.waitFor([&] {
    return context.commits.join(QString()) == before + QStringLiteral("ক্ষ ");
  })) << context.commits.join('|').toStdString();
  qunsetenv("XDG_CONFIG_HOME");
  qunsetenv("XDG_DATA_HOME");
  platform::Defaults::testResetStandard();
}

}  // namespace
}  // namespace tolvani
