// The user dictionary: the words this user writes, how often and how recently.
// Thread-safety: serialised by the owning session; copies are written on other threads.
#ifndef TOLVANI_ENGINE_USER_DICT_H_
#define TOLVANI_ENGINE_USER_DICT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tolvani::engine {

struct UserEntry {
  uint64_t last_used = 0;
  uint64_t last_decay = 0;
  uint32_t frequency = 0;
};

class UserDictionary {
 public:
  // Whether the dictionary holds the word (tombstones are not consulted).
  bool contains(std::string_view word) const;
  // The ranking bonus of a learned word, 0 to 2,000.
  uint32_t boost_for(std::string_view word) const;

 private:
  std::unordered_map<std::string, UserEntry> words_;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_USER_DICT_H_
