#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <QStringList>
#include <cstdlib>
#include <limits>
#include <memory>

namespace tolvani::platform::propertylist {

namespace {

constexpr int kMaxDepth = 64;

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistDeleter>;

std::optional<QVariant> fromNode(plist_t node, int depth) {
  if (!node || depth > kMaxDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return QVariant(value != 0);
    }
    case PLIST_UINT: {
      // Negative integers are stored as their two's-complement bit pattern.
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return QVariant(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return QVariant(value);
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (!text) return QVariant(QString());
      return QVariant(QString::fromUtf8(text, static_cast<qsizetype>(length)));
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      return QVariant(QByteArray(bytes, bytes ? static_cast<qsizetype>(length) : 0));
    }
    case PLIST_ARRAY: {
      QVariantList list;
      const uint32_t size = plist_array_get_size(node);
      for (uint32_t i = 0; i < size; ++i) {
        if (std::optional<QVariant> item = fromNode(plist_array_get_item(node, i), depth + 1))
          list.append(std::move(*item));
      }
      return QVariant(list);
    }
    case PLIST_DICT: {
      QVariantMap map;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      if (!iter) return QVariant(map);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        if (!item) {
          std::free(key);
          break;
        }
        std::optional<QVariant> value = fromNode(item, depth + 1);
        if (key && value) map.insert(QString::fromUtf8(key), std::move(*value));
        std::free(key);
      }
      std::free(iter);
      return QVariant(map);
    }
    default:
      return std::nullopt;
  }
}

std::optional<QVariant> normalizedAt(const QVariant& value, int depth) {
  if (depth > kMaxDepth) return std::nullopt;
  switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::QByteArray:
      return value;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
      return QVariant(value.toLongLong());
    case QMetaType::ULongLong: {
      const qulonglong n = value.toULongLong();
      if (n > static_cast<qulonglong>(std::numeric_limits<qint64>::max())) return std::nullopt;
      return QVariant(static_cast<qint64>(n));
    }
    case QMetaType::Float:
      return QVariant(value.toDouble());
    case QMetaType::QString: {
      if (value.toString().contains(QChar(0))) return std::nullopt;
      return value;
    }
    case QMetaType::QStringList: {
      QVariantList list;
      for (const QString& text : value.toStringList()) {
        if (text.contains(QChar(0))) return std::nullopt;
        list.append(text);
      }
      return QVariant(list);
    }
    case QMetaType::QVariantList: {
      QVariantList list;
      for (const QVariant& item : value.toList()) {
        std::optional<QVariant> n = normalizedAt(item, depth + 1);
        if (!n) return std::nullopt;
        list.append(std::move(*n));
      }
      return QVariant(list);
    }
    case QMetaType::QVariantMap: {
      QVariantMap map;
      const QVariantMap source = value.toMap();
      for (auto it = source.begin(); it != source.end(); ++it) {
        if (it.key().contains(QChar(0))) return std::nullopt;
        std::optional<QVariant> n = normalizedAt(it.value(), depth + 1);
        if (!n) return std::nullopt;
        map.insert(it.key(), std::move(*n));
      }
      return QVariant(map);
    }
    default:
      return std::nullopt;
  }
}

// Requires: `value` is normalized.
plist_t toNode(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Bool:
      return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::LongLong:
      return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::Double:
      return plist_new_real(value.toDouble());
    case QMetaType::QString:
      return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
      const QByteArray bytes = value.toByteArray();
      return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
    }
    case QMetaType::QVariantList: {
      plist_t array = plist_new_array();
      for (const QVariant& item : value.toList()) plist_array_append_item(array, toNode(item));
      return array;
    }
    default: {
      plist_t dict = plist_new_dict();
      const QVariantMap map = value.toMap();
      for (auto it = map.begin(); it != map.end(); ++it)
        plist_dict_set_item(dict, it.key().toUtf8().constData(), toNode(it.value()));
      return dict;
    }
  }
}

}  // namespace

std::optional<QVariant> parse(const QByteArray& bytes) {
  if (bytes.isEmpty() || bytes.size() > kMaxBytes) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
  const Plist owned(root);
  if (!root) return std::nullopt;
  return fromNode(root, 0);
}

std::optional<QVariantMap> parseDictionary(const QByteArray& bytes) {
  std::optional<QVariant> value = parse(bytes);
  if (!value || value->typeId() != QMetaType::QVariantMap) return std::nullopt;
  return value->toMap();
}

std::optional<QVariant> normalized(const QVariant& value) { return normalizedAt(value, 0); }

std::optional<QByteArray> toBinary(const QVariantMap& values) {
  const std::optional<QVariant> checked = normalized(QVariant(values));
  if (!checked) return std::nullopt;
  const Plist root(toNode(*checked));
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(static_cast<plist_t>(root.get()), &bytes, &length);
  if (!bytes) return std::nullopt;
  QByteArray result(bytes, static_cast<qsizetype>(length));
  plist_to_bin_free(bytes);
  if (result.size() > kMaxBytes) return std::nullopt;
  return result;
}

}  // namespace tolvani::platform::propertylist
