#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <QStringList>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace tolvani::platform::propertylist {

namespace {

constexpr int kMaxDepth = 64;

// Text as writing it gives it back: a lone surrogate becomes what UTF-8 makes of it, so that a
// value or key read and written again stays the same.
QString asWritten(const QString& text) {
  return text.isValidUtf16() ? text : QString::fromUtf8(text.toUtf8());
}

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistDeleter>;

// Binary property lists ("bplist00"). Read here rather than by libplist, whose 2.2 reader
// aborts on some damaged files; every offset, length and reference is checked before use.
class BinaryReader {
 public:
  BinaryReader(const QByteArray& bytes, const ReadOptions& options)
      : data_(reinterpret_cast<const uint8_t*>(bytes.constData())),
        size_(static_cast<uint64_t>(bytes.size())),
        options_(options) {}

  std::optional<QVariant> read() {
    if (size_ < 8 + 32 || std::memcmp(data_, "bplist00", 8) != 0) return std::nullopt;
    const uint8_t* trailer = data_ + size_ - 32;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    objectCount_ = bigEndian(trailer + 8, 8);
    const uint64_t top = bigEndian(trailer + 16, 8);
    tableStart_ = bigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return std::nullopt;
    if (objectCount_ == 0 || top >= objectCount_ || tableStart_ < 8 || tableStart_ >= size_ - 32)
      return std::nullopt;
    if (objectCount_ > (size_ - 32 - tableStart_) / offsetSize_) return std::nullopt;
    visiting_.assign(objectCount_, false);
    std::optional<QVariant> value = object(top, 0);
    if (failed_) return std::nullopt;
    return value;
  }

 private:
  static uint64_t bigEndian(const uint8_t* at, unsigned count) {
    uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i) value = (value << 8) | at[i];
    return value;
  }

  // Marks the whole file bad and returns none.
  std::optional<QVariant> fail() {
    failed_ = true;
    return std::nullopt;
  }

  // Whether [at, at + length) lies within the object area.
  bool inObjects(uint64_t at, uint64_t length) const {
    return at <= tableStart_ && length <= tableStart_ - at;
  }

  // The length of the object at `at` with low nibble `info`; moves `at` past any length object.
  std::optional<uint64_t> length(uint64_t& at, uint8_t info) {
    if (info != 0x0F) return info;
    if (!inObjects(at, 1) || (data_[at] & 0xF0) != 0x10) return std::nullopt;
    const unsigned width = 1u << (data_[at] & 0x0F);
    if (width > 8 || !inObjects(at + 1, width)) return std::nullopt;
    const uint64_t n = bigEndian(data_ + at + 1, width);
    at += 1 + width;
    return n;
  }

  std::optional<uint64_t> reference(uint64_t at, uint64_t index) const {
    const uint64_t where = at + index * refSize_;
    if (!inObjects(where, refSize_)) return std::nullopt;
    const uint64_t ref = bigEndian(data_ + where, refSize_);
    if (ref >= objectCount_) return std::nullopt;
    return ref;
  }

  std::optional<QString> key(uint64_t ref, int depth) {
    std::optional<QVariant> value = object(ref, depth, true);
    if (!value || value->typeId() != QMetaType::QString) return std::nullopt;
    return value->toString();
  }

  // A value without a counterpart: left out of its container, or marked.
  std::optional<QVariant> unreadable() const {
    if (options_.markUnreadable) return QVariant();
    return std::nullopt;
  }

  // Counts `bytes` more of contents; false when that is more than allowed.
  bool build(uint64_t bytes) {
    contentBytes_ += bytes;  // cannot overflow: each addition is below twice the file's size
    return contentBytes_ <= static_cast<uint64_t>(std::max<qint64>(options_.maxContentBytes, 0));
  }

  // The object `ref`; none with failed_ set for a damaged file, else unreadable() for a value
  // without a counterpart. Keys are never marked: a text key is always some string.
  std::optional<QVariant> object(uint64_t ref, int depth, bool isKey = false) {
    // Shared objects could otherwise multiply a small file into an enormous value.
    if (failed_ || depth > kMaxDepth || ++objectsRead_ > kMaxObjectsRead) return fail();
    uint64_t at = bigEndian(data_ + tableStart_ + ref * offsetSize_, offsetSize_);
    if (at < 8 || !inObjects(at, 1)) return fail();
    const uint8_t marker = data_[at++];
    const uint8_t info = marker & 0x0F;
    switch (marker >> 4) {
      case 0x0:
        if (info == 0x8 || info == 0x9) return QVariant(info == 0x9);
        return unreadable();
      case 0x1: {
        if (info > 4) return fail();
        const unsigned width = 1u << info;
        if (!inObjects(at, width)) return fail();
        // Sixteen-byte integers hold 64-bit values in their low half.
        const unsigned skip = width == 16 ? 8 : 0;
        return QVariant(static_cast<qint64>(bigEndian(data_ + at + skip, width - skip)));
      }
      case 0x2: {
        if (info == 2 && inObjects(at, 4)) {
          const uint32_t bits = static_cast<uint32_t>(bigEndian(data_ + at, 4));
          float value;
          std::memcpy(&value, &bits, 4);
          return QVariant(static_cast<double>(value));
        }
        if (info == 3 && inObjects(at, 8)) {
          const uint64_t bits = bigEndian(data_ + at, 8);
          double value;
          std::memcpy(&value, &bits, 8);
          return QVariant(value);
        }
        return fail();
      }
      case 0x3:
        if (info == 3 && inObjects(at, 8)) return unreadable();  // a date
        return fail();
      case 0x4: {
        const std::optional<uint64_t> n = length(at, info);
        if (!n || !inObjects(at, *n) || !build(*n)) return fail();
        return QVariant(
            QByteArray(reinterpret_cast<const char*>(data_ + at), static_cast<qsizetype>(*n)));
      }
      case 0x5: {
        const std::optional<uint64_t> n = length(at, info);
        if (!n || !inObjects(at, *n) || !build(2 * *n)) return fail();
        const auto* begin = data_ + at;
        if (!isKey && options_.markUnreadable &&
            std::any_of(begin, begin + *n, [](uint8_t byte) { return byte > 0x7F; }))
          return unreadable();
        return QVariant(QString::fromLatin1(reinterpret_cast<const char*>(data_ + at),
                                            static_cast<qsizetype>(*n)));
      }
      case 0x6: {
        const std::optional<uint64_t> n = length(at, info);
        if (!n || *n > tableStart_ / 2 || !inObjects(at, *n * 2) || !build(2 * *n)) return fail();
        QString text(static_cast<qsizetype>(*n), Qt::Uninitialized);
        for (uint64_t i = 0; i < *n; ++i)
          text[static_cast<qsizetype>(i)] =
              QChar(static_cast<char16_t>(bigEndian(data_ + at + 2 * i, 2)));
        if (!text.isValidUtf16() && !isKey && options_.markUnreadable) return unreadable();
        return QVariant(asWritten(text));
      }
      case 0x8: {
        if (!inObjects(at, info + 1u)) return fail();
        return unreadable();  // an identifier
      }
      case 0xA:
      case 0xC:
      case 0xD: {
        const std::optional<uint64_t> n = length(at, info);
        const uint64_t refs = (marker >> 4) == 0xD ? 2 : 1;
        if (!n || *n > tableStart_ || !inObjects(at, *n * refs * refSize_)) return fail();
        // A container inside itself never ends.
        if (visiting_[ref]) return fail();
        visiting_[ref] = true;
        std::optional<QVariant> result;
        if ((marker >> 4) == 0xD) {
          QVariantMap map;
          for (uint64_t i = 0; i < *n && !failed_; ++i) {
            const std::optional<uint64_t> keyRef = reference(at, i);
            const std::optional<uint64_t> valueRef = reference(at, *n + i);
            if (!keyRef || !valueRef) {
              fail();
              break;
            }
            const std::optional<QString> name = key(*keyRef, depth + 1);
            if (!name) {
              fail();
              break;
            }
            if (std::optional<QVariant> value = object(*valueRef, depth + 1))
              map.insert(*name, std::move(*value));
          }
          result = QVariant(map);
        } else if ((marker >> 4) == 0xA) {
          QVariantList list;
          for (uint64_t i = 0; i < *n && !failed_; ++i) {
            const std::optional<uint64_t> item = reference(at, i);
            if (!item) {
              fail();
              break;
            }
            if (std::optional<QVariant> value = object(*item, depth + 1))
              list.append(std::move(*value));
          }
          result = QVariant(list);
        }
        visiting_[ref] = false;
        if (failed_) return std::nullopt;
        if (!result) return unreadable();  // a set has no counterpart
        return result;
      }
      default:
        return fail();
    }
  }

  static constexpr uint64_t kMaxObjectsRead = 1'000'000;

  const uint8_t* data_;
  uint64_t size_;
  const ReadOptions& options_;
  uint64_t contentBytes_ = 0;
  unsigned offsetSize_ = 0;
  unsigned refSize_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t tableStart_ = 0;
  uint64_t objectsRead_ = 0;
  bool failed_ = false;
  std::vector<bool> visiting_;
};

// XML property lists, through Qt's XML reader.
class XmlReader {
 public:
  XmlReader(const QByteArray& bytes, const ReadOptions& options) : xml_(bytes), options_(options) {}

  std::optional<QVariant> read() {
    // Declared entities would let a small file expand to gigabytes; property lists declare none.
    while (xml_.readNext() != QXmlStreamReader::StartElement) {
      if (xml_.hasError() || xml_.atEnd()) return std::nullopt;
      if (xml_.isDTD() && !xml_.entityDeclarations().isEmpty()) return std::nullopt;
    }
    std::optional<QVariant> value;
    if (xml_.name() == QLatin1String("plist")) {
      if (!nextElement()) return std::nullopt;
      value = element(0);
      if (failed_ || !xml_.readNextStartElement()) {
        // Only the closing </plist> may follow the one value.
        if (xml_.hasError() || !xml_.isEndElement()) return std::nullopt;
      } else {
        return std::nullopt;
      }
    } else {
      value = element(0);
    }
    if (failed_) return std::nullopt;
    while (!xml_.atEnd()) {
      if (xml_.readNext() == QXmlStreamReader::StartElement) return std::nullopt;
    }
    if (xml_.hasError()) return std::nullopt;
    return value;
  }

 private:
  std::optional<QVariant> fail() {
    failed_ = true;
    return std::nullopt;
  }

  // Moves to the next start element; false at the end of the current one or on an error.
  bool nextElement() { return xml_.readNextStartElement(); }

  std::optional<QVariant> unreadable() const {
    if (options_.markUnreadable) return QVariant();
    return std::nullopt;
  }

  std::optional<QString> text() {
    const QString content = xml_.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    if (xml_.hasError()) return std::nullopt;
    contentBytes_ += 2 * content.size();
    if (contentBytes_ > options_.maxContentBytes) return std::nullopt;
    return content;
  }

  // The element the reader stands on; the reader ends on its end element.
  std::optional<QVariant> element(int depth) {
    if (failed_ || depth > kMaxDepth) return fail();
    const QStringView name = xml_.name();
    if (name == QLatin1String("dict")) {
      QVariantMap map;
      while (nextElement()) {
        if (xml_.name() != QLatin1String("key")) return fail();
        const std::optional<QString> key = text();
        if (!key || !nextElement()) return fail();
        std::optional<QVariant> value = element(depth + 1);
        if (failed_) return std::nullopt;
        if (value) map.insert(asWritten(*key), std::move(*value));
      }
      if (xml_.hasError()) return fail();
      return QVariant(map);
    }
    if (name == QLatin1String("array")) {
      QVariantList list;
      while (nextElement()) {
        std::optional<QVariant> value = element(depth + 1);
        if (failed_) return std::nullopt;
        if (value) list.append(std::move(*value));
      }
      if (xml_.hasError()) return fail();
      return QVariant(list);
    }
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
      const bool value = name == QLatin1String("true");
      const std::optional<QString> content = text();
      if (!content || !content->trimmed().isEmpty()) return fail();
      return QVariant(value);
    }
    const bool known = name == QLatin1String("string") || name == QLatin1String("integer") ||
                       name == QLatin1String("real") || name == QLatin1String("data") ||
                       name == QLatin1String("date") || name == QLatin1String("key");
    const QString kind = name.toString();
    std::optional<QString> content = text();
    if (!content || !known || kind == QLatin1String("key")) return fail();
    if (kind == QLatin1String("string")) {
      if (!content->isValidUtf16() && options_.markUnreadable) return unreadable();
      return QVariant(asWritten(*content));
    }
    if (kind == QLatin1String("integer")) {
      const QString digits = content->trimmed();
      bool ok = false;
      qint64 value = digits.toLongLong(&ok, 10);
      if (!ok && digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = static_cast<qint64>(digits.mid(2).toULongLong(&ok, 16));
      if (!ok) {
        // An unsigned value beyond the signed range keeps its bit pattern.
        value = static_cast<qint64>(digits.toULongLong(&ok, 10));
      }
      if (!ok) return unreadable();
      return QVariant(value);
    }
    if (kind == QLatin1String("real")) {
      const QString number = content->trimmed().toLower();
      bool ok = false;
      double value = number.toDouble(&ok);
      if (!ok) {
        if (number == QLatin1String("nan"))
          value = std::numeric_limits<double>::quiet_NaN(), ok = true;
        else if (number == QLatin1String("inf") || number == QLatin1String("+inf") ||
                 number == QLatin1String("infinity") || number == QLatin1String("+infinity"))
          value = std::numeric_limits<double>::infinity(), ok = true;
        else if (number == QLatin1String("-inf") || number == QLatin1String("-infinity"))
          value = -std::numeric_limits<double>::infinity(), ok = true;
      }
      if (!ok) return unreadable();
      return QVariant(value);
    }
    if (kind == QLatin1String("data")) {
      QByteArray base64 = content->toLatin1();
      base64.replace(' ', "").replace('\n', "").replace('\t', "").replace('\r', "");
      const QByteArray::FromBase64Result decoded =
          QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
      if (!decoded) return unreadable();
      return QVariant(decoded.decoded);
    }
    return unreadable();  // a date
  }

  QXmlStreamReader xml_;
  const ReadOptions& options_;
  qint64 contentBytes_ = 0;
  bool failed_ = false;
};

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

std::optional<QVariant> parse(const QByteArray& bytes, const ReadOptions& options) {
  if (bytes.isEmpty() || bytes.size() > kMaxBytes) return std::nullopt;
  if (bytes.startsWith("bplist")) return BinaryReader(bytes, options).read();
  return XmlReader(bytes, options).read();
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
