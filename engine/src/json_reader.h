// A strict reader of JSON documents: the engine's embedded tables, the layouts, the custom keys
// and the learned stores. Unlike a plain DOM parser it keeps every member of an object in
// document order, repeats included, so that callers can reject a field named twice in a record
// while a map keeps the last of two equal keys.
// Thread-safety: pure functions over values; safe on any thread.
#ifndef TOLVANI_ENGINE_JSON_READER_H_
#define TOLVANI_ENGINE_JSON_READER_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvani::engine::json {

// Deeper nesting is refused, so that neither reading nor releasing a hostile document can
// exhaust the stack.
inline constexpr size_t kMaxDepth = 128;

struct Member;

struct Value {
  enum class Kind : uint8_t { kNull, kBool, kInt, kUint, kFloat, kString, kArray, kObject };

  Kind kind = Kind::kNull;
  bool boolean = false;
  int64_t int_value = 0;    // kInt: a negative integer
  uint64_t uint_value = 0;  // kUint: a non-negative integer
  double float_value = 0;   // kFloat: a number written with a fraction or exponent
  std::string string;
  std::vector<Value> items;     // kArray
  std::vector<Member> members;  // kObject, in document order, repeats kept

  bool is_object() const { return kind == Kind::kObject; }
};

struct Member {
  std::string key;
  Value value;
};

// Parses a whole document (UTF-8; nothing but white space after the value). On failure returns
// false and sets `error` to the parser's message.
[[nodiscard]] bool parse(std::string_view text, Value& out, std::string& error);

// The two readers `parse` combines. The fast one reads the common documents (integers, strings,
// containers) and says no to everything else, which the general one then decides; a document the
// fast one reads, the general one reads to an equal value.
[[nodiscard]] bool parse_fast(std::string_view text, Value& out);
[[nodiscard]] bool parse_general(std::string_view text, Value& out, std::string& error);

// Same kind and same content, members in the same order.
bool operator==(const Value& a, const Value& b);
bool operator==(const Member& a, const Member& b);

// How a value is described in a type error: "string \"x\"", "integer `5`", "map", ...
std::string describe(const Value& v);

// The fields of a record, each at most once; other members are ignored.
class Record {
 public:
  // Fails (see ok()/error()) when `v` is not an object or names one of `fields` twice.
  Record(const Value& v, std::initializer_list<std::string_view> fields);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // The member named `name` (one of the constructor's fields), or null when absent.
  const Value* get(std::string_view name) const;

  // Typed access; each records the first error and returns false on a missing field (unless
  // optional) or a value of the wrong type.
  bool string(std::string_view name, std::string& out);
  bool boolean(std::string_view name, bool& out, bool optional_default);

 private:
  std::vector<std::pair<std::string_view, const Value*>> fields_;
  std::string error_;
};

}  // namespace tolvani::engine::json

#endif  // TOLVANI_ENGINE_JSON_READER_H_
