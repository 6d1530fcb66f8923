// Suggestion generation: the scored lexicon candidates for what the user is composing, the
// autocorrect table and the emoji-shortcode questions of the text path.
// Thread-safety: safe on any thread. The tables are built once per process and then read
// without locks; the user dictionary passed in is only read, and the caller owns it for the call.
#ifndef TOLVANI_ENGINE_SUGGEST_H_
#define TOLVANI_ENGINE_SUGGEST_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "types.h"

namespace tolvani::engine {
class UserDictionary;
}  // namespace tolvani::engine

namespace tolvani::engine::suggest {

// The most candidates suggestions_for returns, whatever the limit.
inline constexpr size_t kMaxSuggestions = 15;

// Candidates for the composition, best first (highest score, then text in byte order), at most
// min(max(limit, 1), 15). `mode` is the keyboard mode byte (0 phonetic, 1 probhat, 2 national,
// 3 unijoy); `key` is the typed text (the Latin letters in phonetic mode); `rendered` is the
// composition's Bangla rendering; an empty rendering gives no candidates. With `autocorrect`, the
// typed key's autocorrection comes first. Builds every lexicon table it reads (blocking); under the
// non-blocking policy ask suggestions_ready() first.
std::vector<Candidate> suggestions_for(uint8_t mode, std::string_view key,
                                       std::string_view rendered, const UserDictionary& user_dict,
                                       size_t limit, bool autocorrect);

// Typed input to its replacement; ordered, so that inputs extending a text sort right after it.
using AutocorrectRows = std::map<std::string, std::string, std::less<>>;

// The embedded autocorrect document (a JSON array of {"input", "output"} records).
std::string_view autocorrect_document();

// Reads an autocorrect document. An element that is not a record with one string "input" and one
// string "output" is skipped; a repeated input keeps the later output. A document that does not
// parse, or is not an array, costs one line on standard error and gives an empty table.
AutocorrectRows load_autocorrect(std::string_view document);

// Every proper, non-empty prefix (on character boundaries) of the inputs of two or more bytes
// whose first character is neither alphabetic nor numeric: the emoticons and shortcodes.
std::unordered_set<std::string> emoji_prefixes_of(const AutocorrectRows& rows);

// The replacement for exactly `text` (case-sensitive), building the table when needed.
std::optional<std::string> autocorrect_for(std::string_view text);

// Blocking: as autocorrect_for. Non-blocking: answers only when the table is already built.
std::optional<std::string> autocorrect_for_with_cache_policy(std::string_view text, bool blocking);

// Whether `c` alone is a prefix of an emoji shortcode ("(", ":", ...).
bool could_start_emoji(char32_t c);

// Whether `text` is a proper prefix of an emoji shortcode, or of any longer autocorrect input.
bool could_be_emoji_prefix(std::string_view text);

// Builds the autocorrect table now (not the emoji prefixes).
void warm_autocorrect();

// Whether the autocorrect table is built (never blocks).
bool autocorrect_ready();

// Replaces the table every lookup sees until called again with nullopt. Tests only.
void test_set_autocorrect_rows(std::optional<AutocorrectRows> rows);

}  // namespace tolvani::engine::suggest

#endif  // TOLVANI_ENGINE_SUGGEST_H_
