#include "ime/testing/ProcessMemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tolvani::testing {
namespace {

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The path a /proc/PID/maps or smaps mapping line names, or "" for an anonymous mapping: the
// sixth field onwards (a path may hold spaces).
QString mappedPath(const QByteArray& line) {
  QList<QByteArray> fields = line.simplified().split(' ');
  if (fields.size() < 6) return {};
  const QString path = QString::fromUtf8(fields.mid(5).join(' '));
  return path.startsWith(u'/') ? path : QString();
}

// Whether a smaps line starts a mapping ("start-end perms offset dev inode [path]").
bool isMappingLine(const QByteArray& line) {
  const qsizetype dash = line.indexOf('-');
  const qsizetype space = line.indexOf(' ');
  return dash > 0 && space > dash;
}

}  // namespace

qint64 servingProcess(const IBusDaemonHarness& harness) {
  const QByteArray config = "XDG_CONFIG_HOME=" + QFile::encodeName(harness.configHome());
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool numeric = false;
    const qint64 pid = entry.toLongLong(&numeric);
    if (!numeric) continue;
    const QList<QByteArray> argv = readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
    if (argv.size() < 2 || argv[1] != "--ibus") continue;
    if (QFileInfo(QFile::decodeName(argv[0])).fileName() != QLatin1String("tolvani")) continue;
    if (!readAll(QStringLiteral("/proc/%1/environ").arg(pid)).split('\0').contains(config))
      continue;
    return pid;
  }
  return 0;
}

QStringList mappedFiles(qint64 pid) {
  QStringList files;
  for (const QByteArray& line : readAll(QStringLiteral("/proc/%1/maps").arg(pid)).split('\n')) {
    const QString path = mappedPath(line);
    if (!path.isEmpty() && !files.contains(path)) files << path;
  }
  return files;
}

QStringList mappedLibraries(qint64 pid, const QStringList& prefixes) {
  QStringList libraries;
  for (const QString& path : mappedFiles(pid)) {
    const QString name = QFileInfo(path).fileName();
    for (const QString& prefix : prefixes) {
      if (name.startsWith(prefix)) {
        libraries << name;
        break;
      }
    }
  }
  return libraries;
}

long residentKiB(qint64 pid) {
  for (const QByteArray& line : readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return -1;
}

std::map<QString, long> residentKiBByFile(qint64 pid) {
  std::map<QString, long> resident;
  QString current = QStringLiteral("[anonymous]");
  for (const QByteArray& line : readAll(QStringLiteral("/proc/%1/smaps").arg(pid)).split('\n')) {
    if (line.startsWith("Rss:")) {
      resident[current] += line.mid(4).trimmed().split(' ').value(0).toLong();
    } else if (isMappingLine(line)) {
      const QString path = mappedPath(line);
      current = path.isEmpty() ? QStringLiteral("[anonymous]") : path;
    }
  }
  return resident;
}

}  // namespace tolvani::testing
