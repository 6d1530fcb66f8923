// The user-data folder with the learned-store files, the locks that every read-modify-write of a
// store takes, and the settings side's edits of the learned data (dictionary words, remembered
// corrections, resets), which the engine of this and of other processes sees through the same
// files and lock files. Thread-safety: every function may be called on any thread; each reads the
// disk afresh and blocks while another holder (thread, engine worker or process) has a store's
// lock. A thread must not take a lock it already holds.
#ifndef TOLVANI_SETTINGS_APPSETTINGSUSERDATA_H_
#define TOLVANI_SETTINGS_APPSETTINGSUSERDATA_H_

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QDBusConnection;

namespace tolvani {

namespace store_io {
class StoreFileSystem;
}

// One learned correction, identified by the raw input it was learned for.
struct CorrectionPreference {
  QString raw;
  std::optional<QString> selected;  // the form picked for it, from selection memory
  QStringList rejected;             // the candidates passed over for it, ascending

  bool operator==(const CorrectionPreference&) const = default;
};

// One word of the user dictionary as the dictionary editor lists it.
struct UserWordEntry {
  QString word;
  std::int64_t frequency = 0;

  bool operator==(const UserWordEntry&) const = default;
};

// Success, or why a user-data operation failed: a POSIX error, or a store file whose content is
// not a document the operation can change.
class [[nodiscard]] UserDataStatus {
 public:
  UserDataStatus() = default;  // success
  static UserDataStatus posixError(int error);
  static UserDataStatus corruptFile(const QString& path);

  bool ok() const { return kind_ == Kind::kOk; }
  bool isCorruptFile() const { return kind_ == Kind::kCorruptFile; }
  // The errno value of a POSIX failure; 0 otherwise.
  int posixCode() const { return kind_ == Kind::kPosix ? code_ : 0; }
  // A sentence for the log.
  QString description() const;

 private:
  enum class Kind { kOk, kPosix, kCorruptFile };
  Kind kind_ = Kind::kOk;
  int code_ = 0;
  QString path_;
};

// A value on success; otherwise no value and the failure.
template <typename T>
struct [[nodiscard]] UserDataResult {
  std::optional<T> value;
  UserDataStatus status;
};

namespace AppSettings {

// The user-data folder: TOLVANI_DATA_DIR when set and not empty (as the engine takes it), else
// the desktop's data folder + "/tolvani". Never creates it.
QString supportDirectoryURL();
QString userDictionaryURL();   // "user-dictionary.json"
QString userBigramsURL();      // "user-bigrams.json"
QString userTrigramsURL();     // "user-trigrams.json"
QString userRejectionsURL();   // "rejections.json"
QString selectionMemoryURL();  // "selection-memory.json"
QString englishPairsURL();     // "english-pairs.json"
// The six store files, in the order above.
QStringList learnedDataURLs();

// Creates the user-data folder (a failure is ignored) and shows it, selected, in the desktop's
// file viewer.
void revealLocalData();
// Asks the file manager on `bus` (the freedesktop FileManager1 service) to show `folder` selected
// in its parent; a desktop without one, or one that refuses, opens the folder itself instead.
void revealInFileViewer(const QString& folder, const QDBusConnection& bus);

// Runs `body` while holding the exclusive flock of the sibling lock file of `store` (its path
// with the extension replaced by "lock", created 0600 on first use). Returns what `body` returns,
// or, without running it, the failure to create the store's folder, open the lock file or lock it.
UserDataStatus withStoreLock(const QString& store, const std::function<UserDataStatus()>& body);
// As withStoreLock over all `stores`, locked one inside the other in list order (a store listed
// twice is locked once) and released in reverse order; an empty list runs `body` unlocked.
UserDataStatus withStoreLocks(const QStringList& stores,
                              const std::function<UserDataStatus()>& body);

// Learns one more use of `word` (its NFC form, untrimmed); false without touching the file when
// that form is only white space, and false (after a log line) when the dictionary cannot be read
// or written. Posts the settings-change notification with a user-data reload when it wrote.
bool addUserWord(const QString& word);
// Removes `word` (its NFC form) and leaves a tombstone no older than now, so that no engine's
// older copy brings it back; a word never stored still gets one. Result as addUserWord's.
bool removeUserWord(const QString& word);

// The dictionary's words and frequencies, in no particular order. Fails when the file is missing
// or is not a dictionary. Takes no lock.
UserDataResult<std::vector<UserWordEntry>> loadUserDictionaryEntries();
// The number of words in the dictionary; 0 when it cannot be read. Takes no lock.
int learnedWordCount();

// Every raw input that has a remembered selection or rejections, ascending; unreadable files
// count as empty. Takes no lock.
std::vector<CorrectionPreference> correctionPreferences();
// Removes `raw` from the rejections and the selection memory, giving both documents new reset ids
// so that running engines reload them before they write again. Writes nothing unless both files
// could be read; when the second write fails, the first document is put back. Always posts the
// notification with a user-data reload; false (after a log line) on failure.
bool forgetCorrection(const QString& raw);

// Replaces all six stores with the empty reset document under one new reset id, each under its
// own lock, stopping at the first failure (the stores already reset stay reset). Always posts the
// notification with a user-data reload; true when all six were written.
bool resetLearnedWords();

// Replaces the file layer of the store operations and of the backup's export and import (null
// restores the real one). Requires: `fs` outlives its use, and no store operation runs during the
// swap.
void testSetStoreFileSystem(store_io::StoreFileSystem* fs);

}  // namespace AppSettings
}  // namespace tolvani

#endif  // TOLVANI_SETTINGS_APPSETTINGSUSERDATA_H_
