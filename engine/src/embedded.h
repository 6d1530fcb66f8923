// Bytes linked into the engine at build time (see cmake/Embed.cmake). Each blob is followed by
// one NUL byte that is not part of it.
#ifndef TOLVANI_ENGINE_EMBEDDED_H_
#define TOLVANI_ENGINE_EMBEDDED_H_

#include <cstddef>
#include <string_view>

// `name` may itself be a macro; it is expanded before it is pasted.
#define TOLVANI_EMBEDDED_DATA(name) TOLVANI_EMBEDDED_DATA_(name)
#define TOLVANI_EMBEDDED_DATA_(name)                    \
  extern "C" const char tolvani_embed_##name##_begin[]; \
  extern "C" const char tolvani_embed_##name##_end[]

#define TOLVANI_EMBEDDED_VIEW(name) TOLVANI_EMBEDDED_VIEW_(name)
#define TOLVANI_EMBEDDED_VIEW_(name)             \
  std::string_view(tolvani_embed_##name##_begin, \
                   static_cast<size_t>(tolvani_embed_##name##_end - tolvani_embed_##name##_begin))

#endif  // TOLVANI_ENGINE_EMBEDDED_H_
