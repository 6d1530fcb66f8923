#include "phonetic.h"

namespace tolvani::engine::phonetic {

std::string convert_with_options(std::string_view text, bool /*bangla_digits*/) {
  return std::string(text);
}

}  // namespace tolvani::engine::phonetic
