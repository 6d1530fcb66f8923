// check_overrides GRAMMAR_JSON LEXICON_DIR
//
// Build-time check of the phonetic grammar's word overrides: every Bangla value must be a word of
// the lexicon sources (wordfreq-bn.tsv, subtitles-bn.txt), compared after normalisation, unless
// it is one of the few fixed spellings the engine has always shipped. Prints one line per
// offending key and exits 1; exits 0 when every value is found.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "normalize.h"

namespace {

struct FixedRow {
  std::string_view latin;
  std::string_view bangla;
};

// Rows kept whatever the word lists hold: the value of "rank" carries a zero-width joiner, "অ" and
// "র" are letters rather than words, and users rely on the others being exactly these.
constexpr FixedRow kFixedRows[] = {
    {"ami", "\u0986\u09AE\u09BF"},
    {"tumi", "\u09A4\u09C1\u09AE\u09BF"},
    {"apni", "\u0986\u09AA\u09A8\u09BF"},
    {"r", "\u09B0"},
    {"o", "\u0993"},
    {"se", "\u09B8\u09C7"},
    {"she", "\u09B8\u09C7"},
    {"achhe", "\u0986\u099B\u09C7"},
    {"ache", "\u0986\u099B\u09C7"},
    {"aw", "\u0985"},
    {"ow", "\u0985"},
    {"ha", "\u09B9\u09CD\u09AF\u09BE\u0981"},
    {"tv", "\u099F\u09BF\u09AD\u09BF"},
    {"ok", "\u0993\u0995\u09C7"},
    {"rank", "\u09B0\u200D\u09CD\u09AF\u09BE\u0982\u0995"},
    {"gaRi", "\u0997\u09BE\u09A1\u09BC\u09BF"},
    {"kiborD", "\u0995\u09C0\u09AC\u09CB\u09B0\u09CD\u09A1"},
    {"ekTi", "\u098F\u0995\u099F\u09BF"},
};

bool is_fixed_row(std::string_view latin, std::string_view bangla) {
  for (const FixedRow& row : kFixedRows) {
    if (row.latin == latin && row.bangla == bangla) return true;
  }
  return false;
}

// Adds the first field of every line of `path` (up to `separator`) to `words`, normalised.
bool read_words(const std::string& path, char separator, std::unordered_set<std::string>& words) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "[Tolvani] cannot read lexicon source " << path << "\n";
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    std::string_view field(line);
    field = field.substr(0, field.find(separator));
    if (!field.empty()) words.insert(tolvani::engine::normalize_bengali(field));
  }
  if (in.bad()) {
    std::cerr << "[Tolvani] error reading lexicon source " << path << "\n";
    return false;
  }
  return true;
}

std::optional<nlohmann::json> read_grammar(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "[Tolvani] cannot read grammar " << path << "\n";
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  nlohmann::json doc = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded()) {
    std::cerr << "[Tolvani] grammar " << path << " is not valid JSON\n";
    return std::nullopt;
  }
  return doc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: check_overrides GRAMMAR_JSON LEXICON_DIR\n";
    return 2;
  }
  const std::optional<nlohmann::json> doc = read_grammar(argv[1]);
  if (!doc) return 1;
  const auto overrides = doc->find("word_overrides");
  if (overrides == doc->end() || !overrides->is_object()) {
    std::cerr << "[Tolvani] grammar " << argv[1] << " has no \"word_overrides\" object\n";
    return 1;
  }

  const std::string dir = argv[2];
  std::unordered_set<std::string> words;
  if (!read_words(dir + "/wordfreq-bn.tsv", '\t', words) ||
      !read_words(dir + "/subtitles-bn.txt", ' ', words)) {
    return 1;
  }

  int bad = 0;
  for (const auto& [latin, value] : overrides->items()) {
    const std::string bangla = value.is_string() ? value.get<std::string>() : value.dump();
    if (value.is_string() && (is_fixed_row(latin, bangla) ||
                              words.contains(tolvani::engine::normalize_bengali(bangla)))) {
      continue;
    }
    std::cerr << "[Tolvani] override " << latin << " -> " << bangla << " is not a lexicon word\n";
    ++bad;
  }
  return bad == 0 ? 0 : 1;
}
