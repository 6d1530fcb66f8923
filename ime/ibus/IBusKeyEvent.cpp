#include "ime/ibus/IBusKeyEvent.h"

#include <ibus.h>

namespace tolvani {

KeyEvent keyEventFromIBus(std::uint32_t keyval, std::uint32_t keycode, std::uint32_t state) {
  return keyEventFromKeysym(keyval, keycode, state, ibus_keyval_to_unicode(keyval));
}

}  // namespace tolvani
