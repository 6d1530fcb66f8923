#include "setup/onboarding/InputSourceWatch.h"

#include <ibus.h>

#include <vector>

#include "platform/Desktop.h"

namespace tolvani {

namespace {

constexpr char kGnomeSourcesSchema[] = "org.gnome.desktop.input-sources";
constexpr char kIBusGeneralSchema[] = "org.freedesktop.ibus.general";
constexpr char kInterfaceSchema[] = "org.gnome.desktop.interface";
constexpr char kAnimationsKey[] = "enable-animations";
constexpr char kFcitx5Service[] = "org.fcitx.Fcitx5";

// A GSettings object for `id`, or null where the schema is not installed (creating one for a
// missing schema aborts the process).
GSettings* settingsFor(const char* id, const char* key) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (source == nullptr) return nullptr;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
  if (schema == nullptr) return nullptr;
  const bool hasKey = key == nullptr || g_settings_schema_has_key(schema, key);
  g_settings_schema_unref(schema);
  return hasKey ? g_settings_new(id) : nullptr;
}

}  // namespace

struct InputSourceWatch::State {
  std::function<void()> changed;
  std::vector<std::pair<GObject*, gulong>> handlers;

  static void onSettingChanged(GSettings*, gchar*, gpointer data) {
    static_cast<State*>(data)->changed();
  }
  static void onEngineChanged(IBusBus*, gchar*, gpointer data) {
    static_cast<State*>(data)->changed();
  }
  static void watchEngine(IBusBus* bus) {
    // The daemon sends its engine changes only to clients that ask for them.
    ibus_bus_set_watch_ibus_signal(bus, TRUE);
  }
  // The session's daemon came up (IBus follows its address file) or went away.
  static void onConnected(IBusBus* bus, gpointer data) {
    watchEngine(bus);
    static_cast<State*>(data)->changed();
  }
  static void onDisconnected(IBusBus*, gpointer data) { static_cast<State*>(data)->changed(); }

  // fcitx5 coming or going; a report of how things already stood is no change.
  static void onFcitx5Appeared(GDBusConnection*, const gchar*, const gchar*, gpointer data) {
    static_cast<State*>(data)->fcitx5Owned(true);
  }
  static void onFcitx5Vanished(GDBusConnection*, const gchar*, gpointer data) {
    static_cast<State*>(data)->fcitx5Owned(false);
  }
  void fcitx5Owned(bool owned) {
    if (owned == fcitx5Runs) return;
    fcitx5Runs = owned;
    changed();
  }
  void watchFcitx5() {
    fcitx5Runs = platform::desktop::sessionNameOwned(kFcitx5Service);
    fcitx5Watch =
        g_bus_watch_name(G_BUS_TYPE_SESSION, kFcitx5Service, G_BUS_NAME_WATCHER_FLAGS_NONE,
                         onFcitx5Appeared, onFcitx5Vanished, this, nullptr);
  }

  void watchSettings(const char* id, const char* key) {
    GSettings* settings = settingsFor(id, key);
    if (settings == nullptr) return;
    // Some back ends report a change only for keys read before.
    if (key != nullptr) g_variant_unref(g_settings_get_value(settings, key));
    const gulong id_ = g_signal_connect(settings, "changed", G_CALLBACK(onSettingChanged), this);
    handlers.emplace_back(G_OBJECT(settings), id_);
  }

  guint fcitx5Watch = 0;
  bool fcitx5Runs = false;

  ~State() {
    if (fcitx5Watch != 0) g_bus_unwatch_name(fcitx5Watch);
    for (auto& [object, handler] : handlers) {
      g_signal_handler_disconnect(object, handler);
      g_object_unref(object);
    }
  }
};

InputSourceWatch::~InputSourceWatch() = default;

std::unique_ptr<InputSourceWatch> InputSourceWatch::forInputSources(std::function<void()> changed) {
  std::unique_ptr<InputSourceWatch> watch(new InputSourceWatch);
  watch->state_ = std::make_unique<State>();
  State& state = *watch->state_;
  state.changed = std::move(changed);
  state.watchSettings(kGnomeSourcesSchema, "sources");
  state.watchSettings(kIBusGeneralSchema, "preload-engines");
  state.watchFcitx5();
  ibus_init();
  IBusBus* bus = ibus_bus_new_async();
  if (bus != nullptr) {
    g_object_ref_sink(bus);
    state.handlers.emplace_back(
        G_OBJECT(bus),
        g_signal_connect(bus, "global-engine-changed", G_CALLBACK(State::onEngineChanged), &state));
    g_object_ref(bus);
    state.handlers.emplace_back(
        G_OBJECT(bus), g_signal_connect(bus, "connected", G_CALLBACK(State::onConnected), &state));
    g_object_ref(bus);
    state.handlers.emplace_back(
        G_OBJECT(bus),
        g_signal_connect(bus, "disconnected", G_CALLBACK(State::onDisconnected), &state));
    if (ibus_bus_is_connected(bus)) State::watchEngine(bus);
  }
  return watch;
}

std::unique_ptr<InputSourceWatch> InputSourceWatch::forMotionSetting(
    std::function<void()> changed) {
  std::unique_ptr<InputSourceWatch> watch(new InputSourceWatch);
  watch->state_ = std::make_unique<State>();
  watch->state_->changed = std::move(changed);
  watch->state_->watchSettings(kInterfaceSchema, kAnimationsKey);
  return watch;
}

bool InputSourceWatch::reduceMotion() {
  GSettings* settings = settingsFor(kInterfaceSchema, kAnimationsKey);
  if (settings == nullptr) return false;
  const bool animations = g_settings_get_boolean(settings, kAnimationsKey);
  g_object_unref(settings);
  return !animations;
}

}  // namespace tolvani
