// Checks the written tables against every invariant the engine's lookups rely on.
#include <marisa.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

#include "keyfold.h"
#include "lexicon_format.h"
#include "lexicon_tables.h"
#include "utf8.h"
#include "word_form.h"

namespace tolvani::lexicon {

namespace fmt = engine::lexicon_format;

namespace {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const unsigned char* bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

struct Entry {
  std::string_view word;
  std::string_view key;
  uint32_t key_offset;
  uint16_t frequency;
};

// A map blob opened for checking: key to value.
struct OpenMap {
  std::string blob;
  marisa::Trie trie;
  std::vector<uint64_t> values;
  bool ok = false;
};

bool open_map(const std::filesystem::path& path, OpenMap& m, std::vector<std::string>& problems) {
  m.blob = read_file(path);
  const std::string& b = m.blob;
  if (b.size() < fmt::kMapHeaderSize || std::string_view(b).substr(0, 8) != fmt::kMapMagic) {
    problems.push_back(path.filename().string() + ": no map header");
    return false;
  }
  const uint64_t count = fmt::read_u64(bytes(b) + 8);
  const uint32_t width = fmt::read_u32(bytes(b) + 16);
  size_t values_size = count * width;
  values_size += (8 - values_size % 8) % 8;
  if ((width != 4 && width != 8) || b.size() < fmt::kMapHeaderSize + values_size) {
    problems.push_back(path.filename().string() + ": bad value array");
    return false;
  }
  for (uint64_t i = 0; i < count; ++i) {
    const unsigned char* p = bytes(b) + fmt::kMapHeaderSize + i * width;
    m.values.push_back(width == 8 ? fmt::read_u64(p) : fmt::read_u32(p));
  }
  try {
    m.trie.map(b.data() + fmt::kMapHeaderSize + values_size,
               b.size() - fmt::kMapHeaderSize - values_size);
  } catch (const marisa::Exception& e) {
    problems.push_back(path.filename().string() + ": " + e.what());
    return false;
  }
  if (m.trie.num_keys() != count) {
    problems.push_back(path.filename().string() + ": key count differs from value count");
    return false;
  }
  m.ok = true;
  return true;
}

// Every key of the map with its value, in key order.
std::map<std::string, uint64_t> map_contents(const OpenMap& m) {
  std::map<std::string, uint64_t> out;
  marisa::Agent agent;
  agent.set_query("");
  while (m.trie.predictive_search(agent)) {
    out[std::string(agent.key().ptr(), agent.key().length())] = m.values[agent.key().id()];
  }
  return out;
}

void check_buckets(const std::vector<Entry>& entries, bool bangla, const std::string& ids_blob,
                   const OpenMap& map, const std::string& name,
                   std::vector<std::string>& problems) {
  std::map<std::string, std::vector<uint32_t>> expected;
  for (uint32_t id = 0; id < entries.size(); ++id) {
    const std::string_view text = bangla ? entries[id].word : entries[id].key;
    size_t pos = 0;
    engine::utf8::decode_next(text, pos);
    expected[std::string(text.substr(0, pos))].push_back(id);
    if (pos < text.size()) {
      engine::utf8::decode_next(text, pos);
      expected[std::string(text.substr(0, pos))].push_back(id);
    }
  }
  const auto actual = map_contents(map);
  if (actual.size() != expected.size()) {
    problems.push_back(name + ": " + std::to_string(actual.size()) + " buckets, expected " +
                       std::to_string(expected.size()));
    return;
  }
  const size_t id_count = ids_blob.size() / 4;
  uint64_t next_start = 0;
  for (const auto& [key, value] : actual) {
    const uint64_t start = value >> 32;
    const uint64_t count = value & 0xFFFFFFFF;
    const auto it = expected.find(key);
    if (it == expected.end()) {
      problems.push_back(name + ": unexpected bucket " + key);
      return;
    }
    if (start != next_start || start + count > id_count) {
      problems.push_back(name + ": bucket " + key + " is not laid out in key order");
      return;
    }
    next_start = start + count;
    if (count != std::min(it->second.size(), kBucketCap)) {
      problems.push_back(name + ": bucket " + key + " has the wrong size");
      return;
    }
    std::set<uint32_t> members(it->second.begin(), it->second.end());
    uint16_t previous = UINT16_MAX;
    for (uint64_t i = 0; i < count; ++i) {
      const uint32_t id = fmt::read_u32(bytes(ids_blob) + (start + i) * 4);
      if (!members.contains(id) || entries[id].frequency > previous) {
        problems.push_back(name + ": bucket " + key + " lists a wrong id or breaks the order");
        return;
      }
      previous = entries[id].frequency;
    }
    // A cut bucket keeps the most frequent entries.
    if (count < it->second.size()) {
      uint16_t best_left_out = 0;
      std::set<uint32_t> listed;
      for (uint64_t i = 0; i < count; ++i)
        listed.insert(fmt::read_u32(bytes(ids_blob) + (start + i) * 4));
      for (uint32_t id : it->second) {
        if (!listed.contains(id)) best_left_out = std::max(best_left_out, entries[id].frequency);
      }
      if (best_left_out > previous) problems.push_back(name + ": bucket " + key + " cut wrongly");
    }
  }
  if (next_start != id_count) problems.push_back(name + ": id list has unused ids");
}

}  // namespace

std::vector<std::string> validate_tables(const std::filesystem::path& folder) {
  std::vector<std::string> problems;
  const std::string entry_blob = read_file(folder / "entries.bin");
  const std::string bengali = read_file(folder / "bengali_strings.bin");
  const std::string phonetic = read_file(folder / "phonetic_strings.bin");
  const std::string exact = read_file(folder / "exact_buckets.bin");
  const std::string folded_rows = read_file(folder / "folded_buckets.bin");
  const std::string folded_ids = read_file(folder / "folded_ids.bin");
  const std::string bengali_ids = read_file(folder / "bengali_ids.bin");
  const std::string phonetic_ids = read_file(folder / "phonetic_ids.bin");

  if (entry_blob.empty() || entry_blob.size() % fmt::kEntrySize != 0) {
    problems.push_back("entries.bin: size is not a whole number of entries");
    return problems;
  }
  const size_t n = entry_blob.size() / fmt::kEntrySize;
  std::vector<Entry> entries(n);
  for (size_t id = 0; id < n; ++id) {
    const unsigned char* p = bytes(entry_blob) + id * fmt::kEntrySize;
    const uint32_t wo = fmt::read_u32(p);
    const uint32_t ko = fmt::read_u32(p + 4);
    const uint16_t f = static_cast<uint16_t>(p[8] | p[9] << 8);
    const size_t wl = p[10];
    const size_t kl = p[11];
    if (wo + wl > bengali.size() || ko + kl > phonetic.size() || wl == 0 || kl == 0 || f == 0) {
      problems.push_back("entry " + std::to_string(id) + " lies outside its pools or is empty");
      return problems;
    }
    entries[id] = {std::string_view(bengali).substr(wo, wl),
                   std::string_view(phonetic).substr(ko, kl), ko, f};
    if (!engine::utf8::is_valid(entries[id].word)) {
      problems.push_back("entry " + std::to_string(id) + ": word is not UTF-8");
    } else if (const FormCheck form = form_problem(entries[id].word); form.broken) {
      problems.push_back("entry " + std::to_string(id) + ": " + std::string(entries[id].word) +
                         " is broken: " + std::string(form_rule_name(form.rule)));
    }
    for (char c : entries[id].key) {
      const bool allowed = (c >= 'a' && c <= 'z') || c == '1' || c == '2' || c == '4' || c == ',' ||
                           c == ':' || c == '^';
      if (!allowed) {
        problems.push_back("entry " + std::to_string(id) + ": key outside the key alphabet");
        break;
      }
    }
  }

  // Sections, from the exact index's end row.
  if (exact.size() < fmt::kExactEndRowSize ||
      (exact.size() - fmt::kExactEndRowSize) % fmt::kExactRowSize != 0) {
    problems.push_back("exact_buckets.bin: bad size");
    return problems;
  }
  const size_t exact_rows = (exact.size() - fmt::kExactEndRowSize) / fmt::kExactRowSize;
  const unsigned char* end_row = bytes(exact) + exact_rows * fmt::kExactRowSize;
  uint32_t section_end[3];
  for (size_t s = 0; s < 3; ++s) section_end[s] = fmt::read_u32(end_row + 4 * s);
  if (section_end[0] > section_end[1] || section_end[1] > section_end[2] || section_end[2] != n) {
    problems.push_back("exact_buckets.bin: section ends do not cover the entries");
    return problems;
  }

  // Sorted sections, runs sharing one key offset and ordered by frequency, keys in one section.
  std::unordered_map<std::string_view, size_t> section_of_key;
  uint32_t lo = 0;
  for (size_t s = 0; s < 3; ++s) {
    for (uint32_t id = lo; id < section_end[s]; ++id) {
      const Entry& e = entries[id];
      if (auto [it, inserted] = section_of_key.try_emplace(e.key, s);
          !inserted && it->second != s) {
        problems.push_back("key " + std::string(e.key) + " stands in two sections");
      }
      if (id == lo) continue;
      const Entry& prev = entries[id - 1];
      if (prev.key > e.key)
        problems.push_back("section " + std::to_string(s + 1) + " is not sorted at id " +
                           std::to_string(id));
      if (prev.key == e.key) {
        if (prev.key_offset != e.key_offset)
          problems.push_back("run of " + std::string(e.key) + " does not share its key");
        if (prev.frequency < e.frequency)
          problems.push_back("run of " + std::string(e.key) + " is not in frequency order");
        if (prev.word == e.word)
          problems.push_back("run of " + std::string(e.key) + " repeats a word");
      } else if (prev.key_offset == e.key_offset) {
        problems.push_back("keys " + std::string(prev.key) + " and " + std::string(e.key) +
                           " share an offset");
      }
    }
    lo = section_end[s];
  }

  // Exact index: one row per distinct padded prefix, each start the first id not below it.
  std::set<uint32_t> prefixes;
  for (const Entry& e : entries) prefixes.insert(fmt::prefix24(e.key));
  if (prefixes.size() != exact_rows)
    problems.push_back("exact_buckets.bin: row count differs from distinct prefixes");
  size_t row = 0;
  uint32_t cursor[3] = {0, section_end[0], section_end[1]};  // prefixes only grow row by row
  for (uint32_t p : prefixes) {
    if (row >= exact_rows) break;
    const unsigned char* r = bytes(exact) + row * fmt::kExactRowSize;
    if (fmt::row_prefix(r) != p || r[3] != 0) {
      problems.push_back("exact_buckets.bin: row " + std::to_string(row) + " has the wrong prefix");
      break;
    }
    bool starts_ok = true;
    for (size_t s = 0; s < 3; ++s) {
      while (cursor[s] < section_end[s] && fmt::prefix24(entries[cursor[s]].key) < p) ++cursor[s];
      if (fmt::read_u32(r + 4 + 4 * s) != cursor[s]) starts_ok = false;
    }
    if (!starts_ok) {
      problems.push_back("exact_buckets.bin: row " + std::to_string(row) + " starts wrongly");
      break;
    }
    ++row;
  }

  // Folded ids: a permutation sorted by folded key, then frequency; one row per folded prefix.
  if (folded_ids.size() != n * 4) {
    problems.push_back("folded_ids.bin: not one id per entry");
  } else {
    std::vector<bool> seen(n, false);
    engine::KeyFolder folder_a;
    std::string previous;
    uint16_t previous_frequency = 0;
    std::map<uint32_t, uint32_t> first_index;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t id = fmt::read_u32(bytes(folded_ids) + 4 * i);
      if (id >= n || seen[id]) {
        problems.push_back("folded_ids.bin: not a permutation");
        break;
      }
      seen[id] = true;
      const std::string f(folder_a.fold(entries[id].key));
      if (i > 0 &&
          (f < previous || (f == previous && entries[id].frequency > previous_frequency))) {
        problems.push_back("folded_ids.bin: out of order at " + std::to_string(i));
        break;
      }
      first_index.try_emplace(fmt::prefix24(f), i);
      previous = f;
      previous_frequency = entries[id].frequency;
    }
    if (folded_rows.size() != first_index.size() * fmt::kFoldedRowSize) {
      problems.push_back("folded_buckets.bin: row count differs from distinct folded prefixes");
    } else {
      size_t r = 0;
      for (const auto& [p, start] : first_index) {
        const unsigned char* row_bytes = bytes(folded_rows) + r++ * fmt::kFoldedRowSize;
        if (fmt::row_prefix(row_bytes) != p || fmt::read_u32(row_bytes + 4) != start) {
          problems.push_back("folded_buckets.bin: row " + std::to_string(r - 1) + " is wrong");
          break;
        }
      }
    }
  }

  // Buckets and the word map.
  OpenMap bengali_map, phonetic_map, lexicon_map;
  if (open_map(folder / "bengali_buckets.map", bengali_map, problems)) {
    check_buckets(entries, true, bengali_ids, bengali_map, "bengali buckets", problems);
  }
  if (open_map(folder / "phonetic_buckets.map", phonetic_map, problems)) {
    check_buckets(entries, false, phonetic_ids, phonetic_map, "phonetic buckets", problems);
  }
  if (open_map(folder / "lexicon_map.map", lexicon_map, problems)) {
    std::map<std::string, uint64_t> expected;
    for (const Entry& e : entries) {
      uint64_t& f = expected[std::string(e.word)];
      f = std::max<uint64_t>(f, e.frequency);
    }
    if (map_contents(lexicon_map) != expected) {
      problems.push_back("lexicon map: words or frequencies differ from the entries");
    }
  }
  return problems;
}

}  // namespace tolvani::lexicon
