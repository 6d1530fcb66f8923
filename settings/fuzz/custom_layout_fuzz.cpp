// libFuzzer harness of the custom-key file reader: any bytes either read as overrides, which
// encode to a document that reads back as the same overrides, or read as none.
#include <cstdint>
#include <cstdlib>

#include "settings/CustomLayoutFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const std::optional<tolvani::CustomLayoutFile::Overrides> overrides =
      tolvani::CustomLayoutFile::parse(bytes);
  if (!overrides) return 0;
  const QByteArray again = tolvani::CustomLayoutFile::encode(*overrides);
  const std::optional<tolvani::CustomLayoutFile::Overrides> reread =
      tolvani::CustomLayoutFile::parse(again);
  // Texts with lone surrogates are written replaced; every other one survives the round trip.
  if (!reread || reread->size() != overrides->size()) std::abort();
  return 0;
}
