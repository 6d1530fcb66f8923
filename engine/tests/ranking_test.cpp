// Candidate ranking over the small test lexicon.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine_client.h"
#include "session.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {
namespace {

using testing::EngineClient;

std::string texts(const std::vector<EngineCandidate>& list) {
  std::string out;
  for (const auto& c : list) out += c.text + "/" + std::to_string(c.score) + " ";
  return out;
}

TEST(RankingTest, FixedEntriesForAPhoneticBuffer) {
  EngineClient engine;
  // The preedit, then the typed Latin word.
  auto state = engine.type(U"ki");
  ASSERT_GE(state->candidates.size(), 2u);
  EXPECT_EQ(state->candidates[0].text, "\u0995\u09BF");
  EXPECT_EQ(state->candidates[0].score, 10000);
  EXPECT_EQ(state->candidates[0].kind, TOLVANI_KIND_EXACT);
  EXPECT_EQ(state->candidates[1].text, "ki");
  EXPECT_EQ(state->candidates[1].score, 9000);
  EXPECT_EQ(state->status_flags, TOLVANI_STATUS_SHOW_CANDIDATES);

  // A reading that differs from the rendering: the rendering follows the preedit with 9500.
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  state = engine.type(U"dal");
  EXPECT_EQ(texts(state->candidates), "\u09A1\u09BE\u09B2/10000 dal/9000 \u09A6\u09BE\u09B2/9500 ");

  // An abbreviation is offered as typed, first; mixed case is offered lowered.
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  state = engine.type(U"USA");
  EXPECT_EQ(state->candidates[0].text, "USA");
  EXPECT_EQ(state->candidates[0].score, 9000);
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  state = engine.type(U"Dal");
  EXPECT_EQ(state->candidates[1].text, "dal");
}

TEST(RankingTest, NegationSplitJoinsTheFixedEntries) {
  EngineClient engine;
  // The spaced form is already the preedit (the reading of the whole word); the joined form
  // takes third place, behind the typed word.
  const auto state = engine.type(U"korbona");
  ASSERT_GE(state->candidates.size(), 4u);
  EXPECT_EQ(texts({state->candidates.begin(), state->candidates.begin() + 4}),
            "\u0995\u09B0\u09AC\u09CB \u09A8\u09BE/10000 korbona/9000 "
            "\u0995\u09B0\u09AC\u09CB\u09A8\u09BE/6990 "
            "\u0995\u09B0\u09CD\u09AC\u09A8\u09BE/9500 ");
}

TEST(RankingTest, EmptyBufferSuggestionsOffAndLongBuffers) {
  EngineClient engine;
  // Nothing typed: no list, no show flag.
  auto state = engine.config(5, testing::kDefaultFlags);
  EXPECT_TRUE(state->candidates.empty());
  EXPECT_EQ(state->status_flags, 0u);

  // Suggestions off: no list, but a known word still shows (the panel offers nothing to pick).
  engine.config(5, testing::kDefaultFlags | TOLVANI_FLAG_SUGGESTIONS_DISABLED);
  state = engine.type(U"ki");
  EXPECT_TRUE(state->candidates.empty());
  EXPECT_EQ(state->status_flags, TOLVANI_STATUS_SHOW_CANDIDATES);
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  state = engine.type(U"qx");
  EXPECT_EQ(state->status_flags, 0u);
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  engine.config(5, testing::kDefaultFlags);

  // A buffer of 21 letters gets its fixed entries only.
  state = engine.type(U"kikikikikikikikikikik");
  ASSERT_EQ(state->raw_text.size(), 21u);
  ASSERT_EQ(state->candidates.size(), 2u) << texts(state->candidates);
  EXPECT_EQ(state->candidates[1].text, "kikikikikikikikikikik");

  // The list never holds more than the suggestion count.
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  engine.config(1, testing::kDefaultFlags);
  state = engine.type(U"dal");
  EXPECT_EQ(state->candidates.size(), 1u);
}

TEST(RankingTest, KnownStemFormsInTheLayouts) {
  struct Row {
    std::u32string typed;
    std::string form;
  };
  // Long suffixes, so that no lexicon word is near enough to be offered instead.
  const Row rows[] = {{U"রংগুলোতে", "রঙগুলোতে"}, {U"জগৎসমূহের", "জগতসমূহের"}};
  for (const Row& row : rows) {
    EngineClient engine;
    engine.set_mode(1);
    const auto state = engine.type(row.typed);
    ASSERT_EQ(state->candidates.size(), 1u) << row.form << ": " << texts(state->candidates);
    EXPECT_EQ(state->candidates[0].text, row.form);
    EXPECT_EQ(state->candidates[0].score, 1800);
    EXPECT_EQ(state->candidates[0].kind, TOLVANI_KIND_EXACT);
  }
}

TEST(RankingTest, NearMissesAndStemForms) {
  EngineSession s;
  s.set_mode(2);
  for (char32_t c : std::u32string_view(U"বাংল")) {
    KeyEvent e;
    e.codepoint = c;
    s.handle_key_event(e);
  }
  // The nearest words, each once, best first: frequency - 100 x distance + 500.
  const std::vector<Candidate> near = s.near_misses();
  ASSERT_FALSE(near.empty());
  EXPECT_EQ(near[0].text, "বাংলা");
  EXPECT_EQ(near[0].score, 4000 - 100 + 500);
  EXPECT_EQ(near[0].kind, CandidateKind::kPrefix);
  EXPECT_LE(near.size(), 5u);
  for (size_t i = 1; i < near.size(); ++i) {
    EXPECT_LE(near[i].score, near[i - 1].score);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(near[i].text, near[j].text);
  }
  // "বাংল" has no known stem with a suffix.
  EXPECT_TRUE(s.known_stem_forms().empty());

  // Stems: the anusvara before a consonant becomes ঙ, the khanda ta becomes ত.
  s.reset();
  for (char32_t c : std::u32string_view(U"রংটা")) {
    KeyEvent e;
    e.codepoint = c;
    s.handle_key_event(e);
  }
  const std::vector<Candidate> forms = s.known_stem_forms();
  ASSERT_FALSE(forms.empty());
  EXPECT_EQ(forms[0].text, "রঙটা");
  EXPECT_EQ(forms[0].score, 1800);
}

TEST(RankingTest, ContextBonusValues) {
  struct Row {
    uint64_t n;
    float scale;
    int32_t cap;
    int32_t bonus;
  };
  // Learned pairs, seed pairs and learned triples.
  const Row rows[] = {{1, 150, 800, 150},   {2, 150, 800, 150},   {3, 150, 800, 164},
                      {300, 150, 800, 800}, {1, 200, 600, 200},   {7, 200, 600, 389},
                      {1, 300, 1000, 300},  {20, 300, 1000, 898}, {UINT64_MAX, 300, 1000, 1000}};
  for (const Row& row : rows) {
    EXPECT_EQ(context_bonus(row.n, row.scale, row.cap), row.bonus) << row.n << " x " << row.scale;
  }
}

TEST(RankingColdTest, NonBlockingBeforeTheTablesAreBuilt) {
  setenv("TOLVANI_NONBLOCKING_CACHES", "1", 1);
  EngineClient engine;
  const auto state = engine.type(U"dal");
  unsetenv("TOLVANI_NONBLOCKING_CACHES");
  // The fixed entries only: the reading, the typed word and the rendering.
  EXPECT_EQ(texts(state->candidates), "\u09A1\u09BE\u09B2/10000 dal/9000 \u09A6\u09BE\u09B2/9500 ");
}

}  // namespace
}  // namespace tolvani::engine
