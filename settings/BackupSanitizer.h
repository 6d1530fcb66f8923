// The cleaner of a backup's learned stores: a backup is a file the user picks, and anything may be
// in it, so each store it carries is rebuilt from its well-formed entries alone, within fixed caps,
// lengths (in grapheme clusters, and in bytes before anything is decoded) and number ranges, and
// with no unsafe scalar in any text. Nothing of the incoming document survives that the cleaner
// did not rebuild. Also the bounded JSON reader that every backup and store file read by the
// backup goes through.
// Thread-safety: stateless; every function may be called on any thread.
#ifndef TOLVANI_SETTINGS_BACKUPSANITIZER_H_
#define TOLVANI_SETTINGS_BACKUPSANITIZER_H_

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tolvani::BackupSanitizer {

using Json = nlohmann::json;

// Objects and arrays nested deeper than this make a document unreadable: everything the backup
// does with a value (copy, compare, write) recurses into it.
inline constexpr int kMaxNestingDepth = 512;

// The six store keys of a backup, in the order of the store table (frozen: they are the backup
// document's keys).
inline constexpr const char* kStoreKeys[] = {"dictionary", "bigrams",          "trigrams",
                                             "rejections", "selection_memory", "english_pairs"};

// Parses one JSON text (UTF-8, nothing but white space after it). None when it is not JSON, is
// not valid UTF-8, nests deeper than kMaxNestingDepth, or, with `rejectDuplicateTopLevelKeys`, an
// object at the top names one key twice (keeping either value would drop the other). A key
// named twice elsewhere keeps its later value.
std::optional<Json> parseJson(std::string_view bytes, bool rejectDuplicateTopLevelKeys = false);

// The cleaned documents of the stores of `backup` that survive cleaning, by store key, each as
// compact JSON with sorted keys. Keys other than the six store keys are ignored.
std::map<std::string, std::string> sanitizedUserDataFiles(const Json& backup);

// One store's value (null when the backup lacks it) cleaned into a fresh document; none when the
// store does not survive. The dictionary's words and tombstones are keyed by the form the engine
// stores a word under (word_form::stored_word), spellings of one word merged into one entry.
std::optional<Json> sanitizedDictionary(const Json* store);
std::optional<Json> sanitizedSelections(const Json* store);
std::optional<Json> sanitizedBigrams(const Json* store);
std::optional<Json> sanitizedTrigrams(const Json* store);
std::optional<Json> sanitizedRejections(const Json* store);
std::optional<Json> sanitizedEnglishPairs(const Json* store);

// A word entry ({"frequency", "last_used", "last_decay"}) rebuilt: none when it is no object or
// its frequency is no integer from 1 to 1,000,000; a time that is no integer from 0 to a day
// after now is left out.
std::optional<Json> sanitizedFrequencyEntry(const Json& entry);

// The integer value of `value` when it is a JSON number (not a Boolean) with no fractional part
// within [min, max]; none otherwise (never clamped). Null means absent.
std::optional<std::int64_t> boundedInt(const Json* value, std::int64_t min, std::int64_t max);

// True when `text` (UTF-8) is not empty, has at most `maxLength` grapheme clusters and holds no
// scalar that stored text may not hold. A text of more bytes than withinStoredTextBound allows
// for `maxLength` characters is refused before it is decoded.
bool isValidImportedString(std::string_view text, int maxLength);

}  // namespace tolvani::BackupSanitizer

#endif  // TOLVANI_SETTINGS_BACKUPSANITIZER_H_
