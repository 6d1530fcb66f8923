// The merge of a cleaned backup store into the store on disk: a union of both documents' maps in
// which a value present on both sides takes the larger count and the later time (never the sum),
// a remembered selection yields only to a newer one, and a word yields to a tombstone at least as
// new as its last use and decay. Merging the same backup again therefore changes nothing.
// Thread-safety: stateless; every function may be called on any thread.
#ifndef TOLVANI_SETTINGS_BACKUPMERGE_H_
#define TOLVANI_SETTINGS_BACKUPMERGE_H_

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tolvani::BackupMerge {

using Json = nlohmann::json;

// The merge of two leaf values present on both sides: (current, incoming) -> merged.
using LeafRule = std::function<Json(const Json& current, const Json& incoming)>;

// `current` (the store document on disk; an empty object when there is no file) with the section
// of store `storeKey` replaced by its union with that of `incoming` (a cleaned backup document).
// Every other key of `current`, "reset_id" included, stays. None when a section or a visited
// inner map of `current` is present but not an object (a corrupt store), or when `storeKey` is no
// backup store key; nothing may then be written.
std::optional<Json> mergedStore(std::string_view storeKey, Json current, const Json& incoming);

// The user dictionary: tombstones by the later time, words by their decay time, frequency and
// last use, then every word that a merged tombstone hides is dropped. The current words are first
// keyed by the engine's normal form, as the engine's load keys them (entries of one form merged
// as it merges them: frequencies summed, the later times), so that an incoming word meets its
// twin on disk; a word past the stored-word bound stays as it is, unread, and one whose form the
// engine would not store is dropped (its load drops both).
std::optional<Json> mergedDictionary(Json current, const Json& incoming);

// Drops from `dictionary`, a merged dictionary document, the words that the engine drops when it
// next saves the file, so that an import writes what stays and can say what it kept: a word used
// fewer than 3 times and idle for more than 30 days, then, past 10,000 words, all but the 9,000
// of highest last use / 3,600 + 100 × frequency (ties: the later word in byte order stays). A
// word without a last use counts as used at `now` (Unix seconds), as the engine's load dates it.
void dropWordsTheEngineDrops(Json& dictionary, std::uint64_t now);

// One word's entry present on both sides: when the incoming side decayed later, its frequency
// and decay time; on equal decay times the larger frequency; the later last use (left absent when
// neither side has one). The current entry's other fields stay.
Json mergedWordEntry(Json current, const Json& incoming);

// A two-level section (outer key -> inner key -> leaf), leaves on both sides merged by `leaf`.
// An incoming inner value that is no object is skipped.
std::optional<Json> mergedNested(Json current, const Json& incoming, const std::string& section,
                                 const LeafRule& leaf);

// A current section or inner map: absent (a null pointer) reads as an empty object, an object as
// itself, anything else as none (corrupt).
std::optional<Json> storedMap(const Json* value);

// The unsigned reading of a stored number: absent, no number or a Boolean reads 0; a negative
// number 0; a fraction is cut off.
std::uint64_t storedUInt64(const Json* value);

}  // namespace tolvani::BackupMerge

#endif  // TOLVANI_SETTINGS_BACKUPMERGE_H_
