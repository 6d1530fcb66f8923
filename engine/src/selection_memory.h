// The selection memory: for each raw input, the candidate the user last picked, how many times
// in a row and when; kept in "selection-memory.json".
// Thread-safety: serialised by the owning session. A copy (for a save job or a learning snapshot)
// may be synced on another thread at the same time; it shares only the writer record's saved
// revision and write lock with its original, which are atomic or locked.
#ifndef TOLVANI_ENGINE_SELECTION_MEMORY_H_
#define TOLVANI_ENGINE_SELECTION_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "persistence_core.h"
#include "store_documents.h"

namespace tolvani::engine {

// Remembering that leaves this many raw inputs or more evicts down to the number kept.
inline constexpr size_t kSelectionEvictAt = 5'001;
inline constexpr size_t kSelectionKept = 4'500;

// The user-data folder joined with "selection-memory.json".
std::filesystem::path selection_path();

class SelectionMemory : public LearnedStore<SelectionMemoryDocument> {
 public:
  using Selections = StringMap<SelectionEntry>;

  // The empty store of selection_path(); unsaved, so its first sync writes a file.
  SelectionMemory();
  // An unsaved store holding `doc`, kept at `path`.
  explicit SelectionMemory(std::filesystem::path path, SelectionMemoryDocument doc = {});
  // A copy for a background save (see StoreDocument).
  SelectionMemory(const SelectionMemory& other, LendForSave lend) : LearnedStore(other, lend) {}
  SelectionMemory(const SelectionMemory&) = default;
  SelectionMemory(SelectionMemory&&) = default;
  SelectionMemory& operator=(const SelectionMemory&) = default;
  SelectionMemory& operator=(SelectionMemory&&) = default;

  // Reads the store at selection_path() (or `path`); never evicts. A missing file gives the
  // empty store; an unreadable one the empty store after one diagnostic line.
  static SelectionMemory load();
  static SelectionMemory load(std::filesystem::path path);

  // The entry for `raw_input`, or null. Does not allocate. Valid until the store next changes.
  const SelectionEntry* get(std::string_view raw_input) const;

  // Remembers that `text` was chosen for `raw_input`: the same text again counts one more pick in
  // a row, another text starts again at 1. Empty or ill-formed strings change nothing. Evicts
  // from 5,001 raw inputs; every 10th change requests a background save.
  void remember(std::string_view raw_input, std::string_view text);
  // Keeps the 4,500 raw inputs of highest last_used / 3,600 + 100 × count.
  void evict();

  const Selections& selections() const { return doc().selections; }
  size_t size() const { return doc().selections.size(); }

  // Merges the file into a copy of this store and writes that, under the store's locks; true
  // when written or when nothing needed writing. This store is not changed.
  [[nodiscard]] bool sync() const;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_SELECTION_MEMORY_H_
