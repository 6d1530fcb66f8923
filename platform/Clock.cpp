#include "platform/Clock.h"

#include <pthread.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <QTimeZone>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

namespace tolvani::platform {

namespace {

// Timers ordered by deadline, ties by the order scheduled; `where` finds one by id for cancel.
class TimerTable {
 public:
  using Key = std::pair<std::chrono::nanoseconds, Clock::TimerId>;

  Clock::TimerId add(std::chrono::nanoseconds deadline, std::function<void()> fn) {
    const Clock::TimerId id = nextId_++;
    timers_.emplace(Key{deadline, id}, std::move(fn));
    where_.emplace(id, deadline);
    return id;
  }
  void cancel(Clock::TimerId id) {
    const auto it = where_.find(id);
    if (it == where_.end()) return;
    timers_.erase(Key{it->second, id});
    where_.erase(it);
  }
  bool empty() const { return timers_.empty(); }
  int size() const { return static_cast<int>(timers_.size()); }
  std::chrono::nanoseconds firstDeadline() const { return timers_.begin()->first.first; }
  std::function<void()> takeFirst() {
    auto first = timers_.begin();
    std::function<void()> fn = std::move(first->second);
    where_.erase(first->first.second);
    timers_.erase(first);
    return fn;
  }

 private:
  Clock::TimerId nextId_ = 1;
  std::map<Key, std::function<void()>> timers_;
  std::unordered_map<Clock::TimerId, std::chrono::nanoseconds> where_;
};

// The boot clock, unlike steady_clock (CLOCK_MONOTONIC), goes on while the system is suspended,
// so a deadline passed during a suspend is reached at the resume, not that long after it.
std::chrono::nanoseconds bootNow() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

class SystemClock final : public Clock {
 public:
  SystemClock() : timer_(::timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC)) {}

  ~SystemClock() override {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
      arm(std::chrono::nanoseconds(1));  // long past: wakes the thread at once
    }
    if (thread_.joinable()) thread_.join();
    if (timer_ >= 0) ::close(timer_);
  }

  double wallSeconds() const override {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  std::chrono::nanoseconds uptime() const override { return bootNow(); }
  QByteArray timeZoneId() const override { return QTimeZone::systemTimeZoneId(); }

  TimerId schedule(std::chrono::nanoseconds delay, std::function<void()> fn) override {
    std::lock_guard lock(mu_);
    const std::chrono::nanoseconds deadline =
        bootNow() + std::max(delay, std::chrono::nanoseconds(0));
    const bool first = timers_.empty() || deadline < timers_.firstDeadline();
    const TimerId id = timers_.add(deadline, std::move(fn));
    if (first) arm(deadline);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    return id;
  }

  void cancel(TimerId id) override {
    std::lock_guard lock(mu_);
    timers_.cancel(id);
  }

 private:
  // Sets the timer file to expire at `deadline` on the boot clock (0 disarms it). A read blocked
  // on it returns once the new setting expires. Requires: mu_ held.
  void arm(std::chrono::nanoseconds deadline) {
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(deadline.count() / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(deadline.count() % 1'000'000'000);
    ::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr);
  }

  void run() {
    pthread_setname_np(pthread_self(), "tolvani-timers");
    std::unique_lock lock(mu_);
    while (!stopping_) {
      if (!timers_.empty() && bootNow() >= timers_.firstDeadline()) {
        std::function<void()> fn = timers_.takeFirst();
        lock.unlock();
        fn();
        lock.lock();
        continue;
      }
      arm(timers_.empty() ? std::chrono::nanoseconds(0) : timers_.firstDeadline());
      lock.unlock();
      std::uint64_t expirations = 0;
      // An interrupted or early wake only means looking again; a timer file that could not be
      // made is polled instead.
      if (::read(timer_, &expirations, sizeof expirations) < 0 && errno != EINTR)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      lock.lock();
    }
  }

  const int timer_;  // fixed at construction: a timer file on the boot clock
  std::mutex mu_;
  TimerTable timers_;      // guarded by mu_
  bool stopping_ = false;  // guarded by mu_
  std::thread thread_;     // started under mu_ on the first timer
};

std::atomic<Clock*> installed{nullptr};

}  // namespace

Clock& clock() {
  if (Clock* test = installed.load(std::memory_order_acquire)) return *test;
  static SystemClock system;
  return system;
}

void testSetClock(Clock* clock) { installed.store(clock, std::memory_order_release); }

struct ManualClock::State {
  mutable std::mutex mu;
  double wall = 1'700'000'000.0;                                // guarded by mu
  std::chrono::nanoseconds uptime{std::chrono::seconds(1000)};  // guarded by mu
  QByteArray timeZone = "UTC";                                  // guarded by mu
  TimerTable timers;                                            // guarded by mu
};

ManualClock::ManualClock() : state_(std::make_unique<State>()) {}
ManualClock::~ManualClock() = default;

double ManualClock::wallSeconds() const {
  std::lock_guard lock(state_->mu);
  return state_->wall;
}

std::chrono::nanoseconds ManualClock::uptime() const {
  std::lock_guard lock(state_->mu);
  return state_->uptime;
}

QByteArray ManualClock::timeZoneId() const {
  std::lock_guard lock(state_->mu);
  return state_->timeZone;
}

Clock::TimerId ManualClock::schedule(std::chrono::nanoseconds delay, std::function<void()> fn) {
  std::lock_guard lock(state_->mu);
  return state_->timers.add(state_->uptime + std::max(delay, std::chrono::nanoseconds(0)),
                            std::move(fn));
}

void ManualClock::cancel(TimerId id) {
  std::lock_guard lock(state_->mu);
  state_->timers.cancel(id);
}

void ManualClock::setWallSeconds(double seconds) {
  std::lock_guard lock(state_->mu);
  state_->wall = seconds;
}

void ManualClock::setTimeZoneId(QByteArray id) {
  std::lock_guard lock(state_->mu);
  state_->timeZone = std::move(id);
}

void ManualClock::advance(std::chrono::nanoseconds by) {
  std::unique_lock lock(state_->mu);
  const std::chrono::nanoseconds target =
      state_->uptime + std::max(by, std::chrono::nanoseconds(0));
  auto moveTo = [this](std::chrono::nanoseconds when) {
    state_->wall += std::chrono::duration<double>(when - state_->uptime).count();
    state_->uptime = when;
  };
  // A timer scheduled by a timer that falls due before `target` runs in this advance too.
  while (!state_->timers.empty() && state_->timers.firstDeadline() <= target) {
    moveTo(std::max(state_->timers.firstDeadline(), state_->uptime));
    std::function<void()> fn = state_->timers.takeFirst();
    lock.unlock();
    fn();
    lock.lock();
  }
  if (target > state_->uptime) moveTo(target);
}

int ManualClock::pendingTimers() const {
  std::lock_guard lock(state_->mu);
  return state_->timers.size();
}

}  // namespace tolvani::platform
