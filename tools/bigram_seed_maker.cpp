// bigram_seed_maker OUT [--sentences FILE | --tsv FILE]...
//
// Writes the engine's seed word pairs: a JSON array of [first, following] pairs, one for every two
// adjacent words of the given texts, in text order, repeats kept (the engine counts them). A
// --sentences file holds one sentence per line ('#' starts a comment line); a --tsv file holds
// "id<TAB>sentence" lines. Words are the White_Space-separated tokens stripped of surrounding
// punctuation and normalised as the engine normalises Bangla. A pair never spans the end of a
// sentence (। ? ! ; :) or a token without Bangla letters (numbers, Latin names), which is dropped.
// The output depends only on the inputs. Exits 1 with a message when a file cannot be read.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "normalize.h"
#include "utf8.h"

namespace {

using tolvani::engine::normalize_bengali;
namespace utf8 = tolvani::engine::utf8;

bool is_sentence_end(char32_t c) {
  return c == U'\u0964' || c == U'\u0965' || c == U'?' || c == U'!' || c == U';' || c == U':';
}

bool is_punctuation(char32_t c) {
  if (is_sentence_end(c)) return true;
  switch (c) {
    case U',':
    case U'.':
    case U'"':
    case U'\'':
    case U'(':
    case U')':
    case U'[':
    case U']':
    case U'-':
    case U'\u2013':  // en dash
    case U'\u2014':  // em dash
    case U'\u2018':
    case U'\u2019':
    case U'\u201C':
    case U'\u201D':
    case U'\u2026':  // ellipsis
      return true;
    default:
      return false;
  }
}

// A Bangla letter or vowel sign; digits, currency and fraction signs do not make a word.
bool is_bangla_letter(char32_t c) { return c >= 0x0980 && c <= 0x09E3; }

struct Token {
  std::string word;  // empty: not a word
  bool ends_sentence = false;
};

Token read_token(std::string_view raw) {
  std::vector<char32_t> chars;
  for (size_t pos = 0; pos < raw.size();) chars.push_back(utf8::decode_next(raw, pos));
  Token token;
  size_t begin = 0;
  size_t end = chars.size();
  while (begin < end && is_punctuation(chars[begin])) ++begin;
  while (end > begin && is_punctuation(chars[end - 1])) {
    if (is_sentence_end(chars[end - 1])) token.ends_sentence = true;
    --end;
  }
  std::string word;
  bool bangla = false;
  for (size_t i = begin; i < end; ++i) {
    bangla = bangla || is_bangla_letter(chars[i]);
    utf8::append(word, chars[i]);
  }
  if (bangla) token.word = normalize_bengali(word);
  return token;
}

void add_sentence(std::string_view sentence,
                  std::vector<std::pair<std::string, std::string>>& out) {
  std::string previous;
  for (std::string_view raw : utf8::split_white_space(sentence)) {
    Token token = read_token(raw);
    if (!previous.empty() && !token.word.empty()) out.emplace_back(previous, token.word);
    previous = token.ends_sentence ? std::string() : std::move(token.word);
  }
}

bool read_file(const std::string& path, bool tsv,
               std::vector<std::pair<std::string, std::string>>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "bigram_seed_maker: cannot read " << path << '\n';
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    std::string_view text = line;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (tsv) {
      const size_t tab = text.find('\t');
      if (tab == std::string_view::npos) continue;
      text.remove_prefix(tab + 1);
    } else if (utf8::trim_white_space(text).starts_with('#')) {
      continue;
    }
    add_sentence(text, out);
  }
  return !in.bad();
}

void write_string(std::ostream& out, std::string_view s) {
  out << '"';
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out << '\\' << c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out << escaped;
    } else {
      out << c;
    }
  }
  out << '"';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) {
    std::cerr << "usage: bigram_seed_maker OUT [--sentences FILE | --tsv FILE]...\n";
    return 2;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string_view kind = argv[i];
    if (kind != "--sentences" && kind != "--tsv") {
      std::cerr << "bigram_seed_maker: unknown option " << kind << '\n';
      return 2;
    }
    if (!read_file(argv[i + 1], kind == "--tsv", pairs)) return 1;
  }
  const std::string path = argv[1];
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << '[';
  for (size_t i = 0; i < pairs.size(); ++i) {
    out << (i == 0 ? "[" : ",\n[");
    write_string(out, pairs[i].first);
    out << ", ";
    write_string(out, pairs[i].second);
    out << ']';
  }
  out << "]\n";
  out.close();
  if (!out) {
    std::cerr << "bigram_seed_maker: cannot write " << path << '\n';
    return 1;
  }
  return 0;
}
