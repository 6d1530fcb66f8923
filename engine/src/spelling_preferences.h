// Standard spellings: the embedded tables that pair a variant spelling (STANDARD) or a spoken form
// (COLLOQUIAL) with the standard written form, and the choices built on them: which standard form
// to offer for a word, and whether to write the standard form in place of the typed one.
// Thread-safety: safe on any thread. Each table is built once per process, on first use, and read
// without locks afterwards. The offer and preference functions keep no state; the session passes
// in what they read of it.
#ifndef TOLVANI_ENGINE_SPELLING_PREFERENCES_H_
#define TOLVANI_ENGINE_SPELLING_PREFERENCES_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tolvani::engine::spelling {

// Hashes strings and views alike, so lookups by view allocate nothing.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using TextMap = std::unordered_map<std::string, std::string, TextHash, std::equal_to<>>;

// Rejections of an offer for `word` are counted under this prefix + word (frozen: stored in the
// user's rejection file).
inline constexpr std::string_view kRejectionKeyPrefix = "#standard:";
// Each ignored offer adds 100 to its penalty; at this penalty the offer is no longer made.
inline constexpr int32_t kSilencingPenalty = 200;

// Reads a table text: lines "variant<TAB>standard", LF or CRLF; each line trimmed of White_Space;
// blank lines, lines starting with '#' and lines without a tab are skipped; both sides are
// normalised, and a pair is dropped when a side comes out empty or both are equal. A later line
// with the same variant replaces an earlier one.
TextMap parse_table(std::string_view text);

// The embedded table texts.
std::string_view standard_document();
std::string_view colloquial_document();

// The process-wide tables, built from the embedded texts on first use (under either cache policy:
// they are small).
const TextMap& standard_table();
const TextMap& colloquial_table();
// Builds both tables.
void warm();

// The standard form of `word` (looked up byte for byte, not normalised): its STANDARD form, else,
// when `spoken_forms` is on, its COLLOQUIAL form; nothing when neither holds it.
std::optional<std::string_view> standard_form(std::string_view word, bool spoken_forms);

// "#standard:" + word.
std::string rejection_key(std::string_view word);

// The rejection penalty of (key, offered form), as the session's rejection map answers it.
using PenaltyLookup = std::function<int32_t(std::string_view key, std::string_view offer)>;
// How many times in a row the user has picked the same candidate for a raw buffer (0 when the
// selection memory holds nothing for it).
using SelectionCountLookup = std::function<uint32_t(std::string_view raw)>;

// The standard form to offer for `word`: nothing when suggestions are off, when the word holds any
// White_Space character, when it has no standard form (spoken forms count when
// `offer_spoken_standard` is on), or when the offer has been ignored until its penalty reached
// kSilencingPenalty. `penalty_for` is called at most once.
std::optional<std::string> spelling_offer_for(std::string_view word, bool suggestions_enabled,
                                              bool offer_spoken_standard,
                                              const PenaltyLookup& penalty_for);

// `text` with its STANDARD form written in place (spoken forms never are) when
// `prefer_modern_spellings` is on, the session is in phonetic mode, the raw buffer holds no ASCII
// capital and the user has not picked the same candidate for this buffer more than once in a row;
// otherwise `text` unchanged. `selection_count` is called only when the other conditions hold.
std::string with_spelling_preference(std::string text, bool prefer_modern_spellings,
                                     bool phonetic_mode, std::string_view raw_buffer,
                                     const SelectionCountLookup& selection_count);

}  // namespace tolvani::engine::spelling

#endif  // TOLVANI_ENGINE_SPELLING_PREFERENCES_H_
