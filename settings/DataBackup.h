// Backup of what the keyboard has learned: one document with every learned store, written for
// the user to keep, and its import, which cleans each store it carries, merges it into the store
// on disk and writes all of them or none, under every store lock at once; also the import and
// export of text-shortcut files. Thread-safety: every function may be called on any thread; the
// import blocks while another holder (thread, engine worker or process) has a store's lock, and
// must not be called by a thread that holds one.
#ifndef TOLVANI_SETTINGS_DATABACKUP_H_
#define TOLVANI_SETTINGS_DATABACKUP_H_

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace tolvani {

// The outcome of a backup import.
struct LearnedDataImportResult {
  enum class Kind {
    imported,  // the stores were merged and written
    tooLarge,  // the document is over maxImportedUserDataBytes; nothing was read
    invalid,   // the document is not usable; nothing was written
    failed,    // reading, merging or writing the stores failed
  };
  Kind kind = Kind::invalid;
  // imported: the words of the backup's cleaned dictionary that the dictionary holds after the
  // import (0 without one): a word the merge hid under a tombstone, or one the engine's bounds
  // drop, is not counted.
  int words = 0;
  // failed: false when a store written before the failure could not be put back, so the stores
  // are NOT as they were; the user must not be told that nothing changed.
  bool storesUnchanged = true;

  bool operator==(const LearnedDataImportResult&) const = default;
};

// One store that a backup carries: its key in the backup document and its file.
struct UserDataFile {
  QString key;
  QString url;
};

namespace AppSettings {

inline constexpr qsizetype maxImportedUserDataBytes = 2'000'000;

// The six stores in backup order: "dictionary", "bigrams", "trigrams", "rejections",
// "selection_memory", "english_pairs".
std::vector<UserDataFile> userDataFiles();

// The backup document: {"version": 2, "exported_at": "2026-12-07T02:53:18Z", one key per store
// file that reads as JSON, holding it as parsed}, indented, keys sorted. Takes no lock: each file
// is read as it stands (whole, as atomic writes leave it). None when it cannot be written.
std::optional<QByteArray> exportUserData();

// Cleans every store of `data`, merges each into its file (the dictionary kept within the engine's
// bounds, see BackupMerge::dropWordsTheEngineDrops) and writes them all, holding the locks
// of all those stores (in ascending path order) from the first read to the last write. A failed
// write puts back the stores already written, latest first. Posts the settings-change
// notification with a user-data reload once the stores were reached, whatever came of it.
LearnedDataImportResult importUserData(const QByteArray& data);

// Merges the shortcuts read from a text-shortcut file into the stored list and posts the
// settings-change notification (no user-data reload). (added, skipped), or none when the file
// held no usable shortcut; then nothing changes and nothing is posted.
std::optional<std::pair<int, int>> importTextShortcuts(const QByteArray& data);
// The stored list as a text-shortcut file (JSON, indented, codes sorted).
QByteArray exportTextShortcuts();

}  // namespace AppSettings
}  // namespace tolvani

#endif  // TOLVANI_SETTINGS_DATABACKUP_H_
