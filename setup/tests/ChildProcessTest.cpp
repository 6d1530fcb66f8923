#include "setup/ChildProcess.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>

#include "platform/Clock.h"
#include "setup/SetupError.h"
#include "setup/tests/SetupTestSupport.h"

namespace tolvani {
namespace {

using namespace std::chrono_literals;
using Result = std::optional<SetupResult<ChildProcess::Output>>;
using testing::spinUntil;

QString describe(const Result& result) {
  return result ? testing::describe(*result) : QStringLiteral("pending");
}

class ChildProcessTest : public ::testing::Test {
 protected:
  // The messages name GNOME's settings window.
  ChildProcessTest() { qputenv("XDG_CURRENT_DESKTOP", "GNOME"); }
  ~ChildProcessTest() override {
    platform::testSetClock(nullptr);
    qunsetenv("XDG_CURRENT_DESKTOP");
  }

  QString script(const QString& name, const QString& body) {
    return testing::writeScript(dir_.filePath(name), body);
  }

  Result start(const QString& executable, const QStringList& arguments = {},
               CancellationRef cancellation = nullptr) {
    auto result = std::make_shared<Result>();
    ChildProcess::run(executable, arguments, std::move(cancellation),
                      [result](SetupResult<ChildProcess::Output> r) { *result = std::move(r); });
    pending_ = result;
    return *result;
  }
  Result finish() {
    spinUntil([&] { return pending_->has_value(); });
    return *pending_;
  }
  Result run(const QString& executable, const QStringList& arguments = {}) {
    start(executable, arguments);
    return finish();
  }

  // The pid the script wrote to `name`, once it is there.
  qint64 pidIn(const QString& name) {
    QFile file(dir_.filePath(name));
    spinUntil([&] { return QFileInfo(file).size() > 0; });
    file.open(QIODevice::ReadOnly);
    return file.readAll().trimmed().toLongLong();
  }

  QTemporaryDir dir_;
  std::shared_ptr<Result> pending_;
};

bool processGone(qint64 pid) { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }

TEST_F(ChildProcessTest, OutputsStatusesAndSignals) {
  EXPECT_EQ(run(script("quiet", "exit 0")).value().value(), ChildProcess::Output{});

  const Result echoed = run(
      script("echo", "printf '%s|' \"$@\"; printf 'bad \\377 byte' >&2; exit 4"), {"a b", "", "ক"});
  ASSERT_TRUE(echoed && echoed->ok());
  EXPECT_EQ(echoed->value(), (ChildProcess::Output{4, QString::fromUtf8("a b||ক|"),
                                                   QString::fromUtf8("bad \uFFFD byte")}));

  EXPECT_EQ(describe(run(script("killed", "kill -9 $$"))),
            "Tolvani.Setup 9 IBus could not refresh keyboard setup. Open Keyboard Settings to "
            "check Tolvani.");
  EXPECT_EQ(describe(run(script("terminated", "kill -TERM $$; sleep 5"))),
            "Tolvani.Setup 15 IBus could not refresh keyboard setup. Open Keyboard Settings to "
            "check Tolvani.");

  const Result missing = run(dir_.filePath("absent"));
  ASSERT_TRUE(missing && !missing->ok());
  EXPECT_EQ(missing->error().domain, QString::fromUtf16(kPosixDomain));
  EXPECT_EQ(missing->error().code, ENOENT);
}

TEST_F(ChildProcessTest, BothPipesAreReadWhileTheChildRuns) {
  // More than a pipe holds, on each stream: a parent that read only after the exit would wait
  // for a child that waits for it.
  const Result big =
      run(script("big",
                 "head -c 1048576 /dev/zero | tr '\\000' e >&2; head -c 1048576 /dev/zero | tr "
                 "'\\000' o; exit 0"));
  ASSERT_TRUE(big && big->ok()) << describe(big).toStdString();
  EXPECT_EQ(big->value().standardOutput, QString(1 << 20, QLatin1Char('o')));
  EXPECT_EQ(big->value().standardError, QString(1 << 20, QLatin1Char('e')));
}

TEST_F(ChildProcessTest, NeverEndingChildIsStoppedAtTheDeadlineAndReaped) {
  platform::ManualClock clock;
  platform::testSetClock(&clock);
  start(script("forever", "echo $$ > \"$0.pid\"; exec sleep 600"));
  const qint64 pid = pidIn("forever.pid");
  for (auto elapsed = 0ms; elapsed < 7950ms; elapsed += 50ms) {
    clock.advance(50ms);
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(describe(*pending_), "pending") << "still within its 8 s";
  clock.advance(50ms);
  EXPECT_EQ(describe(finish()),
            "Tolvani.Setup 1 IBus took too long to refresh keyboard setup. Retry or open Keyboard "
            "Settings.");
  spinUntil([&] { return processGone(pid); });
  EXPECT_TRUE(processGone(pid)) << "terminated and reaped, not left a zombie";
}

TEST_F(ChildProcessTest, ChildThatIgnoresTerminationIsKilled) {
  auto cancellation = std::make_shared<Cancellation>();
  start(script("stubborn", "trap '' TERM; echo $$ > \"$0.pid\"; while :; do sleep 1; done"), {},
        cancellation);
  const qint64 pid = pidIn("stubborn.pid");
  cancellation->cancel();
  const Result cancelled = finish();
  ASSERT_TRUE(cancelled && !cancelled->ok());
  EXPECT_TRUE(cancelled->error().isCancellation());
  spinUntil([&] { return processGone(pid); });
  EXPECT_TRUE(processGone(pid));
}

}  // namespace
}  // namespace tolvani
