#include "platform/Defaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/BoundedFile.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/PrivateFiles.h"
#include "platform/PropertyList.h"

namespace tolvani::platform {

namespace {

// What tells one version of the file from another: a replacement by rename brings a new inode,
// and a rewrite in place a new modification time or size.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileIdentity& o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileIdentity identityOf(const struct stat& st) {
  FileIdentity id;
  id.exists = true;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.modified = st.st_mtim;
  id.changed = st.st_ctim;
  return id;
}

FileIdentity identityOfPath(const QByteArray& path) {
  struct stat st {};
  if (::stat(path.constData(), &st) != 0) return {};
  return identityOf(st);
}

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool writeAll(int fd, const QByteArray& bytes) {
  const char* at = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += n;
    left -= n;
  }
  return true;
}

std::mutex standardMu;
std::vector<std::unique_ptr<Defaults>>& standardSuites() {
  // Earlier suites stay alive after a test reset, so references handed out earlier stay valid.
  static std::vector<std::unique_ptr<Defaults>> suites;
  return suites;
}

}  // namespace

struct Defaults::State {
  QString filePath;       // fixed at construction
  QByteArray nativePath;  // fixed at construction
  QByteArray lockPath;    // fixed at construction

  // Held by this process's writer for a whole read-modify-write of the file, before mu.
  mutable std::mutex writeMu;
  mutable std::mutex mu;
  mutable QVariantMap stored;           // guarded by mu: the file's content as last read
  mutable FileIdentity storedIdentity;  // guarded by mu
  mutable bool loaded = false;          // guarded by mu
  mutable bool damaged = false;         // guarded by mu: the file read was not a dictionary
  QVariantMap registered;               // guarded by mu
  // guarded by mu: the values this process wrote or took note of last; none before the first
  // takeOutsideChange.
  mutable std::optional<QVariantMap> noticed;

  // Reads the file again when it is not the version last read. Requires: mu held.
  void refresh() const {
    const FileIdentity now = identityOfPath(nativePath);
    if (loaded && now == storedIdentity) return;
    loaded = true;
    storedIdentity = now;
    stored.clear();
    damaged = false;
    if (!now.exists) return;
    QByteArray bytes;
    int error = 0;
    // Opening a FIFO without O_NONBLOCK would wait for a writer for ever, and a device such as
    // /dev/zero reports no size and never ends.
    switch (files::readBounded(nativePath, propertylist::kMaxBytes, bytes, error)) {
      case files::BoundedRead::kFailed:
        log::line(QStringLiteral("cannot read the settings file ") + filePath +
                  QStringLiteral(": ") + systemError(error));
        return;
      case files::BoundedRead::kNotRegularFile:
        log::line(QStringLiteral("the settings file is not a regular file, read as empty: ") +
                  filePath);
        damaged = true;
        return;
      case files::BoundedRead::kTooLarge:
        log::line(QStringLiteral("the settings file is too large, read as empty: ") + filePath);
        damaged = true;
        return;
      case files::BoundedRead::kRead:
        break;
    }
    if (bytes.isEmpty()) return;
    std::optional<QVariantMap> values = propertylist::parseDictionary(bytes);
    if (!values) {
      // Left as it is: the next change replaces it, and until then nothing of it is lost.
      log::line(QStringLiteral("the settings file is not a property list dictionary, read as "
                               "empty: ") +
                filePath);
      damaged = true;
      return;
    }
    stored = std::move(*values);
  }

  // Writes `values` in place of the file. Requires: writeMu held, mu not held. The file is
  // written and synced without mu, so that readers (the keys on the main thread) do not wait for
  // the disk; they see the values before the change until the file is replaced.
  bool write(const QVariantMap& values, const QVariantMap& before) const {
    const std::optional<QByteArray> bytes = propertylist::toBinary(values);
    if (!bytes) {
      log::line(QStringLiteral("cannot encode the settings for ") + filePath);
      return false;
    }
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!privatefiles::makeFolder(folder)) {
      log::line(QStringLiteral("cannot create the folder ") + folder);
      return false;
    }
    QByteArray tempPath = nativePath + ".XXXXXX";
    Fd temp(::mkostemp(tempPath.data(), O_CLOEXEC));
    if (temp.get() < 0) {
      log::line(QStringLiteral("cannot create a temporary file beside ") + filePath +
                QStringLiteral(": ") + systemError(errno));
      return false;
    }
    auto fail = [&](const char* step) {
      const int error = errno;
      ::unlink(tempPath.constData());
      log::line(QStringLiteral("cannot %1 the settings file ").arg(QLatin1String(step)) + filePath +
                QStringLiteral(": ") + systemError(error));
      return false;
    };
    // The data must be on disk before the rename makes it the file, or a power loss could leave
    // an empty file under the real name.
    if (!writeAll(temp.get(), *bytes)) return fail("write");
    if (::fsync(temp.get()) != 0) return fail("sync");
    if (::close(temp.release()) != 0) return fail("close");
    {
      std::lock_guard lock(mu);
      if (damaged && !preserveDamaged()) return fail("keep a copy of");
      if (::rename(tempPath.constData(), nativePath.constData()) != 0) return fail("replace");
      stored = values;
      // Only this write's own change counts as noticed: what another process changed before it,
      // which the file read for this write carries on, is still told by takeOutsideChange.
      if (noticed) {
        for (const QVariantMap* side : {&before, &values}) {
          for (auto it = side->begin(); it != side->end(); ++it) {
            const auto now = values.constFind(it.key());
            if (now == values.constEnd())
              noticed->remove(it.key());
            else if (before.value(it.key()) != *now)
              noticed->insert(it.key(), *now);
          }
        }
      }
      storedIdentity = identityOfPath(nativePath);
      loaded = true;
      damaged = false;
    }
    // The rename itself lives in the folder's entries.
    Fd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
  }

  // Keeps the unreadable file under a new name ("<file>.corrupt-<seconds>") before a write
  // replaces it, so that replacing it loses nothing. Requires: mu held.
  bool preserveDamaged() const {
    const qint64 seconds = static_cast<qint64>(clock().wallSeconds());
    for (int attempt = 0; attempt < 100; ++attempt) {
      QByteArray copy = nativePath + ".corrupt-" + QByteArray::number(seconds);
      if (attempt > 0) copy += "-" + QByteArray::number(attempt);
      if (::link(nativePath.constData(), copy.constData()) == 0) {
        privatefiles::makePrivate(QFile::decodeName(copy));
        log::line(QStringLiteral("preserved the unreadable settings file at ") +
                  QFile::decodeName(copy));
        return true;
      }
      if (errno == ENOENT) return true;  // already gone: nothing to keep
      if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
  }

  // Runs a read-modify-write of the file under its lock file, which keeps out other processes'
  // writers; writeMu keeps out this process's other writers.
  template <typename Change>
  bool update(Change change) {
    std::lock_guard writing(writeMu);
    const QString folder = QFileInfo(filePath).absolutePath();
    privatefiles::makeFolder(folder);
    Fd lockFile(::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lockFile.get() >= 0) {
      while (::flock(lockFile.get(), LOCK_EX) != 0 && errno == EINTR) {
      }
    }
    QVariantMap values;
    {
      std::lock_guard lock(mu);
      refresh();
      values = stored;
    }
    const QVariantMap before = values;
    if (!change(values)) return true;
    return write(values, before);
  }
};

Defaults& Defaults::standard() {
  std::lock_guard lock(standardMu);
  auto& suites = standardSuites();
  if (suites.empty()) {
    suites.push_back(std::make_unique<Defaults>(paths::configHome() + QStringLiteral("/tolvani/") +
                                                bundle::identifier() + QStringLiteral(".plist")));
  }
  return *suites.back();
}

void Defaults::testResetStandard() {
  std::lock_guard lock(standardMu);
  auto& suites = standardSuites();
  suites.push_back(std::make_unique<Defaults>(paths::configHome() + QStringLiteral("/tolvani/") +
                                              bundle::identifier() + QStringLiteral(".plist")));
}

Defaults::Defaults(QString filePath) : state_(std::make_unique<State>()) {
  state_->filePath = std::move(filePath);
  state_->nativePath = QFile::encodeName(state_->filePath);
  state_->lockPath = state_->nativePath + ".lock";
}

Defaults::~Defaults() = default;

const QString& Defaults::filePath() const { return state_->filePath; }

std::optional<QVariant> Defaults::object(const QString& key) const {
  std::lock_guard lock(state_->mu);
  state_->refresh();
  auto it = state_->stored.constFind(key);
  if (it != state_->stored.constEnd()) return *it;
  it = state_->registered.constFind(key);
  if (it != state_->registered.constEnd()) return *it;
  return std::nullopt;
}

namespace {

template <typename T>
std::optional<T> typed(const std::optional<QVariant>& value, QMetaType::Type type) {
  if (!value || value->typeId() != type) return std::nullopt;
  return value->value<T>();
}

}  // namespace

std::optional<qint64> Defaults::integer(const QString& key) const {
  return typed<qint64>(object(key), QMetaType::LongLong);
}
std::optional<bool> Defaults::boolean(const QString& key) const {
  return typed<bool>(object(key), QMetaType::Bool);
}
std::optional<double> Defaults::floatingPoint(const QString& key) const {
  return typed<double>(object(key), QMetaType::Double);
}
std::optional<QString> Defaults::string(const QString& key) const {
  return typed<QString>(object(key), QMetaType::QString);
}
std::optional<QByteArray> Defaults::data(const QString& key) const {
  return typed<QByteArray>(object(key), QMetaType::QByteArray);
}

bool Defaults::set(const QString& key, const QVariant& value) {
  const std::optional<QVariant> checked = propertylist::normalized(value);
  if (!checked || key.contains(QChar(0))) {
    log::line(QStringLiteral("refused a settings value of type ") +
              QString::fromLatin1(value.typeName() ? value.typeName() : "none") +
              QStringLiteral(" for the key ") + key);
    return false;
  }
  return state_->update([&](QVariantMap& values) {
    values.insert(key, *checked);
    return true;
  });
}

bool Defaults::remove(const QString& key) {
  return state_->update([&](QVariantMap& values) { return values.remove(key) > 0; });
}

bool Defaults::takeOutsideChange() {
  std::lock_guard lock(state_->mu);
  state_->refresh();
  const bool changed = state_->noticed && *state_->noticed != state_->stored;
  state_->noticed = state_->stored;
  return changed;
}

void Defaults::registerDefaults(const QVariantMap& values) {
  std::lock_guard lock(state_->mu);
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (std::optional<QVariant> checked = propertylist::normalized(it.value()))
      state_->registered.insert(it.key(), std::move(*checked));
  }
}

}  // namespace tolvani::platform
