// The user dictionary: the words this user writes, how often and how recently, and tombstones
// for deleted words; kept in "user-dictionary.json".
// Thread-safety: serialised by the owning session. A copy (for a save job or a learning snapshot)
// may be synced on another thread at the same time; it shares only the writer record's saved
// revision and write lock with its original, which are atomic or locked.
#ifndef TOLVANI_ENGINE_USER_DICT_H_
#define TOLVANI_ENGINE_USER_DICT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "persistence_core.h"
#include "store_documents.h"

namespace tolvani::engine {

// An add that leaves more words than the cap evicts down to the number kept.
inline constexpr size_t kUserDictionaryCap = 10'000;
inline constexpr size_t kUserDictionaryKept = 9'000;
// A write that would leave more tombstones than the cap keeps the newest, down to the number kept.
inline constexpr size_t kTombstoneCap = 10'000;
inline constexpr size_t kTombstonesKept = 9'000;
// The largest ranking bonus a learned word gets.
inline constexpr uint32_t kMaxUserBoost = 2'000;
// Adds between two background save requests.
inline constexpr uint32_t kUserDictionarySaveEvery = 20;

// The user-data folder joined with "user-dictionary.json".
std::filesystem::path user_dict_path();

// Whether `tombstones` hide `word` with entry `entry`: its tombstone is for ever, or no later
// than the later of the entry's last use and last decay.
bool tombstoned(const StringMap<uint64_t>& tombstones, std::string_view word,
                const UserEntry& entry);

// A Bloom filter over words: a word never added is, most of the time, told apart from the added
// ones without hashing into a map. Removing a word leaves its bits set.
class WordFilter {
 public:
  void add(std::string_view word);
  bool may_contain(std::string_view word) const;
  void clear() { bits_.fill(0); }

 private:
  static constexpr size_t kBits = size_t{1} << 17;
  std::array<uint64_t, kBits / 64> bits_{};
};

class UserDictionary : public LearnedStore<UserDictionaryDocument> {
 public:
  // The empty dictionary of user_dict_path(); unsaved, so its first sync writes a file.
  UserDictionary();
  // An unsaved dictionary holding `doc`, kept at `path`.
  explicit UserDictionary(std::filesystem::path path, UserDictionaryDocument doc = {});
  // A copy for a background save (see StoreDocument). It only saves: it answers no questions
  // about its words.
  UserDictionary(const UserDictionary& other, LendForSave lend) : LearnedStore(other, lend) {}
  UserDictionary(const UserDictionary&) = default;
  UserDictionary(UserDictionary&&) = default;
  UserDictionary& operator=(const UserDictionary&) = default;
  UserDictionary& operator=(UserDictionary&&) = default;

  // Reads the dictionary at user_dict_path() (or `path`): words re-keyed to their normalised
  // form (entries of the same form merged), unknown last uses set to now. A missing file gives
  // the empty dictionary; an unreadable one the empty dictionary after one diagnostic line.
  static UserDictionary load();
  static UserDictionary load(std::filesystem::path path);

  // Learns one use of `word`, exactly as given. A word tombstoned for ever, an empty word and one
  // that is not valid UTF-8 change nothing. Every 20th add requests a background save.
  void add(std::string_view word);
  // Lets words idle for more than 30 days decay by one, or go (with a back-dated tombstone) at
  // frequency 2 or less. True, after a background save request, when anything changed.
  bool decay();
  // Keeps the 9,000 words of highest last_used / 3,600 + 100 × frequency.
  void evict();

  // Whether the dictionary holds the word (tombstones are not consulted).
  bool contains(std::string_view word) const;
  // The ranking bonus of a learned word, 1,000 to kMaxUserBoost; 0 for an unknown word.
  uint32_t boost_for(std::string_view word) const;
  // The entry of `word`, or null. Valid until the dictionary next changes.
  const UserEntry* find(std::string_view word) const;

  // Up to `at_most` + 1 of the words starting with `prefix`, in byte order (one more than asked
  // tells that there are more). Valid until the dictionary next changes.
  std::vector<std::string_view> words_starting_with(std::string_view prefix, size_t at_most) const;

  // The places in `ids` (lexicon entry ids) of the entries whose word the dictionary holds, in
  // order; `word_of` gives an entry's word. Remembered, by the address and length of `ids`, until
  // a word comes or goes: ranking asks this of the same few buckets at every keystroke. So `ids`
  // must be a slice of one of the lexicon's own lists, which never move.
  template <typename WordOf>
  std::vector<uint32_t> known_places(std::span<const uint32_t> ids, WordOf word_of) const;

  const StringMap<UserEntry>& words() const { return doc().words; }
  const StringMap<uint64_t>& tombstones() const { return doc().tombstones; }

  // Merges the file into a copy of this dictionary and writes that, under the store's locks;
  // true when written or when nothing needed writing. This dictionary is not changed.
  [[nodiscard]] bool sync() const;
  // Queues a copy of this dictionary for the persistence worker, if it has unsaved changes.
  void sync_in_background() const;

 private:
  void rebuild_index();

  // Every word of the document (and some removed since): ranking asks about thousands of
  // lexicon words per keystroke, almost none of them the user's.
  WordFilter filter_;
  // The words in byte order, for ranking's questions about the words starting with a text.
  std::set<std::string, std::less<>> sorted_;

  struct KnownPlaces {
    const uint32_t* ids;
    size_t count;
    std::vector<uint32_t> places;
  };
  // Answers of known_places(), for the words the dictionary holds now.
  mutable std::vector<KnownPlaces> known_places_;
};

template <typename WordOf>
std::vector<uint32_t> UserDictionary::known_places(std::span<const uint32_t> ids,
                                                   WordOf word_of) const {
  for (const KnownPlaces& k : known_places_) {
    if (k.ids == ids.data() && k.count == ids.size()) return k.places;
  }
  constexpr size_t kRemembered = 16;
  if (known_places_.size() >= kRemembered) known_places_.clear();
  KnownPlaces& k = known_places_.emplace_back(KnownPlaces{ids.data(), ids.size(), {}});
  if (!doc().words.empty()) {
    for (uint32_t i = 0; i < ids.size(); ++i) {
      if (contains(word_of(ids[i]))) k.places.push_back(i);
    }
  }
  return k.places;
}

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_USER_DICT_H_
