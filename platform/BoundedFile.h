// Reading a small file that the user's folders may hold in any shape: only a regular file is
// read, and only up to a bound, so that a FIFO, a device or an oversized file is answered at once.
// Thread-safety: any thread.
#ifndef TOLVANI_PLATFORM_BOUNDEDFILE_H_
#define TOLVANI_PLATFORM_BOUNDEDFILE_H_

#include <QByteArray>
#include <QString>

namespace tolvani::platform::files {

enum class BoundedRead {
  kRead,
  kFailed,          // missing or unreadable; the reason is in `error`
  kNotRegularFile,  // a FIFO, a device, a socket or a link to one (a folder is kFailed, EISDIR)
  kTooLarge,        // more than the bound
};

// Reads the file at `path` into `out` (replacing its content) when it is a regular file of at
// most `maxBytes`. Never waits for a FIFO's writer.
BoundedRead readBounded(const QByteArray& path, qsizetype maxBytes, QByteArray& out, int& error);
BoundedRead readBounded(const QString& path, qsizetype maxBytes, QByteArray& out, int& error);

// Whether `path` names something that is there and is neither a regular file nor a folder, also
// through a link: a writer that follows links (QSaveFile) must not write to it.
bool isSpecialFile(const QString& path);

// Moves the entry `path` (a link itself, not its target) to "<path>.corrupt-<seconds>", or to
// that name followed by "-<n>" when it is taken, never replacing anything; logs the new name.
// False, with the reason logged, when it cannot.
bool setAside(const QString& path);

}  // namespace tolvani::platform::files

#endif  // TOLVANI_PLATFORM_BOUNDEDFILE_H_
