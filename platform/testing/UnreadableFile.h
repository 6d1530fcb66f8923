// What a file's name may hold that no reader can take: a FIFO (opening it for reading waits for a
// writer), a link to /dev/zero (reading it never ends) and a valid document padded with white
// space to one byte past the size its reader accepts. Thread-safety: a test's thread.
#ifndef TOLVANI_PLATFORM_TESTING_UNREADABLEFILE_H_
#define TOLVANI_PLATFORM_TESTING_UNREADABLEFILE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstddef>
#include <string>

namespace tolvani::testing {

enum class Unreadable { kFifo, kLinkToZero, kOversized };

inline const char* describe(Unreadable shape) {
  switch (shape) {
    case Unreadable::kFifo:
      return "a FIFO";
    case Unreadable::kLinkToZero:
      return "a link to /dev/zero";
    case Unreadable::kOversized:
      return "an oversized file";
  }
  return "?";
}

// Puts `shape` at `path` in place of whatever is there: for kOversized, `document` padded to
// `bound` + 1 bytes. Answers the bytes of an oversized file, which keptAsPlaced compares.
inline std::string placeUnreadable(const QString& path, Unreadable shape,
                                   const std::string& document, std::size_t bound) {
  const QByteArray native = QFile::encodeName(path);
  QDir().mkpath(QFileInfo(path).path());
  QFile::remove(path);
  switch (shape) {
    case Unreadable::kFifo:
      EXPECT_EQ(::mkfifo(native.constData(), 0600), 0);
      return {};
    case Unreadable::kLinkToZero:
      EXPECT_EQ(::symlink("/dev/zero", native.constData()), 0);
      return {};
    case Unreadable::kOversized: {
      std::string bytes = document;
      bytes.resize(bound + 1, ' ');
      QFile file(path);
      EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
      EXPECT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
                static_cast<qint64>(bytes.size()));
      return bytes;
    }
  }
  return {};
}

// Whether `path` is still what placeUnreadable put there (`oversized`: the bytes it answered).
// Never opens anything but a regular file.
inline bool keptAsPlaced(const QString& path, Unreadable shape, const std::string& oversized) {
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
  switch (shape) {
    case Unreadable::kFifo:
      return S_ISFIFO(st.st_mode);
    case Unreadable::kLinkToZero:
      return S_ISLNK(st.st_mode) && QFile::symLinkTarget(path) == QStringLiteral("/dev/zero");
    case Unreadable::kOversized: {
      QFile file(path);
      return S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly) &&
             file.readAll().toStdString() == oversized;
    }
  }
  return false;
}

}  // namespace tolvani::testing

#endif  // TOLVANI_PLATFORM_TESTING_UNREADABLEFILE_H_
