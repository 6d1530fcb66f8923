// What a typing session learns, seen from the host's side: the store files a snapshot leaves on
// disk, the ranking a later process gets from them, two processes learning into one folder,
// rejections, remembered choices and word pairs, learning switched off, and a reload that meets
// another writer's changes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine_client.h"
#include "persistence.h"
#include "store_test_util.h"
#include "tolvani_engine.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {
namespace {

using namespace store_test;
using tolvani::testing::EngineClient;
using tolvani::testing::kDefaultFlags;
using tolvani::testing::show;
using tolvani::testing::take;

constexpr uint64_t kNow = 1'700'000'000;
constexpr char kChildTest[] = "LearningChildProcess.Role";

// The store files of a folder, with what each holds when it has no entries.
const std::pair<const char*, const char*> kEmptyFiles[] = {
    {"user-dictionary.json", R"({"reset_id":"","words":{},"tombstones":{}})"},
    {"user-bigrams.json", R"({"reset_id":"","pairs":{}})"},
    {"user-trigrams.json", R"({"reset_id":"","triples":{}})"},
    {"rejections.json", R"({"reset_id":"","entries":{}})"},
    {"selection-memory.json", R"({"reset_id":"","selections":{}})"},
};

std::u32string widen(std::string_view ascii) { return std::u32string(ascii.begin(), ascii.end()); }

// Snapshots the session and writes the snapshot, as a host does when it is deactivated.
bool write_snapshot(EngineClient& engine) {
  TolvaniSnapshot* snapshot = tolvani_engine_snapshot(engine.get());
  EXPECT_NE(snapshot, nullptr);
  return tolvani_snapshot_write(snapshot);
}

// Where a candidate stands in a composition's list.
struct Listed {
  size_t index = 0;
  int32_t score = 0;
  uint8_t kind = 0;
};

std::optional<Listed> find(const std::optional<EngineState>& s, std::string_view text) {
  if (!s) return std::nullopt;
  for (size_t i = 0; i < s->candidates.size(); ++i) {
    const EngineCandidate& c = s->candidates[i];
    if (c.text == text) return Listed{i, c.score, c.kind};
  }
  return std::nullopt;
}

// The list in one line, for failure messages.
std::string list_of(const std::optional<EngineState>& s) {
  std::string out;
  if (!s) return "<null>";
  for (const EngineCandidate& c : s->candidates) {
    out += c.text + "=" + std::to_string(c.score) + "/" + std::to_string(c.kind) + " ";
  }
  return out;
}

// Every text of a JSON object holding `members`, in each order a writer may choose.
std::vector<std::string> any_order(std::vector<std::string> members) {
  std::sort(members.begin(), members.end());
  std::vector<std::string> out;
  do {
    std::string text = "{";
    for (size_t i = 0; i < members.size(); ++i) text += (i == 0 ? "" : ",") + members[i];
    out.push_back(text + "}");
  } while (std::next_permutation(members.begin(), members.end()));
  return out;
}

std::vector<std::string> wrapped(const std::vector<std::string>& objects, std::string_view before,
                                 std::string_view after) {
  std::vector<std::string> out;
  for (const std::string& o : objects) out.push_back(std::string(before) + o + std::string(after));
  return out;
}

std::string t(uint64_t secs) { return std::to_string(secs); }

// ---- child processes

void announce(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  (void)!::write(3, text.data(), text.size());
}

// Waits for the parent's go byte on fd 0; false when the parent is gone.
bool await_go() {
  char go = 0;
  return ::read(0, &go, 1) == 1;
}

bool exited_cleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

// Fixes the child's clock when the parent passed one, so that boosts and times match.
void fix_child_clock() {
  if (const std::string now = env("TOLVANI_TEST_NOW"); !now.empty()) {
    test_set_now_secs(std::stoull(now));
  }
}

// A fresh session types the keys and reports the preedit and every candidate.
void child_rank() {
  fix_child_clock();
  EngineClient engine;
  engine.config(10, kDefaultFlags);
  const auto state = engine.type(widen(env("TOLVANI_TEST_KEYS")));
  ASSERT_TRUE(state.has_value());
  announce("preedit\t" + state->preedit);
  for (const EngineCandidate& c : state->candidates) {
    announce(c.text + "\t" + std::to_string(c.score) + "\t" + std::to_string(c.kind));
  }
}

// Types its words round after round: five rounds (the twentieth add saves in the background),
// then five more with a snapshot written after the seventh and the tenth.
void child_learn_words() {
  std::vector<std::string> keys;
  const std::string all = env("TOLVANI_TEST_KEYS");
  for (std::string_view rest = all; !rest.empty();) {
    const size_t space = rest.find(' ');
    keys.emplace_back(rest.substr(0, space));
    rest = space == std::string_view::npos ? "" : rest.substr(space + 1);
  }
  EngineClient engine;
  ASSERT_TRUE(await_go());
  for (int round = 1; round <= 10; ++round) {
    for (const std::string& key : keys) {
      const auto state = engine.type(widen(key + " "));
      ASSERT_TRUE(state.has_value());
      if (round == 1) announce("commit\t" + state->commit_text);
    }
    if (round == 5) {
      test_wait_for_persistence_worker();
      announce("half");
      ASSERT_TRUE(await_go());
    }
    if (round == 7 || round == 10) {
      EXPECT_TRUE(write_snapshot(engine)) << round;
    }
  }
  test_wait_for_persistence_worker();
  announce("done");
}

// Another writer of the folder, through the stores themselves (their locks included): learns a
// word some times, and remembers a choice for a raw input twice.
void child_store_add() {
  fix_child_clock();
  const fs::path dir = env("TOLVANI_TEST_DIR");
  UserDictionary words = UserDictionary::load(dir / "user-dictionary.json");
  for (int i = 0; i < std::stoi(env("TOLVANI_TEST_TIMES")); ++i) {
    words.add(env("TOLVANI_TEST_WORD"));
  }
  ASSERT_TRUE(words.sync());
  if (const std::string raw = env("TOLVANI_TEST_RAW"); !raw.empty()) {
    SelectionMemory memory = SelectionMemory::load(dir / "selection-memory.json");
    memory.remember(raw, env("TOLVANI_TEST_PICK"));
    memory.remember(raw, env("TOLVANI_TEST_PICK"));
    ASSERT_TRUE(memory.sync());
  }
  announce("ok");
}

// Runs only inside a child process that a test below starts.
TEST(LearningChildProcess, Role) {
  const char* role = std::getenv(kChildRoleVariable);
  if (role == nullptr) GTEST_SKIP() << "runs only as a child process of the tests below";
  const std::string_view r = role;
  if (r == "rank") {
    child_rank();
  } else if (r == "learn-words") {
    child_learn_words();
  } else if (r == "store-add") {
    child_store_add();
  } else {
    FAIL() << "unknown role " << r;
  }
}

// A candidate list as a child process reported it.
struct ReportedList {
  std::string preedit;
  std::vector<EngineCandidate> candidates;

  std::optional<Listed> find(std::string_view text) const {
    for (size_t i = 0; i < candidates.size(); ++i) {
      if (candidates[i].text == text) return Listed{i, candidates[i].score, candidates[i].kind};
    }
    return std::nullopt;
  }
  std::string show() const {
    std::string out = "preedit " + preedit + ":";
    for (const EngineCandidate& c : candidates) {
      out += " " + c.text + "=" + std::to_string(c.score) + "/" + std::to_string(c.kind);
    }
    return out;
  }
};

// What a new process, started on `dir`, lists for `keys`.
ReportedList rank_in_new_process(const fs::path& dir, std::string_view keys) {
  ReportedList out;
  // Inherited: a variable given to Child does not override one the parent has.
  ScopedEnv data("TOLVANI_DATA_DIR", dir.string());
  Child child(kChildTest, "rank",
              {"TOLVANI_TEST_KEYS=" + std::string(keys), "TOLVANI_TEST_NOW=" + t(kNow)});
  if (child.pid() <= 0) return out;
  std::string pending;
  std::vector<std::string> lines;
  EXPECT_TRUE(read_lines(child.from_child(), 0, pending, lines)) << "the ranking child went silent";
  EXPECT_TRUE(exited_cleanly(child.wait()));
  for (const std::string& line : lines) {
    const size_t a = line.find('\t');
    if (line.starts_with("preedit\t")) {
      out.preedit = line.substr(a + 1);
      continue;
    }
    const size_t b = line.find('\t', a + 1);
    out.candidates.push_back({line.substr(0, a), std::stoi(line.substr(a + 1, b - a - 1)),
                              static_cast<uint8_t>(std::stoi(line.substr(b + 1)))});
  }
  return out;
}

// ---- what reaches the files

TEST(LearningFilesTest, CommittedWordsAndTheirSequenceAreWrittenExactly) {
  TempFolder dir;
  // The session's learning reads this clock, so the times in the files are exact too.
  FixedClock clock(kNow);
  {
    // The same word five times: a pair of equal words is never learned, a triple of them is.
    ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());
    EngineClient engine;
    for (int round = 0; round < 5; ++round) {
      clock.set(kNow + 60 * round);
      const auto state = engine.type(U"tomake ");
      ASSERT_TRUE(state);
      EXPECT_EQ(state->commit_text, "তোমাকে ") << round;
      EXPECT_EQ(state->status_flags, TOLVANI_STATUS_COMMITTED) << round;
    }
    ASSERT_TRUE(write_snapshot(engine));
    EXPECT_EQ(read_file(dir / "user-dictionary.json"),
              R"({"reset_id":"","words":{"তোমাকে":{"frequency":5,"last_used":)" + t(kNow + 240) +
                  R"(,"last_decay":0}},"tombstones":{}})");
    EXPECT_EQ(read_file(dir / "user-bigrams.json"), R"({"reset_id":"","pairs":{}})");
    EXPECT_EQ(read_file(dir / "user-trigrams.json"),
              R"({"reset_id":"","triples":{"তোমাকে\tতোমাকে":{"তোমাকে":3}}})");
    EXPECT_EQ(read_file(dir / "rejections.json"), R"({"reset_id":"","entries":{}})");
    EXPECT_EQ(read_file(dir / "selection-memory.json"), R"({"reset_id":"","selections":{}})");
  }

  // Two known words in turn, five times; maps of two entries may be written in either order.
  const fs::path pairs = dir / "pairs";
  ScopedEnv data("TOLVANI_DATA_DIR", pairs.string());
  EngineClient engine;
  for (int round = 0; round < 5; ++round) {
    clock.set(kNow + 60 * round);
    engine.type(U"ami tomake ");
  }
  EXPECT_EQ(engine.committed(), "আমি তোমাকে আমি তোমাকে আমি তোমাকে আমি তোমাকে আমি তোমাকে ");
  ASSERT_TRUE(write_snapshot(engine));
  const std::string last = t(kNow + 240);
  EXPECT_THAT(
      read_file(pairs / "user-dictionary.json").value_or(""),
      ::testing::AnyOfArray(wrapped(
          any_order({R"("আমি":{"frequency":5,"last_used":)" + last + R"(,"last_decay":0})",
                     R"("তোমাকে":{"frequency":5,"last_used":)" + last + R"(,"last_decay":0})"}),
          R"({"reset_id":"","words":)", R"(,"tombstones":{}})")));
  EXPECT_THAT(read_file(pairs / "user-bigrams.json").value_or(""),
              ::testing::AnyOfArray(wrapped(
                  any_order({R"("আমি":{"তোমাকে":{"frequency":5,"last_used":)" + last + "}}",
                             R"("তোমাকে":{"আমি":{"frequency":4,"last_used":)" + last + "}}"}),
                  R"({"reset_id":"","pairs":)", "}")));
  EXPECT_THAT(read_file(pairs / "user-trigrams.json").value_or(""),
              ::testing::AnyOfArray(wrapped(
                  any_order({R"("আমি\tতোমাকে":{"আমি":4})", R"("তোমাকে\tআমি":{"তোমাকে":4})"}),
                  R"({"reset_id":"","triples":)", "}")));
  // Nothing left unsaved: a second snapshot touches no file and still succeeds.
  FaultFileSystem counting;
  ScopedFileSystem use(counting);
  EXPECT_TRUE(write_snapshot(engine));
  EXPECT_EQ(counting.calls(), 0);
}

TEST(LearningFilesTest, LearnedWordRanksHigherInANewProcess) {
  TempFolder dir;
  FixedClock clock(kNow);
  ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());

  const ReportedList before = rank_in_new_process(dir.path(), "din");
  const auto din_before = before.find("দীন");
  const auto rival_before = before.find("ডিন");
  ASSERT_TRUE(din_before && rival_before) << before.show();
  // Premise: দীন is listed for "din" below another lexicon word.
  ASSERT_EQ(before.preedit, "দিন");
  ASSERT_LT(rival_before->index, din_before->index) << before.show();
  EXPECT_EQ(din_before->kind, TOLVANI_KIND_PHONETIC);

  {
    EngineClient engine;
    for (int i = 0; i < 5; ++i) engine.type(U"dIn ");
    EXPECT_EQ(engine.committed(), "দীন দীন দীন দীন দীন ");
    ASSERT_TRUE(write_snapshot(engine));
  }

  const ReportedList after = rank_in_new_process(dir.path(), "din");
  const auto din_after = after.find("দীন");
  const auto rival_after = after.find("ডিন");
  ASSERT_TRUE(din_after && rival_after) << after.show();
  EXPECT_EQ(after.preedit, "দিন");
  // Five uses within the last two hours: 1,000 + 5 × 10 + 200.
  EXPECT_EQ(din_after->score, din_before->score + 1250) << after.show();
  EXPECT_EQ(din_after->kind, TOLVANI_KIND_USER);
  EXPECT_LT(din_after->index, rival_after->index) << after.show();
  EXPECT_EQ(rival_after->score, rival_before->score);
}

TEST(LearningProcessTest, TwoProcessesLearningIntoOneFolderKeepBothWords) {
  TempFolder dir;
  // Inherited: a variable given to Child does not override one the parent has.
  ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());
  struct Learner {
    std::string keys;
    std::vector<std::string> words;
  };
  const Learner learners[] = {
      {"ami tumi kotha bhalo", {"আমি", "তুমি", "কথা", "ভালো"}},
      {"din mon kal shob", {"দিন", "মন", "কাল", "সব"}},
  };
  std::vector<std::unique_ptr<Child>> children;
  for (const Learner& l : learners) {
    children.push_back(std::make_unique<Child>(
        kChildTest, "learn-words", std::vector<std::string>{"TOLVANI_TEST_KEYS=" + l.keys}));
    ASSERT_GT(children.back()->pid(), 0);
  }
  std::vector<std::string> pending(2);
  std::vector<std::vector<std::string>> lines(2);
  // Both start together, so that their saves overlap.
  for (auto& child : children) ASSERT_EQ(::write(child->to_child(), "g", 1), 1);
  for (size_t c = 0; c < 2; ++c) {
    ASSERT_TRUE(read_lines(children[c]->from_child(), 5, pending[c], lines[c])) << c;
    std::vector<std::string> expected;
    for (const std::string& w : learners[c].words) expected.push_back("commit\t" + w + " ");
    expected.push_back("half");
    EXPECT_EQ(lines[c], expected);
  }

  // Twenty adds each, no snapshot yet: the background saves alone wrote both processes' words.
  const auto half = read_document<UserDictionaryDocument>(dir / "user-dictionary.json");
  for (const Learner& l : learners) {
    for (const std::string& w : l.words) {
      ASSERT_TRUE(half.words.contains(w)) << w << ": " << render(half);
      EXPECT_EQ(half.words.at(w).frequency, 5u) << w;
    }
  }
  EXPECT_EQ(half.words.size(), 8u) << render(half);

  for (auto& child : children) ASSERT_EQ(::write(child->to_child(), "g", 1), 1);
  for (size_t c = 0; c < 2; ++c) {
    EXPECT_TRUE(read_lines(children[c]->from_child(), 0, pending[c], lines[c])) << c;
    EXPECT_EQ(lines[c].back(), "done") << c;
    EXPECT_TRUE(exited_cleanly(children[c]->wait())) << c;
  }

  const LearnedStores stores = LearnedStores::load_all(dir.path());
  for (const Learner& l : learners) {
    const std::vector<std::string>& w = l.words;
    for (const std::string& word : w) {
      const UserEntry* e = stores.user_dictionary.find(word);
      ASSERT_NE(e, nullptr) << word;
      EXPECT_EQ(e->frequency, 10u) << word;
    }
    // Forty commits w0 w1 w2 w3 w0 ...: each pair and triple ending in w1, w2 or w3 ten
    // times, in w0 (which opens the sequence) nine times.
    for (size_t i = 0; i < 4; ++i) {
      const std::string& a = w[i];
      const std::string& b = w[(i + 1) % 4];
      const std::string& c = w[(i + 2) % 4];
      const BigramEntry* pair = stores.bigrams.find(a, b);
      ASSERT_NE(pair, nullptr) << a << " " << b;
      EXPECT_EQ(pair->frequency, b == w[0] ? 9u : 10u) << a << " " << b;
      EXPECT_EQ(stores.trigrams.count(a, b, c), c == w[0] || c == w[1] ? 9u : 10u)
          << a << " " << b << " " << c;
    }
  }
  EXPECT_EQ(stores.user_dictionary.words().size(), 8u);
  EXPECT_EQ(stores.trigrams.size(), 8u);
  EXPECT_TRUE(names_with(dir.path(), ".tmp.").empty());
  EXPECT_TRUE(names_with(dir.path(), ".corrupt.").empty());
}

// ---- rejections, remembered choices and word pairs

TEST(LearningRankingTest, SkippedCandidateLosesItsPenaltyEveryTimeAndSinks) {
  TempFolder dir;
  FixedClock clock(kNow);
  ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());
  EngineClient engine;

  // In a fixed layout the list is the lexicon's, so its first entry is a plain candidate. Each
  // round passes over it for the second one; the context is emptied so that nothing re-sorts.
  int32_t first_score = 0;
  for (int round = 0; round <= 21; ++round) {
    engine.set_mode(1);
    const auto state = engine.type(U"mn");
    ASSERT_TRUE(state && state->candidates.size() >= 2) << show(state);
    ASSERT_EQ(state->raw_text, "মন");
    EXPECT_EQ(state->candidates[0].text, "মনে") << round << ": " << list_of(state);
    EXPECT_EQ(state->candidates[1].text, "মত") << round << ": " << list_of(state);
    if (round == 0) first_score = state->candidates[0].score;
    // 100 per pass, up to 2,000.
    EXPECT_EQ(state->candidates[0].score, first_score - 100 * std::min(round, 20)) << round;
    if (round == 21) break;
    EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "মন", "মত"))),
              "raw= pre= commit=মত status=2")
        << round;
  }
  ASSERT_TRUE(write_snapshot(engine));
  EXPECT_EQ(read_file(dir / "rejections.json"), R"({"reset_id":"","entries":{"মন":{"মনে":2000}}})");
  EXPECT_EQ(read_file(dir / "selection-memory.json"),
            R"({"reset_id":"","selections":{"মন":{"text":"মত","count":21,"last_used":)" + t(kNow) +
                "}}}");

  // In phonetic typing, choosing the fourth entry passes over the three above it: the lexicon
  // word among them loses 100 and falls below the word it used to lead.
  engine.set_mode(0);
  engine.config(8, kDefaultFlags);
  const auto fresh = engine.type(U"din");
  const auto rival = find(fresh, "ডিন");
  const auto next = find(fresh, "দ্বীন");
  ASSERT_TRUE(rival && next && find(fresh, "দীন")) << list_of(fresh);
  ASSERT_EQ(find(fresh, "দীন")->index, 3u) << list_of(fresh);
  ASSERT_LT(rival->index, next->index);
  EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "din", "দীন"))),
            "raw= pre= commit=দীন status=2");
  const auto after = engine.type(U"din");
  ASSERT_TRUE(find(after, "ডিন") && find(after, "দ্বীন")) << list_of(after);
  EXPECT_EQ(find(after, "ডিন")->score, rival->score - 100) << list_of(after);
  EXPECT_EQ(find(after, "দ্বীন")->score, next->score) << list_of(after);
  EXPECT_GT(find(after, "ডিন")->index, find(after, "দ্বীন")->index) << list_of(after);
}

TEST(LearningRankingTest, ChoiceMadeTwiceBecomesTheReadingOfItsInput) {
  TempFolder dir;
  FixedClock clock(kNow);
  ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());
  EngineClient engine;
  engine.config(8, kDefaultFlags);

  for (int pick = 1; pick <= 2; ++pick) {
    const auto state = engine.type(U"din");
    EXPECT_EQ(show(state), "raw=din pre=দিন commit= status=1") << pick;
    EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "din", "দীন"))),
              "raw= pre= commit=দীন status=2")
        << pick;
  }
  // A raw input that differs from the composition selects nothing.
  engine.type(U"di");
  EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "din", "দীন"))),
            "raw=di pre=দি commit= status=0");
  engine.key(TOLVANI_KEY_ESCAPE, 0);

  // Chosen twice: the choice is now what "din" reads as, and a space commits it as a reading.
  const auto third = engine.type(U"din");
  EXPECT_EQ(show(third), "raw=din pre=দীন commit= status=1");
  ASSERT_TRUE(third && !third->candidates.empty());
  EXPECT_EQ(third->candidates[0].text, "দীন");
  EXPECT_EQ(show(engine.key(TOLVANI_KEY_SPACE, ' ')),
            "raw= pre= commit=দীন  status=" +
                std::to_string(TOLVANI_STATUS_COMMITTED | TOLVANI_STATUS_REREAD));

  ASSERT_TRUE(write_snapshot(engine));
  EXPECT_EQ(read_file(dir / "selection-memory.json"),
            R"({"reset_id":"","selections":{"din":{"text":"দীন","count":2,"last_used":)" + t(kNow) +
                "}}}");
  // The first pick passed over দিন, "din" and ডিন; the second, with দীন risen, only the first two.
  const auto rejections = read_document<RejectionsDocument>(dir / "rejections.json");
  EXPECT_EQ(render(rejections), "reset \"\" | din>[din=200 ডিন=100 দিন=200]");
}

TEST(LearningRankingTest, LearnedPairsAndTriplesAddTheirContextBonus) {
  TempFolder dir;
  FixedClock clock(kNow);
  ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());
  EngineClient engine;
  engine.config(8, kDefaultFlags);
  // আমি then দীন, three times: the pair counts 3, the triple দীন আমি দীন 2.
  for (int i = 0; i < 3; ++i) engine.type(U"ami dIn ");
  ASSERT_EQ(engine.committed(), "আমি দীন আমি দীন আমি দীন ");

  auto score_of_din = [&](std::u32string_view context) {
    engine.set_mode(0);
    engine.type(context);
    const auto state = engine.type(U"din");
    engine.key(TOLVANI_KEY_ESCAPE, 0);
    const auto found = find(state, "দীন");
    EXPECT_TRUE(found) << list_of(state);
    return found ? found->score : 0;
  };
  const int32_t alone = score_of_din(U"");
  // After আমি: the pair seen 3 times adds trunc(ln 3 × 150) = 164.
  EXPECT_EQ(score_of_din(U"ami "), alone + 164);
  // After দীন আমি: the triple seen twice adds 300 more. Committing দীন once more on the way
  // raises its own boost by 10.
  const int32_t with_triple = score_of_din(U"dIn ami ");
  const int32_t alone_now = score_of_din(U"");
  EXPECT_EQ(alone_now, alone + 10);
  EXPECT_EQ(with_triple, alone_now + 164 + 300);
}

// ---- learning switched off

TEST(LearningOffTest, NothingIsRecordedAnywhere) {
  TempFolder dir;
  FixedClock clock(kNow);
  ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());
  EngineClient engine;
  // With learning on, আমি as context predicts.
  EXPECT_FALSE(
      take(tolvani_engine_seed_prediction_context(engine.get(), "আমি"))->predictions.empty());
  engine.config(8, kDefaultFlags | TOLVANI_FLAG_LEARNING_DISABLED);
  EXPECT_TRUE(engine.key(TOLVANI_KEY_SPACE, ' ')->predictions.empty());

  // Commits: more than a background save's worth.
  for (int i = 0; i < 25; ++i) {
    const auto state = engine.type(i % 2 == 0 ? U"ami " : U"tomake ");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->status_flags, TOLVANI_STATUS_COMMITTED);
    EXPECT_TRUE(state->predictions.empty()) << i;
  }
  // Selections, explicit and by tab, passing over the entries above.
  for (int i = 0; i < 3; ++i) {
    engine.type(U"din");
    EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "din", "দীন"))),
              "raw= pre= commit=দীন status=2");
  }
  engine.type(U"din");
  EXPECT_EQ(engine.key(TOLVANI_KEY_TAB, 0)->commit_text, "দিন");
  // A standard form passed over on purpose, an offer let pass and an offer accepted.
  engine.type(U"beshI");
  EXPECT_EQ(show(take(tolvani_engine_select_matching(engine.get(), "beshI", "বেশী"))),
            "raw= pre= commit=বেশী status=2");
  EXPECT_EQ(show(engine.type(U"beshI ")), "raw= pre= commit=বেশী  status=2 offer=বেশি");
  engine.type(U"a");
  engine.key(TOLVANI_KEY_ESCAPE, 0);
  engine.type(U"beshI ");
  const auto accepted = take(tolvani_engine_accept_spelling_offer(engine.get()));
  ASSERT_TRUE(accepted);
  EXPECT_TRUE(accepted->predictions.empty());
  // Text the host inserted, and a context it seeds.
  EXPECT_TRUE(take(tolvani_engine_note_committed_word(engine.get(), "আমি"))->predictions.empty());
  EXPECT_TRUE(
      take(tolvani_engine_seed_prediction_context(engine.get(), "আমি"))->predictions.empty());
  EXPECT_TRUE(engine.key(TOLVANI_KEY_SPACE, ' ')->predictions.empty());

  ASSERT_TRUE(write_snapshot(engine));
  test_wait_for_persistence_worker();
  for (const auto& [name, bytes] : kEmptyFiles) EXPECT_EQ(read_file(dir / name), bytes) << name;

  // Learning back on: the first commit starts a context again, and is learned.
  engine.config(8, kDefaultFlags);
  EXPECT_FALSE(
      take(tolvani_engine_seed_prediction_context(engine.get(), "আমি"))->predictions.empty());
  engine.type(U"tomake ");
  ASSERT_TRUE(write_snapshot(engine));
  EXPECT_EQ(render(read_document<UserDictionaryDocument>(dir / "user-dictionary.json")),
            "reset \"\" | তোমাকে{1 u" + t(kNow) + " d0} | tombstones ");
}

// ---- reloading what another writer changed

TEST(LearningReloadTest, ReloadTakesAnotherWritersChangesAndKeepsItsOwn) {
  TempFolder dir;
  FixedClock clock(kNow);
  ScopedEnv data("TOLVANI_DATA_DIR", dir.path().string());
  EngineClient engine;
  engine.config(8, kDefaultFlags);
  // This session's own learning, not saved yet (far from a background save).
  engine.type(U"tomake tomake ");
  EXPECT_FALSE(fs::exists(dir / "user-dictionary.json"));

  const auto before = engine.type(U"din");
  ASSERT_TRUE(find(before, "দ্বীন")) << list_of(before);
  EXPECT_EQ(before->preedit, "দিন");
  EXPECT_EQ(find(before, "দ্বীন")->kind, TOLVANI_KIND_PHONETIC);
  engine.key(TOLVANI_KEY_ESCAPE, 0);

  auto another_writer = [&](const std::string& word, int times, const std::string& raw,
                            const std::string& pick) {
    Child child(kChildTest, "store-add",
                {"TOLVANI_TEST_DIR=" + dir.path().string(), "TOLVANI_TEST_WORD=" + word,
                 "TOLVANI_TEST_TIMES=" + std::to_string(times), "TOLVANI_TEST_RAW=" + raw,
                 "TOLVANI_TEST_PICK=" + pick, "TOLVANI_TEST_NOW=" + t(kNow)});
    ASSERT_GT(child.pid(), 0);
    std::string pending;
    std::vector<std::string> lines;
    EXPECT_TRUE(read_lines(child.from_child(), 0, pending, lines));
    EXPECT_EQ(lines, std::vector<std::string>{"ok"});
    EXPECT_TRUE(exited_cleanly(child.wait()));
  };
  another_writer("দ্বীন", 3, "din", "দীন");

  EXPECT_EQ(show(take(tolvani_engine_reload_user_data(engine.get()))),
            "raw= pre= commit= status=0");
  // The file now holds both writers' words.
  const std::string at = " u" + t(kNow) + " d0}";
  EXPECT_EQ(render(read_document<UserDictionaryDocument>(dir / "user-dictionary.json")),
            "reset \"\" | তোমাকে{2" + at + " দ্বীন{3" + at + " | tombstones ");
  // And the session reads the other writer's changes: its word carries a boost, its choice
  // made twice is the reading of "din".
  const auto after = engine.type(U"din");
  EXPECT_EQ(show(after), "raw=din pre=দীন commit= status=1");
  ASSERT_TRUE(find(after, "দ্বীন")) << list_of(after);
  EXPECT_EQ(find(after, "দ্বীন")->kind, TOLVANI_KIND_USER);
  EXPECT_EQ(find(after, "দ্বীন")->score, find(before, "দ্বীন")->score + 1230);
  engine.key(TOLVANI_KEY_ESCAPE, 0);

  // When this session's dictionary cannot be saved, the reload keeps it as it is rather than
  // replacing it by the file; the next save writes it, merged with the other writer's word.
  engine.type(U"ami ");
  another_writer("কাল", 2, "", "");
  fs::remove(dir / "user-dictionary.lock");
  fs::create_directory(dir / "user-dictionary.lock");
  const uint64_t failures = tolvani_persistence_failures();
  {
    StderrCapture err;
    EXPECT_EQ(show(take(tolvani_engine_reload_user_data(engine.get()))),
              "raw= pre= commit= status=0");
    EXPECT_THAT(err.take(), ::testing::HasSubstr("cannot open store lock"));
  }
  EXPECT_EQ(tolvani_persistence_failures(), failures + 1);
  fs::remove(dir / "user-dictionary.lock");
  ASSERT_TRUE(write_snapshot(engine));
  EXPECT_EQ(render(read_document<UserDictionaryDocument>(dir / "user-dictionary.json")),
            "reset \"\" | আমি{1" + at + " কাল{2" + at + " তোমাকে{2" + at + " দ্বীন{3" + at +
                " | tombstones ");
}

}  // namespace
}  // namespace tolvani::engine
