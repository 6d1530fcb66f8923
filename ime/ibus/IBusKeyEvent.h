// IBus's key events in the key table's terms. Thread-safety: pure function, any thread.
#ifndef TOLVANI_IME_IBUS_IBUSKEYEVENT_H_
#define TOLVANI_IME_IBUS_IBUSKEYEVENT_H_

#include <cstdint>

#include "ime/KeyTable.h"

namespace tolvani {

// `keyval`, `keycode` (evdev) and `state` (release bit included) as IBus sends them.
KeyEvent keyEventFromIBus(std::uint32_t keyval, std::uint32_t keycode, std::uint32_t state);

}  // namespace tolvani

#endif  // TOLVANI_IME_IBUS_IBUSKEYEVENT_H_
