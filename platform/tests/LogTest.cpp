#include "platform/Log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tolvani::platform {
namespace {

TEST(LogTest, OneLinePerEventWithThePrefixFromSeveralThreads) {
  log::Capture capture;
  log::line(QStringLiteral("one\ntwo\r\nthree"));
  {
    log::Capture inner;
    log::line(QStringLiteral("ক"));
    EXPECT_EQ(inner.lines(), QStringList{QStringLiteral("[Tolvani] ক")});
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) log::line(QStringLiteral("thread %1 line %2").arg(t).arg(i));
    });
  for (std::thread& thread : threads) thread.join();
  const QStringList lines = capture.lines();
  ASSERT_EQ(lines.size(), 2 + 200);
  EXPECT_EQ(lines[0], QStringLiteral("[Tolvani] one two three"));
  EXPECT_EQ(lines[1], QStringLiteral("[Tolvani] ক"));
  for (const QString& line : lines.mid(2))
    EXPECT_TRUE(line.startsWith(QStringLiteral("[Tolvani] thread "))) << line.toStdString();
}

}  // namespace
}  // namespace tolvani::platform
