#include "platform/Desktop.h"

#include <gio/gio.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
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

bool isSway() {
  if (!qEnvironmentVariableIsEmpty("SWAYSOCK")) return true;
  const QStringList desktops =
      qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
  return desktops.contains(QLatin1String("sway"), Qt::CaseInsensitive);
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

namespace {

// The framework the session's variables name: "fcitx", "ibus", or empty when they name none.
QString frameworkOfVariables() {
  for (const char* variable : {"GTK_IM_MODULE", "QT_IM_MODULE"}) {
    const QString value = qEnvironmentVariable(variable).trimmed().toLower();
    if (value == QLatin1String("fcitx") || value == QLatin1String("fcitx5"))
      return QStringLiteral("fcitx");
    if (value == QLatin1String("ibus")) return QStringLiteral("ibus");
  }
  const QString xim = qEnvironmentVariable("XMODIFIERS").trimmed().toLower();
  if (xim == QLatin1String("@im=fcitx") || xim == QLatin1String("@im=fcitx5"))
    return QStringLiteral("fcitx");
  if (xim == QLatin1String("@im=ibus")) return QStringLiteral("ibus");
  return {};
}

// Whether im-config's choice for the next login is fcitx5: the person's own file when there is
// one, else the system's.
bool imConfigChoseFcitx5() {
  QString path = QDir::homePath() + QStringLiteral("/.xinputrc");
  if (!QFile::exists(path)) path = QStringLiteral("/etc/X11/xinit/xinputrc");
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  static const QRegularExpression choice(QStringLiteral(R"(^\s*run_im\s+(\S+))"),
                                         QRegularExpression::MultilineOption);
  const QRegularExpressionMatch match = choice.match(QString::fromUtf8(file.readAll()));
  return match.hasMatch() && match.captured(1) == QLatin1String("fcitx5");
}

}  // namespace

bool fcitx5IsFramework() {
  static const bool runs = sessionNameOwned("org.fcitx.Fcitx5");
  if (runs) return true;
  const QString named = frameworkOfVariables();
  if (!named.isEmpty()) return named == QLatin1String("fcitx");
  return imConfigChoseFcitx5();
}

bool kwinStartsNoFcitx5() {
  const QStringList desktops =
      qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
  if (!desktops.contains(QLatin1String("KDE"), Qt::CaseInsensitive)) return false;
  if (qEnvironmentVariable("XDG_SESSION_TYPE") != QLatin1String("wayland")) return false;
  QFile file(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/kwinrc"));
  if (!file.open(QIODevice::ReadOnly)) return true;
  bool inWayland = false;
  for (const QString& raw : QString::fromUtf8(file.readAll()).split(u'\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith(u'[')) {
      inWayland = line == QLatin1String("[Wayland]");
      continue;
    }
    // KDE's config files mark a value with flags such as [$e] after its key.
    const QString key = line.section(u'=', 0, 0).section(u'[', 0, 0).trimmed();
    if (inWayland && key == QLatin1String("InputMethod"))
      return !line.section(u'=', 1).contains(QLatin1String("fcitx"), Qt::CaseInsensitive);
  }
  return true;
}

}  // namespace tolvani::platform::desktop
