// Text-shortcut files: reading a file of shortcuts in any of the forms users bring (a JSON object
// or array of records, a binary or XML property list such as the system's text-replacement
// export, or delimited text lines with CSV quoting), merging what was read into a stored list,
// and writing a list as JSON. Every code and text is normalised and checked on the way in.
// Thread-safety: stateless; every function may be called on any thread.
#ifndef TOLVANI_SETTINGS_TEXTSHORTCUTFILE_H_
#define TOLVANI_SETTINGS_TEXTSHORTCUTFILE_H_

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <optional>

namespace tolvani::TextShortcutFile {

// The largest file read, in bytes.
inline constexpr qsizetype maxFileBytes = 200000;
// The most shortcuts one file gives and a merge lets a list grow to.
inline constexpr int maxShortcuts = 500;
inline constexpr qsizetype maxCodeCharacters = 24;
inline constexpr qsizetype maxExpansionCharacters = 500;

// The six dynamic codes, computed at typing time, which a file can never define.
const QSet<QString>& reservedCodes();

struct ParseResult {
  QMap<QString, QString> shortcuts;  // normalised code to normalised text
  int skipped = 0;                   // records left out: malformed, reserved or over the limit
};

struct MergeResult {
  QMap<QString, QString> shortcuts;
  int added = 0;    // new codes and replaced ones
  int skipped = 0;  // new codes refused because the list was full
};

// Reads a file's bytes. Never fails: unusable data give an empty list (and data over
// maxFileBytes give an empty list with nothing skipped, unread).
ParseResult parse(const QByteArray& data);

// Merges `imported` into `existing` in ascending code order; a code not yet present is refused
// once the list holds maxShortcuts. Nothing is ever removed.
MergeResult merging(const QMap<QString, QString>& imported, const QMap<QString, QString>& existing);

// The list as one JSON object, indented, keys in ascending order, UTF-8; "{}" if it cannot be
// written. parse() reads it back unchanged.
QByteArray exportData(const QMap<QString, QString>& shortcuts);

// A code trimmed and lower-cased: 1 to 24 of "a" to "z" and "0" to "9", not reserved; else none,
// also, unread, when it is longer than any such code could be (withinStoredTextBound).
std::optional<QString> normalizedCode(const QString& code);
// A text trimmed at both ends: 1 to 500 characters (grapheme clusters) without an unsafe scalar;
// else none, also, unread, when it is past the stored-text bound of 500 characters (6,000 UTF-16
// units). Inner spaces stay.
std::optional<QString> normalizedExpansion(const QString& text);

}  // namespace tolvani::TextShortcutFile

#endif  // TOLVANI_SETTINGS_TEXTSHORTCUTFILE_H_
