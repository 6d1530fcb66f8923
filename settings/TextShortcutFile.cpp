#include "settings/TextShortcutFile.h"

#include <plist/plist.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/StoredText.h"

namespace tolvani::TextShortcutFile {

namespace {

constexpr std::array<QStringView, 3> kCodeKeys = {u"shortcut", u"code", u"key"};
constexpr std::array<QStringView, 4> kTextKeys = {u"phrase", u"expansion", u"text", u"value"};

// Property lists nest no deeper than this, and a binary one expands to no more nodes and string
// bytes than these: the reader copies a shared object once per reference and frees its tree
// recursively, so a small hostile file could otherwise take gigabytes or the whole stack.
constexpr int kMaxPropertyListDepth = 512;
constexpr std::uint64_t kMaxPropertyListNodes = 100000;
constexpr std::uint64_t kMaxPropertyListStringBytes = 4000000;

bool isWhitespace(char16_t ch) { return ch == u'\t' || u_charType(ch) == U_SPACE_SEPARATOR; }

bool isNewline(char16_t ch) {
  return (ch >= 0x0A && ch <= 0x0D) || ch == 0x85 || ch == 0x2028 || ch == 0x2029;
}

bool isWhitespaceOrNewline(char16_t ch) { return isWhitespace(ch) || isNewline(ch); }

template <typename Predicate>
QString trimmed(QStringView text, Predicate strip) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && strip(text[begin].unicode())) ++begin;
  while (end > begin && strip(text[end - 1].unicode())) --end;
  return text.mid(begin, end - begin).toString();
}

// Full Unicode lower-casing, the same in every locale.
QString lowercased(const QString& text) {
  icu::UnicodeString unicode(reinterpret_cast<const UChar*>(text.utf16()),
                             static_cast<int32_t>(text.size()));
  unicode.toLower(icu::Locale::getRoot());
  return QString(reinterpret_cast<const QChar*>(unicode.getBuffer()), unicode.length());
}

// None for bytes that are not well-formed UTF-8 (a stray byte, a surrogate, an overlong form).
std::optional<QString> decodeUtf8(const char* bytes, qsizetype size) {
  if (size == 0) return QString();
  if (size > INT32_MAX) return std::nullopt;
  QString text(size, Qt::Uninitialized);  // never more UTF-16 units than bytes
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(text.data()), static_cast<int32_t>(text.size()), &length,
                bytes, static_cast<int32_t>(size), &status);
  if (U_FAILURE(status)) return std::nullopt;
  text.truncate(length);
  return text;
}

// Unlike QString::fromStdString, keeps a leading U+FEFF, which is text here.
std::optional<QString> decodeUtf8(const std::string& bytes) {
  return decodeUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// One dictionary of a file, in its own order; a value that is not a string is none.
using Dictionary = std::vector<std::pair<QString, std::optional<QString>>>;

// A file's top-level value as far as shortcuts go: one dictionary of code to text, or an array of
// record dictionaries, or anything else.
struct Document {
  enum class Kind { codeToText, records, other };
  Kind kind = Kind::other;
  Dictionary dictionary;
  std::vector<Dictionary> records;
};

struct Candidates {
  std::vector<std::pair<QString, QString>> pairs;
  int skipped = 0;
};

Dictionary dictionaryFromJson(const nlohmann::json& object) {
  Dictionary dictionary;
  dictionary.reserve(object.size());
  for (const auto& [key, value] : object.items()) {
    std::optional<QString> text;
    if (value.is_string()) text = decodeUtf8(value.get_ref<const std::string&>());
    dictionary.emplace_back(decodeUtf8(key).value_or(QString()), std::move(text));
  }
  return dictionary;
}

// None when the data are not a JSON object or array (a top-level number or string included).
std::optional<Document> readJson(const QByteArray& data) {
  nlohmann::json value;
  try {
    value = nlohmann::json::parse(data.cbegin(), data.cend(), nullptr, false);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (!value.is_object() && !value.is_array()) return std::nullopt;
  Document document;
  if (value.is_object()) {
    document.kind = Document::Kind::codeToText;
    document.dictionary = dictionaryFromJson(value);
    return document;
  }
  for (const nlohmann::json& element : value) {
    if (!element.is_object()) return Document{};
    document.records.push_back(dictionaryFromJson(element));
  }
  document.kind = Document::Kind::records;
  return document;
}

std::uint64_t readBigEndian(const unsigned char* bytes, unsigned width) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

// Walks a binary property list's object references without building anything: false for a list
// that nests too deep, refers in a loop, expands to too much, or is not laid out consistently.
bool binaryPropertyListIsTame(const QByteArray& data) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
  const std::uint64_t size = static_cast<std::uint64_t>(data.size());
  constexpr std::uint64_t kHeader = 8;
  constexpr std::uint64_t kTrailer = 32;
  if (size < kHeader + kTrailer) return false;
  const std::uint64_t objectsEnd = size - kTrailer;
  const unsigned char* trailer = bytes + objectsEnd;
  const unsigned offsetSize = trailer[6];
  const unsigned refSize = trailer[7];
  const std::uint64_t objectCount = readBigEndian(trailer + 8, 8);
  const std::uint64_t root = readBigEndian(trailer + 16, 8);
  const std::uint64_t tableStart = readBigEndian(trailer + 24, 8);
  if (offsetSize == 0 || offsetSize > 8 || refSize == 0 || refSize > 8) return false;
  if (objectCount == 0 || root >= objectCount) return false;
  if (tableStart < kHeader || tableStart >= objectsEnd) return false;
  if (objectCount > (objectsEnd - tableStart) / offsetSize) return false;

  struct Pending {
    std::uint64_t object;
    int depth;
    bool key;
  };
  std::vector<Pending> pending = {{root, 1, false}};
  std::uint64_t nodes = 1;
  std::uint64_t stringBytes = 0;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    if (next.depth > kMaxPropertyListDepth) return false;
    std::uint64_t at = readBigEndian(bytes + tableStart + next.object * offsetSize, offsetSize);
    if (at < kHeader || at >= objectsEnd) return false;
    const unsigned type = bytes[at] >> 4;
    std::uint64_t count = bytes[at] & 0x0F;
    ++at;
    const bool sized = type == 0x4 || type == 0x5 || type == 0x6 || (type >= 0xA && type <= 0xD);
    if (sized && count == 0x0F) {
      if (at >= objectsEnd || (bytes[at] >> 4) != 0x1) return false;
      const unsigned width = 1u << (bytes[at] & 0x0F);
      if (width > 8 || objectsEnd - at - 1 < width) return false;
      count = readBigEndian(bytes + at + 1, width);
      at += 1 + width;
    }
    if (count > size) return false;  // cannot fit, and keeps the sums below from overflowing
    if (type == 0x4 || type == 0x5) stringBytes += count;
    if (type == 0x6) stringBytes += 3 * count;
    if (stringBytes > kMaxPropertyListStringBytes) return false;
    if (next.key) {
      // The reader aborts the process when it hands out a key that is not a string or holds a
      // NUL.
      const unsigned width = type == 0x6 ? 2 : 1;
      if ((type != 0x5 && type != 0x6) || (objectsEnd - at) / width < count) return false;
      for (std::uint64_t i = 0; i < count * width; i += width) {
        if (bytes[at + i] == 0 && (width == 1 || bytes[at + i + 1] == 0)) return false;
      }
      continue;
    }
    if (type < 0xA || type > 0xD) continue;
    const std::uint64_t refs = type == 0xD ? 2 * count : count;
    if ((objectsEnd - at) / refSize < refs) return false;
    for (std::uint64_t i = 0; i < refs; ++i) {
      const std::uint64_t child = readBigEndian(bytes + at + i * refSize, refSize);
      if (child >= objectCount) return false;
      if (++nodes > kMaxPropertyListNodes) return false;
      pending.push_back({child, next.depth + 1, type == 0xD && i < count});
    }
  }
  return true;
}

// Scans an XML property list's tags as the reader does (a tag ends at the first ">"; comments and
// CDATA sections are skipped) and answers false when dictionaries and arrays nest too deep.
bool xmlPropertyListIsTame(const QByteArray& data) {
  const std::string_view text(data.constData(), static_cast<std::size_t>(data.size()));
  int depth = 0;
  std::size_t at = text.find('<');
  while (at != std::string_view::npos) {
    const std::string_view rest = text.substr(at);
    std::size_t next = std::string_view::npos;
    if (rest.starts_with("<!--")) {
      next = text.find("-->", at + 4);
      if (next != std::string_view::npos) next += 3;
    } else if (rest.starts_with("<![CDATA[")) {
      next = text.find("]]>", at + 9);
      if (next != std::string_view::npos) next += 3;
    } else {
      const std::size_t nameEnd = text.find_first_of(" \r\n\t<>", at + 1);
      const std::size_t close = text.find_first_of("<>", at + 1);
      if (close == std::string_view::npos || text[close] != '>') return true;  // the reader refuses
      std::string_view name = text.substr(at + 1, std::min(nameEnd, close) - at - 1);
      const bool empty = text[close - 1] == '/';
      if (name.ends_with('/')) name.remove_suffix(1);
      if (!empty && (name == "dict" || name == "array")) {
        if (++depth > kMaxPropertyListDepth) return false;
      } else if (name == "/dict" || name == "/array") {
        depth = std::max(0, depth - 1);
      }
      next = close + 1;
    }
    if (next == std::string_view::npos) return true;
    at = text.find('<', next);
  }
  return true;
}

std::optional<QString> stringOfNode(plist_t node) {
  if (plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  std::uint64_t length = 0;
  const char* bytes = plist_get_string_ptr(node, &length);
  if (!bytes) return std::nullopt;
  return decodeUtf8(bytes, static_cast<qsizetype>(length));
}

Dictionary dictionaryFromPropertyList(plist_t node) {
  Dictionary dictionary;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(node, &iterator);
  if (!iterator) return dictionary;
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(node, iterator, &key, &value);
    if (!value) {
      std::free(key);
      break;
    }
    std::optional<QString> keyText = key ? decodeUtf8(key, qstrlen(key)) : std::nullopt;
    std::free(key);
    // A key that is not text can match nothing and counts like a value that is not a string.
    dictionary.emplace_back(keyText.value_or(QString()),
                            keyText ? stringOfNode(value) : std::nullopt);
  }
  std::free(iterator);
  return dictionary;
}

// None when the data are not a binary or XML property list the reader accepts.
std::optional<Document> readPropertyList(const QByteArray& data) {
  const bool binary = data.startsWith("bplist");
  if (!binary && !data.startsWith("<?xml")) return std::nullopt;
  if (binary ? !binaryPropertyListIsTame(data) : !xmlPropertyListIsTame(data)) return std::nullopt;
  plist_t root = nullptr;
  const auto size = static_cast<std::uint32_t>(data.size());
  if (binary) {
    plist_from_bin(data.constData(), size, &root);
  } else {
    plist_from_xml(data.constData(), size, &root);
  }
  if (!root) return std::nullopt;
  const std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);

  Document document;
  if (plist_get_node_type(root) == PLIST_DICT) {
    document.kind = Document::Kind::codeToText;
    document.dictionary = dictionaryFromPropertyList(root);
  } else if (plist_get_node_type(root) == PLIST_ARRAY) {
    const std::uint32_t count = plist_array_get_size(root);
    for (std::uint32_t i = 0; i < count; ++i) {
      plist_t element = plist_array_get_item(root, i);
      if (!element || plist_get_node_type(element) != PLIST_DICT) return Document{};
      document.records.push_back(dictionaryFromPropertyList(element));
    }
    document.kind = Document::Kind::records;
  }
  return document;
}

// The first string value under any of `keys`, in the keys' order of preference.
template <std::size_t N>
std::optional<QString> firstString(const Dictionary& record,
                                   const std::array<QStringView, N>& keys) {
  for (QStringView key : keys) {
    for (const auto& [name, value] : record) {
      if (value && name == key) return value;
    }
  }
  return std::nullopt;
}

Candidates candidatesOf(const Document& document) {
  Candidates candidates;
  switch (document.kind) {
    case Document::Kind::codeToText:
      for (const auto& [code, text] : document.dictionary) {
        if (text) {
          candidates.pairs.emplace_back(code, *text);
        } else {
          ++candidates.skipped;
        }
      }
      break;
    case Document::Kind::records:
      for (const Dictionary& record : document.records) {
        std::optional<QString> code = firstString(record, kCodeKeys);
        std::optional<QString> text = firstString(record, kTextKeys);
        if (code && text) {
          candidates.pairs.emplace_back(std::move(*code), std::move(*text));
        } else {
          ++candidates.skipped;
        }
      }
      break;
    case Document::Kind::other:
      break;
  }
  return candidates;
}

template <std::size_t N>
bool isOneOf(const QString& text, const std::array<QStringView, N>& words) {
  for (QStringView word : words) {
    if (text == word) return true;
  }
  return false;
}

// Lines of "code<separator>text", the separator being the first tab, "=" or ",".
Candidates candidatesOfTextLines(const QByteArray& data) {
  std::optional<QString> decoded = decodeUtf8(data.constData(), data.size());
  if (!decoded) return {};
  QStringView text = *decoded;
  if (text.startsWith(u'\uFEFF')) text = text.mid(1);  // a byte-order mark is no part of the text

  Candidates candidates;
  qsizetype lineStart = 0;
  while (lineStart <= text.size()) {
    qsizetype lineEnd = lineStart;
    while (lineEnd < text.size() && !isNewline(text[lineEnd].unicode())) ++lineEnd;
    const QString line = trimmed(text.mid(lineStart, lineEnd - lineStart), isWhitespace);
    lineStart = lineEnd + 1;
    if (line.isEmpty() || line.startsWith(u'#')) continue;

    qsizetype separator = 0;
    while (separator < line.size()) {
      const char16_t ch = line[separator].unicode();
      if (ch == u'\t' || ch == u'=' || ch == u',') break;
      ++separator;
    }
    if (separator == line.size()) {
      ++candidates.skipped;
      continue;
    }
    const QString code = trimmed(QStringView(line).left(separator),
                                 [](char16_t ch) { return ch == u'"' || ch == u' '; });
    QString expansion = trimmed(QStringView(line).mid(separator + 1), isWhitespace);
    if (expansion.size() >= 2 && expansion.startsWith(u'"') && expansion.endsWith(u'"')) {
      expansion = expansion.mid(1, expansion.size() - 2)
                      .replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    if (candidates.pairs.empty() && candidates.skipped == 0 &&
        isOneOf(lowercased(code), kCodeKeys) && isOneOf(lowercased(expansion), kTextKeys)) {
      continue;  // a header row
    }
    candidates.pairs.emplace_back(code, std::move(expansion));
  }
  return candidates;
}

}  // namespace

const QSet<QString>& reservedCodes() {
  static const QSet<QString> codes = {QStringLiteral("tarikh"),  QStringLiteral("aj"),
                                      QStringLiteral("shomoy"),  QStringLiteral("bdate"),
                                      QStringLiteral("btarikh"), QStringLiteral("bongabdo")};
  return codes;
}

std::optional<QString> normalizedCode(const QString& code) {
  const QString normalized = lowercased(trimmed(code, isWhitespaceOrNewline));
  if (normalized.isEmpty() || normalized.size() > maxCodeCharacters) return std::nullopt;
  for (QChar ch : normalized) {
    const bool allowed = (ch >= u'a' && ch <= u'z') || (ch >= u'0' && ch <= u'9');
    if (!allowed) return std::nullopt;
  }
  if (reservedCodes().contains(normalized)) return std::nullopt;
  return normalized;
}

std::optional<QString> normalizedExpansion(const QString& text) {
  QString normalized = trimmed(text, isWhitespaceOrNewline);
  const qsizetype characters = characterCount(normalized, maxExpansionCharacters + 1);
  if (characters < 1 || characters > maxExpansionCharacters) return std::nullopt;
  if (containsUnsafeStoredText(normalized)) return std::nullopt;
  return normalized;
}

ParseResult parse(const QByteArray& data) {
  if (data.size() > maxFileBytes) return {};
  std::optional<Document> document = readJson(data);
  if (!document) document = readPropertyList(data);
  Candidates candidates = document ? candidatesOf(*document) : candidatesOfTextLines(data);

  ParseResult result;
  result.skipped = candidates.skipped;
  for (const auto& [code, text] : candidates.pairs) {
    if (result.shortcuts.size() >= maxShortcuts) {
      ++result.skipped;
      continue;
    }
    const std::optional<QString> normalizedCodeText = normalizedCode(code);
    const std::optional<QString> normalizedText = normalizedExpansion(text);
    if (!normalizedCodeText || !normalizedText) {
      ++result.skipped;
      continue;
    }
    result.shortcuts.insert(*normalizedCodeText, *normalizedText);
  }
  return result;
}

MergeResult merging(const QMap<QString, QString>& imported,
                    const QMap<QString, QString>& existing) {
  MergeResult result{existing, 0, 0};
  // QMap walks its keys in ascending order.
  for (auto it = imported.cbegin(); it != imported.cend(); ++it) {
    if (!result.shortcuts.contains(it.key()) && result.shortcuts.size() >= maxShortcuts) {
      ++result.skipped;
      continue;
    }
    result.shortcuts.insert(it.key(), it.value());
    ++result.added;
  }
  return result;
}

QByteArray exportData(const QMap<QString, QString>& shortcuts) {
  try {
    nlohmann::json object = nlohmann::json::object();  // std::map: keys in ascending order
    for (auto it = shortcuts.cbegin(); it != shortcuts.cend(); ++it) {
      object[it.key().toStdString()] = it.value().toStdString();
    }
    return QByteArray::fromStdString(object.dump(2));
  } catch (const std::exception&) {
    return QByteArrayLiteral("{}");
  }
}

}  // namespace tolvani::TextShortcutFile
