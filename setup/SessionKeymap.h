// The keyboard layouts the desktop session types with before Tolvani is added: the X keymap's
// layouts and variants, named as XKB names them ("us", "de" with "nodeadkeys"). The X server
// keeps the names its keymap was made from in the root window's _XKB_RULES_NAMES property; with
// no display to ask (a Wayland session without Xwayland, a console), the system's keyboard
// configuration (/etc/default/keyboard) stands in, and US English when that says nothing either.
// Thread-safety: any thread; nothing is kept between calls.
#ifndef TOLVANI_SETUP_SESSIONKEYMAP_H_
#define TOLVANI_SETUP_SESSIONKEYMAP_H_

#include <QByteArray>
#include <QString>
#include <vector>

namespace tolvani::sessionkeymap {

struct Layout {
  QString layout;
  QString variant;  // empty for the layout's own
  bool operator==(const Layout&) const = default;
};

// The session's layouts, in the keymap's order, never empty.
std::vector<Layout> current();

// The layouts of a value of _XKB_RULES_NAMES (rules, model, layouts, variants and options, each
// ending in a NUL byte); empty when it names none.
std::vector<Layout> fromRulesNames(const QByteArray& property);
// The layouts of a keyboard configuration file in the shell form of /etc/default/keyboard
// (XKBLAYOUT="us,ru", XKBVARIANT=",phonetic"); empty when it is missing or names none.
std::vector<Layout> fromKeyboardFile(const QString& path);

// GNOME's name of a layout in org.gnome.desktop.input-sources: "de+nodeadkeys".
QString gnomeName(const Layout& layout);

}  // namespace tolvani::sessionkeymap

#endif  // TOLVANI_SETUP_SESSIONKEYMAP_H_
