// The input menu through a private ibus-daemon into the built program, as an application's panel
// receives it: the property list in both languages and in a password field, a layout chosen there
// and typed in, and the hot keys.
#include <gtest/gtest.h>
#include <ibus.h>

#include <QDeadlineTimer>

#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/MenuPanel.h"
#include "ime/tests/ImeTestSupport.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::press;
using testing::TestInputContext;
using testing::typeKeys;
using testing::u;

constexpr unsigned kSpaceCode = 57;
constexpr unsigned kSCode = 31;
constexpr unsigned kBCode = 48;
constexpr unsigned kShiftCode = 42;
constexpr unsigned kControlAlt = IBUS_CONTROL_MASK | IBUS_MOD1_MASK;

const char* const kEnglishMenu =
    "layouts|normal|Layouts|off|disabled\n"
    "switchToPhonetic|radio|ফোনেটিক (Phonetic)|on|enabled\n"
    "switchToProbhat|radio|প্রভাত (Probhat)|off|enabled\n"
    "switchToNational|radio|জাতীয় (National)|off|enabled\n"
    "switchToUnijoy|radio|ইউনিজয় (Unijoy)|off|enabled\n"
    "separator1|separator||off|enabled\n"
    "quickControls|normal|Quick Controls|off|disabled\n"
    "toggleEnglishPassthrough|toggle|English Passthrough|off|enabled\n"
    "toggleSuggestions|toggle|Suggestions|on|enabled\n"
    "separator2|separator||off|enabled\n"
    "tools|menu|Tools|off|enabled\n"
    "> convertBanglishSelection|normal|Convert Banglish Selection (Ctrl+Alt+B)|off|enabled\n"
    "> openKeyboardSetup|normal|Keyboard Setup|off|enabled\n"
    "> openKeyboardTour|normal|Keyboard Tour|off|enabled\n"
    "> openCustomLayoutEditor|normal|Custom Keys...|off|enabled\n"
    "> openTypingStats|normal|Typing Stats...|off|enabled\n"
    "> openKeyboardHelp|normal|Keyboard Help...|off|enabled\n"
    "> openPreferences|normal|Settings...|off|enabled\n"
    "> checkForUpdates|normal|Check for Updates...|off|enabled\n"
    "separator3|separator||off|enabled\n"
    "privacy|normal|Privacy|off|disabled\n"
    "secureKeyboardEntry|normal|Secure Keyboard Entry is active — using English|off|disabled|"
    "hidden\n"
    "fullyOffline|normal|Fully Offline|off|disabled";

const char* const kBanglaPasswordMenu =
    "layouts|normal|লেআউট|off|disabled\n"
    "switchToPhonetic|radio|ফোনেটিক (Phonetic)|on|enabled\n"
    "switchToProbhat|radio|প্রভাত (Probhat)|off|enabled\n"
    "switchToNational|radio|জাতীয় (National)|off|enabled\n"
    "switchToUnijoy|radio|ইউনিজয় (Unijoy)|off|enabled\n"
    "separator1|separator||off|enabled\n"
    "quickControls|normal|দ্রুত নিয়ন্ত্রণ|off|disabled\n"
    "toggleEnglishPassthrough|toggle|ইংরেজি পাসথ্রু|off|enabled\n"
    "toggleSuggestions|toggle|সাজেশন|on|enabled\n"
    "separator2|separator||off|enabled\n"
    "tools|menu|টুলস|off|enabled\n"
    "> convertBanglishSelection|normal|সিলেক্ট করা বাংলিশ বাংলায় রূপান্তর (Ctrl+Alt+B)|off|enabled\n"
    "> openKeyboardSetup|normal|কীবোর্ড সেটআপ|off|enabled\n"
    "> openKeyboardTour|normal|কীবোর্ড ঘুরে দেখুন|off|enabled\n"
    "> openCustomLayoutEditor|normal|কাস্টম কী...|off|enabled\n"
    "> openTypingStats|normal|টাইপিং পরিসংখ্যান...|off|enabled\n"
    "> openKeyboardHelp|normal|কীবোর্ড সাহায্য...|off|enabled\n"
    "> openPreferences|normal|সেটিংস...|off|enabled\n"
    "> checkForUpdates|normal|নতুন সংস্করণ আছে কি না দেখুন...|off|enabled\n"
    "separator3|separator||off|enabled\n"
    "privacy|normal|গোপনীয়তা|off|disabled\n"
    "secureKeyboardEntry|normal|Secure Keyboard Entry is active — using English|off|disabled\n"
    "fullyOffline|normal|সম্পূর্ণ অফলাইন|off|disabled";

// The program reads its settings, from the daemon's folder, when it builds the menu.
class IBusMenuTest : public testing::IBusProgramTest {
 protected:
  // Returns once the context's menu has come too.
  void start(TestInputContext& context) {
    IBusProgramTest::start(context, [&] { return !context.menu.isEmpty(); });
  }

  // The menu row of `key` once it reads `row`; the row as it is otherwise.
  std::string waitForRow(TestInputContext& context, const QString& key, const QString& row) {
    const QString line = key + u'|' + row;
    harness_.waitFor([&] { return context.menu.contains(line); });
    for (const QString& r : context.menu) {
      if (r.startsWith(key + u'|')) return r.toStdString();
    }
    return "none";
  }
};

// The rows of the menu's top level, which a panel such as GNOME Shell's shows inline.
qsizetype topLevel(const TestInputContext& context) {
  qsizetype rows = 0;
  for (const QString& row : context.menu) rows += row.startsWith(u("> ")) ? 0 : 1;
  return rows;
}

TEST_F(IBusMenuTest, PropertyListInBothLanguagesAndInAPasswordField) {
  TestInputContext editor(harness_, "editor");
  start(editor);
  EXPECT_EQ(editor.menuText().toStdString(), kEnglishMenu);
  EXPECT_EQ(topLevel(editor), 15) << "the tools in one submenu, the secure-entry row hidden";

  // Another field takes the focus: its list, in the language chosen meanwhile.
  AppSettings::setUiLanguage(0);
  TestInputContext password(harness_, "login");
  password.setContentType(IBUS_INPUT_PURPOSE_PASSWORD, 0);
  password.focusIn();
  ASSERT_TRUE(harness_.waitFor([&] {
    return password.menuText().toStdString() == kBanglaPasswordMenu;
  })) << password.menuText().toStdString();

  // The field stops being a password field while it has the focus: the row hides, and shows again,
  // where it is, with no new list (GNOME Shell reads only the first list).
  int registrations = password.registrations;
  password.setContentType(IBUS_INPUT_PURPOSE_FREE_FORM, 0);
  ASSERT_TRUE(harness_.waitFor([&] {
    return password.menu.contains(
        u("secureKeyboardEntry|normal|Secure Keyboard Entry is active — using English|off|"
          "disabled|hidden"));
  })) << password.menuText().toStdString();
  password.setContentType(IBUS_INPUT_PURPOSE_PASSWORD, 0);
  ASSERT_TRUE(harness_.waitFor([&] {
    return password.menuText().toStdString() == kBanglaPasswordMenu;
  })) << password.menuText().toStdString();
  EXPECT_EQ(password.registrations, registrations);
  password.setContentType(IBUS_INPUT_PURPOSE_FREE_FORM, 0);

  // English again while the field has the focus: each row changes where it is, those inside the
  // submenu too, with no new list. Each row comes in a signal of its own, the last after the
  // others: the whole list is waited for.
  registrations = password.registrations;
  const qsizetype sent = password.properties.size();
  AppSettings::setUiLanguage(1);
  EXPECT_TRUE(harness_.waitFor([&] { return password.menuText().toStdString() == kEnglishMenu; }))
      << password.menuText().toStdString()
      << "\nrows sent: " << password.properties.mid(sent).join(u' ').toStdString();
  EXPECT_EQ(password.registrations, registrations);
}

TEST_F(IBusMenuTest, ChosenLayoutTypesAndHotKeysSwitch) {
  TestInputContext context(harness_, "editor");
  start(context);

  context.activateProperty("switchToProbhat");
  EXPECT_EQ(waitForRow(context, u("switchToProbhat"), u("radio|প্রভাত (Probhat)|on|enabled")),
            "switchToProbhat|radio|প্রভাত (Probhat)|on|enabled");
  EXPECT_EQ(waitForRow(context, u("switchToPhonetic"), u("radio|ফোনেটিক (Phonetic)|off|enabled")),
            "switchToPhonetic|radio|ফোনেটিক (Phonetic)|off|enabled");
  EXPECT_EQ(typeKeys(context, "kf "), 0);
  ASSERT_TRUE(harness_.waitFor([&] { return !context.commits.isEmpty(); }));
  EXPECT_EQ(context.commits.join(QString()).toStdString(), "কত ") << "typed in probhat";
  platform::Defaults::testResetStandard();
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::probhat) << "the mode is kept";

  // Control-Shift-Space cycles to national, unijoy, and on to phonetic.
  EXPECT_TRUE(press(context, IBUS_KEY_space, kSpaceCode, IBUS_CONTROL_MASK | IBUS_SHIFT_MASK));
  EXPECT_EQ(waitForRow(context, u("switchToNational"), u("radio|জাতীয় (National)|on|enabled")),
            "switchToNational|radio|জাতীয় (National)|on|enabled");
  EXPECT_TRUE(press(context, IBUS_KEY_space, kSpaceCode, IBUS_CONTROL_MASK | IBUS_SHIFT_MASK));
  EXPECT_EQ(waitForRow(context, u("switchToUnijoy"), u("radio|ইউনিজয় (Unijoy)|on|enabled")),
            "switchToUnijoy|radio|ইউনিজয় (Unijoy)|on|enabled");
  EXPECT_TRUE(press(context, IBUS_KEY_space, kSpaceCode, IBUS_CONTROL_MASK | IBUS_SHIFT_MASK));
  EXPECT_EQ(waitForRow(context, u("switchToPhonetic"), u("radio|ফোনেটিক (Phonetic)|on|enabled")),
            "switchToPhonetic|radio|ফোনেটিক (Phonetic)|on|enabled");

  // Control-Space: the keys go to the application until it is pressed again.
  EXPECT_TRUE(press(context, IBUS_KEY_space, kSpaceCode, IBUS_CONTROL_MASK));
  EXPECT_EQ(waitForRow(context, u("toggleEnglishPassthrough"),
                       u("toggle|English Passthrough|on|enabled")),
            "toggleEnglishPassthrough|toggle|English Passthrough|on|enabled");
  EXPECT_EQ(typeKeys(context, "ami"), 3);
  EXPECT_TRUE(press(context, IBUS_KEY_space, kSpaceCode, IBUS_CONTROL_MASK));
  EXPECT_EQ(waitForRow(context, u("toggleEnglishPassthrough"),
                       u("toggle|English Passthrough|off|enabled")),
            "toggleEnglishPassthrough|toggle|English Passthrough|off|enabled");
  EXPECT_EQ(typeKeys(context, "ami"), 0);

  // Control-Alt-S: suggestions off and on, each with its message.
  EXPECT_TRUE(press(context, IBUS_KEY_s, kSCode, kControlAlt));
  EXPECT_EQ(waitForRow(context, u("toggleSuggestions"), u("toggle|Suggestions|off|enabled")),
            "toggleSuggestions|toggle|Suggestions|off|enabled");
  EXPECT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("Suggestions off"));
  })) << context.auxiliaryTexts.join('|').toStdString();
  EXPECT_TRUE(press(context, IBUS_KEY_s, kSCode, kControlAlt));
  EXPECT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("Suggestions on"));
  })) << context.auxiliaryTexts.join('|').toStdString();
  platform::Defaults::testResetStandard();
  EXPECT_TRUE(AppSettings::suggestionsEnabled());

  // Control-Alt-B with nothing selected.
  context.keepText(u("ami"), 3);
  EXPECT_TRUE(press(context, IBUS_KEY_b, kBCode, kControlAlt));
  EXPECT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("Select Banglish text first"));
  })) << context.auxiliaryTexts.join('|').toStdString();

  // The switch chosen in the panel, then asked for again in the state it already has.
  context.activateProperty("toggleEnglishPassthrough", true);
  EXPECT_EQ(waitForRow(context, u("toggleEnglishPassthrough"),
                       u("toggle|English Passthrough|on|enabled")),
            "toggleEnglishPassthrough|toggle|English Passthrough|on|enabled");
  context.activateProperty("toggleEnglishPassthrough", true);
  harness_.settle();
  EXPECT_EQ(typeKeys(context, "k"), 1) << "still passing keys";
}

// A layout chosen in the panel while a word is being typed comes in once the word ends: the word
// is not split between two layouts.
TEST_F(IBusMenuTest, LayoutChosenWhileAWordIsTypedComesInAtItsEnd) {
  TestInputContext context(harness_, "editor");
  context.keepText(QString(), 0);
  start(context);
  EXPECT_EQ(typeKeys(context, "am"), 0);
  const qsizetype sent = context.properties.size();
  context.activateProperty("switchToProbhat");
  // The panel moved its own check mark: it is sent the group as the typing uses it.
  EXPECT_TRUE(harness_.waitFor([&] {
    const QStringList since = context.properties.mid(sent);
    return since.contains(u("switchToPhonetic")) && since.contains(u("switchToProbhat"));
  })) << context.properties.mid(sent).join(u' ').toStdString();
  EXPECT_TRUE(context.menu.contains(u("switchToPhonetic|radio|ফোনেটিক (Phonetic)|on|enabled")));
  EXPECT_EQ(typeKeys(context, "i "), 0);
  ASSERT_TRUE(harness_.waitFor([&] { return context.text == u("আমি "); }))
      << context.text.toStdString();
  EXPECT_EQ(waitForRow(context, u("switchToProbhat"), u("radio|প্রভাত (Probhat)|on|enabled")),
            "switchToProbhat|radio|প্রভাত (Probhat)|on|enabled");
  EXPECT_EQ(typeKeys(context, "kf "), 0);
  ASSERT_TRUE(harness_.waitFor([&] { return context.text == u("আমি কত "); }))
      << context.text.toStdString() << " typed in probhat";
}

// A row chosen in the desktop's panel after the context lost the focus (opening the panel's menu
// takes it, GNOME Shell's for one): the row acts for that context, whose next keys type in the
// chosen layout, and the panel is sent the rows again while no context has the focus, also a
// switch that was asked for the state it has.
TEST_F(IBusMenuTest, RowChosenAfterTheFocusLeftActsAndIsSentToThePanel) {
  testing::MenuPanel panel(harness_.bus());
  ASSERT_TRUE(panel.owned());
  TestInputContext context(harness_, "editor");
  context.keepText(QString(), 0);
  start(context);
  context.focusOut();
  ASSERT_TRUE(harness_.waitFor(
      [&] { return harness_.events().contains(u("deactivate ") + context.objectPath()); }));
  // The row may come before or after the list the engine registers again for the daemon's own
  // context: either way the panel shows it.
  panel.choose("switchToProbhat");
  EXPECT_TRUE(harness_.waitFor([&] {
    return panel.shown.contains(u("switchToProbhat|on")) &&
           panel.shown.contains(u("switchToPhonetic|off"));
  })) << panel.shown.join(u' ').toStdString();
  // A panel showing suggestions off asks for them on, as they are: nothing flips, and the panel
  // is sent the row as it is, on its own.
  const qsizetype sent = panel.updates.size();
  panel.choose("toggleSuggestions");
  EXPECT_TRUE(harness_.waitFor([&] {
    return panel.updates.mid(sent).contains(u("toggleSuggestions|on"));
  })) << panel.updates.join(u' ').toStdString();
  context.focusIn();
  EXPECT_EQ(typeKeys(context, "kf "), 0);
  ASSERT_TRUE(harness_.waitFor([&] { return context.text == u("কত "); }))
      << context.text.toStdString() << " typed in probhat";
}

// IBus's own panel (ibus-ui-gtk3, the tray's menu on Cinnamon) shows an engine's rows only as
// they were last registered for the context that holds the engine, and empties them as a context
// loses the focus. Right after a field's focus-out (GTK's module then focuses a placeholder
// context of its own, "fake"), a tray menu opened within a second sometimes held no rows of
// Tolvani's: once the program has heard of the focus change, they are there, each time.
TEST_F(IBusMenuTest, RowsAreThePanelsRightAfterAFocusOut) {
  testing::MenuPanel panel(harness_.bus());
  ASSERT_TRUE(panel.owned());
  // As GTK 3's module makes them: the menu goes to the panel, not to the application.
  const unsigned gtk = IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_FOCUS | IBUS_CAP_SURROUNDING_TEXT;
  TestInputContext field(harness_, "gtk3-im:letter", gtk);
  TestInputContext fake(harness_, "fake", gtk);
  field.keepText(QString(), 0);
  IBusProgramTest::start(field);
  const auto count = [&](const QString& line) { return harness_.events().count(line); };
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    if (i > 0) {
      fake.focusOut();
      field.focusIn();
      ASSERT_TRUE(harness_.waitFor(
          [&] { return count(QStringLiteral("activate ") + field.objectPath()) > i; }));
    }
    EXPECT_EQ(typeKeys(field, "kf "), 0);
    const qsizetype placeholders = count(QStringLiteral("placeholder ") + fake.objectPath());
    field.focusOut();
    fake.focusIn();
    ASSERT_TRUE(harness_.waitFor([&] {
      return count(QStringLiteral("placeholder ") + fake.objectPath()) > placeholders;
    })) << harness_.events().join(u'\n').toStdString();
    harness_.settle();
    EXPECT_TRUE(panel.shown.contains(QStringLiteral("switchToPhonetic|on")) &&
                panel.shown.contains(QStringLiteral("openPreferences|off")))
        << panel.shown.join(u' ').toStdString();
  }
}

// Unijoy chosen in the panel types the layout's worked examples: its link key's virama shows in
// the composition until the next key, which a Shift pressed alone does not replace.
TEST_F(IBusMenuTest, UnijoyRowTypesItsLinkKey) {
  TestInputContext context(harness_, "editor");
  context.keepText(QString(), 0);
  start(context);

  context.activateProperty("switchToUnijoy");
  EXPECT_EQ(waitForRow(context, u("switchToUnijoy"), u("radio|ইউনিজয় (Unijoy)|on|enabled")),
            "switchToUnijoy|radio|ইউনিজয় (Unijoy)|on|enabled");
  EXPECT_EQ(waitForRow(context, u("switchToNational"), u("radio|জাতীয় (National)|off|enabled")),
            "switchToNational|radio|জাতীয় (National)|off|enabled");
  EXPECT_EQ(typeKeys(context, "jg"), 0);
  ASSERT_TRUE(harness_.waitFor([&] {
    return !context.preedits.empty() && context.preedits.back().text == u("ক্");
  })) << "the held virama is shown";
  EXPECT_TRUE(context.commits.isEmpty());
  EXPECT_FALSE(press(context, IBUS_KEY_Shift_L, kShiftCode));
  EXPECT_EQ(typeKeys(context, "Nmf "), 0);
  ASSERT_TRUE(harness_.waitFor([&] { return context.text == u("ক্ষমা "); }))
      << context.text.toStdString();
  EXPECT_EQ(typeKeys(context, "g"), 0);
  EXPECT_FALSE(press(context, IBUS_KEY_Shift_L, kShiftCode));
  EXPECT_EQ(typeKeys(context, "G "), 0);
  ASSERT_TRUE(harness_.waitFor([&] { return context.text == u("ক্ষমা ॥ "); }))
      << context.text.toStdString();
  platform::Defaults::testResetStandard();
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::unijoy) << "the mode is kept";
}

// The rows that the hot keys also reach, chosen in the panel: the other layouts, suggestions off
// and on with their message and their effect on the next word, and the conversion of a selection;
// then in Bangla, switched while the program runs, with the Bangla messages.
TEST_F(IBusMenuTest, RowsActAsTheirKeysDoInBothLanguages) {
  TestInputContext context(harness_, "editor");
  context.keepText(QString(), 0);
  start(context);

  context.activateProperty("switchToNational");
  EXPECT_EQ(waitForRow(context, u("switchToNational"), u("radio|জাতীয় (National)|on|enabled")),
            "switchToNational|radio|জাতীয় (National)|on|enabled");
  EXPECT_EQ(typeKeys(context, "jk "), 0);
  ASSERT_TRUE(harness_.waitFor([&] { return context.text == u("কত "); }))
      << context.text.toStdString() << " typed in national";
  context.activateProperty("switchToPhonetic");
  EXPECT_EQ(waitForRow(context, u("switchToPhonetic"), u("radio|ফোনেটিক (Phonetic)|on|enabled")),
            "switchToPhonetic|radio|ফোনেটিক (Phonetic)|on|enabled");
  platform::Defaults::testResetStandard();
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::phonetic);

  // Suggestions off: the message, the stored switch, and the next word shows no list.
  context.activateProperty("toggleSuggestions", false);
  EXPECT_EQ(waitForRow(context, u("toggleSuggestions"), u("toggle|Suggestions|off|enabled")),
            "toggleSuggestions|toggle|Suggestions|off|enabled");
  EXPECT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("Suggestions off"));
  })) << context.auxiliaryTexts.join('|').toStdString();
  platform::Defaults::testResetStandard();
  EXPECT_FALSE(AppSettings::suggestionsEnabled());
  const std::size_t tables = context.lookupTables.size();
  EXPECT_EQ(typeKeys(context, "ami"), 0);
  ASSERT_TRUE(harness_.waitFor(
      [&] { return !context.preedits.empty() && context.preedits.back().text == u("আমি"); }));
  // A list would come in the pause after the keys.
  harness_.settleAfterPause();
  EXPECT_EQ(context.lookupTables.size(), tables) << "no list while suggestions are off";
  EXPECT_EQ(typeKeys(context, " "), 0);
  context.activateProperty("toggleSuggestions", true);
  EXPECT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("Suggestions on"));
  })) << context.auxiliaryTexts.join('|').toStdString();
  EXPECT_EQ(typeKeys(context, "ami"), 0);
  EXPECT_TRUE(harness_.waitFor([&] { return context.lookupTables.size() > tables; }))
      << "the list is back";
  EXPECT_EQ(typeKeys(context, " "), 0);

  // The conversion row converts the application's selection, as Control-Alt-B does. The program
  // reads the application's text only once it has asked for it: the row is chosen again until the
  // conversion arrives.
  const QString before = u("ok bhalo");
  const QDeadlineTimer deadline(20000);
  while (context.text != u("ok ভালো") && !deadline.hasExpired()) {
    context.keepText(before, 8, 3);
    const qsizetype commits = context.commits.size();
    const qsizetype toasts = context.auxiliaryTexts.size();
    context.activateProperty("convertBanglishSelection");
    ASSERT_TRUE(harness_.waitFor([&] {
      return context.commits.size() > commits || context.auxiliaryTexts.size() > toasts;
    })) << "neither a conversion nor a message arrived";
    harness_.settle();
  }
  EXPECT_EQ(context.text.toStdString(), "ok ভালো");

  // Bangla, chosen while the program runs: the rows' titles change and the messages are Bangla.
  AppSettings::setUiLanguage(0);
  EXPECT_EQ(waitForRow(context, u("toggleSuggestions"), u("toggle|সাজেশন|on|enabled")),
            "toggleSuggestions|toggle|সাজেশন|on|enabled");
  context.activateProperty("toggleSuggestions", false);
  EXPECT_TRUE(harness_.waitFor([&] { return context.auxiliaryTexts.contains(u("সাজেশন বন্ধ")); }))
      << context.auxiliaryTexts.join('|').toStdString();
  EXPECT_TRUE(press(context, IBUS_KEY_s, kSCode, kControlAlt));
  EXPECT_TRUE(harness_.waitFor([&] { return context.auxiliaryTexts.contains(u("সাজেশন চালু")); }))
      << context.auxiliaryTexts.join('|').toStdString();
  context.keepText(u("১২৩"), 0, 3);
  context.activateProperty("convertBanglishSelection");
  EXPECT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("সিলেকশনে বাংলিশ নেই"));
  })) << context.auxiliaryTexts.join('|').toStdString();
  context.keepText(u("১২৩"), 3);
  EXPECT_TRUE(press(context, IBUS_KEY_b, kBCode, kControlAlt));
  EXPECT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("আগে বাংলিশ লেখা সিলেক্ট করুন"));
  })) << context.auxiliaryTexts.join('|').toStdString();
  context.activateProperty("switchToProbhat");
  EXPECT_EQ(waitForRow(context, u("switchToProbhat"), u("radio|প্রভাত (Probhat)|on|enabled")),
            "switchToProbhat|radio|প্রভাত (Probhat)|on|enabled");
  EXPECT_TRUE(press(context, IBUS_KEY_space, kSpaceCode, IBUS_CONTROL_MASK | IBUS_SHIFT_MASK));
  EXPECT_EQ(waitForRow(context, u("switchToNational"), u("radio|জাতীয় (National)|on|enabled")),
            "switchToNational|radio|জাতীয় (National)|on|enabled");
  EXPECT_TRUE(press(context, IBUS_KEY_space, kSpaceCode, IBUS_CONTROL_MASK));
  EXPECT_EQ(waitForRow(context, u("toggleEnglishPassthrough"), u("toggle|ইংরেজি পাসথ্রু|on|enabled")),
            "toggleEnglishPassthrough|toggle|ইংরেজি পাসথ্রু|on|enabled");
  EXPECT_EQ(typeKeys(context, "jk "), 3) << "keys pass to the application";
  context.activateProperty("toggleEnglishPassthrough", false);
  EXPECT_EQ(
      waitForRow(context, u("toggleEnglishPassthrough"), u("toggle|ইংরেজি পাসথ্রু|off|enabled")),
      "toggleEnglishPassthrough|toggle|ইংরেজি পাসথ্রু|off|enabled");
  EXPECT_EQ(typeKeys(context, "jk "), 0) << "typed in national again";
}

}  // namespace
}  // namespace tolvani
