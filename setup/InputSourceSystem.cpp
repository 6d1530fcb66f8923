#include "setup/InputSourceSystem.h"

#include <atomic>

#include "setup/GnomeInputSources.h"
#include "setup/IBusInputSources.h"

namespace tolvani {

namespace {
std::atomic<InputSourceSystem*> installedSystem{nullptr};
}  // namespace

InputSourceSystem& inputSourceSystem() {
  if (InputSourceSystem* system = installedSystem.load()) return *system;
  // Asked at each call: it reads the environment, and asks the bus once per process.
  if (GnomeInputSources::decides()) {
    static GnomeInputSources gnome;
    return gnome;
  }
  static IBusInputSources ibus;
  return ibus;
}

void testSetInputSourceSystem(InputSourceSystem* system) { installedSystem.store(system); }

}  // namespace tolvani
