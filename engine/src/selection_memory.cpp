#include "selection_memory.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "store_bounds.h"
#include "utf8.h"

namespace tolvani::engine {

namespace {

// A store file larger than its bound is set aside unread, so the cap must not outgrow it.
static_assert(kSelectionEvictAt - 1 <= store_io::bounds::kSelections);

const StoreSyncRules kRules{
    .fail_without_folder = true,
    .folder_failure_line = nullptr,
    .serialise_failure_line = nullptr,
};

void evict_selections(SelectionMemory::Selections& selections) {
  if (selections.size() <= kSelectionKept) return;
  using It = SelectionMemory::Selections::iterator;
  std::vector<std::pair<uint64_t, It>> ranked;
  ranked.reserve(selections.size());
  for (It it = selections.begin(); it != selections.end(); ++it) {
    // One more pick in a row weighs as much as 100 hours of recency.
    ranked.emplace_back(it->second.last_used / 3'600 + 100 * uint64_t{it->second.count}, it);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  const size_t drop = selections.size() - kSelectionKept;
  for (size_t n = 0; n < drop; ++n) selections.erase(ranked[n].second);
}

// The file's entry wins only when it is strictly newer.
void merge_file(SelectionMemoryDocument& copy, const SelectionMemoryDocument& file) {
  for (const auto& [raw, theirs] : file.selections) {
    auto [it, inserted] = copy.selections.try_emplace(raw, theirs);
    if (!inserted && theirs.last_used > it->second.last_used) it->second = theirs;
  }
}

void prune(SelectionMemoryDocument& copy) {
  if (copy.selections.size() >= kSelectionEvictAt) evict_selections(copy.selections);
}

}  // namespace

std::filesystem::path selection_path() { return user_data_directory() / "selection-memory.json"; }

SelectionMemory::SelectionMemory() : SelectionMemory(selection_path()) {}

SelectionMemory::SelectionMemory(std::filesystem::path path, SelectionMemoryDocument doc)
    : LearnedStore(std::move(path), std::move(doc)) {}

SelectionMemory SelectionMemory::load() { return load(selection_path()); }

SelectionMemory SelectionMemory::load(std::filesystem::path path) {
  SelectionMemory store(std::move(path));
  store.take_loaded(load_store_document<SelectionMemoryDocument>(store.path_));
  return store;
}

const SelectionEntry* SelectionMemory::get(std::string_view raw_input) const {
  auto it = doc().selections.find(raw_input);
  return it == doc().selections.end() ? nullptr : &it->second;
}

void SelectionMemory::remember(std::string_view raw_input, std::string_view text) {
  if (raw_input.empty() || text.empty()) return;
  // An ill-formed string would make the whole file unreadable once written.
  if (!utf8::is_valid(raw_input) || !utf8::is_valid(text)) return;
  const uint64_t now = now_secs();
  {
    const auto edit = edit_doc();
    auto& selections = edit->selections;
    auto it = selections.find(raw_input);
    if (it == selections.end()) {
      selections.emplace(std::string(raw_input),
                         SelectionEntry{.text = std::string(text), .count = 1, .last_used = now});
    } else if (it->second.text == text) {
      if (it->second.count != std::numeric_limits<uint32_t>::max()) ++it->second.count;
      it->second.last_used = now;
    } else {
      it->second = SelectionEntry{.text = std::string(text), .count = 1, .last_used = now};
    }
    if (selections.size() >= kSelectionEvictAt) evict_selections(selections);
  }
  writer_.record_change();
  if (++changes_ >= kStoreSaveEvery) {
    request_background_save(*this);
    changes_ = 0;
  }
}

void SelectionMemory::evict() { evict_selections(edit_doc()->selections); }

bool SelectionMemory::sync() const {
  return sync_store(path_, writer_, doc(), kRules, merge_file, prune);
}

}  // namespace tolvani::engine
