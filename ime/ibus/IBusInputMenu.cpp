#include "ime/ibus/IBusInputMenu.h"

#include <ibus.h>

#include <QByteArray>
#include <vector>

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
         a.sensitive == b.sensitive;
}

IBusPropList* propertyList(const InputMenu& menu) {
  IBusPropList* list = ibus_prop_list_new();
  for (const InputMenuRow& row : menu) ibus_prop_list_append(list, IBusInputMenu::property(row));
  return list;
}

}  // namespace

IBusProperty* IBusInputMenu::property(const InputMenuRow& row) {
  const QByteArray key = row.key.toUtf8();
  const QByteArray icon = row.iconName.toUtf8();
  const bool sensitive = row.sensitive && row.kind != InputMenuRow::Kind::header;
  return ibus_property_new(
      key.constData(), type(row.kind), text(row.title), icon.constData(), text(row.title),
      sensitive, /*visible=*/TRUE, row.on ? PROP_STATE_CHECKED : PROP_STATE_UNCHECKED,
      row.kind == InputMenuRow::Kind::submenu ? propertyList(row.rows) : nullptr);
}

void IBusInputMenu::registerMenu(IBusEngine* engine, const InputMenu& menu) {
  if (!engine) return;
  IBusPropList* list = propertyList(menu);
  g_object_ref_sink(list);
  ibus_engine_register_properties(engine, list);
  g_object_unref(list);
  shown_ = menu;
}

void IBusInputMenu::update(IBusEngine* engine, const InputMenu& menu, const QString& alsoKey) {
  if (!engine) return;
  if (!shown_ || !sameRows(*shown_, menu)) return registerMenu(engine, menu);
  // The panels find a row inside a submenu by its key, as they do a row of the top level.
  std::vector<const InputMenuRow*> rows, shown;
  flatten(menu, rows);
  flatten(*shown_, shown);
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
  shown_ = menu;
}

}  // namespace tolvani
