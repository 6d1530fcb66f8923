#include "probhat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "embedded.h"
#include "json_reader.h"
#include "once_cell.h"
#include "persistence.h"
#include "utf8.h"

TOLVANI_EMBEDDED_DATA(probhat_layout);
TOLVANI_EMBEDDED_DATA(national_layout);
TOLVANI_EMBEDDED_DATA(unijoy_layout);

namespace tolvani::engine::probhat {

namespace {

constexpr std::string_view kDefault = "default";
constexpr std::string_view kShift = "shift";
constexpr std::string_view kAlt = "alt";
constexpr std::string_view kShiftAlt = "shift_alt";

constexpr const char* kCustomLayoutFile = "custom-layout.json";

OnceCell<Layout> g_probhat;
OnceCell<Layout> g_national;
OnceCell<Layout> g_unijoy;

// Shared by every session. Absent until the first reload, then always a map, possibly empty.
std::shared_mutex g_overrides_mu;
std::optional<Layers> g_overrides;

// Reads one map of key to output; `where` names it in an error.
bool read_layer(const json::Value& v, const std::string& where, Layer& layer, std::string& error) {
  if (!v.is_object()) {
    error = "invalid type: " + json::describe(v) + ", expected a map (in " + where + ")";
    return false;
  }
  for (const auto& [key, output] : v.members) {
    if (output.kind != json::Value::Kind::kString) {
      error = "invalid type: " + json::describe(output) + ", expected a string (in " + where + ")";
      return false;
    }
    layer.insert_or_assign(key, output.string);
  }
  return true;
}

// Reads the value of `field` (a map of layer name to layer) into `out`. A repeated layer name or
// key keeps its last value, as a map does.
bool read_layers(const json::Value& v, std::string_view field, Layers& out, std::string& error) {
  if (!v.is_object()) {
    error =
        "invalid type: " + json::describe(v) + ", expected a map (in `" + std::string(field) + "`)";
    return false;
  }
  for (const auto& [name, layer_value] : v.members) {
    Layer layer;
    if (!read_layer(layer_value, "layer `" + name + "`", layer, error)) return false;
    out.insert_or_assign(name, std::move(layer));
  }
  return true;
}

// The one required field `field` of the top-level record of `document`, read as layers.
std::optional<Layers> parse_layers_document(std::string_view document, std::string_view field,
                                            std::string& error) {
  json::Value root;
  if (!json::parse(document, root, error)) return std::nullopt;
  json::Record top(root, {field});
  if (!top.ok()) {
    error = top.error();
    return std::nullopt;
  }
  const json::Value* layers_value = top.get(field);
  if (layers_value == nullptr) {
    error = "missing field `" + std::string(field) + "`";
    return std::nullopt;
  }
  Layers layers;
  if (!read_layers(*layers_value, field, layers, error)) return std::nullopt;
  return layers;
}

std::string_view layer_name(bool shift, bool alt) {
  if (shift && alt) return kShiftAlt;
  if (shift) return kShift;
  if (alt) return kAlt;
  return kDefault;
}

// The entry for `key` in the layer `name` of `layers`, or null.
const std::string* find(const Layers& layers, std::string_view name, std::string_view key) {
  const auto layer = layers.find(name);
  if (layer == layers.end()) return nullptr;
  const auto entry = layer->second.find(key);
  return entry == layer->second.end() ? nullptr : &entry->second;
}

// The override for the raw key, else for the lookup key, in the chosen layer only.
std::optional<std::string> find_override(std::string_view layer, std::string_view raw_key,
                                         std::string_view lookup_key) {
  std::shared_lock lock(g_overrides_mu);
  if (!g_overrides || g_overrides->empty()) return std::nullopt;
  if (const std::string* out = find(*g_overrides, layer, raw_key)) return *out;
  if (lookup_key != raw_key) {
    if (const std::string* out = find(*g_overrides, layer, lookup_key)) return *out;
  }
  return std::nullopt;
}

// The bytes of `path` when it is a regular file of at most kMaxCustomLayoutBytes; nothing when it
// is missing, unreadable, not a regular file (a FIFO must not hang a reload) or too large.
std::optional<std::string> read_small_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const auto too_large = [&] {
    std::fprintf(stderr, "[Tolvani] %s is larger than %zu bytes; custom keys are ignored\n",
                 kCustomLayoutFile, kMaxCustomLayoutBytes);
    return std::nullopt;
  };
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxCustomLayoutBytes) {
    return too_large();
  }
  // The file may grow while it is read: read one byte past the cap to notice.
  std::string bytes(static_cast<size_t>(st.st_size) + 1, '\0');
  size_t filled = 0;
  while (true) {
    if (filled == bytes.size()) {
      if (bytes.size() > kMaxCustomLayoutBytes) return too_large();
      bytes.resize(std::min(bytes.size() * 2, kMaxCustomLayoutBytes + 1));
    }
    const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

// Removes the outputs longer than kMaxOverrideScalars; returns how many there were.
size_t drop_long_outputs(Layers& layers) {
  size_t dropped = 0;
  for (auto& [name, layer] : layers) {
    dropped += std::erase_if(layer, [](const auto& entry) {
      return utf8::scalar_count(entry.second) > kMaxOverrideScalars;
    });
  }
  return dropped;
}

// The overrides the file holds now; empty for any failure.
Layers load_custom_overrides() {
  try {
    const std::optional<std::string> bytes =
        read_small_file(user_data_directory() / kCustomLayoutFile);
    if (!bytes || !utf8::is_valid(*bytes)) return {};
    std::string error;
    std::optional<Layers> overrides = parse_custom_overrides(*bytes, error);
    if (!overrides) return {};
    if (const size_t dropped = drop_long_outputs(*overrides)) {
      std::fprintf(stderr,
                   "[Tolvani] %s: %zu output%s longer than %zu characters ignored; those keys type "
                   "the layout's own output\n",
                   kCustomLayoutFile, dropped, dropped == 1 ? "" : "s", kMaxOverrideScalars);
    }
    return std::move(*overrides);
  } catch (const std::exception&) {
    // Out of memory on a hostile file must not stop a session from starting.
    return {};
  }
}

}  // namespace

std::optional<Layout> parse_layout(std::string_view document, std::string& error) {
  std::optional<Layers> layers = parse_layers_document(document, "layers", error);
  if (!layers) return std::nullopt;
  Layout layout{std::move(*layers), std::nullopt};
  json::Value root;
  if (!json::parse(document, root, error)) return std::nullopt;
  json::Record top(root, {"link"});
  if (!top.ok()) {
    error = top.error();
    return std::nullopt;
  }
  const json::Value* link_value = top.get("link");
  if (link_value == nullptr) return layout;
  json::Record link_record(*link_value, {"key", "then"});
  Link link;
  if (!link_record.ok() || !link_record.string("key", link.key)) {
    error = link_record.error() + " (in `link`)";
    return std::nullopt;
  }
  if (utf8::scalar_count(link.key) != 1) {
    error = "the link key `" + link.key + "` is not one character";
    return std::nullopt;
  }
  const json::Value* then = link_record.get("then");
  if (then == nullptr) {
    error = "missing field `then` (in `link`)";
    return std::nullopt;
  }
  if (!read_layer(*then, "`link`", link.then, error)) return std::nullopt;
  layout.link = std::move(link);
  return layout;
}

std::optional<Layers> parse_custom_overrides(std::string_view document, std::string& error) {
  return parse_layers_document(document, "overrides", error);
}

Layout layout_or_empty(std::string_view document, std::string_view name) {
  std::string error;
  std::optional<Layout> layout = parse_layout(document, error);
  if (!layout) {
    std::fprintf(stderr, "[Tolvani] failed to parse %.*s layout: %s\n",
                 static_cast<int>(name.size()), name.data(), error.c_str());
    return Layout{};
  }
  return std::move(*layout);
}

std::string_view probhat_document() { return TOLVANI_EMBEDDED_VIEW(probhat_layout); }
std::string_view national_document() { return TOLVANI_EMBEDDED_VIEW(national_layout); }
std::string_view unijoy_document() { return TOLVANI_EMBEDDED_VIEW(unijoy_layout); }

const Layout& probhat_layout() {
  return g_probhat.get_or_build([] { return layout_or_empty(probhat_document(), "probhat"); });
}

const Layout& national_layout() {
  return g_national.get_or_build([] { return layout_or_empty(national_document(), "national"); });
}

const Layout& unijoy_layout() {
  return g_unijoy.get_or_build([] { return layout_or_empty(unijoy_document(), "unijoy"); });
}

char32_t base_key(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A' + 'a';
  switch (c) {
    case '!':
      return '1';
    case '@':
      return '2';
    case '#':
      return '3';
    case '$':
      return '4';
    case '%':
      return '5';
    case '^':
      return '6';
    case '&':
      return '7';
    case '*':
      return '8';
    case '(':
      return '9';
    case ')':
      return '0';
    case '_':
      return '-';
    case '+':
      return '=';
    case '{':
      return '[';
    case '}':
      return ']';
    case '|':
      return '\\';
    case ':':
      return ';';
    case '"':
      return '\'';
    case '<':
      return ',';
    case '>':
      return '.';
    case '?':
      return '/';
    case '~':
      return '`';
    default:
      return c;
  }
}

std::string map_char_with_layout(const Layout& layout, char32_t c, bool shift, bool alt) {
  if (!utf8::is_scalar(c)) return {};
  std::string raw_key;
  utf8::append(raw_key, c);
  const std::string_view layer = layer_name(shift, alt);
  std::string lookup_key;
  if (layer == kShiftAlt) {
    utf8::append(lookup_key, base_key(c));
  } else {
    lookup_key = raw_key;
  }

  if (std::optional<std::string> out = find_override(layer, raw_key, lookup_key)) {
    return std::move(*out);
  }
  if (const std::string* out = find(layout.layers, layer, lookup_key)) return *out;
  // The default layer answers for the key as typed, so Option or Shift+Option on a key the
  // chosen layer lacks still gives the key's plain output (or the key itself).
  if (const std::string* out = find(layout.layers, kDefault, raw_key)) return *out;
  return raw_key;
}

std::string map_char(char32_t c, bool shift, bool alt) {
  return map_char_with_layout(probhat_layout(), c, shift, alt);
}

std::string map_char_national(char32_t c, bool shift, bool alt) {
  return map_char_with_layout(national_layout(), c, shift, alt);
}

std::string map_char_unijoy(char32_t c, bool shift, bool alt) {
  return map_char_with_layout(unijoy_layout(), c, shift, alt);
}

bool starts_link(const Layout& layout, char32_t c, bool shift, bool alt) {
  if (!layout.link || shift || alt || !utf8::is_scalar(c)) return false;
  std::string key;
  utf8::append(key, c);
  if (key != layout.link->key) return false;
  const std::string* own = find(layout.layers, kDefault, key);
  return own != nullptr && map_char_with_layout(layout, c, false, false) == *own;
}

const std::string* link_follower(const Layout& layout, char32_t c) {
  if (!layout.link || !utf8::is_scalar(c)) return nullptr;
  std::string key;
  utf8::append(key, c);
  const auto it = layout.link->then.find(key);
  return it == layout.link->then.end() ? nullptr : &it->second;
}

void reload_custom_overrides() {
  // Read and parse before locking: typing in other sessions waits for the swap only.
  Layers fresh = load_custom_overrides();
  {
    std::unique_lock lock(g_overrides_mu);
    if (g_overrides) {
      g_overrides->swap(fresh);
    } else {
      g_overrides.emplace(std::move(fresh));
    }
  }
  // `fresh` now holds the previous overrides; they are released here, outside the lock.
}

}  // namespace tolvani::engine::probhat
