#include "user_bigram.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "store_bounds.h"
#include "store_eviction.h"
#include "utf8.h"

namespace tolvani::engine {

namespace {

// A store file larger than its bound is set aside unread, so the cap must not outgrow it.
static_assert(kUserBigramEvictAt - 1 <= store_io::bounds::kBigramPairs);

const StoreSyncRules kRules{
    .fail_without_folder = true,
    .folder_failure_line = "[Tolvani] failed to create bigram directory: ",
    .serialise_failure_line = nullptr,
};

void evict(UserBigrams::Pairs& pairs) {
  // One more use weighs as much as 100 hours of recency.
  evict_nested(pairs, kUserBigramEvictAt, kUserBigramKept, [](const BigramEntry& e) {
    return e.last_used / 3'600 + 100 * uint64_t{e.frequency};
  });
}

// The file's pairs merged into the working copy of a sync: each field takes the larger value.
void merge_file(UserBigramsDocument& copy, const UserBigramsDocument& file) {
  for (const auto& [first, followers] : file.pairs) {
    auto& mine = copy.pairs[first];
    for (const auto& [second, theirs] : followers) {
      auto [it, inserted] = mine.try_emplace(second, theirs);
      if (inserted) continue;
      it->second.frequency = std::max(it->second.frequency, theirs.frequency);
      it->second.last_used = std::max(it->second.last_used, theirs.last_used);
    }
  }
}

}  // namespace

std::filesystem::path bigram_path() { return user_data_directory() / "user-bigrams.json"; }

UserBigrams::UserBigrams() : UserBigrams(bigram_path()) {}

UserBigrams::UserBigrams(std::filesystem::path path, UserBigramsDocument doc)
    : LearnedStore(std::move(path), std::move(doc)) {}

UserBigrams UserBigrams::load() { return load(bigram_path()); }

UserBigrams UserBigrams::load(std::filesystem::path path) {
  UserBigrams store(std::move(path));
  store.take_loaded(load_store_document<UserBigramsDocument>(store.path_));
  return store;
}

void UserBigrams::record(std::string_view first, std::string_view second) {
  if (first.empty() || second.empty() || first == second) return;
  // An ill-formed word would make the whole file unreadable once written.
  if (!utf8::is_valid(first) || !utf8::is_valid(second)) return;
  const uint64_t now = now_secs();
  {
    const auto edit = edit_doc();
    auto& pairs = edit->pairs;
    auto outer = pairs.find(first);
    if (outer == pairs.end())
      outer = pairs.emplace(std::string(first), StringMap<BigramEntry>{}).first;
    auto& followers = outer->second;
    if (auto it = followers.find(second); it != followers.end()) {
      if (it->second.frequency != std::numeric_limits<uint32_t>::max()) ++it->second.frequency;
      it->second.last_used = now;
    } else {
      followers.emplace(std::string(second), BigramEntry{.frequency = 1, .last_used = now});
    }
  }
  writer_.record_change();
  if (++changes_ >= kStoreSaveEvery) {
    evict_if_needed();
    request_background_save(*this);
    changes_ = 0;
  }
}

void UserBigrams::evict_if_needed() { evict(edit_doc()->pairs); }

const BigramEntry* UserBigrams::find(std::string_view first, std::string_view second) const {
  auto outer = doc().pairs.find(first);
  if (outer == doc().pairs.end()) return nullptr;
  auto it = outer->second.find(second);
  return it == outer->second.end() ? nullptr : &it->second;
}

size_t UserBigrams::size() const {
  size_t n = 0;
  for (const auto& [first, followers] : doc().pairs) n += followers.size();
  return n;
}

bool UserBigrams::sync() const {
  return sync_store(path_, writer_, doc(), kRules, merge_file,
                    [](UserBigramsDocument& copy) { evict(copy.pairs); });
}

}  // namespace tolvani::engine
