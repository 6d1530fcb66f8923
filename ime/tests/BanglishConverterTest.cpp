// Converting selected Banglish with the real engine: which parts of a text are runs of letters,
// what is kept as it is, the limits, and the controller's side through the recording client (the
// hot key, the selection replaced, the six messages, a key or a selection change that comes
// before the result).
#include "ime/BanglishConverter.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <atomic>
#include <optional>

#include "ime/tests/ImeTestSupport.h"
#include "settings/UIStrings.h"

namespace tolvani {
namespace {

using platform::TextRange;
using testing::u;

// Converts `text` through the shared converter and waits for the main-thread completion.
std::optional<QString> convert(const QString& text) {
  bool done = false;
  std::optional<QString> result;
  BanglishConverter::shared().convert(text, [&](std::optional<QString> converted) {
    EXPECT_TRUE(platform::isMainThread());
    result = std::move(converted);
    done = true;
  });
  // The first conversion waits for the engine's tables, which a sanitizer build makes slowly.
  EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 120000));
  return result;
}

// Records every message the panel shows.
class ToastFace : public testing::ScreenFace {
 public:
  explicit ToastFace(QStringList* toasts) : ScreenFace(true), toasts_(toasts) {}
  void render(const CandidatePanel& panel) override {
    if (panel.layout().state == CandidatePanel::State::status) {
      *toasts_ << panel.layout().statusMessage;
    }
  }

 private:
  QStringList* toasts_;
};

const KeyEvent kConvertKey =
    testing::key(KeyCodes::kB, "b", KeyFlags::kControl | KeyFlags::kOption);

class BanglishConverterTest : public testing::ControllerTest {
 protected:
  BanglishConverterTest() { realEngine_ = true; }
  void SetUp() override {
    ControllerTest::SetUp();
    AppSettings::setUiLanguage(1);
    AppSettings::setDefaultMode(KeyboardMode::phonetic);
    BanglishConverter::shared().testReset();
    CandidatePanel::setFaceFactory([this] {
      return std::make_pair(std::make_unique<ToastFace>(&toasts_),
                            std::make_unique<ToastFace>(&toasts_));
    });
    controller_ = makeController(client_);
  }
  void TearDown() override {
    BanglishConverter::shared().testReset();
    QCoreApplication::processEvents();
    ControllerTest::TearDown();
  }

  // Selects `range` of a new document `text` and presses Control-Alt-B.
  void selectAndConvert(const QString& text, TextRange range, bool consumed = true) {
    client_.userEdit({0, client_.document().size()}, text);
    client_.userSelect(range);
    client_.clearLog();
    toasts_.clear();
    EXPECT_EQ(press(kConvertKey), consumed);
  }
  // Lets every queued conversion finish and its completion run.
  static void finishConversions() {
    BanglishConverter::shared().testWaitForQueue();
    QCoreApplication::processEvents();
  }

  QStringList toasts_;
};

TEST_F(BanglishConverterTest, RunsOfLettersAreConvertedAndEverythingElseKept) {
  const QString ami = *convert("ami");
  const QString tomake = *convert("tomake");
  const QString bhalobashi = *convert("bhalobashi");
  EXPECT_EQ(ami, u("আমি"));
  EXPECT_EQ(bhalobashi, u("ভালোবাসি"));
  EXPECT_EQ(convert("ami tomake bhalobashi."), ami + " " + tomake + " " + bhalobashi + ".");

  // A grave accent opens a run only before a letter; "^" and "~" never open one, and all three
  // stay inside a run.
  const QString graveA = *convert("`a");
  const QString aCaret = *convert("a^");
  const QString aTilde = *convert("a~");
  const QString a = *convert("a");
  EXPECT_EQ(convert("`1 ` `"), "`1 ` `");
  EXPECT_EQ(convert("^a ~a (`a) a^ a~"),
            "^" + a + " ~" + a + " (" + graveA + ") " + aCaret + " " + aTilde);

  // Digits, punctuation, Bangla and accented letters stay; a letter with a combining mark ends
  // the run and is kept as it is.
  EXPECT_EQ(convert(u("১২৩ বাংলা, 42! é")), u("১২৩ বাংলা, 42! é"));
  EXPECT_EQ(convert(u("tumi\u0301")), *convert("tum") + u("i\u0301"));
  EXPECT_EQ(convert(u("ami😀ami")), ami + u("😀") + ami);

  // A run longer than 4,096 bytes is kept; one of exactly 4,096 is converted.
  const QString longest(BanglishConverter::maxRunBytes, QLatin1Char('k'));
  EXPECT_EQ(convert(longest + "a"), longest + "a");
  EXPECT_NE(convert(longest), longest);

  EXPECT_TRUE(BanglishConverter::containsBanglish(u("১ x")));
  EXPECT_FALSE(BanglishConverter::containsBanglish(u("১২৩ é ৳ `^~")));
}

TEST_F(BanglishConverterTest, TheWordsBeforeDecideTheReadingOfTheNextAsWhenTyped) {
  EXPECT_EQ(convert("kemon aso? ekhane aso."), u("কেমন আছো? এখানে আসো."));
  // A conversion starts afresh: the words of the one before are no context.
  EXPECT_EQ(convert("kemon"), u("কেমন"));
  EXPECT_EQ(convert("aso"), u("আসো"));
}

TEST_F(BanglishConverterTest, TheConvertersOwnSessionLeavesACompositionAlone) {
  type("am");
  EXPECT_EQ(convert("tumi"), u("তুমি"));
  type("i");
  EXPECT_TRUE(press(testing::kSpace));
  EXPECT_EQ(client_.insertions().value(0), u("আমি "));
}

TEST_F(BanglishConverterTest, HotKeyReplacesTheSelectionKeepingSpacesAndFullStop) {
  selectAndConvert(u("Say: ami tomake bhalobashi. ok"), {5, 22});
  EXPECT_TRUE(client_.insertions().isEmpty()) << "the result comes later";
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return client_.document() != u("Say: ami tomake bhalobashi. ok"); }, 20000));
  EXPECT_EQ(client_.document(), u("Say: আমি তোমাকে ভালোবাসি. ok"));
  EXPECT_EQ(client_.insertions(), QStringList{u("আমি তোমাকে ভালোবাসি.")});
  EXPECT_TRUE(client_.log().join('\n').contains("{5,22}"));
  EXPECT_TRUE(toasts_.isEmpty()) << toasts_.join('|').toStdString();

  // A conversion that changes nothing (one run too long to convert) leaves the text untouched.
  const QString unconverted(4097, QLatin1Char('k'));
  selectAndConvert(unconverted, {0, unconverted.size()});
  finishConversions();
  EXPECT_TRUE(client_.insertions().isEmpty());
  EXPECT_EQ(client_.document(), unconverted);
  EXPECT_TRUE(toasts_.isEmpty());
}

TEST_F(BanglishConverterTest, RefusalsAreToldNearTheCaretInTheInterfaceLanguage) {
  struct Case {
    const char* name;
    QString text;
    TextRange range;
    std::function<void()> knob;
    QString toast;
    QString bangla;
  };
  const QString digits = QString(20000, QLatin1Char('7'));
  const Case cases[] = {
      {"empty selection",
       u("ami"),
       {1, 0},
       {},
       u("Select Banglish text first"),
       u("আগে বাংলিশ লেখা সিলেক্ট করুন")},
      {"20,001 units",
       QString(20001, QLatin1Char('a')),
       {0, 20001},
       {},
       u("The selection is too long"),
       u("সিলেকশনটি অনেক বড়")},
      {"20,000 units are read",
       digits,
       {0, 20000},
       {},
       u("No Banglish in the selection"),
       u("সিলেকশনে বাংলিশ নেই")},
      {"no letters",
       u("১২৩, ৪৫"),
       {0, 7},
       {},
       u("No Banglish in the selection"),
       u("সিলেকশনে বাংলিশ নেই")},
      {"selection unknown",
       u("ami"),
       {0, 3},
       [this] { client_.knobs().selectionUnknown = true; },
       u("Can't read the selection in this app"),
       u("এই অ্যাপের সিলেকশন পড়া যায়নি")},
      {"a selection told as a caret",
       u("ami"),
       {0, 3},
       [this] { client_.knobs().selectionAsCaret = true; },
       u("Can't read the selection in this app"),
       u("এই অ্যাপের সিলেকশন পড়া যায়নি")},
      {"a field that reports its caret alone, whatever is selected",
       u("ami"),
       {3, 0},
       [this] { client_.knobs().emptySelectionUntold = true; },
       u("Can't read the selection here; use a text editor"),
       u("এই ফিল্ডের সিলেকশন পড়া যায় না; টেক্সট এডিটরে করুন")},
      {"no selection call",
       u("ami"),
       {0, 3},
       [this] { client_.knobs().lacksSelectedRange = true; },
       u("Can't read the selection in this app"),
       u("এই অ্যাপের সিলেকশন পড়া যায়নি")},
  };
  for (const int language : {1, 0}) {
    AppSettings::setUiLanguage(language);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (language == 0 ? " (Bangla)" : ""));
      client_.knobs() = {};
      if (c.knob) c.knob();
      selectAndConvert(c.text, c.range);
      finishConversions();
      EXPECT_EQ(toasts_, QStringList{language == 0 ? c.bangla : c.toast});
      EXPECT_TRUE(client_.insertions().isEmpty());
      EXPECT_EQ(client_.document(), c.text);
    }
  }
  client_.knobs() = {};

  // In a password field nothing at all happens.
  client_.setInputPurpose(platform::InputPurpose::password);
  selectAndConvert(u("ami"), {0, 3}, /*consumed=*/false);
  finishConversions();
  EXPECT_TRUE(toasts_.isEmpty());
  EXPECT_TRUE(client_.insertions().isEmpty());
}

TEST_F(BanglishConverterTest, KeyOrSelectionChangeBeforeTheResultLeavesTheTextAlone) {
  // A letter typed before the result starts a composition: the result is dropped.
  selectAndConvert(u("ami tumi"), {0, 8});
  EXPECT_TRUE(press(testing::letter('k')));
  finishConversions();
  EXPECT_EQ(toasts_, QStringList{u("Selection changed, try again")});
  EXPECT_TRUE(client_.insertions().isEmpty());
  // The letter replaced the selection, as typing does; the conversion added nothing.
  EXPECT_FALSE(client_.markedText().isEmpty());
  EXPECT_EQ(client_.document(), client_.markedText());

  // The selection moved.
  EXPECT_TRUE(press(testing::kEscape));
  selectAndConvert(u("ami tumi"), {0, 8});
  client_.userSelect({4, 4});
  finishConversions();
  EXPECT_EQ(toasts_, QStringList{u("Selection changed, try again")});
  EXPECT_EQ(client_.document(), u("ami tumi"));

  // The text under the same selection changed.
  selectAndConvert(u("ami tumi"), {0, 8});
  client_.userEdit({0, 3}, u("abc"));
  client_.userSelect({0, 8});
  finishConversions();
  EXPECT_EQ(toasts_, QStringList{u("Selection changed, try again")});
  EXPECT_EQ(client_.document(), u("abc tumi"));

  // In Bangla.
  AppSettings::setUiLanguage(0);
  selectAndConvert(u("ami tumi"), {0, 8});
  client_.userSelect({4, 4});
  finishConversions();
  EXPECT_EQ(toasts_, QStringList{u("সিলেকশন বদলে গেছে, আবার চেষ্টা করুন")});
  EXPECT_EQ(client_.document(), u("ami tumi"));

  // The controller ended before the result: nothing happens at all.
  selectAndConvert(u("ami tumi"), {0, 8});
  controller_.reset();
  finishConversions();
  EXPECT_TRUE(toasts_.isEmpty());
  EXPECT_EQ(client_.document(), u("ami tumi"));
}

// The menu's row comes without a key press, before which some applications tell their selection.
// It converted the selection they told with the last key; it converts the present one, and where
// that cannot be known it says so and changes nothing.
TEST_F(BanglishConverterTest, MenuRowConvertsThePresentSelectionOrSaysItCannotReadIt) {
  const auto choose = [&] {
    client_.clearLog();
    toasts_.clear();
    controller_->activateMenuItem(InputMenuKeys::kConvertBanglish, true);
    finishConversions();
  };
  client_.userEdit({0, client_.document().size()}, u("hello ami tomake world"));
  client_.userSelect({7, 3});                        // "mi ", with the mouse
  client_.knobs().toldSelection = TextRange{17, 5};  // "world", with the last key
  choose();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !client_.insertions().isEmpty(); }, 20000));
  EXPECT_EQ(client_.document(), u("hello aমি tomake world"));
  EXPECT_EQ(client_.log().value(0), QStringLiteral("refreshSelection"));
  EXPECT_TRUE(toasts_.isEmpty()) << toasts_.join('|').toStdString();

  client_.userSelect({10, 6});
  client_.knobs().toldSelection = TextRange{0, 5};
  client_.knobs().refreshUnknown = true;
  choose();
  EXPECT_EQ(toasts_, QStringList{u("Can't read the selection in this app")});
  EXPECT_TRUE(client_.insertions().isEmpty());
  EXPECT_EQ(client_.document(), u("hello aমি tomake world"));

  // A word being typed goes in before the application is asked.
  client_.knobs() = {};
  client_.userSelect({client_.document().size(), 0});
  type("ami");
  choose();
  EXPECT_EQ(client_.insertions(), QStringList{u("আমি")});
  EXPECT_LT(client_.log().indexOf(QStringLiteral("insertText(\"আমি\", {nf})")),
            client_.log().indexOf(QStringLiteral("refreshSelection")));
  EXPECT_EQ(toasts_, QStringList{u("Select Banglish text first")});
}

std::atomic<int> g_creations{0};

TEST_F(BanglishConverterTest, AnEngineThatCannotStartIsToldOnceAndNotRetried) {
  static EngineSeam failing;
  failing.create = [] {
    ++g_creations;
    return static_cast<TolvaniEngine*>(nullptr);
  };
  testSetEngineSeam(&failing);
  BanglishConverter::shared().testReset();
  g_creations = 0;
  for (int i = 0; i < 2; ++i) {
    // The second time in Bangla.
    AppSettings::setUiLanguage(i == 0 ? 1 : 0);
    selectAndConvert(u("ami"), {0, 3});
    finishConversions();
    EXPECT_EQ(toasts_,
              QStringList{i == 0 ? u("Could not start the engine") : u("ইঞ্জিন চালু করা যায়নি")});
    EXPECT_EQ(client_.document(), u("ami"));
  }
  EXPECT_EQ(convert("ami"), std::nullopt);
  EXPECT_EQ(g_creations, 1);
  testSetEngineSeam(nullptr);
}

}  // namespace
}  // namespace tolvani
