// Arbitrary bytes as a backup document: reading, cleaning and merging never fail hard; cleaning a
// cleaned backup changes nothing; and merging a cleaned store a second time into what the first
// merge made changes nothing, whatever the store on disk held (the document's own value for the
// store stands in for it).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Clock.h"
#include "settings/BackupMerge.h"
#include "settings/BackupSanitizer.h"

namespace {

using tolvani::BackupSanitizer::Json;

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tolvani;
  static platform::ManualClock clock;  // the same "now" for every run
  platform::testSetClock(&clock);

  const std::optional<Json> backup =
      BackupSanitizer::parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!backup || !backup->is_object()) return 0;
  const std::map<std::string, std::string> cleaned =
      BackupSanitizer::sanitizedUserDataFiles(*backup);

  Json again = Json::object();
  for (const auto& [key, bytes] : cleaned) {
    const std::optional<Json> document = BackupSanitizer::parseJson(bytes);
    check(document.has_value() && document->is_object());
    again[key] = *document;

    const auto current = backup->find(key);
    Json onDisk = current != backup->end() && current->is_object() ? *current : Json::object();
    const std::optional<Json> once = BackupMerge::mergedStore(key, onDisk, *document);
    if (!once) continue;  // a store on disk that no import may overwrite
    const std::optional<Json> twice = BackupMerge::mergedStore(key, *once, *document);
    check(twice.has_value() && twice->dump() == once->dump());
  }
  check(BackupSanitizer::sanitizedUserDataFiles(again) == cleaned);
  return 0;
}
