// Keys of the US layout as a toolkit sends them to a test input context: key values, evdev key
// codes and modifier states. Thread-safety: the test's main thread.
#ifndef TOLVANI_IME_TESTING_IBUSTESTKEYS_H_
#define TOLVANI_IME_TESTING_IBUSTESTKEYS_H_

#include <ibus.h>

#include <string>
#include <utility>

#include "ime/testing/IBusDaemonHarness.h"

namespace tolvani::testing {

// The evdev key code of a letter, digit-free US-layout character or space, and whether it needs
// Shift; code 0 for a character the table lacks.
inline std::pair<unsigned, bool> usKey(char c) {
  static const std::string rows[] = {"qwertyuiop[]", "asdfghjkl", "zxcvbnm"};
  static const unsigned starts[] = {16, 30, 44};
  if (c == ' ') return {57, false};
  const bool shift = c >= 'A' && c <= 'Z';
  const char base = shift ? static_cast<char>(c - 'A' + 'a') : c;
  for (int r = 0; r < 3; ++r) {
    const std::size_t at = rows[r].find(base);
    if (at != std::string::npos) return {starts[r] + static_cast<unsigned>(at), shift};
  }
  return {0, false};
}

// Presses and releases one key with `state`; true when the input method consumed the press.
inline bool press(TestInputContext& context, unsigned keyval, unsigned keycode,
                  unsigned state = 0) {
  const bool consumed = context.sendKey(keyval, keycode, state);
  context.sendKey(keyval, keycode, state | IBUS_RELEASE_MASK);
  return consumed;
}

// Presses and releases each key of `keys`; "^" makes the next key an AltGr key. Returns how many
// presses the input method left to the application.
inline int typeKeys(TestInputContext& context, const char* keys) {
  unsigned altGr = 0;
  int passed = 0;
  for (const char* p = keys; *p; ++p) {
    if (*p == '^') {
      altGr = IBUS_MOD5_MASK;
      continue;
    }
    const auto [keycode, shift] = usKey(*p);
    const unsigned keyval = *p == ' ' ? IBUS_KEY_space : static_cast<unsigned char>(*p);
    if (!press(context, keyval, keycode, altGr | (shift ? IBUS_SHIFT_MASK : 0))) ++passed;
    altGr = 0;
  }
  return passed;
}

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_IBUSTESTKEYS_H_
