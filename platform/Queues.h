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
  virtual ~Queue() = default;
  // Runs `work` later, on this queue.
  virtual void async(std::function<void()> work) = 0;
  // Runs `work` on this queue once `delay` has passed on clock(). The queue must outlive the
  // delay.
  void asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work);
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
