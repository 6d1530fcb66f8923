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

struct Queue::Delayed {
  std::mutex mu;
  Queue* queue = nullptr;  // guarded by mu: none once the queue ends
};

Queue::Queue() : delayed_(std::make_shared<Delayed>()) { delayed_->queue = this; }

Queue::~Queue() { endDelayedWork(); }

void Queue::endDelayedWork() {
  std::lock_guard lock(delayed_->mu);
  delayed_->queue = nullptr;
}

void Queue::asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work) {
  clock().schedule(delay, [delayed = delayed_, work = std::move(work)]() mutable {
    std::lock_guard lock(delayed->mu);
    if (delayed->queue) delayed->queue->async(std::move(work));
  });
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
  ~MainQueue() override { endDelayedWork(); }
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

int poolSize() { return std::max(2, static_cast<int>(std::thread::hardware_concurrency())); }

}  // namespace

Queue& mainQueue() { return theMainQueue(); }

struct ConcurrentQueue::State {
  QString label;    // fixed at construction
  int threads;      // fixed at construction
  bool background;  // fixed at construction
  std::mutex mu;
  std::condition_variable wake;
  std::deque<std::function<void()>> pending;  // guarded by mu
  // Started and not yet joined; a worker that has returned stays here until the destructor
  // joins it.
  std::vector<std::thread> workers;  // guarded by mu
  int running = 0;                   // guarded by mu; workers that have not returned
  int idle = 0;                      // guarded by mu
  bool stopping = false;             // guarded by mu

  void run();
};

void ConcurrentQueue::State::run() {
  nameThisThread(label);
  if (background) lowerThisThread();
  std::unique_lock lock(mu);
  for (;;) {
    if (pending.empty()) {
      if (stopping) {
        --running;
        return;
      }
      ++idle;
      wake.wait(lock);
      --idle;
      continue;
    }
    std::function<void()> work = std::move(pending.front());
    pending.pop_front();
    lock.unlock();
    work();
    // The work's captures may end objects that queue more work: release them unlocked.
    work = nullptr;
    lock.lock();
  }
}

ConcurrentQueue::ConcurrentQueue(QString label, int threads, bool background)
    : state_(std::make_unique<State>()) {
  state_->label = std::move(label);
  state_->threads = threads;
  state_->background = background;
}

ConcurrentQueue::~ConcurrentQueue() {
  endDelayedWork();
  State& s = *state_;
  std::unique_lock lock(s.mu);
  s.stopping = true;
  s.wake.notify_all();
  // Work still running may queue more and start workers meanwhile (at exit too, when this is a
  // process-wide queue): join until none is left. A worker returns only once nothing is pending
  // and, under the same lock, async starts one for anything queued after that.
  while (!s.workers.empty()) {
    std::vector<std::thread> ending = std::move(s.workers);
    s.workers.clear();
    lock.unlock();
    for (std::thread& worker : ending) worker.join();
    lock.lock();
  }
}

void ConcurrentQueue::async(std::function<void()> work) {
  State& s = *state_;
  {
    std::lock_guard lock(s.mu);
    s.pending.push_back(std::move(work));
    // While stopping too: the destructor joins every worker started before it returns.
    if (s.running < s.threads && s.idle == 0) {
      s.workers.emplace_back([&s] { s.run(); });
      ++s.running;
    }
  }
  s.wake.notify_one();
}

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
  endDelayedWork();
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
