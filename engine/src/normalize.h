// The one normaliser of Bangla text that is shown, compared or stored.
// Thread-safety: safe on any thread.
#ifndef TOLVANI_ENGINE_NORMALIZE_H_
#define TOLVANI_ENGINE_NORMALIZE_H_

#include <string>
#include <string_view>

namespace tolvani::engine {

// Until composition and the fixed replacements are in place the text is returned unchanged.
std::string normalize_bengali(std::string_view text);

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_NORMALIZE_H_
