// Makes the phonetic keys of a Bangla word: the lowercase Latin spellings that people type for it.
// Thread-safety: a KeyMaker is immutable after construction; make_keys may run on any thread.
#ifndef TOLVANI_TOOLS_LEXICON_KEY_MAKER_H_
#define TOLVANI_TOOLS_LEXICON_KEY_MAKER_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tolvani::lexicon {

struct WordKeys {
  std::vector<std::string> keys;  // one to three, best first, each in the key alphabet
  bool first_is_exact = false;    // the first key is the lowercase form of an input that converts
                                  // back to the word
  size_t primary = 0;             // keys[0, primary) spell the word itself; the rest are variants
};

class KeyMaker {
 public:
  // Reads the conjuncts the phonetic grammar can type.
  KeyMaker();

  // Keys for a normalised Bangla word. Every word gets at least one key unless it holds nothing
  // typeable.
  WordKeys make_keys(std::string_view word) const;

  // The spellings chat writers use for a word, beyond its keys: "s" for ছ, "v" for ভ, "a" for
  // the এ of the first syllable, and with `drop_vowels` (meant for common words) the vowels left
  // out. None of them is a key of make_keys.
  std::vector<std::string> chat_keys(std::string_view word, bool drop_vowels) const;

  // The grammar input (case-sensitive, possibly with backticks) that spells the word exactly, if
  // the grammar can.
  std::string exact_input(std::string_view word) const;

  // Whether every byte of `key` is in the key alphabet: a-z, the digits 1 2 4, and , : ^.
  static bool in_key_alphabet(std::string_view key);

 private:
  struct Unit;
  std::vector<Unit> parse(std::u32string_view word) const;
  enum class FinalVowel { kAsHeard, kSounded, kSilent };
  // With `silence`, inherent vowels that are not sounded are left out; `final_vowel` decides the
  // last one.
  std::string spell(const std::vector<Unit>& units, bool natural, bool silence,
                    FinalVowel final_vowel) const;

  // Conjunct (with hasantas) to the grammar's input for it.
  std::unordered_map<std::u32string, std::string> conjuncts_;
  size_t longest_conjunct_ = 0;
};

}  // namespace tolvani::lexicon

#endif  // TOLVANI_TOOLS_LEXICON_KEY_MAKER_H_
