#include "platform/Clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <QStringList>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include "platform/testing/ChildProcess.h"

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

std::chrono::nanoseconds now(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// Run in a time namespace whose boot clock is a day ahead of its monotonic one, as after a day
// of suspend: what uptime reads, and whether a 20 ms timer runs within a few seconds.
TOLVANI_CHILD_ROLE(clockAfterADayAsleep) {
  const std::chrono::nanoseconds before = now(CLOCK_BOOTTIME);
  const std::chrono::nanoseconds uptime = clock().uptime();
  const std::chrono::nanoseconds after = now(CLOCK_BOOTTIME);
  const bool slept = before - now(CLOCK_MONOTONIC) > 23h;
  auto fired = std::make_shared<std::promise<void>>();
  clock().schedule(20ms, [fired] { fired->set_value(); });
  const bool ran = fired->get_future().wait_for(5s) == std::future_status::ready;
  std::printf("%s uptime=%s timer=%s\n", slept ? "asleep" : "awake",
              before <= uptime && uptime <= after ? "boot" : "other", ran ? "ran" : "waits");
  std::fflush(stdout);
  std::_Exit(0);  // a clock blind to the namespace's day would keep its timer thread waiting
}

// Time limits (a child's 8 s, the guide's 10 s) must be over when the machine wakes after them,
// so the system clock counts suspended time.
TEST(ClockTest, SystemClockCountsTimeTheSystemSpentSuspended) {
  const testing::ChildResult child =
      testing::runChild("clockAfterADayAsleep", {}, {},
                        {"unshare", "--time", "--boottime", "86400", "--monotonic", "0"});
  if (child.exitCode != 0 && child.standardOutput.isEmpty())
    GTEST_SKIP() << "no time namespace here: " << child.standardError.toStdString();
  EXPECT_EQ(child.standardOutput.trimmed().toStdString(), "asleep uptime=boot timer=ran");
}

}  // namespace
}  // namespace tolvani::platform
