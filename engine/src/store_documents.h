// The five learned-store documents: their content in memory, a strict reader and the engine's
// compact writer. The JSON keys named in store_documents.cpp are stored on disk and shared with
// the settings side: they are frozen.
// Thread-safety: plain values and pure functions; safe on any thread.
#ifndef TOLVANI_ENGINE_STORE_DOCUMENTS_H_
#define TOLVANI_ENGINE_STORE_DOCUMENTS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tolvani::engine {

// Lets the maps be searched with a string_view, so that lookups while typing do not allocate.
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

template <typename V>
using StringMap = std::unordered_map<std::string, V, StringHash, std::equal_to<>>;

// A tombstone of this time hides its word for ever.
inline constexpr uint64_t kTombstoneForever = UINT64_MAX;

// Times are whole seconds since the Unix epoch; 0 means unknown.
struct UserEntry {
  uint64_t last_used = 0;
  uint64_t last_decay = 0;
  uint32_t frequency = 0;

  friend bool operator==(const UserEntry&, const UserEntry&) = default;
};

struct BigramEntry {
  uint32_t frequency = 0;
  uint64_t last_used = 0;

  friend bool operator==(const BigramEntry&, const BigramEntry&) = default;
};

struct SelectionEntry {
  std::string text;
  uint32_t count = 0;
  uint64_t last_used = 0;

  friend bool operator==(const SelectionEntry&, const SelectionEntry&) = default;
};

// "user-dictionary.json".
struct UserDictionaryDocument {
  std::string reset_id;
  StringMap<UserEntry> words;
  StringMap<uint64_t> tombstones;  // word -> deletion time
};

// "user-bigrams.json": first word -> second word -> entry.
struct UserBigramsDocument {
  std::string reset_id;
  StringMap<StringMap<BigramEntry>> pairs;
};

// "user-trigrams.json": first word + TAB + second word -> third word -> count.
struct UserTrigramsDocument {
  std::string reset_id;
  StringMap<StringMap<uint32_t>> triples;
};

// "selection-memory.json": raw input -> the candidate last chosen for it.
struct SelectionMemoryDocument {
  std::string reset_id;
  StringMap<SelectionEntry> selections;
};

// "rejections.json": raw input -> candidate -> penalty.
struct RejectionsDocument {
  std::string reset_id;
  StringMap<StringMap<int32_t>> entries;
};

// Reads one document. Accepts any JSON layout, ignores keys it does not know and lets the later
// of two equal keys of a map win. An entry whose key or chosen text is longer than its bound in
// word_form.h is left out, as an import leaves it out. Fails, with the reason in `error` and `out`
// unspecified, when the text is not exactly one valid UTF-8 JSON value, a required key is missing,
// a record field is named twice, a value has the wrong type (a count of 1.0, null, "7") or an
// integer lies outside its width.
[[nodiscard]] bool decode_document(std::string_view text, UserDictionaryDocument& out,
                                   std::string& error);
[[nodiscard]] bool decode_document(std::string_view text, UserBigramsDocument& out,
                                   std::string& error);
[[nodiscard]] bool decode_document(std::string_view text, UserTrigramsDocument& out,
                                   std::string& error);
[[nodiscard]] bool decode_document(std::string_view text, SelectionMemoryDocument& out,
                                   std::string& error);
[[nodiscard]] bool decode_document(std::string_view text, RejectionsDocument& out,
                                   std::string& error);

// Writes one document in compact form ("reset_id" first, entry keys in their fixed order, raw
// UTF-8, control characters escaped) into `out`, replacing its content. Fails only when a string
// is not valid UTF-8, which the file could not be read back with; `error` then says which.
[[nodiscard]] bool encode_document(const UserDictionaryDocument& doc, std::string& out,
                                   std::string& error);
[[nodiscard]] bool encode_document(const UserBigramsDocument& doc, std::string& out,
                                   std::string& error);
[[nodiscard]] bool encode_document(const UserTrigramsDocument& doc, std::string& out,
                                   std::string& error);
[[nodiscard]] bool encode_document(const SelectionMemoryDocument& doc, std::string& out,
                                   std::string& error);
[[nodiscard]] bool encode_document(const RejectionsDocument& doc, std::string& out,
                                   std::string& error);

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_STORE_DOCUMENTS_H_
