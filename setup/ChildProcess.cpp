#include "setup/ChildProcess.h"

#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <cerrno>
#include <memory>

#include "platform/Clock.h"
#include "platform/Queues.h"
#include "setup/SetupMessages.h"

namespace tolvani {

namespace {

// How long a child told to stop may take before it is killed.
constexpr int kKillGraceMs = 2000;

// Lets a child that is still running go: asks it to stop, kills it if it does not, and frees
// the process object (which reaps the child) once it has ended.
void release(std::unique_ptr<QProcess> owned) {
  QProcess* process = owned.release();
  if (process->state() == QProcess::NotRunning) {
    process->deleteLater();
    return;
  }
  QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
  process->terminate();
  QTimer::singleShot(kKillGraceMs, process, [process] { process->kill(); });
}

int launchErrno(const QString& executable) {
  const QFileInfo info(executable);
  if (!info.exists()) return ENOENT;
  if (info.isDir() || !info.isExecutable()) return EACCES;
  return ENOEXEC;
}

struct Run : std::enable_shared_from_this<Run> {
  std::unique_ptr<QProcess> process;
  std::chrono::nanoseconds deadline{};
  CancellationRef cancellation;
  SetupCompletion<ChildProcess::Output> completion;

  void finish(SetupResult<ChildProcess::Output> result) {
    release(std::move(process));
    SetupCompletion<ChildProcess::Output> done = std::move(completion);
    done(std::move(result));
  }

  void schedulePoll() {
    platform::mainQueue().asyncAfter(ChildProcess::kPollInterval,
                                     [self = shared_from_this()] { self->poll(); });
  }

  void poll() {
    if (isCancelled(cancellation)) return finish(SetupError::cancelled());
    if (process->state() != QProcess::NotRunning) {
      if (platform::clock().uptime() >= deadline)
        return finish(SetupError::setup(1, setupmessages::childTimedOut()));
      return schedulePoll();
    }
    if (process->exitStatus() == QProcess::CrashExit)
      return finish(SetupError::setup(process->exitCode(), setupmessages::couldNotRefresh()));
    ChildProcess::Output output;
    output.status = process->exitCode();
    output.standardOutput = QString::fromUtf8(process->readAllStandardOutput());
    output.standardError = QString::fromUtf8(process->readAllStandardError());
    finish(std::move(output));
  }
};

}  // namespace

void ChildProcess::run(const QString& executable, const QStringList& arguments,
                       CancellationRef cancellation, SetupCompletion<Output> completion) {
  auto run = std::make_shared<Run>();
  run->cancellation = std::move(cancellation);
  run->completion = std::move(completion);
  run->process = std::make_unique<QProcess>();
  run->process->setProgram(executable);
  run->process->setArguments(arguments);
  run->process->setInputChannelMode(QProcess::ForwardedInputChannel);
  run->deadline = platform::clock().uptime() + kDeadline;
  run->process->start();
  if (!run->process->waitForStarted(-1)) {
    const SetupError error{QString::fromUtf16(kPosixDomain), launchErrno(executable),
                           run->process->errorString()};
    run->process.reset();
    platform::mainQueue().async([run, error] {
      SetupCompletion<Output> done = std::move(run->completion);
      done(error);
    });
    return;
  }
  // The pipes are read by the process object on the main thread as data arrives.
  run->schedulePoll();
}

}  // namespace tolvani
