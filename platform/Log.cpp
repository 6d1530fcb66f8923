#include "platform/Log.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace tolvani::platform::log {

namespace {

struct CaptureBuffer {
  std::mutex mu;
  QStringList lines;  // guarded by mu
};

struct Sinks {
  std::mutex mu;  // also keeps two threads' lines from interleaving on standard error
  std::vector<std::shared_ptr<CaptureBuffer>> captures;  // guarded by mu
};

Sinks& sinks() {
  static Sinks instance;
  return instance;
}

}  // namespace

struct Capture::State : CaptureBuffer {};

void line(const QString& message) {
  QString text = QStringLiteral("[Tolvani] ") + message;
  text.replace(QLatin1String("\r\n"), QLatin1String(" "));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  const QByteArray bytes = text.toUtf8() + '\n';
  Sinks& s = sinks();
  std::lock_guard lock(s.mu);
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fflush(stderr);
  for (const auto& capture : s.captures) {
    std::lock_guard captureLock(capture->mu);
    capture->lines.append(text);
  }
}

Capture::Capture() : state_(std::make_shared<State>()) {
  Sinks& s = sinks();
  std::lock_guard lock(s.mu);
  s.captures.push_back(state_);
}

Capture::~Capture() {
  Sinks& s = sinks();
  std::lock_guard lock(s.mu);
  std::erase(s.captures, state_);
}

QStringList Capture::lines() const {
  std::lock_guard lock(state_->mu);
  return state_->lines;
}

}  // namespace tolvani::platform::log
