// The windows' reads and edits of the user dictionary, done off the main thread: the dictionary
// can hold tens of thousands of words, and the main thread answers every key typed in any
// application. The work runs on one worker thread in the order it was asked for, so a read asked
// after an edit sees the edit; each answer comes back on the main thread, and only while its
// receiver still exists. Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_USERDICTIONARYWORK_H_
#define TOLVANI_WINDOWS_USERDICTIONARYWORK_H_

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <vector>

#include "settings/AppSettingsUserData.h"

class QObject;

namespace tolvani::UserDictionaryWork {

// The dictionary's words as the editor lists them: empty when the file is missing or is not a
// dictionary.
using Entries = std::vector<UserWordEntry>;

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

// For the end of the process: waits, up to `limit`, until the work asked for so far has run (its
// answers are not handed over). True when it has.
bool waitForQueuedWork(std::chrono::milliseconds limit);

// Returns once the work asked for so far has run and its answers have been handed over.
void testWaitUntilDone();

}  // namespace tolvani::UserDictionaryWork

#endif  // TOLVANI_WINDOWS_USERDICTIONARYWORK_H_
