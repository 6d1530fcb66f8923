#include "setup/InputSourceSystem.h"

#include <atomic>

#include "setup/Fcitx5InputSources.h"
#include "setup/GnomeInputSources.h"
#include "setup/IBusInputSources.h"

namespace tolvani {

namespace {
std::atomic<InputSourceSystem*> installedSystem{nullptr};
}  // namespace

InputSourceSystem& inputSourceSystem() {
  if (InputSourceSystem* system = installedSystem.load()) return *system;
  // Asked at each call: they read the environment, and ask the bus once per process. fcitx5
  // comes first: where it runs, its IBus-compatible frontend answers on IBus's address too.
  if (Fcitx5InputSources::decides()) {
    static Fcitx5InputSources fcitx5;
    return fcitx5;
  }
  if (GnomeInputSources::decides()) {
    static GnomeInputSources gnome;
    return gnome;
  }
  static IBusInputSources ibus;
  return ibus;
}

void testSetInputSourceSystem(InputSourceSystem* system) { installedSystem.store(system); }

}  // namespace tolvani
