// Store files and the persistence worker (persistence_core.h), and what a session holds of them:
// its five learned stores, and the learning snapshot that copies them to be written later.
// Thread-safety: LearnedStores is serialised by its session. A LearningSnapshot may be written on
// any thread, also while its session goes on and while the worker saves the same stores: every
// store sync takes the store's write lock and then its lock file.
#ifndef TOLVANI_ENGINE_PERSISTENCE_H_
#define TOLVANI_ENGINE_PERSISTENCE_H_

#include <cstdint>
#include <filesystem>
#include <optional>

#include "persistence_core.h"
#include "rejections.h"
#include "selection_memory.h"
#include "trigram.h"
#include "user_bigram.h"
#include "user_dict.h"

namespace tolvani::engine {

// Copies of a session's five learned stores, written later on any thread. Each copy shares its
// saved revision and write lock with the session's store, so a successful write marks the live
// stores saved up to the snapshot's revisions.
struct LearningSnapshot {
  UserDictionary user_dictionary;
  UserBigrams bigrams;
  UserTrigrams trigrams;
  RejectionMap rejections;
  SelectionMemory selections;

  // Syncs the five copies in that order, each one also after an earlier one failed; true when
  // each was written or had nothing to write.
  [[nodiscard]] bool sync() const;
};

// The five learned stores of one session.
struct LearnedStores {
  UserDictionary user_dictionary;
  UserBigrams bigrams;
  UserTrigrams trigrams;
  RejectionMap rejections;
  SelectionMemory selections;

  // Loads the five stores from the user-data folder (or `folder`), read once for all five.
  // Never fails: a missing or unreadable file gives an empty store.
  static LearnedStores load_all();
  static LearnedStores load_all(const std::filesystem::path& folder);

  // Copies of the five stores, as they are now.
  LearningSnapshot snapshot() const;

  // For each store in snapshot order: sync it, and only when that succeeded replace it by a fresh
  // load of its file; a store whose sync failed keeps its unsaved changes. True when all five
  // syncs succeeded.
  bool reload();
};

// LearnedStores::reload done on another thread: made on the stores' thread from copies lent for
// saving (no document is copied there), run on any thread, and put into the stores back on
// theirs. Requires: the stores do not change from its making until its run has ended, since the
// lent copies read their documents only when they save them.
class StoresReload {
 public:
  explicit StoresReload(const LearnedStores& stores);

  // For each store in snapshot order: sync its copy and, only when that succeeded, load its file.
  // True when all five syncs succeeded.
  bool run();
  // Which loaded stores apply_to takes: every one, or only those whose file carries the reset_id
  // of the store they would replace (a store whose file was reset meanwhile is left as it is).
  enum class Take : uint8_t { kEveryLoaded, kSameResetId };
  // Replaces each store of `stores` whose file was loaded, as `take` says; one whose sync failed
  // stays as it is, with its unsaved changes. The stores replaced, and those loaded and not taken,
  // stay in this object, to be freed where that delays no one.
  void apply_to(LearnedStores& stores, Take take = Take::kEveryLoaded);

 private:
  template <typename Store>
  struct Slot {
    explicit Slot(const Store& store) : lent(store, LendForSave{}) {}
    Store lent;
    std::optional<Store> loaded;
  };

  Slot<UserDictionary> user_dictionary_;
  Slot<UserBigrams> bigrams_;
  Slot<UserTrigrams> trigrams_;
  Slot<RejectionMap> rejections_;
  Slot<SelectionMemory> selections_;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_PERSISTENCE_H_
