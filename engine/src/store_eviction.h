// The size cap that the two-level learned stores (bigrams, trigrams, rejections) share.
// Internal to those stores. Thread-safety: works on the caller's map only.
#ifndef TOLVANI_ENGINE_STORE_EVICTION_H_
#define TOLVANI_ENGINE_STORE_EVICTION_H_

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "store_documents.h"

namespace tolvani::engine {

// When the map holds at least `threshold` inner entries in all, removes the entries of lowest
// rank(value) until `kept` remain; equal ranks go in the order the map was walked. An outer key
// whose last entry goes is removed too; inner maps that were empty already stay.
template <typename Inner, typename Rank>
void evict_nested(StringMap<StringMap<Inner>>& map, size_t threshold, size_t kept, Rank rank) {
  size_t count = 0;
  for (const auto& [outer_key, inner] : map) count += inner.size();
  if (count < threshold || count <= kept) return;

  using Outer = typename StringMap<StringMap<Inner>>::iterator;
  using InnerIt = typename StringMap<Inner>::iterator;
  using Key = decltype(rank(std::declval<const Inner&>()));
  struct Item {
    Key key;
    Outer outer;
    InnerIt inner;
  };
  std::vector<Item> items;
  items.reserve(count);
  for (Outer o = map.begin(); o != map.end(); ++o) {
    for (InnerIt i = o->second.begin(); i != o->second.end(); ++i)
      items.push_back(Item{rank(i->second), o, i});
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& a, const Item& b) { return a.key < b.key; });

  // Erasing one entry leaves the iterators of all others valid; emptied outer keys are erased
  // after every inner erase is done, since erasing one invalidates the iterators into it.
  std::vector<Outer> emptied;
  for (size_t n = 0; n < count - kept; ++n) {
    items[n].outer->second.erase(items[n].inner);
    if (items[n].outer->second.empty()) emptied.push_back(items[n].outer);
  }
  for (Outer o : emptied) map.erase(o);
}

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_STORE_EVICTION_H_
