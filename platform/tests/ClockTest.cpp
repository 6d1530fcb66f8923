#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace tolvani::platform {
namespace {

TEST(ClockTest, ManualTimersRunInDeadlineOrderWithTheClockAtTheirDeadline) {
  ManualClock clock;
  EXPECT_EQ(clock.wallSeconds(), 1'700'000'000.0);
  EXPECT_EQ(clock.uptime(), 1000s);
  EXPECT_EQ(clock.timeZoneId(), QByteArray("UTC"));
  QStringList runs;
  auto record = [&](const char* name) {
    return [&, name] {
      runs << QStringLiteral("%1@%2")
                  .arg(QLatin1String(name))
                  .arg(clock.uptime().count() / 1e9 - 1000);
    };
  };
  clock.schedule(3s, record("c"));
  clock.schedule(1s, record("a"));
  clock.schedule(1s, record("a2"));  // a tie keeps the order scheduled
  const Clock::TimerId cancelled = clock.schedule(2s, record("never"));
  clock.schedule(2s, [&] {
    runs << QStringLiteral("b@2");
    clock.schedule(500ms, record("fromB"));  // falls due inside the same advance
    clock.schedule(10s, record("later"));
  });
  clock.cancel(cancelled);
  clock.cancel(cancelled);
  EXPECT_EQ(clock.pendingTimers(), 4);
  // A user setting the wall clock back moves neither uptime nor timers.
  clock.setWallSeconds(1'000.0);
  clock.setTimeZoneId("Asia/Dhaka");
  EXPECT_EQ(clock.uptime(), 1000s);

  clock.advance(3s);
  EXPECT_EQ(runs.join(' '), QStringLiteral("a@1 a2@1 b@2 fromB@2.5 c@3"));
  EXPECT_EQ(clock.uptime(), 1003s);
  EXPECT_EQ(clock.wallSeconds(), 1'003.0);
  EXPECT_EQ(clock.timeZoneId(), QByteArray("Asia/Dhaka"));
  EXPECT_EQ(clock.pendingTimers(), 1);
}

TEST(ClockTest, SystemTimersFromSeveralThreadsRunOnceAndCancelledOnesNever) {
  std::mutex mu;
  std::condition_variable cv;
  QStringList runs;
  Clock& system = clock();
  EXPECT_GT(system.wallSeconds(), 1.6e9);
  EXPECT_FALSE(system.timeZoneId().isEmpty());
  auto record = [&](const char* name) {
    return [&, name] {
      std::lock_guard lock(mu);
      runs << QLatin1String(name);
      cv.notify_all();
    };
  };
  std::thread([&] {
    system.cancel(system.schedule(1h, record("never")));
    system.schedule(0ns, record("first"));
  }).join();
  system.schedule(1ms, record("second"));
  std::unique_lock lock(mu);
  cv.wait(lock, [&] { return runs.size() == 2; });
  EXPECT_EQ(runs.join(' '), QStringLiteral("first second"));
}

}  // namespace
}  // namespace tolvani::platform
