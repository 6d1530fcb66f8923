#include "lexicon.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <sstream>

#include "bigram.h"
#include "keyfold.h"
#include "lexicon_format.h"
#include "once_cell.h"
#include "spelling_preferences.h"
#include "suggest.h"
#include "utf8.h"

namespace tolvani::engine {

namespace fmt = lexicon_format;
static_assert(std::endian::native == std::endian::little,
              "the id lists are read in place as little-endian integers");

namespace {

const unsigned char* ubytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::span<const uint32_t> id_list(std::string_view blob) {
  return {reinterpret_cast<const uint32_t*>(blob.data()), blob.size() / 4};
}

// The bytes of an empty map, for tables whose blob cannot be opened.
OnceCell<std::string> g_empty_fst;

const std::string& empty_fst() {
  return g_empty_fst.get_or_build([] {
    marisa::Keyset keys;
    marisa::Trie trie;
    trie.build(keys);
    std::ostringstream trie_bytes;
    trie_bytes << trie;
    std::string blob(fmt::kMapMagic);
    blob.reserve(10240);
    blob.append(16, '\0');
    blob[16] = 4;  // value width
    blob += trie_bytes.str();
    return blob;
  });
}

OnceCell<FstMap> g_lexicon_map;
OnceCell<FstMap> g_bengali_buckets;
OnceCell<FstMap> g_phonetic_buckets;
OnceCell<PrefixIndex> g_bengali_index;
OnceCell<PrefixIndex> g_phonetic_index;
// Markers: built once the index data has been touched, so that it is in memory.
OnceCell<bool> g_phonetic_exact;
OnceCell<bool> g_phonetic_set;
OnceCell<bool> g_phonetic_folded;

const FstMap& bengali_buckets() {
  return g_bengali_buckets.get_or_build(
      [] { return load_fst_map(lexicon_data().bengali_buckets, "bengali bucket"); });
}

const FstMap& phonetic_buckets() {
  return g_phonetic_buckets.get_or_build(
      [] { return load_fst_map(lexicon_data().phonetic_buckets, "phonetic bucket"); });
}

size_t exact_rows() {
  const size_t size = lexicon_data().exact_buckets.size();
  return size < fmt::kExactEndRowSize ? 0 : (size - fmt::kExactEndRowSize) / fmt::kExactRowSize;
}

// The last row whose prefix is not above p, of `rows` rows of `row_size` bytes.
std::optional<size_t> find_row(std::string_view table, size_t rows, size_t row_size, uint32_t p) {
  if (rows == 0) return std::nullopt;
  size_t base = 0;
  size_t size = rows;
  while (size > 1) {
    const size_t mid = base + size / 2;
    if (fmt::row_prefix(ubytes(table) + mid * row_size) <= p) base = mid;
    size -= size / 2;
  }
  if (fmt::row_prefix(ubytes(table) + base * row_size) != p) return std::nullopt;
  return base;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Maps

FstMap load_fst_map(std::string_view bytes, std::string_view name) {
  auto open = [](std::string_view b, FstMap& map) -> std::string {
    if (b.size() < fmt::kMapHeaderSize || b.substr(0, fmt::kMapMagic.size()) != fmt::kMapMagic) {
      return "not a map";
    }
    const uint64_t count = fmt::read_u64(ubytes(b) + 8);
    const uint32_t width = fmt::read_u32(ubytes(b) + 16);
    if (width != 4 && width != 8) return "bad value width";
    const size_t available = b.size() - fmt::kMapHeaderSize;
    if (count > available / width) return "value array past the end";
    size_t values_size = count * width;
    values_size += (8 - values_size % 8) % 8;
    if (values_size > available) return "value array past the end";
    auto trie = std::make_unique<marisa::Trie>();
    try {
      trie->map(b.data() + fmt::kMapHeaderSize + values_size, available - values_size);
    } catch (const marisa::Exception& e) {
      return e.what();
    }
    if (trie->num_keys() != count) return "key count differs from value count";
    map.trie_ = std::move(trie);
    map.width_ = width;
    map.values_ = {ubytes(b) + fmt::kMapHeaderSize, count * width};
    return {};
  };
  FstMap map;
  const std::string error = open(bytes, map);
  if (error.empty()) return map;
  std::fprintf(stderr, "[Tolvani] failed to load %.*s FST: %s\n", static_cast<int>(name.size()),
               name.data(), error.c_str());
  FstMap empty;
  if (!open(empty_fst(), empty).empty()) std::fprintf(stderr, "[Tolvani] empty map unusable\n");
  return empty;
}

std::optional<uint64_t> FstMap::get(std::string_view key) const {
  if (width_ == 0) return std::nullopt;
  marisa::Agent agent;
  agent.set_query(key.data(), key.size());
  if (!trie_->lookup(agent)) return std::nullopt;
  const size_t id = agent.key().id();
  if ((id + 1) * width_ > values_.size()) return std::nullopt;
  const unsigned char* p = values_.data() + id * width_;
  return width_ == 8 ? fmt::read_u64(p) : fmt::read_u32(p);
}

bool FstMap::has_key_with_prefix(std::string_view prefix) const {
  if (width_ == 0) return false;
  marisa::Agent agent;
  agent.set_query(prefix.data(), prefix.size());
  return trie_->predictive_search(agent);
}

// ---------------------------------------------------------------------------------------------
// Entries

uint32_t lexicon_size() {
  return static_cast<uint32_t>(lexicon_data().entries.size() / fmt::kEntrySize);
}

std::string_view entry_phonetic(uint32_t id) { return lexicon_entry(id).phonetic; }

namespace {
uint32_t key_offset_of(uint32_t id) {
  return fmt::read_u32(ubytes(lexicon_data().entries) + size_t{id} * fmt::kEntrySize + 4);
}
}  // namespace

uint32_t key_run_end(uint32_t id) {
  const uint32_t n = lexicon_size();
  if (id >= n) return id;
  const uint32_t offset = key_offset_of(id);
  uint32_t next = id + 1;
  while (next < n && key_offset_of(next) == offset) ++next;
  return next;
}

uint32_t first_entry_with_key_at_least(uint32_t lo, uint32_t hi, std::string_view key) {
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (entry_phonetic(mid) < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// ---------------------------------------------------------------------------------------------
// Exact and folded keys

IdRange exact_key_range(std::string_view key) {
  if (key.empty()) return {};
  const LexiconData& d = lexicon_data();
  const size_t rows = exact_rows();
  const auto row = find_row(d.exact_buckets, rows, fmt::kExactRowSize, fmt::prefix24(key));
  if (!row) return {};
  const unsigned char* r = ubytes(d.exact_buckets) + *row * fmt::kExactRowSize;
  // The row after the last one is the end row, which holds the section ends where the starts are.
  const unsigned char* next = r + fmt::kExactRowSize;
  const uint32_t n = lexicon_size();
  for (size_t s = 0; s < fmt::kSections; ++s) {
    const uint32_t lo = fmt::read_u32(r + 4 + 4 * s);
    const uint32_t hi = std::min(
        *row + 1 == rows ? fmt::read_u32(next + 4 * s) : fmt::read_u32(next + 4 + 4 * s), n);
    const uint32_t i = first_entry_with_key_at_least(lo, hi, key);
    if (i < hi && entry_phonetic(i) == key) return {i, key_run_end(i)};
  }
  return {};
}

std::array<IdRange, fmt::kSections> key_prefix_ranges(std::string_view prefix) {
  const LexiconData& d = lexicon_data();
  const size_t rows = exact_rows();
  const uint32_t n = lexicon_size();
  // The id where `row` (the end row for `rows`) starts in section s.
  const auto start = [&](size_t row, size_t s) {
    const unsigned char* r = ubytes(d.exact_buckets) + row * fmt::kExactRowSize;
    return std::min(row == rows ? fmt::read_u32(r + 4 * s) : fmt::read_u32(r + 4 + 4 * s), n);
  };
  // The rows of every 3-byte prefix the keys starting with `prefix` can have.
  uint32_t low = fmt::prefix24(prefix);
  uint32_t high = low;
  for (size_t i = prefix.size(); i < 3; ++i) high |= 0xFFu << (8 * (2 - i));
  const auto row_at_least = [&](uint32_t p) {
    size_t lo = 0;
    size_t hi = rows;
    while (lo < hi) {
      const size_t mid = lo + (hi - lo) / 2;
      if (fmt::row_prefix(ubytes(d.exact_buckets) + mid * fmt::kExactRowSize) < p) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  };
  const size_t first_row = row_at_least(low);
  const size_t end_row = high == 0xFFFFFF ? rows : row_at_least(high + 1);
  // Rows pad short keys with zero bytes, so they alone decide only for short prefixes without one.
  const bool exact_rows_decide = prefix.size() < 3 && prefix.find('\0') == std::string_view::npos;
  std::string successor(prefix);
  while (!successor.empty() && static_cast<unsigned char>(successor.back()) == 0xFF) {
    successor.pop_back();
  }
  if (!successor.empty()) successor.back() = static_cast<char>(successor.back() + 1);

  std::array<IdRange, fmt::kSections> ranges{};
  if (prefix.empty() || rows == 0) return ranges;
  for (size_t s = 0; s < fmt::kSections; ++s) {
    uint32_t lo = start(first_row, s);
    uint32_t hi = std::max(lo, start(end_row, s));
    if (!exact_rows_decide) {
      lo = first_entry_with_key_at_least(lo, hi, prefix);
      if (!successor.empty()) hi = first_entry_with_key_at_least(lo, hi, successor);
    }
    ranges[s] = {lo, hi};
  }
  return ranges;
}

namespace {
bool touch_exact_index() {
  exact_key_range("a");  // brings the exact index into memory
  return true;
}
}  // namespace

IdRange phonetic_exact_ids(std::string_view key) {
  g_phonetic_exact.get_or_build(touch_exact_index);
  return exact_key_range(key);
}

std::span<const uint32_t> folded_key_ids(std::string_view f) {
  const LexiconData& d = lexicon_data();
  const size_t rows = d.folded_buckets.size() / fmt::kFoldedRowSize;
  const auto row = find_row(d.folded_buckets, rows, fmt::kFoldedRowSize, fmt::prefix24(f));
  if (!row) return {};
  const std::span<const uint32_t> all = id_list(d.folded_ids);
  const size_t start = fmt::read_u32(ubytes(d.folded_buckets) + *row * fmt::kFoldedRowSize + 4);
  const size_t end =
      *row + 1 < rows
          ? fmt::read_u32(ubytes(d.folded_buckets) + (*row + 1) * fmt::kFoldedRowSize + 4)
          : all.size();
  if (end < start || end > all.size()) return {};
  const std::span<const uint32_t> range = all.subspan(start, end - start);
  KeyFolder folder;
  const auto first = std::partition_point(
      range.begin(), range.end(), [&](uint32_t id) { return folder.fold(entry_phonetic(id)) < f; });
  auto last = first;
  while (last != range.end() && folder.fold(entry_phonetic(*last)) == f) ++last;
  return range.subspan(static_cast<size_t>(first - range.begin()),
                       static_cast<size_t>(last - first));
}

std::span<const uint32_t> phonetic_folded_ids(std::string_view folded_key) {
  g_phonetic_folded.get_or_build([] {
    folded_key_ids("a");  // brings the folded index into memory
    return true;
  });
  return folded_key_ids(folded_key);
}

bool has_exact_entry_for(std::string_view key, std::string_view word) {
  const IdRange r = exact_key_range(key);
  for (uint32_t id = r.start; id < r.end; ++id) {
    if (lexicon_entry(id).bangla == word) return true;
  }
  return false;
}

std::optional<std::pair<std::string_view, int32_t>> best_exact_entry(std::string_view key) {
  const IdRange r = exact_key_range(key);
  std::optional<std::pair<std::string_view, int32_t>> best;
  for (uint32_t id = r.start; id < r.end; ++id) {
    const LexiconEntry e = lexicon_entry(id);
    if (e.bangla.empty()) continue;
    const int32_t value = static_cast<int32_t>(lexicon_frequency(e.bangla).value_or(e.frequency));
    if (!best || value > best->second || (value == best->second && e.bangla < best->first)) {
      best = std::make_pair(e.bangla, value);
    }
  }
  return best;
}

bool has_exact_phonetic_with_cache_policy(std::string_view text, bool blocking) {
  const std::string_view trimmed = utf8::trim_white_space(text);
  if (trimmed.empty()) return false;
  if (!blocking && !g_phonetic_set.is_built()) return true;
  g_phonetic_set.get_or_build(touch_exact_index);
  std::string key(trimmed);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return !exact_key_range(key).empty();
}

// ---------------------------------------------------------------------------------------------
// Buckets

std::optional<std::span<const uint32_t>> PrefixIndex::get(std::string_view bucket_key) const {
  if (buckets == nullptr) return std::nullopt;
  const std::optional<uint64_t> value = buckets->get(bucket_key);
  if (!value) return std::nullopt;
  const uint64_t start = *value >> 32;
  const uint64_t count = *value & 0xFFFFFFFFu;
  if (start + count > ids.size()) return std::nullopt;
  return ids.subspan(start, count);
}

const PrefixIndex& bengali_index() {
  return g_bengali_index.get_or_build([] {
    return PrefixIndex{&bengali_buckets(), id_list(lexicon_data().bengali_ids)};
  });
}

const PrefixIndex& phonetic_index() {
  return g_phonetic_index.get_or_build([] {
    return PrefixIndex{&phonetic_buckets(), id_list(lexicon_data().phonetic_ids)};
  });
}

std::span<const uint32_t> collect_indices_for_prefix(const PrefixIndex& index,
                                                     std::string_view text) {
  if (text.empty()) return {};
  size_t one = 0;
  utf8::decode_next(text, one);
  size_t two = one;
  if (two < text.size()) utf8::decode_next(text, two);
  if (auto ids = index.get(text.substr(0, two))) return *ids;
  if (auto ids = index.get(text.substr(0, one))) return *ids;
  return {};
}

std::span<const uint32_t> collect_indices_for_fuzzy(const PrefixIndex& index,
                                                    std::string_view text) {
  if (text.empty()) return {};
  size_t one = 0;
  utf8::decode_next(text, one);
  return index.get(text.substr(0, one)).value_or(std::span<const uint32_t>{});
}

std::span<const uint32_t> bengali_fuzzy_indices(std::string_view word) {
  return collect_indices_for_fuzzy(bengali_index(), word);
}

// ---------------------------------------------------------------------------------------------
// Words

const FstMap& lexicon_map() {
  return g_lexicon_map.get_or_build(
      [] { return load_fst_map(lexicon_data().lexicon_map, "lexicon"); });
}

std::optional<uint32_t> lexicon_frequency(std::string_view word) {
  const std::optional<uint64_t> v = lexicon_map().get(word);
  if (!v) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

uint32_t frequency_for(std::string_view word) { return lexicon_frequency(word).value_or(0); }

bool lexicon_contains_with_cache_policy(std::string_view word, bool blocking) {
  const FstMap* map = g_lexicon_map.get(
      blocking, [] { return load_fst_map(lexicon_data().lexicon_map, "lexicon"); });
  return map != nullptr && map->contains(word);
}

// ---------------------------------------------------------------------------------------------
// Readiness

bool suggestions_ready() {
  return g_lexicon_map.is_built() && g_phonetic_buckets.is_built() && g_phonetic_exact.is_built() &&
         g_phonetic_folded.is_built() && g_bengali_buckets.is_built() &&
         g_phonetic_set.is_built() && suggest::autocorrect_ready();
}

void warm_caches() {
  lexicon_map();
  phonetic_index();
  phonetic_exact_ids("");
  phonetic_folded_ids("");
  bengali_index();
  has_exact_phonetic_with_cache_policy("a", true);
  suggest::warm_autocorrect();
  spelling::warm();
  bigram::warm();
}

}  // namespace tolvani::engine
