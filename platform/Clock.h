// The one clock of the front end: wall time, uptime, the time zone, and timers that run a
// function after a delay measured on this clock. Uptime and timers go on while the system is
// suspended, so a time limit passed during a suspend is over at the resume. Tests install a
// ManualClock and advance it instead of sleeping. Thread-safety: safe for concurrent use.
#ifndef TOLVANI_PLATFORM_CLOCK_H_
#define TOLVANI_PLATFORM_CLOCK_H_

#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tolvani::platform {

class Clock {
 public:
  using TimerId = std::uint64_t;

  virtual ~Clock() = default;

  // Seconds since the Unix epoch, with fractions.
  virtual double wallSeconds() const = 0;
  // Time since an arbitrary start, counting time spent suspended (the boot clock); never goes
  // back.
  virtual std::chrono::nanoseconds uptime() const = 0;
  // The IANA identifier of the local time zone ("Asia/Dhaka").
  virtual QByteArray timeZoneId() const = 0;

  // Runs `fn` once, `delay` after now on this clock: on a timer thread of the system clock, or
  // inside ManualClock::advance. `fn` should only hand work to a queue. The id is never 0.
  virtual TimerId schedule(std::chrono::nanoseconds delay, std::function<void()> fn) = 0;
  // Cancels a timer that has not run; does nothing otherwise.
  virtual void cancel(TimerId id) = 0;
};

// The process's clock: the system's unless a test installed another.
Clock& clock();
// Installs `clock` (borrowed; it must outlive its use) or, with nullptr, the system's again.
void testSetClock(Clock* clock);

// A clock that moves only when told. Starts at wall time 1,700,000,000 s, uptime 1,000 s and the
// time zone "UTC".
class ManualClock final : public Clock {
 public:
  ManualClock();
  ~ManualClock() override;

  double wallSeconds() const override;
  std::chrono::nanoseconds uptime() const override;
  QByteArray timeZoneId() const override;
  TimerId schedule(std::chrono::nanoseconds delay, std::function<void()> fn) override;
  void cancel(TimerId id) override;

  // Moves the wall clock only (a user or a time server setting the time); timers do not fire.
  void setWallSeconds(double seconds);
  void setTimeZoneId(QByteArray id);
  // Moves wall time and uptime forward together, running every timer that falls due, in the
  // order of their deadlines (ties in the order scheduled), each with the clock at its deadline.
  void advance(std::chrono::nanoseconds by);
  // How many timers wait.
  int pendingTimers() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tolvani::platform

#endif  // TOLVANI_PLATFORM_CLOCK_H_
