// The user bigrams: which word the user writes after which, how often and when last; kept in
// "user-bigrams.json".
// Thread-safety: serialised by the owning session. A copy (for a save job or a learning snapshot)
// may be synced on another thread at the same time; it shares only the writer record's saved
// revision and write lock with its original, which are atomic or locked.
#ifndef TOLVANI_ENGINE_USER_BIGRAM_H_
#define TOLVANI_ENGINE_USER_BIGRAM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "persistence_core.h"
#include "store_documents.h"

namespace tolvani::engine {

// Eviction that finds this many pairs or more keeps the number kept.
inline constexpr size_t kUserBigramEvictAt = 5'001;
inline constexpr size_t kUserBigramKept = 4'500;

// The user-data folder joined with "user-bigrams.json".
std::filesystem::path bigram_path();

class UserBigrams : public LearnedStore<UserBigramsDocument> {
 public:
  using Pairs = StringMap<StringMap<BigramEntry>>;

  // The empty store of bigram_path(); unsaved, so its first sync writes a file.
  UserBigrams();
  // An unsaved store holding `doc`, kept at `path`.
  explicit UserBigrams(std::filesystem::path path, UserBigramsDocument doc = {});
  // A copy for a background save (see StoreDocument).
  UserBigrams(const UserBigrams& other, LendForSave lend) : LearnedStore(other, lend) {}
  UserBigrams(const UserBigrams&) = default;
  UserBigrams(UserBigrams&&) = default;
  UserBigrams& operator=(const UserBigrams&) = default;
  UserBigrams& operator=(UserBigrams&&) = default;

  // Reads the store at bigram_path() (or `path`); never evicts. A missing file gives the empty
  // store; an unreadable one the empty store after one diagnostic line.
  static UserBigrams load();
  static UserBigrams load(std::filesystem::path path);

  // Counts the pair (first, second) and dates it now. Empty, equal or ill-formed words change
  // nothing. Every 10th recording evicts if needed and requests a background save.
  void record(std::string_view first, std::string_view second);
  // From 5,001 pairs, keeps the 4,500 of highest last_used / 3,600 + 100 × frequency.
  void evict_if_needed();

  // first word -> second word -> entry; read directly by ranking and predictions.
  const Pairs& pairs() const { return doc().pairs; }
  // The entry of the pair, or null. Valid until the store next changes.
  const BigramEntry* find(std::string_view first, std::string_view second) const;
  // Number of pairs over all first words.
  size_t size() const;

  // Merges the file into a copy of this store and writes that, under the store's locks; true
  // when written or when nothing needed writing. This store is not changed.
  [[nodiscard]] bool sync() const;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_USER_BIGRAM_H_
