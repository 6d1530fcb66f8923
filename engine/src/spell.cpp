#include "spell.h"

#include <algorithm>

#include "utf8.h"

namespace tolvani::engine {

namespace {

constexpr char32_t kNukta = 0x09BC;
constexpr char32_t kHasant = 0x09CD;
constexpr char32_t kO = 0x09CB;  // ো

// The distance is capped at this; anything larger reports kCap + 1.
constexpr size_t kCap = 2;

// Grown once per thread to the longest words seen, then reused so ranking loops never allocate.
struct EditScratch {
  std::vector<char32_t> a;
  std::vector<char32_t> b;
  std::vector<size_t> prev;
  std::vector<size_t> cur;
};

char32_t precomposed_nukta(char32_t base) {
  switch (base) {
    case 0x09A1:  // ড
      return 0x09DC;
    case 0x09A2:  // ঢ
      return 0x09DD;
    case 0x09AF:  // য
      return 0x09DF;
    default:
      return 0;
  }
}

char32_t cosmetic_representative(char32_t c) {
  switch (c) {
    case 0x09C0:  // ী
      return 0x09BF;
    case 0x09C2:  // ূ
      return 0x09C1;
    case 0x09B6:  // শ
    case 0x09B7:  // ষ
      return 0x09B8;
    case 0x099B:  // ছ
      return 0x099A;
    case 0x09A3:  // ণ
      return 0x09A8;
    case 0x09AF:  // য
      return 0x099C;
    default:
      return c;
  }
}

}  // namespace

void fold_nukta_into(std::string_view word, std::vector<char32_t>& out) {
  out.clear();
  for (size_t pos = 0; pos < word.size();) {
    const char32_t c = utf8::decode_next(word, pos);
    if (c == kNukta && !out.empty()) {
      if (const char32_t folded = precomposed_nukta(out.back()); folded != 0) {
        out.back() = folded;
        continue;
      }
    }
    out.push_back(c);
  }
}

uint32_t bounded_edit_distance(std::string_view a, std::string_view b) {
  thread_local EditScratch scratch;
  constexpr auto kOver = static_cast<uint32_t>(kCap + 1);

  fold_nukta_into(a, scratch.a);
  fold_nukta_into(b, scratch.b);
  const std::vector<char32_t>& ca = scratch.a;
  const std::vector<char32_t>& cb = scratch.b;
  const size_t m = ca.size();
  const size_t n = cb.size();
  // Each insertion or deletion costs one, so the length gap alone bounds the distance from below.
  if ((m > n ? m - n : n - m) > kCap) return kOver;

  std::vector<size_t>& prev = scratch.prev;
  std::vector<size_t>& cur = scratch.cur;
  prev.resize(n + 1);
  cur.resize(n + 1);
  for (size_t j = 0; j <= n; ++j) prev[j] = j;

  for (size_t i = 1; i <= m; ++i) {
    cur[0] = i;
    size_t row_min = cur[0];
    for (size_t j = 1; j <= n; ++j) {
      const size_t substitute = prev[j - 1] + (ca[i - 1] == cb[j - 1] ? 0 : 1);
      cur[j] = std::min({substitute, cur[j - 1] + 1, prev[j] + 1});
      row_min = std::min(row_min, cur[j]);
    }
    // Row minima never decrease, so once every cell is past the cap the answer is settled.
    if (row_min > kCap) return kOver;
    prev.swap(cur);
  }
  return static_cast<uint32_t>(std::min<size_t>(prev[n], kOver));
}

// Ill-formed UTF-8 comes out as U+FFFD, as in fold_nukta_into, so the result is always valid.
std::string cosmetic_fold(std::string_view word) {
  std::string out;
  out.reserve(word.size());
  for (size_t pos = 0; pos < word.size();) {
    const char32_t c = utf8::decode_next(word, pos);
    if (c == kHasant) continue;
    utf8::append(out, cosmetic_representative(c));
  }
  std::string_view view = out;
  if (!view.empty()) {
    const size_t last = utf8::last_char_start(view);
    size_t pos = last;
    if (utf8::decode_next(view, pos) == kO) out.resize(last);
  }
  return out;
}

}  // namespace tolvani::engine
