// What Tolvani keeps of a person's typing is theirs alone: the folders it makes are 0700 and the
// files it writes 0600, whatever the umask, and at start it takes others' access away from its
// own folders and files that an earlier version left open. Thread-safety: any thread.
#ifndef TOLVANI_PLATFORM_PRIVATEFILES_H_
#define TOLVANI_PLATFORM_PRIVATEFILES_H_

#include <QFileDevice>
#include <QString>

namespace tolvani::platform::privatefiles {

// Creates `folder` and its missing parents, each 0700; folders that exist keep their mode. True
// when `folder` is a folder afterwards.
bool makeFolder(const QString& folder);
// Makes the open `file` 0600. On a QSaveFile that is its temporary file, which the commit then
// renames into place; the file it replaces gives it its mode otherwise.
bool makePrivate(QFileDevice& file);
// Makes the file at `path` 0600; a symbolic link is left alone.
bool makePrivate(const QString& path);
// Takes the group's and others' access away from `folder` and from what it holds, folders
// included: only what belongs to this user, never through a symbolic link.
void tighten(const QString& folder);

}  // namespace tolvani::platform::privatefiles

#endif  // TOLVANI_PLATFORM_PRIVATEFILES_H_
