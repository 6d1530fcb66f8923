#include "settings/TextShortcutFile.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <array>
#include <cstdint>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "platform/PropertyList.h"
#include "settings/StoredText.h"

namespace tolvani::TextShortcutFile {

namespace {

constexpr std::array<QStringView, 3> kCodeKeys = {u"shortcut", u"code", u"key"};
constexpr std::array<QStringView, 4> kTextKeys = {u"phrase", u"expansion", u"text", u"value"};

// A property list's strings and data, a shared one counted at every use, may take no more bytes
// than this once read: far beyond any honest file of maxFileBytes.
constexpr qint64 kMaxPropertyListContentBytes = 4000000;

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

Dictionary dictionaryFromPropertyList(const QVariantMap& map) {
  Dictionary dictionary;
  dictionary.reserve(map.size());
  for (auto it = map.cbegin(); it != map.cend(); ++it) {
    std::optional<QString> text;
    if (it.value().typeId() == QMetaType::QString) text = it.value().toString();
    dictionary.emplace_back(it.key(), std::move(text));
  }
  return dictionary;
}

// None when the data are not a binary or XML property list the reader accepts.
std::optional<Document> readPropertyList(const QByteArray& data) {
  if (!data.startsWith("bplist") && !data.startsWith("<?xml")) return std::nullopt;
  // Dates, malformed strings and the like stay in place, so that they count as skipped.
  const std::optional<QVariant> value = platform::propertylist::parse(
      data, {.maxContentBytes = kMaxPropertyListContentBytes, .markUnreadable = true});
  if (!value) return std::nullopt;

  Document document;
  if (value->typeId() == QMetaType::QVariantMap) {
    document.kind = Document::Kind::codeToText;
    document.dictionary = dictionaryFromPropertyList(value->toMap());
  } else if (value->typeId() == QMetaType::QVariantList) {
    for (const QVariant& element : value->toList()) {
      if (element.typeId() != QMetaType::QVariantMap) return Document{};
      document.records.push_back(dictionaryFromPropertyList(element.toMap()));
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
  // Before trimming and lower-casing: a code long beyond its limit is refused unread.
  if (!withinStoredTextBound(code, maxCodeCharacters)) return std::nullopt;
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
  // Before trimming and counting: one character may hold any number of marks.
  if (!withinStoredTextBound(text, maxExpansionCharacters)) return std::nullopt;
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
