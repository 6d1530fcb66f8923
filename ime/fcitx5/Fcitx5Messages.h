// The messages of Fcitx5Protocol.h read into values: each side reads what the other sends with one
// pure function, which gives what a message says, or nothing when any part of it is out of bounds,
// so that a message cut short, of an unknown kind or with a bad text changes nothing. Plain C++:
// the addon, the program and the fuzz harnesses share them.
// Thread-safety: plain values and pure functions.
#ifndef TOLVANI_IME_FCITX5_FCITX5MESSAGES_H_
#define TOLVANI_IME_FCITX5_FCITX5MESSAGES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ime/fcitx5/Fcitx5Protocol.h"

namespace tolvani::fcitx5protocol {

// A key as the addon sends it, with the field's state.
struct KeyMessage {
  std::uint32_t sequence = 0;
  std::uint32_t keysym = 0;
  std::uint32_t keycode = 0;
  std::uint32_t state = 0;
  std::uint32_t character = 0;
  // The text around the caret, when the field reports it; positions in Unicode scalars.
  bool hasText = false;
  std::string text;
  std::uint32_t cursor = 0;
  std::uint32_t anchor = 0;
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  std::uint8_t purpose = 0;
  bool operator==(const KeyMessage&) const = default;
};

struct AddonMessage {
  ToProgram type = ToProgram::hello;
  std::uint32_t version = 0;  // hello
  std::uint32_t context = 0;  // every other type
  std::uint32_t row = 0;      // candidateClicked
  std::string rowKey;         // menuActivate
  bool on = false;            // menuActivate
  KeyMessage key;             // key; surrounding: its text, cursor and anchor
  bool operator==(const AddonMessage&) const = default;
};

// A message from the addon; nothing when it cannot be read whole.
std::optional<AddonMessage> readAddonMessage(std::string_view body);

struct MenuEntry {
  std::string key;
  RowKind kind = RowKind::item;
  std::string title;
  std::string icon;
  bool on = false;
  bool sensitive = true;
  std::vector<MenuEntry> rows;  // a sub-menu's
  bool operator==(const MenuEntry&) const = default;
};

struct CandidateText {
  std::string text;
  std::string label;
  bool operator==(const CandidateText&) const = default;
};

struct ActionStep {
  Action action = Action::commit;
  // preedit, commit; the candidates' status line.
  std::string text;
  // preedit: the caret, in bytes into the text, on a character's start or at its end.
  std::uint32_t caret = 0;
  // deleteSurrounding.
  std::int32_t offset = 0;
  std::uint32_t count = 0;
  // candidates: the rows and the selected one, -1 for none.
  std::vector<CandidateText> rows;
  std::int32_t cursor = -1;
  // menu: the rows, each key once in the whole menu.
  std::vector<MenuEntry> menu;
  bool operator==(const ActionStep&) const = default;
};

struct ProgramMessage {
  ToAddon type = ToAddon::answer;
  std::uint32_t sequence = 0;  // answer
  bool handled = false;        // answer
  std::uint32_t context = 0;   // update
  std::string refusal;         // refused
  std::vector<ActionStep> actions;
  bool operator==(const ProgramMessage&) const = default;
};

// A message from the program; nothing when it cannot be read whole.
std::optional<ProgramMessage> readProgramMessage(std::string_view body);

// At most this many actions in one message.
inline constexpr std::uint32_t kMaxActions = 4 * kMaxRows;
// A menu row's key is this long at most.
inline constexpr std::size_t kMaxRowKey = 64;

}  // namespace tolvani::fcitx5protocol

#endif  // TOLVANI_IME_FCITX5_FCITX5MESSAGES_H_
