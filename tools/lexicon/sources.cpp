#include "sources.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "normalize.h"
#include "utf8.h"

namespace tolvani::lexicon {

bool is_bangla_word(std::string_view word) {
  bool letter = false;
  for (size_t pos = 0; pos < word.size();) {
    const char32_t c = engine::utf8::decode_next(word, pos);
    if (c == 0x200C || c == 0x200D) continue;  // joiners shape conjuncts
    if (c < 0x0981 || c > 0x09FF) return false;
    if (c >= 0x09E6 && c <= 0x09EF) return false;  // digits
    if ((c >= 0x0985 && c <= 0x09B9) || c == 0x09CE || (c >= 0x09DC && c <= 0x09DF)) letter = true;
  }
  return letter;
}

uint16_t frequency_for_share(double share) {
  constexpr double kLowest = -8.0;   // log10 share at frequency 2
  constexpr double kHighest = -2.0;  // log10 share at frequency 10,000
  if (!(share > 0)) return 2;
  const double t = std::clamp((std::log10(share) - kLowest) / (kHighest - kLowest), 0.0, 1.0);
  return static_cast<uint16_t>(std::lround(2.0 * std::pow(5000.0, t)));
}

namespace {

// Adds `share` to the normalised word, when it is a Bangla word.
void add(std::map<std::string, double>& shares, std::string_view raw, double share,
         WordShares& out) {
  ++out.rows_read;
  const std::string word = engine::normalize_bengali(raw);
  if (!is_bangla_word(word)) return;
  MendedWord mended = mend_word(word);
  for (size_t rule = 0; rule < kFormRuleCount; ++rule) {
    if (mended.applied[rule]) out.by_rule[rule].insert(word);
  }
  if (mended.dropped) {
    out.by_rule[static_cast<size_t>(mended.drop_rule)].insert(word);
    return;
  }
  ++out.rows_kept;
  shares[mended.word] += share;  // rows that normalise or mend alike are one word
}

}  // namespace

bool read_sources(const std::filesystem::path& folder, WordShares& out, std::string& error) {
  // wordfreq: "word<TAB>centibels", a share of 10^(-cB/100).
  std::ifstream wordfreq(folder / "wordfreq-bn.tsv");
  if (!wordfreq) {
    error = "cannot read " + (folder / "wordfreq-bn.tsv").string();
    return false;
  }
  std::map<std::string, double> from_wordfreq;
  std::string line;
  while (std::getline(wordfreq, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const double cb = std::atof(line.c_str() + tab + 1);
    add(from_wordfreq, std::string_view(line).substr(0, tab), std::pow(10.0, -cb / 100.0), out);
  }

  // Subtitles: "word<SPACE>count"; shares of the list's own total.
  std::ifstream subtitles(folder / "subtitles-bn.txt");
  if (!subtitles) {
    error = "cannot read " + (folder / "subtitles-bn.txt").string();
    return false;
  }
  std::vector<std::pair<std::string, double>> counts;
  double total = 0;
  while (std::getline(subtitles, line)) {
    const size_t space = line.rfind(' ');
    if (space == std::string::npos) continue;
    const double count = std::atof(line.c_str() + space + 1);
    total += count;
    counts.emplace_back(line.substr(0, space), count);
  }
  std::map<std::string, double> from_subtitles;
  for (const auto& [word, count] : counts) add(from_subtitles, word, count / total, out);

  // The larger share wins, so that spoken words keep the weight conversation gives them and
  // written ones the weight of text.
  out.shares = std::move(from_wordfreq);
  for (const auto& [word, share] : from_subtitles) {
    double& s = out.shares[word];
    s = std::max(s, share);
  }
  return true;
}

}  // namespace tolvani::lexicon
