#include "ime/ibus/IBusInputMenu.h"

#include <ibus.h>

#include <QByteArray>
#include <vector>

#include "platform/Desktop.h"

namespace tolvani {
namespace {

IBusText* text(const QString& value) {
  const QByteArray utf8 = value.toUtf8();
  return ibus_text_new_from_string(utf8.constData());
}

IBusPropType type(InputMenuRow::Kind kind) {
  switch (kind) {
    case InputMenuRow::Kind::radio:
      return PROP_TYPE_RADIO;
    case InputMenuRow::Kind::toggle:
      return PROP_TYPE_TOGGLE;
    case InputMenuRow::Kind::separator:
      return PROP_TYPE_SEPARATOR;
    case InputMenuRow::Kind::submenu:
      return PROP_TYPE_MENU;
    case InputMenuRow::Kind::header:
    case InputMenuRow::Kind::item:
      break;
  }
  return PROP_TYPE_NORMAL;
}

bool sameRows(const InputMenu& a, const InputMenu& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].key != b[i].key || a[i].kind != b[i].kind || !sameRows(a[i].rows, b[i].rows))
      return false;
  }
  return true;
}

// The rows of `menu` and of its submenus, each after the row that opens it.
void flatten(const InputMenu& menu, std::vector<const InputMenuRow*>& out) {
  for (const InputMenuRow& row : menu) {
    out.push_back(&row);
    flatten(row.rows, out);
  }
}

// A row as the panel shows it, without the rows of its submenu (those are sent on their own).
bool sameRow(const InputMenuRow& a, const InputMenuRow& b) {
  return a.title == b.title && a.iconName == b.iconName && a.on == b.on &&
         a.sensitive == b.sensitive && a.visible == b.visible;
}

IBusPropList* propertyList(const InputMenu& menu) {
  IBusPropList* list = ibus_prop_list_new();
  for (const InputMenuRow& row : menu) ibus_prop_list_append(list, IBusInputMenu::property(row));
  return list;
}

// GNOME Shell shows the rows inline, a header or a separator taking a row's height, and a
// submenu opens below its row in what height is left (a scrolling view where it runs short): on a
// 768 px screen the tools' rows did not fit. There the layouts go in a submenu of their own,
// titled by their header, the other headers, the separators and the row that never changes
// (the offline promise, which the settings window also makes) go, and each submenu opens whole.
InputMenu forGnomeShell(const InputMenu& menu) {
  InputMenu shaped;
  for (std::size_t i = 0; i < menu.size(); ++i) {
    const InputMenuRow& row = menu[i];
    if (row.kind == InputMenuRow::Kind::header && i + 1 < menu.size() &&
        menu[i + 1].kind == InputMenuRow::Kind::radio) {
      InputMenuRow group = row;
      group.kind = InputMenuRow::Kind::submenu;
      group.sensitive = true;
      while (i + 1 < menu.size() && menu[i + 1].kind == InputMenuRow::Kind::radio)
        group.rows.push_back(menu[++i]);
      shaped.push_back(std::move(group));
    } else if (row.kind != InputMenuRow::Kind::header &&
               row.kind != InputMenuRow::Kind::separator &&
               row.key != InputMenuKeys::kFullyOffline) {
      shaped.push_back(row);
    }
  }
  return shaped;
}

bool gnomeShell() {
  static const bool gnome = platform::desktop::isGnome();
  return gnome;
}

InputMenu forPanel(const InputMenu& menu) { return gnomeShell() ? forGnomeShell(menu) : menu; }

}  // namespace

IBusProperty* IBusInputMenu::property(const InputMenuRow& row) {
  const QByteArray key = row.key.toUtf8();
  const QByteArray icon = row.iconName.toUtf8();
  const bool sensitive = row.sensitive && row.kind != InputMenuRow::Kind::header;
  return ibus_property_new(
      key.constData(), type(row.kind), text(row.title), icon.constData(), text(row.title),
      sensitive, row.visible, row.on ? PROP_STATE_CHECKED : PROP_STATE_UNCHECKED,
      row.kind == InputMenuRow::Kind::submenu ? propertyList(row.rows) : nullptr);
}

// GNOME Shell keeps the list it read first after a change of engine and ignores the next ones: a
// list registered again is followed by the rows that changed since the list before it (the rows
// stay the same there), whichever list the panel holds.
void IBusInputMenu::registerMenu(IBusEngine* engine, const InputMenu& given) {
  if (!engine) return;
  const InputMenu menu = forPanel(given);
  IBusPropList* list = propertyList(menu);
  g_object_ref_sink(list);
  ibus_engine_register_properties(engine, list);
  g_object_unref(list);
  if (gnomeShell() && shown_ && sameRows(*shown_, menu)) sendChanges(engine, *shown_, menu);
  shown_ = menu;
  registerNext_ = false;
}

void IBusInputMenu::update(IBusEngine* engine, const InputMenu& given, const QString& alsoKey) {
  if (!engine) return;
  const InputMenu menu = forPanel(given);
  if (!shown_ || registerNext_ || !sameRows(*shown_, menu)) return registerMenu(engine, given);
  sendChanges(engine, *shown_, menu, alsoKey);
  shown_ = menu;
}

void IBusInputMenu::sendChanges(IBusEngine* engine, const InputMenu& from, const InputMenu& menu,
                                const QString& alsoKey) {
  // The panels find a row inside a submenu by its key, as they do a row of the top level.
  std::vector<const InputMenuRow*> rows, shown;
  flatten(menu, rows);
  flatten(from, shown);
  // A panel moves the check mark of a radio group itself when a row of it is clicked: the whole
  // group goes again.
  bool alsoRadios = false;
  for (const InputMenuRow* row : rows) {
    if (row->key == alsoKey && row->kind == InputMenuRow::Kind::radio) alsoRadios = true;
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const InputMenuRow& row = *rows[i];
    const bool also = row.key == alsoKey || (alsoRadios && row.kind == InputMenuRow::Kind::radio);
    if (sameRow(row, *shown[i]) && !also) continue;
    InputMenuRow alone = row;
    alone.rows.clear();
    IBusProperty* changed = property(alone);
    g_object_ref_sink(changed);
    ibus_engine_update_property(engine, changed);
    g_object_unref(changed);
  }
}

}  // namespace tolvani
