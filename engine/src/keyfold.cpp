#include "keyfold.h"

#include "utf8.h"

namespace tolvani::engine {

namespace {

bool is_fold_vowel(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

// One left-to-right pass replacing every non-overlapping `from` pair by the single byte `to`.
void replace_pairs(std::string& s, const char from[2], char to) {
  size_t write = 0;
  for (size_t read = 0; read < s.size();) {
    if (read + 1 < s.size() && s[read] == from[0] && s[read + 1] == from[1]) {
      s[write++] = to;
      read += 2;
    } else {
      s[write++] = s[read++];
    }
  }
  s.resize(write);
}

}  // namespace

std::string_view KeyFolder::fold(std::string_view key) {
  buffer_.clear();
  for (char c : key) {
    if (c == '\'' || c == ',' || c == '.' || c == '^' || c == '`' || c == '~') continue;
    buffer_.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  replace_pairs(buffer_, "ee", 'i');
  replace_pairs(buffer_, "oo", 'u');
  replace_pairs(buffer_, "sh", 's');
  replace_pairs(buffer_, "bh", 'v');
  replace_pairs(buffer_, "ph", 'f');
  // A run of one vowel letter counts as one.
  size_t write = 0;
  for (size_t read = 0; read < buffer_.size(); ++read) {
    if (write > 0 && is_fold_vowel(buffer_[read]) && buffer_[write - 1] == buffer_[read]) continue;
    buffer_[write++] = buffer_[read];
  }
  buffer_.resize(write);
  const size_t n = buffer_.size();
  if (n >= 2 && buffer_[n - 1] == buffer_[n - 2] && !is_fold_vowel(buffer_[n - 1])) {
    buffer_.pop_back();
  }
  if (buffer_.size() >= 4 && buffer_.back() == 'o') buffer_.pop_back();
  if (!utf8::is_valid(buffer_)) buffer_.clear();
  return buffer_;
}

std::string fold_key(std::string_view key) {
  KeyFolder folder;
  return std::string(folder.fold(key));
}

}  // namespace tolvani::engine
