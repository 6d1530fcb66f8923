// Folding of phonetic keys, so that common spelling variants of one word meet ("bhalo" and
// "valo" both fold to "val").
// Thread-safety: a KeyFolder is used by one thread at a time; fold_key is safe anywhere.
#ifndef TOLVANI_ENGINE_KEYFOLD_H_
#define TOLVANI_ENGINE_KEYFOLD_H_

#include <string>
#include <string_view>

namespace tolvani::engine {

class KeyFolder {
 public:
  // The folded key, as a view into this folder's buffer: valid until the next fold.
  std::string_view fold(std::string_view key);

 private:
  std::string buffer_;
};

// The folded key as a new string.
std::string fold_key(std::string_view key);

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_KEYFOLD_H_
