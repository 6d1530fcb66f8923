#include "platform/PrivateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

namespace tolvani::platform::privatefiles {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr QFileDevice::Permissions kFilePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
    QFileDevice::WriteUser;

bool isFolder(const QByteArray& path) {
  struct stat st {};
  return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeFolderNative(const QByteArray& path) {
  if (isFolder(path)) return true;
  if (errno != ENOENT) return false;
  const QString parent = QFileInfo(QFile::decodeName(path)).path();
  const QByteArray parentPath = QFile::encodeName(parent);
  if (parentPath != path && !parentPath.isEmpty() && !makeFolderNative(parentPath)) return false;
  if (::mkdir(path.constData(), kFolderMode) != 0) return errno == EEXIST && isFolder(path);
  // The umask may have taken the owner's own bits.
  return ::chmod(path.constData(), kFolderMode) == 0;
}

// Depth-first below the descriptor of a folder that belongs to this user; no link is followed.
void tightenBelow(int folderFd, int depth) {
  const int listFd = ::dup(folderFd);
  if (listFd < 0) return;
  DIR* d = ::fdopendir(listFd);
  if (d == nullptr) {
    ::close(listFd);
    return;
  }
  while (const dirent* e = ::readdir(d)) {
    const QByteArray name(e->d_name);
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(folderFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool folder = S_ISDIR(st.st_mode);
    if (st.st_uid != ::geteuid() || (!folder && !S_ISREG(st.st_mode))) continue;
    if ((st.st_mode & 077) != 0) ::fchmodat(folderFd, e->d_name, st.st_mode & 07700, 0);
    if (folder && depth > 0) {
      const int child =
          ::openat(folderFd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) {
        tightenBelow(child, depth - 1);
        ::close(child);
      }
    }
  }
  ::closedir(d);
}

}  // namespace

bool makeFolder(const QString& folder) {
  if (folder.isEmpty()) return false;
  return makeFolderNative(QFile::encodeName(QDir::cleanPath(folder)));
}

bool makePrivate(QFileDevice& file) { return file.setPermissions(kFilePermissions); }

bool makePrivate(const QString& path) {
  return ::fchmodat(AT_FDCWD, QFile::encodeName(path).constData(), kFileMode,
                    AT_SYMLINK_NOFOLLOW) == 0;
}

void tighten(const QString& folder) {
  // The folder itself may be a link the person made to elsewhere: it is still theirs.
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) {
    if ((st.st_mode & 077) != 0) ::fchmod(fd, st.st_mode & 07700);
    // The folders are flat; a few levels are more than enough and bound a deep tree.
    tightenBelow(fd, 4);
  }
  ::close(fd);
}

}  // namespace tolvani::platform::privatefiles
