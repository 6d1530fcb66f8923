#include "setup/InputSourceProbe.h"

#include <QCoreApplication>
#include <atomic>
#include <mutex>

#include "platform/Log.h"
#include "platform/Queues.h"
#include "setup/ChildProcess.h"
#include "setup/SetupMessages.h"

namespace tolvani {

namespace {

const QString kMessagePrefix = QStringLiteral("tolvani: ");

std::atomic<bool> enableRestarted{false};

std::mutex executableMu;
std::optional<QString> testExecutable;  // guarded by executableMu

QString ownExecutable() {
  {
    std::lock_guard lock(executableMu);
    if (testExecutable) return *testExecutable;
  }
  return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

SetupError failure(int code, QString message) {
  return SetupError::setup(code, std::move(message));
}

// The text after the prefix of the last line that carries one.
std::optional<QString> relayedMessage(const QString& standardError) {
  const QStringList lines = splitOutputLines(standardError);
  for (auto it = lines.crbegin(); it != lines.crend(); ++it)
    if (it->startsWith(kMessagePrefix)) return it->mid(kMessagePrefix.size());
  return std::nullopt;
}

}  // namespace

bool InputSourceProbe::enableRestartedIBus() { return enableRestarted; }

QString InputSourceProbe::executable() { return ownExecutable(); }

void InputSourceProbe::logMessages(const QString& output) {
  for (const QString& line : splitOutputLines(output))
    if (line.startsWith(kMessagePrefix)) platform::log::line(line.mid(kMessagePrefix.size()));
}

void InputSourceProbe::testSetExecutable(std::optional<QString> path) {
  std::lock_guard lock(executableMu);
  testExecutable = std::move(path);
}

void InputSourceProbe::run(const QString& flag, CancellationRef cancellation,
                           SetupCompletion<QString> completion) {
  const QString executable = ownExecutable();
  if (executable.isEmpty()) {
    platform::mainQueue().async([completion = std::move(completion)] {
      completion(failure(1, setupmessages::openInstalledApp()));
    });
    return;
  }
  ChildProcess::run(
      executable, {flag}, std::move(cancellation),
      [completion = std::move(completion)](SetupResult<ChildProcess::Output> result) {
        if (!result.ok()) return completion(result.error());
        const ChildProcess::Output& output = result.value();
        if (output.status == 0) return completion(output.standardOutput);
        completion(failure(
            output.status,
            relayedMessage(output.standardError).value_or(setupmessages::couldNotUpdate())));
      });
}

void InputSourceProbe::state(CancellationRef cancellation,
                             SetupCompletion<InputSourceSnapshot> completion) {
  run(QStringLiteral("--input-source-state"), std::move(cancellation),
      [completion = std::move(completion)](SetupResult<QString> result) {
        if (!result.ok()) return completion(result.error());
        const std::optional<InputSourceSnapshot> snapshot =
            InputSourceSnapshot::fromOutput(result.value());
        if (!snapshot) return completion(failure(1, setupmessages::stateNotReported()));
        completion(*snapshot);
      });
}

void InputSourceProbe::enable(CancellationRef cancellation, SetupCompletion<Done> completion) {
  run(QStringLiteral("--enable-input-source"), std::move(cancellation),
      [completion = std::move(completion)](SetupResult<QString> result) {
        if (!result.ok()) return completion(result.error());
        // What the child did to the session (such as starting IBus again) goes in this log.
        logMessages(result.value());
        enableRestarted =
            splitOutputLines(result.value()).contains(QStringLiteral("tolvani-restarted ibus"));
        completion(Done{});
      });
}

void InputSourceProbe::select(CancellationRef cancellation, SetupCompletion<Done> completion) {
  run(QStringLiteral("--select-input-source"), std::move(cancellation),
      [completion = std::move(completion)](SetupResult<QString> result) {
        if (!result.ok()) return completion(result.error());
        completion(Done{});
      });
}

}  // namespace tolvani
