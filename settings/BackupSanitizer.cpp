#include "settings/BackupSanitizer.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <QString>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/Clock.h"
#include "settings/BackupMerge.h"
#include "settings/StoredText.h"
#include "word_form.h"

namespace tolvani::BackupSanitizer {

namespace {

constexpr std::int64_t kMaxCount = 1'000'000;
constexpr std::int64_t kOneDay = 86'400;
constexpr int kMaxWordLength = static_cast<int>(word_form::kMaxWordCharacters);
constexpr int kMaxRawLength = static_cast<int>(word_form::kMaxRawCharacters);
constexpr int kMaxEnglishWordLength = 24;
constexpr std::size_t kMaxWords = 10'000;
constexpr std::size_t kMaxTombstones = 10'000;
constexpr std::size_t kMaxSelections = 5'000;
constexpr std::size_t kMaxPairs = 5'000;
constexpr std::size_t kMaxTriples = 3'000;

// Builds the document through the library's own DOM builder, refusing nesting beyond the limit
// as soon as it is met rather than after building it.
class BoundedDomBuilder {
 public:
  BoundedDomBuilder(Json& root, bool rejectDuplicateTopLevelKeys)
      : dom_(root, /*allow_exceptions=*/false),
        rejectDuplicateTopLevelKeys_(rejectDuplicateTopLevelKeys) {}

  bool null() { return dom_.null(); }
  bool boolean(bool value) { return dom_.boolean(value); }
  bool number_integer(Json::number_integer_t value) { return dom_.number_integer(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return dom_.number_unsigned(value); }
  bool number_float(Json::number_float_t value, const Json::string_t& text) {
    return dom_.number_float(value, text);
  }
  bool string(Json::string_t& value) { return dom_.string(value); }
  bool binary(Json::binary_t& value) { return dom_.binary(value); }
  bool start_object(std::size_t elements) {
    if (++depth_ > kMaxNestingDepth) return false;
    return dom_.start_object(elements);
  }
  bool key(Json::string_t& value) {
    if (depth_ == 1 && rejectDuplicateTopLevelKeys_ && !topLevelKeys_.insert(value).second)
      return false;
    return dom_.key(value);
  }
  bool end_object() {
    --depth_;
    return dom_.end_object();
  }
  bool start_array(std::size_t elements) {
    if (++depth_ > kMaxNestingDepth) return false;
    return dom_.start_array(elements);
  }
  bool end_array() {
    --depth_;
    return dom_.end_array();
  }
  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::detail::exception& error) {
    return dom_.parse_error(position, token, error);
  }

 private:
  nlohmann::detail::json_sax_dom_parser<Json> dom_;
  bool rejectDuplicateTopLevelKeys_;
  int depth_ = 0;
  std::set<std::string> topLevelKeys_;
};

// Whole seconds now on the front end's clock, plus one day: the latest time an import accepts.
std::int64_t latestAcceptedTime() {
  const double now = std::floor(platform::clock().wallSeconds());
  if (!(now > 0)) return kOneDay;
  if (now >= 9.0e18) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(now) + kOneDay;
}

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Keys that can pass the text rule with `maxLength` characters, by their size alone.
auto withinBound(int maxLength) {
  return [maxLength](std::string_view key) { return withinStoredTextBound(key, maxLength); };
}

// What a key is compared by: its canonical composition, or, for the words of the dictionary, the
// key the engine stores them under (their normal form, which composes them too).
enum class KeyForm { composed, word };

std::string composed(std::string_view text) {
  static const icu::Normalizer2* const nfc = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* instance = icu::Normalizer2::getNFCInstance(status);
    return U_SUCCESS(status) ? instance : nullptr;
  }();
  if (nfc == nullptr) throw std::runtime_error("NFC normaliser unavailable");
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  const icu::UnicodeString result = nfc->normalize(source, status);
  if (U_FAILURE(status)) throw std::runtime_error("NFC failed");
  std::string out;
  return result.toUTF8String(out);
}

struct Walked {
  std::string form;  // UTF-8 byte order is scalar order
  Json::const_iterator it;
};

// The keys of `object` in the order an import walks them: by Unicode scalar values of their
// form, so that a backup's caps keep the same entries however its keys were composed; equal
// forms by their bytes, so that the order is total. A key that is not `readable` (longer than its
// bound) is left out unread: it could not pass the text rule, and normalising it could take
// minutes. So is a word that the engine could not store (an empty form, or one past the bound).
using Readable = std::function<bool(std::string_view)>;

std::vector<Walked> walkOrder(const Json& object, const Readable& readable, KeyForm form) {
  std::vector<Walked> order;
  order.reserve(object.size());
  for (auto it = object.begin(); it != object.end(); ++it) {
    const std::string& key = it.key();
    if (!readable(key)) continue;
    try {
      if (form == KeyForm::composed) {
        order.push_back({composed(key), it});
      } else if (std::optional<std::string> stored = word_form::stored_word(key)) {
        order.push_back({std::move(*stored), it});
      }
    } catch (const std::exception&) {
      // a key that cannot be normalised is dropped like any other bad entry
    }
  }
  std::sort(order.begin(), order.end(), [](const Walked& a, const Walked& b) {
    if (a.form != b.form) return a.form < b.form;
    return a.it.key() < b.it.key();
  });
  return order;
}

const Json* member(const Json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

// A time field of an entry: kept when it is an integer from 0 to a day after now.
void copyTime(const Json& from, Json& to, const char* key) {
  if (const auto time = boundedInt(member(from, key), 0, latestAcceptedTime())) to[key] = *time;
}

// The section `name` of a store's value: present only when the store is an object holding it as
// an object.
const Json* section(const Json* store, const char* name) {
  if (store == nullptr || !store->is_object()) return nullptr;
  const Json* map = member(*store, name);
  return map != nullptr && map->is_object() ? map : nullptr;
}

// A map of outer keys to maps of inner keys to leaves, cleaned: entries walked in order until
// `cap` inner entries are accepted; an outer key stays only with an accepted inner entry.
struct NestedRules {
  const char* section;
  std::function<bool(const std::string&)> validOuterKey;
  Readable readableOuterKey;
  int maxInnerLength;
  std::function<std::optional<Json>(const Json&)> leaf;
  std::size_t cap;
};

std::optional<Json> sanitizedNested(const Json* store, const NestedRules& rules) {
  const Json* map = section(store, rules.section);
  if (map == nullptr) return std::nullopt;
  Json cleaned = Json::object();
  std::size_t accepted = 0;
  for (const Walked& outer : walkOrder(*map, rules.readableOuterKey, KeyForm::composed)) {
    if (accepted >= rules.cap) break;  // nothing further could be added
    if (!outer.it->is_object() || !rules.validOuterKey(outer.it.key())) continue;
    Json inner = Json::object();
    for (const Walked& entry :
         walkOrder(*outer.it, withinBound(rules.maxInnerLength), KeyForm::composed)) {
      if (accepted >= rules.cap) break;
      if (!isValidImportedString(entry.it.key(), rules.maxInnerLength)) continue;
      std::optional<Json> leaf = rules.leaf(*entry.it);
      if (!leaf) continue;
      inner[entry.it.key()] = std::move(*leaf);
      ++accepted;
    }
    if (!inner.empty()) cleaned[outer.it.key()] = std::move(inner);
  }
  if (!map->empty() && accepted == 0) return std::nullopt;
  return Json::object({{rules.section, std::move(cleaned)}});
}

std::optional<Json> count(const Json& value) {
  if (const auto n = boundedInt(&value, 1, kMaxCount)) return Json(*n);
  return std::nullopt;
}

std::function<bool(const std::string&)> textKey(int maxLength) {
  return [maxLength](const std::string& key) { return isValidImportedString(key, maxLength); };
}

}  // namespace

std::optional<Json> parseJson(std::string_view bytes, bool rejectDuplicateTopLevelKeys) {
  try {
    Json root;
    BoundedDomBuilder builder(root, rejectDuplicateTopLevelKeys);
    if (!Json::sax_parse(bytes, &builder)) return std::nullopt;
    if (root.is_discarded()) return std::nullopt;
    return root;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool isValidImportedString(std::string_view text, int maxLength) {
  if (text.empty() || maxLength <= 0) return false;
  // Before anything decodes or counts it: one character may hold any number of marks.
  if (!withinStoredTextBound(text, maxLength)) return false;
  const QString decoded = fromUtf8(text);
  if (decoded.isEmpty() || containsUnsafeStoredText(decoded)) return false;
  return characterCount(decoded, maxLength + 1) <= maxLength;
}

std::optional<std::int64_t> boundedInt(const Json* value, std::int64_t min, std::int64_t max) {
  if (value == nullptr) return std::nullopt;
  if (value->is_number_unsigned()) {
    const std::uint64_t n = value->get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return std::nullopt;
    const auto v = static_cast<std::int64_t>(n);
    if (v < min || v > max) return std::nullopt;
    return v;
  }
  if (value->is_number_integer()) {
    const std::int64_t v = value->get<std::int64_t>();
    if (v < min || v > max) return std::nullopt;
    return v;
  }
  if (value->is_number_float()) {
    const double d = value->get<double>();
    if (!std::isfinite(d) || std::trunc(d) != d) return std::nullopt;
    // Both bounds lie well inside the range that doubles hold exactly.
    if (d < static_cast<double>(min) || d > static_cast<double>(max)) return std::nullopt;
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;  // Booleans, strings, null, objects, arrays
}

std::optional<Json> sanitizedFrequencyEntry(const Json& entry) {
  if (!entry.is_object()) return std::nullopt;
  const auto frequency = boundedInt(member(entry, "frequency"), 1, kMaxCount);
  if (!frequency) return std::nullopt;
  Json cleaned = Json::object({{"frequency", *frequency}});
  copyTime(entry, cleaned, "last_used");
  copyTime(entry, cleaned, "last_decay");
  return cleaned;
}

std::optional<Json> sanitizedDictionary(const Json* store) {
  const Json* words = section(store, "words");
  if (words == nullptr) return std::nullopt;
  // Words are keyed by the engine's normal form, as its load keys them: spellings of one word (a
  // vowel sign written in two parts, say) become one entry, which a second import of the same
  // backup meets again rather than adding a twin that the engine would count in.
  Json cleanedWords = Json::object();
  for (const Walked& word : walkOrder(*words, withinBound(kMaxWordLength), KeyForm::word)) {
    const auto twin = cleanedWords.find(word.form);
    // Walked in order of their forms, so every later word is new too.
    if (twin == cleanedWords.end() && cleanedWords.size() >= kMaxWords) break;
    if (!isValidImportedString(word.it.key(), kMaxWordLength)) continue;
    std::optional<Json> entry = sanitizedFrequencyEntry(*word.it);
    if (!entry) continue;
    if (twin != cleanedWords.end())
      *twin = BackupMerge::mergedWordEntry(*twin, *entry);
    else
      cleanedWords[word.form] = std::move(*entry);
  }
  if (!words->empty() && cleanedWords.empty()) return std::nullopt;
  Json cleaned = Json::object({{"words", std::move(cleanedWords)}});

  Json cleanedTombstones = Json::object();
  if (const Json* tombstones = section(store, "tombstones")) {
    for (const Walked& word : walkOrder(*tombstones, withinBound(kMaxWordLength), KeyForm::word)) {
      const auto twin = cleanedTombstones.find(word.form);
      if (twin == cleanedTombstones.end() && cleanedTombstones.size() >= kMaxTombstones) break;
      if (!isValidImportedString(word.it.key(), kMaxWordLength)) continue;
      Json time;
      // The largest unsigned value hides a word for ever; no other time beyond tomorrow is real.
      if (word.it->is_number_unsigned() &&
          word.it->get<std::uint64_t>() == std::numeric_limits<std::uint64_t>::max()) {
        time = std::numeric_limits<std::uint64_t>::max();
      } else if (const auto bounded = boundedInt(&*word.it, 0, latestAcceptedTime())) {
        time = *bounded;
      } else {
        continue;
      }
      if (twin == cleanedTombstones.end())
        cleanedTombstones[word.form] = std::move(time);
      else if (BackupMerge::storedUInt64(&time) > BackupMerge::storedUInt64(&*twin))
        *twin = std::move(time);
    }
  }
  if (!cleanedTombstones.empty()) cleaned["tombstones"] = std::move(cleanedTombstones);
  return cleaned;
}

std::optional<Json> sanitizedSelections(const Json* store) {
  const Json* selections = section(store, "selections");
  if (selections == nullptr) return std::nullopt;
  Json cleanedSelections = Json::object();
  for (const Walked& walked :
       walkOrder(*selections, withinBound(kMaxRawLength), KeyForm::composed)) {
    const auto& raw = walked.it;
    if (cleanedSelections.size() >= kMaxSelections) break;
    if (!isValidImportedString(raw.key(), kMaxRawLength) || !raw->is_object()) continue;
    const Json* text = member(*raw, "text");
    if (text == nullptr || !text->is_string() ||
        !isValidImportedString(text->get_ref<const std::string&>(), kMaxWordLength))
      continue;
    const auto chosen = boundedInt(member(*raw, "count"), 1, kMaxCount);
    if (!chosen) continue;
    Json entry = Json::object({{"text", *text}, {"count", *chosen}});
    copyTime(*raw, entry, "last_used");
    cleanedSelections[raw.key()] = std::move(entry);
  }
  if (!selections->empty() && cleanedSelections.empty()) return std::nullopt;
  return Json::object({{"selections", std::move(cleanedSelections)}});
}

std::optional<Json> sanitizedBigrams(const Json* store) {
  return sanitizedNested(
      store, {"pairs", textKey(kMaxWordLength), withinBound(kMaxWordLength), kMaxWordLength,
              [](const Json& value) -> std::optional<Json> {
                std::optional<Json> entry = sanitizedFrequencyEntry(value);
                if (entry && !entry->contains("last_used")) (*entry)["last_used"] = 0;
                return entry;
              },
              kMaxPairs});
}

std::optional<Json> sanitizedTrigrams(const Json* store) {
  // A context key is two words joined by one TAB; the TAB itself is why the key is not checked
  // whole.
  const auto validContext = [](const std::string& key) {
    const std::size_t tab = key.find('\t');
    if (tab == std::string::npos || key.find('\t', tab + 1) != std::string::npos) return false;
    return isValidImportedString(std::string_view(key).substr(0, tab), kMaxWordLength) &&
           isValidImportedString(std::string_view(key).substr(tab + 1), kMaxWordLength);
  };
  // Two words and a TAB, each word within its bound, before anything composes the key.
  const auto readableContext = [](std::string_view key) {
    const std::size_t tab = key.find('\t');
    return tab != std::string_view::npos &&
           withinStoredTextBound(key.substr(0, tab), kMaxWordLength) &&
           withinStoredTextBound(key.substr(tab + 1), kMaxWordLength);
  };
  return sanitizedNested(
      store, {"triples", validContext, readableContext, kMaxWordLength, count, kMaxTriples});
}

std::optional<Json> sanitizedRejections(const Json* store) {
  return sanitizedNested(store, {"entries", textKey(kMaxRawLength), withinBound(kMaxRawLength),
                                 kMaxWordLength, count, kMaxPairs});
}

std::optional<Json> sanitizedEnglishPairs(const Json* store) {
  return sanitizedNested(
      store, {"pairs", textKey(kMaxEnglishWordLength), withinBound(kMaxEnglishWordLength),
              kMaxEnglishWordLength, count, kMaxPairs});
}

std::map<std::string, std::string> sanitizedUserDataFiles(const Json& backup) {
  using Cleaner = std::optional<Json> (*)(const Json*);
  static constexpr Cleaner kCleaners[] = {sanitizedDictionary, sanitizedBigrams,
                                          sanitizedTrigrams,   sanitizedRejections,
                                          sanitizedSelections, sanitizedEnglishPairs};
  static_assert(std::size(kCleaners) == std::size(kStoreKeys));
  std::map<std::string, std::string> cleaned;
  if (!backup.is_object()) return cleaned;
  for (std::size_t i = 0; i < std::size(kStoreKeys); ++i) {
    const Json* store = member(backup, kStoreKeys[i]);
    if (store == nullptr) continue;
    std::optional<Json> document = kCleaners[i](store);
    if (!document || !document->is_object()) continue;
    try {
      cleaned[kStoreKeys[i]] = document->dump();  // objects keep their keys sorted
    } catch (const std::exception&) {
      // left out, like any store that cannot be rebuilt
    }
  }
  return cleaned;
}

}  // namespace tolvani::BackupSanitizer
