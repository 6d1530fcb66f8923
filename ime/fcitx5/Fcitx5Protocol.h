// The messages between Tolvani's fcitx5 addon (inside fcitx5's process) and the tolvani program,
// over a Unix stream socket: each message is a 4-byte little-endian length and that many bytes,
// its first byte its type, then its fields (integers little-endian, texts as a 4-byte length and
// UTF-8). Plain C++ and POSIX: both sides include it. Every read is bounded and checked, so a
// message from a confused or hostile peer is refused, never trusted.
// Thread-safety: plain values and pure functions.
#ifndef TOLVANI_IME_FCITX5_FCITX5PROTOCOL_H_
#define TOLVANI_IME_FCITX5_FCITX5PROTOCOL_H_

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace tolvani::fcitx5protocol {

inline constexpr std::uint32_t kVersion = 1;
// No message comes near this; a longer one is refused and its connection closed.
inline constexpr std::uint32_t kMaxMessage = 1u << 20;
inline constexpr std::uint32_t kMaxText = 64u * 1024;
inline constexpr std::uint32_t kMaxRows = 64;
inline constexpr std::uint32_t kMaxMenuDepth = 3;

// From the addon.
enum class ToProgram : std::uint8_t {
  hello = 1,             // version
  focusIn = 2,           // context, program name, frontend name
  focusOut = 3,          // context; the client commits the preedit it shows
  reset = 4,             // context; the client commits the preedit it shows
  key = 5,               // sequence, context, key fields, field state
  candidateClicked = 6,  // context, row
  menuActivate = 7,      // context, row key, on
  contextGone = 8,       // context
  // context: keys went on as typed while the program did not answer, and the preedit shown then
  // was committed; the composition behind it is over.
  resync = 9,
  // context, has text, text, cursor, anchor (scalars): the field's text around the caret as it
  // told it between keys.
  surrounding = 10,
};

// From the program.
enum class ToAddon : std::uint8_t {
  // The answer to a key: sequence, handled (the key goes no further), then actions.
  answer = 1,
  // Actions for a context, between keys: context, then actions.
  update = 2,
  // The last message could not be read: a text, after which the program closes the connection.
  refused = 3,
};

enum class Action : std::uint8_t {
  preedit = 1,            // text, caret (UTF-8 bytes into the text)
  commit = 2,             // text
  deleteSurrounding = 3,  // offset from the caret, count (Unicode scalars)
  candidates = 4,         // rows (text, label), cursor (-1 none), status line
  menu = 5,               // rows (see writeMenu in the program), nested up to kMaxMenuDepth
};

// What the field is for, as the key message tells it.
enum class Purpose : std::uint8_t { freeForm = 0, password = 1, pin = 2, other = 3 };

// Menu row kinds, as InputMenuRow::Kind.
enum class RowKind : std::uint8_t {
  header = 0,
  radio = 1,
  toggle = 2,
  item = 3,
  separator = 4,
  submenu = 5
};

// The socket: TOLVANI_FCITX5_SOCKET, else "tolvani-fcitx5" in XDG_RUNTIME_DIR (a folder only the
// person can open), else in /tmp named by the user id. Empty when the name would not fit.
inline std::string socketPath() {
  if (const char* set = std::getenv("TOLVANI_FCITX5_SOCKET"); set && *set) return set;
  std::string path;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    path = std::string(runtime) + "/tolvani-fcitx5";
  } else {
    path = "/tmp/tolvani-fcitx5-" + std::to_string(::getuid());
  }
  // sockaddr_un's path holds 108 bytes with its terminator.
  return path.size() < 108 ? path : std::string();
}

class Writer {
 public:
  explicit Writer(std::uint8_t type) { bytes_.assign(4, '\0'), u8(type); }
  Writer& u8(std::uint8_t v) {
    bytes_.push_back(static_cast<char>(v));
    return *this;
  }
  Writer& u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return *this;
  }
  Writer& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
  Writer& text(std::string_view v) {
    const std::size_t size = v.size() > kMaxText ? kMaxText : v.size();
    u32(static_cast<std::uint32_t>(size));
    bytes_.append(v.data(), size);
    return *this;
  }
  // The framed message.
  const std::string& frame() {
    const std::uint32_t size = static_cast<std::uint32_t>(bytes_.size() - 4);
    for (int i = 0; i < 4; ++i) bytes_[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    return bytes_;
  }

 private:
  std::string bytes_;
};

// Reads one message's fields; after any failed read, ok() is false and every later read fails.
class Reader {
 public:
  explicit Reader(std::string_view body) : body_(body) {}
  bool ok() const { return ok_; }
  bool atEnd() const { return ok_ && at_ == body_.size(); }
  std::uint8_t u8() {
    if (!need(1)) return 0;
    return static_cast<std::uint8_t>(body_[at_++]);
  }
  std::uint32_t u32() {
    if (!need(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(body_[at_ + i])) << (8 * i);
    at_ += 4;
    return v;
  }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  // A text of at most kMaxText bytes that is valid UTF-8 without NUL.
  std::string text() {
    const std::uint32_t size = u32();
    if (!ok_ || size > kMaxText || !need(size)) return fail();
    std::string v(body_.substr(at_, size));
    at_ += size;
    if (!validUtf8(v)) return fail();
    return v;
  }
  static bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
      const auto c = static_cast<std::uint8_t>(s[i]);
      if (c == 0) return false;
      const std::size_t n = c < 0x80           ? 0
                            : (c >> 5) == 0x6  ? 1
                            : (c >> 4) == 0xE  ? 2
                            : (c >> 3) == 0x1E ? 3
                                               : 4;
      if (n == 4 || s.size() - i <= n) return false;
      std::uint32_t cp = n == 0 ? c : (c & (0x3Fu >> n));
      for (std::size_t k = 1; k <= n; ++k) {
        const auto d = static_cast<std::uint8_t>(s[i + k]);
        if ((d >> 6) != 0x2) return false;
        cp = (cp << 6) | (d & 0x3F);
      }
      static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
      if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
      i += n + 1;
    }
    return true;
  }

 private:
  bool need(std::size_t n) {
    if (!ok_ || body_.size() - at_ < n) ok_ = false;
    return ok_;
  }
  std::string fail() {
    ok_ = false;
    return {};
  }
  std::string_view body_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// Takes one whole message off the front of `buffer` into `body`; false while none is complete.
// `broken` is set when the length is beyond kMaxMessage or zero.
inline bool takeMessage(std::string& buffer, std::string& body, bool& broken) {
  if (buffer.size() < 4) return false;
  std::uint32_t size = 0;
  for (int i = 0; i < 4; ++i)
    size |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(buffer[i])) << (8 * i);
  if (size == 0 || size > kMaxMessage) {
    broken = true;
    return false;
  }
  if (buffer.size() - 4 < size) return false;
  body.assign(buffer, 4, size);
  buffer.erase(0, 4 + size);
  return true;
}

}  // namespace tolvani::fcitx5protocol

#endif  // TOLVANI_IME_FCITX5_FCITX5PROTOCOL_H_
