#include "json_reader.h"

#include <nlohmann/json.hpp>

#include <cstdio>

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

}  // namespace

bool parse(std::string_view text, Value& out, std::string& error) {
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
