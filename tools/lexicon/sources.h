// Reading the word-frequency lists into one frequency per normalised Bangla word.
#ifndef TOLVANI_TOOLS_LEXICON_SOURCES_H_
#define TOLVANI_TOOLS_LEXICON_SOURCES_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "word_form.h"

namespace tolvani::lexicon {

// Each word's share of all tokens, from both lists. Words are normalised with the engine's
// normaliser; only words written wholly in Bangla letters and signs are kept, mended or dropped
// by the spelling rules of word_form.h (a mended word's share joins the meant word's).
struct WordShares {
  std::map<std::string, double> shares;
  size_t rows_read = 0;
  size_t rows_kept = 0;
  // The distinct words each spelling rule mended or dropped.
  std::array<std::set<std::string>, kFormRuleCount> by_rule;
};

// Reads "wordfreq-bn.tsv" and "subtitles-bn.txt" in `folder`. False with `error` when a list is
// missing or unreadable.
[[nodiscard]] bool read_sources(const std::filesystem::path& folder, WordShares& out,
                                std::string& error);

// Whether a normalised word is written wholly in Bangla letters and signs (no digits, no
// punctuation, no other script), with at least one letter.
bool is_bangla_word(std::string_view word);

// The engine's frequency scale, 2 to 10,000, from a share of all tokens: geometric, so that
// equal ratios of use are equal steps, from 1e-8 (or less) at 2 to 1e-2 (or more) at 10,000.
uint16_t frequency_for_share(double share);

}  // namespace tolvani::lexicon

#endif  // TOLVANI_TOOLS_LEXICON_SOURCES_H_
