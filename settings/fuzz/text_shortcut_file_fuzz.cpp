// Arbitrary bytes through the text-shortcut file reader. Whatever it reads must be a list it would
// accept again: normalised codes and texts, at most the limit; the list's export must read back
// to the same list with nothing skipped, and merging the list into itself changes nothing.
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "settings/TextShortcutFile.h"

using namespace tolvani::TextShortcutFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy, as a file read gives: terminated, unlike the fuzzer's buffer.
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const ParseResult result = parse(bytes);
  if (result.skipped < 0 || result.shortcuts.size() > maxShortcuts) std::abort();
  for (auto it = result.shortcuts.cbegin(); it != result.shortcuts.cend(); ++it) {
    if (normalizedCode(it.key()) != it.key()) std::abort();
    if (normalizedExpansion(it.value()) != it.value()) std::abort();
  }

  const ParseResult again = parse(exportData(result.shortcuts));
  if (again.shortcuts != result.shortcuts || again.skipped != 0) std::abort();

  const MergeResult merged = merging(result.shortcuts, result.shortcuts);
  if (merged.shortcuts != result.shortcuts || merged.skipped != 0) std::abort();
  if (merged.added != result.shortcuts.size()) std::abort();
  return 0;
}
