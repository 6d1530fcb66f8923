// One fitting emoji for what the user is typing, from a fixed table of emoji concepts reachable
// through English words, Bangla words and romanised Bangla spellings. Thread-safety: every function
// may be called on any thread; the tables are built once, on first use, and only read afterwards.
#ifndef TOLVANI_IME_EMOJISEARCH_H_
#define TOLVANI_IME_EMOJISEARCH_H_

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tolvani::EmojiSearch {

struct Concept {
  QString bangla;
  QString english;
  // English key words, lower case.
  QStringList words;
  // Bangla-script keys, then romanised Bangla spellings, lower case.
  QStringList banglaKeys;
  // The first is the one offered inline; at least two.
  QStringList emojis;
  bool inPicker = false;
};

// The 102 concepts in table order; a concept's position identifies it.
const std::vector<Concept>& concepts();

// The emoji for the composition's raw input `raw` and composed word `word`, or none. The whole of
// `raw` is one key and is looked up first; then `word`.
std::optional<QString> inlineSuggestion(const QString& raw, const QString& word);

// Lower-cased and trimmed of spaces and tabs at both ends (line breaks stay).
QString normalizedKey(const QString& key);

// The key index: normalised key to concept position, the first concept and key winning.
const QHash<QString, int>& testIndex();

}  // namespace tolvani::EmojiSearch

#endif  // TOLVANI_IME_EMOJISEARCH_H_
