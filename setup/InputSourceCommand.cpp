#include "setup/InputSourceCommand.h"

#include <QFile>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "platform/Clock.h"
#include "settings/UIStrings.h"
#include "setup/IBusInputSources.h"
#include "setup/InputSourceRegistration.h"
#include "setup/InputSourceSnapshot.h"
#include "setup/InputSourceSystem.h"
#include "setup/SetupError.h"
#include "setup/SetupMessages.h"
#include "setup/SystemUser.h"

namespace tolvani {

namespace {

const QString kEnableFlag = QStringLiteral("--enable-input-source");
const QString kSelectFlag = QStringLiteral("--select-input-source");
const QString kStateFlag = QStringLiteral("--input-source-state");
const QString kRefreshFlag = QStringLiteral("--refresh-input-menu");

const QString kRestartedLine = QStringLiteral("tolvani-restarted ibus");

constexpr int kMaxAttempts = 10;
constexpr std::chrono::milliseconds kRetryPause(500);

struct RetryRule {
  QString domain;
  std::set<int> codes;
};

// Blocks this thread for `delay` on the process clock, so that a test clock moves it on.
void pause(std::chrono::nanoseconds delay) {
  struct Wake {
    std::mutex mu;
    std::condition_variable cv;
    bool fired = false;  // guarded by mu
  };
  auto wake = std::make_shared<Wake>();
  platform::clock().schedule(delay, [wake] {
    {
      std::lock_guard lock(wake->mu);
      wake->fired = true;
    }
    wake->cv.notify_all();
  });
  std::unique_lock lock(wake->mu);
  wake->cv.wait(lock, [&] { return wake->fired; });
}

template <class T>
T withRetries(const RetryRule& rule, const std::function<T()>& operation) {
  for (int attempt = 1;; ++attempt) {
    try {
      return operation();
    } catch (const SetupError& error) {
      const bool retryable = error.domain == rule.domain && rule.codes.count(error.code) > 0;
      if (!retryable || attempt >= kMaxAttempts) throw;
    }
    pause(kRetryPause);
  }
}

void writeLine(std::FILE* stream, const QString& text) {
  const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
  std::fflush(stream);
}

}  // namespace

std::optional<int> InputSourceCommand::run(const QStringList& arguments, const QUrl& bundleURL,
                                           const std::optional<QString>& bundleID, std::FILE* out,
                                           std::FILE* err) {
  const bool enable = arguments.contains(kEnableFlag);
  const bool select = arguments.contains(kSelectFlag);
  const bool state = arguments.contains(kStateFlag);
  const bool refresh = arguments.contains(kRefreshFlag);
  if (!enable && !select && !state && !refresh) return std::nullopt;

  try {
    if ((enable || select || state) && (!bundleID || bundleID->isEmpty()))
      throw SetupError::setup(1, setupmessages::openInstalledApp());
    const QString id = bundleID.value_or(QString());
    if (enable) {
      const RetryRule rule{QString::fromUtf16(kInputSourceDomain), {1, 2}};
      const int count =
          withRetries<int>(rule, [&] { return InputSourceRegistration::enable(bundleURL, id); });
      // The setup window leaves the daemon and the panel it starts alone after this.
      if (IBusInputSources::daemonRestarted()) writeLine(out, kRestartedLine);
      if (IBusInputSources::daemonStartedAgain())
        writeLine(out, QStringLiteral("tolvani: ") + UIStrings::setupIBusStartedAgain());
      writeLine(out,
                QStringLiteral("tolvani: registered and enabled %1 input source(s)").arg(count));
    }
    // IBus's panel reads its menu's settings when it starts. The daemon restarts and comes back
    // as it was (its panel, the engine the person typed with) even where the restart killed it;
    // none running is nothing to refresh, and one restarted by enabling is new already.
    if (refresh && !(enable && IBusInputSources::daemonRestarted())) {
      const int status = IBusInputSources().restartDaemon(
          id.isEmpty() ? QStringList() : IBusInputSources::engineNames(id));
      if (IBusInputSources::daemonStartedAgain())
        writeLine(out, QStringLiteral("tolvani: ") + UIStrings::setupIBusStartedAgain());
      if (status != 0) throw SetupError::setup(1, setupmessages::couldNotRefresh());
    }
    if (select && !systemuser::isSuperuser() && !inputSourceSystem().running() &&
        InputSourceRegistration::state(id) == InputSourceRegistration::State::enabled) {
      // Nothing switches before the session starts IBus; Tolvani is in its list for then, and
      // what fcitx5 starts on.
      InputSourceRegistration::selectForStart(id);
      writeLine(out, QStringLiteral("tolvani: ") + setupmessages::startIBusToSwitch());
      if (const QString hint = inputSourceSystem().switchHint(); !hint.isEmpty())
        writeLine(out, QStringLiteral("tolvani: ") + hint);
    } else if (select) {
      const RetryRule rule{QString::fromUtf16(kInputSourceDomain), {6}};
      withRetries<Done>(rule, [&] {
        InputSourceRegistration::select(id);
        return Done{};
      });
      if (!inputSourceSystem().selectedByPerson()) {
        writeLine(out, QStringLiteral("tolvani: switched to Tolvani"));
        if (const QString hint = inputSourceSystem().switchHint(); !hint.isEmpty())
          writeLine(out, QStringLiteral("tolvani: ") + hint);
      } else if (InputSourceRegistration::isSelected(id)) {
        writeLine(out, QStringLiteral("tolvani: ") + setupmessages::alreadyChosen());
      } else {
        writeLine(out, QStringLiteral("tolvani: ") + setupmessages::chooseInKeyboardMenu(
                                                         InputSourceRegistration::tapReaches(id)));
      }
    }
    if (state) {
      InputSourceSnapshot snapshot;
      snapshot.status = InputSourceRegistration::state(id);
      snapshot.selected = InputSourceRegistration::isSelected(id);
      snapshot.ibusRunning = inputSourceSystem().running();
      writeLine(out, snapshot.line());
    }
  } catch (const SetupError& error) {
    writeLine(err, QStringLiteral("tolvani: ") + error.message);
    return 1;
  }
  return 0;
}

std::optional<int> InputSourceCommand::runIfRequested(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  if (!arguments.contains(kEnableFlag) && !arguments.contains(kSelectFlag) &&
      !arguments.contains(kStateFlag) && !arguments.contains(kRefreshFlag))
    return std::nullopt;
  // The program belongs to the component that starts it; a copy that no installed component
  // starts has no bundle identifier.
  const std::optional<IBusInputSources::Component> component =
      IBusInputSources::componentStarting(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
  if (!component) return run(arguments, QUrl(), std::nullopt);
  return run(arguments, component->file, component->name);
}

}  // namespace tolvani
