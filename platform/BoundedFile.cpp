#include "platform/BoundedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Clock.h"
#include "platform/Log.h"

namespace tolvani::platform::files {

BoundedRead readBounded(const QByteArray& path, qsizetype maxBytes, QByteArray& out, int& error) {
  out.clear();
  // Without O_NONBLOCK, opening a FIFO waits for a writer for ever.
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return error == ENXIO ? BoundedRead::kNotRegularFile : BoundedRead::kFailed;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
    return BoundedRead::kFailed;
  }
  if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
    return BoundedRead::kFailed;
  }
  if (!S_ISREG(st.st_mode)) return BoundedRead::kNotRegularFile;
  if (st.st_size > maxBytes) return BoundedRead::kTooLarge;
  // The file may grow while it is read: one byte past the bound tells.
  QByteArray bytes(static_cast<qsizetype>(st.st_size) + 1, '\0');
  qsizetype filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > maxBytes) return BoundedRead::kTooLarge;
      bytes.resize(std::min(bytes.size() * 2, maxBytes + 1));
    }
    const ssize_t n = ::read(fd, bytes.data() + filled, static_cast<size_t>(bytes.size() - filled));
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return BoundedRead::kFailed;
    }
    if (n == 0) break;
    filled += n;
  }
  bytes.truncate(filled);
  out = std::move(bytes);
  return BoundedRead::kRead;
}

BoundedRead readBounded(const QString& path, qsizetype maxBytes, QByteArray& out, int& error) {
  return readBounded(QFile::encodeName(path), maxBytes, out, error);
}

bool isSpecialFile(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return false;
  return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

bool setAside(const QString& path) {
  const QByteArray from = QFile::encodeName(path);
  const qint64 seconds = static_cast<qint64>(clock().wallSeconds());
  for (int attempt = 0; attempt < 100; ++attempt) {
    QByteArray to = from + ".corrupt-" + QByteArray::number(seconds);
    if (attempt > 0) to += "-" + QByteArray::number(attempt);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
      log::line(QStringLiteral("preserved the unreadable file at ") + QFile::decodeName(to));
      return true;
    }
    if (errno != EEXIST) break;
  }
  log::line(QStringLiteral("cannot set aside the unreadable file ") + path + QStringLiteral(": ") +
            QString::fromLocal8Bit(std::strerror(errno)));
  return false;
}

}  // namespace tolvani::platform::files
