// The check both socket harnesses make: the input read as one message and as a stream of framed
// ones; whatever reads, written back, reads the same.
#ifndef TOLVANI_IME_FUZZ_FCITX5_ROUND_TRIP_H_
#define TOLVANI_IME_FUZZ_FCITX5_ROUND_TRIP_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ime/fcitx5/Fcitx5Messages.h"

namespace tolvani::fcitx5protocol {

template <typename Read, typename Write>
void checkRoundTrips(const std::uint8_t* data, std::size_t size, Read read, Write written) {
  const auto check = [&](std::string_view body) {
    const auto message = read(body);
    if (message && read(written(*message)) != message) std::abort();
  };
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  check(bytes);
  std::string stream = bytes, body;
  bool broken = false;
  while (takeMessage(stream, body, broken)) check(body);
}

}  // namespace tolvani::fcitx5protocol

#endif  // TOLVANI_IME_FUZZ_FCITX5_ROUND_TRIP_H_
