#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "ime/TolvaniInputController.h"
#include "ime/tests/ScriptedEngine.h"
#include "platform/Defaults.h"
#include "platform/testing/RecordingTextClient.h"
#include "settings/TextShortcuts.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/TypingStatsStore.h"

namespace tolvani {
namespace {

using platform::RecordingTextClient;
using testing::ScriptedEngine;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// A face on one 1920 × 1080 screen that keeps the rows it was last given.
class ScreenFace : public CandidatePanelFace {
 public:
  explicit ScreenFace(bool places) : places_(places) {}
  bool placesWindows() const override { return places_; }
  std::vector<ScreenArea> screens() const override {
    return {{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1040)}};
  }
  qreal statusTextWidth(const QString& message) const override { return 7.0 * message.size(); }
  void render(const CandidatePanel&) override { ++renders; }
  void hide() override {}
  int renders = 0;

 private:
  bool places_;
};

KeyEvent key(std::uint16_t code, const char* characters, std::uint64_t flags = 0) {
  return KeyEvent{true, code, flags, u(characters), u(characters)};
}
KeyEvent letter(char c, std::uint64_t flags = 0) {
  return KeyEvent{true, KeyCodes::kUnknown, flags, QString(QLatin1Char(c)),
                  QString(QLatin1Char(c))};
}
const KeyEvent kSpace = key(KeyCodes::kSpace, " ");
const KeyEvent kReturn = key(KeyCodes::kReturn, "\r");
const KeyEvent kTab = key(KeyCodes::kTab, "\t");
const KeyEvent kDelete = key(KeyCodes::kDelete, "\x7f");
const KeyEvent kEscape = key(KeyCodes::kEscape, "\x1b");
const KeyEvent kLeft = key(KeyCodes::kLeft, "\uF702");
const KeyEvent kDown = key(KeyCodes::kDown, "\uF701");

class TolvaniInputControllerKeysTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static QTemporaryDir data, config;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  }
  void SetUp() override {
    testing::currentScriptedEngine() = &engine_;
    testSetEngineSeam(&testing::scriptedSeam());
    platform::Defaults::testResetStandard();
    AppSettings::registerDefaults();
    AppSettings::setOnboardingCompleted(true);
    TypingStatsStore::testReset();
    TypingStatsStore::reset();
    RuntimeDiagnostics::testReset();
    CandidatePanel::setFaceFactory([] {
      return std::make_pair(std::make_unique<ScreenFace>(true),
                            std::make_unique<ScreenFace>(false));
    });
    controller_ = std::make_unique<TolvaniInputController>(&client_);
    controller_->activateServer(&client_);
    engine_.calls.clear();
  }
  void TearDown() override {
    controller_.reset();
    CandidatePanel::setFaceFactory(nullptr);
    RuntimeDiagnostics::testWaitForQueue();
    testSetEngineSeam(nullptr);
  }

  bool press(const KeyEvent& event) { return controller_->handle(event, &client_); }
  void type(const char* letters) {
    for (const char* c = letters; *c; ++c) EXPECT_TRUE(press(letter(*c))) << *c;
  }
  // The rows the panel shows, "text/kind" each, "|" between; "hidden" when it is not up.
  std::string rows() const {
    const CandidatePanel* panel = controller_->testPanel();
    if (panel->layout().state == CandidatePanel::State::hidden) return "hidden";
    std::string out;
    for (int i = 0; i < panel->itemCount(); ++i) {
      const CandidateItem& item = *panel->rows()[i].item;
      if (!out.empty()) out += "|";
      out += (item.text + u("/") + item.kind).toStdString();
    }
    return out;
  }
  std::vector<std::string> takeCalls() { return std::exchange(engine_.calls, {}); }

  ScriptedEngine engine_;
  RecordingTextClient client_{u("x ")};
  std::unique_ptr<TolvaniInputController> controller_;
};

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
  TolvaniInputController other(&blind);
  other.activateServer(&blind);
  for (char c : std::string("ab")) other.handle(letter(c), &blind);
  EXPECT_TRUE(other.handle(kDelete, &blind));
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
    const char* name;
    KeyboardMode mode;
    char first;
    const char* digit;
    const char* expectedCall;  // the engine's call for the digit
  };
  const Case cases[] = {
      {"4 picks the emoji row", KeyboardMode::phonetic, 'h', "4", "reset"},
      {"2 picks the second row", KeyboardMode::phonetic, 'h', "2", "select heart কি"},
      {"5 is beyond the rows", KeyboardMode::phonetic, 'h', "5", "key 0 65535 0 53"},
      {"0 never selects", KeyboardMode::phonetic, 'h', "0", "key 0 65535 0 48"},
      {"a Bangla digit selects too", KeyboardMode::phonetic, 'h', "১", "select heart ক"},
      {"probhat never selects", KeyboardMode::probhat, 'h', "1", "key 0 65535 0 49"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    controller_->testSetCurrentMode(c.mode);
    press(letter(c.first));
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
  EXPECT_FALSE(press(letter('a'))) << "passthrough lets letters through";
  EXPECT_TRUE(press(key(KeyCodes::kSpace, " ", KeyFlags::kControl | KeyFlags::kShift)));
  EXPECT_FALSE(controller_->testEnglishBypass()) << "Control-Shift-Space ends passthrough";
  EXPECT_TRUE(press(letter('a')));

  client_.setInputPurpose(platform::InputPurpose::password);
  for (const Case& c : cases) EXPECT_FALSE(press(c.event)) << "secure: " << c.name;
  EXPECT_FALSE(press(letter('b')));
}

TEST_F(TolvaniInputControllerKeysTest, TextShortcutsOnSpace) {
  RecordingTextClient& client = client_;
  client.userEdit({0, 2}, u("say ty"));
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(client.document(), u("say ধন্যবাদ "));

  // No shortcut, or a word of 25 characters even if it is a code: the space is the client's.
  client.userEdit({0, client.document().size()}, u("xyz"));
  EXPECT_FALSE(press(kSpace));
  const QString longCode(25, QLatin1Char('q'));
  AppSettings::setTextShortcuts({{longCode, u("দীর্ঘ")}, {u("hi"), u("নমস্কার")}});
  client.userEdit({0, client.document().size()}, longCode);
  EXPECT_FALSE(press(kSpace));
  client.userEdit({0, client.document().size()}, u("hi"));
  client.knobs().lacksStringFromRange = true;
  EXPECT_FALSE(press(kSpace)) << "no text to read, no expansion";
  client.knobs().lacksStringFromRange = false;
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(client.document(), u("নমস্কার "));

  // A composition whose raw input is a code expands in place of committing.
  type("hi");
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(client.document(), u("নমস্কার নমস্কার "));
  EXPECT_TRUE(client.marked().isNotFound());
  EXPECT_EQ(takeCalls().back(), "reset");
}

// The post-commit panel's keys, and the English row after a common English word.
TEST_F(TolvaniInputControllerKeysTest, PostCommitKeysAndTheEnglishRow) {
  AppSettings::suite().set(AppSettings::predictiveTextKey(), true);
  engine_.onKey = [](const CKeyEvent& e, const std::string&, EngineState answer) {
    if (e.kind == 1) answer.predictions = {"\u09A4\u09C1\u09AE\u09BF", "\u09B8\u09C7"};
    return answer;
  };
  type("a");
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(rows(), "তুমি/prediction|সে/prediction");
  // Return with the highlight never moved dismisses; the idle Return then passes.
  EXPECT_FALSE(press(kReturn));
  EXPECT_EQ(rows(), "hidden");

  type("a");
  press(kSpace);
  EXPECT_TRUE(press(kTab)) << "Tab inserts the highlighted row";
  EXPECT_EQ(client_.document(), u("x ক ক তুমি "));
  EXPECT_EQ(takeCalls().back(), "note তুমি");

  type("a");
  press(kSpace);
  EXPECT_TRUE(press(kDown));
  EXPECT_TRUE(press(kReturn));
  EXPECT_TRUE(client_.document().endsWith(u("ক সে ")));
  type("a");
  press(kSpace);
  EXPECT_TRUE(press(kEscape));
  EXPECT_EQ(rows(), "hidden");
  EXPECT_FALSE(controller_->testHasPostCommit());

  // "the" typed as Bangla: one English row; picking it swaps the word and its space.
  engine_.commonEnglish = {"the"};
  client_.userEdit({0, client_.document().size()}, u("x "));
  type("the");
  EXPECT_TRUE(press(kSpace));
  EXPECT_EQ(rows(), "the/english");
  controller_->testPanel()->rowClicked(0);
  EXPECT_EQ(client_.document(), u("x the "));
  EXPECT_EQ(takeCalls().back(), "seed the");
  // The same in probhat: no row.
  controller_->testSetCurrentMode(KeyboardMode::probhat);
  type("the");
  press(kSpace);
  EXPECT_NE(rows(), "the/english");
}

}  // namespace
}  // namespace tolvani

namespace tolvani {
namespace {

// The same road with the real engine behind the bridge.
class TolvaniInputControllerRealEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static QTemporaryDir data, config;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  }
  void SetUp() override {
    testSetEngineSeam(nullptr);
    // The first keys need not wait for the shared tables.
    tolvani_engine_warm_caches();
    platform::Defaults::testResetStandard();
    AppSettings::registerDefaults();
    AppSettings::setOnboardingCompleted(true);
    CandidatePanel::setFaceFactory([] {
      return std::make_pair(std::make_unique<ScreenFace>(true),
                            std::make_unique<ScreenFace>(false));
    });
  }
  void TearDown() override { CandidatePanel::setFaceFactory(nullptr); }

  static void typeText(TolvaniInputController& c, RecordingTextClient& client, const char* text) {
    for (const char* p = text; *p; ++p) {
      c.handle(*p == ' ' ? kSpace : letter(*p), &client);
    }
  }
};

TEST_F(TolvaniInputControllerRealEngineTest, PhoneticWordsCommitWithTheirSpaces) {
  RecordingTextClient client;
  TolvaniInputController controller(&client);
  controller.activateServer(&client);
  typeText(controller, client, "ami");
  EXPECT_EQ(client.markedText(), u("আমি"));
  EXPECT_EQ(controller.composedString(), u("আমি"));
  EXPECT_TRUE(controller.handle(kSpace, &client));
  EXPECT_EQ(client.document(), u("আমি "));
  typeText(controller, client, "tomake bhalobashi ");
  EXPECT_EQ(client.document(), u("আমি তোমাকে ভালোবাসি "));

  // Delete inside the composition edits it; the committed text stays.
  typeText(controller, client, "ka");
  EXPECT_TRUE(controller.handle(kDelete, &client));
  EXPECT_EQ(client.markedText(), u("ক"));
  EXPECT_TRUE(controller.handle(kSpace, &client));
  EXPECT_EQ(client.document(), u("আমি তোমাকে ভালোবাসি ক "));
}

TEST_F(TolvaniInputControllerRealEngineTest, CommonEnglishWordOffersItsEnglishRow) {
  RecordingTextClient client;
  TolvaniInputController controller(&client);
  controller.activateServer(&client);
  // The engine writes "and" in Bangla; the row offers the English word back.
  typeText(controller, client, "and ");
  EXPECT_TRUE(client.document().endsWith(u("\u09A8\u09CD\u09A1 ")))
      << client.document().toStdString();
  const CandidatePanel& panel = *controller.testPanel();
  ASSERT_EQ(panel.itemCount(), 1);
  EXPECT_EQ(panel.rows()[0].item->text, u("and"));
  EXPECT_EQ(panel.rows()[0].item->kind, u("english"));
  controller.testPanel()->rowClicked(0);
  EXPECT_EQ(client.document(), u("and "));
}

}  // namespace
}  // namespace tolvani
