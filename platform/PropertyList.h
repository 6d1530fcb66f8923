// Reading and writing property lists (XML or binary) as QVariants of the defaults' types: bool,
// qint64, double, QString, QByteArray, QVariantList and QVariantMap. Files are read by our own
// checked readers and written through libplist. Thread-safety: stateless; safe from any thread.
#ifndef TOLVANI_PLATFORM_PROPERTYLIST_H_
#define TOLVANI_PLATFORM_PROPERTYLIST_H_

#include <QByteArray>
#include <QVariant>
#include <QVariantMap>
#include <limits>
#include <optional>

namespace tolvani::platform::propertylist {

// The largest property list read or written; anything larger is refused.
inline constexpr qsizetype kMaxBytes = 32 * 1024 * 1024;

// How parse() reads; the defaults are the defaults suite's.
struct ReadOptions {
  // The most bytes of strings (two a UTF-16 unit), keys and data one read may build, a shared
  // object counted at every use; a list needing more is refused.
  qint64 maxContentBytes = std::numeric_limits<qint64>::max();
  // Values that would be left out or repaired (see parse) read as an invalid QVariant in place.
  bool markUnreadable = false;
};

// The value held by `bytes`, or none when they are not a whole, well-formed property list (a
// damaged file never reads in part). Dates, identifiers, sets and other values without a
// counterpart are left out of their dictionary or array; a string's or a key's lone surrogates read
// as writing them would store them, a binary ASCII string's other bytes as Latin-1. XML that
// declares entities is refused.
std::optional<QVariant> parse(const QByteArray& bytes, const ReadOptions& options = {});
// parse(), when the top value is a dictionary.
std::optional<QVariantMap> parseDictionary(const QByteArray& bytes);

// `value` in the supported types: other integer widths become qint64, float becomes double,
// QStringList a list of strings. None for any other type, for strings or keys holding U+0000,
// and for nesting deeper than 64.
std::optional<QVariant> normalized(const QVariant& value);

// A binary property list of `values`, or none when a value cannot be written (see normalized).
std::optional<QByteArray> toBinary(const QVariantMap& values);

}  // namespace tolvani::platform::propertylist

#endif  // TOLVANI_PLATFORM_PROPERTYLIST_H_
