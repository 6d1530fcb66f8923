// Next-word predictions and spelling offers as a host sees them: the records the C interface hands
// out after commits, seeding, selection and acceptance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bigram.h"
#include "engine_client.h"
#include "tolvani_engine.h"

namespace tolvani::engine {
namespace {

using testing::EngineClient;
using testing::kDefaultFlags;
using testing::take;

constexpr uint8_t kKindExact = 0;
constexpr uint8_t kKindStandard = 6;

// Sessions created while one of these lives learn into an empty folder of their own, so that what
// one table row learned (and perhaps saved in the background) never reaches the next.
class ScopedDataDir {
 public:
  ScopedDataDir() {
    const char* base = std::getenv("TOLVANI_DATA_DIR");
    previous_ = base == nullptr ? "" : base;
    std::string pattern =
        (previous_.empty() ? std::filesystem::temp_directory_path() : previous_).string() +
        "/row-XXXXXX";
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    path_ = pattern;
    setenv("TOLVANI_DATA_DIR", path_.c_str(), 1);
  }
  ~ScopedDataDir() {
    if (previous_.empty()) {
      unsetenv("TOLVANI_DATA_DIR");
    } else {
      setenv("TOLVANI_DATA_DIR", previous_.c_str(), 1);
    }
  }
  ScopedDataDir(const ScopedDataDir&) = delete;
  ScopedDataDir& operator=(const ScopedDataDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// What the post-commit panel shows, in one line.
std::string panel(const std::optional<EngineState>& s) {
  if (!s) return "<null>";
  std::string out = "commit=" + s->commit_text + " preds=[";
  for (size_t i = 0; i < s->predictions.size(); ++i) {
    if (i > 0) out += ' ';
    out += s->predictions[i];
  }
  out += "] ghost=" + s->ghost_text;
  if (!s->spelling_offer.empty() || !s->spelling_offer_for.empty()) {
    out += " offer=" + s->spelling_offer + " for=" + s->spelling_offer_for;
  }
  out += " status=" + std::to_string(s->status_flags);
  if (!s->preedit.empty() || !s->raw_text.empty() || !s->candidates.empty()) {
    out += " (still composing: " + s->raw_text + ")";
  }
  return out;
}

// The pending offer a record reports: "standard for word", or "" for none.
std::string offer_of(const std::optional<EngineState>& s) {
  if (!s || (s->spelling_offer.empty() && s->spelling_offer_for.empty())) return "";
  return s->spelling_offer + " for " + s->spelling_offer_for;
}

std::string candidate_list(const std::optional<EngineState>& s) {
  if (!s) return "<null>";
  std::string out;
  for (const EngineCandidate& c : s->candidates) {
    if (!out.empty()) out += ' ';
    out += c.text + "/" + std::to_string(c.kind);
  }
  return out;
}

std::optional<EngineState> seed(EngineClient& e, const char* text) {
  return take(tolvani_engine_seed_prediction_context(e.get(), text));
}
std::optional<EngineState> note(EngineClient& e, const char* word) {
  return take(tolvani_engine_note_committed_word(e.get(), word));
}
std::optional<EngineState> accept(EngineClient& e) {
  return take(tolvani_engine_accept_spelling_offer(e.get()));
}
std::optional<EngineState> select(EngineClient& e, const char* raw, const char* text) {
  return take(tolvani_engine_select_matching(e.get(), raw, text));
}

TEST(PredictionsTest, CommittedWordIsFollowedByItsCuratedFollowups) {
  struct Row {
    std::u32string typed;
    std::string panel;
  };
  const Row rows[] = {
      {U"kemon ", "commit=কেমন  preds=[আছেন আছো আছিস] ghost=আছেন status=2"},
      {U"ami ", "commit=আমি  preds=[ভালো তোমাকে আসছি] ghost=ভালো status=2"},
      {U"bhalo ", "commit=ভালো  preds=[আছি লাগছে থেকো] ghost=আছি status=2"},
  };
  for (const Row& row : rows) {
    ScopedDataDir dir;
    EngineClient engine;
    const std::optional<EngineState> committed = engine.type(row.typed);
    EXPECT_EQ(panel(committed), row.panel) << row.panel;
    // A space with nothing composed moves no context: the same follow-ups again.
    const std::optional<EngineState> again = engine.key(TOLVANI_KEY_SPACE, ' ');
    ASSERT_TRUE(again && committed);
    EXPECT_EQ(again->commit_text, " ") << row.panel;
    EXPECT_EQ(again->predictions, committed->predictions) << row.panel;
  }
  // A key with a single curated follow-up still gives at most three, that one first.
  EngineClient engine;
  const std::optional<EngineState> s = seed(engine, "আসসালামু");
  ASSERT_TRUE(s);
  ASSERT_FALSE(s->predictions.empty());
  EXPECT_LE(s->predictions.size(), 3u);
  EXPECT_EQ(s->predictions.front(), "আলাইকুম");
  EXPECT_EQ(s->ghost_text, "আলাইকুম");
}

TEST(PredictionsTest, LearnedTriplesComeBeforePairsBeforeBuiltInFollowups) {
  {
    ScopedDataDir dir;
    EngineClient engine;
    // (তুমি, কেমন) → লাগছে once, as a triple and so also as a pair.
    note(engine, "তুমি");
    note(engine, "কেমন");
    note(engine, "লাগছে");
    // (তুমি, কেমন) → কেমন twice: a triple may repeat its word, a pair never does.
    for (int i = 0; i < 2; ++i) {
      seed(engine, "");
      note(engine, "তুমি");
      note(engine, "কেমন");
      note(engine, "কেমন");
    }
    // (কেমন, ভালো) twice, as a pair only.
    for (int i = 0; i < 2; ++i) {
      seed(engine, "কেমন");
      note(engine, "ভালো");
    }
    // The triple wins over the more frequent pair, the word itself is never predicted, and
    // লাগছে comes once, at the place of its triple.
    seed(engine, "");
    note(engine, "তুমি");
    EXPECT_EQ(panel(note(engine, "কেমন")), "commit= preds=[লাগছে ভালো আছেন] ghost=লাগছে status=0");
    // Seeding forgets the previous word, so only pairs (by frequency) and built-ins remain.
    EXPECT_EQ(panel(seed(engine, "কেমন")), "commit= preds=[ভালো লাগছে আছেন] ghost=ভালো status=0");
    // The same holds for a typed commit.
    seed(engine, "");
    engine.type(U"tumi ");
    EXPECT_EQ(panel(engine.type(U"kemon ")),
              "commit=কেমন  preds=[লাগছে ভালো আছেন] ghost=লাগছে status=2");
  }
  {
    ScopedDataDir dir;
    EngineClient engine;
    // A learned pair that is also a built-in follow-up moves to the front and is not repeated.
    seed(engine, "কেমন");
    note(engine, "আছিস");
    EXPECT_EQ(panel(seed(engine, "কেমন")), "commit= preds=[আছিস আছেন আছো] ghost=আছিস status=0");
  }
}

TEST(PredictionsTest, SeedingTakesTheTrimmedTextAsTheLastWord) {
  EngineClient engine;
  const std::string kemon = "commit= preds=[আছেন আছো আছিস] ghost=আছেন status=0";
  struct Row {
    const char* text;  // null: absent
    std::string panel;
  };
  const Row rows[] = {
      {"কেমন", kemon},
      {"  \tকেমন \n", kemon},
      {"\u3000কেমন\u00A0", kemon},
      // As after a commit, the last word of a phrase is the context.
      {"আমি কেমন", kemon},
      {"", "commit= preds=[] ghost= status=0"},
      {"   ", "commit= preds=[] ghost= status=0"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(panel(seed(engine, row.text)), row.panel) << "[" << row.text << "]";
  }
  // An absent text (null or not UTF-8) leaves the context as it was.
  seed(engine, "কেমন");
  EXPECT_EQ(panel(seed(engine, nullptr)), kemon);
  EXPECT_EQ(panel(seed(engine, "\xFF\xFE")), kemon);
  // Learning off: seeding leaves the context empty, and so do commits.
  engine.config(5, kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED);
  EXPECT_EQ(panel(seed(engine, "কেমন")), "commit= preds=[] ghost= status=0");
  EXPECT_EQ(panel(engine.type(U"kemon ")), "commit=কেমন  preds=[] ghost= status=2");
  EXPECT_EQ(panel(note(engine, "কেমন")), "commit= preds=[] ghost= status=0");
  engine.config(5, kDefaultFlags);
  EXPECT_EQ(panel(seed(engine, " কেমন ")), kemon);
}

// A long text before the cursor, or a long text the host inserted, leaves only its last words
// as context: predictions follow the last word, and what is learned is keyed by words.
TEST(PredictionsTest, LongSeededOrNotedTextKeepsOnlyItsLastWords) {
  ScopedDataDir dir;
  std::string text;
  while (text.size() < 1'000'000) text += "খুব ভালো ";
  EngineClient engine;
  EXPECT_EQ(panel(seed(engine, (text + "কেমন").c_str())),
            "commit= preds=[আছেন আছো আছিস] ghost=আছেন status=0");
  engine.type(U"acho ");
  EXPECT_EQ(panel(note(engine, (text + "আমি তোমাকে").c_str())).substr(0, 15), "commit= preds=[");
  // A word longer than any typed one is no context.
  EXPECT_EQ(panel(seed(engine, std::string(5000, 'a').c_str())),
            "commit= preds=[] ghost= status=0");
  ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine.get())));
  std::ifstream in(dir.path() / "user-bigrams.json");
  const nlohmann::json bigrams = nlohmann::json::parse(in);
  EXPECT_LT(bigrams.dump().size(), 1000u);
  std::string pairs;
  for (const auto& [first, followers] : bigrams["pairs"].items()) {
    for (const auto& [second, entry] : followers.items()) pairs += first + ">" + second + " ";
  }
  EXPECT_EQ(pairs, "আমি>তোমাকে কেমন>আছো ");
}

// Run as its own process (as ctest does) so that nothing has built the follow-up table yet.
TEST(PredictionsTest, NonBlockingSessionPredictsFromLearnedPairsUntilWarmed) {
  if (bigram::bigram_ranked(false) != nullptr) {
    GTEST_SKIP() << "the follow-up table is already built in this process";
  }
  setenv("TOLVANI_NONBLOCKING_CACHES", "1", 1);
  EngineClient engine;
  unsetenv("TOLVANI_NONBLOCKING_CACHES");

  EXPECT_EQ(panel(engine.type(U"kemon ")), "commit=কেমন  preds=[] ghost= status=2");
  EXPECT_EQ(panel(seed(engine, "কেমন")), "commit= preds=[] ghost= status=0");
  // A learned pair is predicted although the built-in table is not there.
  EXPECT_EQ(panel(engine.type(U"bhalo ")), "commit=ভালো  preds=[] ghost= status=2");
  EXPECT_EQ(panel(seed(engine, "কেমন")), "commit= preds=[ভালো] ghost=ভালো status=0");
  EXPECT_EQ(bigram::bigram_ranked(false), nullptr) << "predicting must not build the table";

  tolvani_engine_warm_caches();
  EXPECT_EQ(panel(seed(engine, "কেমন")), "commit= preds=[ভালো আছেন আছো] ghost=ভালো status=0");
  EXPECT_EQ(panel(engine.type(U"ami ")),
            "commit=আমি  preds=[ভালো তোমাকে আসছি] ghost=ভালো status=2");
}

TEST(PredictionsTest, WhichCommitsCarryPredictionsAndOffers) {
  constexpr uint32_t kSpace = TOLVANI_KEY_SPACE;
  struct Row {
    std::u32string typed;
    uint32_t kind;
    uint32_t codepoint;
    std::string panel;
    std::string then_space;  // predictions a plain space gives next ("": not checked)
  };
  const Row rows[] = {
      {U"kemon", kSpace, ' ', "commit=কেমন  preds=[আছেন আছো আছিস] ghost=আছেন status=2",
       "[আছেন আছো আছিস]"},
      // A space key without a codepoint inserts nothing and predicts nothing, yet moves on.
      {U"kemon", kSpace, 0, "commit=কেমন preds=[] ghost= status=2", "[আছেন আছো আছিস]"},
      {U"kemon", TOLVANI_KEY_ENTER, '\n', "commit=কেমন\n preds=[] ghost= status=2",
       "[আছেন আছো আছিস]"},
      // Punctuation ends the word and stays part of it, so nothing follows it.
      {U"kemon", TOLVANI_KEY_TEXT, '"', "commit=কেমন\" preds=[] ghost= status=2", "[]"},
      // Tab picks the top candidate, and a selection reports the predictions.
      {U"kemon", TOLVANI_KEY_TAB, 0, "commit=কেমন preds=[আছেন আছো আছিস] ghost=আছেন status=2",
       "[আছেন আছো আছিস]"},
      {U"beshee", TOLVANI_KEY_ENTER, '\n', "commit=বেশী\n preds=[] ghost= status=2", ""},
      {U"beshee", TOLVANI_KEY_TEXT, '"', "commit=বেশী\" preds=[] ghost= status=2", ""},
      {U"beshee", kSpace, 0, "commit=বেশী preds=[] ghost= offer=বেশি for=বেশী status=2", ""},
  };
  for (const Row& row : rows) {
    ScopedDataDir dir;
    EngineClient engine;
    engine.type(row.typed);
    EXPECT_EQ(panel(engine.key(row.kind, row.codepoint)), row.panel) << row.panel;
    if (row.then_space.empty()) continue;
    const std::optional<EngineState> next = engine.key(TOLVANI_KEY_SPACE, ' ');
    std::string preds = "[";
    for (size_t i = 0; next && i < next->predictions.size(); ++i) {
      preds += (i > 0 ? " " : "") + next->predictions[i];
    }
    EXPECT_EQ(preds + "]", row.then_space) << row.panel;
  }
}

TEST(PredictionsTest, StandardAndSpokenFormsAreOfferedAfterCommit) {
  constexpr uint32_t kSpoken = TOLVANI_FLAG_OFFER_SPOKEN_STANDARD;
  constexpr uint32_t kNoSuggestions = TOLVANI_FLAG_SUGGESTIONS_DISABLED;
  struct Row {
    std::u32string typed;
    uint32_t flags;
    std::string word;
    std::string offer;  // "" for none
  };
  const Row rows[] = {
      {U"beshee", kDefaultFlags, "বেশী", "বেশি"},
      {U"beshee", kDefaultFlags | kSpoken, "বেশী", "বেশি"},
      {U"beshI", kDefaultFlags, "বেশী", "বেশি"},
      {U"bideshee", kDefaultFlags, "বিদেশী", "বিদেশি"},
      {U"nai", kDefaultFlags, "নাই", ""},
      {U"nai", kDefaultFlags | kSpoken, "নাই", "নেই"},
      {U"beshi", kDefaultFlags | kSpoken, "বেশি", ""},
      {U"beshee", kDefaultFlags | kNoSuggestions, "বেশী", ""},
      {U"nai", kDefaultFlags | kSpoken | kNoSuggestions, "নাই", ""},
  };
  for (const Row& row : rows) {
    ScopedDataDir dir;
    EngineClient engine;
    engine.config(5, row.flags);
    const std::optional<EngineState> composing = engine.type(row.typed);
    const std::optional<EngineState> committed = engine.key(TOLVANI_KEY_SPACE, ' ');
    ASSERT_TRUE(composing && committed) << row.word;
    EXPECT_EQ(committed->commit_text, row.word + " ") << row.word << " " << row.flags;
    EXPECT_EQ(offer_of(committed), row.offer.empty() ? "" : row.offer + " for " + row.word)
        << row.word << " " << row.flags;
    // The same form stands second in the list while the word is typed.
    const bool listed = composing->candidates.size() > 1 &&
                        composing->candidates[1].kind == kKindStandard &&
                        composing->candidates[1].text == row.offer;
    EXPECT_EQ(listed, !row.offer.empty())
        << row.word << " " << row.flags << ": " << candidate_list(composing);
    if (row.flags & kNoSuggestions) {
      EXPECT_EQ(candidate_list(composing), "") << row.word;
    }
  }
}

TEST(PredictionsTest, SelectionsOfferUnlessTheStandardWasPassedOverOnPurpose) {
  struct Row {
    const char* name;
    std::function<std::optional<EngineState>(EngineClient&)> commit;
    std::string offer;
  };
  const Row rows[] = {
      {"tab takes the top candidate", [](EngineClient& e) { return e.key(TOLVANI_KEY_TAB, 0); },
       "বেশি for বেশী"},
      {"the variant chosen beside the listed standard",
       [](EngineClient& e) { return select(e, "beshee", "বেশী"); }, ""},
      {"the standard chosen", [](EngineClient& e) { return select(e, "beshee", "বেশি"); }, ""},
  };
  for (const Row& row : rows) {
    ScopedDataDir dir;
    EngineClient engine;
    engine.type(U"beshee");
    const std::optional<EngineState> s = row.commit(engine);
    ASSERT_TRUE(s) << row.name;
    EXPECT_EQ(s->status_flags, 2u) << row.name;
    EXPECT_EQ(offer_of(s), row.offer) << row.name;
  }
}

TEST(PredictionsTest, TwoIgnoredOffersSilenceTheWord) {
  struct Row {
    const char* name;
    std::function<void(EngineClient&)> after_offer;  // the typing of the next word follows
    uint32_t flags;
    bool counts;  // whether this counts as ignoring the offer
  };
  const Row rows[] = {
      {"next key", [](EngineClient&) {}, kDefaultFlags, true},
      {"escape", [](EngineClient& e) { e.key(TOLVANI_KEY_ESCAPE, 0); }, kDefaultFlags, true},
      {"backspace", [](EngineClient& e) { e.key(TOLVANI_KEY_BACKSPACE, 0); }, kDefaultFlags, true},
      {"host inserted another word", [](EngineClient& e) { note(e, "কেমন"); }, kDefaultFlags, true},
      {"host inserted the word itself", [](EngineClient& e) { note(e, "বেশী"); }, kDefaultFlags,
       false},
      {"seeding", [](EngineClient& e) { seed(e, "কেমন"); }, kDefaultFlags, false},
      {"reset", [](EngineClient& e) { tolvani_engine_reset(e.get()); }, kDefaultFlags, false},
      {"mode set", [](EngineClient& e) { e.set_mode(0); }, kDefaultFlags, false},
      {"accepted", [](EngineClient& e) { accept(e); }, kDefaultFlags, false},
      {"next key, learning off", [](EngineClient&) {},
       kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED, false},
  };
  for (const Row& row : rows) {
    ScopedDataDir dir;
    EngineClient engine;
    engine.config(5, row.flags);
    for (int round = 1; round <= 4; ++round) {
      const bool offered = !row.counts || round <= 2;
      const std::optional<EngineState> composing = engine.type(U"beshee");
      ASSERT_TRUE(composing) << row.name;
      const bool listed = std::any_of(
          composing->candidates.begin(), composing->candidates.end(),
          [](const EngineCandidate& c) { return c.kind == kKindStandard && c.text == "বেশি"; });
      EXPECT_EQ(listed, offered) << row.name << ", round " << round;
      const std::optional<EngineState> committed = engine.key(TOLVANI_KEY_SPACE, ' ');
      ASSERT_TRUE(committed) << row.name;
      EXPECT_EQ(committed->spelling_offer, offered ? "বেশি" : "")
          << row.name << ", round " << round;
      row.after_offer(engine);
    }
    // Silencing is for that word only.
    engine.type(U"bideshee");
    EXPECT_EQ(engine.key(TOLVANI_KEY_SPACE, ' ')->spelling_offer, "বিদেশি") << row.name;
  }
}

TEST(PredictionsTest, AcceptingAnOfferMovesTheLastWordToTheStandardForm) {
  ScopedDataDir dir;
  std::string after_standard;
  std::string after_variant;
  {
    EngineClient reference;
    after_standard = panel(seed(reference, "বেশি"));
    after_variant = panel(seed(reference, "বেশী"));
  }
  ASSERT_NE(after_standard, after_variant);

  EngineClient engine;
  EXPECT_EQ(engine.type(U"beshee ")->spelling_offer, "বেশি");
  // The answer follows the standard form and carries no offer any more.
  EXPECT_EQ(panel(accept(engine)), after_standard);
  EXPECT_EQ(panel(accept(engine)), after_standard);
  // Whatever comes next is learned after the standard form.
  engine.type(U"kemon ");
  const std::optional<EngineState> standard = seed(engine, "বেশি");
  ASSERT_TRUE(standard && !standard->predictions.empty());
  EXPECT_EQ(standard->predictions.front(), "কেমন");
  const std::optional<EngineState> variant = seed(engine, "বেশী");
  ASSERT_TRUE(variant);
  EXPECT_EQ(std::count(variant->predictions.begin(), variant->predictions.end(), "কেমন"), 0);

  // The standard form went into the user dictionary.
  ASSERT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine.get())));
  std::ifstream file(dir.path() / "user-dictionary.json");
  const nlohmann::json saved = nlohmann::json::parse(file, nullptr, false);
  ASSERT_TRUE(saved.is_object() && saved.contains("words"));
  EXPECT_TRUE(saved["words"].contains("বেশি")) << saved.dump();

  // With learning off the offer is still made and cleared, but nothing moves.
  engine.config(5, kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED);
  EXPECT_EQ(panel(engine.type(U"beshee ")),
            "commit=বেশী  preds=[] ghost= offer=বেশি for=বেশী status=2");
  EXPECT_EQ(panel(accept(engine)), "commit= preds=[] ghost= status=0");
}

TEST(PredictionsTest, ModernSpellingsRewritePhoneticTypingOnly) {
  constexpr uint32_t kModern = TOLVANI_FLAG_PREFER_MODERN_SPELLINGS;
  constexpr uint32_t kSpoken = TOLVANI_FLAG_OFFER_SPOKEN_STANDARD;
  struct Row {
    uint32_t mode;
    std::u32string typed;
    uint32_t flags;
    std::string shown;  // the preedit, then the committed word
    std::string offer;
  };
  const Row rows[] = {
      {0, U"beshee", kDefaultFlags, "বেশী", "বেশি for বেশী"},
      {0, U"beshee", kDefaultFlags | kModern, "বেশি", ""},
      // A capital picks a letter on purpose.
      {0, U"beshI", kDefaultFlags | kModern, "বেশী", "বেশি for বেশী"},
      // Spoken forms are offered, never rewritten.
      {0, U"nai", kDefaultFlags | kModern | kSpoken, "নাই", "নেই for নাই"},
      // The layouts type exactly what their keys say, but the offer is still made.
      {1, U"b[xe", kDefaultFlags | kModern, "বেশী", "বেশি for বেশী"},
      {2, U"fcMD", kDefaultFlags | kModern, "বেশী", "বেশি for বেশী"},
  };
  for (const Row& row : rows) {
    ScopedDataDir dir;
    EngineClient engine;
    engine.config(5, row.flags);
    engine.set_mode(row.mode);
    const std::optional<EngineState> composing = engine.type(row.typed);
    ASSERT_TRUE(composing);
    EXPECT_EQ(composing->preedit, row.shown) << row.mode << " " << row.shown;
    const std::optional<EngineState> committed = engine.key(TOLVANI_KEY_SPACE, ' ');
    ASSERT_TRUE(committed);
    EXPECT_EQ(committed->commit_text, row.shown + " ") << row.mode << " " << row.shown;
    EXPECT_EQ(offer_of(committed), row.offer) << row.mode << " " << row.shown;
  }
}

TEST(PredictionsTest, ChoosingTheVariantTwiceKeepsItDespiteModernSpellings) {
  EngineClient engine;
  engine.config(5, kDefaultFlags | TOLVANI_FLAG_PREFER_MODERN_SPELLINGS);
  for (const char* expected : {"বেশি", "বেশি", "বেশী"}) {
    const std::optional<EngineState> composing = engine.type(U"beshee");
    ASSERT_TRUE(composing);
    EXPECT_EQ(composing->preedit, expected);
    if (std::string(expected) == "বেশী") {
      EXPECT_EQ(engine.key(TOLVANI_KEY_SPACE, ' ')->commit_text, "বেশী ");
      break;
    }
    EXPECT_EQ(select(engine, "beshee", "বেশী")->commit_text, "বেশী");
  }
}

TEST(PredictionsTest, StandardFormIsListedRightAfterThePreedit) {
  struct Row {
    uint32_t mode;
    std::u32string typed;
    uint32_t count;
    uint32_t flags;
    std::string standard;  // "" when none is listed
  };
  const Row rows[] = {
      {0, U"beshee", 5, kDefaultFlags, "বেশি"},
      {0, U"beshee", 3, kDefaultFlags, "বেশি"},
      {0, U"beshee", 2, kDefaultFlags, "বেশি"},
      {0, U"nai", 3, kDefaultFlags | TOLVANI_FLAG_OFFER_SPOKEN_STANDARD, "নেই"},
      {0, U"nai", 5, kDefaultFlags, ""},
      {0, U"beshee", 5, kDefaultFlags | TOLVANI_FLAG_PREFER_MODERN_SPELLINGS, ""},
      {1, U"b[xe", 5, kDefaultFlags, "বেশি"},
      {1, U"b[xe", 3, kDefaultFlags, "বেশি"},
  };
  for (const Row& row : rows) {
    EngineClient engine;
    engine.config(row.count, row.flags);
    engine.set_mode(row.mode);
    const std::optional<EngineState> s = engine.type(row.typed);
    ASSERT_TRUE(s);
    const std::string list = candidate_list(s);
    EXPECT_LE(s->candidates.size(), row.count) << list;
    const auto standard =
        std::find_if(s->candidates.begin(), s->candidates.end(),
                     [](const EngineCandidate& c) { return c.kind == kKindStandard; });
    if (row.standard.empty()) {
      EXPECT_EQ(standard, s->candidates.end()) << list;
      continue;
    }
    ASSERT_NE(standard, s->candidates.end()) << list;
    EXPECT_EQ(standard->text, row.standard) << list;
    // Right after the entry that shows the preedit, and listed once.
    const auto preedit =
        std::find_if(s->candidates.begin(), s->candidates.end(),
                     [&](const EngineCandidate& c) { return c.text == s->preedit; });
    ASSERT_NE(preedit, s->candidates.end()) << list;
    EXPECT_EQ(standard - preedit, 1) << list;
    if (row.mode == 0) {
      EXPECT_EQ(preedit->kind, kKindExact) << list;
    }
    EXPECT_EQ(std::count_if(s->candidates.begin(), s->candidates.end(),
                            [&](const EngineCandidate& c) { return c.text == row.standard; }),
              1)
        << list;
  }
}

}  // namespace
}  // namespace tolvani::engine
