#include "session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine_client.h"
#include "suggest.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {
namespace {

using testing::EngineClient;
using testing::show;

KeyEvent text_key(char32_t c, uint32_t modifiers = 0) {
  KeyEvent e;
  e.kind = KeyKind::kText;
  e.codepoint = static_cast<uint32_t>(c);
  e.modifiers = modifiers;
  return e;
}

KeyEvent key_of(KeyKind kind, uint32_t codepoint = 0) {
  KeyEvent e;
  e.kind = kind;
  e.codepoint = codepoint;
  return e;
}

void type(EngineSession& s, std::u32string_view text) {
  for (char32_t c : text) {
    s.handle_key_event(c == U' ' ? key_of(KeyKind::kSpace, ' ') : text_key(c));
  }
}

std::string u8(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

TEST(SessionTest, SpaceEnterAndTabWithNothingComposed) {
  EngineClient engine;
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_SPACE, ' ')), "raw= pre= commit=  status=2");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_SPACE, 0)), "raw= pre= commit= status=2");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_ENTER, '\r')), "raw= pre= commit=\n status=2");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_TAB, '\t')), "raw= pre= commit= status=2");
}

TEST(SessionTest, SpaceAndEnterCommitTheComposition) {
  EngineClient engine;
  engine.type(U"ami");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_SPACE, ' ')), "raw= pre= commit=আমি  status=2 preds=3");
  engine.type(U"tumi");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_ENTER, '\r')), "raw= pre= commit=তুমি\n status=2");
  engine.type(U"se");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_SPACE, 0)), "raw= pre= commit=সে status=2");
}

TEST(SessionTest, PassthroughCharactersCommitAtOnce) {
  const std::u32string passthrough = U"\"#%&'()*+/;<=>@[\\]_{|}";
  ASSERT_EQ(passthrough.size(), 22u);
  for (char32_t c = 0x20; c < 0x7F; ++c) {
    EXPECT_EQ(is_passthrough_char(c), passthrough.find(c) != std::u32string::npos)
        << static_cast<char>(c);
  }
  for (uint32_t mode : {0u, 1u, 2u}) {
    EngineClient engine;
    engine.set_mode(mode);
    for (char32_t c : passthrough) {
      // Probhat maps these to Bangla, so they compose instead.
      if (mode == 1 && std::u32string_view(U"/[\\]").find(c) != std::u32string_view::npos) {
        continue;
      }
      const auto state = engine.text(c);
      if (suggest::could_start_emoji(c)) {
        // It may begin an emoji shortcode: it waits in the buffer.
        EXPECT_EQ(state->raw_text, u8(std::u32string(1, c)))
            << "mode " << mode << " char " << static_cast<char>(c);
        engine.key(TOLVANI_KEY_ESCAPE, 0);
        continue;
      }
      EXPECT_EQ(show(state), "raw= pre= commit=" + u8(std::u32string(1, c)) + " status=2")
          << "mode " << mode << " char " << static_cast<char>(c);
    }
  }
}

TEST(SessionTest, OtherPunctuationJoinsTheComposition) {
  EngineClient engine;
  EXPECT_EQ(show(engine.type(U",.:-?!`^~1")), "raw=,.:-?!`^~1 pre=,।ঃ-?!ঁঁ১ commit= status=1");
}

TEST(SessionTest, PassthroughAfterLettersCommitsWithItAsSuffix) {
  EngineClient engine;
  engine.type(U"ab,");
  EXPECT_EQ(show(engine.text(';')), "raw= pre= commit=আব,; status=2");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_DOWN_ARROW, 0)), "raw= pre= commit= status=1");
}

TEST(SessionTest, CodePointsThatAreNotScalarsChangeNothing) {
  EngineClient engine;
  engine.type(U"ab");
  for (uint32_t cp : {0u, 0xD800u, 0xDBFFu, 0xDFFFu, 0x110000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(show(engine.key(TOLVANI_KEY_TEXT, cp)), "raw=ab pre=আব commit= status=0") << cp;
  }
}

TEST(SessionTest, RawBufferStopsTakingKeysAt4096Bytes) {
  EngineSession s;
  const std::string a4095(4095, 'a');
  for (size_t i = 0; i < 4095; ++i) s.handle_key_event(text_key('a'));
  EXPECT_EQ(s.raw_buffer(), a4095);
  // The last accepted key may carry the buffer past the cap by its own length.
  s.handle_key_event(text_key(U'\u0986'));
  EXPECT_EQ(s.raw_buffer().size(), 4098u);
  const CompositionState before = s.state_with_preview(s.display_preedit(), 0);
  for (char32_t c : {U'a', U'\u0986', U','}) {
    EXPECT_EQ(s.handle_key_event(text_key(c)), before);
  }
  EXPECT_EQ(s.raw_buffer().size(), 4098u);
  // A passthrough character still commits the full composition.
  const CompositionState committed = s.handle_key_event(text_key('#'));
  EXPECT_TRUE(committed.commit_text.ends_with("#"));
  EXPECT_EQ(committed.status_flags, kStatusCommitted);
  EXPECT_TRUE(s.raw_buffer().empty());
}

TEST(SessionTest, BackspaceInPhoneticModeRemovesOneTypedCharacter) {
  EngineClient engine;
  engine.type(U"kh");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_BACKSPACE, 0)), "raw=k pre=ক commit= status=1");
  engine.type(U"\u0986\u09BC");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_BACKSPACE, 0)), "raw=kআ pre=কআ commit= status=1");
  engine.key(TOLVANI_KEY_BACKSPACE, 0);
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_BACKSPACE, 0)), "raw= pre= commit= status=0");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_BACKSPACE, 0)), "raw= pre= commit= status=0");
}

TEST(SessionTest, FixedLayoutBackspaceRemovesWholeKeystrokeWithItsNukta) {
  for (uint32_t mode : {1u, 2u}) {
    EngineSession s;
    s.set_mode(mode);
    type(s, U"\u0995\u09A1\u09BC");  // ক, then ড with a nukta key of its own
    EXPECT_EQ(s.raw_buffer(), u8(U"\u0995\u09A1\u09BC"));
    s.handle_key_event(key_of(KeyKind::kBackspace));
    EXPECT_EQ(s.raw_buffer(), u8(U"\u0995")) << "mode " << mode;
    s.handle_key_event(key_of(KeyKind::kBackspace));
    EXPECT_EQ(s.raw_buffer(), "");
    // A nukta with no keystroke before it is a keystroke of its own.
    type(s, U"\u09BC\u0995");
    s.handle_key_event(key_of(KeyKind::kBackspace));
    EXPECT_EQ(s.raw_buffer(), u8(U"\u09BC"));
  }
}

TEST(SessionTest, DownArrowShowsTheListAndChangesNothing) {
  EngineSession s;
  type(s, U"ab");
  const CompositionState shown = s.handle_key_event(key_of(KeyKind::kDownArrow));
  EXPECT_EQ(shown.status_flags, kStatusShowCandidates);
  EXPECT_EQ(shown.raw_text, "ab");
  EXPECT_EQ(s.raw_buffer(), "ab");
}

TEST(SessionTest, EscapeCancels) {
  EngineClient engine;
  engine.type(U"ami");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_ESCAPE, 0)), "raw= pre= commit=ami status=4");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_ESCAPE, 0)), "raw= pre= commit= status=4");
  engine.config(5, TOLVANI_FLAG_BANGLA_DIGITS);  // English passthrough off
  engine.type(U"ami");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_ESCAPE, 0)), "raw= pre= commit= status=4");
  engine.config(5, testing::kDefaultFlags);
  engine.set_mode(1);
  engine.type(U"\u0995");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_ESCAPE, 0)), "raw= pre= commit= status=4");
}

TEST(SessionTest, CommitsMoveThePredictionContext) {
  EngineSession s;
  type(s, U"ami tumi ");
  EXPECT_EQ(s.previous_word(), "আমি");
  EXPECT_EQ(s.last_word(), "তুমি");
  // The suffix is part of the committed token.
  type(s, U"se#");
  EXPECT_EQ(s.last_word(), "সে#");
  EXPECT_EQ(s.previous_word(), "তুমি");
}

TEST(SessionTest, SetModeResetsAndEmptiesThePredictionContext) {
  struct Row {
    uint32_t mode;
    KeyboardMode expected;
  };
  for (const Row& row : {Row{0, KeyboardMode::kPhonetic}, Row{1, KeyboardMode::kProbhat},
                         Row{2, KeyboardMode::kNational}, Row{3, KeyboardMode::kUnijoy},
                         Row{4, KeyboardMode::kPhonetic}, Row{7, KeyboardMode::kPhonetic},
                         Row{0xFFFFFFFF, KeyboardMode::kPhonetic}}) {
    EngineSession s;
    type(s, U"ami tumi ab");
    ASSERT_EQ(s.last_word(), "তুমি");
    s.set_mode(row.mode);
    EXPECT_EQ(s.mode(), row.expected) << row.mode;
    EXPECT_EQ(s.raw_buffer(), "") << row.mode;
    EXPECT_EQ(s.last_word(), "") << row.mode;
    EXPECT_EQ(s.previous_word(), "") << row.mode;
  }
}

TEST(SessionTest, UpdateConfigClampsAndSetsEverySwitch) {
  EngineSession s;
  EXPECT_EQ(s.config().suggestion_count, 5u);
  EXPECT_TRUE(s.config().bangla_digits);
  EXPECT_TRUE(s.config().english_passthrough);
  EXPECT_FALSE(s.config().autocorrect);

  for (const auto& [given, stored] : std::vector<std::pair<uint32_t, uint32_t>>{
           {0, 1}, {1, 1}, {3, 3}, {14, 14}, {15, 15}, {16, 15}, {99, 15}, {0xFFFFFFFF, 15}}) {
    s.update_config(given, 0);
    EXPECT_EQ(s.config().suggestion_count, stored) << given;
  }

  s.update_config(0, 0);
  EXPECT_FALSE(s.config().autocorrect);
  EXPECT_FALSE(s.config().bangla_digits);
  EXPECT_FALSE(s.config().english_passthrough);
  EXPECT_TRUE(s.config().suggestions_enabled);
  EXPECT_TRUE(s.config().learning_enabled);
  EXPECT_FALSE(s.config().prefer_modern_spellings);
  EXPECT_FALSE(s.config().offer_spoken_standard);

  s.update_config(5, 0x7F | 0xFFFFFF80);  // bits 7 to 31 are ignored
  EXPECT_TRUE(s.config().autocorrect);
  EXPECT_TRUE(s.config().bangla_digits);
  EXPECT_TRUE(s.config().english_passthrough);
  EXPECT_FALSE(s.config().suggestions_enabled);
  EXPECT_FALSE(s.config().learning_enabled);
  EXPECT_TRUE(s.config().prefer_modern_spellings);
  EXPECT_TRUE(s.config().offer_spoken_standard);
}

TEST(SessionTest, NonblockingCachesOnlyForTheExactValueOne) {
  struct Row {
    const char* value;  // null: unset
    bool blocking;
  };
  const Row rows[] = {{nullptr, true}, {"1", false}, {"", true},     {"0", true},   {"1 ", true},
                      {" 1", true},    {"11", true}, {"true", true}, {"\xFF", true}};
  for (const Row& row : rows) {
    if (row.value) {
      setenv("TOLVANI_NONBLOCKING_CACHES", row.value, 1);
    } else {
      unsetenv("TOLVANI_NONBLOCKING_CACHES");
    }
    EngineSession s;
    EXPECT_EQ(s.blocking_caches(), row.blocking) << (row.value ? row.value : "<unset>");
  }
  unsetenv("TOLVANI_NONBLOCKING_CACHES");
}

// Emoji shortcodes, with a small table in place of the shipped one.
class EmojiShortcodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    suggest::test_set_autocorrect_rows(std::map<std::string, std::string, std::less<>>{
        {"(y)", "\U0001F44D"},
        {"(bear)", "\U0001F43B"},
        {"<3", "\u2764\uFE0F"},
        {":)", "\U0001F60A"},
        {"ab#cd", "x"},
        {"bangladseh", "\u09AC\u09BE\u0982\u09B2\u09BE\u09A6\u09C7\u09B6"}});
  }
  void TearDown() override { suggest::test_set_autocorrect_rows(std::nullopt); }
};

TEST_F(EmojiShortcodeTest, PrefixSetHoldsProperPrefixesOfPunctuationInputs) {
  EXPECT_TRUE(suggest::could_start_emoji('('));
  EXPECT_TRUE(suggest::could_start_emoji(':'));
  EXPECT_TRUE(suggest::could_start_emoji('<'));
  EXPECT_FALSE(suggest::could_start_emoji('a'));
  EXPECT_FALSE(suggest::could_start_emoji(')'));
  EXPECT_TRUE(suggest::could_be_emoji_prefix("(bea"));
  EXPECT_FALSE(suggest::could_be_emoji_prefix("(bear)"));
  EXPECT_TRUE(suggest::could_be_emoji_prefix("bangl"));
  EXPECT_FALSE(suggest::could_be_emoji_prefix("bangladseh"));
}

TEST_F(EmojiShortcodeTest, ShortcodeCommitsItsEmojiInEveryMode) {
  for (uint32_t mode : {0u, 1u, 2u}) {
    EngineClient engine;
    engine.set_mode(mode);
    // Phonetic typing reads the buffer; the layouts show it as it stands.
    EXPECT_EQ(show(engine.type(U"(y")),
              mode == 0 ? "raw=(y pre=(ইয় commit= status=1" : "raw=(y pre=(y commit= status=0")
        << mode;
    EXPECT_EQ(show(engine.text(')')), "raw= pre= commit=\U0001F44D status=2") << mode;
    engine.type(U"<");
    EXPECT_EQ(show(engine.text('3')), "raw= pre= commit=\u2764\uFE0F status=2") << mode;
    engine.type(U":");
    EXPECT_EQ(show(engine.text(')')), "raw= pre= commit=\U0001F60A status=2") << mode;
  }
}

TEST_F(EmojiShortcodeTest, AbandonedShortcodeIsTypedAfterAll) {
  EngineSession s;
  s.set_mode(1);
  type(s, U"(b");
  EXPECT_EQ(s.raw_buffer(), "(b");
  s.handle_key_event(text_key('x'));
  // Re-fed through the layout: one keystroke each, so backspace removes one at a time.
  EXPECT_EQ(s.raw_buffer(), u8(U"(\u09AC\u09B6"));
  s.handle_key_event(key_of(KeyKind::kBackspace));
  EXPECT_EQ(s.raw_buffer(), u8(U"(\u09AC"));

  EngineClient engine;
  engine.type(U"(");
  EXPECT_EQ(show(engine.text('z')), "raw=(z pre=(য commit= status=1");
}

TEST_F(EmojiShortcodeTest, PassthroughInsideAWordThatAnInputContinues) {
  EngineClient engine;
  engine.type(U"ab");
  EXPECT_EQ(show(engine.text('#')), "raw=ab# pre=আব# commit= status=1");
  engine.type(U"c");
  EXPECT_EQ(show(engine.text('d')), "raw=ab#cd pre=আব#চদ commit= status=1");
  // One that continues no input ends the composition with it as the suffix.
  EngineClient other;
  other.type(U"ab");
  EXPECT_EQ(show(other.text('(')), "raw= pre= commit=আব( status=2");
}

TEST(RenderTest, WordSpans) {
  using Spans = std::vector<std::pair<size_t, size_t>>;
  struct Row {
    const char* text;
    Spans spans;
  };
  const Row rows[] = {
      {"", {}},
      {"123", {}},
      {"ami", {{0, 3}}},
      {"ami tumi", {{0, 3}, {4, 8}}},
      {"ami, ", {{0, 3}}},
      {"ka,,i", {{0, 5}}},
      {"ka,i", {{0, 2}, {3, 4}}},
      {"ka:i ka^i ka~i", {{0, 4}, {5, 9}, {10, 14}}},
      {":ka", {{1, 3}}},
      {"`ka", {{0, 3}}},
      {"a.`ka", {{0, 1}, {3, 5}}},
      {"a `ka", {{0, 1}, {2, 5}}},
      {"ka`i", {{0, 4}}},
      {"12ta", {{2, 4}}},
      {"ka^", {{0, 2}}},
  };
  for (const Row& row : rows) EXPECT_EQ(word_spans(row.text), row.spans) << row.text;
}

TEST(RenderTest, DigitRunStart) {
  EXPECT_EQ(digit_run_start("12ta", 2), 0u);
  EXPECT_EQ(digit_run_start("a12ta", 3), 1u);
  EXPECT_EQ(digit_run_start("ta", 0), 0u);
  EXPECT_EQ(digit_run_start("ab", 2), 2u);
}

}  // namespace
}  // namespace tolvani::engine
