#include "phonetic.h"

#include <algorithm>
#include <cstdio>

#include "embedded.h"
#include "json_reader.h"
#include "normalize.h"
#include "once_cell.h"
#include "utf8.h"

TOLVANI_EMBEDDED_DATA(grammar);

namespace tolvani::engine::phonetic {

namespace {

// ---------------------------------------------------------------------------------------------
// Reading the document

std::u32string to_chars(std::string_view s) {
  std::u32string out;
  for (size_t pos = 0; pos < s.size();) out.push_back(utf8::decode_next(s, pos));
  return out;
}

bool read_kind(const std::string& text, ConsonantKind& kind, std::string& error) {
  static constexpr std::pair<std::string_view, ConsonantKind> kKinds[] = {
      {"consonant", ConsonantKind::kConsonant},
      {"cluster", ConsonantKind::kCluster},
      {"mark", ConsonantKind::kMark},
      {"letter", ConsonantKind::kLetter}};
  for (const auto& [name, value] : kKinds) {
    if (text == name) {
      kind = value;
      return true;
    }
  }
  error =
      "unknown variant `" + text + "`, expected one of `consonant`, `cluster`, `mark`, `letter`";
  return false;
}

// Reads an array of records with `read_one`, stopping at the first error.
template <typename Rule, typename ReadOne>
bool read_rules(const json::Value* v, std::string_view name, std::vector<Rule>& out,
                std::string& error, ReadOne&& read_one) {
  if (v->kind != json::Value::Kind::kArray) {
    error = "invalid type: " + json::describe(*v) + ", expected a sequence (in `" +
            std::string(name) + "`)";
    return false;
  }
  for (const json::Value& item : v->items) {
    Rule rule;
    if (!read_one(item, rule, error)) return false;
    out.push_back(std::move(rule));
  }
  return true;
}

// A map of strings; a repeated key keeps the last value.
template <typename Put>
bool read_string_map(const json::Value* v, std::string_view name, std::string& error, Put&& put) {
  if (!v->is_object()) {
    error =
        "invalid type: " + json::describe(*v) + ", expected a map (in `" + std::string(name) + "`)";
    return false;
  }
  for (const auto& [key, value] : v->members) {
    if (value.kind != json::Value::Kind::kString) {
      error = "invalid type: " + json::describe(value) + ", expected a string (in `" +
              std::string(name) + "`)";
      return false;
    }
    put(key, value.string);
  }
  return true;
}

template <typename Rule>
void sort_and_index(std::vector<Rule>& rules,
                    std::unordered_map<char32_t, std::vector<uint16_t>>& by_first) {
  std::stable_sort(rules.begin(), rules.end(),
                   [](const Rule& a, const Rule& b) { return a.latin.size() > b.latin.size(); });
  for (size_t i = 0; i < rules.size(); ++i) {
    if (!rules[i].latin.empty())
      by_first[rules[i].latin.front()].push_back(static_cast<uint16_t>(i));
  }
}

// ---------------------------------------------------------------------------------------------
// Matching

template <typename Rule>
const Rule* first_match(const std::vector<Rule>& rules,
                        const std::unordered_map<char32_t, std::vector<uint16_t>>& by_first,
                        std::u32string_view input, size_t pos) {
  if (pos >= input.size()) return nullptr;
  const auto it = by_first.find(input[pos]);
  if (it == by_first.end()) return nullptr;
  for (uint16_t index : it->second) {
    if (matches_latin(input, pos, rules[index].latin)) return &rules[index];
  }
  return nullptr;
}

bool is_vowel_letter(char32_t c) {
  return std::u32string_view(U"aeiouAEIOU").find(c) != std::u32string_view::npos;
}

bool is_vowel_sign(char32_t c) { return (c >= 0x09BE && c <= 0x09CC) || c == 0x09D7; }

char32_t last_char(std::string_view s) {
  if (s.empty()) return 0;
  size_t pos = utf8::last_char_start(s);
  return utf8::decode_next(s, pos);
}

constexpr std::string_view kHasanta = "\u09CD";
constexpr std::string_view kRa = "\u09B0";
constexpr std::string_view kRaPhala = "\u09CD\u09B0";
constexpr std::string_view kYaPhala = "\u09CD\u09AF";
constexpr std::string_view kZwj = "\u200D";
constexpr std::string_view kYa = "\u09AF\u09BC";  // য় (decomposed)

// A ra that stays a full letter before a ya-phala needs a joiner ("rya" gives র‍্যা).
void join_ra_before_ya_phala(std::string& out) {
  if (out.ends_with(kRa) && !out.ends_with(kRaPhala)) out += kZwj;
}

// One conversion, with its two flags.
class Converter {
 public:
  Converter(const Grammar& g, std::u32string_view c, bool bangla_digits, std::string& out)
      : g_(g), c_(c), n_(c.size()), digits_(bangla_digits), out_(out) {}

  void run() {
    while (i_ < n_) step();
  }

 private:
  bool at(std::u32string_view key) const { return matches_latin(c_, i_, key); }
  char32_t ch(size_t k) const { return k < n_ ? c_[k] : 0; }
  void flags(bool both) { after_consonant_ = no_join_ = both; }

  void step() {
    const char32_t c = c_[i_];
    if (c == '`') {
      ++i_;
      after_consonant_ = false;
      return;
    }
    if (at(U"t``")) return emit("\u09CE", 3, false);
    if (at(U"rri`")) return emit("\u09C3", 4, false);
    const std::optional<VowelMatch> vowel = match_vowel(g_, c_, i_);
    if (vowel && ch(i_ + vowel->length) == '`')
      return emit(vowel->dependent, vowel->length + 1, false);
    if (c == '$') return emit("\u09F3", 1, false);
    if ((c == '.' || c == ':' || c == '^') && ch(i_ + 1) == '`') {
      utf8::append(out_, c);
      i_ += 2;
      return flags(false);
    }
    if (at(U"...")) {
      out_ += "...";
      i_ += 3;
      after_consonant_ = false;
      return;
    }
    if (digits_) {
      if (const auto it = g_.digits.find(c); it != g_.digits.end())
        return emit(it->second, 1, false);
    }
    if (!after_consonant_ && at(U"rri")) return emit("\u098B", 3, false);
    if (const MarkRule* mark = first_match(g_.marks, g_.marks_by_first, c_, i_)) {
      return emit(mark->bangla, mark->latin.size(), false);
    }
    if (at(U"rr")) return double_r();
    if (c == 'w' || c == 'W') return w();
    if (i_ == 0 && c == 'x') {
      out_ += "\u098F\u0995\u09CD\u09B8";
      i_ = 1;
      after_consonant_ = true;
      no_join_ = false;
      return;
    }
    if (c == 'y') {
      if (after_consonant_) {
        join_ra_before_ya_phala(out_);
        out_ += kYaPhala;
      } else if (i_ > 0 && utf8::is_ascii_letter(c_[i_ - 1])) {
        out_ += kYa;
      } else {
        out_ += "\u0987\u09AF\u09BC";
      }
      ++i_;
      return flags(true);
    }
    if (c == 'Y') return emit(kYa, 1, true);
    const std::optional<ConsonantMatch> consonant = match_consonant(g_, c_, i_);
    if (consonant && (!vowel || consonant->length >= vowel->length))
      return consonant_step(*consonant);
    if (vowel) return vowel_step(*vowel);
    utf8::append(out_, c);
    ++i_;
    flags(false);
  }

  void emit(std::string_view text, size_t length, bool both) {
    out_ += text;
    i_ += length;
    flags(both);
  }

  void double_r() {
    if (i_ > 0 && utf8::is_ascii_letter(c_[i_ - 1]) && !is_vowel_letter(c_[i_ - 1])) {
      if (c_[i_ - 1] != 'r') out_ += kHasanta;
      return emit("\u09B0\u09B0", 2, true);
    }
    const char32_t next = ch(i_ + 2);
    if (utf8::is_ascii_letter(next) &&
        std::u32string_view(U"aeiouAEIOUryZ").find(next) == std::u32string_view::npos) {
      return emit("\u09B0\u09CD", 2, false);  // reph: the next consonant joins without a hasanta
    }
    emit("\u09B0\u09B0", 2, true);
  }

  void w() {
    if (after_consonant_) return emit("\u09CD\u09AC", 1, true);  // ba-phala
    ++i_;
    if (match_vowel(g_, c_, i_)) {
      // The vowel stays for the next step, which writes it as a sign: "wa" gives ওয়া.
      out_ += "\u0993\u09AF\u09BC";
      return flags(true);
    }
    out_ += "\u0993";
    after_consonant_ = false;
  }

  void consonant_step(const ConsonantMatch& m) {
    if (m.bangla == kYaPhala) join_ra_before_ya_phala(out_);
    const char32_t last = last_char(out_);
    const bool single = utf8::scalar_count(m.bangla) == 1;
    const bool join = last == 0x09B0 || m.bangla == kRa ||
                      (single && last != 0 && *utf8::first_char(m.bangla) == last);
    if (after_consonant_ && !no_join_ && m.kind == ConsonantKind::kConsonant && join) {
      out_ += kHasanta;
    }
    out_ += m.bangla;
    const bool carries_vowel =
        (m.kind == ConsonantKind::kConsonant || m.kind == ConsonantKind::kCluster) &&
        !is_vowel_sign(last_char(m.bangla));
    after_consonant_ = carries_vowel && !m.ends_with_vowel;
    no_join_ = m.bangla.starts_with(kHasanta);
    i_ += m.length;
  }

  void vowel_step(const VowelMatch& v) {
    if (after_consonant_) {
      out_ += v.dependent;
    } else if (v.length == 1 && i_ > 0 && c_[i_] == 'o' && utf8::is_ascii_letter(c_[i_ - 1])) {
      out_ += c_[i_ - 1] == 'o' ? "\u0985" : "\u0993";
    } else if (v.length == 1 && (c_[i_] == 'a' || c_[i_] == 'A') && i_ > 0 &&
               is_vowel_letter(c_[i_ - 1]) && c_[i_ - 1] != 'a' && c_[i_ - 1] != 'A') {
      out_ += "\u09AF\u09BC\u09BE";  // "ia" gives ইয়া
    } else {
      out_ += v.independent;
    }
    i_ += v.length;
    flags(false);
  }

  const Grammar& g_;
  std::u32string_view c_;
  size_t n_;
  bool digits_;
  std::string& out_;
  size_t i_ = 0;
  bool after_consonant_ = false;  // the last output is a consonant still carrying its vowel
  bool no_join_ = false;          // no hasanta may go before the next consonant
};

OnceCell<Grammar> g_grammar;

}  // namespace

std::optional<Grammar> parse_grammar(std::string_view document, std::string& error) {
  json::Value root;
  if (!json::parse(document, root, error)) return std::nullopt;
  json::Record top(root, {"vowels", "consonants", "marks", "digits", "word_overrides"});
  for (std::string_view field : {"vowels", "consonants", "marks", "digits", "word_overrides"}) {
    if (top.ok() && top.get(field) == nullptr) {
      error = "missing field `" + std::string(field) + "`";
      return std::nullopt;
    }
  }
  if (!top.ok()) {
    error = top.error();
    return std::nullopt;
  }

  Grammar g;
  const bool ok =
      read_rules(top.get("vowels"), "vowels", g.vowels, error,
                 [](const json::Value& v, VowelRule& rule, std::string& err) {
                   json::Record r(v, {"latin", "independent", "dependent"});
                   std::string latin;
                   if (!r.string("latin", latin) || !r.string("independent", rule.independent) ||
                       !r.string("dependent", rule.dependent)) {
                     err = r.error();
                     return false;
                   }
                   rule.latin = to_chars(latin);
                   return true;
                 }) &&
      read_rules(top.get("consonants"), "consonants", g.consonants, error,
                 [](const json::Value& v, ConsonantRule& rule, std::string& err) {
                   json::Record r(v, {"latin", "bangla", "kind", "ends_with_vowel"});
                   std::string latin;
                   std::string kind;
                   if (!r.string("latin", latin) || !r.string("bangla", rule.bangla) ||
                       !r.string("kind", kind) ||
                       !r.boolean("ends_with_vowel", rule.ends_with_vowel, false)) {
                     err = r.error();
                     return false;
                   }
                   rule.latin = to_chars(latin);
                   return read_kind(kind, rule.kind, err);
                 }) &&
      read_rules(top.get("marks"), "marks", g.marks, error,
                 [](const json::Value& v, MarkRule& rule, std::string& err) {
                   json::Record r(v, {"latin", "bangla"});
                   std::string latin;
                   if (!r.string("latin", latin) || !r.string("bangla", rule.bangla)) {
                     err = r.error();
                     return false;
                   }
                   rule.latin = to_chars(latin);
                   return true;
                 }) &&
      read_string_map(top.get("digits"), "digits", error,
                      [&g](const std::string& key, const std::string& value) {
                        // Only one-character keys can ever match a position.
                        const std::u32string chars = to_chars(key);
                        if (chars.size() == 1) g.digits[chars[0]] = value;
                      }) &&
      read_string_map(top.get("word_overrides"), "word_overrides", error,
                      [&g](const std::string& key, const std::string& value) {
                        g.word_overrides.insert_or_assign(key, value);
                      });
  if (!ok) return std::nullopt;
  sort_and_index(g.vowels, g.vowels_by_first);
  sort_and_index(g.consonants, g.consonants_by_first);
  sort_and_index(g.marks, g.marks_by_first);
  return g;
}

std::string_view grammar_document() { return TOLVANI_EMBEDDED_VIEW(grammar); }

const Grammar& grammar() {
  return g_grammar.get_or_build([] {
    std::string error;
    std::optional<Grammar> g = parse_grammar(grammar_document(), error);
    if (!g) {
      std::fprintf(stderr, "[Tolvani] failed to parse phonetic grammar: %s\n", error.c_str());
      return Grammar{};
    }
    return std::move(*g);
  });
}

bool matches_latin(std::u32string_view input, size_t pos, std::u32string_view key) {
  return pos <= input.size() && input.size() - pos >= key.size() &&
         input.compare(pos, key.size(), key) == 0;
}

std::optional<VowelMatch> match_vowel(const Grammar& g, std::u32string_view input, size_t pos) {
  const VowelRule* rule = first_match(g.vowels, g.vowels_by_first, input, pos);
  if (rule == nullptr) return std::nullopt;
  return VowelMatch{rule->independent, rule->dependent, rule->latin.size()};
}

std::optional<ConsonantMatch> match_consonant(const Grammar& g, std::u32string_view input,
                                              size_t pos) {
  const ConsonantRule* rule = first_match(g.consonants, g.consonants_by_first, input, pos);
  if (rule == nullptr) return std::nullopt;
  return ConsonantMatch{rule->bangla, rule->kind, rule->latin.size(), rule->ends_with_vowel};
}

std::optional<VowelMatch> match_vowel(std::u32string_view input, size_t pos) {
  return match_vowel(grammar(), input, pos);
}

std::optional<ConsonantMatch> match_consonant(std::u32string_view input, size_t pos) {
  return match_consonant(grammar(), input, pos);
}

std::string convert_with_grammar(const Grammar& g, std::string_view text, bool bangla_digits) {
  const std::string_view s = normalize_phonetic_input(text);
  if (s.empty()) return {};
  if (const auto it = g.word_overrides.find(s); it != g.word_overrides.end()) return it->second;
  // Characters of the input, in a buffer each thread keeps, so that a conversion allocates only
  // its result.
  thread_local std::u32string chars;
  chars.clear();
  for (size_t pos = 0; pos < s.size();) chars.push_back(utf8::decode_next(s, pos));
  std::string out;
  out.reserve(s.size() * 3);
  Converter(g, chars, bangla_digits, out).run();
  return out;
}

std::string convert_with_options(std::string_view text, bool bangla_digits) {
  return convert_with_grammar(grammar(), text, bangla_digits);
}

bool has_explicit_case(std::string_view text) {
  for (char c : text) {
    if (c >= 'A' && c <= 'Z' &&
        std::string_view("oiudgjnrstyz").find(static_cast<char>(c - 'A' + 'a')) !=
            std::string_view::npos) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> word_override(std::string_view text) {
  const Grammar& g = grammar();
  const auto it = g.word_overrides.find(normalize_phonetic_input(text));
  if (it == g.word_overrides.end()) return std::nullopt;
  return it->second;
}

}  // namespace tolvani::engine::phonetic
