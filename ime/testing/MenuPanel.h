// The desktop's panel, as a test or a benchmark plays it: holding the panel's bus name, it chooses
// rows of the input menu for the focused context and records the lists and the rows it is sent.
// Thread-safety: the thread of the bus's context.
#ifndef TOLVANI_IME_TESTING_MENUPANEL_H_
#define TOLVANI_IME_TESTING_MENUPANEL_H_

#include <ibus.h>

#include <QString>
#include <QStringList>

namespace tolvani::testing {

class MenuPanel {
 public:
  explicit MenuPanel(IBusBus* bus) : bus_(bus) {
    service_ = ibus_panel_service_new(ibus_bus_get_connection(bus));
    g_object_ref_sink(service_);
    owned_ = ibus_bus_request_name(bus, IBUS_SERVICE_PANEL, 0) != 0;
    g_signal_connect(service_, "update-property",
                     G_CALLBACK(+[](IBusPanelService*, IBusProperty* p, MenuPanel* self) {
                       const QString row = describe(p);
                       self->updates << row;
                       const QString key = row.section(u'|', 0, 0) + u'|';
                       for (QString& held : self->shown)
                         if (held.startsWith(key)) held = row;
                     }),
                     this);
    g_signal_connect(service_, "register-properties",
                     G_CALLBACK(+[](IBusPanelService*, IBusPropList* list, MenuPanel* self) {
                       QStringList rows;
                       flatten(list, rows);
                       self->shown = rows;
                     }),
                     this);
  }
  ~MenuPanel() {
    if (owned_) ibus_bus_release_name(bus_, IBUS_SERVICE_PANEL);
    ibus_object_destroy(IBUS_OBJECT(service_));
    g_object_unref(service_);
  }
  MenuPanel(const MenuPanel&) = delete;
  MenuPanel& operator=(const MenuPanel&) = delete;

  bool owned() const { return owned_; }
  void choose(const char* key) { ibus_panel_service_property_activate(service_, key, 1); }

  // Rows are "key|on" or "key|off". The rows sent again one by one, oldest first; and the rows
  // as the panel shows them now: the last list registered (a submenu's rows after its own) with
  // the rows sent again since.
  QStringList updates;
  QStringList shown;

 private:
  static QString describe(IBusProperty* p) {
    return QString::fromUtf8(ibus_property_get_key(p)) +
           QLatin1String(ibus_property_get_state(p) == PROP_STATE_CHECKED ? "|on" : "|off");
  }
  static void flatten(IBusPropList* list, QStringList& rows) {
    for (guint i = 0;; ++i) {
      IBusProperty* p = ibus_prop_list_get(list, i);
      if (p == nullptr) break;
      rows << describe(p);
      if (IBusPropList* sub = ibus_property_get_sub_props(p)) flatten(sub, rows);
    }
  }

 private:
  IBusBus* bus_;
  IBusPanelService* service_;
  bool owned_ = false;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_MENUPANEL_H_
