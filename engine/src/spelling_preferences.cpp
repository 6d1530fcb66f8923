#include "spelling_preferences.h"

#include <utility>

#include "embedded.h"
#include "normalize.h"
#include "once_cell.h"
#include "utf8.h"

TOLVANI_EMBEDDED_DATA(standard_spellings);
TOLVANI_EMBEDDED_DATA(colloquial_forms);

namespace tolvani::engine::spelling {

namespace {

OnceCell<TextMap> g_standard;
OnceCell<TextMap> g_colloquial;

bool holds_white_space(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    if (utf8::is_white_space(utf8::decode_next(text, pos))) return true;
  }
  return false;
}

bool holds_ascii_capital(std::string_view text) {
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') return true;
  }
  return false;
}

}  // namespace

TextMap parse_table(std::string_view text) {
  TextMap table;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    // Trimming also drops the carriage return of a CRLF line end: it is White_Space.
    line = utf8::trim_white_space(line);
    if (line.empty() || line.front() == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    std::string variant = normalize_bengali(line.substr(0, tab));
    std::string standard = normalize_bengali(line.substr(tab + 1));
    if (variant.empty() || standard.empty() || variant == standard) continue;
    table.insert_or_assign(std::move(variant), std::move(standard));
  }
  return table;
}

std::string_view standard_document() { return TOLVANI_EMBEDDED_VIEW(standard_spellings); }
std::string_view colloquial_document() { return TOLVANI_EMBEDDED_VIEW(colloquial_forms); }

const TextMap& standard_table() {
  return g_standard.get_or_build([] { return parse_table(standard_document()); });
}

const TextMap& colloquial_table() {
  return g_colloquial.get_or_build([] { return parse_table(colloquial_document()); });
}

void warm() {
  standard_table();
  colloquial_table();
}

std::optional<std::string_view> standard_form(std::string_view word, bool spoken_forms) {
  const TextMap& standard = standard_table();
  if (auto it = standard.find(word); it != standard.end()) return it->second;
  if (spoken_forms) {
    const TextMap& colloquial = colloquial_table();
    if (auto it = colloquial.find(word); it != colloquial.end()) return it->second;
  }
  return std::nullopt;
}

std::string rejection_key(std::string_view word) {
  std::string key(kRejectionKeyPrefix);
  key.append(word);
  return key;
}

std::optional<std::string> spelling_offer_for(std::string_view word, bool suggestions_enabled,
                                              bool offer_spoken_standard,
                                              const PenaltyLookup& penalty_for) {
  if (!suggestions_enabled || holds_white_space(word)) return std::nullopt;
  const std::optional<std::string_view> standard = standard_form(word, offer_spoken_standard);
  if (!standard) return std::nullopt;
  if (penalty_for(rejection_key(word), *standard) >= kSilencingPenalty) return std::nullopt;
  return std::string(*standard);
}

std::string with_spelling_preference(std::string text, bool prefer_modern_spellings,
                                     bool phonetic_mode, std::string_view raw_buffer,
                                     const SelectionCountLookup& selection_count) {
  // Capitals in phonetic input pick particular letters: the user spelled this on purpose.
  if (!prefer_modern_spellings || !phonetic_mode || holds_ascii_capital(raw_buffer)) return text;
  const TextMap& standard = standard_table();
  const auto it = standard.find(text);
  if (it == standard.end()) return text;
  // Choosing the variant again and again is a deliberate preference.
  if (selection_count(raw_buffer) > 1) return text;
  return it->second;
}

}  // namespace tolvani::engine::spelling
