// The C interface: each export checks its handle, decodes its strings, calls one session
// operation and packs the result. Nothing thrown inside may cross into the host.
#include "ffi.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>

#include "english.h"
#include "lexicon.h"
#include "persistence.h"
#include "session.h"
#include "tolvani_engine.h"
#include "types.h"
#include "utf8.h"

struct TolvaniEngine {
  tolvani::engine::EngineSession session;
};

struct TolvaniSnapshot {
  tolvani::engine::LearningSnapshot snapshot;
};

namespace tolvani::engine {

namespace {

std::atomic<bool> g_fail_next{false};

void maybe_fail() {
  if (g_fail_next.exchange(false)) throw std::runtime_error("injected failure");
}

// Runs `body`; an exception becomes `failure` and one diagnostic line. Running out of memory ends
// the process: nothing sound can be promised to the host after that.
template <typename T, typename Body>
T guarded(const char* what, T failure, Body&& body) {
  try {
    maybe_fail();
    return body();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "[Tolvani] out of memory in %s\n", what);
    std::abort();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "[Tolvani] %s failed: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "[Tolvani] %s failed\n", what);
  }
  return failure;
}

template <typename Body>
void guarded_void(const char* what, Body&& body) {
  guarded(what, 0, [&] {
    body();
    return 0;
  });
}

constexpr CResult kNullResult{nullptr, 0};

CResult to_result(const CompositionState& state) {
  std::vector<uint8_t> bytes = state.pack();
  auto* buffer = new uint8_t[bytes.size()];
  std::memcpy(buffer, bytes.data(), bytes.size());
  return CResult{buffer, static_cast<uint32_t>(bytes.size())};
}

// A session call returning a record: the empty record on a null handle, the null result on an
// internal failure. Candidates a key left pending are ranked first, unless the call is a key
// (which ranks them only when it reads them).
template <typename Op>
CResult session_call(const char* what, TolvaniEngine* engine, Op&& op, bool key = false) {
  return guarded(what, kNullResult, [&] {
    if (engine == nullptr) return to_result(CompositionState{});
    if (!key) engine->session.rank_pending();
    return to_result(op(engine->session));
  });
}

}  // namespace

std::optional<std::string> decode_str(const char* s) {
  if (s == nullptr) return std::nullopt;
  std::string_view bytes(s);
  if (!utf8::is_valid(bytes)) return std::nullopt;
  return std::string(bytes);
}

void test_fail_next_call() { g_fail_next.store(true); }

}  // namespace tolvani::engine

using tolvani::engine::decode_str;
using tolvani::engine::EngineSession;
using tolvani::engine::guarded;
using tolvani::engine::guarded_void;
using tolvani::engine::session_call;

extern "C" {

TolvaniEngine* tolvani_engine_create(void) {
  return guarded("tolvani_engine_create", static_cast<TolvaniEngine*>(nullptr),
                 [] { return new TolvaniEngine(); });
}

void tolvani_engine_destroy(TolvaniEngine* engine) {
  guarded_void("tolvani_engine_destroy", [&] { delete engine; });
}

CResult tolvani_engine_handle_key_event(TolvaniEngine* engine, CKeyEvent event) {
  return session_call(
      "tolvani_engine_handle_key_event", engine,
      [&](EngineSession& s) {
        tolvani::engine::KeyEvent key;
        key.key_code = event.key_code;
        key.modifiers = event.modifiers;
        key.codepoint = event.codepoint;
        key.kind = tolvani::engine::narrow_key_kind(event.kind);
        return s.handle_key_event(key);
      },
      /*key=*/true);
}

void tolvani_engine_free_result(uint8_t* ptr, uint32_t len) {
  if (ptr == nullptr || len == 0) return;
  delete[] ptr;
}

void tolvani_engine_reset(TolvaniEngine* engine) {
  guarded_void("tolvani_engine_reset", [&] {
    if (engine != nullptr) engine->session.reset();
  });
}

void tolvani_engine_set_mode(TolvaniEngine* engine, uint32_t mode) {
  guarded_void("tolvani_engine_set_mode", [&] {
    if (engine != nullptr) engine->session.set_mode(mode);
  });
}

CResult tolvani_engine_update_config(TolvaniEngine* engine, uint32_t suggestion_count,
                                     uint32_t flags) {
  return session_call("tolvani_engine_update_config", engine,
                      [&](EngineSession& s) { return s.update_config(suggestion_count, flags); });
}

CResult tolvani_engine_rank(TolvaniEngine* engine) {
  return guarded("tolvani_engine_rank", tolvani::engine::kNullResult, [&] {
    if (engine == nullptr) return tolvani::engine::kNullResult;
    const auto state = engine->session.rank();
    return state ? tolvani::engine::to_result(*state) : tolvani::engine::kNullResult;
  });
}

CResult tolvani_engine_select_matching(TolvaniEngine* engine, const char* raw,
                                       const char* candidate) {
  return guarded("tolvani_engine_select_matching", tolvani::engine::kNullResult, [&] {
    if (engine == nullptr) return tolvani::engine::kNullResult;
    const auto raw_text = decode_str(raw);
    const auto candidate_text = decode_str(candidate);
    if (!raw_text || !candidate_text) return tolvani::engine::kNullResult;
    engine->session.rank_pending();
    return tolvani::engine::to_result(
        engine->session.select_candidate_matching(*raw_text, *candidate_text));
  });
}

CResult tolvani_engine_note_committed_word(TolvaniEngine* engine, const char* word) {
  return session_call("tolvani_engine_note_committed_word", engine, [&](EngineSession& s) {
    if (const auto text = decode_str(word)) s.note_external_commit(*text);
    return s.next_word_prediction_state();
  });
}

CResult tolvani_engine_seed_prediction_context(TolvaniEngine* engine,
                                               const char* text_before_cursor) {
  return session_call("tolvani_engine_seed_prediction_context", engine, [&](EngineSession& s) {
    if (const auto text = decode_str(text_before_cursor)) s.seed_prediction_context(*text);
    return s.next_word_prediction_state();
  });
}

CResult tolvani_engine_accept_spelling_offer(TolvaniEngine* engine) {
  return session_call("tolvani_engine_accept_spelling_offer", engine,
                      [](EngineSession& s) { return s.accept_spelling_offer(); });
}

CResult tolvani_engine_reload_user_data(TolvaniEngine* engine) {
  return session_call("tolvani_engine_reload_user_data", engine,
                      [](EngineSession& s) { return s.reload_user_data(); });
}

bool tolvani_engine_take_reloaded_stores(TolvaniEngine* engine) {
  return guarded("tolvani_engine_take_reloaded_stores", false,
                 [&] { return engine != nullptr && engine->session.take_finished_stores(); });
}

void tolvani_engine_warm_caches(void) {
  guarded_void("tolvani_engine_warm_caches", [] { tolvani::engine::warm_caches(); });
}

TolvaniSnapshot* tolvani_engine_snapshot(TolvaniEngine* engine) {
  return guarded("tolvani_engine_snapshot", static_cast<TolvaniSnapshot*>(nullptr),
                 [&]() -> TolvaniSnapshot* {
                   if (engine == nullptr) return nullptr;
                   return new TolvaniSnapshot{engine->session.learning_snapshot()};
                 });
}

bool tolvani_snapshot_write(TolvaniSnapshot* snapshot) {
  if (snapshot == nullptr) return false;
  bool written = false;
  {
    // Owned from here on, so it is released whatever the sync does.
    std::unique_ptr<TolvaniSnapshot> owned(snapshot);
    written = guarded("tolvani_snapshot_write", false, [&] { return owned->snapshot.sync(); });
  }
  // The snapshot's copies of the stores are gone, and what writing them took.
  tolvani::engine::give_back_free_memory();
  return written;
}

void tolvani_snapshot_free(TolvaniSnapshot* snapshot) {
  guarded_void("tolvani_snapshot_free", [&] { delete snapshot; });
}

bool tolvani_is_common_english(const char* word) {
  return guarded("tolvani_is_common_english", false, [&] {
    const auto text = decode_str(word);
    return text && tolvani::engine::is_common_english_word(*text);
  });
}

uint64_t tolvani_persistence_failures(void) { return tolvani::engine::persistence_failures(); }

}  // extern "C"
