// Helpers of the setup tests: asynchronous calls awaited on the event loop and told as one
// line, and small shell scripts standing in for programs. Thread-safety: a test's thread.
#ifndef TOLVANI_SETUP_TESTS_SETUPTESTSUPPORT_H_
#define TOLVANI_SETUP_TESTS_SETUPTESTSUPPORT_H_

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <memory>
#include <optional>
#include <ostream>
#include <type_traits>

#include "setup/ChildProcess.h"
#include "setup/InputSourceSnapshot.h"
#include "setup/SetupError.h"

// Lets a failing comparison of texts show them.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace tolvani::testing {

// "domain code message" for an error; otherwise the state line, "output ..." or "done".
template <class T>
QString describe(const SetupResult<T>& result) {
  if (!result.ok())
    return QStringLiteral("%1 %2 %3")
        .arg(result.error().domain)
        .arg(result.error().code)
        .arg(result.error().message);
  if constexpr (std::is_same_v<T, InputSourceSnapshot>) {
    return result.value().line();
  } else if constexpr (std::is_same_v<T, ChildProcess::Output>) {
    return QStringLiteral("status %1 out %2 err %3")
        .arg(result.value().status)
        .arg(result.value().standardOutput.size())
        .arg(result.value().standardError.size());
  } else {
    return QStringLiteral("done");
  }
}

// Turns the event loop until `done` holds or a minute has passed.
template <class F>
void spinUntil(F done) {
  QDeadlineTimer limit(60000);
  while (!done() && !limit.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Starts `call` with a completion and waits for its answer.
template <class T, class F>
QString await(F call) {
  auto result = std::make_shared<std::optional<SetupResult<T>>>();
  call([result](SetupResult<T> r) { *result = std::move(r); });
  spinUntil([&] { return result->has_value(); });
  return result->has_value() ? describe(**result) : QStringLiteral("no answer");
}

// Writes an executable shell script `path` with `body`.
inline QString writeScript(const QString& path, const QString& body) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(("#!/bin/sh\n" + body + "\n").toUtf8());
  file.close();
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

}  // namespace tolvani::testing

#endif  // TOLVANI_SETUP_TESTS_SETUPTESTSUPPORT_H_
