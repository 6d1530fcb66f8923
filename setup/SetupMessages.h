// The English sentences of the setup errors, in one place so that every raiser uses the same
// words. Thread-safety: pure functions.
#ifndef TOLVANI_SETUP_SETUPMESSAGES_H_
#define TOLVANI_SETUP_SETUPMESSAGES_H_

#include <QString>

namespace tolvani::setupmessages {

inline QString bundleIdentifierMissing() {
  return QStringLiteral("The keyboard's bundle identifier is missing.");
}
inline QString sourceWithoutIdentifier() {
  return QStringLiteral("IBus returned an input source without an identifier. Retry setup.");
}
inline QString enableAsSuperuser() {
  return QStringLiteral("Run keyboard setup as your desktop user, without sudo.");
}
inline QString couldNotRegister(int status) {
  return QStringLiteral(
             "IBus could not register the keyboard (%1). Open Keyboard Settings to add "
             "Tolvani.")
      .arg(status);
}
inline QString notDiscovered() {
  return QString::fromUtf8(
      "IBus has not discovered Tolvani yet. Retry setup, or open Settings \u2192 Keyboard \u2192 "
      "Input Sources \u2192 + \u2192 Bangla.");
}
inline QString couldNotAdd(int status) {
  return QStringLiteral(
             "IBus could not add the keyboard (%1). Open Keyboard Settings to add "
             "Tolvani.")
      .arg(status);
}
inline QString addNotConfirmed() {
  return QStringLiteral(
      "IBus did not confirm the added keyboard. Retry setup or add Tolvani in Keyboard Settings.");
}
inline QString selectAsSuperuser() {
  return QStringLiteral("Choose the keyboard from your desktop, without sudo.");
}
inline QString selectNotEnabled() {
  return QStringLiteral("Add Tolvani to your input menu before switching to it.");
}
inline QString noSelectableSource() {
  return QStringLiteral("Choose Tolvani from the input menu in the menu bar.");
}
inline QString couldNotSwitch(int status) {
  return QStringLiteral("IBus could not switch keyboards (%1). Choose Tolvani from the input menu.")
      .arg(status);
}
inline QString switchNotConfirmed() {
  return QStringLiteral("IBus did not confirm the switch. Choose Tolvani from the input menu.");
}
inline QString showMenuAsSuperuser() {
  return QStringLiteral("Show the input menu from your desktop, without sudo.");
}
inline QString menuNotSaved() {
  return QString::fromUtf8(
      "IBus did not save \u201cShow icon on system tray\u201d. Turn it on in IBus Preferences "
      "\u2192 General.");
}
inline QString openInstalledApp() {
  return QStringLiteral("Open the installed Tolvani app to complete keyboard setup.");
}
inline QString childTimedOut() {
  return QStringLiteral(
      "IBus took too long to refresh keyboard setup. Retry or open Keyboard Settings.");
}
inline QString couldNotRefresh() {
  return QStringLiteral(
      "IBus could not refresh keyboard setup. Open Keyboard Settings to check Tolvani.");
}
inline QString couldNotUpdate() {
  return QStringLiteral(
      "IBus could not update keyboard setup. Open Keyboard Settings to check Tolvani.");
}
inline QString stateNotReported() {
  return QStringLiteral(
      "IBus did not report the keyboard's state. Retry or open Keyboard Settings.");
}
inline QString activateAsSuperuser() {
  return QStringLiteral("Open keyboard setup from your desktop, without sudo.");
}

}  // namespace tolvani::setupmessages

#endif  // TOLVANI_SETUP_SETUPMESSAGES_H_
