// The one translation of IBus key events (keysym, evdev key code, modifier state) into the key
// codes and modifier flags the key handling is written in: the physical key positions and flag
// masks of the classic desktop keyboard model. Thread-safety: pure functions, any thread.
#ifndef TOLVANI_IME_IBUS_KEYTABLE_H_
#define TOLVANI_IME_IBUS_KEYTABLE_H_

#include <QString>
#include <cstdint>

namespace tolvani {

namespace KeyFlags {
inline constexpr std::uint64_t kCapsLock = 0x10000;
inline constexpr std::uint64_t kShift = 0x20000;
inline constexpr std::uint64_t kControl = 0x40000;
inline constexpr std::uint64_t kOption = 0x80000;
inline constexpr std::uint64_t kCommand = 0x100000;
}  // namespace KeyFlags

namespace KeyCodes {
inline constexpr std::uint16_t kS = 1;
inline constexpr std::uint16_t kB = 11;
inline constexpr std::uint16_t kReturn = 36;
inline constexpr std::uint16_t kTab = 48;
inline constexpr std::uint16_t kSpace = 49;
inline constexpr std::uint16_t kDelete = 51;
inline constexpr std::uint16_t kEscape = 53;
inline constexpr std::uint16_t kEnter = 76;
inline constexpr std::uint16_t kLeft = 123;
inline constexpr std::uint16_t kRight = 124;
inline constexpr std::uint16_t kDown = 125;
inline constexpr std::uint16_t kUp = 126;
// A key with no counterpart (media keys, for instance).
inline constexpr std::uint16_t kUnknown = 0xFFFF;
}  // namespace KeyCodes

struct KeyEvent {
  // False for a release and for a modifier key pressed alone.
  bool keyDown = true;
  std::uint16_t keyCode = KeyCodes::kUnknown;
  std::uint64_t modifierFlags = 0;
  // The text the key types with its modifiers.
  QString characters;
  // The text of the key with Shift only: what the key types without Option (AltGr).
  QString charactersIgnoringModifiers;
  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// `keyval` is the layout's keysym, `keycode` the evdev code (X key code − 8), `state` the IBus
// modifier state, release bit included. Alt and AltGr both count as Option (AltGr is the Option
// layer of the fixed layouts); Super counts as Command.
KeyEvent keyEventFromIBus(std::uint32_t keyval, std::uint32_t keycode, std::uint32_t state);

}  // namespace tolvani

#endif  // TOLVANI_IME_IBUS_KEYTABLE_H_
