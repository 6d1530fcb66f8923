#include "setup/IBusInputSources.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <ibus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QXmlStreamReader>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/Desktop.h"
#include "setup/SessionKeymap.h"

namespace tolvani {

namespace {

constexpr char kIBusGeneralSchema[] = "org.freedesktop.ibus.general";
constexpr char kPreloadEnginesKey[] = "preload-engines";
constexpr char kEnginesOrderKey[] = "engines-order";
constexpr char kIBusPanelSchema[] = "org.freedesktop.ibus.panel";
constexpr char kTrayIconKey[] = "show-icon-on-systray";
constexpr char kSystemComponentFolder[] = "/usr/share/ibus/component";

// How long registration waits for a restarted daemon, and for the one it asks to be gone.
constexpr auto kDaemonWait = std::chrono::seconds(3);
constexpr auto kDaemonPoll = std::chrono::milliseconds(50);
constexpr auto kDaemonStartWait = std::chrono::seconds(2);
// How much longer a restarted daemon whose process still runs may take to answer.
constexpr auto kDaemonLateWait = std::chrono::seconds(7);

template <class T>
struct GObjectRef {
  T* ptr = nullptr;
  explicit GObjectRef(T* p = nullptr) : ptr(p) {}
  ~GObjectRef() {
    if (ptr) g_object_unref(ptr);
  }
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;
  GObjectRef(GObjectRef&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
  GObjectRef& operator=(GObjectRef&& other) noexcept {
    if (this != &other) {
      if (ptr) g_object_unref(ptr);
      ptr = std::exchange(other.ptr, nullptr);
    }
    return *this;
  }
  explicit operator bool() const { return ptr != nullptr; }
};

// An engine IBus offers, with the keyboard layout it types with.
struct OfferedEngine {
  QString name;
  sessionkeymap::Layout layout;
};

struct ComponentFile {
  QString path;
  QString name;
  QString exec;
  std::vector<OfferedEngine> engines;

  QStringList engineNames() const {
    QStringList names;
    for (const OfferedEngine& engine : engines) names.append(engine.name);
    return names;
  }
};

// The component described by the file at `path`, read without running anything it names.
std::optional<ComponentFile> readComponent(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QXmlStreamReader xml(&file);
  if (!xml.readNextStartElement() || xml.name() != QLatin1String("component")) return std::nullopt;
  ComponentFile component{path, {}, {}, {}};
  while (xml.readNextStartElement()) {
    if (xml.name() == QLatin1String("name")) {
      component.name = xml.readElementText().trimmed();
    } else if (xml.name() == QLatin1String("exec")) {
      component.exec = xml.readElementText().trimmed();
    } else if (xml.name() == QLatin1String("engines")) {
      while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("engine")) {
          xml.skipCurrentElement();
          continue;
        }
        OfferedEngine engine;
        while (xml.readNextStartElement()) {
          if (xml.name() == QLatin1String("name"))
            engine.name = xml.readElementText().trimmed();
          else if (xml.name() == QLatin1String("layout"))
            engine.layout.layout = xml.readElementText().trimmed();
          else if (xml.name() == QLatin1String("layout_variant"))
            engine.layout.variant = xml.readElementText().trimmed();
          else
            xml.skipCurrentElement();
        }
        if (!engine.name.isEmpty()) component.engines.push_back(std::move(engine));
      }
    } else {
      xml.skipCurrentElement();
    }
  }
  if (xml.hasError() || component.name.isEmpty()) return std::nullopt;
  return component;
}

// The first component in the daemon's folders that `matches`.
template <class F>
std::optional<ComponentFile> findComponent(F matches) {
  for (const QString& folder : IBusInputSources::componentFolders()) {
    const QDir dir(folder);
    for (const QString& entry :
         dir.entryList({QStringLiteral("*.xml")}, QDir::Files | QDir::Readable, QDir::Name)) {
      std::optional<ComponentFile> component = readComponent(dir.filePath(entry));
      if (component && matches(*component)) return component;
    }
  }
  return std::nullopt;
}

// The engines of every component in the daemon's folders: what a daemon started now would offer
// (its registry cache is built from these files).
std::vector<OfferedEngine> componentEngines() {
  std::vector<OfferedEngine> engines;
  findComponent([&](const ComponentFile& c) {
    engines.insert(engines.end(), c.engines.begin(), c.engines.end());
    return false;
  });
  return engines;
}

std::optional<ComponentFile> findComponent(const QString& bundleID) {
  return findComponent([&](const ComponentFile& c) { return c.name == bundleID; });
}

QStringList ibusList(const char* key) {
  GObjectRef<GSettings> settings(g_settings_new(kIBusGeneralSchema));
  gchar** values = g_settings_get_strv(settings.ptr, key);
  QStringList names;
  for (gchar** it = values; it && *it; ++it) names.append(QString::fromUtf8(*it));
  g_strfreev(values);
  return names;
}

int writeIBusList(const char* key, const QStringList& names) {
  std::vector<QByteArray> bytes;
  for (const QString& n : names) bytes.push_back(n.toUtf8());
  std::vector<const gchar*> strv;
  for (const QByteArray& b : bytes) strv.push_back(b.constData());
  strv.push_back(nullptr);
  GObjectRef<GSettings> settings(g_settings_new(kIBusGeneralSchema));
  const bool written = g_settings_set_strv(settings.ptr, key, strv.data());
  g_settings_sync();
  return written ? 0 : -EACCES;
}

QStringList preloadEngines() { return ibusList(kPreloadEnginesKey); }

// The engine names in the user's input sources.
QSet<QString> userSources() {
  if (!IBusInputSources::schemaInstalled(kIBusGeneralSchema)) return {};
  const QStringList names = preloadEngines();
  return QSet<QString>(names.begin(), names.end());
}

void initIBus() {
  static std::once_flag once;
  std::call_once(once, [] { ibus_init(); });
}

GObjectRef<IBusBus> tryConnect() {
  initIBus();
  GObjectRef<IBusBus> bus(ibus_bus_new());
  if (bus && !ibus_bus_is_connected(bus.ptr)) return GObjectRef<IBusBus>();
  return bus;
}

// Whether a daemon process for the session's address runs: one restarting executes itself again
// in the same process, and a new one writes the address file only once it listens. Without one,
// nothing can answer soon. The address file names its daemon's process; a daemon at an address
// the environment gives was started with its socket's path (or, with none, is this user's).
bool daemonProcessRuns() {
  const QString address = qEnvironmentVariable("IBUS_ADDRESS");
  if (address.isEmpty()) {
    QFile file(QString::fromLocal8Bit(ibus_get_socket_path()));
    if (!file.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (!line.startsWith("IBUS_DAEMON_PID=")) continue;
      bool ok = false;
      const pid_t pid = line.mid(16).trimmed().toInt(&ok);
      return ok && pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
    }
    return false;
  }
  const qsizetype at = address.indexOf(QLatin1String("path="));
  const QByteArray place =
      at < 0 ? QByteArray() : address.mid(at + 5).section(QLatin1Char(','), 0, 0).toLocal8Bit();
  for (const QFileInfo& process :
       QDir(QStringLiteral("/proc")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (!process.fileName().front().isDigit()) continue;
    QFile comm(process.filePath() + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "ibus-daemon") continue;
    QFile cmdline(process.filePath() + QStringLiteral("/cmdline"));
    if (place.isEmpty() ? process.ownerId() == ::getuid()
                        : cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(place))
      return true;
  }
  return false;
}

// A connection to the daemon; empty when none answers. The first attempt of the process waits a
// little for a daemon that is restarting (a setup step may just have restarted it); later ones,
// in a process that already waited, do not.
GObjectRef<IBusBus> connectBus() {
  static bool waited = false;
  GObjectRef<IBusBus> bus = tryConnect();
  if (bus || waited || !daemonProcessRuns()) return bus;
  waited = true;
  const auto deadline = std::chrono::steady_clock::now() + kDaemonStartWait;
  while (!bus && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kDaemonPoll);
    bus = tryConnect();
  }
  return bus;
}

std::vector<OfferedEngine> listedEngines(IBusBus* bus) {
  std::vector<OfferedEngine> listed;
  GList* engines = ibus_bus_list_engines(bus);
  for (GList* it = engines; it; it = it->next) {
    auto* desc = IBUS_ENGINE_DESC(it->data);
    listed.push_back({QString::fromUtf8(ibus_engine_desc_get_name(desc)),
                      {QString::fromUtf8(ibus_engine_desc_get_layout(desc)),
                       QString::fromUtf8(ibus_engine_desc_get_layout_variant(desc))}});
    g_object_unref(desc);
  }
  g_list_free(engines);
  return listed;
}

// The engines IBus offers: the running daemon's, else those it will read when it starts.
std::vector<OfferedEngine> offeredEngines() {
  if (GObjectRef<IBusBus> bus = connectBus()) return listedEngines(bus.ptr);
  return componentEngines();
}

bool listsAll(IBusBus* bus, const QStringList& wanted) {
  const std::vector<OfferedEngine> listed = listedEngines(bus);
  return std::all_of(wanted.begin(), wanted.end(), [&](const QString& name) {
    return std::any_of(listed.begin(), listed.end(),
                       [&](const OfferedEngine& e) { return e.name == name; });
  });
}

// IBus's keyboard engines for `layouts`, by the names the daemon gives them ("xkb:us::eng": its
// simple engine's, whose last part is a language code only IBus knows). A layout whose variant
// IBus has no engine for falls back to the layout's own; one IBus does not know at all is left
// out, since a name the daemon does not offer would switch to nothing.
QStringList keyboardEngines(const std::vector<sessionkeymap::Layout>& layouts) {
  const std::vector<OfferedEngine> offered = offeredEngines();
  const auto find = [&](const sessionkeymap::Layout& wanted) -> QString {
    for (const OfferedEngine& engine : offered)
      if (engine.name.startsWith(QLatin1String("xkb:")) && engine.layout == wanted)
        return engine.name;
    return {};
  };
  QStringList names;
  for (const sessionkeymap::Layout& layout : layouts) {
    QString name = find(layout);
    if (name.isEmpty() && !layout.variant.isEmpty()) name = find({layout.layout, QString()});
    if (!name.isEmpty() && !names.contains(name)) names.append(name);
  }
  return names;
}

// `running` is the engine a running panel (ibus-ui-gtk3) runs, or null where none runs: at each
// change of the list that panel orders its engines as listed, moves the one it runs to the front
// and takes the second at a tap of its hot key. There Tolvani goes where that leaves it second:
// after the engine it runs when that is listed first (or not at all, when the panel takes the
// first), else first. Elsewhere it goes after the layouts.
int addToPreloadEngines(const QString& name, const std::optional<QString>& running) {
  if (!IBusInputSources::schemaInstalled(kIBusGeneralSchema)) return -ENOENT;
  QStringList names = preloadEngines();
  if (names.contains(name)) return 0;
  if (names.isEmpty()) names = keyboardEngines(sessionkeymap::current());
  if (!running) {
    names.append(name);
  } else {
    const qsizetype at = names.indexOf(*running);
    names.insert(at > 0 ? 0 : std::min<qsizetype>(1, names.size()), name);
  }
  return writeIBusList(kPreloadEnginesKey, names);
}

// The order IBus's panel (ibus-ui-gtk3) takes when it starts: its record of use, most recent
// first, then the rest of preload-engines. It starts on the first engine, whatever the daemon had
// selected, and a tap of its hot key switches to the second.
QStringList panelOrder() {
  const QStringList preload = preloadEngines();
  QStringList order;
  for (const QString& name : ibusList(kEnginesOrderKey))
    if (preload.contains(name) && !order.contains(name)) order.append(name);
  for (const QString& name : preload)
    if (!order.contains(name)) order.append(name);
  return order;
}

// Moves `name` up to `place` in that order; one already there or earlier stays.
int placeInPanelOrder(const QString& name, qsizetype place) {
  QStringList order = panelOrder();
  const qsizetype at = order.indexOf(name);
  if (at >= 0 && at <= place) return 0;
  if (at >= 0) order.removeAt(at);
  order.insert(std::min(place, order.size()), name);
  return writeIBusList(kEnginesOrderKey, order);
}

// Lets the connection notice that the daemon hung up.
void pumpBus() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// IBus's own tool rebuilds the user's registry cache: libibus's registry calls leak a little
// each time, which a short-lived process would not mind but leak checkers do.
int rebuildRegistryCache() {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Our standard output carries the command's result lines alone.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char tool[] = "/usr/bin/ibus";
  char command[] = "write-cache";
  char* argv[] = {tool, command, nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, tool, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -spawned;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -errno;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -EIO;
}

// The session's daemon, read from its process: how to start it again the same way.
struct DaemonStart {
  pid_t pid = 0;
  QByteArray executable;
  QList<QByteArray> arguments;
  QList<QByteArray> environment;
  QByteArray folder;
  // Its standard output and error, opened again (closed on exec), or -1.
  std::shared_ptr<int> output, errors;
};

std::shared_ptr<int> reopen(const QByteArray& path) {
  const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
  return std::shared_ptr<int>(new int(fd), [](int* p) {
    if (*p >= 0) ::close(*p);
    delete p;
  });
}

QList<QByteArray> nulSeparated(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QList<QByteArray> parts = file.readAll().split('\0');
  while (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
  return parts;
}

// The daemon at the other end of `bus`'s socket.
std::optional<DaemonStart> noteDaemonStart(IBusBus* bus) {
  GDBusConnection* connection = ibus_bus_get_connection(bus);
  GIOStream* stream = connection ? g_dbus_connection_get_stream(connection) : nullptr;
  if (!G_IS_SOCKET_CONNECTION(stream)) return std::nullopt;
  GCredentials* credentials = g_socket_get_credentials(
      g_socket_connection_get_socket(G_SOCKET_CONNECTION(stream)), nullptr);
  if (credentials == nullptr) return std::nullopt;
  const pid_t pid = g_credentials_get_unix_pid(credentials, nullptr);
  g_object_unref(credentials);
  if (pid <= 0) return std::nullopt;
  const QString process = QStringLiteral("/proc/%1").arg(pid);
  DaemonStart start;
  start.pid = pid;
  start.executable = QFile::encodeName(QFile::symLinkTarget(process + QStringLiteral("/exe")));
  start.arguments = nulSeparated(process + QStringLiteral("/cmdline"));
  start.environment = nulSeparated(process + QStringLiteral("/environ"));
  start.folder = QFile::encodeName(QFile::symLinkTarget(process + QStringLiteral("/cwd")));
  start.output = reopen(QFile::encodeName(process + QStringLiteral("/fd/1")));
  start.errors = reopen(QFile::encodeName(process + QStringLiteral("/fd/2")));
  if (start.executable.isEmpty() || start.arguments.isEmpty()) return std::nullopt;
  return start;
}

// Whether `pid` runs: neither gone nor a zombie left to its parent.
bool processRuns(pid_t pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return false;
  const QByteArray fields = stat.readAll();
  const qsizetype end = fields.lastIndexOf(')');
  return end >= 0 && fields.mid(end + 2, 1) != "Z";
}

// A daemon given a socket path (--address=unix:path=...) cannot listen there while the socket
// file of one that died is left: the file goes when nothing answers on it.
void removeStaleSocket(const DaemonStart& start) {
  for (const QByteArray& argument : start.arguments) {
    const qsizetype at = argument.indexOf("unix:path=");
    if (at < 0) continue;
    const QByteArray path = argument.mid(at + 10).split(',').value(0);
    struct stat info {};
    if (path.isEmpty() || ::stat(path.constData(), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.size()) >= sizeof address.sun_path) continue;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const bool refused =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    ::close(fd);
    if (refused) ::unlink(path.constData());
  }
}

// Starts the daemon as `start` says, in a session of its own and not as this process's child, so
// that it outlives the command. A daemon that finds itself without a parent at its start ends
// (IBus 1.5.27 takes it for a session gone) unless told to run in the background, which it then
// is: its parent, the session's launcher, cannot be asked to start it again.
bool startDaemonAgain(const DaemonStart& start) {
  std::vector<char*> argv, envp;
  QList<QByteArray> arguments = start.arguments, environment = start.environment;
  if (!arguments.contains("--daemonize") && !arguments.contains("-d"))
    arguments.append("--daemonize");
  for (QByteArray& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (QByteArray& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  removeStaleSocket(start);
  const int output = start.output ? *start.output : -1;
  const int errors = start.errors ? *start.errors : -1;
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(output >= 0 ? output : null, STDOUT_FILENO);
    ::dup2(errors >= 0 ? errors : null, STDERR_FILENO);
    if (start.folder.isEmpty() || ::chdir(start.folder.constData()) != 0) {
      if (::chdir("/") != 0) ::_exit(126);
    }
    ::execve(start.executable.constData(), argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A connection to a daemon that lists `names`, awaited until `deadline`; while `restarted` runs
// and nothing answers, a little longer, since it is a restart that is late, not gone.
GObjectRef<IBusBus> awaitDaemon(const QStringList& names,
                                std::chrono::steady_clock::time_point deadline, pid_t restarted) {
  const auto limit = deadline + kDaemonLateWait;
  for (;;) {
    GObjectRef<IBusBus> fresh = tryConnect();
    if (fresh && listsAll(fresh.ptr, names)) return fresh;
    const auto now = std::chrono::steady_clock::now();
    const bool alive = restarted > 0 && processRuns(restarted);
    if (!fresh && restarted > 0 && !alive) return GObjectRef<IBusBus>();
    if (now >= (alive && !fresh ? limit : deadline)) return fresh;
    std::this_thread::sleep_for(kDaemonPoll);
  }
}

// The daemon's global engine, asked as a property, since libibus's own call logs a warning when
// no engine was ever set.
QString globalEngine(IBusBus* bus) {
  GVariant* reply = g_dbus_connection_call_sync(
      ibus_bus_get_connection(bus), IBUS_SERVICE_IBUS, IBUS_PATH_IBUS,
      "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", IBUS_INTERFACE_IBUS, "GlobalEngine"), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  if (reply == nullptr) return {};
  GVariant* packed = nullptr;
  g_variant_get(reply, "(v)", &packed);
  g_variant_unref(reply);
  IBusSerializable* object = ibus_serializable_deserialize_object(packed);
  g_variant_unref(packed);
  if (object == nullptr) return {};
  QString name;
  if (IBUS_IS_ENGINE_DESC(object))
    name = QString::fromUtf8(ibus_engine_desc_get_name(IBUS_ENGINE_DESC(object)));
  g_object_unref(object);
  return name;
}

bool& restarted() {
  static bool asked = false;
  return asked;
}

bool& startedAgain() {
  static bool started = false;
  return started;
}

std::function<void(pid_t)>& restartObserver() {
  static std::function<void(pid_t)> observer;
  return observer;
}

}  // namespace

bool IBusInputSources::schemaInstalled(const char* id) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (source == nullptr) return false;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
  if (schema == nullptr) return false;
  g_settings_schema_unref(schema);
  return true;
}

QStringList IBusInputSources::componentFolders() {
  const QString path = qEnvironmentVariable("IBUS_COMPONENT_PATH");
  QStringList folders;
  for (const QString& folder : path.split(QLatin1Char(':'), Qt::SkipEmptyParts))
    folders.append(folder);
  if (folders.isEmpty()) folders.append(QString::fromLatin1(kSystemComponentFolder));
  return folders;
}

QStringList IBusInputSources::engineNames(const QString& bundleID) {
  const std::optional<ComponentFile> component = findComponent(bundleID);
  return component ? component->engineNames() : QStringList();
}

QStringList IBusInputSources::engineNamesIn(const QUrl& file) {
  const std::optional<ComponentFile> component =
      file.isLocalFile() ? readComponent(file.toLocalFile()) : std::nullopt;
  return component ? component->engineNames() : QStringList();
}

std::optional<IBusInputSources::Component> IBusInputSources::componentStarting(
    const QString& program) {
  const QString wanted = QFileInfo(program).canonicalFilePath();
  if (wanted.isEmpty()) return std::nullopt;
  const std::optional<ComponentFile> found = findComponent([&](const ComponentFile& c) {
    const QStringList command = QProcess::splitCommand(c.exec);
    return !command.isEmpty() && QFileInfo(command.first()).canonicalFilePath() == wanted;
  });
  if (!found) return std::nullopt;
  return Component{found->name, QUrl::fromLocalFile(found->path)};
}

std::vector<InputSource> IBusInputSources::sources(const QString& bundleID, bool includeDisabled) {
  const std::optional<ComponentFile> component = findComponent(bundleID);
  if (!component || component->engines.empty()) return {};
  const QStringList own = component->engineNames();
  const QSet<QString> enabled = includeDisabled ? QSet<QString>() : userSources();
  std::vector<InputSource> result;
  for (const OfferedEngine& engine : offeredEngines()) {
    if (!own.contains(engine.name)) continue;
    if (!includeDisabled && !enabled.contains(engine.name)) continue;
    result.push_back({engine.name, true});
  }
  return result;
}

int IBusInputSources::registerBundle(const QUrl& bundleURL) {
  initIBus();
  const std::optional<ComponentFile> component =
      bundleURL.isLocalFile() ? readComponent(bundleURL.toLocalFile()) : std::nullopt;
  if (!component) return -ENOENT;

  if (const int status = rebuildRegistryCache(); status != 0) return status;

  const QStringList names = component->engineNames();
  {
    GObjectRef<IBusBus> bus = connectBus();
    // A session whose daemon is not running yet: the daemon reads the cache when it starts.
    if (!bus) return 0;
    if (listsAll(bus.ptr, names)) return 0;
  }
  // libibus shares one connection per process: none may be held across the restart, or every
  // later connection would be the one to the daemon gone.
  return restartDaemon(names);
}

int IBusInputSources::restartDaemon(const QStringList& names) {
  GObjectRef<IBusBus> bus = connectBus();
  if (!bus) return 0;
  // How the daemon was started, and what the person had, before anything can be lost.
  std::optional<DaemonStart> start = noteDaemonStart(bus.ptr);
  const bool hadPanel = ibus_bus_name_has_owner(bus.ptr, IBUS_SERVICE_PANEL);
  const QString engineBefore = globalEngine(bus.ptr);
  if (!ibus_bus_exit(bus.ptr, TRUE)) return -EIO;
  restarted() = true;
  if (restartObserver() && start) restartObserver()(start->pid);

  auto deadline = std::chrono::steady_clock::now() + kDaemonWait;
  // The old daemon hangs up before its new self listens: a connection made sooner would reach
  // the one going away.
  while (ibus_bus_is_connected(bus.ptr) && std::chrono::steady_clock::now() < deadline) {
    pumpBus();
    std::this_thread::sleep_for(kDaemonPoll);
  }
  bus = GObjectRef<IBusBus>();
  GObjectRef<IBusBus> fresh = awaitDaemon(names, deadline, start ? start->pid : 0);
  // A daemon that died in its restart (IBus can abort on its own assertions as it ends its
  // connections) comes back from nothing: the person would be left without an input method.
  if (!fresh && start && !processRuns(start->pid)) {
    if (!startDaemonAgain(*start)) return -ECHILD;
    startedAgain() = true;
    deadline = std::chrono::steady_clock::now() + kDaemonWait;
    fresh = awaitDaemon(names, deadline, 0);
    if (!fresh) return -ECHILD;
  }
  if (!fresh) return 0;  // still starting: the caller looks for the sources next
  // The panel the session had comes back with the daemon (its command line, or the desktop's
  // shell reconnecting) and selects the engine it last used; the engine the person typed with
  // is then selected again where it is not.
  const auto panelDeadline = std::chrono::steady_clock::now() + kDaemonWait;
  while (hadPanel && !ibus_bus_name_has_owner(fresh.ptr, IBUS_SERVICE_PANEL) &&
         std::chrono::steady_clock::now() < panelDeadline)
    std::this_thread::sleep_for(kDaemonPoll);
  if (!engineBefore.isEmpty() && globalEngine(fresh.ptr) != engineBefore &&
      listsAll(fresh.ptr, {engineBefore}))
    ibus_bus_set_global_engine(fresh.ptr, engineBefore.toUtf8().constData());
  return 0;
}

bool IBusInputSources::daemonRestarted() { return restarted(); }

bool IBusInputSources::daemonStartedAgain() { return startedAgain(); }

void IBusInputSources::testSetRestartObserver(std::function<void(pid_t)> observer) {
  restartObserver() = std::move(observer);
}

bool IBusInputSources::running() { return static_cast<bool>(connectBus()); }

bool IBusInputSources::panelRuns() {
  GObjectRef<IBusBus> bus = connectBus();
  return bus && ibus_bus_name_has_owner(bus.ptr, IBUS_SERVICE_PANEL);
}

int IBusInputSources::enable(const InputSource& source) {
  if (source.identifier.isEmpty()) return -EINVAL;
  const bool daemon = running();
  // IBus's own panel, running; GNOME Shell, IBus's panel on GNOME, keeps an order of its own. A
  // running panel's order is its own once Tolvani is listed.
  const bool panel = daemon && !platform::desktop::isGnome() &&
                     schemaInstalled(kIBusGeneralSchema) && panelRuns() &&
                     !preloadEngines().contains(source.identifier);
  std::optional<QString> engine;
  if (panel) {
    const std::optional<InputSource> now = current();
    engine = now ? now->identifier : QString();
  }
  // IBus's own list is what its menu offers on every desktop.
  if (const int status = addToPreloadEngines(source.identifier, engine); status != 0) return status;
  // A panel started later would list Tolvani after every layout, out of reach of the hot key's
  // tap; beside the layout the person types with, the first tap reaches it and the next one
  // comes back.
  if (!daemon) return placeInPanelOrder(source.identifier, 1);
  // A running panel writes its record at its next switch; until then the record is the one its
  // next start reads: its order now.
  if (panel) {
    QStringList order = panelOrder();
    order.removeAll(source.identifier);
    if (!engine->isEmpty() && order.removeAll(*engine) > 0) order.prepend(*engine);
    order.insert(std::min<qsizetype>(1, order.size()), source.identifier);
    return writeIBusList(kEnginesOrderKey, order);
  }
  return 0;
}

int IBusInputSources::select(const InputSource& source) {
  GObjectRef<IBusBus> bus = connectBus();
  if (!bus) return -ECONNREFUSED;
  // A panel that has not started yet would switch away at its start; a running one records the
  // change itself. The switch now does not depend on that record.
  if (!ibus_bus_name_has_owner(bus.ptr, IBUS_SERVICE_PANEL) && schemaInstalled(kIBusGeneralSchema))
    placeInPanelOrder(source.identifier, 0);
  const QByteArray name = source.identifier.toUtf8();
  return ibus_bus_set_global_engine(bus.ptr, name.constData()) ? 0 : -EIO;
}

std::optional<InputSource> IBusInputSources::current() {
  GObjectRef<IBusBus> bus = connectBus();
  if (!bus) return std::nullopt;
  const QString name = globalEngine(bus.ptr);
  if (name.isEmpty()) return std::nullopt;
  return InputSource{name, true};
}

std::optional<bool> IBusInputSources::inputMenuVisible() {
  if (!schemaInstalled(kIBusPanelSchema)) return std::nullopt;
  GObjectRef<GSettings> settings(g_settings_new(kIBusPanelSchema));
  return g_settings_get_boolean(settings.ptr, kTrayIconKey) != FALSE;
}

bool IBusInputSources::setInputMenuVisible() {
  if (!schemaInstalled(kIBusPanelSchema)) return false;
  GObjectRef<GSettings> settings(g_settings_new(kIBusPanelSchema));
  const bool written = g_settings_set_boolean(settings.ptr, kTrayIconKey, TRUE);
  g_settings_sync();
  return written;
}

}  // namespace tolvani
