// Whether the system asks programs to save power: its power-saver mode (power-profiles-daemon's
// "power-saver" profile, which the desktop's power menu sets), read through GLib's power-profile
// monitor, with a notification when it changes. Tests install another PowerState.
// Thread-safety: main thread only; the system's is made at the first powerState() call and
// reports its changes from the GLib main context the main thread serves.
#ifndef TOLVANI_PLATFORM_POWERSTATE_H_
#define TOLVANI_PLATFORM_POWERSTATE_H_

#include <QString>

namespace tolvani::platform {

class PowerState {
 public:
  virtual ~PowerState() = default;

  // True while the system runs in its power-saving mode.
  virtual bool lowPowerModeEnabled() const = 0;
};

// Posted on the default NotificationCenter, with no user info, when lowPowerModeEnabled() may
// have changed.
const QString& powerStateDidChangeNotification();

// The process's power state: the system's unless a test installed another.
PowerState& powerState();
// Installs `state` (borrowed; it must outlive its use) or, with nullptr, the system's again.
void testSetPowerState(PowerState* state);

}  // namespace tolvani::platform

#endif  // TOLVANI_PLATFORM_POWERSTATE_H_
