// Arbitrary bytes as what the addon reads from the program, as one message and as a stream of
// framed ones: reading never fails hard, and whatever reads written back reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ime/fcitx5/Fcitx5Messages.h"
#include "ime/fuzz/fcitx5_round_trip.h"

namespace {

namespace protocol = tolvani::fcitx5protocol;

void writeMenu(protocol::Writer& out, const std::vector<protocol::MenuEntry>& rows) {
  out.u32(static_cast<std::uint32_t>(rows.size()));
  for (const protocol::MenuEntry& row : rows) {
    out.text(row.key)
        .u8(static_cast<std::uint8_t>(row.kind))
        .text(row.title)
        .text(row.icon)
        .u8(row.on)
        .u8(row.sensitive);
    if (row.kind == protocol::RowKind::submenu) writeMenu(out, row.rows);
  }
}

std::string written(const protocol::ProgramMessage& m) {
  protocol::Writer out(static_cast<std::uint8_t>(m.type));
  if (m.type == protocol::ToAddon::refused) return out.text(m.refusal).frame().substr(4);
  if (m.type == protocol::ToAddon::answer) out.u32(m.sequence).u8(m.handled);
  if (m.type == protocol::ToAddon::update) out.u32(m.context);
  out.u32(static_cast<std::uint32_t>(m.actions.size()));
  for (const protocol::ActionStep& step : m.actions) {
    out.u8(static_cast<std::uint8_t>(step.action));
    switch (step.action) {
      case protocol::Action::preedit:
        out.text(step.text).u32(step.caret);
        break;
      case protocol::Action::commit:
        out.text(step.text);
        break;
      case protocol::Action::deleteSurrounding:
        out.i32(step.offset).u32(step.count);
        break;
      case protocol::Action::candidates:
        out.u32(static_cast<std::uint32_t>(step.rows.size()));
        for (const protocol::CandidateText& row : step.rows) out.text(row.text).text(row.label);
        out.i32(step.cursor).text(step.text);
        break;
      case protocol::Action::menu:
        writeMenu(out, step.menu);
        break;
    }
  }
  return out.frame().substr(4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  protocol::checkRoundTrips(data, size, protocol::readProgramMessage, written);
  return 0;
}
