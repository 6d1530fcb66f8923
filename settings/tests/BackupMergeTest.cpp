#include "settings/BackupMerge.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvani {
namespace {

using BackupMerge::Json;

// The merged document as compact JSON, or "<corrupt>".
std::string merge(const std::string& storeKey, const std::string& current,
                  const std::string& incoming) {
  const std::optional<Json> merged =
      BackupMerge::mergedStore(storeKey, Json::parse(current), Json::parse(incoming));
  return merged ? merged->dump() : "<corrupt>";
}

struct Row {
  std::string store;
  std::string current;
  std::string incoming;
  std::string merged;
};

TEST(BackupMergeTest, ValuesOnBothSidesTakeTheLargerCountAndTheLaterTimeOnce) {
  const Row rows[] = {
      // words: frequencies are never summed; a later decay wins with its lower frequency
      {"dictionary", R"({"words":{"a":{"frequency":7}}})", R"({"words":{"a":{"frequency":5}}})",
       R"({"tombstones":{},"words":{"a":{"frequency":7}}})"},
      {"dictionary", R"({"words":{"a":{"frequency":5}}})", R"({"words":{"a":{"frequency":7}}})",
       R"({"tombstones":{},"words":{"a":{"frequency":7}}})"},
      {"dictionary", R"({"words":{"a":{"frequency":40,"last_decay":100,"last_used":9,"x":1}}})",
       R"({"words":{"a":{"frequency":3,"last_decay":200,"last_used":8}}})",
       R"({"tombstones":{},"words":{"a":{"frequency":3,"last_decay":200,"last_used":9,"x":1}}})"},
      {"dictionary", R"({"words":{"a":{"frequency":3,"last_decay":200}}})",
       R"({"words":{"a":{"frequency":40,"last_decay":100,"last_used":7}}})",
       R"({"tombstones":{},"words":{"a":{"frequency":3,"last_decay":200,"last_used":7}}})"},
      // a word yields to a tombstone at least as new as its use and decay
      {"dictionary", R"({"words":{"a":{"frequency":1,"last_used":500}}})",
       R"({"words":{},"tombstones":{"a":500}})", R"({"tombstones":{"a":500},"words":{}})"},
      {"dictionary", R"({"words":{"a":{"frequency":1,"last_used":500}}})",
       R"({"words":{},"tombstones":{"a":499}})",
       R"({"tombstones":{"a":499},"words":{"a":{"frequency":1,"last_used":500}}})"},
      {"dictionary", R"({"words":{"a":{"frequency":1,"last_used":500,"last_decay":900}}})",
       R"({"words":{},"tombstones":{"a":800}})",
       R"({"tombstones":{"a":800},"words":{"a":{"frequency":1,"last_decay":900,"last_used":500}}})"},
      {"dictionary", R"({"words":{}})",
       R"({"words":{"a":{"frequency":1,"last_used":18446744073709551615}},)"
       R"("tombstones":{"a":18446744073709551615}})",
       R"({"tombstones":{"a":18446744073709551615},"words":{}})"},
      // words on disk are keyed by the engine's normal form first, twins added up as its load
      // adds them; a word past the bound stays as it is (the engine's load drops it)
      {"dictionary",
       R"({"words":{"\u0995\u09C7\u09BE":{"frequency":4,"last_used":9},)"
       R"("\u0995\u09CB":{"frequency":3,"last_decay":2},"\uFEFF":{"frequency":1}}})",
       R"({"words":{"\u0995\u09CB":{"frequency":5,"last_used":8}}})",
       R"({"tombstones":{},"words":{"কো":{"frequency":7,"last_decay":2,"last_used":9}}})"},
      {"dictionary", R"({"words":{"e\u0301)" + std::string(1'200, 'e') + R"(":{"frequency":1}}})",
       R"({"words":{}})",
       R"({"tombstones":{},"words":{")" + std::string("e\u0301") + std::string(1'200, 'e') +
           R"(":{"frequency":1}}})"},
      // tombstones: only a later one replaces; 0 is never added
      {"dictionary", R"({"words":{},"tombstones":{"a":400}})",
       R"({"words":{},"tombstones":{"a":300,"b":0,"c":7}})",
       R"({"tombstones":{"a":400,"c":7},"words":{}})"},
      // reset ids and other keys stay; a store without a file gets none
      {"dictionary", R"({"reset_id":"R","words":{"b":[]},"v":1})",
       R"({"words":{"a":{"frequency":2}}})",
       R"({"reset_id":"R","tombstones":{},"v":1,"words":{"a":{"frequency":2},"b":[]}})"},
      {"dictionary", R"({})",
       R"({"words":{"a":{"frequency":2},"b":{"frequency":2,"last_used":5}},)"
       R"("tombstones":{"a":1,"b":4,"z":0}})",
       R"({"tombstones":{"a":1,"b":4},"words":{"b":{"frequency":2,"last_used":5}}})"},
      {"dictionary", R"({"words":{"a":"x"}})", R"({"words":{"a":{"frequency":2}}})",
       R"({"tombstones":{},"words":{"a":{"frequency":2}}})"},
      // selections: only a newer choice replaces a remembered one, whole
      {"selection_memory",
       R"({"reset_id":"R","selections":{"a":{"text":"x","count":9,"last_used":1000},)"
       R"("b":{"text":"x","count":9,"last_used":1000},"c":{"text":"x","count":1,"last_used":1000}}})",
       R"({"selections":{"a":{"text":"y","count":1,"last_used":1000},)"
       R"("b":{"text":"y","count":1,"last_used":900},"c":{"text":"y","count":1,"last_used":1001},)"
       R"("d":{"text":"y","count":3}}})",
       R"({"reset_id":"R","selections":{"a":{"count":9,"last_used":1000,"text":"x"},)"
       R"("b":{"count":9,"last_used":1000,"text":"x"},"c":{"count":1,"last_used":1001,"text":"y"},)"
       R"("d":{"count":3,"text":"y"}}})"},
      // bigrams: the larger frequency and the later use; a non-object entry counts as empty
      {"bigrams", R"({"pairs":{"a":{"b":{"frequency":2,"last_used":50,"k":1},"c":5}}})",
       R"({"pairs":{"a":{"b":{"frequency":9,"last_used":40},"c":{"frequency":3,"last_used":1},)"
       R"("d":{"frequency":1,"last_used":0}},"e":{"f":{"frequency":1,"last_used":2}}}})",
       R"({"pairs":{"a":{"b":{"frequency":9,"k":1,"last_used":50},"c":{"frequency":3,)"
       R"("last_used":1},"d":{"frequency":1,"last_used":0}},"e":{"f":{"frequency":1,)"
       R"("last_used":2}}}})"},
      // counts: the larger of the two, written as a plain non-negative integer
      {"trigrams", R"({"triples":{"a\tb":{"c":4,"d":2.0,"e":1}}})",
       R"({"triples":{"a\tb":{"c":3,"d":1,"f":1}}})",
       R"({"triples":{"a\tb":{"c":4,"d":2,"e":1,"f":1}}})"},
      {"trigrams", R"({"triples":{"a\tb":{"c":1e30,"d":7.9,"e":-0.5,"f":"9","g":null}}})",
       R"({"triples":{"a\tb":{"c":1,"d":1,"e":0,"f":0,"g":{}}}})",
       R"({"triples":{"a\tb":{"c":9223372036854775807,"d":7,"e":0,"f":0,"g":0}}})"},
      {"rejections", R"({"entries":{"r":{"c":-5,"d":true}}})", R"({"entries":{"r":{"c":2,"d":1}}})",
       R"({"entries":{"r":{"c":2,"d":1}}})"},
      {"english_pairs", R"({"pairs":{"a":{"b":8}},"reset_id":"R"})",
       R"({"pairs":{"a":{"b":8,"c":1}}})", R"({"pairs":{"a":{"b":8,"c":1}},"reset_id":"R"})"},
      // ill-formed current sections and visited inner maps fail; unvisited ones are left alone
      {"bigrams", R"({"pairs":{"a":[1],"z":{}}})", R"({"pairs":{"a":{"b":{"frequency":1}}}})",
       "<corrupt>"},
      {"bigrams", R"({"pairs":{"a":[1]}})",
       R"({"pairs":{"x":{"b":{"frequency":1,"last_used":0}}}})",
       R"({"pairs":{"a":[1],"x":{"b":{"frequency":1,"last_used":0}}}})"},
      {"bigrams", R"({"pairs":[]})", R"({"pairs":{}})", "<corrupt>"},
      {"dictionary", R"({"words":{},"tombstones":5})", R"({"words":{}})", "<corrupt>"},
      {"dictionary", R"({"words":null})", R"({"words":{}})", "<corrupt>"},
      {"selection_memory", R"({"selections":"x"})", R"({"selections":{}})", "<corrupt>"},
      {"rejections", R"([])", R"({"entries":{}})", "<corrupt>"},
      {"unknown", R"({})", R"({})", "<corrupt>"},
  };
  // Merging the result with the same backup again changes nothing.
  for (const Row& row : rows) {
    SCOPED_TRACE(row.store + " " + row.current + " + " + row.incoming);
    EXPECT_EQ(merge(row.store, row.current, row.incoming), row.merged);
    if (row.merged != "<corrupt>") {
      EXPECT_EQ(merge(row.store, row.merged, row.incoming), row.merged);
    }
  }
}

}  // namespace
}  // namespace tolvani
