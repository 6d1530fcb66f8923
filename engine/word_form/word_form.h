// The form under which the learned stores keep a word, and the bounds on the texts they keep. The
// engine and the settings side's import both use them, so that an imported word is keyed, and a
// text past a bound is dropped, exactly as the engine's own load keys and drops it.
// Thread-safety: pure functions; safe on any thread.
#ifndef TOLVANI_WORD_FORM_WORD_FORM_H_
#define TOLVANI_WORD_FORM_WORD_FORM_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvani::word_form {

// Stored texts are limited in characters (grapheme clusters): words and chosen candidates to 96,
// raw inputs to 128, English words to 24, shortcut texts to 500. One cluster, though, may hold
// any number of combining marks, and canonical reordering, which every normalisation does, is
// quadratic in a run of marks: a single word of 80,000 marks takes minutes. So every reader of
// outside text first bounds a text's UTF-8 length at 12 bytes per character of its limit, before
// it decodes, counts or normalises anything. No real word comes near: of the 240,000 words of
// the lexicon's word list none has more than 72 bytes or 27 code points, a sixteenth of the word
// bound. Yet a word of marks at the bound (576 of them, in the worst order) normalises in under
// 0.2 ms, so that a backup of 2 MB filled with such words imports in well under a second.
inline constexpr std::size_t kMaxBytesPerCharacter = 12;
inline constexpr std::size_t kMaxWordCharacters = 96;
inline constexpr std::size_t kMaxRawCharacters = 128;
// 1,152 bytes: a word of a store (a dictionary word, either word of a pair, a third word, a
// chosen or rejected candidate).
inline constexpr std::size_t kMaxWordBytes = kMaxWordCharacters * kMaxBytesPerCharacter;
// 1,536 bytes: a raw input of the selection memory and the rejections.
inline constexpr std::size_t kMaxRawBytes = kMaxRawCharacters * kMaxBytesPerCharacter;
// 2,305 bytes: a trigram's context, two words and the TAB between them.
inline constexpr std::size_t kMaxContextBytes = 2 * kMaxWordBytes + 1;

// The normal form of Bangla text, under which words are shown, compared and stored: U+FEFF is
// deleted; NFC; then "ত্" with a zero-width joiner becomes "ৎ", no-break spaces become spaces,
// and surrounding White_Space is removed. Nukta letters stay decomposed. Ill-formed UTF-8 comes
// out as U+FFFD. The form of a form is itself. A long run of combining marks costs n log n (ICU
// alone orders one in quadratic time). Throws std::runtime_error when ICU cannot normalise.
std::string normal_form(std::string_view text);

// The key under which a store keeps the word `word`: its normal form; none when the word or its
// form is longer than kMaxWordBytes (a form may be longer than its word), or the form is empty
// (nothing can be typed as an empty word). The word's own length is checked first, so a word past
// the bound is never normalised.
std::optional<std::string> stored_word(std::string_view word);

// Whether stored_word(word) is `word` itself, told without copying it (nearly every word a store
// reads is). Throws as normal_form does.
bool is_stored_word(std::string_view word);

}  // namespace tolvani::word_form

#endif  // TOLVANI_WORD_FORM_WORD_FORM_H_
