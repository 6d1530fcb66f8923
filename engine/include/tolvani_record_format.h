/* Constants of the packed composition record, shared by the engine's writer and every reader.
 * Frozen: hosts decode these bytes.
 *
 * Layout (all integers little-endian; a string is a u32 byte length then that many UTF-8 bytes):
 *   u32 status_flags, u32 replace_before, u32 candidate count n,
 *   string preedit, string raw_text, string commit_text,
 *   n x (string text, i32 score, u8 kind),
 *   string ghost_text, u32 prediction count m, m x string,
 *   string spelling_offer, string spelling_offer_for.
 * No header, version or checksum: the length is the sum of the parts.
 */
#ifndef TOLVANI_RECORD_FORMAT_H_
#define TOLVANI_RECORD_FORMAT_H_

/* Status flag bits. Bits 6 to 31 are always 0. */
enum {
  TOLVANI_STATUS_SHOW_CANDIDATES = 1u << 0,
  TOLVANI_STATUS_COMMITTED = 1u << 1,
  TOLVANI_STATUS_CANCELLED = 1u << 2,
  TOLVANI_STATUS_AUTOCORRECTED = 1u << 3,
  TOLVANI_STATUS_REREAD = 1u << 4,
  /* The composition's candidates are not ranked yet (see TOLVANI_FLAG_DEFER_RANKING). */
  TOLVANI_STATUS_RANKING_PENDING = 1u << 5
};

/* Candidate kind codes. A reader treats any code of 7 or more as exact (0). */
enum {
  TOLVANI_KIND_EXACT = 0,
  TOLVANI_KIND_USER = 1,
  TOLVANI_KIND_PREFIX = 2,
  TOLVANI_KIND_PHONETIC = 3,
  TOLVANI_KIND_AUTOCORRECT = 4,
  TOLVANI_KIND_PREDICTION = 5,
  TOLVANI_KIND_STANDARD = 6,
  TOLVANI_KIND_COUNT = 7
};

/* Sizes in bytes of the fixed parts. */
enum {
  TOLVANI_RECORD_WORD_SIZE = 4,
  TOLVANI_RECORD_KIND_SIZE = 1,
  /* Three leading words, seven zero lengths and counts. */
  TOLVANI_RECORD_EMPTY_SIZE = 40
};

#endif /* TOLVANI_RECORD_FORMAT_H_ */
