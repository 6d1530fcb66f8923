// Typing through a private ibus-daemon into the built program, in each keyboard mode: what the
// application receives (preedit, candidate list, commits) is what the user would see.
#include <gtest/gtest.h>
#include <ibus.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::TestInputContext;
using testing::typeKeys;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

struct ModeCase {
  const char* name;
  KeyboardMode mode;
  const char* keys;
  const char* composing;  // a preedit seen on the way, its caret at the end
  const char* auxiliary;  // phonetic: the raw input and the preedit above the list
};
// Names the case in test lists instead of dumping its bytes.
void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class IBusTypingTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(IBusTypingTest, SentenceArrivesAsBanglaCommits) {
  const ModeCase& c = GetParam();
  IBusDaemonHarness harness(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  // The program reads its mode from the settings when it first serves a context.
  qputenv("XDG_CONFIG_HOME", harness.configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setDefaultMode(c.mode);

  TestInputContext context(harness, "typing-app");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] {
    return harness.events().contains("activate " + context.objectPath());
  })) << harness.events().join('\n').toStdString();

  // No caret rectangle: the candidates go to the daemon's candidate list, which shows in the
  // pause after a word's letters.
  for (const QString& word : QString::fromLatin1(c.keys).split(u' ', Qt::SkipEmptyParts)) {
    EXPECT_EQ(typeKeys(context, word.toLatin1().constData()), 0) << "the application got keys";
    harness.settleAfterPause();
    EXPECT_EQ(typeKeys(context, " "), 0);
  }
  const QString expected = u("আমি তোমাকে ভালোবাসি ");
  ASSERT_TRUE(harness.waitFor([&] { return context.commits.join(QString()) == expected; }))
      << context.commits.join('|').toStdString();
  EXPECT_EQ(context.commits.size(), 3);
  bool seen = false;
  for (const TestInputContext::Preedit& p : context.preedits) {
    seen = seen || (p.visible && p.text == u(c.composing) &&
                    static_cast<qsizetype>(p.cursor) == p.text.size());
  }
  EXPECT_TRUE(seen) << "the preedit shows while composing";
  harness.settle();
  EXPECT_TRUE(context.preedits.back().text.isEmpty());
  EXPECT_FALSE(context.lookupTables.empty());
  if (c.auxiliary) {  // the raw input above the list, the word its first candidate
    EXPECT_TRUE(context.auxiliaryTexts.contains(u(c.auxiliary)));
    EXPECT_TRUE(std::any_of(context.lookupTables.begin(), context.lookupTables.end(),
                            [&](const QStringList& t) { return t.value(0) == u(c.composing); }));
  }

  // With a caret on the screen the program's own panel shows them instead.
  context.setCursorLocation(100, 200, 1, 18);
  const std::size_t tables = context.lookupTables.size();
  typeKeys(context, c.keys);
  ASSERT_TRUE(
      harness.waitFor([&] { return context.commits.join(QString()) == expected + expected; }));
  harness.settle();
  EXPECT_EQ(context.lookupTables.size(), tables);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, IBusTypingTest,
    ::testing::Values(
        ModeCase{"phonetic", KeyboardMode::phonetic, "ami tomake bhalobashi ", "তোমাকে",
                 "tomake  তোমাকে"},
        ModeCase{"probhat", KeyboardMode::probhat, "vmi f]mak[ Bal]basi ", "তোমাকে", nullptr},
        ModeCase{"national", KeyboardMode::national, "^hmd kxmhjc FhVxfhnd ", "তোমাকে", nullptr},
        ModeCase{"unijoy", KeyboardMode::unijoy, "gfmd kxmfjc HfVxhfnd ", "তোমাকে", nullptr}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST(IBusTypingKeysTest, AltBelongsToTheApplicationAndAltGrTypesTheThirdLevel) {
  IBusDaemonHarness harness(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  qputenv("XDG_CONFIG_HOME", harness.configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setDefaultMode(KeyboardMode::probhat);

  TestInputContext context(harness, "menu-app");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] {
    return harness.events().contains("activate " + context.objectPath());
  })) << harness.events().join('\n').toStdString();

  // AltGr with a reaches probhat's third level.
  EXPECT_EQ(typeKeys(context, "k^a"), 0);
  harness.settle();
  // Alt-F opens the application's File menu: the composition is committed first.
  EXPECT_FALSE(testing::press(context, 'f', 33, IBUS_MOD1_MASK));
  ASSERT_TRUE(harness.waitFor([&] { return !context.commits.isEmpty(); }));
  harness.settle();
  EXPECT_EQ(context.commits.join('|').toStdString(), "কঌ");
  EXPECT_FALSE(testing::press(context, 'F', 33, IBUS_MOD1_MASK | IBUS_SHIFT_MASK));
  harness.settle();
  EXPECT_EQ(context.commits.join('|').toStdString(), "কঌ");
}

// The daemon's candidate list, key by key: the key's preedit arrives before anything else the key
// changes, and nothing unchanged is sent again (the application waits on each message).
TEST(IBusListTest, EachKeysPreeditComesFirstAndOnlyWhatChangedFollows) {
  IBusDaemonHarness harness(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(harness.ready()) << harness.failure().toStdString();
  qputenv("XDG_CONFIG_HOME", harness.configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setDefaultMode(KeyboardMode::phonetic);

  TestInputContext context(harness, "list-app");
  context.focusIn();
  context.selectEngine("tolvani");
  ASSERT_TRUE(harness.waitFor([&] {
    return harness.events().contains("activate " + context.objectPath());
  })) << harness.events().join('\n').toStdString();
  harness.settle();

  for (const char key : std::string("tomake")) {
    context.arrivals.clear();
    ASSERT_EQ(typeKeys(context, std::string(1, key).c_str()), 0);
    harness.settleAfterPause();
    const std::string seen = context.arrivals.join(',').toStdString();
    ASSERT_FALSE(context.arrivals.isEmpty()) << key;
    EXPECT_EQ(context.arrivals.front(), "preedit") << key << ": " << seen;
    EXPECT_LE(context.arrivals.count("table"), 1) << key << ": " << seen;
    EXPECT_LE(context.arrivals.count("auxiliary") + context.arrivals.count("hide auxiliary"), 1)
        << key << ": " << seen;
  }
  ASSERT_FALSE(context.lookupTables.empty());
  const QStringList rows = context.lookupTables.back();
  ASSERT_GE(rows.size(), 2);

  // Down moves the selection: the list goes again, its header and the preedit do not.
  context.arrivals.clear();
  EXPECT_TRUE(testing::press(context, IBUS_KEY_Down, 108));
  harness.settleAfterPause();
  EXPECT_EQ(context.arrivals.join(',').toStdString(), "table");
  EXPECT_EQ(context.lookupTables.back(), rows);

  // Space commits: the list and its header hide once each, and what may follow the word shows
  // in the pause after it.
  context.arrivals.clear();
  EXPECT_EQ(typeKeys(context, " "), 0);
  harness.settleAfterPause();
  EXPECT_LE(context.arrivals.count("hide table"), 1) << context.arrivals.join(',').toStdString();
  EXPECT_LE(context.arrivals.count("table"), 1) << context.arrivals.join(',').toStdString();
  // The word's list does not stay: it hides, or what may follow takes its place.
  EXPECT_GE(context.arrivals.count("hide table") + context.arrivals.count("table"), 1)
      << context.arrivals.join(',').toStdString();
  EXPECT_LE(context.arrivals.count("hide auxiliary"), 1)
      << context.arrivals.join(',').toStdString();
  EXPECT_EQ(context.commits.join(QString()).size() > 0, true);

  // Keys faster than a person's send their preedits, and the list and its header follow in the
  // pause after them: a list for the word, not one for each key, after its last preedit.
  harness.settleAfterPause();
  context.arrivals.clear();
  std::vector<std::pair<unsigned, unsigned>> keys;
  for (const char c : std::string("bhalo")) keys.emplace_back(c, testing::usKey(c).first);
  ASSERT_TRUE(context.sendKeysAtOnce(keys));
  harness.settleAfterPause();
  const std::string seen = context.arrivals.join(',').toStdString();
  EXPECT_EQ(context.arrivals.count("preedit"), 5) << seen;
  EXPECT_LT(context.arrivals.count("table"), 3) << seen;
  EXPECT_EQ(context.arrivals.mid(context.arrivals.lastIndexOf("preedit") + 1).join(','),
            QStringLiteral("table,auxiliary"))
      << seen;
  EXPECT_EQ(context.lookupTables.back().value(0), u("ভালো")) << seen;
}

}  // namespace
}  // namespace tolvani
