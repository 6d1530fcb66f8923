// Whether a Bangla word is spelled the way Bangla is written, and the mending of the few broken
// spellings whose meant word is certain. The word lists carry text typed with the wrong
// keyboard, converted from old font encodings or copied with stray joiners; those words must not
// reach a user.
// Thread-safety: pure functions; any thread.
#ifndef TOLVANI_TOOLS_LEXICON_WORD_FORM_H_
#define TOLVANI_TOOLS_LEXICON_WORD_FORM_H_

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvani::lexicon {

enum class FormRule {
  // Mended: the meant word is certain.
  kOSplit,   // া before ে for ো
  kAuSplit,  // ৗ before ে for ৌ
  kAaSplit,  // অ and া for আ
  kOldTa,    // ত্ at the end for ৎ
  // Dropped.
  kJoiner,         // a zero-width (non-)joiner anywhere but in র‍্য
  kTwoSigns,       // two vowel signs in a row
  kLoneSign,       // a vowel sign at the start, or after a vowel, a mark or a hasanta
  kFinalHasanta,   // a hasanta at the end
  kLoneHasanta,    // a hasanta at the start or after anything but a consonant
  kMarkAtStart,    // ঁ, ং or ঃ before any letter
  kRepeatedMark,   // the same one of ঁ ং ঃ twice in a row
  kStrayNukta,     // a nukta on a letter that takes none in Bangla
  kForeignLetter,  // a character of the block that Bangla words do not use
};
inline constexpr size_t kFormRuleCount = 13;
inline constexpr size_t kFirstDropRule = static_cast<size_t>(FormRule::kJoiner);

// What the rule's number is called in the builder's report.
std::string_view form_rule_name(FormRule rule);

// The first rule `word` (normalised) breaks, or none.
struct FormCheck {
  bool broken = false;
  FormRule rule = FormRule::kJoiner;
};
FormCheck form_problem(std::string_view word);

// A word as the builder keeps it: mended where the meant word is certain, then dropped when
// still broken. `applied` marks each mending rule that changed it.
struct MendedWord {
  std::string word;
  bool dropped = false;
  FormRule drop_rule = FormRule::kJoiner;
  std::array<bool, kFormRuleCount> applied{};
};
MendedWord mend_word(std::string_view word);

}  // namespace tolvani::lexicon

#endif  // TOLVANI_TOOLS_LEXICON_WORD_FORM_H_
