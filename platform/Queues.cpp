#include "platform/Queues.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clock.h"

namespace tolvani::platform {

void Queue::asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work) {
  clock().schedule(delay, [this, work = std::move(work)]() mutable { async(std::move(work)); });
}

namespace {

void nameThisThread(const QString& label) {
  // Thread names hold 15 bytes; the end of a reverse-domain label is the telling part.
  QByteArray name = label.toUtf8();
  if (name.size() > 15) name = name.right(15);
  pthread_setname_np(pthread_self(), name.constData());
}

// Work of background priority must not delay a key. Woken by the key's thread (a statistic, a
// save), a normal thread takes the processor from it at once, before the key is answered; a batch
// thread waits for the scheduler's turn, and nice 10 gives it a smaller share of a busy machine.
void lowerThisThread() {
  sched_param param{};
  (void)pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
  (void)setpriority(PRIO_PROCESS, 0, 10);  // 0: the calling thread, on Linux
}

// Work is handed over under a std::mutex rather than only through Qt's event queue, so that
// ThreadSanitizer sees the hand-over (Qt's own locks are not instrumented).
class MainQueue final : public Queue {
 public:
  void async(std::function<void()> work) override {
    {
      std::lock_guard lock(mu_);
      pending_.push_back(std::move(work));
    }
    wake();
  }

  // Runs the oldest item; called on the main thread once per item posted. One item at a time
  // keeps the order of starts even when an item turns a nested event loop (a modal dialog).
  void runOne() {
    std::function<void()> work;
    {
      std::lock_guard lock(mu_);
      if (pending_.empty()) return;
      work = std::move(pending_.front());
      pending_.pop_front();
    }
    work();
  }

  void postEarly();

 private:
  void wake();

  std::mutex mu_;
  std::deque<std::function<void()>> pending_;  // guarded by mu_
  int early_ = 0;  // guarded by mu_: items posted before the application existed
};

MainQueue& theMainQueue() {
  static MainQueue queue;
  return queue;
}

void postRunOne() {
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(
        app, [] { theMainQueue().runOne(); }, Qt::QueuedConnection);
}

// Called as the application is made: one event for each item posted before it.
void postEarlyWork() { theMainQueue().postEarly(); }

void MainQueue::wake() {
  if (QCoreApplication::instance()) {
    postRunOne();
    return;
  }
  {
    std::lock_guard lock(mu_);
    ++early_;
  }
  static std::once_flag registered;
  std::call_once(registered, [] { qAddPreRoutine(postEarlyWork); });
}

void MainQueue::postEarly() {
  int count;
  {
    std::lock_guard lock(mu_);
    count = std::exchange(early_, 0);
  }
  for (int i = 0; i < count; ++i) postRunOne();
}

// A fixed set of worker threads that take work in the order given.
class ConcurrentQueue final : public Queue {
 public:
  ConcurrentQueue(QString label, int threads, bool background)
      : label_(std::move(label)), threads_(threads), background_(background) {}
  ~ConcurrentQueue() override {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  void async(std::function<void()> work) override {
    {
      std::lock_guard lock(mu_);
      pending_.push_back(std::move(work));
      if (static_cast<int>(workers_.size()) < threads_ && idle_ == 0)
        workers_.emplace_back([this] { run(); });
    }
    wake_.notify_one();
  }

 private:
  void run() {
    nameThisThread(label_);
    if (background_) lowerThisThread();
    std::unique_lock lock(mu_);
    for (;;) {
      if (pending_.empty()) {
        if (stopping_) return;
        ++idle_;
        wake_.wait(lock);
        --idle_;
        continue;
      }
      std::function<void()> work = std::move(pending_.front());
      pending_.pop_front();
      lock.unlock();
      work();
      // The work's captures may end objects that queue more work: release them unlocked.
      work = nullptr;
      lock.lock();
    }
  }

  const QString label_;
  const int threads_;
  const bool background_;
  std::mutex mu_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> pending_;  // guarded by mu_
  std::vector<std::thread> workers_;           // guarded by mu_
  int idle_ = 0;                               // guarded by mu_
  bool stopping_ = false;                      // guarded by mu_
};

int poolSize() { return std::max(2, static_cast<int>(std::thread::hardware_concurrency())); }

}  // namespace

Queue& mainQueue() { return theMainQueue(); }

Queue& utilityQueue() {
  static ConcurrentQueue queue(QStringLiteral("com.tolvani.utility"), poolSize(),
                               /*background=*/true);
  return queue;
}

Queue& userInitiatedQueue() {
  static ConcurrentQueue queue(QStringLiteral("com.tolvani.user-initiated"), poolSize(),
                               /*background=*/false);
  return queue;
}

bool isMainThread() {
  if (QCoreApplication* app = QCoreApplication::instance())
    return QThread::currentThread() == app->thread();
  // The first thread's id is the process id.
  return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}

struct SerialQueue::State {
  QString label;  // fixed at construction
  Priority priority;
  std::mutex mu;
  std::condition_variable wake;
  std::deque<std::function<void()>> pending;  // guarded by mu
  bool stopping = false;                      // guarded by mu
  bool orphaned = false;                      // guarded by mu; the worker then frees the state
  std::thread worker;                         // fixed once started
  std::thread::id workerId;                   // fixed at construction
};

SerialQueue::SerialQueue(QString label, Priority priority) : state_(std::make_unique<State>()) {
  state_->label = std::move(label);
  state_->priority = priority;
  State* s = state_.get();
  // Held until workerId is set, so the worker never runs work before isCurrent() can answer.
  std::unique_lock lock(s->mu);
  s->worker = std::thread([s] {
    nameThisThread(s->label);
    if (s->priority == Priority::utility) lowerThisThread();
    std::unique_lock lock(s->mu);
    for (;;) {
      if (s->pending.empty()) {
        if (!s->stopping) {
          s->wake.wait(lock);
          continue;
        }
        if (s->orphaned) {
          lock.unlock();
          std::unique_ptr<State> owned(s);
        }
        return;
      }
      std::function<void()> work = std::move(s->pending.front());
      s->pending.pop_front();
      lock.unlock();
      work();
      lock.lock();
    }
  });
  s->workerId = s->worker.get_id();
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(state_->mu);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  // A queue destroyed by its own work cannot wait for itself: its worker finishes and frees it.
  if (isCurrent()) {
    state_->worker.detach();
    std::lock_guard lock(state_->mu);
    state_->orphaned = true;
    state_.release();
  } else {
    state_->worker.join();
  }
}

const QString& SerialQueue::label() const { return state_->label; }

void SerialQueue::async(std::function<void()> work) {
  {
    std::lock_guard lock(state_->mu);
    state_->pending.push_back(std::move(work));
  }
  state_->wake.notify_one();
}

void SerialQueue::sync(std::function<void()> work) {
  if (isCurrent()) {
    work();  // waiting on itself would never end
    return;
  }
  std::mutex doneMu;
  std::condition_variable doneCv;
  bool done = false;
  async([&] {
    work();
    std::lock_guard lock(doneMu);
    done = true;
    doneCv.notify_one();
  });
  std::unique_lock lock(doneMu);
  doneCv.wait(lock, [&] { return done; });
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == state_->workerId; }

}  // namespace tolvani::platform
