// The rule for text that users' data may hold: control characters and the bidirectional embedding,
// override and isolate controls never enter stored data, and a text holding one is refused whole.
// Also the character count (extended grapheme clusters) that stored-text lengths are measured in,
// and the bound on a text's size that comes before any count.
// Thread-safety: every function may be called on any thread.
#ifndef TOLVANI_SETTINGS_STOREDTEXT_H_
#define TOLVANI_SETTINGS_STOREDTEXT_H_

#include <QString>
#include <string_view>

namespace tolvani {

// True for a scalar of general category Cc (U+0000 to U+001F, U+007F to U+009F, so tab and line
// feed too), U+202A to U+202E and U+2066 to U+2069. Joiners and U+200E/U+200F are allowed.
bool isUnsafeInStoredText(char32_t scalar);

// True when any scalar of `text` is unsafe, or `text` holds a lone surrogate (no scalar at all,
// and not storable as UTF-8).
bool containsUnsafeStoredText(const QString& text);

// The number of extended grapheme clusters in `text`, counting no further than `limit` (so the
// result is at most `limit`; long texts cost no more than `limit` clusters).
qsizetype characterCount(const QString& text, qsizetype limit);

// Whether a text of `maxCharacters` characters at most may be this long: at most
// word_form::kMaxBytesPerCharacter UTF-8 bytes per character, checked before anything decodes,
// counts or normalises the text. One character may hold any number of combining marks, and
// normalising a run of them costs the square of its length.
bool withinStoredTextBound(std::string_view utf8, qsizetype maxCharacters);
// The same of a decoded text, in UTF-16 units: never more than its UTF-8 bytes, so a text within
// the byte bound is within this one.
bool withinStoredTextBound(const QString& text, qsizetype maxCharacters);

}  // namespace tolvani

#endif  // TOLVANI_SETTINGS_STOREDTEXT_H_
