#include "suggest.h"

#include <memory>
#include <mutex>

#include "once_cell.h"
#include "utf8.h"

namespace tolvani::engine::suggest {

namespace {

OnceCell<AutocorrectTable> g_autocorrect;

// The table's rows. The shipped table comes with the autocorrect data; until then it is empty.
std::map<std::string, std::string, std::less<>> load_autocorrect_rows() { return {}; }

const AutocorrectTable& built_table() {
  return g_autocorrect.get_or_build([] { return AutocorrectTable(load_autocorrect_rows()); });
}

std::mutex g_test_mu;
std::shared_ptr<const AutocorrectTable> g_test_table;  // guarded by g_test_mu

std::shared_ptr<const AutocorrectTable> test_table() {
  std::lock_guard<std::mutex> lock(g_test_mu);
  return g_test_table;
}

bool is_ascii_alnum(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::optional<std::string> lookup(const AutocorrectTable& table, std::string_view text) {
  const auto it = table.entries.find(text);
  if (it == table.entries.end()) return std::nullopt;
  return it->second;
}

}  // namespace

AutocorrectTable::AutocorrectTable(std::map<std::string, std::string, std::less<>> rows)
    : entries(std::move(rows)) {
  for (const auto& [input, replacement] : entries) {
    const std::optional<char32_t> first = utf8::first_char(input);
    // Shortcodes and emoticons start with punctuation; every non-ASCII start counts as a letter.
    if (!first || *first >= 0x80 || is_ascii_alnum(*first) || input.size() < 2) continue;
    for (size_t pos = 0; pos < input.size();) {
      utf8::decode_next(input, pos);
      if (pos < input.size()) emoji_prefixes.insert(input.substr(0, pos));
    }
  }
}

std::optional<std::string> autocorrect_for(std::string_view text) {
  if (auto t = test_table()) return lookup(*t, text);
  return lookup(built_table(), text);
}

std::optional<std::string> autocorrect_for_with_cache_policy(std::string_view text, bool blocking) {
  if (auto t = test_table()) return lookup(*t, text);
  const AutocorrectTable* table =
      g_autocorrect.get(blocking, [] { return AutocorrectTable(load_autocorrect_rows()); });
  return table ? lookup(*table, text) : std::nullopt;
}

bool could_start_emoji(char32_t c) {
  if (!utf8::is_scalar(c)) return false;
  std::string s;
  utf8::append(s, c);
  const auto t = test_table();
  return (t ? *t : built_table()).emoji_prefixes.contains(s);
}

bool could_be_emoji_prefix(std::string_view text) {
  const auto t = test_table();
  const AutocorrectTable& table = t ? *t : built_table();
  if (table.emoji_prefixes.contains(std::string(text))) return true;
  // Inputs that extend `text` sort right after it (and after `text` itself, if it is an input).
  auto it = table.entries.lower_bound(text);
  if (it != table.entries.end() && it->first == text) ++it;
  return it != table.entries.end() && it->first.starts_with(text);
}

void warm_autocorrect() { built_table(); }

bool autocorrect_ready() { return g_autocorrect.is_built(); }

void test_set_autocorrect_rows(
    std::optional<std::map<std::string, std::string, std::less<>>> rows) {
  std::lock_guard<std::mutex> lock(g_test_mu);
  g_test_table = rows ? std::make_shared<const AutocorrectTable>(std::move(*rows)) : nullptr;
}

}  // namespace tolvani::engine::suggest
