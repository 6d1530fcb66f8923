// The fixed layouts, probhat, national and unijoy, with the user's custom key overrides.
// Thread-safety: safe on any thread. Each layout is built once per process, on first use, and
// read without locks afterwards; the overrides are shared by every session behind a reader-writer
// lock, and a reload swaps them whole.
#ifndef TOLVANI_ENGINE_PROBHAT_H_
#define TOLVANI_ENGINE_PROBHAT_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tolvani::engine::probhat {

// Hashes strings and views alike, so a lookup by view allocates nothing.
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// Key (one character as UTF-8) to output text.
using Layer = std::unordered_map<std::string, std::string, StringHash, std::equal_to<>>;
// Layer name ("default", "shift", "alt", "shift_alt") to layer.
using Layers = std::unordered_map<std::string, Layer, StringHash, std::equal_to<>>;

// A key whose output waits for the next key: followed by a key of `then` (typed without AltGr),
// that key's text replaces both; followed by any other key, it stays as typed.
struct Link {
  std::string key;
  Layer then;
};

struct Layout {
  Layers layers;
  std::optional<Link> link;
};

// Largest "custom-layout.json" that is read; a larger file counts as no overrides.
inline constexpr size_t kMaxCustomLayoutBytes = size_t{1} << 20;

// Longest override output a key types, in Unicode scalar values (so at most 256 bytes). The
// composition takes no key once it holds 4,096 bytes, and each key normalises all of it: an
// override of any length would carry it as far past that as the file allows. A longer output in
// the file is left out when the file is read, and its key types the layout's own output; the
// file's other overrides apply as usual. The custom key editor refuses to store a longer one.
inline constexpr size_t kMaxOverrideScalars = 64;

// Reads a layout document: an object whose "layers" field (required, once) maps layer names to
// objects of string outputs, and whose "link" field (optional) is an object with a one-character
// string "key" and an object "then" of string outputs. Any value of another type fails the whole
// document (nothing, with `error` set). A repeated key within a map keeps the last value.
std::optional<Layout> parse_layout(std::string_view document, std::string& error);

// Reads a custom-key document: an object whose "overrides" field (required, once) has the shape
// of a layout's "layers". Fails as parse_layout does.
std::optional<Layers> parse_custom_overrides(std::string_view document, std::string& error);

// The layout read from `document`; on failure one line naming `name` goes to stderr and the
// layout has no layers, so that every key types itself.
Layout layout_or_empty(std::string_view document, std::string_view name);

// The embedded documents and the process-wide layouts built from them.
std::string_view probhat_document();
std::string_view national_document();
std::string_view unijoy_document();
const Layout& probhat_layout();
const Layout& national_layout();
const Layout& unijoy_layout();

// The key that shift_alt entries are written under for the character typed: the unshifted
// character of the same US key ('$' gives '4', 'A' gives 'a'); any other character is its own.
char32_t base_key(char32_t c);

// The output text of the key `c` on the layer chosen by shift and alt: the user's override in
// that layer, else the layout's entry in that layer, else the layout's "default" entry for `c`,
// else `c` itself. Not a Unicode scalar value: empty.
std::string map_char_with_layout(const Layout& layout, char32_t c, bool shift, bool alt);
std::string map_char(char32_t c, bool shift, bool alt);           // probhat
std::string map_char_national(char32_t c, bool shift, bool alt);  // national
std::string map_char_unijoy(char32_t c, bool shift, bool alt);    // unijoy

// Whether the key `c` typed with these modifiers is the layout's link key and types the link's
// own output (a custom key that changes that output takes the link away).
bool starts_link(const Layout& layout, char32_t c, bool shift, bool alt);
// The text that replaces the link key and the key `c` typed after it; null when `c` is no key of
// the link's `then` (or the layout has no link).
const std::string* link_follower(const Layout& layout, char32_t c);

// Re-reads "custom-layout.json" from the user-data folder and replaces the overrides of every
// session with it. A missing, unreadable, oversized or malformed file means no overrides; outputs
// longer than kMaxOverrideScalars are left out, with one line on stderr.
void reload_custom_overrides();

}  // namespace tolvani::engine::probhat

#endif  // TOLVANI_ENGINE_PROBHAT_H_
