// Decoder of the packed composition record that the engine hands out in a CResult. Used by hosts
// (the command-line host, later the input method's engine bridge) and by the engine's tests.
// Thread-safety: pure functions.
#ifndef TOLVANI_RECORD_COMPOSITION_RECORD_H_
#define TOLVANI_RECORD_COMPOSITION_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvani {

struct EngineCandidate {
  std::string text;
  int32_t score = 0;
  uint8_t kind = 0;  // a TOLVANI_KIND_* code; codes of 7 or more are read as exact (0)

  friend bool operator==(const EngineCandidate&, const EngineCandidate&) = default;
};

// One decoded composition.
struct EngineState {
  uint32_t status_flags = 0;
  uint32_t replace_before = 0;
  std::string preedit;
  std::string raw_text;
  std::string commit_text;
  std::vector<EngineCandidate> candidates;
  std::string ghost_text;
  std::vector<std::string> predictions;
  std::string spelling_offer;
  std::string spelling_offer_for;

  friend bool operator==(const EngineState&, const EngineState&) = default;
};

// Decodes exactly `len` bytes. Returns nothing when the record is short or has bytes left over;
// never reads past `data + len`. Texts are taken as the bytes the engine wrote (valid UTF-8).
std::optional<EngineState> decode_engine_state(const uint8_t* data, size_t len);

// The label a host shows for a kind code: "exact", "user", "prefix", "phonetic", "autocorrect",
// "prediction" or "standard".
std::string_view candidate_kind_label(uint8_t kind);

}  // namespace tolvani

#endif  // TOLVANI_RECORD_COMPOSITION_RECORD_H_
