#include "settings/BackupMerge.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "word_form.h"

namespace tolvani::BackupMerge {

namespace {

constexpr std::uint64_t kForever = std::numeric_limits<std::uint64_t>::max();
// The engine keeps frequencies in 32 bits and saturates its sums there.
constexpr std::uint64_t kMaxStoredFrequency = std::numeric_limits<std::uint32_t>::max();
// The engine's bounds on its dictionary (engine/src/user_dict.h): they must stay the same.
constexpr std::uint64_t kIdleSeconds = 2'592'000;  // 30 days
constexpr std::size_t kWordCap = 10'000;
constexpr std::size_t kWordsKept = 9'000;

const Json* member(const Json& object, const std::string& key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

// The incoming side's section; the cleaner built it, but anything else reads as empty.
const Json& incomingSection(const Json& incoming, const std::string& section) {
  static const Json kEmpty = Json::object();
  const Json* map = member(incoming, section);
  return map != nullptr && map->is_object() ? *map : kEmpty;
}

Json larger(const Json& current, const Json& incoming) {
  return std::max(storedUInt64(&current), storedUInt64(&incoming));
}

// A bigram entry: the larger frequency and the later use; the current entry's other fields stay.
Json mergedBigramEntry(const Json& current, const Json& incoming) {
  Json entry = current.is_object() ? current : Json::object();
  entry["frequency"] = std::max(storedUInt64(member(current, "frequency")),
                                storedUInt64(member(incoming, "frequency")));
  entry["last_used"] = std::max(storedUInt64(member(current, "last_used")),
                                storedUInt64(member(incoming, "last_used")));
  return entry;
}

// Twins of one normal form merged as the engine's load merges them.
void addTwin(Json& kept, const Json& twin) {
  if (!twin.is_object()) return;
  if (!kept.is_object()) {
    kept = twin;
    return;
  }
  const std::uint64_t a = storedUInt64(member(kept, "frequency"));
  const std::uint64_t b = storedUInt64(member(twin, "frequency"));
  kept["frequency"] = a >= kMaxStoredFrequency || b >= kMaxStoredFrequency
                          ? kMaxStoredFrequency
                          : std::min(a + b, kMaxStoredFrequency);
  for (const char* time : {"last_used", "last_decay"}) {
    const Json* mine = member(kept, time);
    const Json* theirs = member(twin, time);
    if (mine != nullptr || theirs != nullptr)
      kept[time] = std::max(storedUInt64(mine), storedUInt64(theirs));
  }
}

// The key a word on disk is merged under: the key the engine's load gives it; the word itself
// when it is past the bound (the load drops it unread, so this merge leaves it as it is) or cannot
// be normalised; none when the load drops it after normalising it (an empty form, or one past the
// bound).
std::optional<std::string> storedForm(const std::string& word) {
  if (word.size() > word_form::kMaxWordBytes) return word;
  try {
    return word_form::stored_word(word);
  } catch (const std::exception&) {
    return word;
  }
}

Json wordsInNormalForm(Json words) {
  std::vector<std::optional<std::string>> forms;
  forms.reserve(words.size());
  bool normal = true;
  for (const auto& item : words.items()) {
    forms.push_back(storedForm(item.key()));
    normal = normal && forms.back() == item.key();
  }
  if (normal) return words;
  Json rebuilt = Json::object();
  std::size_t i = 0;
  for (auto& item : words.items()) {
    std::optional<std::string>& form = forms[i++];
    if (!form) continue;
    const auto twin = rebuilt.find(*form);
    if (twin == rebuilt.end())
      rebuilt[std::move(*form)] = std::move(item.value());
    else
      addTwin(*twin, item.value());
  }
  return rebuilt;
}

std::optional<Json> mergedSelections(Json current, const Json& incoming) {
  std::optional<Json> selections = storedMap(member(current, "selections"));
  if (!selections) return std::nullopt;
  for (const auto& [raw, entry] : incomingSection(incoming, "selections").items()) {
    if (!entry.is_object()) continue;
    const auto it = selections->find(raw);
    // Only a newer choice replaces a remembered one: on a tie the one on disk stays.
    if (it == selections->end() || !it->is_object() ||
        storedUInt64(member(entry, "last_used")) > storedUInt64(member(*it, "last_used")))
      (*selections)[raw] = entry;
  }
  current["selections"] = std::move(*selections);
  return current;
}

}  // namespace

std::uint64_t storedUInt64(const Json* value) {
  if (value == nullptr) return 0;
  if (value->is_number_unsigned()) return value->get<std::uint64_t>();
  if (value->is_number_integer()) {
    const std::int64_t n = value->get<std::int64_t>();
    return n < 0 ? 0 : static_cast<std::uint64_t>(n);
  }
  if (value->is_number_float()) {
    const double d = std::trunc(value->get<double>());
    if (!(d > 0)) return 0;  // negative, zero or NaN
    // The signed reading saturates rather than wraps.
    if (d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::uint64_t>(d);
  }
  return 0;  // Booleans, strings, null, objects, arrays
}

std::optional<Json> storedMap(const Json* value) {
  if (value == nullptr) return Json::object();
  if (value->is_object()) return *value;
  return std::nullopt;
}

std::optional<Json> mergedNested(Json current, const Json& incoming, const std::string& section,
                                 const LeafRule& leaf) {
  std::optional<Json> merged = storedMap(member(current, section));
  if (!merged) return std::nullopt;
  for (const auto& [outer, incomingInner] : incomingSection(incoming, section).items()) {
    if (!incomingInner.is_object()) continue;
    const auto it = merged->find(outer);
    if (it == merged->end()) {
      (*merged)[outer] = incomingInner;
      continue;
    }
    std::optional<Json> inner = storedMap(&*it);
    if (!inner) return std::nullopt;
    for (const auto& [key, value] : incomingInner.items()) {
      const auto existing = inner->find(key);
      if (existing == inner->end())
        (*inner)[key] = value;
      else
        *existing = leaf(*existing, value);
    }
    *it = std::move(*inner);
  }
  current[section] = std::move(*merged);
  return current;
}

Json mergedWordEntry(Json current, const Json& incoming) {
  Json merged = current.is_object() ? std::move(current) : Json::object();
  const std::uint64_t currentDecay = storedUInt64(member(merged, "last_decay"));
  const std::uint64_t incomingDecay = storedUInt64(member(incoming, "last_decay"));
  // A later decay step already lowered the frequency: the decayed value is the true one.
  if (incomingDecay > currentDecay) {
    merged["frequency"] = storedUInt64(member(incoming, "frequency"));
    merged["last_decay"] = incomingDecay;
  } else if (incomingDecay == currentDecay) {
    merged["frequency"] = std::max(storedUInt64(member(merged, "frequency")),
                                   storedUInt64(member(incoming, "frequency")));
  }
  // A time that neither side knows stays absent (it reads as 0), so that merging the same
  // backup again writes the same bytes.
  const Json* currentUse = member(merged, "last_used");
  const Json* incomingUse = member(incoming, "last_used");
  if (currentUse != nullptr || incomingUse != nullptr)
    merged["last_used"] = std::max(storedUInt64(currentUse), storedUInt64(incomingUse));
  return merged;
}

std::optional<Json> mergedDictionary(Json current, const Json& incoming) {
  std::optional<Json> words = storedMap(member(current, "words"));
  if (words) words = wordsInNormalForm(std::move(*words));
  std::optional<Json> tombstones = storedMap(member(current, "tombstones"));
  if (!words || !tombstones) return std::nullopt;

  for (const auto& [word, time] : incomingSection(incoming, "tombstones").items()) {
    const std::uint64_t incomingTime = storedUInt64(&time);
    if (incomingTime > storedUInt64(member(*tombstones, word))) (*tombstones)[word] = incomingTime;
  }

  for (const auto& [word, entry] : incomingSection(incoming, "words").items()) {
    if (!entry.is_object()) continue;
    const auto it = words->find(word);
    if (it == words->end() || !it->is_object())
      (*words)[word] = entry;
    else
      *it = mergedWordEntry(std::move(*it), entry);
  }

  for (auto it = words->begin(); it != words->end();) {
    const Json* tombstone = member(*tombstones, it.key());
    if (tombstone != nullptr) {
      const std::uint64_t deleted = storedUInt64(tombstone);
      const std::uint64_t seen =
          std::max(storedUInt64(member(*it, "last_used")), storedUInt64(member(*it, "last_decay")));
      if (deleted == kForever || deleted >= seen) {
        it = words->erase(it);
        continue;
      }
    }
    ++it;
  }

  current["words"] = std::move(*words);
  current["tombstones"] = std::move(*tombstones);
  return current;
}

void dropWordsTheEngineDrops(Json& dictionary, std::uint64_t now) {
  if (!dictionary.is_object()) return;
  const auto found = dictionary.find("words");
  if (found == dictionary.end() || !found->is_object()) return;
  Json& words = *found;
  const auto lastUse = [now](const Json& entry) {
    const std::uint64_t used = storedUInt64(member(entry, "last_used"));
    return used == 0 ? now : used;
  };
  const auto frequency = [](const Json& entry) {
    return std::min(storedUInt64(member(entry, "frequency")), kMaxStoredFrequency);
  };
  for (auto it = words.begin(); it != words.end();) {
    const std::uint64_t active = std::max(lastUse(*it), storedUInt64(member(*it, "last_decay")));
    if (frequency(*it) < 3 && now > active && now - active > kIdleSeconds)
      it = words.erase(it);
    else
      ++it;
  }
  if (words.size() <= kWordCap) return;
  std::vector<std::pair<std::uint64_t, std::string>> ranked;
  ranked.reserve(words.size());
  for (const auto& [word, entry] : words.items())
    ranked.emplace_back(lastUse(entry) / 3'600 + 100 * frequency(entry), word);
  // Objects iterate in byte order, which the stable sort keeps among equal ranks.
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < ranked.size() - kWordsKept; ++i) words.erase(ranked[i].second);
}

std::optional<Json> mergedStore(std::string_view storeKey, Json current, const Json& incoming) {
  if (!current.is_object()) return std::nullopt;
  if (storeKey == "dictionary") return mergedDictionary(std::move(current), incoming);
  if (storeKey == "selection_memory") return mergedSelections(std::move(current), incoming);
  if (storeKey == "bigrams")
    return mergedNested(std::move(current), incoming, "pairs", mergedBigramEntry);
  if (storeKey == "trigrams") return mergedNested(std::move(current), incoming, "triples", larger);
  if (storeKey == "rejections")
    return mergedNested(std::move(current), incoming, "entries", larger);
  if (storeKey == "english_pairs")
    return mergedNested(std::move(current), incoming, "pairs", larger);
  return std::nullopt;
}

}  // namespace tolvani::BackupMerge
