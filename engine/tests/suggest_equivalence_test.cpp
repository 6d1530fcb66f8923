// suggest::suggestions_for against the plain merge of suggest_reference.cpp, over the shipped
// lexicon: typed prefixes, misspellings, long keys, autocorrect inputs and layout texts with no, a
// small and a large user dictionary; the edges of every capped scan; and tied scores. Any
// difference in text, score, kind or order fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "lexicon.h"
#include "normalize.h"
#include "phonetic.h"
#include "store_test_util.h"
#include "suggest.h"
#include "suggest_reference.h"
#include "user_dict.h"
#include "utf8.h"

namespace tolvani::engine {
namespace {

constexpr uint64_t kNow = 1'700'000'000;

std::string render(std::string_view key) {
  return normalize_bengali(phonetic::convert_with_options(key, true));
}

bool is_lower_word(std::string_view key) {
  return !key.empty() &&
         std::all_of(key.begin(), key.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// The first `chars` scalars of `text`.
std::string first_chars(std::string_view text, size_t chars) {
  size_t pos = 0;
  for (size_t i = 0; i < chars && pos < text.size(); ++i) utf8::decode_next(text, pos);
  return std::string(text.substr(0, pos));
}

std::vector<std::string> scalars_of(std::string_view text) {
  std::vector<std::string> out;
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    utf8::decode_next(text, pos);
    out.emplace_back(text.substr(start, pos - start));
  }
  return out;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += p;
  return out;
}

// Lexicon entries with plain lowercase keys, spread over five frequency bands (the top one holds
// the words typed most), `per_band` from each, taken at even steps through the table.
std::vector<LexiconEntry> sample_words(size_t per_band, size_t min_key, size_t max_key) {
  const auto band = [](uint32_t f) {
    return f >= 1'000 ? 0 : f >= 200 ? 1 : f >= 50 ? 2 : f >= 10 ? 3 : 4;
  };
  const auto usable = [&](const LexiconEntry& e) {
    return is_lower_word(e.phonetic) && e.phonetic.size() >= min_key &&
           e.phonetic.size() <= max_key && !e.bangla.empty();
  };
  std::array<size_t, 5> counts{};
  for (uint32_t id = 0; id < lexicon_size(); ++id) {
    const LexiconEntry e = lexicon_entry(id);
    if (usable(e)) ++counts[band(e.frequency)];
  }
  std::vector<LexiconEntry> out;
  std::array<size_t, 5> seen{};
  std::array<size_t, 5> taken{};
  for (uint32_t id = 0; id < lexicon_size(); ++id) {
    const LexiconEntry e = lexicon_entry(id);
    if (!usable(e)) continue;
    const size_t b = band(e.frequency);
    const size_t step = std::max<size_t>(1, counts[b] / per_band);
    if (seen[b]++ % step == 0 && taken[b] < per_band) {
      ++taken[b];
      out.push_back(e);
    }
  }
  return out;
}

// A deterministic spread of user-entry values: frequencies below, at and above the boost's cap,
// and last uses in each recency step, unknown, and in the future.
UserEntry user_entry(size_t i) {
  static constexpr uint32_t kFrequencies[] = {1, 3, 10, 42, 99, 100, 250, 70'000};
  static constexpr uint64_t kLastUsed[] = {
      0, kNow - 60, kNow - 20'000, kNow - 300'000, kNow - 5'000'000, kNow + 3'600, kNow - 1,
  };
  return UserEntry{.last_used = kLastUsed[i % std::size(kLastUsed)],
                   .last_decay = 0,
                   .frequency = kFrequencies[(i * 3 + 1) % std::size(kFrequencies)]};
}

// One entry of a bucket, picked by `salt`, whose text does not start with `avoid`: a word the
// bucket scan reads but scores only through the user's boost.
std::optional<std::string> bucket_sibling(std::span<const uint32_t> ids, size_t reach,
                                          std::string_view avoid, size_t salt, bool bangla) {
  const size_t n = std::min(ids.size(), reach);
  for (size_t tries = 0; tries < 8 && n > 0; ++tries) {
    const LexiconEntry e = lexicon_entry(ids[(salt * 131 + tries * 17) % n]);
    const std::string_view text = bangla ? e.bangla : e.phonetic;
    if (!e.bangla.empty() && !text.starts_with(avoid)) return std::string(e.bangla);
  }
  return std::nullopt;
}

struct Case {
  uint8_t mode;
  std::string key;
  std::string rendered;
};

// Cases in the order first added; a repeat is dropped.
class Cases {
 public:
  void add(uint8_t mode, std::string key, std::string rendered) {
    if (seen_.emplace(mode, key, rendered).second) {
      list_.push_back({mode, std::move(key), std::move(rendered)});
    }
  }
  // A key as the session renders it.
  void typed(const std::string& key) { add(0, key, render(key)); }
  const std::vector<Case>& list() const { return list_; }

 private:
  std::set<std::tuple<uint8_t, std::string, std::string>> seen_;
  std::vector<Case> list_;
};

struct Dictionary {
  const char* name;
  const UserDictionary* dict;
};

std::string show(const std::vector<Candidate>& list) {
  std::ostringstream out;
  for (const Candidate& c : list) {
    out << "    " << c.text << " " << c.score << " kind=" << static_cast<int>(c.kind) << "\n";
  }
  return out.str();
}

// Runs both versions on one input and keeps count; the first few differences are shown whole.
class Comparison {
 public:
  void run(const Case& c, const Dictionary& d, size_t limit, bool autocorrect) {
    const std::vector<Candidate> got =
        suggest::suggestions_for(c.mode, c.key, c.rendered, *d.dict, limit, autocorrect);
    const std::vector<Candidate> want =
        test::reference_suggestions_for(c.mode, c.key, c.rendered, *d.dict, limit, autocorrect);
    ++compared_;
    nonempty_ += !want.empty();
    for (const Candidate& w : want) ++kinds_[static_cast<size_t>(w.kind) % kinds_.size()];
    if (got == want) return;
    if (++mismatches_ <= 5) {
      ADD_FAILURE() << "mode " << int{c.mode} << " key \"" << c.key << "\" rendered \""
                    << c.rendered << "\" dictionary " << d.name << " limit " << limit
                    << " autocorrect " << autocorrect << "\n  suggestions_for:\n"
                    << show(got) << "  reference:\n"
                    << show(want);
    }
  }

  size_t compared() const { return compared_; }
  size_t mismatches() const { return mismatches_; }
  size_t nonempty() const { return nonempty_; }
  size_t seen(CandidateKind kind) const {
    return kinds_[static_cast<size_t>(kind) % kinds_.size()];
  }

 private:
  size_t compared_ = 0;
  size_t mismatches_ = 0;
  size_t nonempty_ = 0;
  std::array<size_t, 8> kinds_{};
};

// "ড়" decomposed: two scalars and six bytes that the edit distance counts as one letter.
constexpr const char* kDecomposedRra = "\u09A1\u09BC";
constexpr const char* kEmoji = "\U0001F600";

TEST(SuggestEquivalenceTest, MatchesThePlainMergeOfEveryPush) {
  store_test::FixedClock clock(kNow);

  // ---- Words to type

  const std::vector<LexiconEntry> words = sample_words(40, 2, 14);
  ASSERT_GE(words.size(), 180u);
  const std::vector<LexiconEntry> long_words = sample_words(8, 9, 20);
  ASSERT_GE(long_words.size(), 30u);

  Cases cases;
  // Every prefix of each key, as the session renders it keystroke by keystroke.
  for (const LexiconEntry& w : words) {
    for (size_t n = 1; n <= w.phonetic.size(); ++n)
      cases.typed(std::string(w.phonetic.substr(0, n)));
  }
  // Misspellings: a letter dropped, doubled or two swapped, early and late in the key.
  for (size_t i = 0; i < words.size(); i += 2) {
    const std::string k(words[i].phonetic);
    if (k.size() < 3) continue;
    for (const size_t at : {size_t{1}, k.size() / 2, k.size() - 2}) {
      cases.typed(k.substr(0, at) + k.substr(at + 1));
      cases.typed(k.substr(0, at + 1) + k.substr(at));
      std::string swapped = k;
      std::swap(swapped[at], swapped[at + 1]);
      cases.typed(swapped);
    }
  }
  // Keys that are not ASCII: their byte and character lengths part, and only the character
  // filters of the near-key scan let them through.
  for (size_t i = 0; i < words.size(); i += 4) {
    const std::string k(words[i].phonetic);
    if (k.size() < 4) continue;
    // Two edits away, at 7, 8, 9 and 10 more bytes.
    cases.typed(k.substr(0, 1) + kDecomposedRra + "\u0995" + k.substr(3));
    cases.typed(k.substr(0, 1) + kDecomposedRra + k.substr(2, 1) + "\u0995" + k.substr(3));
    cases.typed(k.substr(0, 1) + kDecomposedRra + k.substr(2, 1) + kEmoji + k.substr(3));
    cases.typed(k.substr(0, 1) + kDecomposedRra + kDecomposedRra + k.substr(3));
  }
  // Long keys, whole and misspelled past their seventh letter (the run walk) and before it.
  for (const LexiconEntry& w : long_words) {
    const std::string k(w.phonetic);
    cases.typed(k);
    cases.typed(k.substr(0, k.size() - 1));
    cases.typed(k.substr(0, 8) + k.substr(9));
    cases.typed(k.substr(0, 8) + k.substr(7));
    std::string swapped = k;
    std::swap(swapped[k.size() - 2], swapped[k.size() - 1]);
    cases.typed(swapped);
    cases.typed(k.substr(0, 3) + k.substr(4));
    cases.typed(k + "o");
    // A letter replaced by one of five more bytes, of two more, and of two more plus a letter.
    cases.typed(k.substr(0, 8) + kDecomposedRra + k.substr(9));
    cases.typed(k.substr(0, 8) + "\u0995" + k.substr(9));
    cases.typed(k.substr(0, 8) + "\u0995x" + k.substr(9));
  }
  for (size_t i = 0; i + 1 < words.size(); i += 9) {
    cases.typed(
        (std::string(words[i].phonetic) + std::string(words[i + 1].phonetic)).substr(0, 20));
  }
  // Keys ending in "yey", from keys ending in "ye".
  size_t yey = 0;
  for (uint32_t id = 0; id < lexicon_size() && yey < 40; id += 97) {
    const std::string_view k = entry_phonetic(id);
    if (is_lower_word(k) && k.size() <= 10 && k.ends_with("ye")) {
      cases.typed(std::string(k) + "y");
      ++yey;
    }
  }
  const char* const odd_keys[] = {"tdtdtdtdtd",
                                  "tdtdtdtdtdtdtdtdtdtd",
                                  "shshsh",
                                  "shshshshsh",
                                  "aaaa",
                                  "aaaaaaaaaa",
                                  "a",
                                  "o",
                                  "x",
                                  "zzzz",
                                  "kkkkkkkk",
                                  "yey",
                                  "keyey",
                                  "geyey",
                                  "dheyey",
                                  "Ami",
                                  "  ami  ",
                                  "\tKemon\u2003",
                                  "BANGLA",
                                  "bAnGlA",
                                  "Bnagla",
                                  "bnagla",
                                  "amar sonar bangla",
                                  "ami2",
                                  "123",
                                  "a1b2",
                                  "ONEk",
                                  "shObar",
                                  "bhalobashaaaaaaaaaa",
                                  "ebongebongebong"};
  for (const char* key : odd_keys) {
    cases.typed(key);
    cases.add(0, key, render(utf8::trim_white_space(key)));
  }
  // Autocorrect inputs, rendered as typed and as their own correction.
  const suggest::AutocorrectRows rows = suggest::load_autocorrect(suggest::autocorrect_document());
  ASSERT_FALSE(rows.empty());
  size_t row_index = 0;
  for (const auto& [input, output] : rows) {
    if (row_index++ % 6 != 0) continue;
    cases.typed(input);
    cases.add(0, input, output);
    cases.add(1, input, output);
  }
  // Keys whose rendering is another word, or a prefix of one.
  for (size_t i = 0; i < words.size(); i += 3) {
    const LexiconEntry& other = words[(i * 7 + 3) % words.size()];
    cases.add(0, std::string(words[i].phonetic), std::string(other.bangla));
    cases.add(0, std::string(words[i].phonetic), first_chars(other.bangla, 2));
  }
  // Texts that normalise to something else, or to nothing, and ill-formed bytes.
  cases.add(0, "ami", "");
  cases.add(0, "ami", " ");
  cases.add(0, "ami", "\u00A0\u0986\u09AE\u09BF ");
  cases.add(0, "bhat", "\u09AD\u09BE\u09A4\u09CD\u200D");
  cases.add(0, std::string("\xFF") + "ami", render("ami"));
  cases.add(0, "ami", "\xE0\xA6");
  cases.add(1, "", "\xE0\xA6\x86\xFF");
  cases.add(3, "ami", render("ami"));
  cases.add(4, "ami", render("ami"));

  // Layout typing: prefixes of words and near misses (a letter changed, dropped or added).
  const std::vector<std::string> letters = {"\u0995", "\u09B0", "\u09BE",       "\u09BF",
                                            "\u09A8", "\u09CD", "\u09AF\u09BC", "\u09C7"};
  for (size_t i = 0; i < words.size(); i += 2) {
    const uint8_t mode = i % 4 == 0 ? 1 : 2;
    const std::vector<std::string> chars = scalars_of(words[i].bangla);
    const std::string key = i % 3 == 0 ? std::string(words[i].phonetic) : std::string();
    for (size_t n = 1; n <= chars.size(); ++n) {
      cases.add(mode, key, joined({chars.begin(), chars.begin() + static_cast<std::ptrdiff_t>(n)}));
    }
    if (chars.size() < 2) continue;
    std::vector<std::string> changed = chars;
    changed[chars.size() / 2] = letters[i % letters.size()];
    cases.add(mode, key, joined(changed));
    std::vector<std::string> dropped = chars;
    dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(chars.size() - 1) / 2);
    cases.add(mode, key, joined(dropped));
    std::vector<std::string> added = chars;
    added.insert(added.begin() + 1, letters[(i / 2) % letters.size()]);
    cases.add(mode, key, joined(added));
    if (i % 4 == 0) {
      // Two characters of four bytes: the most bytes two edits can add to a Bangla word.
      std::vector<std::string> wide = chars;
      wide.insert(wide.begin() + 1, kEmoji);
      wide.push_back(kEmoji);
      cases.add(mode, key, joined(wide));
    }
  }

  // ---- User dictionaries

  const std::filesystem::path unused = std::filesystem::temp_directory_path() / "unused.json";
  const UserDictionary empty(unused);

  // Words of the queried buckets: some start with the typed text, others share only its first
  // one or two characters and so score through the boost alone; and texts the lexicon lacks.
  UserDictionaryDocument small_doc;
  size_t salt = 0;
  const auto learn = [&](UserDictionaryDocument& doc, std::string word) {
    doc.words.insert_or_assign(std::move(word), user_entry(salt++));
  };
  for (size_t i = 0; i < words.size(); i += 16) {
    const LexiconEntry& w = words[i];
    learn(small_doc, std::string(w.bangla));
    const std::string two = first_chars(w.bangla, 2);
    if (auto s = bucket_sibling(collect_indices_for_prefix(bengali_index(), two), 900,
                                first_chars(w.bangla, 3), i, true)) {
      learn(small_doc, *s);
    }
    if (auto s = bucket_sibling(collect_indices_for_prefix(bengali_index(), first_chars(two, 1)),
                                256, two, i + 1, true)) {
      learn(small_doc, *s);
    }
    if (auto s = bucket_sibling(collect_indices_for_prefix(phonetic_index(), w.phonetic), 900,
                                w.phonetic.substr(0, 3), i + 2, false)) {
      learn(small_doc, *s);
    }
  }
  for (const Case& c : cases.list()) {
    const std::string b = normalize_bengali(c.rendered);
    if (c.mode != 0 && b.size() > 6 && small_doc.words.size() < 60 && !lexicon_map().contains(b)) {
      learn(small_doc, b);
    }
  }
  learn(small_doc, render("geye"));  // what "geyey" also offers
  const UserDictionary small(unused, small_doc);

  UserDictionaryDocument large_doc = small_doc;
  for (uint32_t id = 0; id < lexicon_size(); id += 151) {
    const LexiconEntry e = lexicon_entry(id);
    if (!e.bangla.empty()) learn(large_doc, std::string(e.bangla));
  }
  for (const LexiconEntry& w : words) learn(large_doc, std::string(w.bangla));
  const UserDictionary large(unused, large_doc);
  ASSERT_GE(large.words().size(), 3'000u);

  // ---- Comparison

  const Dictionary dicts[] = {{"empty", &empty}, {"small", &small}, {"large", &large}};
  constexpr size_t kLimits[] = {0, 1, 5, 15, 20};
  Comparison comparison;
  for (size_t i = 0; i < cases.list().size(); ++i) {
    const Case& c = cases.list()[i];
    // Every case against the empty and the small dictionary, every third against the large one;
    // the limit and autocorrect rotate so that each pairing meets each setting.
    for (size_t d = 0; d < std::size(dicts); ++d) {
      if (d == 2 && i % 3 != 0) continue;
      const size_t limit = kLimits[(i + d) % std::size(kLimits)];
      const bool autocorrect = (i / 2 + d) % 2 == 0 || c.key == "bnagla";
      comparison.run(c, dicts[d], limit, autocorrect);
    }
  }
  std::printf("compared %zu calls over %zu inputs (%zu user words in the small dictionary)\n",
              comparison.compared(), cases.list().size(), small.words().size());
  EXPECT_EQ(comparison.mismatches(), 0u) << "of " << comparison.compared();

  // The inputs must reach every kind of push, or the comparison proves little.
  for (const CandidateKind kind :
       {CandidateKind::kExact, CandidateKind::kUser, CandidateKind::kPrefix,
        CandidateKind::kPhonetic, CandidateKind::kAutocorrect}) {
    EXPECT_GT(comparison.seen(kind), 0u) << static_cast<int>(kind);
  }
  EXPECT_GT(comparison.nonempty(), comparison.compared() * 9 / 10);
}

// The last id each capped scan reads and the first it leaves, boosted so that they would rank if
// read.
TEST(SuggestEquivalenceTest, MatchesAtTheEdgesOfEveryScan) {
  store_test::FixedClock clock(kNow);
  Cases cases;
  UserDictionaryDocument edge_doc;
  const auto learn = [&](std::string_view word) {
    edge_doc.words.insert_or_assign(
        std::string(word), UserEntry{.last_used = kNow - 60, .last_decay = 0, .frequency = 250});
  };
  const auto edges = [](std::span<const uint32_t> ids, size_t cap) {
    std::vector<LexiconEntry> out;
    if (ids.size() > cap) {
      out.push_back(lexicon_entry(ids[cap - 1]));
      out.push_back(lexicon_entry(ids[cap]));
    }
    return out;
  };
  // The text with its last character changed, for the near scans.
  const auto near_miss = [](std::string_view text) {
    std::vector<std::string> chars = scalars_of(text);
    chars.back() = chars.back() == "\u09BE" ? "\u09BF" : "\u09BE";
    return joined(chars);
  };
  const auto near_key = [](std::string_view key) {
    std::string k(key);
    k.back() = k.back() == 'q' ? 'x' : 'q';
    return k;
  };

  // Bangla one-character buckets: read 256 deep for a one-character text, 2,000 by the layouts'
  // near-word scan.
  for (char32_t c = 0x0980; c < 0x0A00; ++c) {
    std::string first;
    utf8::append(first, c);
    const auto ids = bengali_index().get(first);
    if (!ids) continue;
    for (const LexiconEntry& e : edges(*ids, 256)) {
      learn(e.bangla);
      cases.add(1, "", first);
    }
    for (const LexiconEntry& e : edges(*ids, 2'000)) {
      if (utf8::scalar_count(e.bangla) < 2) continue;
      learn(e.bangla);
      cases.add(c % 2 == 0 ? 1 : 2, "", near_miss(e.bangla));
    }
  }
  // Phonetic one-letter buckets: 256 deep for a one-letter key, 2,000 by the near-key scan.
  for (char c = 'a'; c <= 'z'; ++c) {
    const std::string first(1, c);
    const auto ids = phonetic_index().get(first);
    if (!ids) continue;
    for (const LexiconEntry& e : edges(*ids, 256)) {
      learn(e.bangla);
      cases.typed(first);
    }
    for (const LexiconEntry& e : edges(*ids, 2'000)) {
      if (e.phonetic.size() < 2) continue;
      learn(e.bangla);
      cases.typed(near_key(e.phonetic));
    }
  }
  // Two-character buckets of common words: 900 deep for a two-character text, 2,000 for longer.
  std::set<std::string> bangla_pairs;
  std::set<std::string> key_pairs;
  for (const LexiconEntry& w : sample_words(40, 3, 14)) {
    bangla_pairs.insert(first_chars(w.bangla, 2));
    key_pairs.insert(std::string(w.phonetic.substr(0, 2)));
  }
  for (const std::string& pair : bangla_pairs) {
    const auto ids = bengali_index().get(pair);
    if (!ids || utf8::scalar_count(pair) < 2) continue;
    for (const LexiconEntry& e : edges(*ids, 900)) {
      learn(e.bangla);
      cases.add(1, "", pair);
    }
    for (const LexiconEntry& e : edges(*ids, 2'000)) {
      const size_t n = utf8::scalar_count(e.bangla);
      if (n < 3) continue;
      learn(e.bangla);
      const std::string prefix = first_chars(e.bangla, std::max<size_t>(3, n - 1));
      cases.add(2, "", prefix);
      cases.add(0, "", prefix);
    }
  }
  for (const std::string& pair : key_pairs) {
    const auto ids = phonetic_index().get(pair);
    if (!ids) continue;
    for (const LexiconEntry& e : edges(*ids, 900)) {
      learn(e.bangla);
      cases.typed(pair);
    }
    for (const LexiconEntry& e : edges(*ids, 2'000)) {
      if (e.phonetic.size() < 3) continue;
      learn(e.bangla);
      cases.typed(std::string(e.phonetic.substr(0, std::max<size_t>(3, e.phonetic.size() - 1))));
    }
  }
  const std::filesystem::path unused = std::filesystem::temp_directory_path() / "unused.json";
  const UserDictionary empty(unused);
  const UserDictionary edge_words(unused, edge_doc);
  const Dictionary dicts[] = {{"empty", &empty}, {"edge words", &edge_words}};
  Comparison comparison;
  for (size_t i = 0; i < cases.list().size(); ++i) {
    for (const Dictionary& d : dicts) {
      comparison.run(cases.list()[i], d, i % 2 == 0 ? 15 : 20, i % 4 < 2);
    }
  }
  std::printf("compared %zu calls over %zu inputs (%zu edge words)\n", comparison.compared(),
              cases.list().size(), edge_words.words().size());
  EXPECT_EQ(comparison.mismatches(), 0u) << "of " << comparison.compared();
}

// Pushes of one word that tie: the first push's kind must survive, whatever order the sources are
// read in. The rendered text's own push (2,500) ties with its bucket push at frequency 500; a
// correction (8,000, or 10,500 when it is the rendered text) ties with a user word's later push
// when the user's boost makes up the difference.
TEST(SuggestEquivalenceTest, KeepsTheFirstKindOnTiedScores) {
  store_test::FixedClock clock(kNow);
  Cases cases;
  suggest::AutocorrectRows corrections;
  UserDictionaryDocument doc;
  // The entry that gives a word with no recent use the boost 1,000 + 10 × frequency.
  const auto learn_with_boost = [&](std::string_view word, uint32_t boost) {
    doc.words.insert_or_assign(
        std::string(word),
        UserEntry{.last_used = 0, .last_decay = 0, .frequency = (boost - 1'000) / 10});
  };
  size_t plain = 0;
  size_t by_key = 0;
  size_t by_near = 0;
  for (uint32_t id = 0; id < lexicon_size(); ++id) {
    const LexiconEntry e = lexicon_entry(id);
    if (e.bangla.empty()) continue;
    const std::string word(e.bangla);
    const std::string key(e.phonetic);
    const uint32_t f = e.frequency;
    const size_t chars = utf8::scalar_count(word);
    // A correction of a made-up input (8,000) against a layout's near-word push of a word one
    // letter off the rendered text, frequency - 100 + 700 + boost.
    if (f >= 5'400 && f <= 6'400 && f % 10 == 0 && chars >= 2 && by_near < 10 &&
        !doc.words.contains(word)) {
      ++by_near;
      const std::string input = "near" + std::to_string(id);
      corrections.insert_or_assign(input, word);
      learn_with_boost(word, 7'400 - f);
      std::vector<std::string> changed = scalars_of(word);
      changed.back() = changed.back() == "\u0995" ? "\u0996" : "\u0995";
      cases.add(1, input, joined(changed));
    }
    if (!is_lower_word(key) || key.size() < 3) continue;
    if (f == 500 && plain < 60) {
      ++plain;
      cases.add(1, "", word);
      cases.add(0, key.substr(0, key.size() - 1), word);
    }
    // A correction of the word's own key to the word, rendered as the word: 10,500 against its
    // exact-key push, frequency + 8,000 + boost.
    if (f >= 500 && f <= 1'500 && f % 10 == 0 && by_key < 30 && !doc.words.contains(word)) {
      const IdRange exact = phonetic_exact_ids(key);
      uint32_t top = 0;
      for (uint32_t other = exact.start; other < exact.end; ++other) {
        top = std::max(top, lexicon_entry(other).frequency);
      }
      if (f * 100 < top) continue;
      ++by_key;
      corrections.insert_or_assign(key, word);
      learn_with_boost(word, 2'500 - f);
      cases.add(0, key, word);
    }
  }
  ASSERT_GE(plain, 20u);
  ASSERT_GE(by_key + by_near, 10u);

  struct CorrectionsInPlace {
    explicit CorrectionsInPlace(suggest::AutocorrectRows rows) {
      suggest::test_set_autocorrect_rows(std::move(rows));
    }
    ~CorrectionsInPlace() { suggest::test_set_autocorrect_rows(std::nullopt); }
  } in_place(corrections);
  const std::filesystem::path unused = std::filesystem::temp_directory_path() / "unused.json";
  const UserDictionary empty(unused);
  const UserDictionary boosted(unused, doc);
  const Dictionary dicts[] = {{"empty", &empty}, {"boosted", &boosted}};
  Comparison comparison;
  for (const Case& c : cases.list()) {
    for (const Dictionary& d : dicts) comparison.run(c, d, 20, true);
  }
  std::printf("compared %zu calls over %zu inputs (%zu, %zu and %zu ties)\n", comparison.compared(),
              cases.list().size(), plain, by_key, by_near);
  EXPECT_EQ(comparison.mismatches(), 0u) << "of " << comparison.compared();
}

}  // namespace
}  // namespace tolvani::engine
