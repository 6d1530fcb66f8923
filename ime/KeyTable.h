// The one translation of the frameworks' key events (X keysym, evdev key code, X modifier state,
// as IBus and fcitx5 both send them) into the key codes and modifier flags the key handling is
// written in: the physical key positions and flag masks of the classic desktop keyboard model.
// Thread-safety: pure functions, any thread.
#ifndef TOLVANI_IME_KEYTABLE_H_
#define TOLVANI_IME_KEYTABLE_H_

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

// The X modifier masks of `state`, and the release bit IBus uses (fcitx5 tells a release apart).
namespace KeyStates {
inline constexpr std::uint32_t kShift = 1u << 0;
inline constexpr std::uint32_t kLock = 1u << 1;
inline constexpr std::uint32_t kControl = 1u << 2;
inline constexpr std::uint32_t kMod1 = 1u << 3;  // Alt
inline constexpr std::uint32_t kMod4 = 1u << 6;  // Super
inline constexpr std::uint32_t kMod5 = 1u << 7;  // AltGr (ISO_Level3_Shift)
inline constexpr std::uint32_t kSuper = 1u << 26;
inline constexpr std::uint32_t kRelease = 1u << 30;
}  // namespace KeyStates

// `keyval` is the layout's keysym, `keycode` the evdev code (X key code − 8), `state` the X
// modifier state with the release bit, `character` the Unicode scalar the keysym stands for (0
// for none). The keysym says what the key is; the code names its place only where the keymap
// gives it the US layout's symbol there (or, with AltGr, whose symbol is no US key's), as
// keymaps of virtual keyboards, xmodmap and other layouts place keys anywhere. Alt and AltGr
// both count as Option (AltGr is the Option layer of the fixed layouts); Super counts as Command.
KeyEvent keyEventFromKeysym(std::uint32_t keyval, std::uint32_t keycode, std::uint32_t state,
                            char32_t character);

}  // namespace tolvani

#endif  // TOLVANI_IME_KEYTABLE_H_
