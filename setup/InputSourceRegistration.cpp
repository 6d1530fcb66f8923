#include "setup/InputSourceRegistration.h"

#include <QSet>
#include <vector>

#include "setup/InputSourceSystem.h"
#include "setup/SetupError.h"
#include "setup/SetupMessages.h"
#include "setup/SystemUser.h"

namespace tolvani {

namespace {

namespace msg = setupmessages;

std::vector<InputSource> sources(const QString& bundleID, bool includeDisabled) {
  if (bundleID.isEmpty()) throw SetupError::inputSource(1, msg::bundleIdentifierMissing());
  return inputSourceSystem().sources(bundleID, includeDisabled);
}

QSet<QString> identifiers(const std::vector<InputSource>& list) {
  QSet<QString> result;
  for (const InputSource& source : list) {
    if (source.identifier.isEmpty())
      throw SetupError::inputSource(2, msg::sourceWithoutIdentifier());
    result.insert(source.identifier);
  }
  return result;
}

}  // namespace

InputSourceRegistration::State InputSourceRegistration::state(const QString& bundleID) {
  const std::vector<InputSource> installed = sources(bundleID, true);
  if (installed.empty()) return State::notRegistered;
  const std::vector<InputSource> enabled = sources(bundleID, false);
  if (enabled.size() != installed.size()) return State::notEnabled;
  const QSet<QString> enabledIds = identifiers(enabled);
  return enabledIds == identifiers(installed) ? State::enabled : State::notEnabled;
}

int InputSourceRegistration::enable(const QUrl& bundleURL, const QString& bundleID) {
  if (bundleID.isEmpty()) throw SetupError::inputSource(1, msg::bundleIdentifierMissing());
  if (systemuser::isSuperuser()) throw SetupError::inputSource(5, msg::enableAsSuperuser());
  InputSourceSystem& system = inputSourceSystem();
  if (const int status = system.registerBundle(bundleURL); status != 0)
    throw SetupError::inputSource(status, msg::couldNotRegister(status));
  const std::vector<InputSource> installed = sources(bundleID, true);
  if (installed.empty()) throw SetupError::inputSource(1, msg::notDiscovered());
  for (const InputSource& source : installed) {
    if (const int status = system.enable(source); status != 0)
      throw SetupError::inputSource(status, msg::couldNotAdd(status));
  }
  const std::vector<InputSource> enabled = sources(bundleID, false);
  if (enabled.size() != installed.size()) throw SetupError::inputSource(2, msg::addNotConfirmed());
  const QSet<QString> enabledIds = identifiers(enabled);
  if (enabledIds != identifiers(installed))
    throw SetupError::inputSource(2, msg::addNotConfirmed());
  return static_cast<int>(enabled.size());
}

bool InputSourceRegistration::isSelected(const QString& bundleID) {
  const std::vector<InputSource> enabled = sources(bundleID, false);
  const std::optional<InputSource> current = inputSourceSystem().current();
  if (!current) return false;
  const QSet<QString> enabledIds = identifiers(enabled);
  return enabledIds.intersects(identifiers({*current}));
}

void InputSourceRegistration::select(const QString& bundleID) {
  if (systemuser::isSuperuser()) throw SetupError::inputSource(5, msg::selectAsSuperuser());
  if (state(bundleID) != State::enabled) throw SetupError::inputSource(3, msg::selectNotEnabled());
  const std::vector<InputSource> enabled = sources(bundleID, false);
  if (enabled.empty()) throw SetupError::inputSource(6, msg::noSelectableSource());
  const InputSource* target = nullptr;
  for (const InputSource& source : enabled) {
    if (source.selectCapable) {
      target = &source;
      break;
    }
  }
  if (target == nullptr) throw SetupError::inputSource(6, msg::noSelectableSource());
  InputSourceSystem& system = inputSourceSystem();
  // Where the person chooses in the desktop's shell, nothing was switched to confirm.
  if (system.selectedByPerson()) return;
  if (const int status = system.select(*target); status != 0)
    throw SetupError::inputSource(status, msg::couldNotSwitch(status));
  if (!isSelected(bundleID)) throw SetupError::inputSource(6, msg::switchNotConfirmed());
}

void InputSourceRegistration::selectForStart(const QString& bundleID) {
  for (const InputSource& source : sources(bundleID, false)) {
    if (!source.selectCapable) continue;
    if (const int status = inputSourceSystem().selectForStart(source); status != 0)
      throw SetupError::inputSource(status, msg::couldNotSwitch(status));
    return;
  }
  throw SetupError::inputSource(6, msg::noSelectableSource());
}

bool InputSourceRegistration::tapReaches(const QString& bundleID) {
  const std::vector<InputSource> enabled = sources(bundleID, false);
  return !enabled.empty() && inputSourceSystem().tapReaches(enabled.front());
}

bool InputMenuPreference::isVisible() {
  return inputSourceSystem().inputMenuVisible().value_or(false);
}

void InputMenuPreference::show() {
  if (systemuser::isSuperuser()) throw SetupError::inputMenu(5, msg::showMenuAsSuperuser());
  const bool saved = inputSourceSystem().setInputMenuVisible();
  if (saved && isVisible()) return;
  throw SetupError::inputMenu(1, msg::menuNotSaved());
}

}  // namespace tolvani
