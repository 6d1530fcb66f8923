#include "windows/UserDictionaryWork.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/NotificationCenter.h"
#include "platform/Queues.h"
#include "settings/AppSettings.h"

namespace tolvani::UserDictionaryWork {
namespace {

struct Worker {
  Worker() {
    // The end of the process stops the worker after the work already asked for, whose answers
    // and notifications go through these: made before the worker, they are destroyed after it.
    (void)platform::mainQueue();
    (void)platform::NotificationCenter::defaultCenter();
  }
  // Background work: a key typed meanwhile keeps the processor.
  platform::SerialQueue queue{QStringLiteral("com.tolvani.user-dictionary"),
                              platform::SerialQueue::Priority::utility};
};

// Main thread only.
bool workerStarted = false;

platform::SerialQueue& worker() {
  static Worker instance;
  workerStarted = true;
  return instance.queue;
}

// Work asked of the worker and not yet done.
std::atomic<int> unfinished{0};

// Runs `work` on the worker; once it leaves the worker idle, hands the allocator's free pages back
// to the system: reading and writing the largest dictionary passes a few hundred megabytes through
// the worker's arena of the allocator, which would keep them, unused, for the rest of the session.
void onWorker(std::function<void()> work) {
  unfinished.fetch_add(1, std::memory_order_relaxed);
  worker().async([work = std::move(work)] {
    work();
    if (unfinished.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
#if defined(__GLIBC__)
    (void)::malloc_trim(0);
#endif
  });
}

// Work asked for whose answer has not been handed over yet. Main thread only.
int unanswered = 0;

template <typename Result>
void run(const QObject* receiver, std::function<Result()> work, std::function<void(Result)> done) {
  // Checked on the main thread only, where the receiver lives and dies.
  QPointer<const QObject> alive(receiver);
  ++unanswered;
  onWorker([alive, work = std::move(work), done = std::move(done)] {
    Result result = work();
    platform::mainQueue().async([alive, done, result = std::move(result)]() mutable {
      --unanswered;
      if (alive) done(std::move(result));
    });
  });
}

Entries entries() {
  UserDataResult<std::vector<UserWordEntry>> loaded = AppSettings::loadUserDictionaryEntries();
  Entries listed;
  if (!loaded.value) return listed;
  listed.reserve(loaded.value->size());
  for (UserWordEntry& entry : *loaded.value) {
    QString search = searchForm(entry.word);
    QString sort = entry.word.normalized(QString::NormalizationForm_C);
    listed.push_back({std::move(entry), std::move(search), std::move(sort)});
  }
  return listed;
}

}  // namespace

QString searchForm(const QString& text) {
  return text.toLower().normalized(QString::NormalizationForm_D);
}

void release(Entries entries) {
  // Shared, so that the work can be copied; freed here, not where the queue destroys the work,
  // which it does holding its lock.
  auto held = std::make_shared<Entries>(std::move(entries));
  onWorker([held] { Entries gone = std::move(*held); });
}

void countWords(const QObject* receiver, std::function<void(int)> done) {
  run<int>(
      receiver, [] { return AppSettings::learnedWordCount(); }, std::move(done));
}

void loadEntries(const QObject* receiver, std::function<void(Entries)> done) {
  run<Entries>(receiver, entries, std::move(done));
}

void addWord(const QString& word, const QObject* receiver, std::function<void(Entries)> done) {
  run<Entries>(
      receiver,
      [word] {
        // A failure is the store's to log; the list shows what the file holds after it.
        (void)AppSettings::addUserWord(word);
        return entries();
      },
      std::move(done));
}

void removeWords(const QStringList& words, const QObject* receiver,
                 std::function<void(Entries)> done) {
  run<Entries>(
      receiver,
      [words] {
        for (const QString& word : words) (void)AppSettings::removeUserWord(word);
        return entries();
      },
      std::move(done));
}

void backupWork(std::function<void()> work, const QObject* receiver, std::function<void()> done) {
  run<bool>(
      receiver,
      [work = std::move(work)] {
        work();
        return true;
      },
      [done = std::move(done)](bool) { done(); });
}

void importBackup(QByteArray backup, const QObject* receiver,
                  std::function<void(LearnedDataImportResult, int)> done) {
  using Outcome = std::pair<LearnedDataImportResult, int>;
  run<Outcome>(
      receiver,
      [backup = std::move(backup)] {
        const LearnedDataImportResult result = AppSettings::importUserData(backup);
        return Outcome{result, AppSettings::learnedWordCount()};
      },
      [done = std::move(done)](Outcome outcome) { done(outcome.first, outcome.second); });
}

void resetLearnedData(const QObject* receiver, std::function<void(int)> done) {
  // The files are reset on the worker, and the reload the reset asks for reaches the keys'
  // thread after them: a session's reload could read the reset files first and take in, as
  // learned after the reset, what its keys had learned before the click. Asked for now too,
  // before any file changes, a reload keeps what was learned until now with the stores it was
  // learned into, which a reset file never takes.
  AppSettings::postDidChange(true);
  run<int>(
      receiver,
      [] {
        // A failure is the store's to log; the count shows what the dictionary still holds.
        (void)AppSettings::resetLearnedWords();
        return AppSettings::learnedWordCount();
      },
      std::move(done));
}

bool waitForQueuedWork(std::chrono::milliseconds limit) {
  if (!workerStarted) return true;
  // Shared with the marker, which may run after a wait that gave up.
  struct Marker {
    std::mutex mu;
    std::condition_variable reached;
    bool done = false;  // guarded by mu
  };
  auto marker = std::make_shared<Marker>();
  worker().async([marker] {
    std::lock_guard lock(marker->mu);
    marker->done = true;
    marker->reached.notify_all();
  });
  std::unique_lock lock(marker->mu);
  return marker->reached.wait_for(lock, limit, [&] { return marker->done; });
}

void testWaitUntilDone() {
  worker().sync([] {});
  // The main queue keeps its order: the answers already posted run before this.
  bool handedOver = false;
  platform::mainQueue().async([&handedOver] { handedOver = true; });
  while (!handedOver) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  // An answer may have asked for more.
  while (unanswered != 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace tolvani::UserDictionaryWork
