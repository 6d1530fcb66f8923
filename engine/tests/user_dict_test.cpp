// The user dictionary as ranking, the session and the file see it: bonuses, adds and tombstones,
// the size cap, decay, normalisation at load, and what a sync merges, prunes and writes.
#include "user_dict.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "store_test_util.h"
#include "word_form.h"

namespace tolvani::engine {
namespace {

using namespace store_test;

constexpr uint64_t kDay = 86'400;
constexpr uint64_t kThirtyDays = 30 * kDay;

UserEntry entry(uint32_t frequency, uint64_t last_used, uint64_t last_decay = 0) {
  return UserEntry{.last_used = last_used, .last_decay = last_decay, .frequency = frequency};
}

TEST(UserDictionaryTest, BoostFor) {
  TempFolder dir;
  constexpr uint64_t kNow = 100 * kDay;
  FixedClock clock(kNow);
  struct Row {
    uint32_t frequency;
    uint64_t last_used;
    uint32_t expected;
  };
  const Row rows[] = {
      {250, kNow - 600, 2'000},
      {3, 0, 1'030},
      {3, kNow - 7'200, 1'130},
      {3, kNow - 7'199, 1'230},
      {1, kNow - kThirtyDays, 1'010},
      {50, kNow - 89'999, 1'600},
      {50, kNow - 90'000, 1'550},
      {50, kNow - 608'399, 1'550},
      {50, kNow - 608'400, 1'500},
      {100, 0, 2'000},
      {0, kNow, 1'200},
      {1, kNow + 100, 1'210},
      {UINT32_MAX, kNow, 2'000},
  };
  for (const Row& row : rows) {
    UserDictionaryDocument doc;
    doc.words["word"] = entry(row.frequency, row.last_used);
    const UserDictionary dict(dir / "unused.json", doc);
    EXPECT_EQ(dict.boost_for("word"), row.expected)
        << "frequency " << row.frequency << ", last used " << row.last_used;
    EXPECT_EQ(dict.boost_for("other"), 0u);
  }
}

TEST(UserDictionaryTest, AddRenewsWordsAfterTheirTombstones) {
  TempFolder dir;
  constexpr uint64_t kNow = 1'000'000;
  FixedClock clock(kNow);
  UserDictionaryDocument doc;
  doc.tombstones["later"] = kNow + 500;  // the clock went back
  doc.tombstones["forever"] = kTombstoneForever;
  doc.tombstones["past"] = 10;
  doc.words["past"] = entry(2, 5);
  UserDictionary dict(dir / "unused.json", doc);
  const uint64_t revision = dict.writer().revision();

  for (const char* ignored : {"forever", "", "a\xff"}) dict.add(ignored);
  EXPECT_EQ(dict.writer().revision(), revision);
  EXPECT_EQ(dict.pending_changes(), 0u);

  dict.add("later");
  dict.add("past");
  dict.add("new");
  clock.set(kNow - 100);
  dict.add("new");
  EXPECT_EQ(render(dict.document()),
            "reset \"\" | later{1 u1000501 d0} new{2 u1000000 d0} past{3 u1000000 d0} | "
            "tombstones forever=18446744073709551615 later=1000500 past=10");
  EXPECT_FALSE(tombstoned(dict.tombstones(), "later", *dict.find("later")));
  EXPECT_EQ(dict.writer().revision(), revision + 4);
  EXPECT_EQ(dict.pending_changes(), 4u);
}

TEST(UserDictionaryTest, TwentiethAddRequestsABackgroundSave) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  UserDictionary dict(path);
  for (int i = 0; i < 19; ++i) dict.add("w" + std::to_string(i));
  EXPECT_EQ(dict.pending_changes(), 19u);
  test_wait_for_persistence_worker();
  EXPECT_FALSE(fs::exists(path));

  dict.add("w19");
  EXPECT_EQ(dict.pending_changes(), 0u);
  test_wait_for_persistence_worker();
  EXPECT_EQ(read_document<UserDictionaryDocument>(path).words.size(), 20u);
  EXPECT_FALSE(dict.has_unsaved_changes());
  dict.add("w20");
  EXPECT_EQ(dict.pending_changes(), 1u);
}

TEST(UserDictionaryTest, AddBeyondTheCapKeepsTheNineThousandStrongest) {
  TempFolder dir;
  constexpr uint64_t kNow = 3'600 * 10'000;
  FixedClock clock(kNow);
  struct Row {
    std::string what;
    UserEntry weak;    // 1,001 words
    UserEntry strong;  // 8,999 words
    bool new_survives;
  };
  const Row rows[] = {
      {"weak words never used", entry(1, 0), entry(50, kNow), true},
      {"all stronger than the new word", entry(40, kNow), entry(50, kNow), false},
  };
  for (const Row& row : rows) {
    UserDictionaryDocument doc;
    for (int i = 0; i < 1'001; ++i) doc.words["weak" + std::to_string(i)] = row.weak;
    for (int i = 0; i < 8'999; ++i) doc.words["strong" + std::to_string(i)] = row.strong;
    UserDictionary dict(dir / "unused.json", doc);
    dict.add("new");
    EXPECT_EQ(dict.words().size(), 9'000u) << row.what;
    EXPECT_EQ(dict.contains("new"), row.new_survives) << row.what;
    int strong = 0;
    for (const auto& [word, e] : dict.words()) strong += word.starts_with("strong");
    EXPECT_EQ(strong, 8'999) << row.what;
    EXPECT_TRUE(dict.tombstones().empty()) << row.what;
    // Every word held is found, and evicted ones are not (the quick filter in front of the map
    // may only ever say "maybe").
    for (const auto& [word, e] : dict.words()) ASSERT_TRUE(dict.contains(word)) << word;
    int found = 0;
    for (int i = 0; i < 1'001; ++i) found += dict.contains("weak" + std::to_string(i));
    EXPECT_EQ(found, row.new_survives ? 0 : 1) << row.what;
  }
}

TEST(UserDictionaryTest, WordFilterNeverMissesAndRarelyMistakes) {
  WordFilter filter;
  std::vector<std::string> words;
  for (int i = 0; i < 10'000; ++i) words.push_back("শব্দ" + std::to_string(i * 7'919));
  for (const std::string& w : words) filter.add(w);
  for (const std::string& w : words) ASSERT_TRUE(filter.may_contain(w)) << w;
  for (const std::string& w : {std::string(), std::string("a"), std::string(100, 'x')}) {
    filter.add(w);
    EXPECT_TRUE(filter.may_contain(w));
  }
  int mistaken = 0;
  for (int i = 0; i < 10'000; ++i) mistaken += filter.may_contain("অন্য" + std::to_string(i));
  EXPECT_LT(mistaken, 1'000);  // about 2 % at this size
  filter.clear();
  EXPECT_FALSE(filter.may_contain(words[0]));
}

TEST(UserDictionaryTest, DecayAtTheThirtyDayBoundary) {
  TempFolder dir;
  constexpr uint64_t kNow = 100'000'000;
  FixedClock clock(kNow);
  UserDictionaryDocument doc;
  doc.words["exact"] = entry(5, kNow - kThirtyDays);
  doc.words["five"] = entry(5, kNow - kThirtyDays - 1);
  doc.words["two"] = entry(2, kNow - kThirtyDays - 1);
  doc.words["decayed"] = entry(1, 0, kNow - kThirtyDays - 1);
  doc.words["decayed recently"] = entry(3, 0, kNow - 10);
  doc.tombstones["two"] = kTombstoneForever;
  UserDictionary dict(dir / "user-dictionary.json", doc);
  const uint64_t revision = dict.writer().revision();

  EXPECT_TRUE(dict.decay());
  EXPECT_EQ(render(dict.document()),
            "reset \"\" | decayed recently{3 u0 d99999990} exact{5 u97408000 d0} "
            "five{4 u97407999 d100000000} | tombstones decayed=97408000 two=97408000");
  EXPECT_EQ(dict.writer().revision(), revision + 1);
  EXPECT_EQ(dict.pending_changes(), 0u);
  test_wait_for_persistence_worker();
  EXPECT_FALSE(dict.has_unsaved_changes());
  EXPECT_TRUE(fs::exists(dir / "user-dictionary.json"));

  EXPECT_FALSE(dict.decay());
  EXPECT_EQ(dict.writer().revision(), revision + 1);
}

TEST(UserDictionaryTest, KnownPlacesFollowEveryWordThatComesOrGoes) {
  TempFolder dir;
  constexpr uint64_t kNow = 100'000'000;
  FixedClock clock(kNow);
  static const std::array<uint32_t, 6> kIds = {10, 11, 12, 13, 14, 15};
  const std::span<const uint32_t> ids(kIds);
  const auto word_of = [](uint32_t id) {
    static const std::array<std::string, 6> kWords = {"ক", "খ", "গ", "ঘ", "ঙ", "চ"};
    return std::string_view(kWords[id - 10]);
  };
  UserDictionaryDocument doc;
  doc.words["খ"] = entry(5, kNow);
  doc.words["ঘ"] = entry(1, kNow - kThirtyDays - 1);  // decays away
  UserDictionary dict(dir / "user-dictionary.json", doc);
  EXPECT_EQ(dict.known_places(ids, word_of), (std::vector<uint32_t>{1, 3}));
  dict.add("চ");
  EXPECT_EQ(dict.known_places(ids, word_of), (std::vector<uint32_t>{1, 3, 5}));
  dict.add("খ");  // known already: nothing to forget
  EXPECT_EQ(dict.known_places(ids, word_of), (std::vector<uint32_t>{1, 3, 5}));
  EXPECT_TRUE(dict.decay());
  EXPECT_EQ(dict.known_places(ids, word_of), (std::vector<uint32_t>{1, 5}));
  // A slice of the same list is asked about on its own.
  EXPECT_EQ(dict.known_places(ids.first(3), word_of), (std::vector<uint32_t>{1}));
  // The words starting with a text, in byte order, one more than asked telling there are more.
  dict.add("খা");
  EXPECT_EQ(dict.words_starting_with("খ", 5), (std::vector<std::string_view>{"খ", "খা"}));
  EXPECT_EQ(dict.words_starting_with("", 1).size(), 2u);
  EXPECT_TRUE(dict.words_starting_with("ঘ", 5).empty());
  test_wait_for_persistence_worker();
}

TEST(UserDictionaryTest, LoadBringsWordsToNormalForm) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  constexpr uint64_t kNow = 50'000'000;
  FixedClock clock(kNow);
  const std::string composed = "\u0995\u09CB";          // কো
  const std::string decomposed = "\u0995\u09C7\u09BE";  // the same, decomposed
  UserDictionaryDocument doc;
  doc.words[decomposed] = entry(3, 10);
  doc.words[composed] = entry(2, 20, 5);
  doc.words["plain"] = entry(1, 0);
  write_document(path, doc);

  UserDictionary dict = UserDictionary::load(path);
  EXPECT_EQ(render(dict.document()),
            "reset \"\" | plain{1 u50000000 d0} " + composed + "{5 u20 d5} | tombstones ");
  EXPECT_TRUE(dict.has_unsaved_changes());
  ASSERT_TRUE(dict.sync());
  const auto written = read_document<UserDictionaryDocument>(path);
  EXPECT_TRUE(written.words.contains(composed));
  EXPECT_FALSE(written.words.contains(decomposed));

  // Words already in normal form load clean, even when their last use was unknown.
  UserDictionaryDocument normal;
  normal.words["plain"] = entry(1, 0);
  write_document(path, normal);
  const UserDictionary clean = UserDictionary::load(path);
  EXPECT_FALSE(clean.has_unsaved_changes());
  EXPECT_EQ(clean.find("plain")->last_used, kNow);
}

// A file whose one long word is a single character of 500,000 combining marks in the order that
// canonical reordering must reverse (2 MB; normalising it once took minutes): the load leaves the
// word out unread, and a word whose normal form is past the bound after normalising it, keeps and
// normalises the others, and the next sync writes the file without them.
TEST(UserDictionaryTest, LoadLeavesOutAWordOfEndlessMarks) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  FixedClock clock(50'000'000);
  std::string marks;
  for (int i = 0; i < 250'000; ++i) marks += "\u0301\u0316";  // classes 230, then 220
  UserDictionaryDocument doc;
  doc.words["a" + marks] = entry(9, 10);
  doc.words["\u0986\u09AE\u09BF"] = entry(3, 10);        // আমি
  doc.words["\u0995\u09C7\u09BE\u09A8"] = entry(5, 10);  // কোন, decomposed
  doc.tombstones["b" + marks] = 7;
  std::string growing = "c";  // 1,151 bytes, whose normal form is twice as long
  for (int i = 0; i < 575; ++i) growing += "\u0344";
  doc.words[growing] = entry(4, 10);
  write_document(path, doc);
  ASSERT_GT(fs::file_size(path), 2'000'000u);

  const UserDictionary dict = UserDictionary::load(path);
  EXPECT_EQ(render(dict.document()),
            "reset \"\" | \u0986\u09AE\u09BF{3 u10 d0} \u0995\u09CB\u09A8{5 u10 d0} | tombstones ");
  ASSERT_TRUE(dict.sync());
  EXPECT_EQ(render(read_document<UserDictionaryDocument>(path)), render(dict.document()));
  EXPECT_LT(fs::file_size(path), 200u);
}

// A load tells most words normal at a glance and normalises the rest: either way a word is kept
// as its own form exactly when normalising gives it back. Words the glance turns away although
// they are normal (a joiner elsewhere than after ত্, a long run of marks in order) load clean.
TEST(UserDictionaryTest, WordsAreNormalExactlyWhenNormalisingGivesThemBack) {
  std::string ordered_marks = "a";
  for (int i = 0; i < 20; ++i) ordered_marks += "\u0316";  // one class: in order
  std::string unordered_marks = "a";
  for (int i = 0; i < 20; ++i) unordered_marks += "\u0301\u0316";  // 230 before 220
  const std::vector<std::pair<std::string, bool>> words = {
      {"\u0986\u09AE\u09BF", true},        // আমি
      {"\u0995\u09CB", true},              // কো
      {"\u0995\u09C7\u09BE", false},       // কো, decomposed
      {"\u09AF\u09BC", true},              // য় stays decomposed
      {"\u09DF", false},                   // and its precomposed form does not
      {"\u0995\u09CD\u200D\u09B7", true},  // a joiner in a conjunct
      {"\u09A4\u09CD\u200D", false},       // becomes ৎ
      {"\u0995\uFEFF\u09BE", false},
      {"a\u00A0b", false},
      {" \u0986\u09AE\u09BF", false},
      {"\u0986\u09AE\u09BF\u3000", false},
      {"plain", true},
      {"two words", true},
      {"plain ", false},
      {"", false},
      {"\xFF\xFE", false},
      {ordered_marks, true},
      {unordered_marks, false},
      {std::string(word_form::kMaxWordBytes, 'a'), true},
      {std::string(word_form::kMaxWordBytes + 1, 'a'), false},
  };
  for (const auto& [word, normal] : words) {
    const std::optional<std::string> form = word_form::stored_word(word);
    EXPECT_EQ(form && *form == word, normal) << word;
    EXPECT_EQ(word_form::is_stored_word(word), normal) << word;
  }

  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  FixedClock clock(50'000'000);
  UserDictionaryDocument doc;
  doc.words["\u0995\u09CD\u200D\u09B7"] = entry(2, 10);
  doc.words[ordered_marks] = entry(3, 10);
  write_document(path, doc);
  const UserDictionary clean = UserDictionary::load(path);
  EXPECT_FALSE(clean.has_unsaved_changes());
  EXPECT_EQ(clean.words().size(), 2u);
}

// Regression: the sync merged the file's decomposed word back in beside its normal form, so the
// file never became normal and each later load added the old count into the word again.
TEST(UserDictionaryTest, NormalisedWordIsNotCountedAgainAtEveryLoad) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  FixedClock clock(50'000'000);
  UserDictionaryDocument doc;
  doc.words["\u0995\u09C7\u09BE"] = entry(3, 10);
  doc.words["\u0995\u09CB"] = entry(2, 20);
  write_document(path, doc);
  for (int round = 0; round < 3; ++round) {
    const UserDictionary dict = UserDictionary::load(path);
    EXPECT_EQ(dict.words().size(), 1u) << round;
    EXPECT_EQ(dict.find("\u0995\u09CB")->frequency, 5u) << round;
    ASSERT_TRUE(dict.sync()) << round;
    EXPECT_EQ(read_document<UserDictionaryDocument>(path).words.size(), 1u) << round;
  }
}

// Deleted words leave tombstones that outlive them for 90 days: without a cap, a file of deletions
// grows without end, and every later start reads it all before its first key.
TEST(UserDictionaryTest, SyncKeepsTheNineThousandNewestTombstones) {
  TempFolder dir;
  constexpr uint64_t kNow = 1'000'000'000;
  FixedClock clock(kNow);
  const fs::path path = dir / "user-dictionary.json";
  UserDictionaryDocument file;
  for (uint64_t i = 0; i < 12'000; ++i) file.tombstones["t" + std::to_string(i)] = kNow - i;
  file.tombstones["gone for ever"] = kTombstoneForever;
  // Hidden by a tombstone among the newest, and by one among the oldest.
  file.words["t5"] = entry(3, kNow - 20'000);
  file.words["t11000"] = entry(3, kNow - 20'000);
  std::string bytes;
  std::string error;
  ASSERT_TRUE(encode_document(file, bytes, error)) << error;
  write_file(path, bytes);

  UserDictionary dict = UserDictionary::load(path);
  dict.add("new");
  ASSERT_TRUE(dict.sync());
  const auto written = read_document<UserDictionaryDocument>(path);
  EXPECT_EQ(written.tombstones.size(), kTombstonesKept);
  EXPECT_EQ(written.tombstones.count("gone for ever"), 1u);
  EXPECT_EQ(written.tombstones.count("t0"), 1u);
  EXPECT_EQ(written.tombstones.count("t8998"), 1u);
  EXPECT_EQ(written.tombstones.count("t8999"), 0u);
  EXPECT_EQ(written.tombstones.count("t11999"), 0u);
  // The merge hides before the cap drops: a word hidden by an old tombstone stays gone.
  EXPECT_EQ(written.words.size(), 1u);
  EXPECT_TRUE(written.words.contains("new"));

  // At the cap nothing goes.
  UserDictionaryDocument at_cap;
  for (uint64_t i = 0; i < kTombstoneCap; ++i) at_cap.tombstones["t" + std::to_string(i)] = kNow;
  ASSERT_TRUE(encode_document(at_cap, bytes, error)) << error;
  write_file(path, bytes);
  UserDictionary again = UserDictionary::load(path);
  again.add("new");
  ASSERT_TRUE(again.sync());
  EXPECT_EQ(read_document<UserDictionaryDocument>(path).tombstones.size(), kTombstoneCap);
}

TEST(UserDictionaryTest, SyncMergesTheFileWord) {
  constexpr uint64_t kNow = 1'000'000'000;
  FixedClock clock(kNow);
  const uint64_t recent = kNow - 1'000;
  struct Row {
    std::string what;
    std::optional<UserEntry> mine;
    std::optional<uint64_t> my_tombstone;
    std::optional<UserEntry> theirs;
    std::optional<uint64_t> their_tombstone;
    std::string written;
  };
  const Row rows[] = {
      {"file decayed later",
       entry(9, recent, 100),
       {},
       entry(4, recent - 1, 200),
       {},
       "w{4 u999999000 d200}"},
      {"same decay, larger count",
       entry(9, recent, 100),
       {},
       entry(4, recent + 1, 100),
       {},
       "w{9 u999999001 d100}"},
      {"mine decayed later",
       entry(9, recent, 300),
       {},
       entry(12, recent + 5, 200),
       {},
       "w{9 u999999005 d300}"},
      {"only in the file", {}, {}, entry(4, recent, 7), {}, "w{4 u999999000 d7}"},
      {"hidden by my tombstone", {}, recent + 1, entry(4, recent), {}, ""},
      {"hidden by the file's tombstone", entry(3, recent), {}, {}, recent, ""},
      {"deleted for ever", entry(50, kNow), {}, {}, kTombstoneForever, ""},
      {"used after the deletion", entry(5, kNow), {}, {}, recent, "w{5 u1000000000 d0}"},
  };
  for (const Row& row : rows) {
    TempFolder dir;
    const fs::path path = dir / "user-dictionary.json";
    UserDictionaryDocument file;
    if (row.theirs) file.words["w"] = *row.theirs;
    if (row.their_tombstone) file.tombstones["w"] = *row.their_tombstone;
    write_document(path, file);
    UserDictionaryDocument mine;
    if (row.mine) mine.words["w"] = *row.mine;
    if (row.my_tombstone) mine.tombstones["w"] = *row.my_tombstone;
    const UserDictionary dict(path, mine);
    ASSERT_TRUE(dict.sync()) << row.what;
    const auto written = read_document<UserDictionaryDocument>(path);
    EXPECT_EQ(render_map(written.words,
                         [](const UserEntry& e) {
                           return "{" + std::to_string(e.frequency) + " u" +
                                  std::to_string(e.last_used) + " d" +
                                  std::to_string(e.last_decay) + "}";
                         }),
              row.written)
        << row.what;
    // The session's own dictionary is never changed by a sync.
    EXPECT_EQ(render(dict.document()), render(mine)) << row.what;
  }
}

TEST(UserDictionaryTest, SyncPrunesBeforeWriting) {
  TempFolder dir;
  const fs::path path = dir / "user-dictionary.json";
  constexpr uint64_t kNow = 1'000'000'000;
  FixedClock clock(kNow);
  UserDictionaryDocument doc;
  doc.words["rare idle"] = entry(2, kNow - kThirtyDays - 1);
  doc.words["rare at the limit"] = entry(2, kNow - kThirtyDays);
  doc.words["frequent idle"] = entry(3, kNow - 10 * kThirtyDays);
  doc.tombstones["expired"] = kNow - 90 * kDay - 1;
  doc.tombstones["at ninety days"] = kNow - 90 * kDay;
  doc.tombstones["for ever"] = kTombstoneForever;
  const UserDictionary dict(path, doc);
  ASSERT_TRUE(dict.sync());
  EXPECT_EQ(render(read_document<UserDictionaryDocument>(path)),
            "reset \"\" | frequent idle{3 u974080000 d0} rare at the limit{2 u997408000 d0} | "
            "tombstones at ninety days=992224000 for ever=18446744073709551615");

  // A merge that passes the cap is evicted in the file only.
  UserDictionaryDocument many;
  for (int i = 0; i < 6'000; ++i) many.words["file" + std::to_string(i)] = entry(3, kNow);
  write_document(path, many);
  UserDictionaryDocument mine;
  for (int i = 0; i < 5'000; ++i) mine.words["mine" + std::to_string(i)] = entry(9, kNow);
  const UserDictionary big(path, mine);
  ASSERT_TRUE(big.sync());
  const auto written = read_document<UserDictionaryDocument>(path);
  EXPECT_EQ(written.words.size(), 9'000u);
  for (int i = 0; i < 5'000; ++i) EXPECT_TRUE(written.words.contains("mine" + std::to_string(i)));
  EXPECT_EQ(big.words().size(), 5'000u);
}

}  // namespace
}  // namespace tolvani::engine
