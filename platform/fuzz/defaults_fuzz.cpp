// Arbitrary bytes as the defaults file: reading never fails hard, and whatever reads as a
// dictionary is written and read back as the same values.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/PropertyList.h"

namespace {

// Equality that holds for NaN too: doubles compare by their bits.
bool same(const QVariant& a, const QVariant& b) {
  if (a.typeId() != b.typeId()) return false;
  switch (a.typeId()) {
    case QMetaType::Double: {
      const double x = a.toDouble(), y = b.toDouble();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case QMetaType::QVariantList: {
      const QVariantList x = a.toList(), y = b.toList();
      if (x.size() != y.size()) return false;
      for (qsizetype i = 0; i < x.size(); ++i)
        if (!same(x[i], y[i])) return false;
      return true;
    }
    case QMetaType::QVariantMap: {
      const QVariantMap x = a.toMap(), y = b.toMap();
      if (x.keys() != y.keys()) return false;
      for (auto it = x.begin(); it != x.end(); ++it)
        if (!same(it.value(), y.value(it.key()))) return false;
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tolvani::platform;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const std::optional<QVariantMap> values = propertylist::parseDictionary(bytes);
  if (!values) return 0;
  // Strings with U+0000 cannot be written; everything else must survive a round trip.
  const std::optional<QByteArray> written = propertylist::toBinary(*values);
  if (!written) return 0;
  const std::optional<QVariantMap> reread = propertylist::parseDictionary(*written);
  if (!reread || !same(QVariant(*values), QVariant(*reread))) std::abort();
  return 0;
}
