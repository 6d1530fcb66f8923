// Internals of the C interface that tests reach.
#ifndef TOLVANI_ENGINE_FFI_H_
#define TOLVANI_ENGINE_FFI_H_

#include <optional>
#include <string>

namespace tolvani::engine {

// The argument as an owned string, or nothing when it is null or not valid UTF-8.
std::optional<std::string> decode_str(const char* s);

// Makes the next C-interface call on any thread fail inside its guard, as an internal failure
// would. Tests only.
void test_fail_next_call();

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_FFI_H_
