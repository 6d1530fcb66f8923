#include "setup/InputSourceSetup.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/Queues.h"
#include "setup/ChildProcess.h"
#include "setup/InputSourceProbe.h"
#include "setup/InputSourceRegistration.h"
#include "setup/SetupMessages.h"
#include "setup/SystemUser.h"

namespace tolvani {

namespace {

std::mutex toolsMu;
std::optional<InputSourceSetup::SystemTools> testTools;  // guarded by toolsMu
std::atomic<bool> servesIBus{false};
// IBus's daemon can die of its own assertion when told to exit just after it restarted (it sends
// the panel that has just come back messages while it ends the panel's connection): a refresh
// activate leaves to showInputMenu, so that the two steps restart the daemon once; and where the
// enabling child restarted the daemon to register Tolvani, neither step restarts it again: the
// daemon and its panel are new, and the panel follows the settings the steps change.
std::atomic<bool> refreshOwed{false};
std::atomic<bool> daemonFresh{false};

InputSourceSetup::SystemTools tools() {
  std::lock_guard lock(toolsMu);
  return testTools ? *testTools : InputSourceSetup::defaultTools();
}

// Hands `answer` (an error, or the result) to `completion` in a later turn of the main queue, as
// every other answer comes.
template <class T, class Answer>
void answerLater(SetupCompletion<T> completion, Answer answer) {
  platform::mainQueue().async(
      [completion = std::move(completion), answer = std::move(answer)] { completion(answer); });
}

template <class T>
void failLater(SetupCompletion<T> completion, SetupError error) {
  answerLater(std::move(completion), std::move(error));
}

void refreshInputMenu(CancellationRef cancellation, SetupCompletion<Done> completion) {
  if (isCancelled(cancellation)) return failLater(std::move(completion), SetupError::cancelled());
  if (servesIBus) return answerLater(std::move(completion), Done{});
  InputSourceSetup::run(tools().refreshInputMenu, std::move(cancellation), std::move(completion));
}

void checkSelection(int probe, CancellationRef cancellation,
                    SetupCompletion<InputSourceSnapshot> completion) {
  InputSourceProbe::state(
      cancellation, [probe, cancellation, completion](SetupResult<InputSourceSnapshot> result) {
        if (!result.ok()) return completion(result.error());
        if (result.value().selected) return completion(result.value());
        if (probe >= InputSourceSetup::kSelectionChecks)
          return completion(SetupError::inputSource(6, setupmessages::switchNotConfirmed()));
        platform::mainQueue().asyncAfter(InputSourceSetup::kSelectionCheckPause,
                                         [probe, cancellation, completion] {
                                           if (isCancelled(cancellation))
                                             return completion(SetupError::cancelled());
                                           checkSelection(probe + 1, cancellation, completion);
                                         });
      });
}

}  // namespace

InputSourceSetup::SystemTools InputSourceSetup::defaultTools() {
  return {{QStringLiteral("/usr/bin/ibus"), {QStringLiteral("write-cache")}, {0}},
          // No daemon running is nothing to restart, and succeeds.
          {InputSourceProbe::executable(), {QStringLiteral("--refresh-input-menu")}, {0}}};
}

void InputSourceSetup::setServesIBus(bool serves) { servesIBus = serves; }

void InputSourceSetup::testSetTools(std::optional<SystemTools> replacement) {
  std::lock_guard lock(toolsMu);
  testTools = std::move(replacement);
}

void InputSourceSetup::run(const SystemTool& tool, CancellationRef cancellation,
                           SetupCompletion<Done> completion) {
  ChildProcess::run(
      tool.executable, tool.arguments, std::move(cancellation),
      [accepted = tool.acceptedStatuses,
       completion = std::move(completion)](SetupResult<ChildProcess::Output> result) {
        if (!result.ok()) return completion(result.error());
        InputSourceProbe::logMessages(result.value().standardOutput);
        const int status = result.value().status;
        if (!accepted.contains(status))
          return completion(SetupError::setup(status, setupmessages::couldNotRefresh()));
        completion(Done{});
      });
}

void InputSourceSetup::activate(const QUrl& bundleURL, CancellationRef cancellation,
                                SetupCompletion<Done> completion, bool showInputMenuNext) {
  // IBus reads the component files from its own folders, so the registry needs no path.
  Q_UNUSED(bundleURL);
  if (isCancelled(cancellation)) return failLater(std::move(completion), SetupError::cancelled());
  if (systemuser::isSuperuser())
    return failLater(std::move(completion),
                     SetupError::setup(5, setupmessages::activateAsSuperuser()));
  run(tools().rebuildRegistry, cancellation,
      [cancellation, completion, showInputMenuNext](SetupResult<Done> rebuilt) {
        if (!rebuilt.ok()) return completion(rebuilt.error());
        InputSourceProbe::enable(
            cancellation, [cancellation, completion, showInputMenuNext](SetupResult<Done> enabled) {
              if (!enabled.ok()) return completion(enabled.error());
              if (InputSourceProbe::enableRestartedIBus()) {
                daemonFresh = showInputMenuNext;
                return completion(Done{});
              }
              if (showInputMenuNext && !servesIBus) {
                refreshOwed = true;
                return completion(Done{});
              }
              refreshInputMenu(cancellation, completion);
            });
      });
}

void InputSourceSetup::showInputMenu(CancellationRef cancellation,
                                     SetupCompletion<Done> completion) {
  const bool owed = refreshOwed.exchange(false);
  const bool fresh = daemonFresh.exchange(false);
  if (isCancelled(cancellation)) return failLater(std::move(completion), SetupError::cancelled());
  if (InputMenuPreference::isVisible()) {
    if (owed) return refreshInputMenu(std::move(cancellation), std::move(completion));
    return platform::mainQueue().async(
        [completion = std::move(completion)] { completion(Done{}); });
  }
  try {
    InputMenuPreference::show();
  } catch (const SetupError& error) {
    if (!owed) return failLater(std::move(completion), error);
    // The menu that was added to is refreshed all the same.
    return refreshInputMenu(cancellation,
                            [error, completion](SetupResult<Done>) { completion(error); });
  }
  if (fresh) return answerLater(std::move(completion), Done{});
  refreshInputMenu(std::move(cancellation), std::move(completion));
}

void InputSourceSetup::select(CancellationRef cancellation,
                              SetupCompletion<InputSourceSnapshot> completion) {
  if (isCancelled(cancellation)) return failLater(std::move(completion), SetupError::cancelled());
  // The person may have switched to Tolvani before it was added: IBus switching to the engine it
  // already has focuses that engine again, which ends the word being typed.
  InputSourceProbe::state(cancellation, [cancellation,
                                         completion](SetupResult<InputSourceSnapshot> before) {
    if (before.ok() && before.value().selected) return completion(before.value());
    if (isCancelled(cancellation)) return completion(SetupError::cancelled());
    InputSourceProbe::select(cancellation, [cancellation, completion](SetupResult<Done> selected) {
      if (!selected.ok()) return completion(selected.error());
      checkSelection(1, cancellation, completion);
    });
  });
}

}  // namespace tolvani
