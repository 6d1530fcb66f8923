// Layout of the lexicon's embedded tables, shared by the lexicon builder (writer) and the
// engine (reader). Frozen for a build: both sides compile against this one header.
//
// entries:          records of kEntrySize bytes: u32 word offset, u32 key offset, u16 frequency,
//                   u8 word length, u8 key length (little-endian)
// exact buckets:    rows of kExactRowSize bytes: 3-byte key prefix, 0, u32 first id per section;
//                   then one end row of kExactEndRowSize bytes: the three section ends
// folded buckets:   rows of kFoldedRowSize bytes: 3-byte folded prefix, 0, u32 start index
// id lists:         u32 ids
// maps:             kMapHeaderSize bytes (magic, u64 key count, u32 value width 4 or 8, u32 0),
//                   then count values of that width (zero-padded to a multiple of 8 bytes), then
//                   a marisa trie whose key ids index the values
#ifndef TOLVANI_ENGINE_LEXICON_FORMAT_H_
#define TOLVANI_ENGINE_LEXICON_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tolvani::engine::lexicon_format {

inline constexpr size_t kEntrySize = 12;
inline constexpr size_t kExactRowSize = 16;
inline constexpr size_t kExactEndRowSize = 12;
inline constexpr size_t kFoldedRowSize = 8;
inline constexpr size_t kSections = 3;
inline constexpr std::string_view kMapMagic = "TVMAP001";
inline constexpr size_t kMapHeaderSize = 24;

// The first three bytes of a key, zero-padded, as a big-endian 24-bit number.
constexpr uint32_t prefix24(std::string_view key) {
  uint32_t p = 0;
  for (size_t i = 0; i < 3; ++i) {
    p = p << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  }
  return p;
}

constexpr uint32_t read_u32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr uint64_t read_u64(const unsigned char* p) {
  return uint64_t{read_u32(p)} | uint64_t{read_u32(p + 4)} << 32;
}

// The row prefix of a bucket row (its first three bytes).
constexpr uint32_t row_prefix(const unsigned char* row) {
  return uint32_t{row[0]} << 16 | uint32_t{row[1]} << 8 | uint32_t{row[2]};
}

}  // namespace tolvani::engine::lexicon_format

#endif  // TOLVANI_ENGINE_LEXICON_FORMAT_H_
