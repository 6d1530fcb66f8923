/* The typing engine's whole public surface: a flat C interface.
 *
 * Conventions, once for every function below:
 * - Strings are NUL-terminated UTF-8. A null pointer or bytes that are not valid UTF-8 count as an
 *   absent argument; the engine copies what it keeps and never retains the caller's buffer.
 * - No error crosses this interface. Each function returns its failure value instead: a session
 *   function given a null handle returns the 40-byte empty record (tolvani_engine_select_matching
 *   returns the null result) or does nothing; a caught internal failure returns the null result
 *   (null pointer, length 0), a null handle, false or 0. After a caught failure the handle stays
 *   valid.
 * - Every CResult with a non-null pointer is released exactly once with tolvani_engine_free_result,
 *   given the very pointer and length received. A snapshot handle is passed to exactly one of
 *   tolvani_snapshot_write and tolvani_snapshot_free.
 *
 * Threading: a session takes no lock of its own. Every call on one engine handle, including
 * tolvani_engine_snapshot and tolvani_engine_destroy, must be serialised by the caller. The
 * process-wide functions (warm_caches, is_common_english, persistence_failures, snapshot_write,
 * snapshot_free) may run on any thread at the same time as session calls.
 *
 * The layout of the bytes behind a CResult is in tolvani_record_format.h.
 */
#ifndef TOLVANI_ENGINE_H_
#define TOLVANI_ENGINE_H_

#include <stdbool.h>
#include <stdint.h>

#if defined(TOLVANI_ENGINE_SHARED_BUILD)
#define TOLVANI_EXPORT __attribute__((visibility("default")))
#else
#define TOLVANI_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Key kinds of CKeyEvent.kind. Frozen: hosts send these numbers. Any value of 7 or more is text. */
enum {
  TOLVANI_KEY_TEXT = 0,
  TOLVANI_KEY_SPACE = 1,
  TOLVANI_KEY_ENTER = 2,
  TOLVANI_KEY_TAB = 3,
  TOLVANI_KEY_DOWN_ARROW = 4,
  TOLVANI_KEY_ESCAPE = 5,
  TOLVANI_KEY_BACKSPACE = 6
};

/* Bits of CKeyEvent.modifiers; other bits are ignored. */
enum { TOLVANI_MODIFIER_SHIFT = 1u << 0, TOLVANI_MODIFIER_OPTION = 1u << 1 };

/* Bits of the flag word of tolvani_engine_update_config; bits 8 to 31 are ignored.
 * DEFER_RANKING: a key that leaves a composition returns its preedit at once, with no candidates
 * and status bit TOLVANI_STATUS_RANKING_PENDING. tolvani_engine_rank ranks them later; every call
 * that reads them ranks them first, and a key that only edits the composition replaces them. */
enum {
  TOLVANI_FLAG_AUTOCORRECT = 1u << 0,
  TOLVANI_FLAG_BANGLA_DIGITS = 1u << 1,
  TOLVANI_FLAG_ENGLISH_PASSTHROUGH = 1u << 2,
  TOLVANI_FLAG_SUGGESTIONS_DISABLED = 1u << 3,
  TOLVANI_FLAG_LEARNING_DISABLED = 1u << 4,
  TOLVANI_FLAG_PREFER_MODERN_SPELLINGS = 1u << 5,
  TOLVANI_FLAG_OFFER_SPOKEN_STANDARD = 1u << 6,
  TOLVANI_FLAG_DEFER_RANKING = 1u << 7
};

/* One key event, passed by value. Frozen field order.
 * kind: a TOLVANI_KEY_* value. key_code: the host's hardware key code, carried but not
 * interpreted. modifiers: TOLVANI_MODIFIER_* bits, read only by the fixed layouts. codepoint: the
 * Unicode scalar typed (text kind), 0 when none; a space event with codepoint 0 commits without
 * inserting a space. */
typedef struct CKeyEvent {
  uint32_t kind;
  uint32_t key_code;
  uint32_t modifiers;
  uint32_t codepoint;
} CKeyEvent;

/* One packed composition record, owned by the engine. A null ptr with len 0 is the failure value.
 */
typedef struct CResult {
  uint8_t* ptr;
  uint32_t len;
} CResult;

/* Opaque handles. */
typedef struct TolvaniEngine TolvaniEngine;
typedef struct TolvaniSnapshot TolvaniSnapshot;

/* A new session, owned by the caller until tolvani_engine_destroy. Null on failure. With
 * TOLVANI_NONBLOCKING_CACHES=1 in the environment it returns before its learned stores are read:
 * keys are answered without them until they are in, and a call that learns (or decides what to
 * learn) or snapshots waits for them. */
TOLVANI_EXPORT TolvaniEngine* tolvani_engine_create(void);

/* Frees the session. Queued background store writes are not waited for. Null: no effect. */
TOLVANI_EXPORT void tolvani_engine_destroy(TolvaniEngine* engine);

/* Handles one key event and returns the composition that follows it. */
TOLVANI_EXPORT CResult tolvani_engine_handle_key_event(TolvaniEngine* engine, CKeyEvent event);

/* Releases a result buffer. A null pointer or a length of 0 is ignored. */
TOLVANI_EXPORT void tolvani_engine_free_result(uint8_t* ptr, uint32_t len);

/* Drops the composition, the candidates and any pending spelling offer. */
TOLVANI_EXPORT void tolvani_engine_reset(TolvaniEngine* engine);

/* Mode 1 selects probhat, 2 national, 3 unijoy, anything else phonetic typing. Resets the session
 * and empties the prediction context. */
TOLVANI_EXPORT void tolvani_engine_set_mode(TolvaniEngine* engine, uint32_t mode);

/* Stores the suggestion count (clamped to 1..15) and the TOLVANI_FLAG_* switches, then returns the
 * current composition recomputed under them. */
TOLVANI_EXPORT CResult tolvani_engine_update_config(TolvaniEngine* engine,
                                                    uint32_t suggestion_count, uint32_t flags);

/* Ranks the candidates a key left pending and returns the whole composition, as the key would
 * have returned it without TOLVANI_FLAG_DEFER_RANKING. Nothing pending or a null handle: the null
 * result. */
TOLVANI_EXPORT CResult tolvani_engine_rank(TolvaniEngine* engine);

/* Selects the first candidate whose text is `candidate`, if `raw` is the session's raw input.
 * Null handle or an absent string: the null result. */
TOLVANI_EXPORT CResult tolvani_engine_select_matching(TolvaniEngine* engine, const char* raw,
                                                      const char* candidate);

/* The host inserted `word` itself: learn it, then return the next-word predictions. An absent word
 * skips the learning step. */
TOLVANI_EXPORT CResult tolvani_engine_note_committed_word(TolvaniEngine* engine, const char* word);

/* Seeds the prediction context from the text before the cursor, then returns the predictions. An
 * absent text skips the seeding step. */
TOLVANI_EXPORT CResult tolvani_engine_seed_prediction_context(TolvaniEngine* engine,
                                                              const char* text_before_cursor);

/* Accepts the pending spelling offer. */
TOLVANI_EXPORT CResult tolvani_engine_accept_spelling_offer(TolvaniEngine* engine);

/* Saves pending learning, re-reads the learned stores and custom keys, returns the composition.
 * With TOLVANI_NONBLOCKING_CACHES=1 the stores are saved and re-read on another thread: keys are
 * answered with the stores as they were until the new ones are in, what they learn meanwhile is
 * learned into the new ones, and a snapshot waits for them. When this is called again before they
 * are in, what was learned before that call stays with the stores of the reset_id it was learned
 * under, and what is learned after it waits for the stores read after it. A host that resets the
 * store files from another thread calls this before it writes them, and again after. */
TOLVANI_EXPORT CResult tolvani_engine_reload_user_data(TolvaniEngine* engine);

/* Takes in the learned stores read beside the keys once they are read, as the next key would, and
 * lets go of the ones they replace. True while they are still being read; false when nothing is,
 * for a null handle and on an internal failure. */
TOLVANI_EXPORT bool tolvani_engine_take_reloaded_stores(TolvaniEngine* engine);

/* Builds the shared read-only tables now, so that the first keystrokes need not. Any thread. */
TOLVANI_EXPORT void tolvani_engine_warm_caches(void);

/* A copy of the session's learned stores, owned by the caller. Null on a null handle or failure. */
TOLVANI_EXPORT TolvaniSnapshot* tolvani_engine_snapshot(TolvaniEngine* engine);

/* Writes every store of the snapshot and frees it, whatever the outcome. True only when every
 * store was written or had nothing to write. Null: false. Any thread. */
TOLVANI_EXPORT bool tolvani_snapshot_write(TolvaniSnapshot* snapshot);

/* Frees a snapshot that will not be written. Null: no effect. Any thread. */
TOLVANI_EXPORT void tolvani_snapshot_free(TolvaniSnapshot* snapshot);

/* Whether the trimmed, ASCII-lowered word is one of the engine's common English words. Absent
 * word: false. Any thread. */
TOLVANI_EXPORT bool tolvani_is_common_english(const char* word);

/* How many background saves and store writes have failed in this process. Never reset. */
TOLVANI_EXPORT uint64_t tolvani_persistence_failures(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TOLVANI_ENGINE_H_ */
