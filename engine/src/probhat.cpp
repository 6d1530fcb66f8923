#include "probhat.h"

#include "utf8.h"

namespace tolvani::engine::probhat {

namespace {

std::string unmapped(char32_t c) {
  std::string out;
  if (utf8::is_scalar(c)) utf8::append(out, c);
  return out;
}

}  // namespace

std::string map_char(char32_t c, bool /*shift*/, bool /*alt*/) { return unmapped(c); }

std::string map_char_national(char32_t c, bool /*shift*/, bool /*alt*/) { return unmapped(c); }

void reload_custom_overrides() {}

}  // namespace tolvani::engine::probhat
