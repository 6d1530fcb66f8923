// Builds the engine's lexicon tables.
//
//   lexicon_builder build --sources DIR [--chat FILE] --out DIR
//                                                   from the word-frequency lists, with chat
//                                                   spellings (key<TAB>word rows) beyond the rules
//   lexicon_builder build --entries FILE --out DIR  from "key<TAB>word<TAB>frequency" rows
//   lexicon_builder validate DIR                    checks every invariant; exit 1 when one breaks
//   lexicon_builder keys WORD...                    prints the keys and chat keys of each word
//
// The frequency of a word is its share of all tokens in the lists (the larger of the two lists'
// shares), mapped geometrically onto 2..10,000 (see sources.h): order is kept, and each factor of
// ten in use is the same step on the scale.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "key_maker.h"
#include "lexicon_tables.h"
#include "normalize.h"
#include "sources.h"
#include "word_form.h"

namespace {

using tolvani::lexicon::KeyMaker;
using tolvani::lexicon::SourceEntry;

// Words at least this frequent also get the chat keys without vowels (KeyMaker::chat_keys).
constexpr uint16_t kChatFrequency = 400;
constexpr uint32_t kChatMargin = 3;
constexpr uint32_t kChatNaturalMargin = 10;

int usage() {
  std::cerr
      << "usage: lexicon_builder build (--sources DIR [--chat FILE] | --entries FILE) --out DIR\n"
         "       lexicon_builder validate DIR\n"
         "       lexicon_builder keys WORD...\n";
  return 2;
}

bool read_entries_file(const std::string& path, std::vector<SourceEntry>& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t a = line.find('\t');
    const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    if (b == std::string::npos) return false;
    SourceEntry e;
    e.key = line.substr(0, a);
    const auto mended = tolvani::lexicon::mend_word(
        tolvani::engine::normalize_bengali(line.substr(a + 1, b - a - 1)));
    if (mended.dropped) continue;
    e.word = mended.word;
    const long f = std::stol(line.substr(b + 1));
    if (f < 1 || f > 65535) return false;
    e.frequency = static_cast<uint16_t>(f);
    out.push_back(std::move(e));
  }
  return true;
}

// Rows of "key<TAB>word"; false when the file cannot be read or a row is not such a pair.
bool read_chat_file(const std::string& path,
                    std::vector<std::pair<std::string, std::string>>& out) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || !KeyMaker::in_key_alphabet(line.substr(0, tab))) return false;
    out.emplace_back(line.substr(0, tab), tolvani::engine::normalize_bengali(line.substr(tab + 1)));
  }
  return true;
}

int build(const std::string& sources, const std::string& entries_file, const std::string& chat,
          const std::string& out) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<SourceEntry> entries;
  if (!entries_file.empty()) {
    if (!read_entries_file(entries_file, entries)) {
      std::cerr << "[Tolvani] cannot read lexicon entries from " << entries_file << "\n";
      return 1;
    }
  } else {
    tolvani::lexicon::WordShares shares;
    std::string error;
    if (!tolvani::lexicon::read_sources(sources, shares, error)) {
      std::cerr << "[Tolvani] " << error << "\n";
      return 1;
    }
    for (size_t rule = 0; rule < tolvani::lexicon::kFormRuleCount; ++rule) {
      std::cout << "lexicon: " << (rule < tolvani::lexicon::kFirstDropRule ? "mended " : "dropped ")
                << shares.by_rule[rule].size() << " words: "
                << tolvani::lexicon::form_rule_name(static_cast<tolvani::lexicon::FormRule>(rule))
                << "\n";
    }
    std::unordered_map<std::string, std::vector<std::string>> chat_rows;
    std::unordered_map<std::string, std::string> chat_owner;  // a data key is its word's alone
    if (!chat.empty()) {
      std::vector<std::pair<std::string, std::string>> rows;
      if (!read_chat_file(chat, rows)) {
        std::cerr << "[Tolvani] cannot read chat spellings from " << chat << "\n";
        return 1;
      }
      for (auto& [key, word] : rows) {
        chat_owner[key] = word;
        chat_rows[word].push_back(key);
      }
    }
    const KeyMaker maker;
    size_t words = 0, keys = 0, exact = 0, keyless = 0, dropped = 0;
    std::vector<std::pair<std::string, tolvani::lexicon::WordKeys>> made;
    // A variant key must not bury a more frequent word that has it as its own spelling.
    std::unordered_map<std::string, uint16_t> primary_peak;
    // The same for the keys that spell a word as it sounds.
    std::unordered_map<std::string, uint16_t> natural_peak;
    for (const auto& [word, share] : shares.shares) {
      if (word.size() > 255) continue;
      tolvani::lexicon::WordKeys k = maker.make_keys(word);
      if (k.keys.empty()) {
        ++keyless;
        continue;
      }
      const uint16_t frequency = tolvani::lexicon::frequency_for_share(share);
      for (size_t i = 0; i < k.primary; ++i) {
        uint16_t& peak = primary_peak[k.keys[i]];
        peak = std::max(peak, frequency);
      }
      if (k.primary > 0) {
        uint16_t& peak = natural_peak[k.keys[k.primary - 1]];
        peak = std::max(peak, frequency);
      }
      made.emplace_back(word, std::move(k));
    }
    size_t chat_words = 0, chat_keys = 0, chat_dropped = 0;
    for (const auto& [word, k] : made) {
      const uint16_t frequency = tolvani::lexicon::frequency_for_share(shares.shares.at(word));
      ++words;
      exact += k.first_is_exact;
      // A variant must not bury a more frequent word that has it as its own key. A chat key
      // takes the key that spells another word as it sounds only from a word used a tenth as
      // often or less ("kmn"), and another word's exact key only from one used a third as often
      // or less ("ase": আছে before আসে).
      auto buries = [&](const std::unordered_map<std::string, uint16_t>& peaks,
                        const std::string& key, uint32_t margin) {
        const auto it = peaks.find(key);
        return it != peaks.end() && uint32_t{it->second} * margin > frequency;
      };
      for (size_t i = 0; i < k.keys.size(); ++i) {
        if (i >= k.primary && buries(primary_peak, k.keys[i], 1)) {
          ++dropped;
          continue;
        }
        ++keys;
        entries.push_back({word, k.keys[i], frequency});
      }
      const bool common = frequency >= kChatFrequency;
      chat_words += common;
      std::vector<std::string> chat = maker.chat_keys(word, common);
      if (const auto it = chat_rows.find(word); it != chat_rows.end()) {
        for (const std::string& key : it->second) {
          if (std::find(k.keys.begin(), k.keys.end(), key) == k.keys.end() &&
              std::find(chat.begin(), chat.end(), key) == chat.end()) {
            chat.push_back(key);
          }
        }
      }
      for (const std::string& key : chat) {
        const auto owner = chat_owner.find(key);
        if ((owner != chat_owner.end() && owner->second != word) ||
            buries(natural_peak, key, kChatNaturalMargin) ||
            buries(primary_peak, key, kChatMargin)) {
          ++chat_dropped;
          continue;
        }
        ++chat_keys;
        entries.push_back({word, key, frequency});
      }
    }
    std::cout << "lexicon: " << chat_keys << " chat keys, vowels left out for the " << chat_words
              << " words of frequency " << kChatFrequency << " or more, " << chat_dropped
              << " left out for another word's own key\n";
    std::cout << "lexicon: " << shares.rows_read << " rows read, " << words << " words with "
              << keys << " keys (" << static_cast<double>(keys) / static_cast<double>(words)
              << " per word), first key spells the word exactly for " << exact << " ("
              << 100.0 * static_cast<double>(exact) / static_cast<double>(words) << "%), "
              << keyless << " words without a typeable key left out, " << dropped
              << " variant keys dropped for a more frequent word's own key\n";
  }
  std::string error;
  if (!tolvani::lexicon::write_tables(std::move(entries), out, error)) {
    std::cerr << "[Tolvani] " << error << "\n";
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "lexicon: tables written to " << out << " in " << seconds << " s\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  if (args[0] == "build") {
    std::string sources, entries, chat, out;
    for (size_t i = 1; i + 1 < args.size(); i += 2) {
      if (args[i] == "--sources") {
        sources = args[i + 1];
      } else if (args[i] == "--entries") {
        entries = args[i + 1];
      } else if (args[i] == "--chat") {
        chat = args[i + 1];
      } else if (args[i] == "--out") {
        out = args[i + 1];
      } else {
        return usage();
      }
    }
    if (out.empty() || sources.empty() == entries.empty()) return usage();
    return build(sources, entries, chat, out);
  }
  if (args[0] == "validate" && args.size() == 2) {
    const std::vector<std::string> problems = tolvani::lexicon::validate_tables(args[1]);
    for (const std::string& p : problems) std::cerr << "[Tolvani] lexicon: " << p << "\n";
    if (!problems.empty()) return 1;
    std::cout << "lexicon: " << args[1] << " keeps every invariant\n";
    return 0;
  }
  if (args[0] == "keys") {
    const KeyMaker maker;
    for (size_t i = 1; i < args.size(); ++i) {
      const std::string word = tolvani::engine::normalize_bengali(args[i]);
      const auto made = maker.make_keys(word);
      std::cout << word << "\t" << (made.first_is_exact ? "exact" : "-");
      for (const auto& k : made.keys) std::cout << "\t" << k;
      std::cout << "\tchat:";
      for (const auto& k : maker.chat_keys(word, true)) std::cout << "\t" << k;
      std::cout << "\n";
    }
    return 0;
  }
  return usage();
}
