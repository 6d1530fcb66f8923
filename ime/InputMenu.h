// The input menu as a list of rows, free of any toolkit: the controller builds it from its state
// and the settings, and the platform face shows it (on IBus as the engine's properties).
// Thread-safety: plain values.
#ifndef TOLVANI_IME_INPUTMENU_H_
#define TOLVANI_IME_INPUTMENU_H_

#include <QString>
#include <vector>

namespace tolvani {

struct InputMenuRow {
  enum class Kind {
    header,     // a section title; never sensitive
    radio,      // one of a group of which exactly one is on
    toggle,     // a switch, on or off
    item,       // a command
    separator,  // a line between sections
    submenu,    // a row that opens `rows`
  };

  // Names the row's command; unique within the menu.
  QString key;
  Kind kind = Kind::item;
  QString title;
  // A name of the desktop's icon theme; empty for none.
  QString iconName;
  bool on = false;
  bool sensitive = true;
  // A hidden row keeps its place in the menu: a panel that reads the rows only once (GNOME Shell)
  // shows it when it is shown later.
  bool visible = true;
  // The rows of a submenu; none for other kinds.
  std::vector<InputMenuRow> rows{};

  bool operator==(const InputMenuRow&) const = default;
};

using InputMenu = std::vector<InputMenuRow>;

// The rows' keys.
namespace InputMenuKeys {
inline const QString kLayouts = QStringLiteral("layouts");
inline const QString kPhonetic = QStringLiteral("switchToPhonetic");
inline const QString kProbhat = QStringLiteral("switchToProbhat");
inline const QString kNational = QStringLiteral("switchToNational");
inline const QString kUnijoy = QStringLiteral("switchToUnijoy");
inline const QString kQuickControls = QStringLiteral("quickControls");
inline const QString kEnglishPassthrough = QStringLiteral("toggleEnglishPassthrough");
inline const QString kSuggestions = QStringLiteral("toggleSuggestions");
inline const QString kTools = QStringLiteral("tools");
inline const QString kConvertBanglish = QStringLiteral("convertBanglishSelection");
inline const QString kKeyboardSetup = QStringLiteral("openKeyboardSetup");
inline const QString kKeyboardTour = QStringLiteral("openKeyboardTour");
inline const QString kCustomKeys = QStringLiteral("openCustomLayoutEditor");
inline const QString kTypingStats = QStringLiteral("openTypingStats");
inline const QString kKeyboardHelp = QStringLiteral("openKeyboardHelp");
inline const QString kSettings = QStringLiteral("openPreferences");
inline const QString kCheckForUpdates = QStringLiteral("checkForUpdates");
inline const QString kPrivacy = QStringLiteral("privacy");
inline const QString kSecureEntry = QStringLiteral("secureKeyboardEntry");
inline const QString kFullyOffline = QStringLiteral("fullyOffline");
}  // namespace InputMenuKeys

}  // namespace tolvani

#endif  // TOLVANI_IME_INPUTMENU_H_
