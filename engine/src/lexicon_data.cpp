// The blobs of the lexicon this library was linked with. TOLVANI_LEXICON_SET names the data set
// (its symbols come from cmake/Embed.cmake).
#include "embedded.h"
#include "lexicon.h"

#define TOLVANI_CAT3(a, b, c) a##b##c
#define TOLVANI_SYMBOLS(set, name) TOLVANI_CAT3(lexicon_, set, _##name)
#define TOLVANI_BLOB(name) TOLVANI_EMBEDDED_DATA(TOLVANI_SYMBOLS(TOLVANI_LEXICON_SET, name))
#define TOLVANI_VIEW(name) TOLVANI_EMBEDDED_VIEW(TOLVANI_SYMBOLS(TOLVANI_LEXICON_SET, name))

TOLVANI_BLOB(entries);
TOLVANI_BLOB(bengali_strings);
TOLVANI_BLOB(phonetic_strings);
TOLVANI_BLOB(exact_buckets);
TOLVANI_BLOB(folded_buckets);
TOLVANI_BLOB(folded_ids);
TOLVANI_BLOB(bengali_ids);
TOLVANI_BLOB(phonetic_ids);
TOLVANI_BLOB(bengali_buckets);
TOLVANI_BLOB(phonetic_buckets);
TOLVANI_BLOB(lexicon_map);

namespace tolvani::engine {

const LexiconData& lexicon_data() {
  static const LexiconData data{
      TOLVANI_VIEW(entries),          TOLVANI_VIEW(bengali_strings), TOLVANI_VIEW(phonetic_strings),
      TOLVANI_VIEW(exact_buckets),    TOLVANI_VIEW(folded_buckets),  TOLVANI_VIEW(folded_ids),
      TOLVANI_VIEW(bengali_ids),      TOLVANI_VIEW(phonetic_ids),    TOLVANI_VIEW(bengali_buckets),
      TOLVANI_VIEW(phonetic_buckets), TOLVANI_VIEW(lexicon_map)};
  return data;
}

}  // namespace tolvani::engine
