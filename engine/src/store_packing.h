// Learned-store documents packed into a few flat arrays. A background save copies its store's
// document under the lock the store changes it under; packing costs no allocation per entry, so
// the lock is held for far less time than a copy of the maps would take. The save unpacks it
// afterwards, on its own thread.
// Internal to the stores. Thread-safety: works on the caller's values only.
#ifndef TOLVANI_ENGINE_STORE_PACKING_H_
#define TOLVANI_ENGINE_STORE_PACKING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store_documents.h"

namespace tolvani::engine {

// Texts end to end, each found by its end offset.
class PackedTexts {
 public:
  void reserve(size_t count) { ends_.reserve(count); }
  void add(std::string_view text) {
    bytes_.append(text);
    ends_.push_back(bytes_.size());
  }
  size_t size() const { return ends_.size(); }
  std::string_view operator[](size_t i) const {
    const size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(begin, ends_[i] - begin);
  }

 private:
  std::string bytes_;
  std::vector<size_t> ends_;
};

template <typename V>
struct PackedMap {
  PackedTexts keys;
  std::vector<V> values;
};

template <typename V>
PackedMap<V> pack_map(const StringMap<V>& map) {
  PackedMap<V> packed;
  packed.keys.reserve(map.size());
  packed.values.reserve(map.size());
  for (const auto& [key, value] : map) {
    packed.keys.add(key);
    packed.values.push_back(value);
  }
  return packed;
}

template <typename V>
StringMap<V> unpack_map(PackedMap<V>&& packed) {
  StringMap<V> map;
  map.reserve(packed.keys.size());
  for (size_t i = 0; i < packed.keys.size(); ++i) {
    map.emplace(std::string(packed.keys[i]), std::move(packed.values[i]));
  }
  return map;
}

// A two-level map: the outer keys with how many inner entries each has, then every inner entry.
template <typename V>
struct PackedNestedMap {
  PackedTexts outer_keys;
  std::vector<size_t> inner_counts;
  PackedMap<V> inner;
};

template <typename V>
PackedNestedMap<V> pack_map(const StringMap<StringMap<V>>& map) {
  PackedNestedMap<V> packed;
  packed.outer_keys.reserve(map.size());
  packed.inner_counts.reserve(map.size());
  for (const auto& [key, inner] : map) {
    packed.outer_keys.add(key);
    packed.inner_counts.push_back(inner.size());
    for (const auto& [inner_key, value] : inner) {
      packed.inner.keys.add(inner_key);
      packed.inner.values.push_back(value);
    }
  }
  return packed;
}

template <typename V>
StringMap<StringMap<V>> unpack_map(PackedNestedMap<V>&& packed) {
  StringMap<StringMap<V>> map;
  map.reserve(packed.outer_keys.size());
  size_t next = 0;
  for (size_t i = 0; i < packed.outer_keys.size(); ++i) {
    StringMap<V>& inner = map[std::string(packed.outer_keys[i])];
    inner.reserve(packed.inner_counts[i]);
    for (size_t n = 0; n < packed.inner_counts[i]; ++n, ++next) {
      inner.emplace(std::string(packed.inner.keys[next]), std::move(packed.inner.values[next]));
    }
  }
  return map;
}

// How a document is packed: by default it is simply copied.
template <typename Doc>
struct DocumentPacking {
  using Packed = Doc;
  static Packed pack(const Doc& doc) { return doc; }
  static Doc unpack(Packed&& packed) { return std::move(packed); }
};

template <>
struct DocumentPacking<UserDictionaryDocument> {
  struct Packed {
    std::string reset_id;
    PackedMap<UserEntry> words;
    PackedMap<uint64_t> tombstones;
  };
  static Packed pack(const UserDictionaryDocument& doc) {
    return {doc.reset_id, pack_map(doc.words), pack_map(doc.tombstones)};
  }
  static UserDictionaryDocument unpack(Packed&& packed) {
    return {std::move(packed.reset_id), unpack_map(std::move(packed.words)),
            unpack_map(std::move(packed.tombstones))};
  }
};

// The documents that are one two-level map beside their reset id.
template <typename Doc, typename V, StringMap<StringMap<V>> Doc::*kMap>
struct NestedDocumentPacking {
  struct Packed {
    std::string reset_id;
    PackedNestedMap<V> map;
  };
  static Packed pack(const Doc& doc) { return {doc.reset_id, pack_map(doc.*kMap)}; }
  static Doc unpack(Packed&& packed) {
    Doc doc;
    doc.reset_id = std::move(packed.reset_id);
    doc.*kMap = unpack_map(std::move(packed.map));
    return doc;
  }
};

template <>
struct DocumentPacking<UserBigramsDocument>
    : NestedDocumentPacking<UserBigramsDocument, BigramEntry, &UserBigramsDocument::pairs> {};
template <>
struct DocumentPacking<UserTrigramsDocument>
    : NestedDocumentPacking<UserTrigramsDocument, uint32_t, &UserTrigramsDocument::triples> {};
template <>
struct DocumentPacking<RejectionsDocument>
    : NestedDocumentPacking<RejectionsDocument, int32_t, &RejectionsDocument::entries> {};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_STORE_PACKING_H_
