#include "lexicon_tables.h"

#include <marisa.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

#include "keyfold.h"
#include "lexicon_format.h"
#include "utf8.h"

namespace tolvani::lexicon {

namespace fmt = engine::lexicon_format;

namespace {

using Bytes = std::vector<unsigned char>;

void put_u16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
void put_u32(Bytes& out, uint32_t v) {
  for (int s = 0; s < 32; s += 8) out.push_back(static_cast<unsigned char>(v >> s));
}
void put_u64(Bytes& out, uint64_t v) {
  put_u32(out, static_cast<uint32_t>(v));
  put_u32(out, static_cast<uint32_t>(v >> 32));
}
void put_prefix(Bytes& out, uint32_t p) {
  out.push_back(static_cast<unsigned char>(p >> 16));
  out.push_back(static_cast<unsigned char>(p >> 8));
  out.push_back(static_cast<unsigned char>(p));
  out.push_back(0);
}

bool write_file(const std::filesystem::path& path, const void* data, size_t size,
                std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

bool write_bytes(const std::filesystem::path& path, const Bytes& bytes, std::string& error) {
  return write_file(path, bytes.data(), bytes.size(), error);
}

// A map blob: header, values, then the trie. Values are given in key order of `values`.
template <typename Value>
bool write_map(const std::filesystem::path& path, const std::map<std::string, Value>& values,
               std::string& error) {
  marisa::Keyset keyset;
  for (const auto& [key, value] : values) keyset.push_back(key.data(), key.size());
  marisa::Trie trie;
  trie.build(keyset,
             static_cast<int>(MARISA_DEFAULT_NUM_TRIES) | static_cast<int>(MARISA_LABEL_ORDER));
  std::vector<Value> by_id(values.size());
  size_t i = 0;
  for (const auto& entry : values) by_id[keyset[i++].id()] = entry.second;

  Bytes out(fmt::kMapMagic.begin(), fmt::kMapMagic.end());
  put_u64(out, values.size());
  put_u32(out, sizeof(Value));
  put_u32(out, 0);
  for (Value v : by_id) {
    if constexpr (sizeof(Value) == 8) {
      put_u64(out, v);
    } else {
      put_u32(out, v);
    }
  }
  while (out.size() % 8 != 0) out.push_back(0);

  // marisa writes to a stream; take its bytes.
  std::stringstream trie_bytes;
  trie_bytes << trie;
  const std::string t = trie_bytes.str();
  out.insert(out.end(), t.begin(), t.end());
  return write_bytes(path, out, error);
}

// The first one and the first two scalars of `text`, as bucket keys.
std::vector<std::string> bucket_keys(std::string_view text) {
  std::vector<std::string> keys;
  if (text.empty()) return keys;
  size_t pos = 0;
  engine::utf8::decode_next(text, pos);
  keys.emplace_back(text.substr(0, pos));
  if (pos < text.size()) {
    engine::utf8::decode_next(text, pos);
    keys.emplace_back(text.substr(0, pos));
  }
  return keys;
}

struct Built {
  std::vector<SourceEntry> entries;  // in id order
  uint32_t section_end[fmt::kSections] = {0, 0, 0};
};

// Orders entries into the three sections: by key inside each, by frequency inside each key.
Built order_entries(std::vector<SourceEntry> entries) {
  // A repeated (word, key) pair keeps its highest frequency.
  std::sort(entries.begin(), entries.end(), [](const SourceEntry& a, const SourceEntry& b) {
    if (a.key != b.key) return a.key < b.key;
    if (a.word != b.word) return a.word < b.word;
    return a.frequency > b.frequency;
  });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const SourceEntry& a, const SourceEntry& b) {
                              return a.key == b.key && a.word == b.word;
                            }),
                entries.end());
  std::unordered_map<std::string, uint16_t> peak;
  for (const SourceEntry& e : entries) peak[e.key] = std::max(peak[e.key], e.frequency);
  auto section_of = [&](const std::string& key) {
    const uint16_t p = peak[key];
    return p >= kFirstSectionPeak ? 0 : p >= kSecondSectionPeak ? 1 : 2;
  };
  std::stable_sort(entries.begin(), entries.end(), [&](const SourceEntry& a, const SourceEntry& b) {
    const int sa = section_of(a.key);
    const int sb = section_of(b.key);
    if (sa != sb) return sa < sb;
    if (a.key != b.key) return a.key < b.key;
    if (a.frequency != b.frequency) return a.frequency > b.frequency;
    return a.word < b.word;
  });
  Built built;
  for (const SourceEntry& e : entries) ++built.section_end[section_of(e.key)];
  built.section_end[1] += built.section_end[0];
  built.section_end[2] += built.section_end[1];
  built.entries = std::move(entries);
  return built;
}

// Ids of `n` entries ordered by frequency (highest first), then id.
template <typename Freq>
void sort_by_frequency(std::vector<uint32_t>& ids, Freq&& freq) {
  std::sort(ids.begin(), ids.end(), [&](uint32_t a, uint32_t b) {
    if (freq(a) != freq(b)) return freq(a) > freq(b);
    return a < b;
  });
}

// Bucket key to its ids (frequency order, capped), laid out in key order.
bool write_buckets(const std::vector<SourceEntry>& entries, bool bangla,
                   const std::filesystem::path& ids_path, const std::filesystem::path& map_path,
                   std::string& error) {
  std::map<std::string, std::vector<uint32_t>> buckets;
  for (uint32_t id = 0; id < entries.size(); ++id) {
    for (const std::string& key : bucket_keys(bangla ? entries[id].word : entries[id].key)) {
      buckets[key].push_back(id);
    }
  }
  Bytes ids;
  std::map<std::string, uint64_t> values;
  uint64_t start = 0;
  for (auto& [key, list] : buckets) {
    sort_by_frequency(list, [&](uint32_t id) { return entries[id].frequency; });
    if (list.size() > kBucketCap) list.resize(kBucketCap);
    for (uint32_t id : list) put_u32(ids, id);
    values[key] = start << 32 | list.size();
    start += list.size();
  }
  return write_bytes(ids_path, ids, error) && write_map(map_path, values, error);
}

}  // namespace

bool write_tables(std::vector<SourceEntry> source, const std::filesystem::path& folder,
                  std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (const SourceEntry& e : source) {
    if (e.word.empty() || e.key.empty() || e.word.size() > 255 || e.key.size() > 255 ||
        e.frequency == 0) {
      error = "entry out of range: " + e.key + " -> " + e.word;
      return false;
    }
  }
  Built built = order_entries(std::move(source));
  const std::vector<SourceEntry>& entries = built.entries;

  // Entries and pools: a key is stored once per run, a word once however many keys it has.
  Bytes entry_bytes;
  std::string bengali_pool;
  std::string phonetic_pool;
  std::unordered_map<std::string, uint32_t> word_offset;
  uint32_t key_offset = 0;
  for (size_t id = 0; id < entries.size(); ++id) {
    const SourceEntry& e = entries[id];
    if (id == 0 || entries[id - 1].key != e.key) {
      key_offset = static_cast<uint32_t>(phonetic_pool.size());
      phonetic_pool += e.key;
    }
    auto [it, inserted] = word_offset.try_emplace(e.word, bengali_pool.size());
    if (inserted) bengali_pool += e.word;
    put_u32(entry_bytes, it->second);
    put_u32(entry_bytes, key_offset);
    put_u16(entry_bytes, e.frequency);
    entry_bytes.push_back(static_cast<unsigned char>(e.word.size()));
    entry_bytes.push_back(static_cast<unsigned char>(e.key.size()));
  }

  // One exact row per distinct padded prefix: where each section reaches it.
  std::set<uint32_t> prefixes;
  for (const SourceEntry& e : entries) prefixes.insert(fmt::prefix24(e.key));
  Bytes exact;
  for (uint32_t p : prefixes) {
    put_prefix(exact, p);
    uint32_t lo = 0;
    for (size_t s = 0; s < fmt::kSections; ++s) {
      const auto begin = entries.begin() + lo;
      const auto end = entries.begin() + built.section_end[s];
      const auto it = std::partition_point(
          begin, end, [&](const SourceEntry& e) { return fmt::prefix24(e.key) < p; });
      put_u32(exact, static_cast<uint32_t>(it - entries.begin()));
      lo = built.section_end[s];
    }
  }
  for (uint32_t end : built.section_end) put_u32(exact, end);

  // Folded ids, and one folded row per distinct padded folded prefix.
  std::vector<std::string> folded(entries.size());
  engine::KeyFolder folder_of_keys;
  for (size_t id = 0; id < entries.size(); ++id) {
    folded[id] = std::string(folder_of_keys.fold(entries[id].key));
  }
  std::vector<uint32_t> folded_order(entries.size());
  for (uint32_t id = 0; id < entries.size(); ++id) folded_order[id] = id;
  std::sort(folded_order.begin(), folded_order.end(), [&](uint32_t a, uint32_t b) {
    if (folded[a] != folded[b]) return folded[a] < folded[b];
    if (entries[a].frequency != entries[b].frequency) {
      return entries[a].frequency > entries[b].frequency;
    }
    return a < b;
  });
  Bytes folded_ids;
  Bytes folded_rows;
  uint32_t last_prefix = UINT32_MAX;
  for (uint32_t i = 0; i < folded_order.size(); ++i) {
    put_u32(folded_ids, folded_order[i]);
    const uint32_t p = fmt::prefix24(folded[folded_order[i]]);
    if (p != last_prefix) {
      put_prefix(folded_rows, p);
      put_u32(folded_rows, i);
      last_prefix = p;
    }
  }

  std::map<std::string, uint32_t> word_frequency;
  for (const SourceEntry& e : entries) {
    uint32_t& f = word_frequency[e.word];
    f = std::max<uint32_t>(f, e.frequency);
  }

  const bool ok =
      write_bytes(folder / "entries.bin", entry_bytes, error) &&
      write_file(folder / "bengali_strings.bin", bengali_pool.data(), bengali_pool.size(), error) &&
      write_file(folder / "phonetic_strings.bin", phonetic_pool.data(), phonetic_pool.size(),
                 error) &&
      write_bytes(folder / "exact_buckets.bin", exact, error) &&
      write_bytes(folder / "folded_buckets.bin", folded_rows, error) &&
      write_bytes(folder / "folded_ids.bin", folded_ids, error) &&
      write_buckets(entries, true, folder / "bengali_ids.bin", folder / "bengali_buckets.map",
                    error) &&
      write_buckets(entries, false, folder / "phonetic_ids.bin", folder / "phonetic_buckets.map",
                    error) &&
      write_map(folder / "lexicon_map.map", word_frequency, error);
  if (!ok) return false;

  std::ostringstream header;
  header << "// Generated by the lexicon builder: the constants of the embedded lexicon.\n"
         << "#pragma once\n#include <cstdint>\n"
         << "namespace tolvani::engine::lexicon_constants {\n"
         << "inline constexpr uint32_t kEntryCount = " << entries.size() << ";\n"
         << "inline constexpr uint32_t kSectionEnds[3] = {" << built.section_end[0] << ", "
         << built.section_end[1] << ", " << built.section_end[2] << "};\n"
         << "inline constexpr uint32_t kExactRows = " << prefixes.size() << ";\n"
         << "inline constexpr uint32_t kFoldedRows = " << folded_rows.size() / fmt::kFoldedRowSize
         << ";\n"
         << "inline constexpr uint32_t kDistinctWords = " << word_frequency.size() << ";\n"
         << "}  // namespace tolvani::engine::lexicon_constants\n";
  const std::string h = header.str();
  return write_file(folder / "lexicon_constants.h", h.data(), h.size(), error);
}

}  // namespace tolvani::lexicon
