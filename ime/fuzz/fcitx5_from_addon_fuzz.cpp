// Arbitrary bytes as what the program reads from fcitx5's addon, as one message and as a stream of
// framed ones: reading never fails hard, and whatever reads written back reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ime/fcitx5/Fcitx5Messages.h"
#include "ime/fuzz/fcitx5_round_trip.h"

namespace {

namespace protocol = tolvani::fcitx5protocol;

std::string written(const protocol::AddonMessage& m) {
  protocol::Writer out(static_cast<std::uint8_t>(m.type));
  const protocol::KeyMessage& k = m.key;
  switch (m.type) {
    case protocol::ToProgram::hello:
      out.u32(m.version);
      break;
    case protocol::ToProgram::key:
      out.u32(k.sequence).u32(m.context).u32(k.keysym).u32(k.keycode).u32(k.state);
      out.u32(k.character).u8(k.hasText).text(k.text).u32(k.cursor).u32(k.anchor);
      out.i32(k.x).i32(k.y).i32(k.width).i32(k.height).u8(k.purpose);
      break;
    case protocol::ToProgram::surrounding:
      out.u32(m.context).u8(k.hasText).text(k.text).u32(k.cursor).u32(k.anchor);
      break;
    case protocol::ToProgram::candidateClicked:
      out.u32(m.context).u32(m.row);
      break;
    case protocol::ToProgram::menuActivate:
      out.u32(m.context).text(m.rowKey).u8(m.on);
      break;
    default:
      out.u32(m.context);
  }
  return out.frame().substr(4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  protocol::checkRoundTrips(data, size, protocol::readAddonMessage, written);
  return 0;
}
