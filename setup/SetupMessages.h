// The English sentences of the setup errors, in one place so that every raiser uses the same
// words. A status is said in words, and the framework and settings window named are the session's:
// fcitx5 and its configuration tool where fcitx5 is the framework, else IBus with GNOME's
// Keyboard Settings or IBus Preferences. Thread-safety: safe for concurrent
// use (they read the environment).
#ifndef TOLVANI_SETUP_SETUPMESSAGES_H_
#define TOLVANI_SETUP_SETUPMESSAGES_H_

#include <QString>
#include <cerrno>
#include <cstring>

#include "platform/Desktop.h"

namespace tolvani::setupmessages {

// The session's input-method framework by name.
inline QString framework() {
  return platform::desktop::fcitx5IsFramework() ? QStringLiteral("fcitx5") : QStringLiteral("IBus");
}

// The window where a person adds or checks input methods on this desktop.
inline QString settingsWindow() {
  if (platform::desktop::fcitx5IsFramework()) return QStringLiteral("Fcitx 5 Configuration");
  return platform::desktop::isGnome() ? QStringLiteral("Keyboard Settings")
                                      : QStringLiteral("IBus Preferences");
}

// A status of the input-source calls (0, or a negated errno) in a person's words.
inline QString statusInWords(int status) {
  switch (-status) {
    case ECONNREFUSED:
      return framework() + QStringLiteral(" is not running");
    case EACCES:
      return QStringLiteral("the setting could not be saved");
    case ENOENT:
      return QStringLiteral("a file it needs is missing");
    case EIO:
      return framework() + QStringLiteral(" refused");
    default:
      break;
  }
  if (status < 0) return QString::fromLocal8Bit(std::strerror(-status)).toLower();
  return QStringLiteral("error %1").arg(status);
}

inline QString bundleIdentifierMissing() {
  return QStringLiteral("The keyboard's bundle identifier is missing.");
}
inline QString sourceWithoutIdentifier() {
  return framework() +
         QStringLiteral(" returned an input source without an identifier. Retry setup.");
}
inline QString enableAsSuperuser() {
  return QStringLiteral("Run keyboard setup as your desktop user, without sudo.");
}
inline QString couldNotRegister(int status) {
  return QStringLiteral("%1 could not register the keyboard (%2). Open %3 to add Tolvani.")
      .arg(framework(), statusInWords(status), settingsWindow());
}
inline QString notDiscovered() {
  if (platform::desktop::fcitx5IsFramework())
    return QString::fromUtf8(
        "fcitx5 has not discovered Tolvani yet. Install the tolvani-fcitx5 package and retry "
        "setup, or open Fcitx 5 Configuration \u2192 Input Method \u2192 Bangla.");
  if (platform::desktop::isGnome())
    return QString::fromUtf8(
        "IBus has not discovered Tolvani yet. Retry setup, or open Settings \u2192 Keyboard "
        "\u2192 Input Sources \u2192 + \u2192 Bangla.");
  return QString::fromUtf8(
      "IBus has not discovered Tolvani yet. Retry setup, or open IBus Preferences \u2192 Input "
      "Method \u2192 Add \u2192 Bangla.");
}
inline QString couldNotAdd(int status) {
  return QStringLiteral("%1 could not add the keyboard (%2). Open %3 to add Tolvani.")
      .arg(framework(), statusInWords(status), settingsWindow());
}
inline QString addNotConfirmed() {
  return QStringLiteral("%1 did not confirm the added keyboard. Retry setup or add Tolvani in %2.")
      .arg(framework(), settingsWindow());
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
  return QStringLiteral("%1 could not switch keyboards (%2). Choose Tolvani from the input menu.")
      .arg(framework(), statusInWords(status));
}
inline QString switchNotConfirmed() {
  return framework() +
         QStringLiteral(" did not confirm the switch. Choose Tolvani from the input menu.");
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
  return QStringLiteral("%1 took too long to refresh keyboard setup. Retry or open %2.")
      .arg(framework(), settingsWindow());
}
inline QString couldNotRefresh() {
  return QStringLiteral("%1 could not refresh keyboard setup. Open %2 to check Tolvani.")
      .arg(framework(), settingsWindow());
}
inline QString couldNotUpdate() {
  return QStringLiteral("%1 could not update keyboard setup. Open %2 to check Tolvani.")
      .arg(framework(), settingsWindow());
}
inline QString stateNotReported() {
  return QStringLiteral("%1 did not report the keyboard's state. Retry or open %2.")
      .arg(framework(), settingsWindow());
}
// What is left when the session runs no IBus daemon yet: Tolvani is in IBus's list, and the
// daemon takes it from there once the session starts it.
inline QString startIBusToSwitch() {
  if (platform::desktop::fcitx5IsFramework()) {
    if (platform::desktop::kwinStartsNoFcitx5())
      return QString::fromUtf8(
          "fcitx5 is not running in this session yet: choose System Settings \u2192 Virtual "
          "Keyboard \u2192 \u201cFcitx 5\u201d, which starts it with Tolvani in its input "
          "methods.");
    return QStringLiteral(
        "fcitx5 is not running in this session yet: Tolvani is in its input methods from your "
        "next login.");
  }
  if (platform::desktop::isGnome())
    return QStringLiteral(
        "IBus is not running in this session yet. Log out and in again; then Super+Space "
        "switches to Tolvani.");
  return QStringLiteral(
      "IBus is not running in this session yet. Choose it once with \"im-config -n ibus\", then "
      "log out and in again; then Super+Space switches to Tolvani.");
}
// Under fcitx5: how its trigger key `key` (empty when the person set none) reaches Tolvani, and,
// where no status area shows fcitx5's icon (`statusArea` false), how Tolvani's windows and layouts
// are reached without its menu.
inline QString fcitx5Switch(const QString& key, bool statusArea) {
  QString said;
  if (key.isEmpty()) {
    said = QString::fromUtf8(
        "No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options "
        "\u2192 Trigger Input Method).");
    if (statusArea)
      said.prepend(QStringLiteral("Choose Tolvani in the menu of fcitx5's icon in the panel. "));
  } else {
    said =
        QStringLiteral("In a text field, %1 switches between your keyboard and Tolvani.").arg(key);
  }
  if (!statusArea)
    said += QStringLiteral(
        " No panel shows fcitx5's icon here: open Tolvani's windows from its entry in your "
        "application launcher, and switch its layouts with Control+Shift+Space.");
  return said;
}
// Where GNOME Shell runs the person chooses Tolvani in its keyboard menu; Super+Space is offered
// as a tap only where a tap reaches Tolvani now.
inline QString chooseInKeyboardMenu(bool tapReaches) {
  if (tapReaches)
    return QStringLiteral(
        "Choose Tolvani in the keyboard menu at the right of GNOME's top bar, or tap Super+Space: "
        "a tap switches to Tolvani and the next one back.");
  return QStringLiteral(
      "Choose Tolvani in the keyboard menu at the right of GNOME's top bar, or hold Super and "
      "press Space until Tolvani is chosen.");
}
inline QString alreadyChosen() {
  return QStringLiteral(
      "Tolvani is your input source now; the keyboard menu at the right of GNOME's top bar "
      "switches to your other keyboards.");
}
inline QString activateAsSuperuser() {
  return QStringLiteral("Open keyboard setup from your desktop, without sudo.");
}

}  // namespace tolvani::setupmessages

#endif  // TOLVANI_SETUP_SETUPMESSAGES_H_
