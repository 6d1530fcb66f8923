// The engine's value types: the internal key event, candidates and the composition state that
// every session operation answers with, and its packing into the record hosts decode.
// Thread-safety: plain values; no shared state.
#ifndef TOLVANI_ENGINE_TYPES_H_
#define TOLVANI_ENGINE_TYPES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tolvani_engine.h"
#include "tolvani_record_format.h"

namespace tolvani::engine {

enum class KeyKind : uint8_t {
  kText = TOLVANI_KEY_TEXT,
  kSpace = TOLVANI_KEY_SPACE,
  kEnter = TOLVANI_KEY_ENTER,
  kTab = TOLVANI_KEY_TAB,
  kDownArrow = TOLVANI_KEY_DOWN_ARROW,
  kEscape = TOLVANI_KEY_ESCAPE,
  kBackspace = TOLVANI_KEY_BACKSPACE,
};

// Any kind of 7 or more is treated as text.
KeyKind narrow_key_kind(uint32_t kind);

struct KeyEvent {
  uint32_t key_code = 0;
  uint32_t modifiers = 0;
  uint32_t codepoint = 0;
  KeyKind kind = KeyKind::kText;
};

// Frozen codes: hosts decode them.
enum class CandidateKind : uint8_t {
  kExact = TOLVANI_KIND_EXACT,
  kUser = TOLVANI_KIND_USER,
  kPrefix = TOLVANI_KIND_PREFIX,
  kPhonetic = TOLVANI_KIND_PHONETIC,
  kAutocorrect = TOLVANI_KIND_AUTOCORRECT,
  kPrediction = TOLVANI_KIND_PREDICTION,
  kStandard = TOLVANI_KIND_STANDARD,
};

struct Candidate {
  std::string text;
  int32_t score = 0;  // larger is better
  CandidateKind kind = CandidateKind::kExact;

  friend bool operator==(const Candidate&, const Candidate&) = default;
};

inline constexpr uint32_t kStatusShowCandidates = TOLVANI_STATUS_SHOW_CANDIDATES;
inline constexpr uint32_t kStatusCommitted = TOLVANI_STATUS_COMMITTED;
inline constexpr uint32_t kStatusCancelled = TOLVANI_STATUS_CANCELLED;
inline constexpr uint32_t kStatusAutocorrected = TOLVANI_STATUS_AUTOCORRECTED;
inline constexpr uint32_t kStatusReread = TOLVANI_STATUS_REREAD;
inline constexpr uint32_t kStatusRankingPending = TOLVANI_STATUS_RANKING_PENDING;

struct CompositionState {
  std::string preedit;
  std::string raw_text;
  std::string commit_text;
  std::vector<Candidate> candidates;
  std::string ghost_text;
  std::vector<std::string> predictions;
  std::string spelling_offer;
  std::string spelling_offer_for;
  uint32_t replace_before = 0;
  uint32_t status_flags = 0;

  friend bool operator==(const CompositionState&, const CompositionState&) = default;

  // The packed record (little-endian, length-prefixed), in a buffer first reserved at 128 bytes.
  std::vector<uint8_t> pack() const;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_TYPES_H_
