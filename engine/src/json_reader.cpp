#include "json_reader.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <limits>

#include "utf8.h"

namespace tolvani::engine::json {

namespace {

// Builds a Value from the parser's events, keeping object members as they come.
class Builder final : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit Builder(Value& root) : root_(root) {}

  bool null() override { return put(Value{}); }
  bool boolean(bool v) override {
    Value x;
    x.kind = Value::Kind::kBool;
    x.boolean = v;
    return put(std::move(x));
  }
  bool number_integer(number_integer_t v) override {
    Value x;
    x.kind = Value::Kind::kInt;
    x.int_value = v;
    return put(std::move(x));
  }
  bool number_unsigned(number_unsigned_t v) override {
    Value x;
    x.kind = Value::Kind::kUint;
    x.uint_value = v;
    return put(std::move(x));
  }
  bool number_float(number_float_t v, const string_t&) override {
    Value x;
    x.kind = Value::Kind::kFloat;
    x.float_value = v;
    return put(std::move(x));
  }
  bool string(string_t& v) override {
    Value x;
    x.kind = Value::Kind::kString;
    x.string = std::move(v);
    return put(std::move(x));
  }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }
  bool start_object(std::size_t) override { return open(Value::Kind::kObject); }
  bool key(string_t& k) override {
    Value& object = *stack_.back();
    object.members.push_back(Member{std::move(k), Value{}});
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Value::Kind::kArray); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    if (error_.empty()) error_ = e.what();
    return false;
  }

  const std::string& error() const { return error_; }

 private:
  // Where the next value goes: the root, the end of an array, or the last key of an object.
  Value* slot() {
    if (stack_.empty()) return &root_;
    Value& parent = *stack_.back();
    if (parent.kind == Value::Kind::kArray) return &parent.items.emplace_back();
    return &parent.members.back().value;
  }
  bool put(Value v) {
    *slot() = std::move(v);
    return true;
  }
  bool open(Value::Kind kind) {
    if (stack_.size() >= kMaxDepth) return fail("nesting deeper than 128 levels");
    Value* v = slot();
    v->kind = kind;
    stack_.push_back(v);
    return true;
  }
  bool close() {
    stack_.pop_back();
    return true;
  }
  bool fail(const char* message) {
    if (error_.empty()) error_ = message;
    return false;
  }

  Value& root_;
  std::vector<Value*> stack_;  // open containers; pointers stay valid since only the top grows
  std::string error_;
};

// The documents the engine reads every time a session starts (the learned stores, up to tens of
// megabytes) are read here, several times faster than the general parser reads them. It takes on
// only what it reads exactly as the general parser does; anything else (a malformed document, a
// byte order mark, an escaped surrogate, nesting past the bound) it leaves to the general parser,
// which then decides and words the error.
class FastReader {
 public:
  explicit FastReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool document(Value& out) {
    skip_white_space();
    if (!value(out, 0)) return false;
    skip_white_space();
    return p_ == end_;
  }

 private:
  void skip_white_space() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  bool literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word)
      return false;
    p_ += word.size();
    return true;
  }

  bool value(Value& out, size_t depth) {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{':
        return object(out, depth);
      case '[':
        return array(out, depth);
      case '"':
        out.kind = Value::Kind::kString;
        return string(out.string);
      case 't':
        out.kind = Value::Kind::kBool;
        out.boolean = true;
        return literal("true");
      case 'f':
        out.kind = Value::Kind::kBool;
        out.boolean = false;
        return literal("false");
      case 'n':
        out.kind = Value::Kind::kNull;
        return literal("null");
      default:
        return number(out);
    }
  }

  // The elements of an object or an array, from its opening bracket to `close`; `element` reads
  // each one.
  template <typename Element>
  bool elements(char close, Element element) {
    ++p_;
    skip_white_space();
    if (p_ != end_ && *p_ == close) {
      ++p_;
      return true;
    }
    while (true) {
      if (!element()) return false;
      skip_white_space();
      if (p_ == end_) return false;
      if (*p_ == close) {
        ++p_;
        return true;
      }
      if (*p_ != ',') return false;
      ++p_;
      skip_white_space();
    }
  }

  bool object(Value& out, size_t depth) {
    if (depth >= kMaxDepth) return false;
    out.kind = Value::Kind::kObject;
    return elements('}', [&] {
      if (p_ == end_ || *p_ != '"') return false;
      Member& member = out.members.emplace_back();
      if (!string(member.key)) return false;
      skip_white_space();
      if (p_ == end_ || *p_ != ':') return false;
      ++p_;
      skip_white_space();
      return value(member.value, depth + 1);
    });
  }

  bool array(Value& out, size_t depth) {
    if (depth >= kMaxDepth) return false;
    out.kind = Value::Kind::kArray;
    return elements(']', [&] { return value(out.items.emplace_back(), depth + 1); });
  }

  // A string from its opening quote: well-formed UTF-8 (as Unicode defines it), no control
  // characters, and the escapes other than surrogates.
  bool string(std::string& out) {
    ++p_;
    const char* run = p_;
    while (true) {
      // Plain ASCII and three-byte characters (Bangla's) make up nearly every string read.
      while (end_ - p_ >= 3) {
        const auto b0 = static_cast<unsigned char>(p_[0]);
        if (b0 >= 0x20 && b0 < 0x80 && b0 != '"' && b0 != '\\') {
          ++p_;
          continue;
        }
        const auto b1 = static_cast<unsigned char>(p_[1]);
        const auto b2 = static_cast<unsigned char>(p_[2]);
        if (b0 >= 0xE1 && b0 <= 0xEC && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
          p_ += 3;
          continue;
        }
        if (b0 == 0xE0 && b1 >= 0xA0 && b1 <= 0xBF && (b2 & 0xC0) == 0x80) {
          p_ += 3;
          continue;
        }
        break;
      }
      if (p_ == end_) return false;
      const auto b0 = static_cast<unsigned char>(*p_);
      if (b0 == '"') {
        out.append(run, p_);
        ++p_;
        return true;
      }
      if (b0 == '\\') {
        out.append(run, p_);
        if (!escape(out)) return false;
        run = p_;
        continue;
      }
      if (b0 < 0x20) return false;
      const size_t length =
          utf8::sequence_length(std::string_view(p_, static_cast<size_t>(end_ - p_)), 0);
      if (length == 0) return false;
      p_ += length;
    }
  }

  // An escape from its backslash, appended to `out` as UTF-8.
  bool escape(std::string& out) {
    if (end_ - p_ < 2) return false;
    const char c = p_[1];
    p_ += 2;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    if (end_ - p_ < 4) return false;
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = *p_++;
      code <<= 4;
      if (h >= '0' && h <= '9') {
        code |= static_cast<uint32_t>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        code |= static_cast<uint32_t>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        code |= static_cast<uint32_t>(h - 'A' + 10);
      } else {
        return false;
      }
    }
    if (!utf8::is_scalar(code)) return false;  // a surrogate: the general reader pairs them
    utf8::append(out, code);
    return true;
  }

  // An integer that fits its type; a fraction, an exponent or a larger integer is the general
  // parser's (it reads those as floating point).
  bool number(Value& out) {
    const bool negative = *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_ || *p_ < '0' || *p_ > '9') return false;
    uint64_t magnitude = 0;
    if (*p_ == '0') {
      ++p_;
    } else {
      while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
        const auto digit = static_cast<uint64_t>(*p_ - '0');
        if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
        ++p_;
      }
    }
    if (p_ != end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E' || (*p_ >= '0' && *p_ <= '9')))
      return false;
    if (!negative) {
      out.kind = Value::Kind::kUint;
      out.uint_value = magnitude;
      return true;
    }
    constexpr uint64_t kMostNegative = uint64_t{1} << 63;
    if (magnitude > kMostNegative) return false;
    out.kind = Value::Kind::kInt;
    out.int_value = magnitude == kMostNegative ? std::numeric_limits<int64_t>::min()
                                               : -static_cast<int64_t>(magnitude);
    return true;
  }

  const char* p_;
  const char* end_;
};

}  // namespace

bool parse_fast(std::string_view text, Value& out) {
  out = Value{};
  if (FastReader(text).document(out)) return true;
  out = Value{};
  return false;
}

bool parse_general(std::string_view text, Value& out, std::string& error) {
  out = Value{};
  // The parser takes a NUL byte for the end of the input and would accept whatever follows it;
  // no JSON document holds one (inside strings it must be escaped).
  if (text.find('\0') != std::string_view::npos) {
    error = "NUL byte in the document";
    return false;
  }
  Builder builder(out);
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder,
                                   nlohmann::json::input_format_t::json, true);
  } catch (const std::exception& e) {
    // The parser reports through the builder; anything thrown is a failure of its own.
    error = e.what();
    out = Value{};
    return false;
  }
  if (!ok) {
    error = builder.error().empty() ? "malformed JSON" : builder.error();
    out = Value{};
    return false;
  }
  return true;
}

bool parse(std::string_view text, Value& out, std::string& error) {
  return parse_fast(text, out) || parse_general(text, out, error);
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Value::Kind::kNull:
      return true;
    case Value::Kind::kBool:
      return a.boolean == b.boolean;
    case Value::Kind::kInt:
      return a.int_value == b.int_value;
    case Value::Kind::kUint:
      return a.uint_value == b.uint_value;
    case Value::Kind::kFloat:
      return a.float_value == b.float_value;
    case Value::Kind::kString:
      return a.string == b.string;
    case Value::Kind::kArray:
      return a.items == b.items;
    case Value::Kind::kObject:
      return a.members == b.members;
  }
  return false;
}

bool operator==(const Member& a, const Member& b) { return a.key == b.key && a.value == b.value; }

std::string describe(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNull:
      return "null";
    case Value::Kind::kBool:
      return v.boolean ? "boolean `true`" : "boolean `false`";
    case Value::Kind::kInt:
      return "integer `" + std::to_string(v.int_value) + "`";
    case Value::Kind::kUint:
      return "integer `" + std::to_string(v.uint_value) + "`";
    case Value::Kind::kFloat: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%g", v.float_value);
      return std::string("floating point `") + buf + "`";
    }
    case Value::Kind::kString:
      return "string \"" + v.string + "\"";
    case Value::Kind::kArray:
      return "sequence";
    case Value::Kind::kObject:
      return "map";
  }
  return "value";
}

Record::Record(const Value& v, std::initializer_list<std::string_view> fields) {
  for (std::string_view f : fields) fields_.emplace_back(f, nullptr);
  if (!v.is_object()) {
    error_ = "invalid type: " + describe(v) + ", expected a record";
    return;
  }
  for (const auto& [key, value] : v.members) {
    for (auto& [name, slot] : fields_) {
      if (key != name) continue;
      if (slot != nullptr) {
        error_ = "duplicate field `" + key + "`";
        return;
      }
      slot = &value;
    }
  }
}

const Value* Record::get(std::string_view name) const {
  for (const auto& [field, slot] : fields_) {
    if (field == name) return slot;
  }
  return nullptr;
}

bool Record::string(std::string_view name, std::string& out) {
  if (!ok()) return false;
  const Value* v = get(name);
  if (v == nullptr) {
    error_ = "missing field `" + std::string(name) + "`";
    return false;
  }
  if (v->kind != Value::Kind::kString) {
    error_ = "invalid type: " + describe(*v) + ", expected a string";
    return false;
  }
  out = v->string;
  return true;
}

bool Record::boolean(std::string_view name, bool& out, bool optional_default) {
  if (!ok()) return false;
  const Value* v = get(name);
  if (v == nullptr) {
    out = optional_default;
    return true;
  }
  if (v->kind != Value::Kind::kBool) {
    error_ = "invalid type: " + describe(*v) + ", expected a boolean";
    return false;
  }
  out = v->boolean;
  return true;
}

}  // namespace tolvani::engine::json
