// The rejections: for each raw input, a penalty for every candidate the user passed over, and
// for offered standard spellings under "#standard:" keys; kept in "rejections.json".
// Thread-safety: serialised by the owning session. A copy (for a save job or a learning snapshot)
// may be synced on another thread at the same time; it shares only the writer record's saved
// revision and write lock with its original, which are atomic or locked.
#ifndef TOLVANI_ENGINE_REJECTIONS_H_
#define TOLVANI_ENGINE_REJECTIONS_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "persistence_core.h"
#include "store_documents.h"

namespace tolvani::engine {

// Eviction that finds this many (raw input, candidate) entries or more keeps the number kept.
inline constexpr size_t kRejectionEvictAt = 5'001;
inline constexpr size_t kRejectionKept = 4'500;
// Each rejection adds the step, up to the cap.
inline constexpr int32_t kRejectionStep = 100;
inline constexpr int32_t kRejectionCap = 2'000;
// The prefix of the keys under which ignored spelling offers are penalised.
inline constexpr std::string_view kStandardSpellingKeyPrefix = "#standard:";

// The user-data folder joined with "rejections.json".
std::filesystem::path rejection_path();

class RejectionMap : public LearnedStore<RejectionsDocument> {
 public:
  using Entries = StringMap<StringMap<int32_t>>;

  // The empty store of rejection_path(); unsaved, so its first sync writes a file.
  RejectionMap();
  // An unsaved store holding `doc`, kept at `path`.
  explicit RejectionMap(std::filesystem::path path, RejectionsDocument doc = {});
  // A copy for a background save (see StoreDocument).
  RejectionMap(const RejectionMap& other, LendForSave lend) : LearnedStore(other, lend) {}
  RejectionMap(const RejectionMap&) = default;
  RejectionMap(RejectionMap&&) = default;
  RejectionMap& operator=(const RejectionMap&) = default;
  RejectionMap& operator=(RejectionMap&&) = default;

  // Reads the store at rejection_path() (or `path`); never evicts. A missing file gives the
  // empty store; an unreadable one the empty store after one diagnostic line.
  static RejectionMap load();
  static RejectionMap load(std::filesystem::path path);

  // The penalty of `candidate` under `raw_input`; 0 when either is absent. Does not allocate.
  int32_t penalty_for(std::string_view raw_input, std::string_view candidate) const;

  // Raises the penalty by 100, to at most 2,000 (a larger one read from a file drops to 2,000).
  // Empty or ill-formed strings change nothing. Every 10th change evicts if needed and requests
  // a background save.
  void record_rejection(std::string_view raw_input, std::string_view candidate);
  // From 5,001 entries, keeps the 4,500 of highest penalty.
  void evict_if_needed();

  const Entries& entries() const { return doc().entries; }
  // Number of (raw input, candidate) entries.
  size_t size() const;

  // Merges the file into a copy of this store and writes that, under the store's locks; true
  // when written or when nothing needed writing. This store is not changed.
  [[nodiscard]] bool sync() const;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_REJECTIONS_H_
