// "custom-layout.json" in the user-data folder: the user's overrides of what keys type in the two
// fixed layouts, layer name to key to output, which the engine reads after a user-data reload.
// Written pretty-printed with sorted keys, atomically under its lock file; a file that cannot be
// read is never replaced without being kept aside first. Thread-safety: every function may be
// called on any thread; writers take the file's lock.
#ifndef TOLVANI_SETTINGS_CUSTOMLAYOUTFILE_H_
#define TOLVANI_SETTINGS_CUSTOMLAYOUTFILE_H_

#include <QByteArray>
#include <QString>
#include <functional>
#include <map>
#include <optional>

namespace tolvani::CustomLayoutFile {

// Layer name to key to output, every level in ascending order.
using Overrides = std::map<QString, std::map<QString, QString>>;

// The engine reads no larger file, so a larger one holds no overrides for it either.
inline constexpr qint64 kMaxBytes = qint64{1} << 20;
// The longest output, in characters (Unicode scalar values), that the engine types: it leaves a
// longer one in the file out, and its key types the layout's own output.
inline constexpr qsizetype kMaxOutputCharacters = 64;

// The file's path in the user-data folder.
QString path();

// The overrides of a document: an object whose member "overrides" is an object of layer objects of
// string outputs. Anything else is none.
std::optional<Overrides> parse(const QByteArray& bytes);
// The document written for `overrides`: {"overrides": ...}, indented, keys sorted, UTF-8.
QByteArray encode(const Overrides& overrides);

struct ReadResult {
  Overrides overrides;   // empty unless the file was read
  bool damaged = false;  // a file is there that does not read as overrides
};
// The file's overrides; a missing file has none and is not damaged.
ReadResult read();

// Reads the file, lets `change` edit its overrides and writes them back, keeping a damaged file
// as "custom-layout.json.corrupt-<seconds>" first. False (logged) when the write failed.
bool update(const std::function<void(Overrides&)>& change);
// Deletes the file; false when it was there and could not be deleted.
bool remove();

// True when another process replaced, changed or deleted the file since this process last wrote
// it or last asked; each change is answered true once. The first call only takes note.
bool takeOutsideChange();

}  // namespace tolvani::CustomLayoutFile

#endif  // TOLVANI_SETTINGS_CUSTOMLAYOUTFILE_H_
