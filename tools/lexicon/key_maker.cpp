#include "key_maker.h"

#include <algorithm>

#include "normalize.h"
#include "phonetic.h"
#include "utf8.h"

namespace tolvani::lexicon {

namespace {

using engine::phonetic::ConsonantKind;

constexpr char32_t kHasanta = 0x09CD;
constexpr char32_t kNukta = 0x09BC;
// Nukta letters are held precomposed while parsing, so that each is one consonant.
constexpr char32_t kRra = 0x09DC, kRha = 0x09DD, kYya = 0x09DF;
constexpr char32_t kRa = 0x09B0, kYa = 0x09AF, kBa = 0x09AC, kSa = 0x09B8;

// Natural spellings hold these marks where people type one sound in more than one way; a style
// (see render) turns them into letters.
constexpr const char* kChha = "\x01";         // ছ: "ch" or "chh"
constexpr const char* kBha = "\x02";          // ভ: "bh" or "v"
constexpr const char* kAa = "\x03";           // আ, া: "a" or, in short words, "aa"
constexpr const char* kE = "\x04";            // এ, ে: "e" or, in the first syllable, "a"
constexpr const char* kCandrabindu = "\x05";  // ঁ: "n" before a consonant, else nothing
constexpr const char* kVisarga = "\x06";      // ঃ: doubles the consonant after it

struct Spelling {
  const char* exact;    // an input the grammar turns into the letter
  const char* natural;  // what people type for its sound
};

// Consonant letters. Dental sa sounds "sh" on its own and "s" in a conjunct; ya sounds "j".
bool consonant_spelling(char32_t c, Spelling& s) {
  switch (c) {
    case 0x0995:
      s = {"k", "k"};
      return true;
    case 0x0996:
      s = {"kh", "kh"};
      return true;
    case 0x0997:
      s = {"g", "g"};
      return true;
    case 0x0998:
      s = {"gh", "gh"};
      return true;
    case 0x0999:
      s = {"Ng", "ng"};
      return true;
    case 0x099A:
      s = {"c", "ch"};
      return true;
    case 0x099B:
      s = {"ch", kChha};
      return true;
    case 0x099C:
      s = {"j", "j"};
      return true;
    case 0x099D:
      s = {"jh", "jh"};
      return true;
    case 0x099E:
      s = {"NG", "n"};
      return true;
    case 0x099F:
      s = {"T", "t"};
      return true;
    case 0x09A0:
      s = {"Th", "th"};
      return true;
    case 0x09A1:
      s = {"D", "d"};
      return true;
    case 0x09A2:
      s = {"Dh", "dh"};
      return true;
    case 0x09A3:
      s = {"N", "n"};
      return true;
    case 0x09A4:
      s = {"t", "t"};
      return true;
    case 0x09A5:
      s = {"th", "th"};
      return true;
    case 0x09A6:
      s = {"d", "d"};
      return true;
    case 0x09A7:
      s = {"dh", "dh"};
      return true;
    case 0x09A8:
      s = {"n", "n"};
      return true;
    case 0x09AA:
      s = {"p", "p"};
      return true;
    case 0x09AB:
      s = {"ph", "f"};
      return true;
    case 0x09AC:
      s = {"b", "b"};
      return true;
    case 0x09AD:
      s = {"bh", kBha};
      return true;
    case 0x09AE:
      s = {"m", "m"};
      return true;
    case 0x09AF:
      s = {"z", "j"};
      return true;
    case 0x09B0:
      s = {"r", "r"};
      return true;
    case 0x09B2:
      s = {"l", "l"};
      return true;
    case 0x09B6:
      s = {"sh", "sh"};
      return true;
    case 0x09B7:
      s = {"Sh", "sh"};
      return true;
    case 0x09B8:
      s = {"s", "sh"};
      return true;
    case 0x09B9:
      s = {"h", "h"};
      return true;
    case kRra:
      s = {"R", "r"};
      return true;
    case kRha:
      s = {"Rh", "rh"};
      return true;
    case kYya:
      s = {"y", "y"};
      return true;
    case 0x09CE:
      s = {"t``", "t"};
      return true;
    default:
      return false;
  }
}

bool vowel_sign_spelling(char32_t c, Spelling& s) {
  switch (c) {
    case 0x09BE:
      s = {"a", kAa};
      return true;
    case 0x09BF:
      s = {"i", "i"};
      return true;
    case 0x09C0:
      s = {"I", "i"};
      return true;
    case 0x09C1:
      s = {"u", "u"};
      return true;
    case 0x09C2:
      s = {"U", "u"};
      return true;
    case 0x09C3:
      s = {"rri", "ri"};
      return true;
    case 0x09C7:
      s = {"e", kE};
      return true;
    case 0x09C8:
      s = {"OI", "oi"};
      return true;
    case 0x09CB:
      s = {"O", "o"};
      return true;
    case 0x09CC:
      s = {"OU", "ou"};
      return true;
    default:
      return false;
  }
}

bool independent_vowel_spelling(char32_t c, Spelling& s) {
  switch (c) {
    case 0x0985:
      s = {"o", "o"};
      return true;
    case 0x0986:
      s = {"a", kAa};
      return true;
    case 0x0987:
      s = {"i", "i"};
      return true;
    case 0x0988:
      s = {"I", "i"};
      return true;
    case 0x0989:
      s = {"u", "u"};
      return true;
    case 0x098A:
      s = {"U", "u"};
      return true;
    case 0x098B:
      s = {"rri", "ri"};
      return true;
    case 0x098F:
      s = {"e", kE};
      return true;
    case 0x0990:
      s = {"OI", "oi"};
      return true;
    case 0x0993:
      s = {"O", "o"};
      return true;
    case 0x0994:
      s = {"OU", "ou"};
      return true;
    default:
      return false;
  }
}

// Chandrabindu and visarga are rarely typed; anusvara always is.
bool modifier_spelling(char32_t c, Spelling& s) {
  switch (c) {
    case 0x0981:
      s = {"^", kCandrabindu};
      return true;
    case 0x0982:
      s = {"ng", "ng"};
      return true;
    case 0x0983:
      s = {":", kVisarga};
      return true;
    default:
      return false;
  }
}

bool is_consonant(char32_t c) {
  Spelling s;
  return consonant_spelling(c, s);
}

std::u32string to_chars(std::string_view s) {
  std::u32string out;
  for (size_t pos = 0; pos < s.size();) out.push_back(engine::utf8::decode_next(s, pos));
  return out;
}

std::string to_lower_key(std::string_view input) {
  std::string key;
  for (char c : input) {
    if (c == '`') continue;
    key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return key;
}

}  // namespace

struct KeyMaker::Unit {
  enum class Kind { kConsonants, kVowel, kModifier };
  Kind kind = Kind::kConsonants;
  std::string exact;
  std::string natural;
  // Consonant groups only.
  bool has_sign = false;
  Spelling sign{"", ""};
  bool conjunct = false;  // more than one consonant, or a phala
  bool is_ya = false;     // the group is য় alone, before which the vowel is always sounded
  bool bare = false;      // ends in a hasanta: no vowel at all
};

KeyMaker::KeyMaker() {
  const engine::phonetic::Grammar& g = engine::phonetic::grammar();
  // The rules are sorted longest first; keep the first all-lowercase input for each conjunct, else
  // the first input at all.
  std::unordered_map<std::u32string, bool> lowercase;
  for (const auto& rule : g.consonants) {
    if (rule.kind != ConsonantKind::kCluster) continue;
    const std::u32string out = to_chars(rule.bangla);
    if (out.empty() || out.front() == kHasanta || out.find(kHasanta) == std::u32string::npos) {
      continue;
    }
    bool has_vowel_sign = false;
    for (char32_t c : out) {
      Spelling s;
      if (vowel_sign_spelling(c, s)) has_vowel_sign = true;
    }
    if (has_vowel_sign) continue;
    std::u32string folded;  // nukta letters precomposed, as parse() holds them
    for (char32_t c : out) {
      if (c == kNukta && !folded.empty() && folded.back() == 0x09A1) {
        folded.back() = kRra;
      } else {
        folded.push_back(c);
      }
    }
    std::string latin;
    for (char32_t c : rule.latin) latin.push_back(static_cast<char>(c));
    const bool is_lower =
        std::none_of(latin.begin(), latin.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    auto it = conjuncts_.find(folded);
    if (it == conjuncts_.end()) {
      conjuncts_.emplace(folded, latin);
      lowercase[folded] = is_lower;
    } else if (is_lower && !lowercase[folded]) {
      it->second = latin;
      lowercase[folded] = true;
    }
    longest_conjunct_ = std::max(longest_conjunct_, folded.size());
  }
}

bool KeyMaker::in_key_alphabet(std::string_view key) {
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || c == '1' || c == '2' || c == '4' || c == ',' || c == ':' ||
           c == '^';
  });
}

std::vector<KeyMaker::Unit> KeyMaker::parse(std::u32string_view raw) const {
  std::u32string w;
  for (char32_t c : raw) {
    if (c == 0x200C || c == 0x200D) continue;  // joiners change the look, not the sound
    if (c == kNukta && !w.empty()) {
      if (w.back() == 0x09A1) {
        w.back() = kRra;
        continue;
      }
      if (w.back() == 0x09A2) {
        w.back() = kRha;
        continue;
      }
      if (w.back() == kYa) {
        w.back() = kYya;
        continue;
      }
    }
    w.push_back(c);
  }

  std::vector<Unit> units;
  size_t i = 0;
  while (i < w.size()) {
    Spelling s;
    Unit u;
    if (is_consonant(w[i])) {
      // The chain of consonants joined by hasantas that starts here.
      size_t end = i + 1;
      while (end + 1 < w.size() && w[end] == kHasanta && is_consonant(w[end + 1])) end += 2;
      const bool word_initial = units.empty();
      size_t k = i;
      size_t base = i;           // the first consonant after a reph
      std::string natural_last;  // the natural spelling of the last single consonant, for doubling
      while (k < end) {
        // A reph: ra before a hasanta joins the next consonant by itself (কর্ম, পর্যন্ত).
        if (w[k] == kRa && k == i && end - i > 1) {
          u.exact += "r";
          u.natural += "r";
          k += 2;
          base = k;
          u.conjunct = true;
          continue;
        }
        if (k > base) {
          // Phalas after the first consonant.
          const char32_t c = w[k];
          u.conjunct = true;
          if (c == kRa) {
            u.exact += "r";
            u.natural += "r";
            k += 2;
            continue;
          }
          if (c == kYa || c == kBa) {
            u.exact += c == kYa ? "y" : "w";
            if (word_initial && k == i + 2) {
              // At the start of a word a ya-phala is heard as "y" (ব্যাংক), a ba-phala not at all
              // (স্বামী "shami").
              if (c == kYa) u.natural += "y";
            } else if (!natural_last.empty()) {
              // Inside a word both double the consonant's sound: অন্য "onno", মধ্যে "moddhe".
              u.natural.insert(u.natural.size() - natural_last.size(), 1, natural_last[0]);
            }
            k += 2;
            continue;
          }
        }
        // The longest conjunct the grammar types, starting here.
        size_t best = 0;
        std::string best_latin;
        for (size_t len = std::min(longest_conjunct_, end - k); len >= 3; --len) {
          const auto it = conjuncts_.find(w.substr(k, len));
          if (it != conjuncts_.end()) {
            best = len;
            best_latin = it->second;
            break;
          }
        }
        if (best > 0) {
          u.exact += best_latin;
          const std::u32string_view part = std::u32string_view(w).substr(k, best);
          if (part == U"\u0995\u09CD\u09B7") {
            natural_last = "kkh";
          } else if (part == U"\u099C\u09CD\u099E") {
            natural_last = "gg";
          } else if (part == U"\u099A\u09CD\u099B" || part == U"\u099A\u09CD\u099A") {
            natural_last = "cch";
          } else if (part == U"\u0999\u09CD\u0997") {
            natural_last = "ng";
          } else {
            natural_last.clear();
            for (size_t p = 0; p < part.size(); p += 2) {
              consonant_spelling(part[p], s);
              // Dental sa in a conjunct sounds "s".
              natural_last += part[p] == kSa ? "s" : s.natural;
            }
          }
          u.natural += natural_last;
          natural_last.clear();  // a conjunct's sound is not doubled again by a phala
          k += best + 1;         // past the hasanta that may follow
          u.conjunct = true;
          continue;
        }
        consonant_spelling(w[k], s);
        u.exact += s.exact;
        // Dental sa before another consonant sounds "s" (স্কুল), before a phala "sh" (স্বামী).
        const bool before_consonant =
            k + 2 < end && w[k + 2] != kRa && w[k + 2] != kYa && w[k + 2] != kBa;
        natural_last = (w[k] == kSa && before_consonant) ? "s" : s.natural;
        u.natural += natural_last;
        if (k > i) u.conjunct = true;
        k += 2;
      }
      i = end;
      if (i < w.size() && vowel_sign_spelling(w[i], s)) {
        u.has_sign = true;
        u.sign = s;
        ++i;
      } else if (i < w.size() && w[i] == kHasanta) {
        u.bare = true;
        ++i;
      }
      u.is_ya = !u.conjunct && u.exact == "y";
      units.push_back(std::move(u));
      continue;
    }
    if (independent_vowel_spelling(w[i], s)) {
      u.kind = Unit::Kind::kVowel;
      u.exact = s.exact;
      u.natural = s.natural;
      units.push_back(std::move(u));
      ++i;
      continue;
    }
    if (modifier_spelling(w[i], s)) {
      u.kind = Unit::Kind::kModifier;
      u.exact = s.exact;
      u.natural = s.natural;
      units.push_back(std::move(u));
      ++i;
      continue;
    }
    ++i;  // nothing typeable: a digit, a stray sign
  }
  return units;
}

std::string KeyMaker::spell(const std::vector<Unit>& units, bool natural, bool silence,
                            FinalVowel final_vowel) const {
  using Kind = Unit::Kind;
  // Which inherent vowels are sounded. The vowel of a lone consonant between two sounded vowels
  // usually falls silent (করলাম "korlam", কালকে "kalke"), never twice in a row; a final one is
  // sounded after a conjunct or after a silenced vowel (করব "korbo").
  std::vector<bool> sounded(units.size(), true);
  auto sounds_vowel = [&](size_t k) {
    const Unit& u = units[k];
    return u.kind == Kind::kVowel || (u.kind == Kind::kConsonants && !u.bare && sounded[k]);
  };
  for (size_t k = 0; k < units.size(); ++k) {
    const Unit& u = units[k];
    if (!silence || u.kind != Kind::kConsonants || u.has_sign || u.bare) continue;
    const bool last = k + 1 == units.size();
    if (last) {
      // A final ha keeps its vowel (সপ্তাহ "saptaho").
      sounded[k] = final_vowel == FinalVowel::kSounded || u.exact == "h" ||
                   (final_vowel == FinalVowel::kAsHeard &&
                    (u.conjunct || (k > 0 && units[k - 1].kind == Kind::kConsonants &&
                                    !units[k - 1].has_sign && !sounded[k - 1])));
      continue;
    }
    const Unit& next = units[k + 1];
    // Before a conjunct the vowel closes its syllable and stays (অবস্থা "obostha").
    if (next.kind != Kind::kConsonants || next.is_ya || next.conjunct || u.conjunct || k == 0 ||
        !sounds_vowel(k - 1)) {
      continue;
    }
    const bool next_last = k + 2 == units.size();
    const bool next_sounded = next.has_sign || !next_last || final_vowel == FinalVowel::kSounded;
    if (next_sounded) sounded[k] = false;
  }

  std::string out;
  for (size_t k = 0; k < units.size(); ++k) {
    const Unit& u = units[k];
    out += natural ? u.natural : u.exact;
    if (u.kind != Kind::kConsonants) continue;
    if (u.has_sign) {
      out += natural ? u.sign.natural : u.sign.exact;
    } else if (!u.bare && sounded[k] && (k + 1 < units.size() || natural)) {
      // A final inherent vowel needs no letter to be typed exactly.
      out += 'o';
    }
  }
  return out;
}

std::string KeyMaker::exact_input(std::string_view word) const {
  const std::vector<Unit> units = parse(to_chars(word));
  // The spelling with silent vowels left out is the one people type; with every medial vowel
  // written out the consonants cannot join by accident.
  for (bool silence : {true, false}) {
    const std::string input = spell(units, false, silence, FinalVowel::kAsHeard);
    if (!input.empty() &&
        engine::normalize_bengali(engine::phonetic::convert_with_options(input, true)) == word) {
      return input;
    }
  }
  return {};
}

namespace {

// How one typist writes the sounds that are typed in more than one way.
struct Style {
  bool s_for_sh = false;   // শ, ষ and স all as "s"
  bool chh = false;        // ছ as "chh"
  bool v = false;          // ভ as "v"
  bool long_a = false;     // আ and া as "aa"
  bool a_for_e = false;    // এ or ে of the first syllable as "a" (কেমন "kamon")
  bool s_for_chh = false;  // ছ as "s" and চ্ছ as "ss", as chat writers type them
};

bool is_vowel_letter(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

// A natural spelling with its marks turned into letters.
std::string render(std::string_view natural, const Style& style) {
  std::string out;
  bool double_next = false;
  bool vowel_seen = false;
  for (size_t i = 0; i < natural.size(); ++i) {
    const char c = natural[i];
    const bool next_is_consonant =
        i + 1 < natural.size() &&
        ((natural[i + 1] >= 'a' && natural[i + 1] <= 'z' && !is_vowel_letter(natural[i + 1])) ||
         natural[i + 1] == kChha[0] || natural[i + 1] == kBha[0]);
    std::string piece;
    switch (c) {
      case '\x01':
        piece = style.s_for_chh ? "s" : style.chh ? "chh" : "ch";
        break;
      case '\x02':
        piece = style.v ? "v" : "bh";
        break;
      case '\x03':
        piece = style.long_a ? "aa" : "a";
        break;
      case '\x04':
        piece = style.a_for_e && !vowel_seen ? "a" : "e";
        break;
      case '\x05':
        piece = next_is_consonant ? "n" : "";
        break;
      case '\x06':
        double_next = next_is_consonant;
        continue;
      default:
        piece = std::string(1, c);
    }
    if (double_next && !piece.empty()) {
      piece.insert(piece.begin(), piece[0]);
      double_next = false;
    }
    for (char p : piece) vowel_seen = vowel_seen || is_vowel_letter(p);
    out += piece;
  }
  if (style.s_for_chh) {
    for (size_t p = out.find("cch"); p != std::string::npos; p = out.find("cch", p)) {
      out.replace(p, 3, "ss");
    }
  }
  if (style.s_for_sh) {
    for (size_t p = out.find("sh"); p != std::string::npos; p = out.find("sh", p)) {
      out.erase(p + 1, 1);
    }
  }
  return out;
}

// A chat key with the vowels left out, as in "kmn" for কেমন; a vowel that begins the word stays
// ("amr" for আমার), and with `keep_final` so does the last one ("tmi" for তুমি). Empty when too
// little is left to tell words apart.
std::string without_vowels(std::string_view key, bool keep_final) {
  std::string out;
  size_t consonants = 0;
  for (size_t i = 0; i < key.size(); ++i) {
    const bool vowel = is_vowel_letter(key[i]);
    if (vowel && i > 0 && !(keep_final && i + 1 == key.size())) continue;
    if (!vowel) ++consonants;
    out += key[i];
  }
  if (consonants < 2 || out.size() < 3 || out == key) return {};
  return out;
}

// A chat key that leaves out the vowels before the last one but keeps that one where a consonant
// follows it, as in "kmon" for কেমন and "tmder" for তোমাদের; a vowel that begins the word stays
// ("amder" for আমাদের). A word that ends in its vowel has the keys of without_vowels.
std::string without_inner_vowels(std::string_view key) {
  if (key.empty() || is_vowel_letter(key.back())) return {};
  size_t last = key.size();
  for (size_t i = key.size(); i > 0; --i) {
    if (is_vowel_letter(key[i - 1])) {
      last = i - 1;
      break;
    }
  }
  if (last == key.size()) return {};
  while (last > 0 && is_vowel_letter(key[last - 1])) --last;
  std::string out;
  size_t consonants = 0;
  for (size_t i = 0; i < key.size(); ++i) {
    const bool vowel = is_vowel_letter(key[i]);
    if (vowel && i > 0 && i < last) continue;
    if (!vowel) ++consonants;
    out += key[i];
  }
  if (consonants < 2 || out.size() < 4 || out == key) return {};
  return out;
}

}  // namespace

std::vector<std::string> KeyMaker::chat_keys(std::string_view word, bool drop_vowels) const {
  std::vector<std::string> keys;
  const std::vector<Unit> units = parse(to_chars(word));
  if (units.empty()) return keys;
  const WordKeys own = make_keys(word);
  auto add = [&](std::string key) {
    if (key.empty() || key.size() > 255 || !in_key_alphabet(key)) return;
    if (std::find(own.keys.begin(), own.keys.end(), key) != own.keys.end()) return;
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) return;
    keys.push_back(std::move(key));
  };
  // The final inherent vowel as heard, then sounded ("choto" for ছোট).
  std::vector<std::string> naturals = {spell(units, true, true, FinalVowel::kAsHeard)};
  if (const std::string sounded = spell(units, true, true, FinalVowel::kSounded);
      sounded != naturals[0]) {
    naturals.push_back(sounded);
  }
  for (const std::string& natural : naturals) {
    for (int styles = 0; styles < 16; ++styles) {
      const std::string key = render(natural, {.s_for_sh = (styles & 8) != 0,
                                               .v = (styles & 1) != 0,
                                               .a_for_e = (styles & 2) != 0,
                                               .s_for_chh = (styles & 4) != 0});
      add(key);
      if (!drop_vowels) continue;
      add(without_vowels(key, false));
      add(without_vowels(key, true));
      add(without_inner_vowels(key));
    }
  }
  return keys;
}

WordKeys KeyMaker::make_keys(std::string_view word) const {
  WordKeys result;
  const std::vector<Unit> units = parse(to_chars(word));
  if (units.empty()) return result;
  auto add = [&](std::string key) {
    if (key.empty() || key.size() > 255 || !in_key_alphabet(key) || result.keys.size() >= 3) return;
    if (std::find(result.keys.begin(), result.keys.end(), key) != result.keys.end()) return;
    result.keys.push_back(std::move(key));
  };

  const std::string exact = exact_input(word);
  if (!exact.empty()) {
    add(to_lower_key(exact));
    result.first_is_exact = !result.keys.empty();
  }
  const std::string natural = spell(units, true, true, FinalVowel::kAsHeard);
  add(render(natural, {}));
  result.primary = result.keys.size();

  // The common variants, likeliest first.
  add(render(natural, {.s_for_sh = true}));
  add(render(natural, {.chh = true}));
  const Unit& last = units.back();
  if (last.kind == Unit::Kind::kConsonants && !last.has_sign && !last.bare) {
    // The final inherent vowel sounded the other way (করব "korbo", যাব "jabo").
    const std::string sounded = spell(units, true, true, FinalVowel::kSounded);
    add(render(sounded != natural ? sounded : spell(units, true, true, FinalVowel::kSilent), {}));
  }
  add(render(spell(units, true, false, FinalVowel::kAsHeard), {}));
  add(render(natural, {.v = true}));
  add(render(natural, {.a_for_e = true}));
  if (units.size() <= 3) add(render(natural, {.long_a = true}));
  if (result.keys.empty()) add(to_lower_key(spell(units, false, true, FinalVowel::kAsHeard)));
  return result;
}

}  // namespace tolvani::lexicon
