#include "platform/Queues.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QStringList>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <future>
#include <latch>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/testing/ChildProcess.h"

using namespace std::chrono_literals;

namespace tolvani::platform {
namespace {

TEST(QueuesTest, MainQueueRunsWorkFromOtherThreadsOnTheMainThreadInOrder) {
  EXPECT_TRUE(isMainThread());
  QStringList order;
  std::thread([&] {
    if (isMainThread()) order << QStringLiteral("main thread seen elsewhere");
    mainQueue().async([&] { order << (isMainThread() ? "1 on main" : "1 elsewhere"); });
    mainQueue().async([&] { order << QStringLiteral("2"); });
  }).join();
  EXPECT_TRUE(order.empty());  // nothing runs before the loop turns
  while (order.size() < 2)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(order.join(' '), QStringLiteral("1 on main 2"));
}

TEST(QueuesTest, SerialQueueRunsInOrderOnOneThreadAndDrainsWhenDestroyed) {
  std::vector<int> order;
  std::set<std::thread::id> threads;
  bool current = false;
  {
    SerialQueue queue(QStringLiteral("com.tolvani.test"), SerialQueue::Priority::utility);
    EXPECT_FALSE(queue.isCurrent());
    for (int i = 0; i < 100; ++i)
      queue.async([&, i] {
        order.push_back(i);
        threads.insert(std::this_thread::get_id());
      });
    queue.sync([&] {
      current = queue.isCurrent();
      queue.sync([&] { order.push_back(100); });  // from its own work: runs in place
    });
    for (int i = 101; i < 200; ++i) queue.async([&, i] { order.push_back(i); });
  }
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(order[i], i);
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_TRUE(current);
}

TEST(QueuesTest, ConcurrentQueuesRunEveryItemFromManyThreads) {
  constexpr int kThreads = 4;
  constexpr int kItems = 200;
  std::latch allRan(kThreads * kItems);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      Queue& queue = t % 2 ? utilityQueue() : userInitiatedQueue();
      for (int i = 0; i < kItems; ++i) queue.async([&] { allRan.count_down(); });
    });
  for (std::thread& poster : posters) poster.join();
  allRan.wait();
}

// The destructor walked its workers unguarded while work it was waiting for started more, and a
// worker started after that walk ended the process (std::terminate): work queued by running work
// is run, on workers the destructor joins.
TEST(QueuesTest, ConcurrentQueueDestroyedWhileItsWorkQueuesMoreRunsAllOfIt) {
  std::atomic<int> ran{0};
  std::atomic<bool> destroying{false};
  auto queue = std::make_unique<ConcurrentQueue>(QStringLiteral("com.tolvani.test.ending"), 8,
                                                 /*background=*/false);
  queue->async([&, q = queue.get()] {
    while (!destroying) std::this_thread::yield();
    // By now the destructor waits for this worker.
    std::this_thread::sleep_for(50ms);
    for (int i = 0; i < 16; ++i)
      q->async([&] {
        std::this_thread::sleep_for(1ms);
        ++ran;
      });
    ++ran;
  });
  destroying = true;
  queue.reset();
  EXPECT_EQ(ran, 17);
}

// The exit handlers end the process-wide queues while their work still queues more, as when a
// toolkit ends the process on a lost display: all of it runs and the process ends normally.
TEST(QueuesTest, ProcessWideQueuesEndedAtExitRunWhatTheirWorkStillQueues) {
  const testing::ChildResult child = testing::runChild(QStringLiteral("exitWhileWorkQueuesMore"));
  EXPECT_EQ(child.exitCode, 0) << child.standardError.toStdString();
  EXPECT_EQ(child.standardOutput, "ran 17\n");
}

TOLVANI_CHILD_ROLE_WITHOUT_APPLICATION(exitWhileWorkQueuesMore) {
  // Made before the queue, so ended after it: says what ran once the queue has stopped.
  static struct Report {
    std::atomic<int> ran{0};
    ~Report() {
      std::printf("ran %d\n", ran.load());
      std::fflush(stdout);
    }
  } report;
  static std::atomic<bool> exiting{false};
  utilityQueue().async([] {
    while (!exiting) std::this_thread::yield();
    std::this_thread::sleep_for(50ms);
    for (int i = 0; i < 16; ++i)
      utilityQueue().async([] {
        std::this_thread::sleep_for(1ms);
        ++report.ran;
      });
    ++report.ran;
  });
  exiting = true;
  std::exit(0);
}

// Background work must never take the processor from the thread that woke it (a key's): utility
// work runs in the batch class at nice 10, user-initiated work as the main thread does.
TEST(QueuesTest, UtilityWorkRunsInTheBackgroundClassAndUserInitiatedWorkDoesNot) {
  using Class = std::pair<int, int>;  // the scheduling policy, the nice value
  auto classOf = [](auto post) {
    // Shared, so that the promise outlives a set_value still returning on the other thread.
    auto seen = std::make_shared<std::promise<Class>>();
    std::future<Class> result = seen->get_future();
    post([seen] {
      errno = 0;
      const int nice = getpriority(PRIO_PROCESS, 0);
      seen->set_value({sched_getscheduler(0), errno == 0 ? nice : -1});
    });
    return result.get();
  };
  int allowed = -1;
  std::thread([&] {
    sched_param param{};
    allowed = pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
  }).join();
  if (allowed != 0) GTEST_SKIP() << "this kernel refuses the batch class";
  // Relative to a plain thread's class, which is the test runner's.
  const Class normal = classOf([](auto work) { std::thread(work).join(); });
  auto expectBackground = [](const Class& seen, const char* queue) {
    EXPECT_EQ(seen.first, SCHED_BATCH) << queue;
    EXPECT_GE(seen.second, 10) << queue;
  };
  expectBackground(classOf([](auto work) { utilityQueue().async(work); }), "utility");
  EXPECT_EQ(classOf([](auto work) { userInitiatedQueue().async(work); }), normal);
  SerialQueue utility(QStringLiteral("com.tolvani.test.utility"), SerialQueue::Priority::utility);
  expectBackground(classOf([&](auto work) { utility.async(work); }), "serial utility");
  SerialQueue initiated(QStringLiteral("com.tolvani.test.initiated"),
                        SerialQueue::Priority::userInitiated);
  EXPECT_EQ(classOf([&](auto work) { initiated.async(work); }), normal);
}

TEST(QueuesTest, AsyncAfterWaitsForTheClock) {
  ManualClock clock;
  testSetClock(&clock);
  QStringList runs;
  {
    SerialQueue queue(QStringLiteral("com.tolvani.after"), SerialQueue::Priority::userInitiated);
    queue.asyncAfter(2s, [&] { runs << QStringLiteral("two"); });
    queue.asyncAfter(1s, [&] { runs << QStringLiteral("one"); });
    clock.advance(1500ms);
    queue.sync([] {});
    EXPECT_EQ(runs.join(' '), QStringLiteral("one"));
    clock.advance(500ms);
  }
  testSetClock(nullptr);
  EXPECT_EQ(runs.join(' '), QStringLiteral("one two"));
}

// Delayed work that comes due after its queue has ended is dropped: a process-wide queue ends at
// exit while the clock's thread may still hold its timer, which reached the ended queue.
TEST(QueuesTest, DelayedWorkOfAnEndedQueueIsDropped) {
  ManualClock clock;
  testSetClock(&clock);
  std::atomic<int> runs{0};
  auto queue = std::make_unique<SerialQueue>(QStringLiteral("com.tolvani.ended"),
                                             SerialQueue::Priority::utility);
  queue->asyncAfter(1s, [&] { ++runs; });
  queue.reset();
  clock.advance(2s);
  testSetClock(nullptr);
  EXPECT_EQ(runs, 0);
}

TEST(QueuesTest, WorkPostedBeforeTheApplicationRunsOnceItsLoopTurns) {
  const testing::ChildResult child = testing::runChild(QStringLiteral("postBeforeApplication"));
  EXPECT_EQ(child.exitCode, 0) << child.standardError.toStdString();
  EXPECT_EQ(child.standardOutput, "main before\nran on main\n");
}

TOLVANI_CHILD_ROLE_WITHOUT_APPLICATION(postBeforeApplication) {
  std::printf("main %s\n", isMainThread() ? "before" : "wrong");
  std::fflush(stdout);
  int argc = 1;
  char name[] = "child";
  char* argv[] = {name, nullptr};
  int ran = 0;
  mainQueue().async([&] {
    std::printf("ran %s\n", isMainThread() ? "on main" : "elsewhere");
    ++ran;
  });
  mainQueue().async([&] { ++ran, QCoreApplication::quit(); });
  QCoreApplication app(argc, argv);
  if (ran) return 1;  // must wait for the loop
  app.exec();
  return ran == 2 ? 0 : 1;
}

}  // namespace
}  // namespace tolvani::platform
