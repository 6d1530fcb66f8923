// The keyboard help window: a read-only reference of how to type, in five tabs (phonetic table,
// the fixed layouts drawn from the bundled layout documents, conjunct table), built once on first
// use and kept for the life of the process. Thread-safety: main thread only.
#ifndef TOLVANI_HELP_KEYBOARDHELPCONTROLLER_H_
#define TOLVANI_HELP_KEYBOARDHELPCONTROLLER_H_

#include <QString>
#include <map>
#include <memory>
#include <optional>

#include "help/HelpText.h"

class QWidget;

namespace tolvani {

class KeyboardHelpWindow;

// The three layers of a layout document the help shows, and its link key with what follows it (in
// "link": "key" and "then"); a missing or malformed layer or link is empty.
struct LayoutData {
  std::map<QString, QString> defaultLayer;
  std::map<QString, QString> shiftLayer;
  std::map<QString, QString> altLayer;
  QString linkKey;
  std::map<QString, QString> linkThen;
};

class KeyboardHelpController {
 public:
  // The only instance; the first call builds the window and all five tabs, reading the three layout
  // documents.
  static KeyboardHelpController& shared();

  KeyboardHelpController(const KeyboardHelpController&) = delete;
  KeyboardHelpController& operator=(const KeyboardHelpController&) = delete;

  // Shows the window as it was left: nothing is rebuilt.
  void showWindow();
  // The window; owned by the controller, hidden (never destroyed) when closed.
  QWidget* window() const;

  // The tabs' content. Each builds afresh and cannot fail.
  static HelpText buildPhoneticContent();
  static HelpText buildFixedLayoutContent(const QString& layoutName);
  static HelpText buildConjunctContent();

  // The bundle's "layouts/<name>.json"; nothing when it is missing, unreadable, not JSON, not an
  // object at the top or without an object "layers".
  static std::optional<LayoutData> loadLayout(const QString& name);

 private:
  KeyboardHelpController();
  ~KeyboardHelpController();

  std::unique_ptr<KeyboardHelpWindow> window_;
};

}  // namespace tolvani

#endif  // TOLVANI_HELP_KEYBOARDHELPCONTROLLER_H_
