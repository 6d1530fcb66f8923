#include "ime/fcitx5/Fcitx5Messages.h"

#include <set>
#include <utility>

namespace tolvani::fcitx5protocol {

namespace {

// The rows of one menu level; a sub-menu at the last level comes empty. fcitx5 names each row's
// action by its key, so a key stands once in the whole menu.
bool readMenu(Reader& in, std::vector<MenuEntry>& out, unsigned depth,
              std::set<std::string>& keys) {
  const std::uint32_t count = in.u32();
  if (!in.ok() || count > kMaxRows || (depth >= kMaxMenuDepth && count > 0)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    MenuEntry row;
    row.key = in.text();
    const std::uint8_t kind = in.u8();
    if (kind > static_cast<std::uint8_t>(RowKind::submenu)) return false;
    row.kind = static_cast<RowKind>(kind);
    row.title = in.text();
    row.icon = in.text();
    row.on = in.u8() != 0;
    row.sensitive = in.u8() != 0;
    if (!in.ok() || row.key.empty() || row.key.size() > kMaxRowKey) return false;
    if (!keys.insert(row.key).second) return false;
    if (row.kind == RowKind::submenu && !readMenu(in, row.rows, depth + 1, keys)) return false;
    out.push_back(std::move(row));
  }
  return true;
}

bool atCharacter(const std::string& text, std::uint32_t at) {
  return at == text.size() || (static_cast<std::uint8_t>(text[at]) & 0xC0) != 0x80;
}

bool readAction(Reader& in, ActionStep& step) {
  step.action = static_cast<Action>(in.u8());
  switch (step.action) {
    case Action::preedit:
      step.text = in.text();
      step.caret = in.u32();
      return in.ok() && step.caret <= step.text.size() && atCharacter(step.text, step.caret);
    case Action::commit:
      step.text = in.text();
      return in.ok();
    case Action::deleteSurrounding:
      step.offset = in.i32();
      step.count = in.u32();
      return in.ok() && step.count <= kMaxText;
    case Action::candidates: {
      const std::uint32_t rows = in.u32();
      if (!in.ok() || rows > kMaxRows) return false;
      for (std::uint32_t r = 0; r < rows && in.ok(); ++r) {
        CandidateText row;
        row.text = in.text();
        row.label = in.text();
        step.rows.push_back(std::move(row));
      }
      step.cursor = in.i32();
      step.text = in.text();
      return in.ok() && step.cursor >= -1 && step.cursor < static_cast<std::int32_t>(rows);
    }
    case Action::menu: {
      std::set<std::string> keys;
      return readMenu(in, step.menu, 0, keys) && in.ok();
    }
  }
  return false;
}

// The field's text around the caret, as a key and the field's reports between keys carry it.
void readSurrounding(Reader& in, KeyMessage& k) {
  k.hasText = in.u8() != 0;
  k.text = in.text();
  k.cursor = in.u32();
  k.anchor = in.u32();
}

}  // namespace

std::optional<AddonMessage> readAddonMessage(std::string_view body) {
  Reader in(body);
  AddonMessage m;
  m.type = static_cast<ToProgram>(in.u8());
  switch (m.type) {
    case ToProgram::hello:
      m.version = in.u32();
      break;
    case ToProgram::focusIn:
    case ToProgram::focusOut:
    case ToProgram::reset:
    case ToProgram::contextGone:
    case ToProgram::resync:
      m.context = in.u32();
      break;
    case ToProgram::key: {
      KeyMessage& k = m.key;
      k.sequence = in.u32();
      m.context = in.u32();
      k.keysym = in.u32();
      k.keycode = in.u32();
      k.state = in.u32();
      k.character = in.u32();
      readSurrounding(in, k);
      k.x = in.i32();
      k.y = in.i32();
      k.width = in.i32();
      k.height = in.i32();
      k.purpose = in.u8();
      break;
    }
    case ToProgram::surrounding:
      m.context = in.u32();
      readSurrounding(in, m.key);
      break;
    case ToProgram::candidateClicked:
      m.context = in.u32();
      m.row = in.u32();
      break;
    case ToProgram::menuActivate:
      m.context = in.u32();
      m.rowKey = in.text();
      m.on = in.u8() != 0;
      break;
    default:
      return std::nullopt;
  }
  if (!in.atEnd()) return std::nullopt;
  return m;
}

std::optional<ProgramMessage> readProgramMessage(std::string_view body) {
  Reader in(body);
  ProgramMessage m;
  m.type = static_cast<ToAddon>(in.u8());
  switch (m.type) {
    case ToAddon::answer:
      m.sequence = in.u32();
      m.handled = in.u8() != 0;
      break;
    case ToAddon::update:
      m.context = in.u32();
      break;
    case ToAddon::refused:
      m.refusal = in.text();
      if (!in.atEnd()) return std::nullopt;
      return m;
    default:
      return std::nullopt;
  }
  const std::uint32_t count = in.u32();
  if (!in.ok() || count > kMaxActions) return std::nullopt;
  for (std::uint32_t i = 0; i < count; ++i) {
    ActionStep step;
    if (!readAction(in, step)) return std::nullopt;
    m.actions.push_back(std::move(step));
  }
  if (!in.atEnd()) return std::nullopt;
  return m;
}

}  // namespace tolvani::fcitx5protocol
