#include "user_dict.h"

namespace tolvani::engine {

bool UserDictionary::contains(std::string_view word) const {
  return words_.find(std::string(word)) != words_.end();
}

uint32_t UserDictionary::boost_for(std::string_view) const { return 0; }

}  // namespace tolvani::engine
