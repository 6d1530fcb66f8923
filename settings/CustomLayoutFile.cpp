#include "settings/CustomLayoutFile.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/PrivateFiles.h"
#include "settings/AppSettingsUserData.h"
#include "settings/StoreFilesInternal.h"

namespace tolvani::CustomLayoutFile {
namespace {

// Keeps the unreadable file under another name before it is replaced, so that replacing it loses
// nothing the user wrote by hand.
bool keepAside(const QString& file) {
  const qint64 seconds = static_cast<qint64>(platform::clock().wallSeconds());
  for (int attempt = 0; attempt < 100; ++attempt) {
    QString copy = file + QStringLiteral(".corrupt-") + QString::number(seconds);
    if (attempt > 0) copy += QStringLiteral("-") + QString::number(attempt);
    if (QFile::exists(copy)) continue;
    // The copy takes the mode of the file, perhaps one that others could read.
    if (!QFile::copy(file, copy) || !platform::privatefiles::makePrivate(copy)) return false;
    platform::log::line(QStringLiteral("kept the unreadable custom-layout.json as ") +
                        QFileInfo(copy).fileName());
    return true;
  }
  return false;
}

// What tells one version of the file from another: a replacement brings a new inode, a rewrite
// in place a new time or size. Empty for no file.
QByteArray stampOf(const QString& file) {
  struct stat st {};
  if (::stat(QFile::encodeName(file).constData(), &st) != 0) return {};
  return QByteArray::number(static_cast<qulonglong>(st.st_ino)) + ':' +
         QByteArray::number(static_cast<qlonglong>(st.st_size)) + ':' +
         QByteArray::number(static_cast<qlonglong>(st.st_mtim.tv_sec)) + '.' +
         QByteArray::number(static_cast<qlonglong>(st.st_mtim.tv_nsec)) + ':' +
         QByteArray::number(static_cast<qlonglong>(st.st_ctim.tv_nsec));
}

std::mutex g_noticedMu;
std::optional<QByteArray> g_noticed;  // guarded by g_noticedMu

// After this process's own change: it is nobody else's.
void noteOwnChange() {
  std::lock_guard lock(g_noticedMu);
  if (g_noticed) g_noticed = stampOf(path());
}

}  // namespace

QString path() {
  return AppSettings::supportDirectoryURL() + QStringLiteral("/custom-layout.json");
}

ReadResult read() {
  QFile file(path());
  if (!file.exists()) return {};
  if (!file.open(QIODevice::ReadOnly)) return {{}, true};
  // One byte over the limit tells a file that is too large.
  const QByteArray bytes = file.read(kMaxBytes + 1);
  std::optional<Overrides> overrides = parse(bytes);
  if (!overrides) return {{}, true};
  return {std::move(*overrides), false};
}

bool update(const std::function<void(Overrides&)>& change) {
  const QString file = path();
  const UserDataStatus status = AppSettings::withStoreLock(file, [&]() -> UserDataStatus {
    ReadResult current = read();
    if (current.damaged && !keepAside(file)) return UserDataStatus::posixError(EIO);
    change(current.overrides);
    UserDataStatus written =
        storefiles::writeAtomically(file, encode(current.overrides).toStdString());
    noteOwnChange();
    return written;
  });
  if (!status.ok()) {
    platform::log::line(QStringLiteral("failed to save custom-layout.json: ") +
                        status.description());
    return false;
  }
  return true;
}

bool remove() {
  QFile file(path());
  const bool removed = !file.exists() || file.remove();
  noteOwnChange();
  return removed;
}

bool takeOutsideChange() {
  std::lock_guard lock(g_noticedMu);
  const QByteArray now = stampOf(path());
  const bool changed = g_noticed && *g_noticed != now;
  g_noticed = now;
  return changed;
}

}  // namespace tolvani::CustomLayoutFile
