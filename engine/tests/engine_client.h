// A host's view of one engine session in tests: sends C-interface calls, decodes every record and
// frees it.
#ifndef TOLVANI_ENGINE_TESTS_ENGINE_CLIENT_H_
#define TOLVANI_ENGINE_TESTS_ENGINE_CLIENT_H_

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "composition_record.h"
#include "tolvani_engine.h"

namespace tolvani::testing {

// Decodes and frees `r`; nothing for the null result. A record that does not decode fails the test.
inline std::optional<EngineState> take(CResult r) {
  if (r.ptr == nullptr) {
    EXPECT_EQ(r.len, 0u);
    return std::nullopt;
  }
  auto state = decode_engine_state(r.ptr, r.len);
  EXPECT_TRUE(state) << "record of " << r.len << " bytes does not decode";
  tolvani_engine_free_result(r.ptr, r.len);
  return state;
}

// The composition in one line, so one EXPECT_EQ shows the picture. Candidates are left out: they
// depend on the lexicon, and tests that care check them on their own.
inline std::string show(const std::optional<EngineState>& s) {
  if (!s) return "<null>";
  std::string out = "raw=" + s->raw_text + " pre=" + s->preedit + " commit=" + s->commit_text +
                    " status=" + std::to_string(s->status_flags);
  if (!s->predictions.empty()) out += " preds=" + std::to_string(s->predictions.size());
  if (!s->spelling_offer.empty()) out += " offer=" + s->spelling_offer;
  return out;
}

class EngineClient {
 public:
  EngineClient() : engine_(tolvani_engine_create()) { EXPECT_NE(engine_, nullptr); }
  ~EngineClient() { tolvani_engine_destroy(engine_); }
  EngineClient(const EngineClient&) = delete;
  EngineClient& operator=(const EngineClient&) = delete;

  TolvaniEngine* get() const { return engine_; }

  std::optional<EngineState> key(uint32_t kind, uint32_t codepoint, uint32_t modifiers = 0) {
    return take(tolvani_engine_handle_key_event(engine_, CKeyEvent{kind, 0, modifiers, codepoint}));
  }
  std::optional<EngineState> text(char32_t c, uint32_t modifiers = 0) {
    return key(TOLVANI_KEY_TEXT, static_cast<uint32_t>(c), modifiers);
  }
  // Types each scalar of `s` as a text key (a space as a space key); returns the last state and
  // collects what was committed on the way.
  std::optional<EngineState> type(std::u32string_view s) {
    std::optional<EngineState> last;
    for (char32_t c : s) {
      last = c == U' ' ? key(TOLVANI_KEY_SPACE, ' ') : text(c);
      if (last) committed_ += last->commit_text;
    }
    return last;
  }
  std::optional<EngineState> config(uint32_t count, uint32_t flags) {
    return take(tolvani_engine_update_config(engine_, count, flags));
  }
  void set_mode(uint32_t mode) { tolvani_engine_set_mode(engine_, mode); }

  const std::string& committed() const { return committed_; }

 private:
  TolvaniEngine* engine_;
  std::string committed_;
};

// The session defaults: count 5, Bangla digits and English passthrough on.
inline constexpr uint32_t kDefaultFlags =
    TOLVANI_FLAG_BANGLA_DIGITS | TOLVANI_FLAG_ENGLISH_PASSTHROUGH;

}  // namespace tolvani::testing

#endif  // TOLVANI_ENGINE_TESTS_ENGINE_CLIENT_H_
