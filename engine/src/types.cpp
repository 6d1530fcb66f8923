#include "types.h"

#include <string_view>

namespace tolvani::engine {

KeyKind narrow_key_kind(uint32_t kind) {
  return kind <= static_cast<uint32_t>(KeyKind::kBackspace) ? static_cast<KeyKind>(kind)
                                                            : KeyKind::kText;
}

namespace {

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Lengths and counts are the low 32 bits of the engine's sizes; no engine text comes near 4 GiB.
void put_string(std::vector<uint8_t>& out, std::string_view s) {
  put_u32(out, static_cast<uint32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

}  // namespace

std::vector<uint8_t> CompositionState::pack() const {
  std::vector<uint8_t> out;
  out.reserve(128);
  put_u32(out, status_flags);
  put_u32(out, replace_before);
  put_u32(out, static_cast<uint32_t>(candidates.size()));
  put_string(out, preedit);
  put_string(out, raw_text);
  put_string(out, commit_text);
  for (const Candidate& c : candidates) {
    put_string(out, c.text);
    put_u32(out, static_cast<uint32_t>(c.score));  // two's complement
    out.push_back(static_cast<uint8_t>(c.kind));
  }
  put_string(out, ghost_text);
  put_u32(out, static_cast<uint32_t>(predictions.size()));
  for (const std::string& p : predictions) put_string(out, p);
  put_string(out, spelling_offer);
  put_string(out, spelling_offer_for);
  return out;
}

}  // namespace tolvani::engine
