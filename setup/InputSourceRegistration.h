// Registration, enabling, selection and state of the bundle's keyboard input sources, and the
// visibility of the text input menu. Each call reads the desktop afresh and keeps no state; the
// input-source calls run in a command-mode child process only. Failures are thrown as SetupError.
// Thread-safety: call from one thread at a time.
#ifndef TOLVANI_SETUP_INPUTSOURCEREGISTRATION_H_
#define TOLVANI_SETUP_INPUTSOURCEREGISTRATION_H_

#include <QString>
#include <QUrl>
#include <optional>

namespace tolvani {

class InputSourceRegistration {
 public:
  enum class State { notRegistered, notEnabled, enabled };

  // "notRegistered", "notEnabled" or "enabled".
  static QString rawValue(State state);
  static std::optional<State> fromRawValue(const QString& raw);

  // Throws codes 1, 2.
  static State state(const QString& bundleID);
  // Registers the bundle and enables every one of its sources; the number of enabled sources.
  // Throws codes 1, 2, 5 or a status.
  static int enable(const QUrl& bundleURL, const QString& bundleID);
  // Throws codes 1, 2.
  static bool isSelected(const QString& bundleID);
  // Throws codes 1, 2, 3, 5, 6 or a status. Where the person chooses (GNOME Shell), it checks
  // that Tolvani can be chosen and switches nothing.
  static void select(const QString& bundleID);
  // While the service does not run: the bundle's source is what it starts on, where it keeps
  // such a choice. Throws codes 1, 2, 6 or a status.
  static void selectForStart(const QString& bundleID);
  // Where the person chooses: whether a tap of Super+Space reaches the bundle's source now.
  // Throws codes 1, 2.
  static bool tapReaches(const QString& bundleID);
};

class InputMenuPreference {
 public:
  static bool isVisible();
  // Throws codes 1, 5 of the input-menu domain.
  static void show();
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_INPUTSOURCEREGISTRATION_H_
