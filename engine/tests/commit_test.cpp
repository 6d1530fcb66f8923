// Commits, selection and cancellation through the C interface, over the small test lexicon.
#include <gtest/gtest.h>

#include <string>

#include "engine_client.h"
#include "session.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {
namespace {

using testing::EngineClient;

// Types `text` (spaces as text keys, so that it stays one buffer) and commits it with `key`.
std::optional<EngineState> type_and_commit(EngineClient& engine, std::u32string_view text,
                                           uint32_t key = TOLVANI_KEY_SPACE,
                                           uint32_t codepoint = ' ') {
  for (char32_t c : text) engine.text(c);
  return engine.key(key, codepoint);
}

struct Row {
  const char* name;
  std::u32string typed;
  std::string commit;
  uint32_t status;
};

TEST(CommitTest, StatusValuesAndReadings) {
  const Row rows[] = {
      // The rendered text, as it is.
      {"plain word", U"ki", "\u0995\u09BF ", 2},
      // A key whose best word differs from its rendering commits the best word.
      {"dictionary reading", U"dal", "\u09A1\u09BE\u09B2 ", 2 | 16},
      // After digits only a particle is taken: "12টা".
      {"particle after digits", U"12ta", "\u09E7\u09E8\u099F\u09BE ", 2 | 16},
      // A negated verb typed as one word, with না or নি.
      {"negation split", U"korbona", "\u0995\u09B0\u09AC\u09CB \u09A8\u09BE ", 2 | 16},
      {"negation split with ni", U"korboni", "\u0995\u09B0\u09AC\u09CB \u09A8\u09BF ", 2 | 16},
      // Digits before a word make it Bangla, even a word that reads as English on its own.
      {"digits before an English word", U"12is", "\u09E7\u09E8\u0987\u09B8 ", 2},
      // English words go out as typed.
      {"two English words", U"this is", "this is ", 2},
      {"an abbreviation", U"USA", "USA ", 2},
      // "is" is a key, but one of the words that still read as English on their own.
      {"english word that is also a key", U"is", "is ", 2},
      // "am" is a key and nothing before it was English: read as Bangla.
      {"key without English context", U"am", "\u0986\u09AE ", 2},
      // Nothing composed: a lone space.
      {"empty composition", U"", " ", 2},
  };
  for (const Row& row : rows) {
    EngineClient engine;
    const auto state = type_and_commit(engine, row.typed);
    ASSERT_TRUE(state) << row.name;
    EXPECT_EQ(state->commit_text, row.commit) << row.name;
    EXPECT_EQ(state->status_flags, row.status) << row.name;
    EXPECT_EQ(state->raw_text, "") << row.name;
    EXPECT_EQ(state->preedit, "") << row.name;
  }
}

// With autocorrection on, a rendering that is no word is committed as the candidate that differs
// from it only cosmetically (here a final ো); with it off, as typed.
TEST(CommitTest, AutocorrectionOnCommit) {
  tolvani_engine_warm_caches();  // a session answers from built tables only
  for (const bool on : {true, false}) {
    EngineClient engine;
    engine.config(5, testing::kDefaultFlags | (on ? TOLVANI_FLAG_AUTOCORRECT : 0));
    const auto state = type_and_commit(engine, U"korb");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->commit_text, on ? "\u0995\u09B0\u09AC\u09CB " : "\u0995\u09B0\u09CD\u09AC ");
    EXPECT_EQ(state->status_flags, on ? 2u | TOLVANI_STATUS_AUTOCORRECTED : 2u);
  }
}

TEST(CommitTest, EnglishNeedsPassthroughAndContext) {
  EngineClient off;
  off.config(5, TOLVANI_FLAG_BANGLA_DIGITS);  // English passthrough off
  EXPECT_NE(type_and_commit(off, U"this is")->commit_text, "this is ");

  // After an English word, a key that is also English stays English.
  EngineClient engine;
  EXPECT_EQ(type_and_commit(engine, U"this")->commit_text, "this ");
  EXPECT_EQ(type_and_commit(engine, U"am")->commit_text, "am ");

  // The preedit shows what a space would commit.
  EngineClient preview;
  for (char32_t c : std::u32string_view(U"this is")) preview.text(c);
  EXPECT_EQ(preview.key(TOLVANI_KEY_DOWN_ARROW, 0)->preedit, "this is");
}

TEST(CommitTest, ParticlesAfterDigitsOnly) {
  // A reading after digits that is not a particle is dropped while the rendering is a word.
  EngineClient engine;
  const auto state = type_and_commit(engine, U"12dal");
  EXPECT_EQ(state->commit_text, "\u09E7\u09E8\u09A6\u09BE\u09B2 ");
  EXPECT_EQ(state->status_flags, 2u);
}

// Escape is SessionTest.EscapeCancels.
TEST(CommitTest, EnterAndTab) {
  EngineClient engine;
  auto state = type_and_commit(engine, U"ki", TOLVANI_KEY_ENTER, '\r');
  EXPECT_EQ(state->commit_text, "\u0995\u09BF\n");
  EXPECT_EQ(state->status_flags, 2u);
  EXPECT_TRUE(state->predictions.empty());
  EXPECT_TRUE(state->spelling_offer.empty());

  // Tab with no candidates (suggestions off) commits the composition without a suffix.
  engine.config(5, testing::kDefaultFlags | TOLVANI_FLAG_SUGGESTIONS_DISABLED);
  state = type_and_commit(engine, U"ki", TOLVANI_KEY_TAB, '\t');
  EXPECT_EQ(state->commit_text, "\u0995\u09BF");
  EXPECT_EQ(state->status_flags, 2u);
}

TEST(CommitTest, SelectionByIndexAndByMatchingText) {
  EngineClient engine;
  // "ki" lists its reading first and the typed Latin word second.
  auto state = engine.type(U"ki");
  ASSERT_GE(state->candidates.size(), 2u);
  EXPECT_EQ(state->candidates[0].text, "\u0995\u09BF");
  EXPECT_EQ(state->candidates[1].text, "ki");

  // A raw text that is not the buffer, or a text no candidate has: nothing happens.
  EXPECT_EQ(testing::show(testing::take(tolvani_engine_select_matching(engine.get(), "kx", "ki"))),
            "raw=ki pre=\u0995\u09BF commit= status=0");
  EXPECT_EQ(testing::show(testing::take(tolvani_engine_select_matching(engine.get(), "ki", "zz"))),
            "raw=ki pre=\u0995\u09BF commit= status=0");
  EXPECT_EQ(testing::show(testing::take(tolvani_engine_select_matching(engine.get(), "", ""))),
            "raw=ki pre=\u0995\u09BF commit= status=0");

  // Matching text selects that candidate, with status 2, and ends the composition.
  state = testing::take(tolvani_engine_select_matching(engine.get(), "ki", "ki"));
  EXPECT_EQ(testing::show(state), "raw= pre= commit=ki status=2");
  EXPECT_TRUE(state->candidates.empty());

  // By index, through the session: out of range changes nothing; index 0 commits the reading.
  EngineSession s;
  for (char32_t c : std::u32string_view(U"ki")) {
    KeyEvent e;
    e.codepoint = c;
    s.handle_key_event(e);
  }
  EXPECT_EQ(s.select_candidate_with_intent(9, true).status_flags, 0u);
  EXPECT_EQ(s.raw_buffer(), "ki");
  const CompositionState chosen = s.select_candidate_with_intent(0, false);
  EXPECT_EQ(chosen.commit_text, "\u0995\u09BF");
  EXPECT_EQ(chosen.status_flags, 2u);
  EXPECT_EQ(s.raw_buffer(), "");
  EXPECT_EQ(s.last_word(), "\u0995\u09BF");

  // Tab takes the first candidate, without a suffix.
  EngineClient tab;
  tab.type(U"ki");
  const auto tabbed = tab.key(TOLVANI_KEY_TAB, '\t');
  EXPECT_EQ(tabbed->commit_text, "\u0995\u09BF");
  EXPECT_EQ(tabbed->status_flags, 2u);
}

TEST(CommitTest, CommitsMoveTheContextAndLearningOffEmptiesIt) {
  EngineSession s;
  auto type = [&](std::u32string_view text) {
    for (char32_t c : text) {
      KeyEvent e;
      e.kind = c == U' ' ? KeyKind::kSpace : KeyKind::kText;
      e.codepoint = c;
      s.handle_key_event(e);
    }
  };
  type(U"ki dal ");
  EXPECT_EQ(s.previous_word(), "\u0995\u09BF");
  EXPECT_EQ(s.last_word(), "\u09A1\u09BE\u09B2");
  // An external commit is learned like a typed one.
  s.note_external_commit("  \u0986\u09AE ");
  EXPECT_EQ(s.last_word(), "\u0986\u09AE");
  s.update_config(5, TOLVANI_FLAG_LEARNING_DISABLED | TOLVANI_FLAG_BANGLA_DIGITS);
  EXPECT_EQ(s.last_word(), "");
  type(U"ki ");
  EXPECT_EQ(s.last_word(), "");
  EXPECT_EQ(s.previous_word(), "");
}

}  // namespace
}  // namespace tolvani::engine
