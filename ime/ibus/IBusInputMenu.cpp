#include "ime/ibus/IBusInputMenu.h"

#include <ibus.h>

#include <QByteArray>

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
    case InputMenuRow::Kind::header:
    case InputMenuRow::Kind::item:
      break;
  }
  return PROP_TYPE_NORMAL;
}

bool sameRows(const InputMenu& a, const InputMenu& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].key != b[i].key || a[i].kind != b[i].kind) return false;
  }
  return true;
}

}  // namespace

IBusProperty* IBusInputMenu::property(const InputMenuRow& row) {
  const QByteArray key = row.key.toUtf8();
  const QByteArray icon = row.iconName.toUtf8();
  const bool sensitive = row.sensitive && row.kind != InputMenuRow::Kind::header;
  return ibus_property_new(key.constData(), type(row.kind), text(row.title), icon.constData(),
                           text(row.title), sensitive, /*visible=*/TRUE,
                           row.on ? PROP_STATE_CHECKED : PROP_STATE_UNCHECKED, nullptr);
}

void IBusInputMenu::registerMenu(IBusEngine* engine, const InputMenu& menu) {
  if (!engine) return;
  IBusPropList* list = ibus_prop_list_new();
  g_object_ref_sink(list);
  for (const InputMenuRow& row : menu) ibus_prop_list_append(list, property(row));
  ibus_engine_register_properties(engine, list);
  g_object_unref(list);
  shown_ = menu;
}

void IBusInputMenu::update(IBusEngine* engine, const InputMenu& menu, const QString& alsoKey) {
  if (!engine) return;
  if (!shown_ || !sameRows(*shown_, menu)) return registerMenu(engine, menu);
  for (std::size_t i = 0; i < menu.size(); ++i) {
    if (menu[i] == (*shown_)[i] && menu[i].key != alsoKey) continue;
    IBusProperty* changed = property(menu[i]);
    g_object_ref_sink(changed);
    ibus_engine_update_property(engine, changed);
    g_object_unref(changed);
  }
  shown_ = menu;
}

}  // namespace tolvani
