#include "word_form.h"

#include "utf8.h"

namespace tolvani::lexicon {

namespace {

constexpr char32_t kZwnj = 0x200C, kZwj = 0x200D;
constexpr char32_t kHasanta = 0x09CD, kNukta = 0x09BC;
constexpr char32_t kRa = 0x09B0, kYa = 0x09AF;
constexpr char32_t kSignAa = 0x09BE, kSignE = 0x09C7, kSignO = 0x09CB, kSignAu = 0x09CC;
constexpr char32_t kAuLength = 0x09D7;

bool is_consonant(char32_t c) {
  return (c >= 0x0995 && c <= 0x09A8) || (c >= 0x09AA && c <= 0x09B0) || c == 0x09B2 ||
         (c >= 0x09B6 && c <= 0x09B9) || c == 0x09CE || c == 0x09DC || c == 0x09DD || c == 0x09DF;
}
bool is_vowel(char32_t c) {
  return (c >= 0x0985 && c <= 0x098B) || c == 0x098F || c == 0x0990 || c == 0x0993 || c == 0x0994;
}
bool is_sign(char32_t c) {
  return (c >= 0x09BE && c <= 0x09C4) || c == 0x09C7 || c == 0x09C8 || c == kSignO || c == kSignAu;
}
bool is_mark(char32_t c) { return c >= 0x0981 && c <= 0x0983; }

std::u32string chars(std::string_view s) {
  std::u32string out;
  for (size_t pos = 0; pos < s.size();) out.push_back(engine::utf8::decode_next(s, pos));
  return out;
}

// The rule broken at position i, given that everything before it is sound.
bool broken_at(const std::u32string& w, size_t i, FormRule& rule) {
  const char32_t c = w[i];
  const char32_t prev = i > 0 ? w[i - 1] : 0;
  const char32_t next = i + 1 < w.size() ? w[i + 1] : 0;
  if (c == kZwnj || c == kZwj) {
    // র‍্য: ra, joiner, hasanta, ya keeps the ra whole before a ya-phala.
    const bool rafala =
        c == kZwj && prev == kRa && next == kHasanta && i + 2 < w.size() && w[i + 2] == kYa;
    rule = FormRule::kJoiner;
    return !rafala;
  }
  if (is_sign(c)) {
    if (is_sign(prev)) {
      rule = FormRule::kTwoSigns;
      return true;
    }
    // ৎ is a consonant that never takes a vowel.
    const bool after_consonant = (is_consonant(prev) && prev != 0x09CE) || prev == kNukta;
    rule = FormRule::kLoneSign;
    return !after_consonant;
  }
  if (c == kHasanta) {
    if (i + 1 == w.size()) {
      rule = FormRule::kFinalHasanta;
      return true;
    }
    // A joiner may stand between ra and the hasanta of র‍্য; অ্য and এ্য write
    // the sound of "apple".
    const bool after_consonant = (is_consonant(prev) && prev != 0x09CE) || prev == kNukta ||
                                 (prev == kZwj && i >= 2) ||
                                 ((prev == 0x0985 || prev == 0x098F) && next == kYa);
    rule = FormRule::kLoneHasanta;
    return !after_consonant;
  }
  if (is_mark(c)) {
    if (i == 0) {
      rule = FormRule::kMarkAtStart;
      return true;
    }
    if (prev == c) {
      rule = FormRule::kRepeatedMark;
      return true;
    }
    if (prev == kHasanta || prev == kZwnj || prev == kZwj) {
      rule = FormRule::kLoneSign;
      return true;
    }
    return false;
  }
  if (c == kNukta) {
    // Nukta letters are kept decomposed: ড়, ঢ় and য়.
    rule = FormRule::kStrayNukta;
    return !(prev == 0x09A1 || prev == 0x09A2 || prev == kYa);
  }
  if (is_consonant(c) || is_vowel(c)) return false;
  // Other scripts are the source filter's business.
  rule = FormRule::kForeignLetter;
  return c >= 0x0980 && c <= 0x09FF;
}

}  // namespace

std::string_view form_rule_name(FormRule rule) {
  switch (rule) {
    case FormRule::kOSplit:
      return "া before ে mended to ো";
    case FormRule::kAuSplit:
      return "ৗ before ে mended to ৌ";
    case FormRule::kAaSplit:
      return "অ and া mended to আ";
    case FormRule::kOldTa:
      return "final ত্ mended to ৎ";
    case FormRule::kJoiner:
      return "zero-width joiner or non-joiner";
    case FormRule::kTwoSigns:
      return "two vowel signs in a row";
    case FormRule::kLoneSign:
      return "vowel sign or mark without a consonant";
    case FormRule::kFinalHasanta:
      return "hasanta at the end";
    case FormRule::kLoneHasanta:
      return "hasanta without a consonant";
    case FormRule::kMarkAtStart:
      return "ঁ, ং or ঃ at the start";
    case FormRule::kRepeatedMark:
      return "a mark repeated";
    case FormRule::kStrayNukta:
      return "nukta on a letter that takes none";
    case FormRule::kForeignLetter:
      return "a character Bangla words do not use";
  }
  return "?";
}

FormCheck form_problem(std::string_view word) {
  const std::u32string w = chars(word);
  FormCheck check;
  for (size_t i = 0; i < w.size(); ++i) {
    if (broken_at(w, i, check.rule)) {
      check.broken = true;
      return check;
    }
  }
  return check;
}

MendedWord mend_word(std::string_view word) {
  MendedWord out;
  std::u32string w = chars(word);
  // Old font encodings stored the right-hand part of ো and ৌ before ে; NFC has already joined
  // the parts that came in logical order.
  for (size_t i = 1; i + 1 < w.size(); ++i) {
    if (w[i + 1] != kSignE || !(is_consonant(w[i - 1]) || w[i - 1] == kNukta)) continue;
    if (w[i] == kSignAa || w[i] == kAuLength) {
      const bool o = w[i] == kSignAa;
      w[i] = o ? kSignO : kSignAu;
      w.erase(i + 1, 1);
      out.applied[static_cast<size_t>(o ? FormRule::kOSplit : FormRule::kAuSplit)] = true;
    }
  }
  for (size_t i = 0; i + 1 < w.size(); ++i) {
    if (w[i] == 0x0985 && w[i + 1] == kSignAa) {
      w.replace(i, 2, 1, 0x0986);
      out.applied[static_cast<size_t>(FormRule::kAaSplit)] = true;
    }
  }
  // Before ৎ had a code point of its own it was written ত with a hasanta.
  if (w.size() >= 2 && w.back() == kZwnj && w[w.size() - 2] == kHasanta) w.pop_back();
  if (w.size() >= 3 && w.back() == kHasanta && w[w.size() - 2] == 0x09A4 &&
      w[w.size() - 3] != kHasanta) {
    w.replace(w.size() - 2, 2, 1, 0x09CE);
    out.applied[static_cast<size_t>(FormRule::kOldTa)] = true;
  }
  for (char32_t c : w) engine::utf8::append(out.word, c);
  const FormCheck check = form_problem(out.word);
  out.dropped = check.broken;
  out.drop_rule = check.rule;
  return out;
}

}  // namespace tolvani::lexicon
