#include "setup/GnomeInputSources.h"

#include <gio/gio.h>

#include <QSet>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/Bundle.h"
#include "platform/Desktop.h"
#include "setup/SessionKeymap.h"

namespace tolvani {

namespace {

constexpr char kSchema[] = "org.gnome.desktop.input-sources";
constexpr char kSourcesKey[] = "sources";
constexpr char kMruKey[] = "mru-sources";
constexpr char kIBusType[] = "ibus";
constexpr char kXkbType[] = "xkb";

// How long enabling waits for the shell to activate its source on a restarted IBus.
constexpr auto kShellWait = std::chrono::seconds(3);
constexpr auto kShellPoll = std::chrono::milliseconds(50);

struct Entry {
  QString type;
  QString id;
  bool operator==(const Entry&) const = default;
};
using Entries = QList<Entry>;

Entries readList(const char* key) {
  GSettings* settings = g_settings_new(kSchema);
  GVariant* value = g_settings_get_value(settings, key);
  Entries entries;
  GVariantIter iter;
  g_variant_iter_init(&iter, value);
  const gchar* type = nullptr;
  const gchar* id = nullptr;
  while (g_variant_iter_next(&iter, "(&s&s)", &type, &id))
    entries.append({QString::fromUtf8(type), QString::fromUtf8(id)});
  g_variant_unref(value);
  g_object_unref(settings);
  return entries;
}

int writeList(const char* key, const Entries& entries) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ss)"));
  for (const Entry& entry : entries) {
    g_variant_builder_add(&builder, "(ss)", entry.type.toUtf8().constData(),
                          entry.id.toUtf8().constData());
  }
  GSettings* settings = g_settings_new(kSchema);
  const bool written = g_settings_set_value(settings, key, g_variant_builder_end(&builder));
  g_settings_sync();
  g_object_unref(settings);
  return written ? 0 : -EACCES;
}

Entry ibusEntry(const InputSource& source) {
  return {QString::fromLatin1(kIBusType), source.identifier};
}

// The shell's order of `sources` as it reads it at login: mru-sources' entries that are in the
// list, then the rest of the list. It starts on the first, and a tap goes to the second.
Entries shellOrder(const Entries& sources) {
  Entries order;
  for (const Entry& entry : readList(kMruKey))
    if (sources.contains(entry) && !order.contains(entry)) order.append(entry);
  for (const Entry& entry : sources)
    if (!order.contains(entry)) order.append(entry);
  return order;
}

// An empty list stands for the keymap the session types with; the first entry added must keep
// it, or the person is left with Tolvani alone and nothing to switch back to.
Entries withKeymapLayouts(Entries sources) {
  if (!sources.isEmpty()) return sources;
  for (const sessionkeymap::Layout& layout : sessionkeymap::current())
    sources.append({QString::fromLatin1(kXkbType), sessionkeymap::gnomeName(layout)});
  return sources;
}

// Asked once: a process runs its input-source steps in one session.
bool shellRuns() {
  static const bool runs = platform::desktop::gnomeShellRuns();
  return runs;
}

}  // namespace

GnomeInputSources::GnomeInputSources() : shellRuns_(shellRuns()) {}

bool GnomeInputSources::decides() {
  if (!IBusInputSources::schemaInstalled(kSchema)) return false;
  // Another desktop's name with GNOME Shell serving the session: the shell reads only its list.
  return platform::desktop::isGnome() || shellRuns();
}

std::vector<InputSource> GnomeInputSources::sources(const QString& bundleID, bool includeDisabled) {
  std::vector<InputSource> all = ibus_.sources(bundleID, true);
  if (includeDisabled) return all;
  const Entries listed = readList(kSourcesKey);
  std::vector<InputSource> enabled;
  for (const InputSource& source : all)
    if (listed.contains(ibusEntry(source))) enabled.push_back(source);
  return enabled;
}

int GnomeInputSources::registerBundle(const QUrl& bundleURL) {
  return ibus_.registerBundle(bundleURL);
}

int GnomeInputSources::enable(const InputSource& source) {
  if (const int status = ibus_.enable(source); status != 0) return status;
  const Entry wanted = ibusEntry(source);
  const Entries before = readList(kSourcesKey);
  if (before.contains(wanted)) return 0;
  const Entries kept = withKeymapLayouts(before);
  // The person's own order of what was there; Tolvani right after the source they are on.
  Entries order = shellOrder(kept);
  if (const int status = writeList(kSourcesKey, Entries(kept) << wanted); status != 0)
    return status;
  order.insert(1, wanted);
  if (const int status = writeList(kMruKey, order); status != 0) return status;
  if (!shellRuns_ || !ibus_.running()) return 0;
  // The shell keeps its own order while it runs (the new source last) and writes it over
  // mru-sources at the person's next switch; it reads mru-sources again when IBus comes back.
  // A running Tolvani (the engine, or the program showing the setup window) ends with the daemon
  // it serves: then the order waits for the next login.
  if (platform::desktop::sessionNameOwned(platform::bundle::identifier().toUtf8().constData()))
    return 0;
  if (const int status = ibus_.restartDaemon({source.identifier}); status != 0) return status;
  const auto deadline = std::chrono::steady_clock::now() + kShellWait;
  while (!ibus_.current() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(kShellPoll);
  return 0;
}

int GnomeInputSources::select(const InputSource& source) {
  if (shellRuns_) return 0;
  return ibus_.select(source);
}

std::optional<InputSource> GnomeInputSources::current() { return ibus_.current(); }

bool GnomeInputSources::running() { return ibus_.running(); }

bool GnomeInputSources::panelRuns() { return ibus_.panelRuns(); }

bool GnomeInputSources::tapReaches(const InputSource& source) {
  const Entry wanted = ibusEntry(source);
  const Entries sources = readList(kSourcesKey);
  if (!sources.contains(wanted)) return false;
  // With one other source a tap always goes to the other one.
  if (sources.size() == 2) return true;
  // mru-sources is the shell's order only when it names every source: one added since the
  // shell last wrote it is last in the shell's own.
  const QList<Entry> mru = readList(kMruKey);
  for (const Entry& entry : sources)
    if (!mru.contains(entry)) return false;
  const Entries order = shellOrder(sources);
  return order.size() >= 2 && order[1] == wanted;
}

std::optional<bool> GnomeInputSources::inputMenuVisible() {
  if (!shellRuns_) return ibus_.inputMenuVisible();
  return readList(kSourcesKey).size() >= 2;
}

bool GnomeInputSources::setInputMenuVisible() {
  if (!shellRuns_) return ibus_.setInputMenuVisible();
  return readList(kSourcesKey).size() >= 2;
}

}  // namespace tolvani
