// The front end's log: one line per event, prefixed "[Tolvani] ", on standard error (the journal
// of a session's programs). Tests capture the lines instead. Thread-safety: safe for concurrent
// use; the lines of two threads never interleave.
#ifndef TOLVANI_PLATFORM_LOG_H_
#define TOLVANI_PLATFORM_LOG_H_

#include <QString>
#include <QStringList>
#include <memory>

namespace tolvani::platform::log {

// Writes "[Tolvani] " + message. Line breaks inside `message` become spaces.
void line(const QString& message);

// While one exists, lines go to it (whole, with the prefix) as well as to standard error.
class Capture {
 public:
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  QStringList lines() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tolvani::platform::log

#endif  // TOLVANI_PLATFORM_LOG_H_
