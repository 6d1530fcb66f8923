/* Takes an engine handle through its whole life from C, as a C host would. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tolvani_engine.h"
#include "tolvani_record_format.h"

static int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static uint32_t read_u32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* The commit text of a record with no candidates: the third string after 12 bytes. */
static int commit_text_is(CResult r, const char* expected) {
  uint32_t pos = 12;
  int i;
  uint32_t n;
  if (r.ptr == NULL || r.len < TOLVANI_RECORD_EMPTY_SIZE || read_u32(r.ptr + 8) != 0) return 0;
  for (i = 0; i < 2; ++i) pos += 4 + read_u32(r.ptr + pos);
  n = read_u32(r.ptr + pos);
  return n == strlen(expected) && memcmp(r.ptr + pos + 4, expected, n) == 0;
}

static CResult key(TolvaniEngine* engine, uint32_t kind, uint32_t codepoint) {
  CKeyEvent event;
  event.kind = kind;
  event.key_code = 0;
  event.modifiers = 0;
  event.codepoint = codepoint;
  return tolvani_engine_handle_key_event(engine, event);
}

int main(void) {
  TolvaniEngine* engine;
  TolvaniSnapshot* snapshot;
  CResult r;
  static const uint8_t zeros[TOLVANI_RECORD_EMPTY_SIZE];

  /* A null handle answers with the empty record. */
  r = key(NULL, TOLVANI_KEY_TEXT, 'a');
  CHECK(r.ptr != NULL && r.len == TOLVANI_RECORD_EMPTY_SIZE);
  CHECK(r.ptr != NULL && memcmp(r.ptr, zeros, sizeof zeros) == 0);
  tolvani_engine_free_result(r.ptr, r.len);
  r = tolvani_engine_select_matching(NULL, "a", "b");
  CHECK(r.ptr == NULL && r.len == 0);
  tolvani_engine_destroy(NULL);
  tolvani_engine_free_result(NULL, 0);

  engine = tolvani_engine_create();
  CHECK(engine != NULL);
  if (engine == NULL) return 1;

  r = tolvani_engine_update_config(engine, 5, TOLVANI_FLAG_BANGLA_DIGITS);
  CHECK(r.ptr != NULL);
  tolvani_engine_free_result(r.ptr, r.len);

  r = key(engine, TOLVANI_KEY_SPACE, ' ');
  CHECK(commit_text_is(r, " "));
  CHECK(r.ptr != NULL && read_u32(r.ptr) == TOLVANI_STATUS_COMMITTED);
  tolvani_engine_free_result(r.ptr, r.len);

  r = key(engine, TOLVANI_KEY_TEXT, '#');
  CHECK(commit_text_is(r, "#"));
  tolvani_engine_free_result(r.ptr, r.len);

  tolvani_engine_set_mode(engine, 1);
  tolvani_engine_reset(engine);
  r = tolvani_engine_note_committed_word(engine, "\xff");
  CHECK(r.ptr != NULL && r.len == TOLVANI_RECORD_EMPTY_SIZE);
  tolvani_engine_free_result(r.ptr, r.len);
  r = tolvani_engine_seed_prediction_context(engine, NULL);
  CHECK(r.ptr != NULL);
  tolvani_engine_free_result(r.ptr, r.len);
  r = tolvani_engine_accept_spelling_offer(engine);
  CHECK(r.ptr != NULL);
  tolvani_engine_free_result(r.ptr, r.len);
  r = tolvani_engine_reload_user_data(engine);
  CHECK(r.ptr != NULL);
  tolvani_engine_free_result(r.ptr, r.len);
  /* A blocking host reloads on its own thread: nothing is left to take. */
  CHECK(!tolvani_engine_take_reloaded_stores(engine));

  tolvani_engine_warm_caches();
  CHECK(tolvani_is_common_english(" The "));
  CHECK(!tolvani_is_common_english(NULL));
  CHECK(tolvani_persistence_failures() == 0);

  snapshot = tolvani_engine_snapshot(engine);
  CHECK(snapshot != NULL);
  CHECK(tolvani_snapshot_write(snapshot));
  tolvani_snapshot_free(tolvani_engine_snapshot(engine));
  CHECK(!tolvani_snapshot_write(NULL));
  tolvani_snapshot_free(NULL);

  tolvani_engine_destroy(engine);
  if (failures == 0) printf("c interface: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
