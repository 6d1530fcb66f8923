#include "platform/PowerState.h"

#include <gio/gio.h>

#include "platform/NotificationCenter.h"

namespace tolvani::platform {

namespace {

class SystemPowerState final : public PowerState {
 public:
  SystemPowerState() : monitor_(g_power_profile_monitor_dup_default()) {
    if (monitor_ != nullptr)
      g_signal_connect(monitor_, "notify::power-saver-enabled", G_CALLBACK(changed), nullptr);
  }

  bool lowPowerModeEnabled() const override {
    return monitor_ != nullptr && g_power_profile_monitor_get_power_saver_enabled(monitor_);
  }

 private:
  static void changed(GObject*, GParamSpec*, gpointer) {
    NotificationCenter::defaultCenter().post(powerStateDidChangeNotification());
  }

  GPowerProfileMonitor* const monitor_;  // owned; kept for the life of the process
};

PowerState* installed = nullptr;

}  // namespace

const QString& powerStateDidChangeNotification() {
  static const QString name = QStringLiteral("TolvaniPowerStateDidChange");
  return name;
}

PowerState& powerState() {
  if (installed != nullptr) return *installed;
  // Never destroyed: GLib may still report a change while the program's statics go.
  static SystemPowerState* system = new SystemPowerState;
  return *system;
}

void testSetPowerState(PowerState* state) { installed = state; }

}  // namespace tolvani::platform
