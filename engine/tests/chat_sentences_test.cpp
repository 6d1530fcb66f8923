// Chat messages typed word by word through the C interface, as a host types them: the words just
// committed decide between the literal and the chat reading of the next one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine_client.h"
#include "normalize.h"
#include "store_test_util.h"
#include "utf8.h"

namespace tolvani::engine {
namespace {

using store_test::ScopedEnv;
using store_test::TempFolder;

struct Message {
  std::vector<std::string> typed;
  std::vector<std::string> meant;
};

std::vector<std::string> words_of(std::string_view text) {
  std::vector<std::string> out;
  for (std::string_view w : utf8::split_white_space(text)) out.emplace_back(w);
  return out;
}

std::vector<Message> read_messages(const std::string& name) {
  std::ifstream in(std::string(TOLVANI_TEST_DATA_DIR) + "/" + name);
  std::vector<Message> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    Message m{words_of(line.substr(0, tab)), words_of(normalize_bengali(line.substr(tab + 1)))};
    EXPECT_EQ(m.typed.size(), m.meant.size()) << line;
    if (m.typed.size() == m.meant.size()) rows.push_back(std::move(m));
  }
  return rows;
}

std::u32string keys(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// Types `word` and commits it with Space: (the preedit before Space, what Space committed).
std::pair<std::string, std::string> type_and_commit(testing::EngineClient& client,
                                                    std::string_view word) {
  const auto before = client.type(keys(word));
  const auto after = client.key(TOLVANI_KEY_SPACE, ' ');
  return {before ? normalize_bengali(before->preedit) : "<null>",
          after ? normalize_bengali(std::string(utf8::trim_white_space(after->commit_text)))
                : "<null>"};
}

// Each message goes into a fresh engine that has learned nothing; the share of words committed as
// meant has a floor, and at every Space the preedit showed what Space committed.
TEST(ChatSentencesTest, WordsJustCommittedDecideTheReadingOfTheNext) {
  const std::vector<Message> messages = read_messages("chat_sentences.tsv");
  ASSERT_GE(messages.size(), 150u);
  TempFolder folder;
  size_t words = 0, hits = 0, index = 0;
  std::string misses;
  for (const Message& m : messages) {
    const std::string dir = (folder / std::to_string(index++)).string();
    std::filesystem::create_directories(dir);
    ScopedEnv data("TOLVANI_DATA_DIR", dir);
    testing::EngineClient client;
    client.config(5, testing::kDefaultFlags);
    std::vector<std::string> got;
    for (size_t i = 0; i < m.typed.size(); ++i) {
      const auto [preedit, committed] = type_and_commit(client, m.typed[i]);
      EXPECT_EQ(preedit, committed) << "typing " << m.typed[i] << " in message " << index;
      ++words;
      hits += committed == m.meant[i];
      got.push_back(committed);
    }
    if (got != m.meant) {
      misses += "\n ";
      for (const std::string& w : got) misses += " " + w;
    }
  }
  const double share = static_cast<double>(hits) / static_cast<double>(words);
  std::printf("chat sentences: %zu of %zu words committed as meant (%.1f%%)\n", hits, words,
              100 * share);
  if (std::getenv("TOLVANI_SHOW_MISSES")) std::printf("missed:%s\n", misses.c_str());
  EXPECT_GE(share, 0.977);
}

bool listed(const std::optional<EngineState>& state, std::string_view text) {
  if (!state) return false;
  for (const auto& c : state->candidates) {
    if (normalize_bengali(c.text) == text) return true;
  }
  return false;
}

// The word before decides; without a word that does, the literal reading stays. Learning off: the
// words just committed still decide, and nothing is learned.
TEST(ChatSentencesTest, PairsDecideBetweenTheLiteralAndTheChatReading) {
  const std::pair<std::string_view, std::string_view> rows[] = {{"kemon aso", "কেমন আছো"},
                                                                {"ekhane aso", "এখানে আসো"},
                                                                {"taratari aso", "তাড়াতাড়ি আসো"},
                                                                {"valo asi", "ভালো আছি"},
                                                                {"kemon asen", "কেমন আছেন"},
                                                                {"aso", "আসো"},
                                                                {"asi", "আসি"}};
  for (const auto& [typed, meant] : rows) {
    testing::EngineClient client;
    client.config(5, testing::kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED);
    std::vector<std::string> got;
    for (const std::string& word : words_of(typed)) {
      const auto state = client.type(keys(word));
      // Both readings are offered, whichever Space commits.
      if (word == "aso") {
        EXPECT_TRUE(listed(state, "আছো") && listed(state, "আসো")) << typed;
      }
      const auto [preedit, committed] = type_and_commit(client, "");
      EXPECT_EQ(normalize_bengali(state->preedit), committed) << typed;
      got.push_back(committed);
    }
    EXPECT_EQ(got, words_of(meant)) << typed;
  }
}

// Common chat forms, each typed alone: vowels left out before the last one, "s" for ছ in the
// colloquial verb forms (the standard form offered beside), a continuous form the lexicon lacks.
TEST(ChatSentencesTest, CommonChatFormsGetTheirWords) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"kmon", "কেমন"},    {"tmder", "তোমাদের"}, {"amder", "আমাদের"},   {"khaiso", "খাইছো"},
      {"khaisi", "খাইছি"}, {"korsi", "করছি"},    {"parsi", "পারছি"},    {"hoise", "হইছে"},
      {"lagse", "লাগছে"},  {"gesi", "গেছি"},     {"hoitesi", "হইতেছি"}, {"ghumaiso", "ঘুমাইছো"}};
  for (const auto& [typed, meant] : rows) {
    testing::EngineClient client;
    client.config(5, testing::kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED);
    const auto state = client.type(keys(typed));
    if (typed == "khaiso") {
      EXPECT_TRUE(listed(state, "খেয়েছো"));
    }
    const auto [preedit, committed] = type_and_commit(client, "");
    EXPECT_EQ(committed, meant) << typed;
  }
}

// A literal reading picked by number is remembered: the words before no longer replace it, even
// where this person has written the chat reading after them more often.
TEST(ChatSentencesTest, ALiteralReadingPickedOnceIsKept) {
  TempFolder folder;
  ScopedEnv data("TOLVANI_DATA_DIR", folder.path().string());
  testing::EngineClient client;
  client.config(5, testing::kDefaultFlags);
  client.type(U"kemon aso kemon aso kemon aso ");
  EXPECT_EQ(words_of(normalize_bengali(client.committed())),
            words_of("কেমন আছো কেমন আছো কেমন আছো"));
  // Escape still gives the Latin letters as typed.
  client.type(U"kemon aso");
  const auto cancelled = client.key(TOLVANI_KEY_ESCAPE, 0);
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->commit_text, "aso");
  client.type(U"aso");
  const auto picked = testing::take(tolvani_engine_select_matching(client.get(), "aso", "আসো"));
  ASSERT_TRUE(picked);
  EXPECT_EQ(normalize_bengali(picked->commit_text), "আসো");
  client.type(U" kemon ");
  const auto [preedit, committed] = type_and_commit(client, "aso");
  EXPECT_EQ(preedit, "আসো");
  EXPECT_EQ(committed, "আসো");
}

}  // namespace
}  // namespace tolvani::engine
