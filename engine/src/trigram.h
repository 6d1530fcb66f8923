// The user trigrams: which word the user writes after a given pair of words, and how often;
// kept in "user-trigrams.json".
// Thread-safety: serialised by the owning session. A copy (for a save job or a learning snapshot)
// may be synced on another thread at the same time; it shares only the writer record's saved
// revision and write lock with its original, which are atomic or locked.
#ifndef TOLVANI_ENGINE_TRIGRAM_H_
#define TOLVANI_ENGINE_TRIGRAM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "persistence_core.h"
#include "store_documents.h"

namespace tolvani::engine {

// Eviction that finds this many triples or more keeps the number kept.
inline constexpr size_t kUserTrigramEvictAt = 3'001;
inline constexpr size_t kUserTrigramKept = 2'700;

// The user-data folder joined with "user-trigrams.json".
std::filesystem::path trigram_path();

// The context key of a triple: the first word, a TAB and the second word.
std::string trigram_context(std::string_view first, std::string_view second);

class UserTrigrams : public LearnedStore<UserTrigramsDocument> {
 public:
  using Triples = StringMap<StringMap<uint32_t>>;

  // The empty store of trigram_path(); unsaved, so its first sync writes a file.
  UserTrigrams();
  // An unsaved store holding `doc`, kept at `path`.
  explicit UserTrigrams(std::filesystem::path path, UserTrigramsDocument doc = {});
  // A copy for a background save (see StoreDocument).
  UserTrigrams(const UserTrigrams& other, LendForSave lend) : LearnedStore(other, lend) {}
  UserTrigrams(const UserTrigrams&) = default;
  UserTrigrams(UserTrigrams&&) = default;
  UserTrigrams& operator=(const UserTrigrams&) = default;
  UserTrigrams& operator=(UserTrigrams&&) = default;

  // Reads the store at trigram_path() (or `path`); never evicts. A missing file gives the empty
  // store; an unreadable one the empty store after one diagnostic line.
  static UserTrigrams load();
  static UserTrigrams load(std::filesystem::path path);

  // Counts the triple. Any empty or ill-formed word changes nothing; repeated words are fine.
  // Every 10th recording evicts if needed and requests a background save.
  void record(std::string_view first, std::string_view second, std::string_view third);
  // From 3,001 triples, keeps the 2,700 of highest count.
  void evict_if_needed();

  // context key -> third word -> count; read directly by ranking and predictions.
  const Triples& triples() const { return doc().triples; }
  // The count of the triple; 0 when absent.
  uint32_t count(std::string_view first, std::string_view second, std::string_view third) const;
  // Number of triples over all contexts.
  size_t size() const;

  // Merges the file into a copy of this store and writes that, under the store's locks; true
  // when written or when nothing needed writing. This store is not changed.
  [[nodiscard]] bool sync() const;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_TRIGRAM_H_
