// A slow, plain statement of what suggest::suggestions_for returns: every candidate is pushed
// into one map by text, and the map is sorted at the end. The equivalence test holds the fast
// version to it, so any change of the fast version's results shows up as a mismatch.
#ifndef TOLVANI_ENGINE_TESTS_SUGGEST_REFERENCE_H_
#define TOLVANI_ENGINE_TESTS_SUGGEST_REFERENCE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "types.h"

namespace tolvani::engine {
class UserDictionary;
}  // namespace tolvani::engine

namespace tolvani::engine::test {

// Same arguments and same answer as suggest::suggestions_for.
std::vector<Candidate> reference_suggestions_for(uint8_t mode, std::string_view key,
                                                 std::string_view rendered,
                                                 const UserDictionary& user_dict, size_t limit,
                                                 bool autocorrect);

}  // namespace tolvani::engine::test

#endif  // TOLVANI_ENGINE_TESTS_SUGGEST_REFERENCE_H_
