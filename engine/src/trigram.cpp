#include "trigram.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "store_bounds.h"
#include "store_eviction.h"
#include "utf8.h"

namespace tolvani::engine {

namespace {

// A folder that cannot be made is reported by the lock file's open instead.
// A store file larger than its bound is set aside unread, so the cap must not outgrow it.
static_assert(kUserTrigramEvictAt - 1 <= store_io::bounds::kTrigramTriples);

const StoreSyncRules kRules{
    .fail_without_folder = false,
    .folder_failure_line = nullptr,
    .serialise_failure_line = nullptr,
};

void evict(UserTrigrams::Triples& triples) {
  evict_nested(triples, kUserTrigramEvictAt, kUserTrigramKept,
               [](uint32_t count) { return count; });
}

void merge_file(UserTrigramsDocument& copy, const UserTrigramsDocument& file) {
  for (const auto& [context, followers] : file.triples) {
    auto& mine = copy.triples[context];
    for (const auto& [third, theirs] : followers) {
      auto [it, inserted] = mine.try_emplace(third, theirs);
      if (!inserted) it->second = std::max(it->second, theirs);
    }
  }
}

}  // namespace

std::filesystem::path trigram_path() { return user_data_directory() / "user-trigrams.json"; }

std::string trigram_context(std::string_view first, std::string_view second) {
  std::string key;
  key.reserve(first.size() + 1 + second.size());
  key.append(first);
  key.push_back('\t');
  key.append(second);
  return key;
}

UserTrigrams::UserTrigrams() : UserTrigrams(trigram_path()) {}

UserTrigrams::UserTrigrams(std::filesystem::path path, UserTrigramsDocument doc)
    : LearnedStore(std::move(path), std::move(doc)) {}

UserTrigrams UserTrigrams::load() { return load(trigram_path()); }

UserTrigrams UserTrigrams::load(std::filesystem::path path) {
  UserTrigrams store(std::move(path));
  store.take_loaded(load_store_document<UserTrigramsDocument>(store.path_));
  return store;
}

void UserTrigrams::record(std::string_view first, std::string_view second, std::string_view third) {
  if (first.empty() || second.empty() || third.empty()) return;
  // An ill-formed word would make the whole file unreadable once written.
  if (!utf8::is_valid(first) || !utf8::is_valid(second) || !utf8::is_valid(third)) return;
  {
    const auto edit = edit_doc();
    auto& followers = edit->triples[trigram_context(first, second)];
    auto it = followers.find(third);
    if (it == followers.end()) it = followers.emplace(std::string(third), 0).first;
    if (it->second != std::numeric_limits<uint32_t>::max()) ++it->second;
  }
  writer_.record_change();
  if (++changes_ >= kStoreSaveEvery) {
    evict_if_needed();
    request_background_save(*this);
    changes_ = 0;
  }
}

void UserTrigrams::evict_if_needed() { evict(edit_doc()->triples); }

uint32_t UserTrigrams::count(std::string_view first, std::string_view second,
                             std::string_view third) const {
  auto outer = doc().triples.find(trigram_context(first, second));
  if (outer == doc().triples.end()) return 0;
  auto it = outer->second.find(third);
  return it == outer->second.end() ? 0 : it->second;
}

size_t UserTrigrams::size() const {
  size_t n = 0;
  for (const auto& [context, followers] : doc().triples) n += followers.size();
  return n;
}

bool UserTrigrams::sync() const {
  return sync_store(path_, writer_, doc(), kRules, merge_file,
                    [](UserTrigramsDocument& copy) { evict(copy.triples); });
}

}  // namespace tolvani::engine
