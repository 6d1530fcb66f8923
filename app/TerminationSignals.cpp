#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "platform/Log.h"

namespace tolvani::TerminationSignals {
namespace {

int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // Only async-signal-safe calls here; a full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void endEventLoopOnThem(QObject* owner) {
  if (terminationPipe[0] < 0 && ::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    platform::log::line(QStringLiteral("Could not watch for the termination signals: ") +
                        QString::fromLocal8Bit(strerror(errno)));
    return;
  }
  auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
    char bytes[16];
    while (::read(terminationPipe[0], bytes, sizeof bytes) > 0) {
    }
    // What the process does on its way out runs as the loop ends; main then returns 0.
    QCoreApplication::exit(0);
  });
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
}

}  // namespace tolvani::TerminationSignals
