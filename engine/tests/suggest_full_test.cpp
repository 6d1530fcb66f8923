// Suggestion generation and the emoji shortcodes over the shipped lexicon and autocorrect table.
#include <gtest/gtest.h>

#include <string>

#include "engine_client.h"
#include "phonetic_suggest.h"
#include "suggest.h"
#include "user_dict.h"

namespace tolvani::engine {
namespace {

using testing::EngineClient;
using testing::show;

TEST(EmojiShortcodeDataTest, ShortcodesCommitThroughTheSession) {
  struct Row {
    const char32_t* typed;
    const char* committed;
  };
  const Row rows[] = {
      {U"(y)", "\U0001F44D"},   {U"<3", "\u2764\uFE0F"},
      {U":)", "\U0001F60A"},    {U"(bangladesh)", "\U0001F1E7\U0001F1E9"},
      {U"(100)", "\U0001F4AF"},
  };
  for (uint32_t mode : {0u, 1u, 2u}) {
    for (const Row& row : rows) {
      EngineClient engine;
      engine.set_mode(mode);
      const std::u32string typed = row.typed;
      engine.type(typed.substr(0, typed.size() - 1));
      EXPECT_EQ(show(engine.text(typed.back())),
                std::string("raw= pre= commit=") + row.committed + " status=2")
          << row.committed << " mode " << mode;
    }
  }
}

TEST(EmojiShortcodeDataTest, PrefixQuestionsOnTheShippedTable) {
  EXPECT_TRUE(suggest::could_start_emoji('('));
  EXPECT_TRUE(suggest::could_start_emoji(':'));
  EXPECT_TRUE(suggest::could_start_emoji('\\'));
  EXPECT_FALSE(suggest::could_start_emoji('a'));
  EXPECT_FALSE(suggest::could_start_emoji('X'));  // "XD" begins with a letter
  EXPECT_TRUE(suggest::could_be_emoji_prefix("(bea"));
  EXPECT_FALSE(suggest::could_be_emoji_prefix("(bear)"));
  EXPECT_TRUE(suggest::could_be_emoji_prefix("bangl"));  // "bangladseh"
}

TEST(SuggestFullTest, TypedMisspellingIsCorrected) {
  UserDictionary dict;
  const auto got = suggest::suggestions_for(0, "bnagla", "বনাগ্লা", dict, 5, true);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0].text, "বাংলা");
  EXPECT_EQ(got[0].kind, CandidateKind::kAutocorrect);
  EXPECT_EQ(got[0].score, 8000);
}

}  // namespace
}  // namespace tolvani::engine
