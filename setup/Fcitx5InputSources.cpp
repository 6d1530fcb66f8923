#include "setup/Fcitx5InputSources.h"

#include <gio/gio.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>

#include "platform/Desktop.h"
#include "setup/IBusInputSources.h"
#include "setup/SessionKeymap.h"
#include "setup/SetupMessages.h"

namespace tolvani {

namespace {

constexpr char kService[] = "org.fcitx.Fcitx5";
constexpr char kControllerPath[] = "/controller";
constexpr char kController[] = "org.fcitx.Fcitx.Controller1";
// fcitx5 answers from the loop every application's keys wait on: a call it cannot answer in
// this time will not be answered.
constexpr int kCallTimeoutMs = 5000;
// How long registering waits for a running fcitx5 to load newly installed input methods.
constexpr auto kRefreshWait = std::chrono::seconds(3);
constexpr auto kRefreshPoll = std::chrono::milliseconds(100);

// A call to the controller of the running fcitx5, never starting one (its name is activatable,
// and one started here would not be the session's); null when it does not answer.
GVariant* callController(const char* method, GVariant* arguments, const char* replyType) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) {
    if (arguments != nullptr) g_variant_unref(g_variant_ref_sink(arguments));
    return nullptr;
  }
  GVariant* reply = g_dbus_connection_call_sync(
      bus, kService, kControllerPath, kController, method, arguments,
      replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
      kCallTimeoutMs, nullptr, nullptr);
  g_object_unref(bus);
  return reply;
}

std::optional<QString> callForString(const char* method, GVariant* arguments = nullptr) {
  GVariant* reply = callController(method, arguments, "(s)");
  if (reply == nullptr) return std::nullopt;
  const gchar* value = nullptr;
  g_variant_get(reply, "(&s)", &value);
  QString result = QString::fromUtf8(value);
  g_variant_unref(reply);
  return result;
}

// A group's items as the controller gives them: input method and its own layout.
struct Group {
  QString name;
  QString defaultLayout;
  QList<std::pair<QString, QString>> items;

  QStringList names() const {
    QStringList result;
    for (const auto& item : items) result.append(item.first);
    return result;
  }
};

std::optional<Group> runningCurrentGroup() {
  const std::optional<QString> name = callForString("CurrentInputMethodGroup");
  if (!name || name->isEmpty()) return std::nullopt;
  GVariant* reply = callController("InputMethodGroupInfo",
                                   g_variant_new("(s)", name->toUtf8().constData()), "(sa(ss))");
  if (reply == nullptr) return std::nullopt;
  Group group{*name, {}, {}};
  const gchar* layout = nullptr;
  GVariantIter* iter = nullptr;
  g_variant_get(reply, "(&sa(ss))", &layout, &iter);
  group.defaultLayout = QString::fromUtf8(layout);
  const gchar* im = nullptr;
  const gchar* imLayout = nullptr;
  while (g_variant_iter_next(iter, "(&s&s)", &im, &imLayout))
    group.items.append({QString::fromUtf8(im), QString::fromUtf8(imLayout)});
  g_variant_iter_free(iter);
  g_variant_unref(reply);
  return group;
}

int setRunningGroup(const Group& group) {
  GVariantBuilder items;
  g_variant_builder_init(&items, G_VARIANT_TYPE("a(ss)"));
  for (const auto& [im, layout] : group.items)
    g_variant_builder_add(&items, "(ss)", im.toUtf8().constData(), layout.toUtf8().constData());
  GVariant* reply = callController("SetInputMethodGroupInfo",
                                   g_variant_new("(ssa(ss))", group.name.toUtf8().constData(),
                                                 group.defaultLayout.toUtf8().constData(), &items),
                                   nullptr);
  if (reply == nullptr) return -EIO;
  g_variant_unref(reply);
  return 0;
}

QStringList runningAvailable() {
  GVariant* reply = callController("AvailableInputMethods", nullptr, "(a(ssssssb))");
  QStringList names;
  if (reply == nullptr) return names;
  GVariantIter* iter = nullptr;
  g_variant_get(reply, "(a(ssssssb))", &iter);
  const gchar* name = nullptr;
  while (g_variant_iter_next(iter, "(&s&s&s&s&s&sb)", &name, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr))
    names.append(QString::fromUtf8(name));
  g_variant_iter_free(iter);
  g_variant_unref(reply);
  return names;
}

// The input methods whose files a starting fcitx5 would read: in fcitx5/inputmethod/ of the
// data folders.
bool inputMethodFileExists(const QString& name) {
  const QString relative = QStringLiteral("fcitx5/inputmethod/%1.conf").arg(name);
  return !QStandardPaths::locate(QStandardPaths::GenericDataLocation, relative).isEmpty();
}

QString configFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/fcitx5");
}

// fcitx5's profile as lines, edited in place so that everything else in it stays as it was.
class Profile {
 public:
  bool read(const QString& path) {
    QFile file(path);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) return false;
    lines_ = QString::fromUtf8(file.readAll()).split(u'\n');
    if (!lines_.isEmpty() && lines_.last().isEmpty()) lines_.removeLast();
    return true;
  }
  int write(const QString& path) const {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return -EACCES;
    file.write((lines_.join(u'\n') + u'\n').toUtf8());
    return file.commit() ? 0 : -EACCES;
  }

  // The current group's section ("Groups/N"): the first of GroupOrder, else the first group.
  QString currentGroup() const {
    return group(value(QStringLiteral("GroupOrder"), QStringLiteral("0")), true);
  }
  // The section of the group called `wanted`; with `orFirst`, else the first group's.
  QString group(const QString& wanted, bool orFirst = false) const {
    QString first;
    for (const QString& section : sections()) {
      static const QRegularExpression groupSection(QStringLiteral("^Groups/\\d+$"));
      if (!groupSection.match(section).hasMatch()) continue;
      if (first.isEmpty()) first = section;
      if (value(section, QStringLiteral("Name")) == wanted) return section;
    }
    return orFirst ? first : QString();
  }
  // The group's item sections in their order.
  QStringList items(const QString& group) const {
    QList<std::pair<int, QString>> found;
    const QRegularExpression item(
        QStringLiteral("^%1/Items/(\\d+)$").arg(QRegularExpression::escape(group)));
    for (const QString& section : sections()) {
      const QRegularExpressionMatch match = item.match(section);
      if (match.hasMatch()) found.append({match.captured(1).toInt(), section});
    }
    std::sort(found.begin(), found.end());
    QStringList result;
    for (const auto& entry : found) result.append(entry.second);
    return result;
  }
  QStringList itemNames(const QString& group) const {
    QStringList names;
    for (const QString& item : items(group)) names.append(value(item, QStringLiteral("Name")));
    return names;
  }

  // Adds `name` to `group` after its last item.
  void appendItem(const QString& group, const QString& name) {
    const QStringList existing = items(group);
    int next = 0;
    for (const QString& section : existing)
      next = std::max(next, section.section(u'/', -1).toInt() + 1);
    const qsizetype at = existing.isEmpty() ? sectionEnd(group) : sectionEnd(existing.last());
    const QStringList added{QString(),
                            QStringLiteral("[%1/Items/%2]").arg(group).arg(next),
                            QStringLiteral("# Name"),
                            QStringLiteral("Name=") + name,
                            QStringLiteral("# Layout"),
                            QStringLiteral("Layout=")};
    for (qsizetype i = 0; i < added.size(); ++i) lines_.insert(at + i, added[i]);
    // A blank line keeps the next section apart, as fcitx5 writes them.
    if (at + added.size() < lines_.size() && !lines_[at + added.size()].isEmpty())
      lines_.insert(at + added.size(), QString());
  }

  QString value(const QString& section, const QString& key) const {
    const qsizetype start = sectionStart(section);
    if (start < 0) return {};
    for (qsizetype i = start + 1; i < sectionEnd(section); ++i) {
      const QString line = lines_[i].trimmed();
      if (line.startsWith(key + u'=')) return line.mid(key.size() + 1);
    }
    return {};
  }
  void setValue(const QString& section, const QString& key, const QString& value) {
    const qsizetype start = sectionStart(section);
    if (start < 0) return;
    for (qsizetype i = start + 1; i < sectionEnd(section); ++i) {
      if (lines_[i].trimmed().startsWith(key + u'=')) {
        lines_[i] = key + u'=' + value;
        return;
      }
    }
    lines_.insert(start + 1, key + u'=' + value);
  }

  // A profile of one group: the session's layouts, as fcitx5 would make it at its first start.
  void makeDefault() {
    QStringList names;
    for (const sessionkeymap::Layout& layout : sessionkeymap::current())
      names.append(layout.variant.isEmpty() ? layout.layout
                                            : layout.layout + u'-' + layout.variant);
    lines_ = QStringList{QStringLiteral("[Groups/0]"),
                         QStringLiteral("# Group Name"),
                         QStringLiteral("Name=Default"),
                         QStringLiteral("# Layout"),
                         QStringLiteral("Default Layout=") + names.value(0, QStringLiteral("us")),
                         QStringLiteral("# Default Input Method"),
                         QStringLiteral("DefaultIM=")};
    for (const QString& name : names) appendItem(QStringLiteral("Groups/0"), "keyboard-" + name);
    lines_ << QString() << QStringLiteral("[GroupOrder]") << QStringLiteral("0=Default");
  }

 private:
  static QString sectionOf(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed.size() < 2 || !trimmed.startsWith(u'[') || !trimmed.endsWith(u']')) return {};
    return trimmed.mid(1, trimmed.size() - 2);
  }
  QStringList sections() const {
    QStringList result;
    for (const QString& line : lines_)
      if (const QString section = sectionOf(line); !section.isEmpty()) result.append(section);
    return result;
  }
  qsizetype sectionStart(const QString& section) const {
    for (qsizetype i = 0; i < lines_.size(); ++i)
      if (sectionOf(lines_[i]) == section) return i;
    return -1;
  }
  // Where the section's last non-blank line ends; the end of the file for a missing one.
  qsizetype sectionEnd(const QString& section) const {
    const qsizetype start = sectionStart(section);
    if (start < 0) return lines_.size();
    qsizetype end = start + 1;
    while (end < lines_.size() && sectionOf(lines_[end]).isEmpty()) ++end;
    while (end > start + 1 && lines_[end - 1].trimmed().isEmpty()) --end;
    return end;
  }

  QStringList lines_;
};

// The bundle's input methods: the engines its component names.
QStringList ownNames(const QString& bundleID) { return IBusInputSources::engineNames(bundleID); }

QStringList enabledNames() {
  if (platform::desktop::sessionNameOwned(kService)) {
    const std::optional<Group> group = runningCurrentGroup();
    return group ? group->names() : QStringList();
  }
  Profile profile;
  if (!profile.read(Fcitx5InputSources::profilePath())) return {};
  return profile.itemNames(profile.currentGroup());
}

// Makes `name` the current group's default, and the focused field's input method where one is
// focused (its first item only turns the field's input method off).
bool setCurrent(const QString& name) {
  GVariant* reply =
      callController("SetCurrentIM", g_variant_new("(s)", name.toUtf8().constData()), nullptr);
  if (reply == nullptr) return false;
  g_variant_unref(reply);
  return true;
}

// The default input method of the group called `group` as the profile holds it. A running fcitx5
// offers no call that reads its default, and saves a new one only when it exits, so it is saved
// here too whenever it is set.
QString savedDefault(const QString& group) {
  Profile profile;
  if (!profile.read(Fcitx5InputSources::profilePath())) return {};
  const QString section = profile.group(group);
  return section.isEmpty() ? QString() : profile.value(section, QStringLiteral("DefaultIM"));
}
int saveDefault(const QString& group, const QString& name) {
  Profile profile;
  if (!profile.read(Fcitx5InputSources::profilePath())) return -EACCES;
  const QString section = profile.group(group);
  if (section.isEmpty() || profile.value(section, QStringLiteral("DefaultIM")) == name) return 0;
  profile.setValue(section, QStringLiteral("DefaultIM"), name);
  return profile.write(Fcitx5InputSources::profilePath());
}

// A key as fcitx5 writes it ("Control+space") as people read it ("Control+Space").
QString keyInWords(const QString& key) {
  QStringList parts = key.split(u'+');
  QString& last = parts.last();
  if (last.size() > 1) last[0] = last[0].toUpper();
  return parts.join(u'+');
}

// An X system tray (the XEmbed one, which fcitx5's own icon docks into on X11) takes icons on the
// session's display: a program owns its manager selection. Not asked in a Wayland session, where
// connecting could start Xwayland only to find none.
bool xTrayRuns() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0' || (wayland != nullptr && *wayland != '\0'))
    return false;
  int screen = 0;
  const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> connection(
      xcb_connect(nullptr, &screen), xcb_disconnect);
  if (!connection || xcb_connection_has_error(connection.get())) return false;
  const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection.get(),
      xcb_intern_atom(connection.get(), 1, static_cast<std::uint16_t>(name.size()), name.data()),
      nullptr);
  if (atom == nullptr) return false;
  const xcb_atom_t selection = atom->atom;
  std::free(atom);
  if (selection == XCB_ATOM_NONE) return false;
  xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
      connection.get(), xcb_get_selection_owner(connection.get(), selection), nullptr);
  if (owner == nullptr) return false;
  const bool owned = owner->owner != XCB_WINDOW_NONE;
  std::free(owner);
  return owned;
}

}  // namespace

bool Fcitx5InputSources::statusAreaRuns() {
  // A status-notifier host (KDE's panel, a tray of a bar), KDE's input-method panel, or X's tray.
  return platform::desktop::sessionNameOwned("org.kde.StatusNotifierWatcher") ||
         platform::desktop::sessionNameOwned("org.kde.impanel") || xTrayRuns();
}

bool Fcitx5InputSources::decides() { return platform::desktop::fcitx5IsFramework(); }

QString Fcitx5InputSources::profilePath() { return configFolder() + QStringLiteral("/profile"); }

QString Fcitx5InputSources::triggerKey() {
  QFile file(configFolder() + QStringLiteral("/config"));
  const QString fallback = QStringLiteral("Control+Space");
  if (!file.open(QIODevice::ReadOnly)) return fallback;
  bool inSection = false;
  bool inHotkeys = false;
  bool cleared = false;
  for (const QString& raw : QString::fromUtf8(file.readAll()).split(u'\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith(u'[')) {
      inSection = line == QLatin1String("[Hotkey/TriggerKeys]");
      inHotkeys = line == QLatin1String("[Hotkey]");
      cleared = cleared || inSection;
      continue;
    }
    if (line.startsWith(u'#')) continue;
    // fcitx5 writes an emptied list of keys as an empty value in the section above its own.
    if (inHotkeys && line.section(u'=', 0, 0).trimmed() == QLatin1String("TriggerKeys"))
      cleared = cleared || line.section(u'=', 1).trimmed().isEmpty();
    if (!inSection) continue;
    const qsizetype equals = line.indexOf(u'=');
    if (equals > 0 && !line.mid(equals + 1).trimmed().isEmpty())
      return keyInWords(line.mid(equals + 1).trimmed());
  }
  return cleared ? QString() : fallback;
}

std::vector<InputSource> Fcitx5InputSources::sources(const QString& bundleID,
                                                     bool includeDisabled) {
  const QStringList own = ownNames(bundleID);
  if (own.isEmpty()) return {};
  const bool runs = running();
  const QStringList offered = runs ? runningAvailable() : QStringList();
  const QStringList enabled = includeDisabled ? QStringList() : enabledNames();
  std::vector<InputSource> result;
  for (const QString& name : own) {
    if (runs ? !offered.contains(name) : !inputMethodFileExists(name)) continue;
    if (!includeDisabled && !enabled.contains(name)) continue;
    result.push_back({name, true});
  }
  return result;
}

int Fcitx5InputSources::registerBundle(const QUrl& bundleURL) {
  const QStringList names = IBusInputSources::engineNamesIn(bundleURL);
  if (names.isEmpty()) return -ENOENT;
  // A stopped fcitx5 reads the installed files when it starts.
  if (!running()) return 0;
  const auto offersAll = [&] {
    const QStringList offered = runningAvailable();
    return std::all_of(names.begin(), names.end(),
                       [&](const QString& name) { return offered.contains(name); });
  };
  if (offersAll()) return 0;
  // Installed while it ran: it loads new addons and input methods when asked to refresh. Asked
  // once: the command's retries would otherwise wait out the refresh each time.
  if (refreshed_) return 0;
  refreshed_ = true;
  GVariant* reply = callController("Refresh", nullptr, nullptr);
  if (reply == nullptr) return -EIO;
  g_variant_unref(reply);
  const auto deadline = std::chrono::steady_clock::now() + kRefreshWait;
  while (!offersAll() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(kRefreshPoll);
  // Still missing: the caller finds no source and says so.
  return 0;
}

int Fcitx5InputSources::enable(const InputSource& source) {
  if (source.identifier.isEmpty()) return -EINVAL;
  if (running()) {
    std::optional<Group> group = runningCurrentGroup();
    if (!group) return -EIO;
    const QStringList before = group->names();
    if (before.contains(source.identifier)) return 0;
    // A changed group gets its second item as default (and is saved so at once): the person's is
    // put back. The focused field types with it where it is active; else it is the saved one.
    const QString focused = callForString("CurrentInputMethod").value_or(QString());
    QString personal = savedDefault(group->name);
    if (!focused.isEmpty() && focused != before.value(0)) personal = focused;
    group->items.append({source.identifier, QString()});
    if (const int status = setRunningGroup(*group); status != 0) return status;
    if (!before.contains(personal) || before.indexOf(personal) < 2) return 0;
    if (!setCurrent(personal)) return -EIO;
    // That also switched the focused field to it: the field gets back the keyboard it had.
    if (!focused.isEmpty() && focused != personal && !setCurrent(focused)) return -EIO;
    return saveDefault(group->name, personal);
  }
  Profile profile;
  if (!profile.read(profilePath())) return -EACCES;
  QString group = profile.currentGroup();
  if (group.isEmpty()) {
    profile.makeDefault();
    group = profile.currentGroup();
  }
  if (profile.itemNames(group).contains(source.identifier)) return 0;
  // The person's default stays, as it does while fcitx5 runs: making Tolvani what the trigger
  // key switches to is the choice's.
  profile.appendItem(group, source.identifier);
  return profile.write(profilePath());
}

int Fcitx5InputSources::selectForStart(const InputSource& source) {
  // What the trigger key switches to when fcitx5 starts.
  Profile profile;
  if (!profile.read(profilePath())) return -EACCES;
  const QString group = profile.currentGroup();
  if (!profile.itemNames(group).contains(source.identifier)) return -ENOENT;
  profile.setValue(group, QStringLiteral("DefaultIM"), source.identifier);
  return profile.write(profilePath());
}

int Fcitx5InputSources::select(const InputSource& source) {
  if (!running()) return selectForStart(source);
  if (!setCurrent(source.identifier)) return -EIO;
  const std::optional<QString> group = callForString("CurrentInputMethodGroup");
  return group ? saveDefault(*group, source.identifier) : -EIO;
}

std::optional<InputSource> Fcitx5InputSources::current() {
  if (!running()) return std::nullopt;
  const std::optional<QString> name = callForString("CurrentInputMethod");
  if (!name) return std::nullopt;
  if (!name->isEmpty()) return InputSource{*name, true};
  // No field: what the trigger key switches to.
  const std::optional<QString> group = callForString("CurrentInputMethodGroup");
  if (!group) return std::nullopt;
  const QString saved = savedDefault(*group);
  if (saved.isEmpty()) return std::nullopt;
  return InputSource{saved, true};
}

QString Fcitx5InputSources::switchHint() {
  return setupmessages::fcitx5Switch(triggerKey(), statusAreaRuns());
}

bool Fcitx5InputSources::running() { return platform::desktop::sessionNameOwned(kService); }

}  // namespace tolvani
