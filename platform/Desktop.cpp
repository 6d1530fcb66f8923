#include "platform/Desktop.h"

#include <gio/gio.h>

#include <QString>
#include <QStringList>
#include <algorithm>

namespace tolvani::platform::desktop {

bool isGnome() {
  const auto names = [](const char* variable) {
    return qEnvironmentVariable(variable).split(u':', Qt::SkipEmptyParts);
  };
  const auto gnome = [](const QString& name) {
    return name.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0 ||
           name.startsWith(QLatin1String("GNOME-"), Qt::CaseInsensitive);
  };
  QStringList desktops = names("XDG_CURRENT_DESKTOP");
  if (desktops.isEmpty()) desktops = names("XDG_SESSION_DESKTOP");
  if (desktops.isEmpty()) desktops = names("DESKTOP_SESSION");
  return std::any_of(desktops.begin(), desktops.end(), gnome);
}

bool gnomeShellRuns() { return sessionNameOwned("org.gnome.Shell"); }

bool sessionNameOwned(const char* name) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  // A stalled bus must not hold a setup step: a second is ample for the bus daemon itself.
  constexpr int kTimeoutMs = 1000;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, kTimeoutMs,
      nullptr, nullptr);
  g_object_unref(bus);
  if (reply == nullptr) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned != FALSE;
}

}  // namespace tolvani::platform::desktop
