#include "platform/Desktop.h"

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

}  // namespace tolvani::platform::desktop
