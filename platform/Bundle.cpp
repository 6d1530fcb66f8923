#include "platform/Bundle.h"

#include <QDir>
#include <QFileInfo>
#include <mutex>

#ifndef TOLVANI_SHORT_VERSION
#define TOLVANI_SHORT_VERSION ""
#endif
#ifndef TOLVANI_RESOURCES_BUILD_DIR
#define TOLVANI_RESOURCES_BUILD_DIR ""
#endif

namespace tolvani::platform::bundle {

namespace {

struct Overrides {
  std::mutex mu;
  std::optional<QString> shortVersion;  // guarded by mu
  std::optional<QString> resourcesDir;  // guarded by mu
};

Overrides& overrides() {
  static Overrides instance;
  return instance;
}

QString installedResourcesDir() {
  // /proc/self/exe works before a QCoreApplication exists, unlike applicationDirPath().
  const QFileInfo executable(QStringLiteral("/proc/self/exe"));
  const QString program = executable.canonicalFilePath();
  if (program.isEmpty()) return {};
  const QString folder =
      QDir::cleanPath(QFileInfo(program).absolutePath() + QStringLiteral("/../share/tolvani"));
  return QFileInfo(folder).isDir() ? folder : QString();
}

}  // namespace

QString identifier() { return QStringLiteral("com.tolvani.inputmethod.TolvaniIME"); }

QString shortVersion() {
  Overrides& o = overrides();
  std::lock_guard lock(o.mu);
  return o.shortVersion.value_or(QStringLiteral(TOLVANI_SHORT_VERSION));
}

QString resourcesDir() {
  {
    Overrides& o = overrides();
    std::lock_guard lock(o.mu);
    if (o.resourcesDir) return *o.resourcesDir;
  }
  static const QString found = [] {
    const QString installed = installedResourcesDir();
    return installed.isEmpty() ? QStringLiteral(TOLVANI_RESOURCES_BUILD_DIR) : installed;
  }();
  return found;
}

QString resourcePath(const QString& relative) {
  return resourcesDir() + QLatin1Char('/') + relative;
}

void testSetShortVersion(std::optional<QString> version) {
  Overrides& o = overrides();
  std::lock_guard lock(o.mu);
  o.shortVersion = std::move(version);
}

void testSetResourcesDir(std::optional<QString> folder) {
  Overrides& o = overrides();
  std::lock_guard lock(o.mu);
  o.resourcesDir = std::move(folder);
}

}  // namespace tolvani::platform::bundle
