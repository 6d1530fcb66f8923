// The fixed layouts, probhat and national, with the user's custom key overrides.
// Thread-safety: safe on any thread; a reload of the overrides swaps them whole.
#ifndef TOLVANI_ENGINE_PROBHAT_H_
#define TOLVANI_ENGINE_PROBHAT_H_

#include <string>

namespace tolvani::engine::probhat {

// The output text of the key `c` on the layer chosen by shift and alt. A key the layout does not
// map yields `c` itself.
// Until the layouts are in place every key yields itself.
std::string map_char(char32_t c, bool shift, bool alt);
std::string map_char_national(char32_t c, bool shift, bool alt);

// Re-reads the user's custom key overrides.
void reload_custom_overrides();

}  // namespace tolvani::engine::probhat

#endif  // TOLVANI_ENGINE_PROBHAT_H_
