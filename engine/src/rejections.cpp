#include "rejections.h"

#include <algorithm>
#include <string>
#include <utility>

#include "store_bounds.h"
#include "store_eviction.h"
#include "utf8.h"

namespace tolvani::engine {

namespace {

// A folder that cannot be made is reported by the lock file's open instead.
// A store file larger than its bound is set aside unread, so the cap must not outgrow it.
static_assert(kRejectionEvictAt - 1 <= store_io::bounds::kRejectionEntries);

const StoreSyncRules kRules{
    .fail_without_folder = false,
    .folder_failure_line = nullptr,
    .serialise_failure_line = nullptr,
};

void evict(RejectionMap::Entries& entries) {
  evict_nested(entries, kRejectionEvictAt, kRejectionKept, [](int32_t penalty) { return penalty; });
}

// Penalties are merged by taking the larger, never added; one missing from the copy counts as 0.
void merge_file(RejectionsDocument& copy, const RejectionsDocument& file) {
  for (const auto& [raw, penalties] : file.entries) {
    auto& mine = copy.entries[raw];
    for (const auto& [candidate, theirs] : penalties) {
      auto [it, inserted] = mine.try_emplace(candidate, 0);
      it->second = std::max(it->second, theirs);
    }
  }
}

}  // namespace

std::filesystem::path rejection_path() { return user_data_directory() / "rejections.json"; }

RejectionMap::RejectionMap() : RejectionMap(rejection_path()) {}

RejectionMap::RejectionMap(std::filesystem::path path, RejectionsDocument doc)
    : LearnedStore(std::move(path), std::move(doc)) {}

RejectionMap RejectionMap::load() { return load(rejection_path()); }

RejectionMap RejectionMap::load(std::filesystem::path path) {
  RejectionMap store(std::move(path));
  store.take_loaded(load_store_document<RejectionsDocument>(store.path_));
  return store;
}

int32_t RejectionMap::penalty_for(std::string_view raw_input, std::string_view candidate) const {
  auto outer = doc().entries.find(raw_input);
  if (outer == doc().entries.end()) return 0;
  auto it = outer->second.find(candidate);
  return it == outer->second.end() ? 0 : it->second;
}

void RejectionMap::record_rejection(std::string_view raw_input, std::string_view candidate) {
  if (raw_input.empty() || candidate.empty()) return;
  // An ill-formed string would make the whole file unreadable once written.
  if (!utf8::is_valid(raw_input) || !utf8::is_valid(candidate)) return;
  {
    const auto edit = edit_doc();
    auto& entries = edit->entries;
    auto outer = entries.find(raw_input);
    if (outer == entries.end())
      outer = entries.emplace(std::string(raw_input), StringMap<int32_t>{}).first;
    auto it = outer->second.find(candidate);
    if (it == outer->second.end()) it = outer->second.emplace(std::string(candidate), 0).first;
    // Widened, so that a penalty near the bottom of the range read from a file cannot wrap.
    it->second = static_cast<int32_t>(
        std::min<int64_t>(int64_t{it->second} + kRejectionStep, kRejectionCap));
  }
  writer_.record_change();
  if (++changes_ >= kStoreSaveEvery) {
    evict_if_needed();
    request_background_save(*this);
    changes_ = 0;
  }
}

void RejectionMap::evict_if_needed() { evict(edit_doc()->entries); }

size_t RejectionMap::size() const {
  size_t n = 0;
  for (const auto& [raw, penalties] : doc().entries) n += penalties.size();
  return n;
}

bool RejectionMap::sync() const {
  return sync_store(path_, writer_, doc(), kRules, merge_file,
                    [](RejectionsDocument& copy) { evict(copy.entries); });
}

}  // namespace tolvani::engine
