#include "ime/ibus/IBusKeyEvent.h"

#include <gtest/gtest.h>
#include <ibus.h>

namespace tolvani {
namespace {

TEST(KeyTableTest, IBusKeysBecomeKeyCodesFlagsAndCharacters) {
  using namespace KeyFlags;
  struct Case {
    const char* name;
    std::uint32_t keyval, keycode, state;
    std::uint16_t code;
    std::uint64_t flags;
    const char* characters;
    const char* ignoringModifiers;
  };
  const Case cases[] = {
      {"a", 'a', 30, 0, 0, 0, "a", "a"},
      {"Shift A", 'A', 30, IBUS_SHIFT_MASK, 0, kShift, "A", "A"},
      {"Control-Option-S", 's', 31, IBUS_CONTROL_MASK | IBUS_MOD1_MASK, 1, kControl | kOption, "s",
       "s"},
      {"Control-Option-B", 'b', 48, IBUS_CONTROL_MASK | IBUS_MOD1_MASK, 11, kControl | kOption, "b",
       "b"},
      {"Control-Space", ' ', 57, IBUS_CONTROL_MASK, 49, kControl, " ", " "},
      {"Control-Shift-Space", ' ', 57, IBUS_CONTROL_MASK | IBUS_SHIFT_MASK, 49, kControl | kShift,
       " ", " "},
      {"Super-c is Command", 'c', 46, IBUS_SUPER_MASK | IBUS_MOD4_MASK, 8, kCommand, "c", "c"},
      // Alt with a key is the application's: Command, not the fixed layouts' third level.
      {"Alt-f is Command", 'f', 33, IBUS_MOD1_MASK, 3, kCommand, "f", "f"},
      {"Alt-Shift-f is Command", 'F', 33, IBUS_MOD1_MASK | IBUS_SHIFT_MASK, 3, kCommand | kShift,
       "F", "F"},
      {"Return", IBUS_KEY_Return, 28, 0, 36, 0, "\r", "\r"},
      {"keypad Enter", IBUS_KEY_KP_Enter, 96, 0, 76, 0, "\x03", "\x03"},
      {"Tab", IBUS_KEY_Tab, 15, 0, 48, 0, "\t", "\t"},
      {"BackSpace", IBUS_KEY_BackSpace, 14, 0, 51, 0, "\x7f", "\x7f"},
      {"Escape", IBUS_KEY_Escape, 1, 0, 53, 0, "\x1b", "\x1b"},
      // Caps Lock remapped to Escape by the layout: the keysym decides.
      {"remapped Escape", IBUS_KEY_Escape, 58, IBUS_LOCK_MASK, 53, kCapsLock, "\x1b", "\x1b"},
      {"Left", IBUS_KEY_Left, 105, 0, 123, 0, "\uF702", "\uF702"},
      {"Right", IBUS_KEY_Right, 106, 0, 124, 0, "\uF703", "\uF703"},
      {"Down", IBUS_KEY_Down, 108, 0, 125, 0, "\uF701", "\uF701"},
      {"Up", IBUS_KEY_Up, 103, 0, 126, 0, "\uF700", "\uF700"},
      {"F5", IBUS_KEY_F5, 63, 0, 96, 0, "\uF708", "\uF708"},
      {"Home", IBUS_KEY_Home, 102, 0, 115, 0, "\uF729", "\uF729"},
      {"forward Delete", IBUS_KEY_Delete, 111, 0, 117, 0, "\uF728", "\uF728"},
      // AltGr is Option; the engine gets the key's own character with it.
      {"AltGr k", 0x1000995, 37, IBUS_MOD5_MASK, 40, kOption, "ক", "k"},
      {"AltGr Shift k", 0x1000996, 37, IBUS_MOD5_MASK | IBUS_SHIFT_MASK, 40, kOption | kShift, "খ",
       "K"},
      {"Bangla layout letter", 0x1000995, 37, 0, 40, 0, "ক", "ক"},
      {"no key code", 'm', 0, 0, 46, 0, "m", "m"},
      {"media key", 0x1008FF14, 164, 0, KeyCodes::kUnknown, 0, "", ""},
      // Codes the keymap gives other symbols than the US layout does: wtype's own keymap (codes
      // from 9 in order of use), xmodmap, Colemak, AZERTY. The symbol decides.
      {"a on Escape's code", 'a', 1, 0, 0, 0, "a", "a"},
      {"Space on the 3 key's code", ' ', 4, 0, 49, 0, " ", " "},
      {"n on BackSpace's code", 'n', 14, 0, 45, 0, "n", "n"},
      {"i on Tab's code", 'i', 15, 0, 34, 0, "i", "i"},
      {"m on Return's code", 'm', 28, 0, 46, 0, "m", "m"},
      {"3 on Space's code", '3', 57, 0, 20, 0, "3", "3"},
      {"? on the 1 key's code", '?', 2, IBUS_SHIFT_MASK, 44, kShift, "?", "?"},
      {"Control-Option-s on Escape's code", 's', 1, IBUS_CONTROL_MASK | IBUS_MOD1_MASK, 1,
       kControl | kOption, "s", "s"},
      {"Colemak f on e's place", 'f', 18, 0, 3, 0, "f", "f"},
      {"Colemak BackSpace on Caps Lock", IBUS_KEY_BackSpace, 58, 0, 51, 0, "\x7f", "\x7f"},
      {"AZERTY a on q's place", 'a', 16, 0, 0, 0, "a", "a"},
      {"AZERTY & on the 1 key", '&', 2, 0, 26, 0, "&", "&"},
      {"AZERTY Shift 1", '1', 2, IBUS_SHIFT_MASK, 18, kShift, "1", "1"},
      {"Caps Lock A", 'A', 30, IBUS_LOCK_MASK, 0, kCapsLock, "A", "A"},
      {"a Bangla letter on Escape's code", 0x1000986, 1, 0, KeyCodes::kUnknown, 0, "আ", "আ"},
      {"a Bangla letter on Space's code", 0x1000986, 57, 0, KeyCodes::kUnknown, 0, "আ", "আ"},
      {"a media key on Escape's code", 0x1008FF14, 1, 0, KeyCodes::kUnknown, 0, "", ""},
      // AltGr's symbol says nothing of the key's own: the place gives the base.
      {"AltGr @ on q's place", '@', 16, IBUS_MOD5_MASK, 12, kOption, "@", "q"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const KeyEvent event = keyEventFromIBus(c.keyval, c.keycode, c.state);
    EXPECT_TRUE(event.keyDown);
    EXPECT_EQ(event.keyCode, c.code);
    EXPECT_EQ(event.modifierFlags, c.flags);
    EXPECT_EQ(event.characters, QString::fromUtf8(c.characters));
    EXPECT_EQ(event.charactersIgnoringModifiers, QString::fromUtf8(c.ignoringModifiers));
  }
  EXPECT_FALSE(keyEventFromIBus('a', 30, IBUS_RELEASE_MASK).keyDown);
  // A modifier pressed alone is a change of flags, not a key.
  for (const std::uint32_t keyval :
       {IBUS_KEY_Shift_L, IBUS_KEY_Control_R, IBUS_KEY_Alt_L, IBUS_KEY_Super_L, IBUS_KEY_Caps_Lock,
        IBUS_KEY_ISO_Level3_Shift, IBUS_KEY_Num_Lock}) {
    EXPECT_FALSE(keyEventFromIBus(keyval, 42, 0).keyDown) << keyval;
  }
}

}  // namespace
}  // namespace tolvani
