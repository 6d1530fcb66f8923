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

namespace {

// The field `name` ("VmRSS:") of /proc/PID/status in KiB, or -1.
long statusKiB(qint64 pid, const QByteArray& name) {
  for (const QByteArray& line : readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
    if (line.startsWith(name)) return line.mid(name.size()).trimmed().split(' ').value(0).toLong();
  }
  return -1;
}

}  // namespace

long residentKiB(qint64 pid) { return statusKiB(pid, "VmRSS:"); }

long anonymousResidentKiB(qint64 pid) { return statusKiB(pid, "RssAnon:"); }

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

bool isRunning(qint64 pid) {
  const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
  const qsizetype close = stat.lastIndexOf(')');
  return close > 0 && stat.mid(close + 2, 1) != "Z";
}

QStringList descendants(qint64 pid, const QString& program) {
  // Each process's parent and command name, from /proc/PID/stat: the name is in parentheses (it
  // may hold spaces and parentheses itself) and cut to 15 bytes; the parent is the second field
  // after it. The command line would not do: a program may rewrite it, as Chromium's helpers do.
  struct Process {
    qint64 parent;
    QByteArray name;
  };
  std::map<qint64, Process> processes;
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool numeric = false;
    const qint64 process = entry.toLongLong(&numeric);
    if (!numeric) continue;
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(process));
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open) continue;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() > 1)
      processes[process] = {fields[1].toLongLong(), stat.mid(open + 1, close - open - 1)};
  }
  const QByteArray name = QFile::encodeName(program).left(15);
  QStringList found;
  for (const auto& [process, entry] : processes) {
    if (entry.name != name) continue;
    bool below = false;
    for (qint64 up = entry.parent, hops = 0; up > 0 && hops < 64 && !below; ++hops) {
      below = up == pid;
      const auto next = processes.find(up);
      up = next == processes.end() ? 0 : next->second.parent;
    }
    if (!below) continue;
    QByteArray command = readAll(QStringLiteral("/proc/%1/cmdline").arg(process));
    found << QString::number(process) + u' ' +
                 QString::fromLocal8Bit(command.replace('\0', ' ').trimmed());
  }
  return found;
}

qint64 setupWindowProcess(qint64 pid) {
  for (const QString& line : descendants(pid, QStringLiteral("tolvani"))) {
    if (line.contains(QLatin1String("--setup-window")))
      return line.section(u' ', 0, 0).toLongLong();
  }
  return 0;
}

}  // namespace tolvani::testing
