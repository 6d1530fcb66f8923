// The autocorrect table and the emoji-shortcode questions of the text path.
// Thread-safety: safe on any thread; the tables are built once per process.
#ifndef TOLVANI_ENGINE_SUGGEST_H_
#define TOLVANI_ENGINE_SUGGEST_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace tolvani::engine::suggest {

// Typed input to its replacement, and the prefixes of the emoji shortcodes among the inputs.
struct AutocorrectTable {
  std::map<std::string, std::string, std::less<>> entries;  // ordered, for prefix questions
  std::unordered_set<std::string> emoji_prefixes;

  explicit AutocorrectTable(std::map<std::string, std::string, std::less<>> rows);
};

// The replacement for exactly `text`, building the table when needed.
std::optional<std::string> autocorrect_for(std::string_view text);

// Non-blocking: answers only when the table is already built.
std::optional<std::string> autocorrect_for_with_cache_policy(std::string_view text, bool blocking);

// Whether `c` alone is a prefix of an emoji shortcode ("(", ":", ...).
bool could_start_emoji(char32_t c);

// Whether `text` is a proper prefix of an emoji shortcode, or of any longer autocorrect input.
bool could_be_emoji_prefix(std::string_view text);

// Builds the autocorrect table now.
void warm_autocorrect();

// Whether the autocorrect table is built (never blocks).
bool autocorrect_ready();

// Replaces the table every lookup sees until called again with nullopt. Tests only.
void test_set_autocorrect_rows(std::optional<std::map<std::string, std::string, std::less<>>> rows);

}  // namespace tolvani::engine::suggest

#endif  // TOLVANI_ENGINE_SUGGEST_H_
