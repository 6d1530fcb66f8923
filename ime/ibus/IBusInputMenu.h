// The input menu as the IBus engine's properties, which the desktop's panel shows as the input
// method's menu. IBus asks for no menu when it opens one: the list is registered whenever a
// context takes the focus, and the rows whose state, title or icon changed are sent again at
// every change, those inside a submenu too (the whole list when rows come or go). A submenu is a
// menu property holding its rows. On GNOME Shell the rows are shaped to fit its menu.
// Thread-safety: main thread only.
#ifndef TOLVANI_IME_IBUS_IBUSINPUTMENU_H_
#define TOLVANI_IME_IBUS_IBUSINPUTMENU_H_

#include <optional>

#include "ime/InputMenu.h"

typedef struct _IBusEngine IBusEngine;
typedef struct _IBusProperty IBusProperty;

namespace tolvani {

class IBusInputMenu {
 public:
  // Registers all of `menu` on `engine`.
  void registerMenu(IBusEngine* engine, const InputMenu& menu);
  // Sends what changed since the menu last sent, and the row `alsoKey` whatever happened (a panel
  // changes its own check mark when clicked; for a radio row, the whole group); registers when
  // nothing was sent yet.
  void update(IBusEngine* engine, const InputMenu& menu, const QString& alsoKey = QString());
  // The next update registers the whole list (another engine object, another context).
  void forget() { registerNext_ = true; }

  // A new property for `row` (floating reference, as IBus's lists take them).
  static IBusProperty* property(const InputMenuRow& row);

 private:
  // Sends the rows of `menu` that differ from `from`, and `alsoKey`'s (see update).
  static void sendChanges(IBusEngine* engine, const InputMenu& from, const InputMenu& menu,
                          const QString& alsoKey = QString());

  std::optional<InputMenu> shown_;
  bool registerNext_ = false;
};

}  // namespace tolvani

#endif  // TOLVANI_IME_IBUS_IBUSINPUTMENU_H_
