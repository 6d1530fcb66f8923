#include <QTest>

#include "ime/tests/ImeTestSupport.h"
#include "settings/TextShortcuts.h"

namespace tolvani {
namespace {

using namespace testing;

const KeyEvent kLeft = key(KeyCodes::kLeft, "\uF702");
const KeyEvent kDown = key(KeyCodes::kDown, "\uF701");

using TolvaniInputControllerKeysTest = ControllerTest;

TEST_F(TolvaniInputControllerKeysTest, TypingComposesAndSpaceCommits) {
  type("aba");
  EXPECT_EQ(client_.markedText(), u("কখক"));
  EXPECT_EQ(rows(), "কখক/exact|কখকি/prefix");
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(client_.document(), u("x কখক "));
  EXPECT_TRUE(client_.marked().isNotFound());
  EXPECT_EQ(rows(), "hidden");
  EXPECT_EQ(takeCalls().back(), "key 1 49 0 32") << "Space goes to the engine with its text";
  // Idle, nothing to expand: the space is the client's.
  EXPECT_FALSE(press(kSpace));
  EXPECT_FALSE(press(kReturn));
  EXPECT_TRUE(takeCalls().empty()) << "idle pass keys never reach the engine";
  EXPECT_EQ(RuntimeDiagnostics::testSamples(RuntimeDiagnostics::Metric::keyHandling).size(), 6)
      << "every key is timed";
}

TEST_F(TolvaniInputControllerKeysTest, ReturnEscapeAndArrowsWhileComposing) {
  type("ab");
  EXPECT_TRUE(press(kReturn)) << "Return commits and the client never sees the newline";
  EXPECT_EQ(client_.document(), u("x কখ"));
  EXPECT_EQ(takeCalls().back(), "key 1 36 0 0");

  // Escape with no candidates shown: consumed although the engine answers an empty state.
  engine_.onKey = [](const CKeyEvent&, const std::string&, EngineState answer) {
    answer.candidates.clear();
    answer.status_flags = 0;
    return answer;
  };
  EXPECT_TRUE(press(letter('q')));
  EXPECT_EQ(client_.markedText(), u("থ"));
  EXPECT_TRUE(press(kEscape));
  EXPECT_TRUE(client_.marked().isNotFound());
  EXPECT_EQ(client_.document(), u("x কখ"));
  engine_.onKey = nullptr;

  // An arrow commits first, then moves the client's caret.
  type("c");
  client_.clearLog();
  EXPECT_FALSE(press(kLeft));
  EXPECT_EQ(client_.document(), u("x কখগ"));
  EXPECT_EQ(client_.insertions(), QStringList{u("গ")});
  // Down with candidates moves the highlight; Return then picks the moved-to row.
  type("d");
  EXPECT_TRUE(press(kDown));
  EXPECT_TRUE(press(kReturn));
  EXPECT_EQ(client_.document(), u("x কখগঘি"));
  EXPECT_EQ(takeCalls().back(), "select d ঘি");
}

TEST_F(TolvaniInputControllerKeysTest, DeleteAgainstTheClientsMarkedText) {
  type("abc");
  EXPECT_TRUE(press(kDelete));
  EXPECT_EQ(client_.markedText(), u("কখ"));
  EXPECT_EQ(takeCalls().back(), "key 6 51 0 0");

  // The user clicked into the middle of the marked text: the composition is dropped and the
  // Delete is the client's.
  client_.userClick(3);
  EXPECT_FALSE(press(kDelete));
  EXPECT_EQ(takeCalls(), std::vector<std::string>{"reset"});
  EXPECT_TRUE(controller_->testCurrentState().preedit.empty());
  EXPECT_EQ(rows(), "hidden");

  // A client that reports neither selection nor text: the marked text is ours, Delete edits it.
  RecordingTextClient blind;
  blind.knobs().lacksSelectedRange = true;
  blind.knobs().lacksStringFromRange = true;
  auto other = makeController(blind);
  for (char c : {'a', 'b'}) other->handle(letter(c), &blind);
  EXPECT_TRUE(other->handle(kDelete, &blind));
  EXPECT_EQ(blind.markedText(), u("ক"));
}

TEST_F(TolvaniInputControllerKeysTest, DigitsSelectRowsOnlyInPhoneticWithBanglaLetters) {
  // "heart" composes one letter with three candidates and has an emoji row.
  engine_.onKey = [](const CKeyEvent& e, const std::string&, EngineState answer) {
    if (e.kind == 0 && e.codepoint == 'h') {
      answer.raw_text = "heart";
      answer.preedit = "\u0995";
      answer.candidates = {{"\u0995", 3, 0}, {"\u0995\u09BF", 2, 0}, {"\u0995\u0995", 1, 0}};
    }
    return answer;
  };
  struct Case {
    KeyboardMode mode;
    const char* digit;
    const char* expectedCall;  // the engine's call for the digit
  };
  const Case cases[] = {
      {KeyboardMode::phonetic, "4", "reset"},  // the emoji row
      {KeyboardMode::phonetic, "2", "select heart কি"},
      {KeyboardMode::phonetic, "5", "key 0 65535 0 53"},  // beyond the rows
      {KeyboardMode::phonetic, "0", "key 0 65535 0 48"},
      {KeyboardMode::phonetic, "১", "select heart ক"},
      {KeyboardMode::probhat, "1", "key 0 65535 0 49"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.digit);
    controller_->testSetCurrentMode(c.mode);
    press(letter('h'));
    const CandidatePanel& panel = *controller_->testPanel();
    ASSERT_EQ(panel.itemCount(), 4);
    const QString emoji = panel.rows()[3].item->text;
    EXPECT_EQ(panel.rows()[3].item->kind, u("emoji"));
    takeCalls();
    client_.clearLog();
    EXPECT_TRUE(press(key(KeyCodes::kUnknown, c.digit)));
    const std::vector<std::string> calls = takeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), c.expectedCall);
    if (std::string(c.expectedCall) == "reset") {
      EXPECT_EQ(client_.insertions(), QStringList{emoji});
      EXPECT_TRUE(controller_->testCurrentState().raw_text.empty());
    }
    controller_->commitComposition(&client_);
  }

  // A preedit of Bangla digits only: digits go to the engine.
  engine_.onKey = [](const CKeyEvent&, const std::string&, EngineState answer) {
    answer.preedit = "\u09E7";
    return answer;
  };
  controller_->testSetCurrentMode(KeyboardMode::phonetic);
  press(letter('1'));
  takeCalls();
  press(key(KeyCodes::kUnknown, "1"));
  EXPECT_EQ(takeCalls().front(), "key 0 65535 0 49");
}

TEST_F(TolvaniInputControllerKeysTest, ModifiersCommitOrReachTheEngine) {
  type("ab");
  EXPECT_FALSE(press(letter('c', KeyFlags::kCommand))) << "Command commits and passes";
  EXPECT_EQ(client_.document(), u("x কখ"));
  type("a");
  EXPECT_FALSE(press(letter('v', KeyFlags::kOption))) << "Option in phonetic commits and passes";
  EXPECT_EQ(client_.document(), u("x কখক"));

  // In a fixed layout Option reaches the engine with bit 1 and the key's base character.
  controller_->testSetCurrentMode(KeyboardMode::probhat);
  takeCalls();
  EXPECT_TRUE(press(KeyEvent{true, 40, KeyFlags::kOption | KeyFlags::kShift, u("খ"), u("K")}));
  EXPECT_EQ(takeCalls().back(), "key 0 40 3 75");

  // Key releases and lone modifiers are not key-down events.
  EXPECT_FALSE(press(KeyEvent{false, 40, 0, u("k"), u("k")}));
  EXPECT_TRUE(takeCalls().empty());
}

TEST_F(TolvaniInputControllerKeysTest, HotKeysSecureEntryAndPassthrough) {
  struct Case {
    const char* name;
    KeyEvent event;
    bool consumed;
  };
  const Case cases[] = {
      {"Control-Space", key(KeyCodes::kSpace, " ", KeyFlags::kControl), true},
      {"Control-Option-Shift-S",
       key(KeyCodes::kS, "s", KeyFlags::kControl | KeyFlags::kOption | KeyFlags::kShift), true},
      {"Control-Option-B", key(KeyCodes::kB, "b", KeyFlags::kControl | KeyFlags::kOption), true},
      {"Control-Option-Command-S",
       key(KeyCodes::kS, "s", KeyFlags::kControl | KeyFlags::kOption | KeyFlags::kCommand), false},
  };
  controller_->testSetEnglishBypass(true);
  for (const Case& c : cases) EXPECT_EQ(press(c.event), c.consumed) << c.name;
  EXPECT_FALSE(controller_->testEnglishBypass()) << "Control-Space ended the passthrough";
  EXPECT_TRUE(press(cases[0].event));
  EXPECT_FALSE(press(letter('a'))) << "passthrough lets letters through";
  EXPECT_TRUE(press(key(KeyCodes::kSpace, " ", KeyFlags::kControl | KeyFlags::kShift)));
  EXPECT_FALSE(controller_->testEnglishBypass()) << "Control-Shift-Space ends passthrough";
  EXPECT_TRUE(press(letter('a')));

  client_.setInputPurpose(platform::InputPurpose::password);
  for (const Case& c : cases) EXPECT_FALSE(press(c.event)) << "secure: " << c.name;
  EXPECT_FALSE(press(letter('b')));
}

TEST_F(TolvaniInputControllerKeysTest, TextShortcutsOnSpace) {
  client_.userEdit({0, 2}, u("say ty"));
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(client_.document(), u("say ধন্যবাদ "));

  // No shortcut, or a word of 25 characters even if it is a code: the space is the client's.
  client_.userEdit({0, client_.document().size()}, u("xyz"));
  EXPECT_FALSE(press(kSpace));
  const QString longCode(25, QLatin1Char('q'));
  AppSettings::setTextShortcuts({{longCode, u("দীর্ঘ")}, {u("hi"), u("নমস্কার")}});
  client_.userEdit({0, client_.document().size()}, longCode);
  EXPECT_FALSE(press(kSpace));
  client_.userEdit({0, client_.document().size()}, u("hi"));
  client_.knobs().lacksStringFromRange = true;
  EXPECT_FALSE(press(kSpace)) << "no text to read, no expansion";
  client_.knobs().lacksStringFromRange = false;
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(client_.document(), u("নমস্কার "));

  // A composition whose raw input is a code expands in place of committing.
  type("hi ");
  EXPECT_EQ(client_.document(), u("নমস্কার নমস্কার "));
  EXPECT_TRUE(client_.marked().isNotFound());
  EXPECT_EQ(takeCalls().back(), "reset");
}

// The post-commit panel's keys, and the English row after a common English word.
TEST_F(TolvaniInputControllerKeysTest, PostCommitKeysAndTheEnglishRow) {
  AppSettings::suite().set(AppSettings::predictiveTextKey(), true);
  engine_.onKey = [](const CKeyEvent& e, const std::string&, EngineState answer) {
    if (e.kind == 1) answer.predictions = {"\u09A4\u09C1\u09AE\u09BF", "\u09B8\u09C7"};
    return answer;
  };
  type("a ");
  EXPECT_EQ(rows(), "তুমি/prediction|সে/prediction");
  // Return with the highlight never moved dismisses; the idle Return then passes.
  EXPECT_FALSE(press(kReturn));
  EXPECT_EQ(rows(), "hidden");

  type("a ");
  EXPECT_TRUE(press(kTab)) << "Tab inserts the highlighted row";
  EXPECT_EQ(client_.document(), u("x ক ক তুমি "));
  EXPECT_EQ(takeCalls().back(), "note তুমি");

  type("a ");
  EXPECT_TRUE(press(kDown));
  EXPECT_TRUE(press(kReturn));
  EXPECT_TRUE(client_.document().endsWith(u("ক সে ")));
  type("a ");
  EXPECT_TRUE(press(kEscape));
  EXPECT_EQ(rows(), "hidden");
  EXPECT_FALSE(controller_->testHasPostCommit());

  // "the" typed as Bangla: one English row; picking it swaps the word and its space.
  engine_.commonEnglish = {"the"};
  client_.userEdit({0, client_.document().size()}, u("x "));
  type("the ");
  EXPECT_EQ(rows(), "the/english");
  controller_->testPanel()->rowClicked(0);
  EXPECT_EQ(client_.document(), u("x the "));
  EXPECT_EQ(takeCalls().back(), "seed the");
  // The same in probhat: no row.
  controller_->testSetCurrentMode(KeyboardMode::probhat);
  type("the ");
  EXPECT_NE(rows(), "the/english");
}

// The same road with the real engine behind the bridge.
class TolvaniInputControllerRealEngineTest : public ControllerTest {
 protected:
  TolvaniInputControllerRealEngineTest() {
    realEngine_ = true;
    tolvani_engine_warm_caches();  // the first keys need not wait for the shared tables
  }
};

TEST_F(TolvaniInputControllerRealEngineTest, PhoneticWordsCommitWithTheirSpaces) {
  type("ami");
  EXPECT_EQ(client_.markedText(), u("আমি"));
  EXPECT_EQ(controller_->composedString(), u("আমি"));
  type(" ");
  EXPECT_EQ(client_.document(), u("x আমি "));
  type("tomake bhalobashi ");
  EXPECT_EQ(client_.document(), u("x আমি তোমাকে ভালোবাসি "));

  // Delete inside the composition edits it; the committed text stays.
  type("ka");
  EXPECT_TRUE(press(kDelete));
  EXPECT_EQ(client_.markedText(), u("ক"));
  type(" ");
  EXPECT_EQ(client_.document(), u("x আমি তোমাকে ভালোবাসি ক "));

  // The engine writes "and" in Bangla; the row offers the English word back.
  type("and ");
  EXPECT_TRUE(client_.document().endsWith(u("\u09A8\u09CD\u09A1 ")));
  ASSERT_EQ(rows(), "and/english");
  controller_->testPanel()->rowClicked(0);
  EXPECT_TRUE(client_.document().endsWith(u("ক and "))) << client_.document().toStdString();
}

// Unijoy's link key holds its virama in the composition. Return and Tab after it keep the virama
// as typed, and then do what they do with nothing composed: they are the client's.
TEST_F(TolvaniInputControllerRealEngineTest, ReturnAndTabAfterUnijoysLinkKeyKeepTheVirama) {
  for (int i = 0; i < 3; ++i)
    press(key(KeyCodes::kSpace, " ", KeyFlags::kControl | KeyFlags::kShift));
  ASSERT_EQ(controller_->testCurrentMode(), KeyboardMode::unijoy);
  for (const KeyEvent& end : {kReturn, kTab}) {
    SCOPED_TRACE(end.keyCode);
    client_.clearLog();
    type("g");
    EXPECT_EQ(client_.markedText(), u("\u09CD"));
    EXPECT_FALSE(press(end)) << "the key goes on to the client";
    EXPECT_EQ(client_.insertions(), QStringList{u("\u09CD")});
    EXPECT_TRUE(client_.marked().isNotFound());

    client_.clearLog();
    type("jg");
    EXPECT_FALSE(press(end));
    EXPECT_EQ(client_.insertions(), QStringList{u("\u0995\u09CD")});

    // AltGr's virama and the ref's hold nothing: the key ends the word as after any letter.
    client_.clearLog();
    EXPECT_TRUE(press(letter('g', KeyFlags::kOption)));
    EXPECT_TRUE(press(kReturn));
    EXPECT_EQ(client_.insertions(), QStringList{u("\u09CD")});
    client_.clearLog();
    EXPECT_TRUE(press(letter('A', KeyFlags::kShift)));
    EXPECT_TRUE(press(kReturn));
    EXPECT_EQ(client_.insertions(), QStringList{u("\u09B0\u09CD")});
  }
}

// Keys faster than the rows: a controller whose rows come after each key's answer shows every
// preedit at once, the rows of the last key once the loop runs, and a digit typed before they came
// picks what it would have picked from rows that came with the key.
TEST_F(TolvaniInputControllerRealEngineTest, RowsThatComeLaterChangeNothingAKeyDoes) {
  RecordingTextClient laterClient{u("x ")};
  auto later = std::make_unique<TolvaniInputController>(&laterClient);
  later->setRankingDeferred(true);
  later->activateServer(&laterClient);
  auto both = [&](const KeyEvent& event) {
    EXPECT_EQ(later->handle(event, &laterClient), press(event)) << event.characters.toStdString();
  };
  auto word = [&](const char* text) {
    for (const char* c = text; *c; ++c) both(*c == ' ' ? kSpace : letter(*c));
  };
  auto rowsCome = [&] {
    return QTest::qWaitFor([&] { return panelRows(*later) == rows(); }, 2000);
  };

  word("bhal");
  EXPECT_TRUE(rowsCome()) << panelRows(*later) << " / " << rows();
  both(letter('o'));
  EXPECT_EQ(laterClient.markedText(), u("ভালো"));
  EXPECT_NE(panelRows(*later), rows()) << "the rows of the new key before the loop ran";
  // Row 2 and a word ended by Space, typed before the rows came.
  both(key(KeyCodes::kUnknown, "2"));
  EXPECT_EQ(laterClient.document(), client_.document());
  word("kmon");
  both(kDelete);
  word("on ");
  EXPECT_EQ(laterClient.document(), client_.document());
  EXPECT_EQ(laterClient.markedText(), client_.markedText());

  // A word left mid-way loses its pending rows with it.
  word("amra");
  later->commitComposition(&laterClient);
  controller_->commitComposition(&client_);
  EXPECT_EQ(laterClient.document(), client_.document());
  EXPECT_TRUE(rowsCome()) << panelRows(*later) << " / " << rows();
  EXPECT_TRUE(client_.document().endsWith(u("আমরা"))) << client_.document().toStdString();
}

}  // namespace
}  // namespace tolvani
