#include "settings/AppSettingsUserData.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <system_error>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/StoreFilesInternal.h"
#include "store_io.h"

namespace tolvani {

namespace {

using Json = nlohmann::json;

constexpr std::uint64_t kMaxFrequencyBeforeAdd = 4294967294u;

using storefiles::fileSystem;
using storefiles::fromIo;
using storefiles::nativePath;
using storefiles::writeAtomically;

std::atomic<store_io::StoreFileSystem*> g_fileSystem{nullptr};

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

// The file layer's lines already carry the prefix that the log adds.
void logDiagnostic(std::string_view line) {
  constexpr std::string_view kPrefix = "[Tolvani] ";
  if (line.starts_with(kPrefix)) line.remove_prefix(kPrefix.size());
  platform::log::line(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

// Whole seconds since 1970 on the front end's clock, the fraction cut off; 0 before the epoch.
std::uint64_t nowSeconds() {
  const double seconds = std::floor(platform::clock().wallSeconds());
  if (!(seconds > 0)) return 0;
  if (seconds >= 18446744073709551615.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(seconds);
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

// `object[key]` as an unsigned 64-bit number; 0 when `object` is no object, the key is missing or
// its value is not a non-negative integer.
std::uint64_t readU64(const Json& object, const std::string& key) {
  if (!object.is_object()) return 0;
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_unsigned()) return 0;
  return it->get<std::uint64_t>();
}

QString newResetId() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

// The library's own DOM builder, stopped at a key named twice at the top level: keeping either
// value would silently drop the other map. (A parser callback would see the keys too, but it
// walks the whole parent object at the end of each member object: quadratic in the entries.)
class TopLevelKeysOnce : public nlohmann::detail::json_sax_dom_parser<Json> {
  using Dom = nlohmann::detail::json_sax_dom_parser<Json>;

 public:
  explicit TopLevelKeysOnce(Json& root) : Dom(root, /*allow_exceptions_=*/false) {}

  bool start_object(std::size_t elements) {
    ++depth_;
    return Dom::start_object(elements);
  }
  bool end_object() {
    --depth_;
    return Dom::end_object();
  }
  bool start_array(std::size_t elements) {
    ++depth_;
    return Dom::start_array(elements);
  }
  bool end_array() {
    --depth_;
    return Dom::end_array();
  }
  bool key(Json::string_t& name) {
    if (depth_ == 1 && !topLevelKeys_.insert(name).second) return false;
    return Dom::key(name);
  }

 private:
  int depth_ = 0;
  std::set<std::string> topLevelKeys_;
};

// Parses a store document; none when it is no JSON or names a top-level key twice.
std::optional<Json> parseDocument(const std::string& bytes) {
  try {
    Json root;
    TopLevelKeysOnce builder(root);
    if (!Json::sax_parse(bytes, &builder) || root.is_discarded()) return std::nullopt;
    return root;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// A store document read under its lock for a change.
struct StoreUpdate {
  explicit StoreUpdate(QString p) : path(std::move(p)) {}

  QString path;
  bool existed = false;
  std::string originalBytes;  // when it existed
  Json root;
  std::string newBytes;
};

// Reads `update.path` for a change of its map `mapKey`: a missing file starts as a document with
// only that map, empty; an existing one must be an object holding the map as an object.
UserDataStatus readForUpdate(StoreUpdate& update, const char* mapKey) {
  const store_io::IoStatus read =
      fileSystem().read_file(nativePath(update.path), update.originalBytes);
  if (read.error == ENOENT) {
    update.existed = false;
    update.originalBytes.clear();
    update.root = Json::object({{mapKey, Json::object()}});
    return {};
  }
  // A FIFO, a device or a file past the store's bound: damaged, as an unparsable file is.
  if (read.damaged()) return UserDataStatus::corruptFile(update.path);
  if (!read.ok()) return fromIo(read);
  update.existed = true;
  std::optional<Json> root = parseDocument(update.originalBytes);
  if (!root || !root->is_object()) return UserDataStatus::corruptFile(update.path);
  const auto map = root->find(mapKey);
  if (map == root->end() || !map->is_object()) return UserDataStatus::corruptFile(update.path);
  update.root = std::move(*root);
  return {};
}

UserDataStatus serialise(StoreUpdate& update) {
  try {
    update.newBytes = update.root.dump();
    return {};
  } catch (const std::exception&) {
    return UserDataStatus::posixError(EINVAL);
  }
}

std::string utf8(const QString& text) { return text.toStdString(); }

// Reads, changes and rewrites the user dictionary under its lock.
bool editUserDictionary(const std::function<void(Json& root)>& transform) {
  const QString path = AppSettings::userDictionaryURL();
  const UserDataStatus status = AppSettings::withStoreLock(path, [&]() -> UserDataStatus {
    StoreUpdate update(path);
    if (UserDataStatus read = readForUpdate(update, "words"); !read.ok()) return read;
    try {
      transform(update.root);
    } catch (const std::exception&) {
      return UserDataStatus::corruptFile(path);
    }
    if (UserDataStatus serialised = serialise(update); !serialised.ok()) return serialised;
    return writeAtomically(path, update.newBytes);
  });
  if (!status.ok()) {
    platform::log::line(QStringLiteral("failed to edit user dictionary: ") + status.description());
    return false;
  }
  AppSettings::postDidChange(true);
  return true;
}

Json objectAt(const Json& root, const std::string& key) {
  const auto it = root.find(key);
  return it != root.end() && it->is_object() ? *it : Json::object();
}

// The map `mapKey` of the file at `path`; empty when the file is missing or unreadable or the map
// is missing or malformed.
Json readMapLeniently(const QString& path, const char* mapKey) {
  std::string bytes;
  if (!fileSystem().read_file(nativePath(path), bytes).ok()) return Json::object();
  std::optional<Json> root = parseDocument(bytes);
  if (!root || !root->is_object()) return Json::object();
  return objectAt(*root, mapKey);
}

bool isInteger(const Json& value) {
  return value.is_number_integer();  // signed or unsigned, any 64-bit value
}

}  // namespace

namespace storefiles {

store_io::StoreFileSystem& fileSystem() {
  store_io::StoreFileSystem* fs = g_fileSystem.load(std::memory_order_acquire);
  if (fs != nullptr) return *fs;
  static store_io::PosixStoreFileSystem posix;
  return posix;
}

std::filesystem::path nativePath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

UserDataStatus fromIo(const store_io::IoStatus& status) {
  if (status.ok()) return {};
  return UserDataStatus::posixError(status.error);
}

UserDataStatus writeAtomically(const QString& path, const std::string& bytes) {
  return fromIo(
      store_io::write_store_atomically(fileSystem(), nativePath(path), bytes, logDiagnostic));
}

UserDataStatus restore(const QString& store, bool existed, const std::string& bytesBefore) {
  store_io::StoreFileSystem& fs = fileSystem();
  const std::filesystem::path path = nativePath(store);
  std::string current;
  const store_io::IoStatus read = fs.read_file(path, current);
  if (existed) {
    if (read.ok() && current == bytesBefore) return {};
    return writeAtomically(store, bytesBefore);
  }
  if (read.error == ENOENT) return {};
  const store_io::IoStatus removed = fs.remove(path);
  if (!removed.ok() && removed.error != ENOENT) return fromIo(removed);
  return fromIo(store_io::sync_parent_directory(fs, path));
}

}  // namespace storefiles

UserDataStatus UserDataStatus::posixError(int error) {
  UserDataStatus status;
  status.kind_ = Kind::kPosix;
  status.code_ = error != 0 ? error : EIO;
  return status;
}

UserDataStatus UserDataStatus::corruptFile(const QString& path) {
  UserDataStatus status;
  status.kind_ = Kind::kCorruptFile;
  status.path_ = path;
  return status;
}

QString UserDataStatus::description() const {
  switch (kind_) {
    case Kind::kOk:
      return QStringLiteral("No error.");
    case Kind::kPosix:
      return QString::fromStdString(std::generic_category().message(code_)) +
             QStringLiteral(" (POSIX error %1)").arg(code_);
    case Kind::kCorruptFile:
      return QStringLiteral(
                 "The file \u201C%1\u201D couldn\u2019t be opened because it isn\u2019t "
                 "in the correct format.")
          .arg(fileName(path_));
  }
  return {};
}

namespace AppSettings {

QString supportDirectoryURL() {
  // One folder for the engine and this side: the engine of this very process follows the
  // variable, and an edit made elsewhere would never reach it.
  const QString moved = qEnvironmentVariable("TOLVANI_DATA_DIR");
  if (!moved.isEmpty()) return moved;
  return platform::paths::userDataFolder();
}

QString userDictionaryURL() {
  return QDir(supportDirectoryURL()).filePath(QStringLiteral("user-dictionary.json"));
}
QString userBigramsURL() {
  return QDir(supportDirectoryURL()).filePath(QStringLiteral("user-bigrams.json"));
}
QString userTrigramsURL() {
  return QDir(supportDirectoryURL()).filePath(QStringLiteral("user-trigrams.json"));
}
QString userRejectionsURL() {
  return QDir(supportDirectoryURL()).filePath(QStringLiteral("rejections.json"));
}
QString selectionMemoryURL() {
  return QDir(supportDirectoryURL()).filePath(QStringLiteral("selection-memory.json"));
}
QString englishPairsURL() {
  return QDir(supportDirectoryURL()).filePath(QStringLiteral("english-pairs.json"));
}

QStringList learnedDataURLs() {
  return {userDictionaryURL(), userBigramsURL(),     userTrigramsURL(),
          userRejectionsURL(), selectionMemoryURL(), englishPairsURL()};
}

void revealLocalData() {
  const QString folder = supportDirectoryURL();
  (void)fileSystem().create_directories(nativePath(folder));
  revealInFileViewer(folder, QDBusConnection::sessionBus());
}

void revealInFileViewer(const QString& folder, const QDBusConnection& bus) {
  const QUrl url = QUrl::fromLocalFile(QDir(folder).absolutePath());
  static const QString kService = QStringLiteral("org.freedesktop.FileManager1");
  QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
  if (!names || (!names->isServiceRegistered(kService).value() &&
                 !names->activatableServiceNames().value().contains(kService))) {
    QDesktopServices::openUrl(url);
    return;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/FileManager1"),
                                     kService, QStringLiteral("ShowItems"));
  call << QStringList{url.toString()} << QString();
  // Asynchronous: a file manager being started on request must not stall the window.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [url](QDBusPendingCallWatcher* done) {
                     if (done->isError()) QDesktopServices::openUrl(url);
                     done->deleteLater();
                   });
}

UserDataStatus withStoreLock(const QString& store, const std::function<UserDataStatus()>& body) {
  store_io::StoreFileSystem& fs = fileSystem();
  const std::filesystem::path path = nativePath(store);
  if (UserDataStatus made = fromIo(fs.create_directories(store_io::folder_of(path))); !made.ok())
    return made;
  store_io::StoreLock lock;
  if (UserDataStatus locked = fromIo(lock.acquire(fs, path, store_io::StoreLock::Access::kPrivate));
      !locked.ok())
    return locked;
  return body();  // the lock is released on the way out, whatever the body returned
}

UserDataStatus withStoreLocks(const QStringList& stores,
                              const std::function<UserDataStatus()>& body) {
  // A second flock of the same file from this process would wait for the first for ever.
  QStringList distinct;
  for (const QString& store : stores)
    if (!distinct.contains(store)) distinct.append(store);
  std::function<UserDataStatus(qsizetype)> lockFrom = [&](qsizetype i) -> UserDataStatus {
    if (i == distinct.size()) return body();
    return withStoreLock(distinct[i], [&] { return lockFrom(i + 1); });
  };
  return lockFrom(0);
}

bool addUserWord(const QString& word) {
  const QString composed = word.normalized(QString::NormalizationForm_C);
  if (composed.trimmed().isEmpty()) return false;
  const std::string key = utf8(composed);
  const std::uint64_t now = nowSeconds();
  return editUserDictionary([&](Json& root) {
    Json words = objectAt(root, "words");
    Json entry = objectAt(words, key);
    const std::uint64_t oldFrequency = readU64(entry, "frequency");
    const std::uint64_t tombstone = readU64(objectAt(root, "tombstones"), key);
    entry["frequency"] = std::min(oldFrequency, kMaxFrequencyBeforeAdd) + 1;
    entry["last_used"] = std::max(now, saturatingAdd(tombstone, 1));
    words[key] = std::move(entry);
    root["words"] = std::move(words);
  });
}

bool removeUserWord(const QString& word) {
  const std::string key = utf8(word.normalized(QString::NormalizationForm_C));
  const std::uint64_t now = nowSeconds();
  return editUserDictionary([&](Json& root) {
    Json words = objectAt(root, "words");
    Json tombstones = objectAt(root, "tombstones");
    Json removed;
    if (const auto it = words.find(key); it != words.end()) {
      removed = *it;
      words.erase(it);
    }
    tombstones[key] = std::max({readU64(removed, "last_used"), readU64(removed, "last_decay"), now,
                                readU64(tombstones, key)});
    root["words"] = std::move(words);
    root["tombstones"] = std::move(tombstones);
  });
}

UserDataResult<std::vector<UserWordEntry>> loadUserDictionaryEntries() {
  const QString path = userDictionaryURL();
  std::string bytes;
  if (const store_io::IoStatus read = fileSystem().read_file(nativePath(path), bytes); !read.ok())
    return {std::nullopt, read.damaged() ? UserDataStatus::corruptFile(path) : fromIo(read)};
  std::optional<Json> root = parseDocument(bytes);
  if (!root || !root->is_object()) return {std::nullopt, UserDataStatus::corruptFile(path)};
  const auto words = root->find("words");
  if (words == root->end() || !words->is_object())
    return {std::nullopt, UserDataStatus::corruptFile(path)};
  std::vector<UserWordEntry> entries;
  entries.reserve(words->size());
  for (const auto& [word, entry] : words->items()) {
    if (!entry.is_object()) return {std::nullopt, UserDataStatus::corruptFile(path)};
    const auto frequency = entry.find("frequency");
    // The engine's counts fit; a larger number is no count.
    if (frequency == entry.end() || !isInteger(*frequency) ||
        (frequency->is_number_unsigned() &&
         frequency->get<std::uint64_t>() >
             static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())))
      return {std::nullopt, UserDataStatus::corruptFile(path)};
    // Any 64-bit time, the largest unsigned one included: an add after a tombstone for ever
    // writes it.
    const auto lastUsed = entry.find("last_used");
    if (lastUsed != entry.end() && !lastUsed->is_null() && !isInteger(*lastUsed))
      return {std::nullopt, UserDataStatus::corruptFile(path)};
    entries.push_back({QString::fromStdString(word), frequency->get<std::int64_t>()});
  }
  return {std::move(entries), {}};
}

int learnedWordCount() {
  const auto loaded = loadUserDictionaryEntries();
  if (!loaded.value) return 0;
  return static_cast<int>(
      std::min<std::size_t>(loaded.value->size(), std::numeric_limits<int>::max()));
}

std::vector<CorrectionPreference> correctionPreferences() {
  const Json selections = readMapLeniently(selectionMemoryURL(), "selections");
  const Json rejections = readMapLeniently(userRejectionsURL(), "entries");
  // UTF-8 byte order is code point order.
  std::set<std::string> raws;
  for (const auto& [raw, entry] : selections.items()) raws.insert(raw);
  for (const auto& [raw, entry] : rejections.items()) raws.insert(raw);
  std::vector<CorrectionPreference> out;
  out.reserve(raws.size());
  for (const std::string& raw : raws) {
    CorrectionPreference preference{QString::fromStdString(raw), std::nullopt, {}};
    if (const auto it = selections.find(raw); it != selections.end() && it->is_object()) {
      if (const auto text = it->find("text"); text != it->end() && text->is_string())
        preference.selected = QString::fromStdString(text->get<std::string>());
    }
    if (const auto it = rejections.find(raw); it != rejections.end() && it->is_object()) {
      // Keys of a parsed object come sorted by their bytes.
      for (const auto& [candidate, penalty] : it->items())
        preference.rejected.append(QString::fromStdString(candidate));
    }
    out.push_back(std::move(preference));
  }
  return out;
}

bool forgetCorrection(const QString& raw) {
  const std::string key = utf8(raw);
  // Lock order: the rejections before the selection memory.
  StoreUpdate rejections(userRejectionsURL());
  StoreUpdate selections(selectionMemoryURL());
  const std::pair<StoreUpdate*, const char*> documents[] = {{&rejections, "entries"},
                                                            {&selections, "selections"}};
  std::vector<UserDataStatus> rollbackFailures;
  const UserDataStatus status =
      withStoreLocks({rejections.path, selections.path}, [&]() -> UserDataStatus {
        for (const auto& [update, mapKey] : documents) {
          if (UserDataStatus read = readForUpdate(*update, mapKey); !read.ok()) return read;
          try {
            Json map = objectAt(update->root, mapKey);
            map.erase(key);
            update->root[mapKey] = std::move(map);
            update->root["reset_id"] = utf8(newResetId());
          } catch (const std::exception&) {
            return UserDataStatus::corruptFile(update->path);
          }
          if (UserDataStatus serialised = serialise(*update); !serialised.ok()) return serialised;
        }
        for (std::size_t i = 0; i < std::size(documents); ++i) {
          const UserDataStatus written =
              writeAtomically(documents[i].first->path, documents[i].first->newBytes);
          if (written.ok()) continue;
          // The failed write too: its rename may have happened before the folder flush failed.
          for (std::size_t j = 0; j <= i; ++j) {
            const StoreUpdate& update = *documents[j].first;
            if (UserDataStatus restored =
                    storefiles::restore(update.path, update.existed, update.originalBytes);
                !restored.ok())
              rollbackFailures.push_back(restored);
          }
          return written;
        }
        return {};
      });
  AppSettings::postDidChange(true);
  if (status.ok()) return true;
  platform::log::line(QStringLiteral("Could not forget correction: ") + status.description());
  for (const UserDataStatus& failure : rollbackFailures)
    platform::log::line(QStringLiteral("Could not forget correction: ") + failure.description());
  return false;
}

bool resetLearnedWords() {
  const std::string resetId = utf8(newResetId());
  Json document = Json::object();
  for (const char* map : {"words", "tombstones", "pairs", "triples", "entries", "selections"})
    document[map] = Json::object();
  document["reset_id"] = resetId;
  const std::string bytes = document.dump();
  UserDataStatus status;
  for (const QString& store : learnedDataURLs()) {
    status = withStoreLock(store, [&] { return writeAtomically(store, bytes); });
    if (!status.ok()) break;
  }
  AppSettings::postDidChange(true);
  if (status.ok()) return true;
  platform::log::line(QStringLiteral("failed to reset learned data: ") + status.description());
  return false;
}

void testSetStoreFileSystem(store_io::StoreFileSystem* fs) {
  g_fileSystem.store(fs, std::memory_order_release);
}

}  // namespace AppSettings
}  // namespace tolvani
