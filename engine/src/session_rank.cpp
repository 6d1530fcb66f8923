// Candidate ranking: the ordered candidate list for the raw buffer, recomputed on every keystroke.
#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "english.h"
#include "lexicon.h"
#include "normalize.h"
#include "session.h"
#include "spell.h"
#include "spelling_preferences.h"
#include "suffix.h"
#include "utf8.h"

namespace tolvani::engine {

namespace {

constexpr int32_t kPreeditScore = 10000;
constexpr int32_t kRenderedScore = 9500;
constexpr int32_t kChatReadingScore = 9450;
constexpr int32_t kStandardScore = 9400;
constexpr int32_t kLatinScore = 9000;
constexpr int32_t kNegationScore = 7000;
constexpr int32_t kRememberedBonus = 15000;
constexpr size_t kMaxQueriedChars = 20;
constexpr size_t kNearMissIds = 2000;
constexpr size_t kNearMissCollected = 20;
constexpr size_t kNearMissKept = 5;
constexpr size_t kSuffixForms = 3;

// Scores may carry penalties read from a store file, which can be any signed 32-bit value: add
// with saturation so that an extreme one cannot wrap around.
int32_t saturating_add(int32_t a, int64_t b) {
  return static_cast<int32_t>(std::clamp<int64_t>(
      int64_t{a} + b, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The normal form, except that a joiner typed after "ত্" stays (the form would make it "ৎ"):
// Unijoy types khanda ta on a key of its own and keeps the joiner as typed.
std::string normalize_keeping_ta_joiner(std::string_view raw) {
  constexpr std::string_view kTaVirama = "\u09A4\u09CD";
  constexpr std::string_view kJoiner = "\u200D";
  std::string out;
  size_t from = 0;
  // The joiner, a starter that composes with nothing, splits the normalisation cleanly.
  for (size_t at = raw.find("\u09A4\u09CD\u200D"); at != std::string_view::npos;
       at = raw.find("\u09A4\u09CD\u200D", from)) {
    out += normalize_bengali(raw.substr(from, at + kTaVirama.size() - from));
    out += kJoiner;
    from = at + kTaVirama.size() + kJoiner.size();
  }
  out += normalize_bengali(raw.substr(from));
  return out;
}

void sort_by_score(std::vector<Candidate>& list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
}

void remove_text(std::vector<Candidate>& list, std::string_view text) {
  std::erase_if(list, [&](const Candidate& c) { return c.text == text; });
}

}  // namespace

int32_t context_bonus(uint64_t n, float scale, int32_t cap) {
  const float ln = std::log(static_cast<float>(n));
  const auto bonus = static_cast<int32_t>(std::max(ln, 1.0f) * scale);
  return std::min(std::max(bonus, static_cast<int32_t>(scale)), cap);
}

CompositionState EngineSession::recompute() {
  rendered_ = mode_ == KeyboardMode::kPhonetic ? render_phonetic(raw_)
              : mode_ == KeyboardMode::kUnijoy ? normalize_keeping_ta_joiner(raw_)
                                               : normalize_bengali(raw_);
  const std::string preedit = display_preedit();
  // The preedit goes to the application first; the ranking, the bulk of a key's work, can follow.
  if (in_key_event_ && config_.defer_ranking && !raw_.empty()) {
    candidates_.clear();
    ranking_pending_ = true;
    pending_preedit_ = preedit;
    return state_with_preview(preedit, kStatusRankingPending);
  }
  return ranked_state(preedit);
}

std::optional<CompositionState> EngineSession::rank() {
  if (!ranking_pending_) return std::nullopt;
  take_loaded_stores();
  const std::string preedit = std::move(pending_preedit_);
  return ranked_state(preedit);
}

CompositionState EngineSession::ranked_state(const std::string& preedit) {
  ranking_pending_ = false;
  pending_preedit_.clear();
  const bool phonetic = mode_ == KeyboardMode::kPhonetic;
  const size_t raw_chars = utf8::scalar_count(raw_);
  const size_t count = config_.suggestion_count;
  const bool ready = blocking_caches_ || suggestions_ready();

  // Lexicon candidates, then the fuzzy phonetic ones that are new.
  std::vector<Candidate> list;
  if (ready && config_.suggestions_enabled && raw_chars <= kMaxQueriedChars) {
    list = lexicon_suggestions();
    if (phonetic && raw_chars >= 3) {
      std::unordered_set<std::string> before;
      for (const Candidate& c : list) before.insert(c.text);
      for (Candidate& c : fuzzy_suggestions()) {
        if (list.size() >= 3 * count) break;
        if (!before.contains(c.text)) list.push_back(std::move(c));
      }
    }
  }

  // What the user has passed over for this input before.
  if (!raw_.empty()) {
    for (Candidate& c : list)
      c.score = saturating_add(c.score, -int64_t{rejection_penalty(raw_, c.text)});
  }

  // What follows the words just committed.
  if (!last_word_.empty() && !list.empty()) {
    for (Candidate& c : list) {
      int32_t bonus = 0;
      if (const auto n = learned_pair_frequency(last_word_, c.text)) {
        bonus += context_bonus(*n, 150.0f, 800);
      } else if (const auto seen = seed_pair_count(last_word_, c.text)) {
        bonus += context_bonus(*seen, 200.0f, 600);
      }
      if (!previous_word_.empty()) {
        if (const auto n = learned_triple_count(previous_word_, last_word_, c.text)) {
          bonus += context_bonus(*n, 300.0f, 1000);
        }
      }
      c.score = saturating_add(c.score, bonus);
    }
    sort_by_score(list);
  }

  const bool known = lexicon_contains_with_cache_policy(rendered_, blocking_caches_) ||
                     stores().user_dictionary.contains(rendered_);

  // Nothing from the lexicon for a Bangla buffer (or one with digits or marks): a known stem with
  // a suffix, else the nearest words.
  if (ready && list.empty() && !known &&
      !std::all_of(raw_.begin(), raw_.end(), utf8::is_ascii_letter)) {
    list = known_stem_forms();
    if (list.empty()) {
      list = near_misses();
      if (list.size() > count) list.resize(count);
    }
  }

  // Letters that spell one word literally and another by chat convention offer both.
  if (phonetic && ready && config_.suggestions_enabled) {
    std::vector<std::string> offered;
    for (const std::string& chat : chat_readings(raw_)) {
      offered.push_back(chat);
      // A colloquial form brings its standard one, often what was meant ("khaiso": খেয়েছো).
      if (const auto standard = spelling::standard_form(chat, true)) {
        offered.emplace_back(*standard);
      }
    }
    for (auto it = offered.rbegin(); it != offered.rend(); ++it) {
      remove_text(list, *it);
      list.insert(list.begin(), {*it, kChatReadingScore, CandidateKind::kExact});
    }
  }

  if (phonetic && !rendered_.empty()) {
    if (const auto remembered = remembered_selection(raw_)) {
      const auto it = std::find_if(list.begin(), list.end(),
                                   [&](const Candidate& c) { return c.text == remembered->first; });
      if (it != list.end()) it->score = saturating_add(it->score, kRememberedBonus);
      if (list.size() >= 2) sort_by_score(list);
    }
    remove_text(list, rendered_);
    remove_text(list, preedit);
    if (preedit != rendered_) {
      list.insert(list.begin(), {rendered_, kRenderedScore, CandidateKind::kPhonetic});
    }
    list.insert(list.begin(), {preedit, kPreeditScore, CandidateKind::kExact});
  }

  const std::string lowered = utf8::ascii_lower(raw_);
  const bool all_letters = std::all_of(raw_.begin(), raw_.end(), utf8::is_ascii_letter);
  if (phonetic && raw_chars >= 2 && all_letters) {
    // The typed Latin word itself, for English and names.
    const bool echoed = preedit == raw_;
    remove_text(list, raw_);
    remove_text(list, lowered);
    std::string text = echoed || is_abbreviation(raw_) ? raw_ : lowered;
    const size_t place = echoed || list.empty() ? 0 : 1;
    list.insert(list.begin() + static_cast<ptrdiff_t>(place),
                {std::move(text), kLatinScore, CandidateKind::kExact});
  }

  if (phonetic && lowered.size() >= 6 && all_letters &&
      (lowered.ends_with("na") || lowered.ends_with("ni")) && lowered.size() - 2 >= 4 &&
      !best_exact_entry(lowered)) {
    if (const auto split = negation_split(lowered)) {
      const std::string texts[2] = {split->first + " " + split->second,
                                    split->first + split->second};
      for (int i = 0; i < 2; ++i) {
        const bool present = std::any_of(list.begin(), list.end(),
                                         [&](const Candidate& c) { return c.text == texts[i]; });
        if (present) continue;
        const size_t place = std::min(list.size(), static_cast<size_t>(i) + 1);
        list.insert(list.begin() + static_cast<ptrdiff_t>(place),
                    {texts[i], kNegationScore - 10 * i, CandidateKind::kPhonetic});
      }
    }
  }

  // A visarga nobody typed is an artefact of the lexicon's keys.
  if (phonetic && raw_.find(':') == std::string::npos) {
    std::erase_if(
        list, [&](const Candidate& c) { return c.text.ends_with("\u0983") && c.text != preedit; });
  }

  if (const std::optional<std::string> standard = spelling_offer_for(preedit)) {
    remove_text(list, *standard);
    const auto at = std::find_if(list.begin(), list.end(),
                                 [&](const Candidate& c) { return c.text == preedit; });
    const auto place = at == list.end() ? list.begin() : at + 1;
    list.insert(place, {*standard, kStandardScore, CandidateKind::kStandard});
  }

  if (!config_.suggestions_enabled) list.clear();
  if (list.size() > count) list.resize(count);
  candidates_ = std::move(list);
  const bool show = !candidates_.empty() || known;
  return state_with_preview(preedit, show ? kStatusShowCandidates : 0);
}

std::vector<Candidate> EngineSession::known_stem_forms() const {
  std::vector<Candidate> forms;
  const size_t n = utf8::scalar_count(rendered_);
  if (n < 3) return forms;
  for (auto table : {verb_suffixes(), noun_suffixes()}) {
    for (std::string_view suffix : table) {
      if (forms.size() >= kSuffixForms) break;
      if (utf8::scalar_count(suffix) >= n || !rendered_.ends_with(suffix)) continue;
      const std::string_view stem =
          std::string_view(rendered_).substr(0, rendered_.size() - suffix.size());
      if (utf8::scalar_count(stem) < 2) continue;
      if (!lexicon_map().contains(stem) && !stores().user_dictionary.contains(stem)) continue;
      std::string form = join_stem_and_suffix(stem, suffix);
      const bool seen = std::any_of(forms.begin(), forms.end(),
                                    [&](const Candidate& c) { return c.text == form; });
      if (seen) continue;
      forms.push_back(
          {std::move(form),
           saturating_add(static_cast<int32_t>(stores().user_dictionary.boost_for(stem)), 1800),
           CandidateKind::kExact});
    }
  }
  sort_by_score(forms);
  if (forms.size() > kSuffixForms) forms.resize(kSuffixForms);
  return forms;
}

std::vector<Candidate> EngineSession::near_misses() const {
  std::vector<Candidate> found;
  if (rendered_.empty()) return found;
  const size_t n = utf8::scalar_count(rendered_);
  const auto ids = bengali_fuzzy_indices(rendered_);
  for (size_t i = 0; i < ids.size() && i < kNearMissIds && found.size() < kNearMissCollected; ++i) {
    const LexiconEntry e = lexicon_entry(ids[i]);
    const size_t m = utf8::scalar_count(e.bangla);
    if ((m > n ? m - n : n - m) > 2) continue;
    const uint32_t d = bounded_edit_distance(rendered_, e.bangla);
    if (d >= 3) continue;
    // A word stands under several keys; it is offered once.
    const bool listed = std::any_of(found.begin(), found.end(),
                                    [&](const Candidate& c) { return c.text == e.bangla; });
    if (listed) continue;
    const bool user = stores().user_dictionary.contains(e.bangla);
    const int64_t score = int64_t{e.frequency} - 100 * int64_t{d} +
                          stores().user_dictionary.boost_for(e.bangla) + 500;
    found.push_back({std::string(e.bangla), saturating_add(0, score),
                     user ? CandidateKind::kUser : CandidateKind::kPrefix});
  }
  sort_by_score(found);
  if (found.size() > kNearMissKept) found.resize(kNearMissKept);
  return found;
}

}  // namespace tolvani::engine
