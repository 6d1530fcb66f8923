// Where work runs: the main queue (the main thread's Qt event loop, which also serves IBus
// through GLib), named serial queues, and the concurrent utility and user-initiated queues.
// Thread-safety: every queue accepts work from any thread.
#ifndef TOLVANI_PLATFORM_QUEUES_H_
#define TOLVANI_PLATFORM_QUEUES_H_

#include <QString>
#include <chrono>
#include <functional>
#include <memory>

namespace tolvani::platform {

class Queue {
 public:
  Queue();
  virtual ~Queue();
  // Runs `work` later, on this queue.
  virtual void async(std::function<void()> work) = 0;
  // Runs `work` on this queue once `delay` has passed on clock(); dropped if the queue has ended
  // by then.
  void asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work);

 protected:
  // Delayed work that comes due from now on is dropped. Each queue's destructor calls it first,
  // while the queue is whole: a process-wide queue ends at exit while clock()'s thread may still
  // hold a timer for it, which then reached the ended queue and corrupted the heap.
  void endDelayedWork();

 private:
  struct Delayed;
  std::shared_ptr<Delayed> delayed_;
};

// The main thread's event loop. Work posted before a QCoreApplication exists runs once its event
// loop turns.
Queue& mainQueue();
// Concurrent queues. The utility queue's threads run as background work (they never take the
// processor from the thread that woke them); the user-initiated queue's at normal priority.
Queue& utilityQueue();
Queue& userInitiatedQueue();

// True on the thread that runs the main queue (the thread of the QCoreApplication, or the
// process's first thread when there is none yet).
bool isMainThread();

// Up to a fixed number of worker threads, started as work comes, that take work in the order
// given. The process's utility and user-initiated queues are two of these.
class ConcurrentQueue final : public Queue {
 public:
  // `label` names the threads; `background` makes them background work, as the utility queue's.
  ConcurrentQueue(QString label, int threads, bool background);
  // Runs what was already queued and what that work queues meanwhile, then stops. Requires: not
  // called from this queue's own work.
  ~ConcurrentQueue() override;
  ConcurrentQueue(const ConcurrentQueue&) = delete;
  ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

  void async(std::function<void()> work) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// One worker thread that runs its work in the order given.
class SerialQueue final : public Queue {
 public:
  enum class Priority { utility, userInitiated };

  // `label` is reverse-domain ("com.tolvani.stats") and names the thread.
  SerialQueue(QString label, Priority priority);
  // Runs what was already queued, then stops.
  ~SerialQueue() override;
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const QString& label() const;
  void async(std::function<void()> work) override;
  // Runs `work` on the queue and waits for it. Requires: not called from this queue's own work.
  void sync(std::function<void()> work);
  // True inside work this queue runs.
  bool isCurrent() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tolvani::platform

#endif  // TOLVANI_PLATFORM_QUEUES_H_
