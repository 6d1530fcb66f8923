#include "platform/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <vector>

namespace tolvani::platform::paths {

namespace {

QString home() {
  const QByteArray fromEnv = qgetenv("HOME");
  if (!fromEnv.isEmpty()) return QString::fromLocal8Bit(fromEnv);
  // A session without HOME (a service manager's child) still has a password entry.
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir)
    return QString::fromLocal8Bit(found->pw_dir);
  return QDir::rootPath();
}

// The variable's value when it names an absolute path; the XDG rule ignores relative ones.
QString xdg(const char* variable, const QString& fallbackUnderHome) {
  const QString value = qEnvironmentVariable(variable);
  if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
  return QDir::cleanPath(home() + QLatin1Char('/') + fallbackUnderHome);
}

}  // namespace

QString configHome() { return xdg("XDG_CONFIG_HOME", QStringLiteral(".config")); }
QString dataHome() { return xdg("XDG_DATA_HOME", QStringLiteral(".local/share")); }
QString cacheHome() { return xdg("XDG_CACHE_HOME", QStringLiteral(".cache")); }

QString runtimeDir() {
  const QString value = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
  // The fallback must be private to the user, as the real runtime folder is: a folder of that
  // name that someone else made, or that others may enter, is not used.
  const QString base =
      QDir::tempPath() + QStringLiteral("/tolvani-runtime-") + QString::number(getuid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString folder = attempt == 0 ? base : base + QLatin1Char('-') + QString::number(attempt);
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
        (st.st_mode & 0077) == 0)
      return folder;
  }
  return base;
}

QString userDataFolder() { return dataHome() + QStringLiteral("/tolvani"); }

}  // namespace tolvani::platform::paths
