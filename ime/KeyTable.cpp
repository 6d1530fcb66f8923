#include "ime/KeyTable.h"

#include <X11/keysym.h>

#include <array>

namespace tolvani {
namespace {

struct PositionKey {
  std::uint32_t evdev;
  std::uint16_t code;
  char base;     // the US layout's character at this position, 0 for none
  char shifted;  // the same with Shift
};

// Keys by position, as the evdev code names them.
constexpr PositionKey kPositions[] = {
    {1, 53, 0, 0},       {2, 18, '1', '!'},  {3, 19, '2', '@'},   {4, 20, '3', '#'},
    {5, 21, '4', '$'},   {6, 23, '5', '%'},  {7, 22, '6', '^'},   {8, 26, '7', '&'},
    {9, 28, '8', '*'},   {10, 25, '9', '('}, {11, 29, '0', ')'},  {12, 27, '-', '_'},
    {13, 24, '=', '+'},  {14, 51, 0, 0},     {15, 48, 0, 0},      {16, 12, 'q', 'Q'},
    {17, 13, 'w', 'W'},  {18, 14, 'e', 'E'}, {19, 15, 'r', 'R'},  {20, 17, 't', 'T'},
    {21, 16, 'y', 'Y'},  {22, 32, 'u', 'U'}, {23, 34, 'i', 'I'},  {24, 31, 'o', 'O'},
    {25, 35, 'p', 'P'},  {26, 33, '[', '{'}, {27, 30, ']', '}'},  {28, 36, 0, 0},
    {30, 0, 'a', 'A'},   {31, 1, 's', 'S'},  {32, 2, 'd', 'D'},   {33, 3, 'f', 'F'},
    {34, 5, 'g', 'G'},   {35, 4, 'h', 'H'},  {36, 38, 'j', 'J'},  {37, 40, 'k', 'K'},
    {38, 37, 'l', 'L'},  {39, 41, ';', ':'}, {40, 39, '\'', '"'}, {41, 50, '`', '~'},
    {43, 42, '\\', '|'}, {44, 6, 'z', 'Z'},  {45, 7, 'x', 'X'},   {46, 8, 'c', 'C'},
    {47, 9, 'v', 'V'},   {48, 11, 'b', 'B'}, {49, 45, 'n', 'N'},  {50, 46, 'm', 'M'},
    {51, 43, ',', '<'},  {52, 47, '.', '>'}, {53, 44, '/', '?'},  {55, 67, '*', '*'},
    {57, 49, ' ', ' '},  {59, 122, 0, 0},    {60, 120, 0, 0},     {61, 99, 0, 0},
    {62, 118, 0, 0},     {63, 96, 0, 0},     {64, 97, 0, 0},      {65, 98, 0, 0},
    {66, 100, 0, 0},     {67, 101, 0, 0},    {68, 109, 0, 0},     {71, 89, '7', '7'},
    {72, 91, '8', '8'},  {73, 92, '9', '9'}, {74, 78, '-', '-'},  {75, 86, '4', '4'},
    {76, 87, '5', '5'},  {77, 88, '6', '6'}, {78, 69, '+', '+'},  {79, 83, '1', '1'},
    {80, 84, '2', '2'},  {81, 85, '3', '3'}, {82, 82, '0', '0'},  {83, 65, '.', '.'},
    {86, 10, '<', '>'},  {87, 103, 0, 0},    {88, 111, 0, 0},     {96, 76, 0, 0},
    {98, 75, '/', '/'},  {102, 115, 0, 0},   {103, 126, 0, 0},    {104, 116, 0, 0},
    {105, 123, 0, 0},    {106, 124, 0, 0},   {107, 119, 0, 0},    {108, 125, 0, 0},
    {109, 121, 0, 0},    {111, 117, 0, 0},
};

// Shift, Control, Alt, Super, Caps Lock and the level and group shifts: pressed alone they only
// change the modifiers, as a flags change does, and are no key of their own.
bool isModifierKey(std::uint32_t keyval) {
  return (keyval >= XK_Shift_L && keyval <= XK_Hyper_R) ||
         (keyval >= XK_ISO_Lock && keyval <= XK_ISO_Level5_Lock) || keyval == XK_Mode_switch ||
         keyval == XK_Num_Lock;
}

const PositionKey* positionKey(std::uint32_t evdev) {
  for (const PositionKey& key : kPositions) {
    if (key.evdev == evdev) return &key;
  }
  return nullptr;
}

struct FunctionKey {
  std::uint32_t keyval;
  std::uint16_t code;
  char16_t character;  // what the key types: a control character or a function-key character
};

// Keys whose meaning the layout decides (a Caps Lock remapped to Escape types Escape), with the
// characters such keys type: control characters, and the private-use function-key characters
// that tell navigation apart from text.
constexpr FunctionKey kFunctionKeys[] = {
    {XK_Return, 36, u'\r'},      {XK_KP_Enter, 76, 0x03},
    {XK_ISO_Enter, 36, u'\r'},   {XK_Tab, 48, u'\t'},
    {XK_ISO_Left_Tab, 48, 0x19}, {XK_BackSpace, 51, 0x7F},
    {XK_Escape, 53, 0x1B},       {XK_Up, 126, 0xF700},
    {XK_Down, 125, 0xF701},      {XK_Left, 123, 0xF702},
    {XK_Right, 124, 0xF703},     {XK_KP_Up, 126, 0xF700},
    {XK_KP_Down, 125, 0xF701},   {XK_KP_Left, 123, 0xF702},
    {XK_KP_Right, 124, 0xF703},  {XK_F1, 122, 0xF704},
    {XK_F2, 120, 0xF705},        {XK_F3, 99, 0xF706},
    {XK_F4, 118, 0xF707},        {XK_F5, 96, 0xF708},
    {XK_F6, 97, 0xF709},         {XK_F7, 98, 0xF70A},
    {XK_F8, 100, 0xF70B},        {XK_F9, 101, 0xF70C},
    {XK_F10, 109, 0xF70D},       {XK_F11, 103, 0xF70E},
    {XK_F12, 111, 0xF70F},       {XK_Insert, 114, 0xF727},
    {XK_Delete, 117, 0xF728},    {XK_KP_Delete, 117, 0xF728},
    {XK_Home, 115, 0xF729},      {XK_KP_Home, 115, 0xF729},
    {XK_End, 119, 0xF72B},       {XK_KP_End, 119, 0xF72B},
    {XK_Page_Up, 116, 0xF72C},   {XK_KP_Page_Up, 116, 0xF72C},
    {XK_Page_Down, 121, 0xF72D}, {XK_KP_Page_Down, 121, 0xF72D},
    {XK_Print, 105, 0xF72E},     {XK_Scroll_Lock, 107, 0xF72F},
    {XK_Pause, 113, 0xF730},     {XK_Menu, 110, 0xF735},
};

const FunctionKey* functionKey(std::uint32_t keyval) {
  for (const FunctionKey& key : kFunctionKeys) {
    if (key.keyval == keyval) return &key;
  }
  return nullptr;
}

QString textOf(char32_t c) {
  const bool valid = c != 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
  if (!valid) return QString();
  return QString::fromUcs4(&c, 1);
}

char32_t lowered(char32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// The US layout types `character` at this place, on its own or with Shift (a letter with Caps
// Lock too).
bool agrees(const PositionKey* position, char32_t character) {
  if (!position || position->base == 0) return false;
  const char32_t c = lowered(character);
  return c == static_cast<unsigned char>(position->base) ||
         character == static_cast<unsigned char>(position->shifted);
}

// Where the US layout's main block types `character`.
const PositionKey* usPlace(char32_t character) {
  const char32_t c = lowered(character);
  if (c == 0 || c > 0x7E) return nullptr;
  for (const PositionKey& key : kPositions) {
    if (c == static_cast<unsigned char>(key.base) || c == static_cast<unsigned char>(key.shifted))
      return &key;
  }
  return nullptr;
}

}  // namespace

KeyEvent keyEventFromKeysym(std::uint32_t keyval, std::uint32_t keycode, std::uint32_t state,
                            char32_t character) {
  KeyEvent event;
  event.keyDown = (state & KeyStates::kRelease) == 0 && !isModifierKey(keyval);
  if (state & KeyStates::kLock) event.modifierFlags |= KeyFlags::kCapsLock;
  if (state & KeyStates::kShift) event.modifierFlags |= KeyFlags::kShift;
  if (state & KeyStates::kControl) event.modifierFlags |= KeyFlags::kControl;
  // AltGr types the fixed layouts' third level. Alt belongs to the application (its menus'
  // accelerators), as Command does on the Mac, except beside Control, where Control-Alt keys are
  // the input method's own hot keys.
  const bool alt = (state & KeyStates::kMod1) != 0;
  const bool control = (state & KeyStates::kControl) != 0;
  if ((state & KeyStates::kMod5) || (alt && control)) event.modifierFlags |= KeyFlags::kOption;
  if ((state & (KeyStates::kSuper | KeyStates::kMod4)) || (alt && !control)) {
    event.modifierFlags |= KeyFlags::kCommand;
  }

  if (const FunctionKey* function = functionKey(keyval)) {
    event.keyCode = function->code;
    event.characters = QString(QChar(function->character));
    event.charactersIgnoringModifiers = event.characters;
    return event;
  }
  const PositionKey* position = positionKey(keycode);
  const bool altGr = (state & KeyStates::kMod5) != 0;
  if (character == 0) {
    // No text and no function of its own (a media key, a dead key): no place either.
    position = nullptr;
  } else if (altGr && position && position->base != 0) {
    // AltGr's symbol is no US key's, and the event tells not the key's own: the place stands.
  } else if (!agrees(position, character)) {
    // The keymap gives this code another symbol than the US layout does (a virtual keyboard's
    // own keymap, xmodmap, Colemak, AZERTY): the symbol says which key it is. A symbol the US
    // layout has not keeps the place it is typed at, where that is a character key.
    if (const PositionKey* place = usPlace(character)) {
      position = place;
    } else if (!position || position->base == 0 || position->base == ' ') {
      position = nullptr;
    }
  }
  if (position) event.keyCode = position->code;
  event.characters = textOf(character);
  event.charactersIgnoringModifiers = event.characters;
  // AltGr moves the layout to another level; without it, the key types its base character. The
  // event tells only the symbol of AltGr's level: the base is the US one of the key's place.
  if (altGr && position && position->base != 0) {
    const char base = (state & KeyStates::kShift) ? position->shifted : position->base;
    event.charactersIgnoringModifiers = QString(QLatin1Char(base));
  }
  return event;
}

}  // namespace tolvani
