// Random sequences of calls across the whole C interface: key events of any kind and code point,
// mode switches, config words, strings that are not UTF-8, snapshots written and freed in any
// order. Every record handed out must decode exactly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "composition_record.h"
#include "fuzz_input.h"
#include "tolvani_engine.h"

namespace {

class Input : public tolvani::fuzz::FuzzInput {
 public:
  using FuzzInput::FuzzInput;
  // A code point that is usually typeable but can be anything, surrogates and 0 included.
  uint32_t codepoint() {
    switch (byte() % 8) {
      case 0:
        return u32();
      case 1:
        return 0x0980 + byte() % 0x80;  // Bangla block
      case 2:
        return 0xD800 + byte() * 8;  // surrogates
      default:
        return byte() % 0x80;
    }
  }
  // Bytes as a NUL-terminated string (possibly invalid UTF-8), or null.
  const char* string(std::string& storage) {
    const uint8_t len = byte();
    if (len == 0xFF) return nullptr;
    storage.clear();
    for (uint8_t i = 0; i < len % 24 && !empty(); ++i) {
      const char c = static_cast<char>(byte());
      if (c != '\0') storage.push_back(c);
    }
    return storage.c_str();
  }
};

void check(CResult r, bool may_be_null) {
  if (r.ptr == nullptr) {
    if (!may_be_null || r.len != 0) std::abort();
    return;
  }
  if (!tolvani::decode_engine_state(r.ptr, r.len)) std::abort();
  tolvani_engine_free_result(r.ptr, r.len);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/tolvani-fuzz-XXXXXX";
  if (mkdtemp(dir) != nullptr) setenv("TOLVANI_DATA_DIR", dir, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  TolvaniEngine* engine = tolvani_engine_create();
  if (engine == nullptr) std::abort();
  std::vector<TolvaniSnapshot*> snapshots;
  std::string a, b;
  while (!in.empty()) {
    switch (in.byte() % 16) {
      case 0:
      case 1:
      case 2:
      case 3: {
        const uint8_t k = in.byte();
        const uint32_t kind = k < 200 ? k % 8 : in.u32();
        const uint32_t modifiers = in.byte() % 4 == 0 ? in.u32() : 0;
        check(
            tolvani_engine_handle_key_event(engine, CKeyEvent{kind, 0, modifiers, in.codepoint()}),
            true);
        break;
      }
      case 4:
        tolvani_engine_set_mode(engine, in.byte() % 4 == 0 ? in.u32() : in.byte() % 4);
        break;
      case 5:
        check(tolvani_engine_update_config(engine, in.u32(), in.u32()), true);
        break;
      case 6:
        tolvani_engine_reset(engine);
        break;
      case 7: {
        const char* raw = in.string(a);
        const char* text = in.string(b);
        check(tolvani_engine_select_matching(engine, raw, text), true);
        break;
      }
      case 8:
        check(tolvani_engine_note_committed_word(engine, in.string(a)), true);
        break;
      case 9:
        check(tolvani_engine_seed_prediction_context(engine, in.string(a)), true);
        break;
      case 10:
        check(tolvani_engine_accept_spelling_offer(engine), true);
        break;
      case 11:
        check(tolvani_engine_reload_user_data(engine), true);
        // The reloaded stores taken in between keys, if they are read already.
        (void)tolvani_engine_take_reloaded_stores(engine);
        break;
      case 12:
        if (TolvaniSnapshot* s = tolvani_engine_snapshot(engine)) snapshots.push_back(s);
        break;
      case 13:
        if (!snapshots.empty()) {
          const size_t i = in.byte() % snapshots.size();
          if (in.byte() % 2) {
            tolvani_snapshot_write(snapshots[i]);
          } else {
            tolvani_snapshot_free(snapshots[i]);
          }
          snapshots.erase(snapshots.begin() + static_cast<std::ptrdiff_t>(i));
        }
        break;
      case 14:
        tolvani_is_common_english(in.string(a));
        (void)tolvani_persistence_failures();
        // The candidates a key left pending (config bit 7), if any.
        check(tolvani_engine_rank(engine), true);
        break;
      case 15:
        // A fresh session while snapshots of the old one are still alive.
        tolvani_engine_destroy(engine);
        engine = tolvani_engine_create();
        if (engine == nullptr) std::abort();
        break;
    }
  }
  check(tolvani_engine_handle_key_event(nullptr, CKeyEvent{0, 0, 0, 'a'}), false);
  if (tolvani_engine_rank(nullptr).ptr != nullptr) std::abort();
  if (tolvani_engine_take_reloaded_stores(nullptr)) std::abort();
  for (TolvaniSnapshot* s : snapshots) tolvani_snapshot_write(s);
  tolvani_engine_destroy(engine);
  return 0;
}
