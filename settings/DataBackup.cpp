#include "settings/DataBackup.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"
#include "settings/BackupMerge.h"
#include "settings/BackupSanitizer.h"
#include "settings/StoreFilesInternal.h"
#include "settings/TextShortcutFile.h"
#include "settings/TextShortcuts.h"
#include "store_bounds.h"
#include "store_io.h"

namespace tolvani {

namespace {

using Json = nlohmann::json;

// The store files' bounds leave room for one import; a larger one could push a store past them.
static_assert(static_cast<std::size_t>(AppSettings::maxImportedUserDataBytes) <=
              store_io::bounds::kImportedBytes);

using storefiles::fileSystem;
using storefiles::fromIo;
using storefiles::nativePath;
using storefiles::writeAtomically;

// One store that an import writes.
struct Target {
  std::string key;  // in the backup
  QString url;
  std::string cleanedBytes;
  bool existed = false;    // the file was there before the import
  std::string savedBytes;  // its content then
  std::string mergedBytes;
  int keptWords = 0;  // the dictionary: the incoming words that the merged store holds
};

// The incoming words that the merged dictionary holds.
int keptWords(const Json& incoming, const Json& merged) {
  const auto in = incoming.find("words");
  const auto kept = merged.find("words");
  if (in == incoming.end() || !in->is_object() || kept == merged.end() || !kept->is_object())
    return 0;
  int n = 0;
  for (const auto& [word, entry] : in->items()) n += kept->contains(word) ? 1 : 0;
  return n;  // at most the cleaner's cap
}

// Reads the target's file and merges the cleaned store into it, in memory.
UserDataStatus mergeTarget(Target& target) {
  const std::optional<Json> incoming = BackupSanitizer::parseJson(target.cleanedBytes);
  if (!incoming || !incoming->is_object()) return UserDataStatus::corruptFile(target.url);
  Json current = Json::object();
  const store_io::IoStatus read = fileSystem().read_file(nativePath(target.url), target.savedBytes);
  if (read.ok()) {
    target.existed = true;
    // A map named twice would lose one of its copies in the rewrite.
    std::optional<Json> parsed =
        BackupSanitizer::parseJson(target.savedBytes, /*rejectDuplicateTopLevelKeys=*/true);
    if (!parsed || !parsed->is_object()) return UserDataStatus::corruptFile(target.url);
    current = std::move(*parsed);
  } else if (read.damaged()) {
    return UserDataStatus::corruptFile(target.url);
  } else if (read.error != ENOENT) {
    return fromIo(read);
  } else {
    target.savedBytes.clear();
  }
  std::optional<Json> merged = BackupMerge::mergedStore(target.key, std::move(current), *incoming);
  if (!merged) return UserDataStatus::corruptFile(target.url);
  if (target.key == "dictionary") {
    const double now = std::floor(platform::clock().wallSeconds());
    BackupMerge::dropWordsTheEngineDrops(*merged, now > 0 ? static_cast<std::uint64_t>(now) : 0);
    target.keptWords = keptWords(*incoming, *merged);
  }
  try {
    target.mergedBytes = merged->dump();
    return {};
  } catch (const std::exception&) {
    return UserDataStatus::posixError(EINVAL);
  }
}

// Every merge before the first write, so that an unreadable store stops the import with nothing
// written. Requires: the locks of all targets are held.
UserDataStatus mergeAndWrite(std::vector<Target>& targets, bool& storesUnchanged) {
  for (Target& target : targets)
    if (UserDataStatus merged = mergeTarget(target); !merged.ok()) return merged;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const UserDataStatus written = writeAtomically(targets[i].url, targets[i].mergedBytes);
    if (written.ok()) continue;
    // Latest first, the failed one included: its rename may have happened before the folder
    // flush failed. Every store is tried, whatever became of the one before.
    for (std::size_t j = i + 1; j-- > 0;) {
      const UserDataStatus restored =
          storefiles::restore(targets[j].url, targets[j].existed, targets[j].savedBytes);
      if (restored.ok()) continue;
      storesUnchanged = false;
      platform::log::line(QStringLiteral("learned data import could not restore ") +
                          QFileInfo(targets[j].url).fileName() + QStringLiteral(": ") +
                          restored.description());
    }
    return written;
  }
  return {};
}

LearnedDataImportResult result(LearnedDataImportResult::Kind kind, int words = 0,
                               bool storesUnchanged = true) {
  LearnedDataImportResult r;
  r.kind = kind;
  r.words = words;
  r.storesUnchanged = storesUnchanged;
  return r;
}

}  // namespace

namespace AppSettings {

std::vector<UserDataFile> userDataFiles() {
  const QString urls[] = {userDictionaryURL(), userBigramsURL(),     userTrigramsURL(),
                          userRejectionsURL(), selectionMemoryURL(), englishPairsURL()};
  std::vector<UserDataFile> files;
  for (std::size_t i = 0; i < std::size(urls); ++i)
    files.push_back({QString::fromLatin1(BackupSanitizer::kStoreKeys[i]), urls[i]});
  return files;
}

std::optional<QByteArray> exportUserData() {
  Json document = Json::object();
  for (const UserDataFile& file : userDataFiles()) {
    std::string bytes;
    if (!fileSystem().read_file(nativePath(file.url), bytes).ok()) continue;
    std::optional<Json> store = BackupSanitizer::parseJson(bytes);
    if (!store || !(store->is_object() || store->is_array())) continue;
    document[file.key.toStdString()] = std::move(*store);
  }
  document["version"] = 2;
  const auto now = static_cast<qint64>(std::floor(platform::clock().wallSeconds()));
  document["exported_at"] =
      QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(Qt::ISODate).toStdString();
  try {
    return QByteArray::fromStdString(document.dump(2));  // objects keep their keys sorted
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

LearnedDataImportResult importUserData(const QByteArray& data) {
  using Kind = LearnedDataImportResult::Kind;
  if (data.size() > maxImportedUserDataBytes) {
    platform::log::line(QStringLiteral("rejected oversized user data import"));
    return result(Kind::tooLarge);
  }
  const std::optional<Json> backup =
      BackupSanitizer::parseJson(std::string_view(data.constData(), data.size()));
  if (!backup || !backup->is_object()) return result(Kind::invalid);
  const std::map<std::string, std::string> cleaned =
      BackupSanitizer::sanitizedUserDataFiles(*backup);
  if (cleaned.empty()) return result(Kind::invalid);

  std::vector<Target> targets;
  for (const UserDataFile& file : userDataFiles()) {
    const std::string key = file.key.toStdString();
    const auto it = cleaned.find(key);
    // One unusable store rejects the whole document.
    if (it == cleaned.end()) {
      if (backup->contains(key)) return result(Kind::invalid);
      continue;
    }
    targets.push_back({key, file.url, it->second, false, {}, {}});
  }
  // One lock order for every holder of several locks.
  std::sort(targets.begin(), targets.end(),
            [](const Target& a, const Target& b) { return a.url < b.url; });
  QStringList urls;
  for (const Target& target : targets) urls.append(target.url);

  bool storesUnchanged = true;
  UserDataStatus status =
      fromIo(fileSystem().create_directories(nativePath(supportDirectoryURL())));
  if (status.ok())
    status = withStoreLocks(urls, [&] { return mergeAndWrite(targets, storesUnchanged); });
  postDidChange(true);
  if (!status.ok()) {
    platform::log::line(QStringLiteral("learned data import failed: ") + status.description());
    return result(Kind::failed, 0, storesUnchanged);
  }
  int kept = 0;
  for (const Target& target : targets) kept += target.keptWords;
  return result(Kind::imported, kept);
}

std::optional<std::pair<int, int>> importTextShortcuts(const QByteArray& data) {
  const TextShortcutFile::ParseResult parsed = TextShortcutFile::parse(data);
  if (parsed.shortcuts.isEmpty()) return std::nullopt;
  const TextShortcutFile::MergeResult merged =
      TextShortcutFile::merging(parsed.shortcuts, textShortcuts());
  setTextShortcuts(merged.shortcuts);
  postDidChange(false);
  return std::pair{merged.added, parsed.skipped + merged.skipped};
}

QByteArray exportTextShortcuts() { return TextShortcutFile::exportData(textShortcuts()); }

}  // namespace AppSettings
}  // namespace tolvani
