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
