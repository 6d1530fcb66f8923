// The file layer under the learned-store files, shared by the settings side's store edits and the
// backup so that both read and write through one replaceable file system
// (AppSettings::testSetStoreFileSystem). Internal to settings/. Thread-safety: every function may
// be called on any thread; the caller holds the lock of a store it writes.
#ifndef TOLVANI_SETTINGS_STOREFILESINTERNAL_H_
#define TOLVANI_SETTINGS_STOREFILESINTERNAL_H_

#include <QString>
#include <filesystem>
#include <string>

#include "settings/AppSettingsUserData.h"
#include "store_io.h"

namespace tolvani::storefiles {

// The file system in use: the real one unless a test replaced it.
store_io::StoreFileSystem& fileSystem();

std::filesystem::path nativePath(const QString& path);

UserDataStatus fromIo(const store_io::IoStatus& status);

// Replaces the file at `path` with `bytes` through a flushed temporary file and rename.
UserDataStatus writeAtomically(const QString& path, const std::string& bytes);

// Puts the store at `path` back as it was before a write: `bytesBefore` when it `existed`, else no
// file. One that already is (a write that failed before its rename) is left alone.
UserDataStatus restore(const QString& path, bool existed, const std::string& bytesBefore);

}  // namespace tolvani::storefiles

#endif  // TOLVANI_SETTINGS_STOREFILESINTERNAL_H_
