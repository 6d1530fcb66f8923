// The windows' reads and edits of the user dictionary, and the backup exports, imports and resets
// of all the learned data, done off the main thread: the dictionary can hold tens of thousands of
// words, a store lock may be held by an engine or another process, and the main thread answers
// every key typed in any application. The work runs on one worker thread in the order it was asked
// for, so a read asked after an edit sees the edit; each answer comes back on the main thread, and
// only while its receiver still exists. Thread-safety: main thread only, but for searchForm (any
// thread).
#ifndef TOLVANI_WINDOWS_USERDICTIONARYWORK_H_
#define TOLVANI_WINDOWS_USERDICTIONARYWORK_H_

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <vector>

#include "settings/AppSettingsUserData.h"
#include "settings/DataBackup.h"

class QObject;

namespace tolvani::UserDictionaryWork {

// A word as the editor lists it, with the forms its search and its sort compare. They are made
// here, off the main thread: for the largest dictionary that takes longer than a key may wait.
struct ListedWord : UserWordEntry {
  QString searchForm;  // searchForm(word)
  QString sortForm;    // composed
};

// The dictionary's words as the editor lists them: empty when the file is missing or is not a
// dictionary.
using Entries = std::vector<ListedWord>;

// The form in which the editor's search compares texts: lower case and decomposed, so that a
// word stored with ড় (U+09DC) is found by ড + nukta and the other way round.
QString searchForm(const QString& text);

// Each call below hands its answer to `done` on the main thread, unless `receiver` has been
// destroyed by then; the work itself is done either way. `done` may use the receiver.

// AppSettings::learnedWordCount().
void countWords(const QObject* receiver, std::function<void(int)> done);
// AppSettings::loadUserDictionaryEntries().
void loadEntries(const QObject* receiver, std::function<void(Entries)> done);
// AppSettings::addUserWord(word), then the entries as loadEntries hands them.
void addWord(const QString& word, const QObject* receiver, std::function<void(Entries)> done);
// AppSettings::removeUserWord for each word in order, then the entries as loadEntries hands
// them.
void removeWords(const QStringList& words, const QObject* receiver,
                 std::function<void(Entries)> done);

// `work` (a step of a backup export), then `done`.
void backupWork(std::function<void()> work, const QObject* receiver, std::function<void()> done);
// AppSettings::importUserData(backup), then the dictionary's word count.
void importBackup(QByteArray backup, const QObject* receiver,
                  std::function<void(LearnedDataImportResult, int words)> done);
// Asks every session to reload its learned data (AppSettings::postDidChange(true), here and
// now), then AppSettings::resetLearnedWords(), then the dictionary's word count.
void resetLearnedData(const QObject* receiver, std::function<void(int words)> done);

// Frees `entries` on the worker: freeing tens of thousands of long words takes the main thread
// longer than a key may wait.
void release(Entries entries);

// For the end of the process: waits, up to `limit`, until the work asked for so far has run (its
// answers are not handed over). True when it has.
bool waitForQueuedWork(std::chrono::milliseconds limit);

// Returns once the work asked for so far has run and its answers have been handed over.
void testWaitUntilDone();

}  // namespace tolvani::UserDictionaryWork

#endif  // TOLVANI_WINDOWS_USERDICTIONARYWORK_H_
