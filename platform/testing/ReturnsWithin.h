// Tests of code that must never wait on a FIFO: the call runs on a thread of its own and the test
// learns whether it returned in time. A call that hangs in opening or reading a FIFO of the test
// is then let go, so that the test fails instead of hanging. Thread-safety: a test's thread.
#ifndef TOLVANI_PLATFORM_TESTING_RETURNSWITHIN_H_
#define TOLVANI_PLATFORM_TESTING_RETURNSWITHIN_H_

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <chrono>
#include <future>
#include <utility>

namespace tolvani::testing {

// Runs `call` and answers whether it returned within `limit`. When it did not, each of `fifos` is
// opened for writing and closed again, which ends a reader's wait (it reads the end of the file),
// until the call returns.
template <typename Call>
bool returnsWithin(std::chrono::milliseconds limit, const QStringList& fifos, Call&& call) {
  std::future<void> done = std::async(std::launch::async, std::forward<Call>(call));
  if (done.wait_for(limit) == std::future_status::ready) {
    done.get();
    return true;
  }
  while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    for (const QString& fifo : fifos) {
      const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
    }
  }
  done.get();
  return false;
}

}  // namespace tolvani::testing

#endif  // TOLVANI_PLATFORM_TESTING_RETURNSWITHIN_H_
