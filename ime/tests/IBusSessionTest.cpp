// Through a private ibus-daemon into the built program, with an application that keeps its text
// and sends it before every key: what the program offers after a commit, and what a pick does.
#include <gtest/gtest.h>
#include <ibus.h>

#include <QDeadlineTimer>
#include <QThread>
#include <iterator>
#include <string>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::press;
using testing::TestInputContext;
using testing::typeKeys;

// Phonetic typing with predictions, in the harness's own settings, then Tolvani serving the
// context, focused: the program reads its settings when it first serves a context.
void servePhonetic(IBusDaemonHarness& harness, TestInputContext& context) {
  qputenv("XDG_CONFIG_HOME", harness.configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setDefaultMode(KeyboardMode::phonetic);
  AppSettings::suite().set(AppSettings::predictiveTextKey(), true);
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] {
    return harness.events().contains("activate " + context.objectPath());
  })) << harness.events().join('\n').toStdString();
}

TEST(IBusSessionTest, WarmWordsAndTheirPredictionPickedWhereTheWordEnded) {
  IBusDaemonHarness harness(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  TestInputContext context(harness, "editor");
  context.keepText(QStringLiteral("x "), 2);
  ASSERT_NO_FATAL_FAILURE(servePhonetic(harness, context));

  // The shared tables load while the program starts; until then a word offers only itself and
  // its letters, and nothing follows it. No caret rectangle: the rows go to the daemon's list.
  const QDeadlineTimer deadline(20000);
  QStringList rows;
  bool predicted = false;
  QString before;
  while (!predicted && !deadline.hasExpired()) {
    harness.settle();
    before = context.text;
    typeKeys(context, "ami");
    harness.settleAfterPause();
    ASSERT_FALSE(context.lookupTables.empty());
    rows = context.lookupTables.back();
    const std::size_t tables = context.lookupTables.size();
    // Space commits the word and offers what may follow.
    press(context, IBUS_KEY_space, 57);
    harness.settleAfterPause();
    ASSERT_EQ(context.text.toStdString(), before.toStdString() + "আমি ");
    predicted = context.lookupTables.size() > tables;
    if (!predicted) QThread::msleep(50);
  }
  ASSERT_TRUE(predicted);
  EXPECT_GT(rows.size(), 2) << rows.join('|').toStdString();
  EXPECT_EQ(rows.first().toStdString(), "আমি");

  // Tab writes the first prediction after the word.
  const QString prediction =
      context.lookupTables.back().first().section(QStringLiteral("  "), 0, 0);
  before = context.text;
  EXPECT_TRUE(press(context, IBUS_KEY_Tab, 15));
  harness.settle();
  EXPECT_EQ(context.text.toStdString(), before.toStdString() + prediction.toStdString() + " ");
  EXPECT_EQ(context.cursor, static_cast<unsigned>(context.text.toUcs4().size()));
}

// The word before the caret decides between the literal and the chat reading of the next, and the
// preedit shows before Space what Space commits.
TEST(IBusSessionTest, TheWordBeforeDecidesBetweenTheLiteralAndTheChatReading) {
  IBusDaemonHarness harness(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  TestInputContext context(harness, "chat");
  context.keepText(QString(), 0);
  ASSERT_NO_FATAL_FAILURE(servePhonetic(harness, context));

  // The word pairs that decide are among the shared tables the program loads as it starts: once a
  // word is followed by predictions, they are in.
  const QDeadlineTimer deadline(20000);
  bool predicted = false;
  while (!predicted && !deadline.hasExpired()) {
    harness.settle();
    typeKeys(context, "ami");
    harness.settleAfterPause();
    const std::size_t tables = context.lookupTables.size();
    press(context, IBUS_KEY_space, 57);
    harness.settleAfterPause();
    predicted = context.lookupTables.size() > tables;
    if (!predicted) QThread::msleep(50);
  }
  ASSERT_TRUE(predicted);

  const char* const words[] = {"kemon", "aso", "ekhane", "aso"};
  const char* const meant[] = {"কেমন", "আছো", "এখানে", "আসো"};
  for (std::size_t i = 0; i < std::size(words); ++i) {
    const QString before = context.text;
    typeKeys(context, words[i]);
    harness.settle();
    ASSERT_FALSE(context.preedits.empty());
    EXPECT_EQ(context.preedits.back().text.toStdString(), std::string(meant[i])) << words[i];
    press(context, IBUS_KEY_space, 57);
    harness.settle();
    EXPECT_EQ(context.text.toStdString(), before.toStdString() + meant[i] + " ") << words[i];
  }
}

}  // namespace
}  // namespace tolvani
