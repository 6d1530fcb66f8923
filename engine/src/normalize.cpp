#include "normalize.h"

namespace tolvani::engine {

std::string normalize_bengali(std::string_view text) { return std::string(text); }

}  // namespace tolvani::engine
