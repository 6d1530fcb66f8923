// The table of the engine's C functions that the bridge calls: the real engine by default, or a
// test's scripted engine. Thread-safety: engineSeam() may be read from any thread; a test
// installs its table before any bridge exists and keeps it alive while bridges or snapshots
// made under it live (they keep a reference to the table they were made with).
#ifndef TOLVANI_IME_ENGINESEAM_H_
#define TOLVANI_IME_ENGINESEAM_H_

#include <cstdint>

#include "tolvani_engine.h"

namespace tolvani {

struct EngineSeam {
  TolvaniEngine* (*create)() = tolvani_engine_create;
  void (*destroy)(TolvaniEngine*) = tolvani_engine_destroy;
  CResult (*handleKeyEvent)(TolvaniEngine*, CKeyEvent) = tolvani_engine_handle_key_event;
  void (*freeResult)(uint8_t*, uint32_t) = tolvani_engine_free_result;
  void (*reset)(TolvaniEngine*) = tolvani_engine_reset;
  void (*setMode)(TolvaniEngine*, uint32_t) = tolvani_engine_set_mode;
  CResult (*updateConfig)(TolvaniEngine*, uint32_t, uint32_t) = tolvani_engine_update_config;
  CResult (*rank)(TolvaniEngine*) = tolvani_engine_rank;
  CResult (*selectMatching)(TolvaniEngine*, const char*,
                            const char*) = tolvani_engine_select_matching;
  CResult (*noteCommittedWord)(TolvaniEngine*, const char*) = tolvani_engine_note_committed_word;
  CResult (*seedPredictionContext)(TolvaniEngine*,
                                   const char*) = tolvani_engine_seed_prediction_context;
  CResult (*acceptSpellingOffer)(TolvaniEngine*) = tolvani_engine_accept_spelling_offer;
  CResult (*reloadUserData)(TolvaniEngine*) = tolvani_engine_reload_user_data;
  bool (*takeReloadedStores)(TolvaniEngine*) = tolvani_engine_take_reloaded_stores;
  void (*warmCaches)() = tolvani_engine_warm_caches;
  TolvaniSnapshot* (*snapshot)(TolvaniEngine*) = tolvani_engine_snapshot;
  bool (*snapshotWrite)(TolvaniSnapshot*) = tolvani_snapshot_write;
  void (*snapshotFree)(TolvaniSnapshot*) = tolvani_snapshot_free;
  bool (*isCommonEnglish)(const char*) = tolvani_is_common_english;
  uint64_t (*persistenceFailures)() = tolvani_persistence_failures;
};

// The table in use: the real engine's unless a test installed another.
const EngineSeam& engineSeam();
// Installs `seam` (borrowed; it must outlive every bridge and snapshot made while it is
// installed) or, with nullptr, the real engine's again.
void testSetEngineSeam(const EngineSeam* seam);

}  // namespace tolvani

#endif  // TOLVANI_IME_ENGINESEAM_H_
