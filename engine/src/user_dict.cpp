#include "user_dict.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "store_bounds.h"
#include "utf8.h"
#include "word_form.h"

namespace tolvani::engine {

namespace {

constexpr uint64_t kIdleSeconds = 2'592'000;        // 30 days
constexpr uint64_t kTombstoneLifetime = 7'776'000;  // 90 days
constexpr uint32_t kMaxFrequency = std::numeric_limits<uint32_t>::max();

// A store file larger than its bound is set aside unread, so the caps must not outgrow it.
static_assert(kUserDictionaryCap <= store_io::bounds::kDictionaryWords);
static_assert(kTombstoneCap <= store_io::bounds::kDictionaryTombstones);

const StoreSyncRules kRules{
    .fail_without_folder = true,
    .folder_failure_line = "[Tolvani] failed to create user dict directory: ",
    .serialise_failure_line = "[Tolvani] failed to serialize user dictionary: ",
};

uint64_t saturating_sub(uint64_t a, uint64_t b) { return a > b ? a - b : 0; }

uint32_t saturating_add(uint32_t a, uint32_t b) {
  return a > kMaxFrequency - b ? kMaxFrequency : a + b;
}

uint64_t last_activity(const UserEntry& e) { return std::max(e.last_used, e.last_decay); }

void evict_words(StringMap<UserEntry>& words) {
  if (words.size() <= kUserDictionaryKept) return;
  using It = StringMap<UserEntry>::iterator;
  std::vector<std::pair<uint64_t, It>> ranked;
  ranked.reserve(words.size());
  for (It it = words.begin(); it != words.end(); ++it) {
    const UserEntry& e = it->second;
    ranked.emplace_back(e.last_used / 3'600 + 100 * uint64_t{e.frequency}, it);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  const size_t drop = words.size() - kUserDictionaryKept;
  for (size_t n = 0; n < drop; ++n) words.erase(ranked[n].second);
}

// Keeps the kTombstonesKept newest tombstones (those for ever first); of equal times, the words
// first in byte order.
void evict_tombstones(StringMap<uint64_t>& tombstones) {
  if (tombstones.size() <= kTombstoneCap) return;
  using It = StringMap<uint64_t>::iterator;
  std::vector<It> ranked;
  ranked.reserve(tombstones.size());
  for (It it = tombstones.begin(); it != tombstones.end(); ++it) ranked.push_back(it);
  const auto newer = [](It a, It b) {
    return a->second != b->second ? a->second > b->second : a->first < b->first;
  };
  std::nth_element(ranked.begin(), ranked.begin() + kTombstonesKept, ranked.end(), newer);
  for (auto it = ranked.begin() + kTombstonesKept; it != ranked.end(); ++it) tombstones.erase(*it);
}

// Re-keys `words` by their normalised form (word_form::stored_word: a word without one is
// dropped); entries of the same form are merged (frequencies summed, the later times kept). False
// when every word was in normal form already.
bool normalise_words(StringMap<UserEntry>& words) {
  // Nearly every word read is normal already, which is told without copying it; each of the
  // others is normalised once (a large file of long words costs that much at every load).
  std::vector<std::pair<std::string, std::optional<std::string>>> renamed;
  for (const auto& item : words) {
    if (word_form::is_stored_word(item.first)) continue;
    renamed.emplace_back(item.first, word_form::stored_word(item.first));
  }
  for (auto& [word, form] : renamed) {
    const UserEntry e = words.extract(word).mapped();
    // An empty form (nothing can ever be typed as an empty word) or one past the bound.
    if (!form) continue;
    // A form is normal, so no word still to be renamed is one.
    auto [it, inserted] = words.try_emplace(std::move(*form), e);
    if (inserted) continue;
    it->second.frequency = saturating_add(it->second.frequency, e.frequency);
    it->second.last_used = std::max(it->second.last_used, e.last_used);
    it->second.last_decay = std::max(it->second.last_decay, e.last_decay);
  }
  return !renamed.empty();
}

// The file's content merged into the working copy of a sync. The file's words are brought to
// normal form first, as a load does: merged unchanged, a word the load re-keyed would be written
// back beside its normal form and counted into it again at every later load.
void merge_file(UserDictionaryDocument& copy, UserDictionaryDocument& file) {
  normalise_words(file.words);
  for (const auto& [word, t] : file.tombstones) {
    uint64_t& mine = copy.tombstones[word];
    mine = std::max(mine, t);
  }
  for (const auto& [word, theirs] : file.words) {
    if (tombstoned(copy.tombstones, word, theirs)) continue;
    auto [it, inserted] = copy.words.try_emplace(word, theirs);
    if (inserted) continue;
    UserEntry& mine = it->second;
    if (theirs.last_decay > mine.last_decay) {
      mine.frequency = theirs.frequency;
      mine.last_decay = theirs.last_decay;
    } else if (theirs.last_decay == mine.last_decay) {
      mine.frequency = std::max(mine.frequency, theirs.frequency);
    }
    mine.last_used = std::max(mine.last_used, theirs.last_used);
  }
}

void prune(UserDictionaryDocument& doc, uint64_t now) {
  std::erase_if(doc.words, [&](const auto& item) {
    const auto& [word, e] = item;
    return tombstoned(doc.tombstones, word, e) ||
           (e.frequency < 3 && saturating_sub(now, last_activity(e)) > kIdleSeconds);
  });
  if (doc.words.size() > kUserDictionaryCap) evict_words(doc.words);
  std::erase_if(doc.tombstones, [&](const auto& item) {
    return item.second != kTombstoneForever &&
           saturating_sub(now, item.second) > kTombstoneLifetime;
  });
  evict_tombstones(doc.tombstones);
}

}  // namespace

std::filesystem::path user_dict_path() { return user_data_directory() / "user-dictionary.json"; }

bool tombstoned(const StringMap<uint64_t>& tombstones, std::string_view word,
                const UserEntry& entry) {
  auto it = tombstones.find(word);
  if (it == tombstones.end()) return false;
  return it->second == kTombstoneForever || last_activity(entry) <= it->second;
}

UserDictionary::UserDictionary() : UserDictionary(user_dict_path()) {}

namespace {

// Two probes from one cheap 64-bit hash of the word, eight bytes at a time.
uint64_t filter_hash(std::string_view word) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15;
  const auto load = [&word](size_t at) {
    uint64_t chunk;
    std::memcpy(&chunk, word.data() + at, sizeof chunk);
    return chunk;
  };
  uint64_t h = word.size() * kMultiplier;
  const auto mix = [&h](uint64_t chunk) {
    h = (h ^ chunk) * kMultiplier;
    h ^= h >> 29;
  };
  if (word.size() >= 8) {
    // The first 64 bytes, the length and the last 8 tell real words apart; a longer word is
    // hashed as fast, and one that matches another there only costs a look in the map.
    const size_t head = std::min<size_t>(word.size(), 64);
    for (size_t i = 0; i + 8 <= head; i += 8) mix(load(i));
    mix(load(word.size() - 8));  // the last bytes, overlapping the chunks before
  } else {
    uint64_t tail = 0;
    for (size_t i = 0; i < word.size(); ++i) {
      tail |= uint64_t{static_cast<unsigned char>(word[i])} << (8 * i);
    }
    mix(tail);
  }
  return h;
}

}  // namespace

void WordFilter::add(std::string_view word) {
  const uint64_t h = filter_hash(word);
  for (const uint64_t bit : {h % kBits, (h >> 32) % kBits})
    bits_[bit / 64] |= uint64_t{1} << (bit % 64);
}

bool WordFilter::may_contain(std::string_view word) const {
  const uint64_t h = filter_hash(word);
  for (const uint64_t bit : {h % kBits, (h >> 32) % kBits}) {
    if ((bits_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return false;
  }
  return true;
}

UserDictionary::UserDictionary(std::filesystem::path path, UserDictionaryDocument doc)
    : LearnedStore(std::move(path), std::move(doc)) {
  rebuild_index();
}

void UserDictionary::rebuild_index() {
  filter_.clear();
  sorted_.clear();
  known_places_.clear();
  for (const auto& [word, e] : doc().words) {
    filter_.add(word);
    sorted_.insert(word);
  }
}

std::vector<std::string_view> UserDictionary::words_starting_with(std::string_view prefix,
                                                                  size_t at_most) const {
  std::vector<std::string_view> out;
  for (auto it = sorted_.lower_bound(prefix);
       it != sorted_.end() && it->starts_with(prefix) && out.size() <= at_most; ++it) {
    out.push_back(*it);
  }
  return out;
}

UserDictionary UserDictionary::load() { return load(user_dict_path()); }

UserDictionary UserDictionary::load(std::filesystem::path path) {
  UserDictionary dict(std::move(path));
  dict.take_loaded(load_store_document<UserDictionaryDocument>(dict.path_));
  // So that the next save writes the normalised words.
  {
    const auto edit = dict.edit_doc();
    if (normalise_words(edit->words)) dict.writer_.record_change();
    const uint64_t now = now_secs();
    for (auto& [word, e] : edit->words) {
      if (e.last_used == 0) e.last_used = now;
    }
  }
  dict.rebuild_index();
  return dict;
}

void UserDictionary::add(std::string_view word) {
  // An ill-formed word would make the whole file unreadable once written.
  if (word.empty() || !utf8::is_valid(word)) return;
  uint64_t now = now_secs();
  if (auto t = doc().tombstones.find(word); t != doc().tombstones.end()) {
    if (t->second == kTombstoneForever) return;
    // The renewed entry must be newer than its tombstone, even if the clock went back.
    now = std::max(now, t->second + 1);
  }
  {
    const auto edit = edit_doc();
    auto& words = edit->words;
    if (auto it = words.find(word); it != words.end()) {
      UserEntry& e = it->second;
      e.frequency = saturating_add(e.frequency, 1);
      e.last_used = std::max({e.last_used, e.last_decay, now});
    } else {
      words.emplace(std::string(word),
                    UserEntry{.last_used = now, .last_decay = 0, .frequency = 1});
      filter_.add(word);
      sorted_.emplace(word);
      known_places_.clear();
    }
  }
  if (doc().words.size() > kUserDictionaryCap) evict();
  writer_.record_change();
  if (++changes_ >= kUserDictionarySaveEvery) {
    sync_in_background();
    changes_ = 0;
  }
}

bool UserDictionary::decay() {
  const uint64_t now = now_secs();
  bool changed = false;
  std::vector<std::string> removed;
  {
    const auto edit = edit_doc();
    for (auto& [word, e] : edit->words) {
      if (saturating_sub(now, last_activity(e)) <= kIdleSeconds) continue;
      if (e.frequency > 2) {
        --e.frequency;
        e.last_decay = now;
        changed = true;
      } else {
        removed.push_back(word);
      }
    }
    // Back-dated, so that a copy of the word on disk no newer than 30 days is hidden at the next
    // merge while a later use elsewhere still counts.
    const uint64_t tombstone = saturating_sub(now, kIdleSeconds);
    for (const std::string& word : removed) {
      edit->words.erase(word);
      edit->tombstones.insert_or_assign(word, tombstone);
      if (auto it = sorted_.find(word); it != sorted_.end()) sorted_.erase(it);
    }
    if (!removed.empty()) known_places_.clear();
  }
  if (!changed && removed.empty()) return false;
  writer_.record_change();
  sync_in_background();
  return true;
}

void UserDictionary::evict() {
  evict_words(edit_doc()->words);
  rebuild_index();
}

bool UserDictionary::contains(std::string_view word) const { return find(word) != nullptr; }

const UserEntry* UserDictionary::find(std::string_view word) const {
  // Ranking asks for thousands of words per keystroke, almost none of them the user's: most are
  // answered by the filter, and an empty map need not be asked at all.
  const auto& words = doc().words;
  if (words.empty() || !filter_.may_contain(word)) return nullptr;
  auto it = words.find(word);
  return it == words.end() ? nullptr : &it->second;
}

uint32_t UserDictionary::boost_for(std::string_view word) const {
  const UserEntry* e = find(word);
  if (e == nullptr) return 0;
  const uint32_t f = std::min<uint32_t>(e->frequency, 100) * 10;
  if (e->last_used == 0) return std::min<uint32_t>(1'000 + f, kMaxUserBoost);
  const uint64_t age = saturating_sub(now_secs(), e->last_used);
  const uint32_t recency = age < 7'200 ? 200 : age < 90'000 ? 100 : age < 608'400 ? 50 : 0;
  return std::min<uint32_t>(1'000 + f + recency, kMaxUserBoost);
}

bool UserDictionary::sync() const {
  return sync_store(path_, writer_, doc(), kRules, merge_file,
                    [](UserDictionaryDocument& copy) { prune(copy, now_secs()); });
}

void UserDictionary::sync_in_background() const { request_background_save(*this); }

}  // namespace tolvani::engine
