// Arbitrary bytes through the strict JSON reader (its fast reader held against its general one)
// and every document reader built on it. The first byte picks the reader. A learned-store
// document that decodes must encode, and the text written must decode back to the same document.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "bigram.h"
#include "json_reader.h"
#include "phonetic.h"
#include "probhat.h"
#include "spelling_preferences.h"
#include "store_documents.h"
#include "suggest.h"

namespace {

using namespace tolvani::engine;

bool same(const UserDictionaryDocument& a, const UserDictionaryDocument& b) {
  return a.reset_id == b.reset_id && a.words == b.words && a.tombstones == b.tombstones;
}
bool same(const UserBigramsDocument& a, const UserBigramsDocument& b) {
  return a.reset_id == b.reset_id && a.pairs == b.pairs;
}
bool same(const UserTrigramsDocument& a, const UserTrigramsDocument& b) {
  return a.reset_id == b.reset_id && a.triples == b.triples;
}
bool same(const SelectionMemoryDocument& a, const SelectionMemoryDocument& b) {
  return a.reset_id == b.reset_id && a.selections == b.selections;
}
bool same(const RejectionsDocument& a, const RejectionsDocument& b) {
  return a.reset_id == b.reset_id && a.entries == b.entries;
}

template <typename Document>
void round_trip(std::string_view text) {
  Document doc;
  std::string error;
  if (!decode_document(text, doc, error)) {
    if (error.empty()) std::abort();  // a failure always says why
    return;
  }
  std::string written;
  if (!encode_document(doc, written, error)) std::abort();  // decoded strings are valid UTF-8
  Document again;
  if (!decode_document(written, again, error)) std::abort();
  if (!same(doc, again)) std::abort();
  // The writer's output is a fixed point.
  std::string rewritten;
  if (!encode_document(again, rewritten, error)) std::abort();
  Document third;
  if (!decode_document(rewritten, third, error) || !same(doc, third)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string error;
  switch (data[0] % 13) {
    case 0: {
      json::Value v;
      if (json::parse(text, v, error)) {
        (void)json::describe(v);
      } else if (error.empty()) {
        std::abort();
      }
      // What the fast reader takes, the general reader reads alike.
      json::Value fast;
      if (json::parse_fast(text, fast)) {
        json::Value general;
        if (!json::parse_general(text, general, error) || !(fast == general)) std::abort();
      }
      break;
    }
    case 1:
      if (!phonetic::parse_grammar(text, error) && error.empty()) std::abort();
      break;
    case 2:
      if (!probhat::parse_layout(text, error) && error.empty()) std::abort();
      break;
    case 3:
      if (!probhat::parse_custom_overrides(text, error) && error.empty()) std::abort();
      break;
    case 4:
      round_trip<UserDictionaryDocument>(text);
      break;
    case 5:
      round_trip<UserBigramsDocument>(text);
      break;
    case 6:
      round_trip<UserTrigramsDocument>(text);
      break;
    case 7:
      round_trip<SelectionMemoryDocument>(text);
      break;
    case 8:
      round_trip<RejectionsDocument>(text);
      break;
    case 9:
      (void)suggest::load_autocorrect(text);
      break;
    case 10:
      (void)bigram::load_counts(text);
      break;
    case 11: {
      // The curated follow-ups over a small fixed count table.
      static const bigram::BigramCounts counts =
          bigram::load_counts(R"([["a","b"],["a","c"],["b","c"]])");
      bigram::RankingLookups lookups;
      lookups.frequency = [](std::string_view w) -> std::optional<uint32_t> {
        return w.size() % 3 == 0 ? std::nullopt : std::optional<uint32_t>(w.size());
      };
      lookups.standard = [](std::string_view) -> std::optional<std::string_view> {
        return std::nullopt;
      };
      (void)bigram::load_ranked(counts, text, lookups);
      break;
    }
    default:
      (void)spelling::parse_table(text);
      break;
  }
  return 0;
}
