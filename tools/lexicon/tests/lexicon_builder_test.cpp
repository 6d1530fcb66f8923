#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "key_maker.h"
#include "lexicon_tables.h"
#include "sources.h"
#include "word_form.h"

namespace tolvani::lexicon {
namespace {

namespace fs = std::filesystem;

fs::path fresh_folder(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("tolvani-lexicon-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::vector<SourceEntry> sample_entries() {
  return {{"আমি", "ami", 9000},   {"আমার", "amar", 8000}, {"আম", "am", 40},
          {"কি", "ki", 721},      {"কী", "ki", 609},      {"কই", "ki", 73},
          {"ভালো", "bhalo", 300}, {"ভালো", "valo", 300},  {"ভাল", "bhalo", 150},
          {"বল", "bol", 15},      {"বোল", "bol", 5},      {"শিস", "sheesh", 4},
          {"কি", "ki", 100}};  // a repeated pair keeps its highest frequency
}

TEST(LexiconBuilderTest, TablesKeepEveryInvariantAndAreDeterministic) {
  const fs::path a = fresh_folder("a");
  const fs::path b = fresh_folder("b");
  std::string error;
  ASSERT_TRUE(write_tables(sample_entries(), a, error)) << error;
  std::vector<SourceEntry> shuffled = sample_entries();
  std::reverse(shuffled.begin(), shuffled.end());
  ASSERT_TRUE(write_tables(shuffled, b, error)) << error;
  EXPECT_EQ(validate_tables(a), std::vector<std::string>{});
  for (const char* file : kTableFiles) EXPECT_EQ(read(a / file), read(b / file)) << file;
  EXPECT_EQ(read(a / "lexicon_constants.h"), read(b / "lexicon_constants.h"));
  EXPECT_NE(read(a / "lexicon_constants.h").find("kEntryCount = 12;"), std::string::npos);
  fs::remove_all(a);
  fs::remove_all(b);
}

TEST(LexiconBuilderTest, ValidationCatchesBrokenTables) {
  const fs::path dir = fresh_folder("broken");
  std::string error;
  ASSERT_TRUE(write_tables(sample_entries(), dir, error)) << error;
  const std::string entries = read(dir / "entries.bin");

  struct Damage {
    const char* name;
    const char* file;
    std::function<std::string(std::string)> change;
  };
  const Damage damages[] = {
      {"two entries swapped", "entries.bin",
       [](std::string s) {
         std::swap_ranges(s.begin(), s.begin() + 12, s.begin() + 12);
         return s;
       }},
      {"a frequency raised inside a run", "entries.bin",
       [](std::string s) {
         s[8 + 12 * 11] = static_cast<char>(0xFF);
         s[9 + 12 * 11] = static_cast<char>(0x7F);
         return s;
       }},
      {"a truncated entry table", "entries.bin", [](std::string s) { return s.substr(0, 30); }},
      {"an exact row start moved", "exact_buckets.bin",
       [](std::string s) {
         s[8] = static_cast<char>(s[8] + 1);
         return s;
       }},
      {"folded ids out of order", "folded_ids.bin",
       [](std::string s) {
         std::swap_ranges(s.begin(), s.begin() + 4, s.end() - 4);
         return s;
       }},
      {"a bucket id list cut short", "bengali_ids.bin",
       [](std::string s) { return s.substr(0, s.size() - 4); }},
      {"a damaged word map", "lexicon_map.map",
       [](std::string s) {
         for (size_t i = s.size() - 16; i < s.size(); ++i) s[i] = 0x33;
         return s;
       }},
  };
  for (const Damage& d : damages) {
    const std::string original = read(dir / d.file);
    write(dir / d.file, d.change(original));
    EXPECT_FALSE(validate_tables(dir).empty()) << d.name;
    write(dir / d.file, original);
  }
  EXPECT_TRUE(validate_tables(dir).empty());

  // A broken word planted in the tables.
  std::vector<SourceEntry> planted = sample_entries();
  planted.push_back({"কিন্তুু", "kintu", 50});
  ASSERT_TRUE(write_tables(planted, dir, error)) << error;
  const std::vector<std::string> problems = validate_tables(dir);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("two vowel signs"), std::string::npos) << problems[0];
  fs::remove_all(dir);
}

// Each broken form of the word lists, as a reader of Bangla sees it: mended where the meant word
// is certain (and its share joins the meant word's), dropped otherwise.
TEST(LexiconBuilderTest, SourcesKeepOnlyWellFormedWords) {
  struct Row {
    const char* raw;
    const char* kept;  // nullptr: dropped
    FormRule rule;
  };
  const Row rows[] = {
      {"কোনাে", "কোনো", FormRule::kOSplit},        {"অামি", "আমি", FormRule::kAaSplit},
      {"হঠাত্", "হঠাৎ", FormRule::kOldTa},          {"এ\u200Cই", nullptr, FormRule::kJoiner},
      {"ক\u200Dরে", nullptr, FormRule::kJoiner},   {"কিন্তুু", nullptr, FormRule::kTwoSigns},
      {"এইা", nullptr, FormRule::kLoneSign},       {"াপনি", nullptr, FormRule::kLoneSign},
      {"ওক্", nullptr, FormRule::kFinalHasanta},    {"এই্", nullptr, FormRule::kFinalHasanta},
      {"সু্যোগ", nullptr, FormRule::kLoneHasanta},   {"ংক", nullptr, FormRule::kMarkAtStart},
      {"কংং", nullptr, FormRule::kRepeatedMark},   {"ক়ল", nullptr, FormRule::kStrayNukta},
      {"প্ৰথম", nullptr, FormRule::kForeignLetter},
  };
  const fs::path dir = fresh_folder("sources");
  std::string wordfreq = "কোনো\t400\nআমি\t300\nহঠাৎ\t500\nর\u200D্যাব\t600\nঅ্যাপ\t600\n";
  for (const Row& row : rows) wordfreq += std::string(row.raw) + "\t400\n";
  write(dir / "wordfreq-bn.tsv", wordfreq);
  write(dir / "subtitles-bn.txt", "আমি 10\n");
  WordShares shares;
  std::string error;
  ASSERT_TRUE(read_sources(dir, shares, error)) << error;
  for (const Row& row : rows) {
    const MendedWord mended = mend_word(row.raw);
    const size_t rule = static_cast<size_t>(row.rule);
    EXPECT_EQ(shares.by_rule[rule].count(row.raw), 1u) << row.raw;
    if (row.kept == nullptr) {
      EXPECT_TRUE(mended.dropped) << row.raw;
      EXPECT_EQ(mended.drop_rule, row.rule) << row.raw;
      EXPECT_EQ(shares.shares.count(row.raw), 0u) << row.raw;
    } else {
      EXPECT_EQ(mended.word, row.kept);
      EXPECT_TRUE(mended.applied[rule]) << row.raw;
      EXPECT_FALSE(form_problem(row.kept).broken) << row.kept;
      // The mended row's share joined the meant word's.
      EXPECT_GT(shares.shares.at(row.kept), std::pow(10.0, -4.0)) << row.kept;
    }
  }
  // Joiners where Bangla spelling uses them, and অ্য, stay.
  EXPECT_EQ(shares.shares.count("র\u200D্যাব"), 1u);
  EXPECT_EQ(shares.shares.count("অ্যাপ"), 1u);
  EXPECT_EQ(shares.shares.size(), 5u);
  fs::remove_all(dir);
}

TEST(LexiconBuilderTest, KeysAreWhatPeopleType) {
  const KeyMaker maker;
  struct Row {
    const char* word;
    std::vector<std::string> must_have;
  };
  const Row rows[] = {
      {"তোমাকে", {"tomake"}},      {"কালকে", {"kalke"}},
      {"ভালো", {"bhalo", "valo"}}, {"আমি", {"ami"}},
      {"করলাম", {"korlam"}},       {"বাংলা", {"bangla"}},
      {"শুধু", {"shudhu", "sudhu"}}, {"কিছু", {"kichu", "kichhu"}},
      {"সবসময়", {"shobshomoy"}},   {"অবস্থা", {"obostha"}},
      {"শিক্ষা", {"shikkha"}},      {"অন্য", {"onno"}},
      {"স্বামী", {"shami"}},        {"পর্যন্ত", {"porjonto"}},
  };
  for (const Row& row : rows) {
    const WordKeys made = maker.make_keys(row.word);
    ASSERT_GE(made.keys.size(), 1u) << row.word;
    EXPECT_LE(made.keys.size(), 3u) << row.word;
    for (const std::string& key : made.keys) EXPECT_TRUE(KeyMaker::in_key_alphabet(key)) << key;
    for (const std::string& key : row.must_have) {
      EXPECT_NE(std::find(made.keys.begin(), made.keys.end(), key), made.keys.end())
          << row.word << " lacks " << key;
    }
  }
  EXPECT_TRUE(maker.make_keys("তোমাকে").first_is_exact);
  EXPECT_TRUE(maker.make_keys("").keys.empty());
  EXPECT_TRUE(maker.make_keys("১২৩").keys.empty());
}

TEST(LexiconBuilderTest, ChatKeysAreWhatPeopleTypeInMessages) {
  const KeyMaker maker;
  struct Row {
    const char* word;
    bool common;
    std::vector<std::string> must_have;
    std::vector<std::string> must_not_have;
  };
  const Row rows[] = {
      {"কেমন", true, {"kmn", "kamon", "kmon"}, {"kemon"}},  // own keys are not chat keys
      {"তোমাদের", true, {"tmdr", "tmder"}, {}},
      {"আমাদের", true, {"amdr", "amder"}, {}},
      {"জানাই", true, {"jni"}, {"jnai"}},  // a last vowel that ends the word goes with the rest
      {"তুমি", true, {"tmi"}, {}},
      {"তোমার", true, {"tmr"}, {}},
      {"তোমাকে", true, {"tmk"}, {}},
      {"আমার", true, {"amr"}, {}},
      {"অনেক", true, {"onk"}, {}},
      {"আজকে", true, {"ajk"}, {}},
      {"কেন", true, {"kno"}, {}},
      {"এখন", true, {"akhon"}, {}},
      {"হইছে", false, {"hoise"}, {"hs"}},  // vowels stay in the words that are not common
      {"করছোস", false, {"korsos"}, {}},
      {"খাইছো", false, {"khaiso"}, {}},
      {"হচ্ছে", false, {"hosse"}, {}},
      {"কিছু", false, {"kisu"}, {}},
      {"ছোট", false, {"soto"}, {}},
  };
  for (const Row& row : rows) {
    const std::vector<std::string> keys = maker.chat_keys(row.word, row.common);
    auto has = [&](const std::string& key) {
      return std::find(keys.begin(), keys.end(), key) != keys.end();
    };
    for (const std::string& key : row.must_have) EXPECT_TRUE(has(key)) << row.word << " " << key;
    for (const std::string& key : row.must_not_have)
      EXPECT_FALSE(has(key)) << row.word << " " << key;
    for (const std::string& key : keys) EXPECT_TRUE(KeyMaker::in_key_alphabet(key)) << key;
  }
}

TEST(LexiconBuilderTest, FrequencyScaleKeepsOrderAndSpread) {
  EXPECT_EQ(frequency_for_share(0.5), 10000);
  EXPECT_EQ(frequency_for_share(1e-2), 10000);
  EXPECT_EQ(frequency_for_share(1e-8), 2);
  EXPECT_EQ(frequency_for_share(1e-12), 2);
  EXPECT_EQ(frequency_for_share(0), 2);
  uint16_t previous = 0;
  for (double share = 1e-8; share <= 1e-2; share *= 1.5) {
    const uint16_t f = frequency_for_share(share);
    EXPECT_GE(f, previous) << share;
    previous = f;
  }
  EXPECT_TRUE(is_bangla_word("আমি"));
  EXPECT_TRUE(is_bangla_word("র‍্যাংক"));
  EXPECT_FALSE(is_bangla_word("১২"));
  EXPECT_FALSE(is_bangla_word("আমি।"));
  EXPECT_FALSE(is_bangla_word("abc"));
  EXPECT_FALSE(is_bangla_word("ঁ"));
  EXPECT_FALSE(is_bangla_word(""));
}

}  // namespace
}  // namespace tolvani::lexicon
