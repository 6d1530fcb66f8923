#include "store_documents.h"

#include <charconv>
#include <limits>
#include <utility>

#include "json_reader.h"
#include "utf8.h"
#include "word_form.h"

namespace tolvani::engine {

namespace {

using json::Value;
using Kind = Value::Kind;
using word_form::kMaxContextBytes;
using word_form::kMaxRawBytes;
using word_form::kMaxWordBytes;

// A text past its bound is read (so that a malformed entry still fails the document) and then
// left out, as the import leaves it out: nothing reads or normalises it.
bool kept(std::string_view text, size_t max_bytes) { return text.size() <= max_bytes; }

bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

// Unsigned fields refuse every negative number, "-0" included, as they refuse fractions.
bool to_unsigned(const Value& v, uint64_t max, const char* expected, uint64_t& out,
                 std::string& error) {
  if (v.kind == Kind::kUint && v.uint_value <= max) {
    out = v.uint_value;
    return true;
  }
  if (v.kind == Kind::kUint || v.kind == Kind::kInt)
    return fail(error, "invalid value: " + json::describe(v) + ", expected " + expected);
  return fail(error, "invalid type: " + json::describe(v) + ", expected " + expected);
}

bool to_u32(const Value& v, uint32_t& out, std::string& error) {
  uint64_t wide = 0;
  if (!to_unsigned(v, std::numeric_limits<uint32_t>::max(), "u32", wide, error)) return false;
  out = static_cast<uint32_t>(wide);
  return true;
}

bool to_u64(const Value& v, uint64_t& out, std::string& error) {
  return to_unsigned(v, std::numeric_limits<uint64_t>::max(), "u64", out, error);
}

bool to_i32(const Value& v, int32_t& out, std::string& error) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr uint64_t kMax = std::numeric_limits<int32_t>::max();
  if (v.kind == Kind::kInt && v.int_value >= kMin && v.int_value <= 0) {
    out = static_cast<int32_t>(v.int_value);
    return true;
  }
  if (v.kind == Kind::kUint && v.uint_value <= kMax) {
    out = static_cast<int32_t>(v.uint_value);
    return true;
  }
  if (v.kind == Kind::kUint || v.kind == Kind::kInt)
    return fail(error, "invalid value: " + json::describe(v) + ", expected i32");
  return fail(error, "invalid type: " + json::describe(v) + ", expected i32");
}

bool to_string(const Value& v, std::string& out, std::string& error) {
  if (v.kind != Kind::kString)
    return fail(error, "invalid type: " + json::describe(v) + ", expected a string");
  out = v.string;
  return true;
}

// A required or optional field of a record; `read` converts it. The field's name is added to a
// conversion error.
template <typename T, typename Read>
bool field(const json::Record& record, std::string_view name, bool required, T& out, Read read,
           std::string& error) {
  const Value* v = record.get(name);
  if (v == nullptr) {
    if (required) return fail(error, "missing field `" + std::string(name) + "`");
    return true;
  }
  if (read(*v, out, error)) return true;
  error += " for `" + std::string(name) + "`";
  return false;
}

// Calls `read(key, value)` for each member of the map object `v`, in document order, so that the
// later of two equal keys is stored last and wins.
// A map the caller owns (a `Value`, not a const one) gives `read` its keys to move from once it
// has read the entry.
template <typename V, typename Read>
bool each_member(V& v, std::string_view where, std::string& error, Read read) {
  if (!v.is_object())
    return fail(error, "invalid type: " + json::describe(v) + ", expected a map for `" +
                           std::string(where) + "`");
  for (auto& m : v.members) {
    if (!read(m.key, m.value)) {
      error += " in `" + std::string(where) + "` entry \"" + m.key + "\"";
      return false;
    }
  }
  return true;
}

bool read_reset_id(const json::Record& top, std::string& out, std::string& error) {
  return field(top, "reset_id", false, out, to_string, error);
}

// The member `name` of the object `root`, which a Record has read (so it is named once), for a
// reader that moves out of it; null when absent.
Value* owned_member(Value& root, std::string_view name) {
  for (json::Member& m : root.members) {
    if (m.key == name) return &m.value;
  }
  return nullptr;
}

const Value* required_map(const json::Record& top, std::string_view name, std::string& error) {
  const Value* v = top.get(name);
  if (v == nullptr) error = "missing field `" + std::string(name) + "`";
  return v;
}

// ---- writing

class Writer {
 public:
  Writer(std::string& out, std::string& error) : out_(out), error_(error) {
    out_.clear();
    // Most small documents fit without growing.
    out_.reserve(128);
  }

  bool ok() const { return ok_; }

  void raw(std::string_view s) { out_.append(s); }

  void string(std::string_view s) {
    if (ok_ && !utf8::is_valid(s)) {
      ok_ = false;
      error_ = "string is not valid UTF-8";
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out_.push_back('"');
    for (char ch : s) {
      const auto c = static_cast<unsigned char>(ch);
      switch (c) {
        case '"':
          out_.append("\\\"");
          break;
        case '\\':
          out_.append("\\\\");
          break;
        case '\b':
          out_.append("\\b");
          break;
        case '\f':
          out_.append("\\f");
          break;
        case '\n':
          out_.append("\\n");
          break;
        case '\r':
          out_.append("\\r");
          break;
        case '\t':
          out_.append("\\t");
          break;
        default:
          if (c < 0x20) {
            out_.append("\\u00");
            out_.push_back(kHex[c >> 4]);
            out_.push_back(kHex[c & 0xF]);
          } else {
            out_.push_back(ch);
          }
      }
    }
    out_.push_back('"');
  }

  // "key": as the start of a member.
  void key(std::string_view k) {
    string(k);
    out_.push_back(':');
  }

  template <typename Int>
  void number(Int n) {
    char buf[24];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    (void)ec;  // 24 bytes hold every 64-bit integer
    out_.append(buf, end);
  }

  // Writes `{` then each member through `put(key, value)`, comma-separated, then `}`.
  template <typename Map, typename Put>
  void map(const Map& m, Put put) {
    out_.push_back('{');
    bool first = true;
    for (const auto& [k, v] : m) {
      if (!first) out_.push_back(',');
      first = false;
      key(k);
      put(v);
    }
    out_.push_back('}');
  }

 private:
  std::string& out_;
  std::string& error_;
  bool ok_ = true;
};

}  // namespace

// ---- documents of one nested map of numbers: {"reset_id": .., NAME: {outer: {inner: number}}}

template <typename Number, typename ReadNumber>
bool decode_nested_numbers(std::string_view text, std::string_view name, size_t max_outer_bytes,
                           std::string& reset_id, StringMap<StringMap<Number>>& map,
                           ReadNumber read_number, std::string& error) {
  Value root;
  if (!json::parse(text, root, error)) return false;
  json::Record top(root, {"reset_id", name});
  if (!top.ok()) return fail(error, top.error());
  reset_id.clear();
  map.clear();
  if (!read_reset_id(top, reset_id, error)) return false;
  const Value* outer = required_map(top, name, error);
  if (outer == nullptr) return false;
  return each_member(*outer, name, error, [&](const std::string& key, const Value& inner) {
    StringMap<Number> numbers;
    const bool ok = each_member(inner, key, error, [&](const std::string& k, const Value& v) {
      Number n{};
      if (!read_number(v, n, error)) return false;
      if (kept(k, kMaxWordBytes)) numbers.insert_or_assign(k, n);
      return true;
    });
    if (!ok) return false;
    if (kept(key, max_outer_bytes)) map.insert_or_assign(key, std::move(numbers));
    return true;
  });
}

template <typename Number>
bool encode_nested_numbers(std::string_view name, const std::string& reset_id,
                           const StringMap<StringMap<Number>>& map, std::string& out,
                           std::string& error) {
  Writer w(out, error);
  w.raw("{");
  w.key("reset_id");
  w.string(reset_id);
  w.raw(",");
  w.key(name);
  w.map(map,
        [&](const StringMap<Number>& numbers) { w.map(numbers, [&](Number n) { w.number(n); }); });
  w.raw("}");
  return w.ok();
}

// ---- user dictionary

bool decode_document(std::string_view text, UserDictionaryDocument& out, std::string& error) {
  Value root;
  if (!json::parse(text, root, error)) return false;
  json::Record top(root, {"reset_id", "words", "tombstones"});
  if (!top.ok()) return fail(error, top.error());
  out = {};
  if (!read_reset_id(top, out.reset_id, error)) return false;
  if (required_map(top, "words", error) == nullptr) return false;
  // Each word is copied out of the document, not moved: its text, allocated among the document's
  // entries, would keep the pages of the freed entries around it resident (some megabytes at each
  // reload of every session).
  const Value& words = *top.get("words");
  if (words.is_object()) out.words.reserve(words.members.size());
  const bool words_ok =
      each_member(words, "words", error, [&](const std::string& k, const Value& v) {
        json::Record r(v, {"frequency", "last_used", "last_decay"});
        if (!r.ok()) return fail(error, r.error());
        UserEntry e;
        if (!field(r, "frequency", true, e.frequency, to_u32, error) ||
            !field(r, "last_used", false, e.last_used, to_u64, error) ||
            !field(r, "last_decay", false, e.last_decay, to_u64, error))
          return false;
        if (kept(k, kMaxWordBytes)) out.words.insert_or_assign(k, e);
        return true;
      });
  if (!words_ok) return false;
  if (Value* tombstones = owned_member(root, "tombstones")) {
    if (tombstones->is_object()) out.tombstones.reserve(tombstones->members.size());
    const bool ok =
        each_member(*tombstones, "tombstones", error, [&](std::string& k, const Value& v) {
          uint64_t t = 0;
          if (!to_u64(v, t, error)) return false;
          if (kept(k, kMaxWordBytes)) out.tombstones.insert_or_assign(std::move(k), t);
          return true;
        });
    if (!ok) return false;
  }
  return true;
}

bool encode_document(const UserDictionaryDocument& doc, std::string& out, std::string& error) {
  Writer w(out, error);
  w.raw("{");
  w.key("reset_id");
  w.string(doc.reset_id);
  w.raw(",");
  w.key("words");
  w.map(doc.words, [&](const UserEntry& e) {
    w.raw("{");
    w.key("frequency");
    w.number(e.frequency);
    w.raw(",");
    w.key("last_used");
    w.number(e.last_used);
    w.raw(",");
    w.key("last_decay");
    w.number(e.last_decay);
    w.raw("}");
  });
  w.raw(",");
  w.key("tombstones");
  w.map(doc.tombstones, [&](uint64_t t) { w.number(t); });
  w.raw("}");
  return w.ok();
}

// ---- user bigrams

bool decode_document(std::string_view text, UserBigramsDocument& out, std::string& error) {
  Value root;
  if (!json::parse(text, root, error)) return false;
  json::Record top(root, {"reset_id", "pairs"});
  if (!top.ok()) return fail(error, top.error());
  out = {};
  if (!read_reset_id(top, out.reset_id, error)) return false;
  const Value* pairs = required_map(top, "pairs", error);
  if (pairs == nullptr) return false;
  return each_member(*pairs, "pairs", error, [&](const std::string& first, const Value& inner) {
    StringMap<BigramEntry> followers;
    const bool ok =
        each_member(inner, first, error, [&](const std::string& second, const Value& v) {
          json::Record r(v, {"frequency", "last_used"});
          if (!r.ok()) return fail(error, r.error());
          BigramEntry e;
          if (!field(r, "frequency", true, e.frequency, to_u32, error) ||
              !field(r, "last_used", true, e.last_used, to_u64, error))
            return false;
          if (kept(second, kMaxWordBytes)) followers.insert_or_assign(second, e);
          return true;
        });
    if (!ok) return false;
    if (kept(first, kMaxWordBytes)) out.pairs.insert_or_assign(first, std::move(followers));
    return true;
  });
}

bool encode_document(const UserBigramsDocument& doc, std::string& out, std::string& error) {
  Writer w(out, error);
  w.raw("{");
  w.key("reset_id");
  w.string(doc.reset_id);
  w.raw(",");
  w.key("pairs");
  w.map(doc.pairs, [&](const StringMap<BigramEntry>& followers) {
    w.map(followers, [&](const BigramEntry& e) {
      w.raw("{");
      w.key("frequency");
      w.number(e.frequency);
      w.raw(",");
      w.key("last_used");
      w.number(e.last_used);
      w.raw("}");
    });
  });
  w.raw("}");
  return w.ok();
}

// ---- user trigrams

bool decode_document(std::string_view text, UserTrigramsDocument& out, std::string& error) {
  return decode_nested_numbers(text, "triples", kMaxContextBytes, out.reset_id, out.triples, to_u32,
                               error);
}

bool encode_document(const UserTrigramsDocument& doc, std::string& out, std::string& error) {
  return encode_nested_numbers("triples", doc.reset_id, doc.triples, out, error);
}

// ---- selection memory

bool decode_document(std::string_view text, SelectionMemoryDocument& out, std::string& error) {
  Value root;
  if (!json::parse(text, root, error)) return false;
  json::Record top(root, {"reset_id", "selections"});
  if (!top.ok()) return fail(error, top.error());
  out = {};
  if (!read_reset_id(top, out.reset_id, error)) return false;
  const Value* selections = required_map(top, "selections", error);
  if (selections == nullptr) return false;
  return each_member(*selections, "selections", error, [&](const std::string& raw, const Value& v) {
    json::Record r(v, {"text", "count", "last_used"});
    if (!r.ok()) return fail(error, r.error());
    SelectionEntry e;
    if (!field(r, "text", true, e.text, to_string, error) ||
        !field(r, "count", true, e.count, to_u32, error) ||
        !field(r, "last_used", false, e.last_used, to_u64, error))
      return false;
    if (kept(raw, kMaxRawBytes) && kept(e.text, kMaxWordBytes))
      out.selections.insert_or_assign(raw, std::move(e));
    return true;
  });
}

bool encode_document(const SelectionMemoryDocument& doc, std::string& out, std::string& error) {
  Writer w(out, error);
  w.raw("{");
  w.key("reset_id");
  w.string(doc.reset_id);
  w.raw(",");
  w.key("selections");
  w.map(doc.selections, [&](const SelectionEntry& e) {
    w.raw("{");
    w.key("text");
    w.string(e.text);
    w.raw(",");
    w.key("count");
    w.number(e.count);
    w.raw(",");
    w.key("last_used");
    w.number(e.last_used);
    w.raw("}");
  });
  w.raw("}");
  return w.ok();
}

// ---- rejections

bool decode_document(std::string_view text, RejectionsDocument& out, std::string& error) {
  return decode_nested_numbers(text, "entries", kMaxRawBytes, out.reset_id, out.entries, to_i32,
                               error);
}

bool encode_document(const RejectionsDocument& doc, std::string& out, std::string& error) {
  return encode_nested_numbers("entries", doc.reset_id, doc.entries, out, error);
}

}  // namespace tolvani::engine
