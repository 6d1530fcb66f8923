// Ending a composition: commits with a suffix (with the typed English, the word-by-word dictionary
// reading or an autocorrection), candidate selection, cancellation, and the learning every commit
// feeds.
#include <algorithm>
#include <array>
#include <limits>

#include "bigram.h"
#include "english.h"
#include "lexicon.h"
#include "phonetic.h"
#include "phonetic_suggest.h"
#include "session.h"
#include "spell.h"
#include "spelling_preferences.h"
#include "suggest.h"
#include "utf8.h"

namespace tolvani::engine {

namespace {

// Words that may follow digits: "12টা", "3য়".
constexpr std::array<std::string_view, 16> kParticlesAfterDigits = {
    "টি", "টির", "টিতে", "টা", "টার", "টায়", "টাকা", "য়",
    "ম",  "র্থ",  "শে",   "লা", "রা",  "ঠা",  "ই",    "তম"};

// Verb endings that a typed "na"/"ni" negates as a separate word.
constexpr std::array<std::string_view, 14> kNegatedVerbEndings = {
    "ছি", "ছে", "ছো", "ছেন", "ছিস", "ছিল", "বে", "বো", "বেন", "লাম", "লেন", "তাম", "তেন", "ইনি"};

// English words that are also phonetic keys and still read as English on their own.
constexpr std::array<std::string_view, 8> kEnglishAlsoKeys = {"are", "can", "in",   "is",
                                                              "it",  "the", "this", "you"};

constexpr std::string_view kO = "\u09CB";  // ো

// Chat readings are sought in words of at most kMaxChatWord letters, with at most kMaxChatS of
// them read otherwise.
constexpr size_t kMaxChatWord = 24;
constexpr size_t kMaxChatS = 3;
// Colloquial verb endings typed with "s" for ছ, longest first: the continuous (-তেছি, -তেছিলাম)
// and the perfect after ই (-ইছি, -ইছো).
constexpr std::array<std::string_view, 16> kChatVerbEndings = {
    "tesilam", "tesila", "tesilo", "tesile", "tesis", "tesen", "tesi", "teso",
    "tese",    "isilam", "isila",  "isen",   "isis",  "isi",   "iso",  "ise"};
// Without context the chat reading replaces a literal word used less often than this, or one it
// outnumbers this many times.
constexpr uint64_t kRareLiteral = 100;
constexpr uint64_t kChatMargin = 3;
// With context a reading replaces the one held when the words just committed were followed by it
// at least kContextMinimum times and kContextMargin times as often as by the one held. A learned
// triple counts as kTripleWeight pairs.
constexpr uint64_t kContextMinimum = 1;
constexpr uint64_t kContextMargin = 2;
constexpr uint64_t kTripleWeight = 2;
constexpr std::string_view kStandardKeyPrefix = "#standard:";

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool all_ascii_letters(std::string_view s) {
  return std::all_of(s.begin(), s.end(), utf8::is_ascii_letter);
}

bool has_non_ascii(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

template <size_t N>
bool is_one_of(std::string_view s, const std::array<std::string_view, N>& list) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

// Multiplication that stops at the largest signed 32-bit value.
uint64_t saturating_times(uint32_t value, uint32_t factor) {
  return std::min<uint64_t>(uint64_t{value} * factor, std::numeric_limits<int32_t>::max());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Commit with a suffix

CompositionState EngineSession::commit_with_suffix_with_options(std::string_view suffix,
                                                                bool predictions) {
  // What is committed is learned, so it is chosen as the user's stores choose it (their words,
  // remembered choices and passed-over candidates), once they are in.
  if (config_.learning_enabled && !raw_.empty()) (void)stores_for_learning();
  std::string text;
  uint32_t extra = 0;
  if (std::optional<Reading> reading = space_reading()) {
    text = std::move(reading->text);
    extra = reading->status_bit;
  } else if (std::optional<std::string> corrected = commit_autocorrection()) {
    text = std::move(*corrected);
    extra = kStatusAutocorrected;
  } else {
    text = rendered_;
  }
  std::string full = with_spelling_preference(std::move(text));
  full += suffix;
  const std::string trimmed(utf8::trim_white_space(full));
  for (std::string_view token : utf8::split_white_space(trimmed)) {
    note_committed_token(token, false);
  }

  CompositionState state;
  std::optional<std::string> offer;
  if (suffix.empty() || suffix == " ") offer = spelling_offer_for(trimmed);
  if (suffix == " " && predictions) state.predictions = next_word_predictions();
  reset();
  if (offer) pending_offer_ = SpellingOffer{*offer, trimmed};

  if (!state.predictions.empty()) state.ghost_text = state.predictions.front();
  if (offer) {
    state.spelling_offer = *offer;
    state.spelling_offer_for = trimmed;
  }
  state.commit_text = std::move(full);
  state.status_flags = kStatusCommitted | extra;
  return state;
}

bool EngineSession::autocorrection_due() const {
  return config_.autocorrect && mode_ == KeyboardMode::kPhonetic &&
         !phonetic::has_explicit_case(raw_) && utf8::scalar_count(rendered_) >= 3 &&
         !lexicon_contains_with_cache_policy(rendered_, blocking_caches_) &&
         !stores().user_dictionary.contains(rendered_);
}

std::optional<std::string> EngineSession::commit_autocorrection() const {
  if (!autocorrection_due()) return std::nullopt;
  const std::string folded = cosmetic_fold(rendered_);
  std::vector<Candidate> fresh;
  const std::vector<Candidate>* pool = &candidates_;
  // A fresh list only when it cannot mean waiting for a table another thread is building.
  if (candidates_.empty() && !raw_.empty() && (blocking_caches_ || suggestions_ready())) {
    fresh = fresh_suggestions();
    pool = &fresh;
  }
  const Candidate* winner = nullptr;
  for (const Candidate& c : *pool) {
    if (c.text == rendered_ || !lexicon_contains_with_cache_policy(c.text, blocking_caches_) ||
        cosmetic_fold(c.text) != folded) {
      continue;
    }
    // Among equal scores the later candidate wins.
    if (winner == nullptr || c.score >= winner->score) winner = &c;
  }
  if (winner == nullptr) return std::nullopt;
  return winner->text;
}

// ---------------------------------------------------------------------------------------------
// Readings

std::optional<EngineSession::Reading> EngineSession::space_reading() const {
  if (mode_ != KeyboardMode::kPhonetic) return std::nullopt;
  const auto spans = word_spans(raw_);

  if (config_.english_passthrough && !spans.empty()) {
    const bool english_context = !last_word_.empty() && all_ascii_letters(last_word_);
    bool english = true;
    for (size_t i = 0; i < spans.size() && english; ++i) {
      const auto [start, end] = spans[i];
      const std::string_view word = std::string_view(raw_).substr(start, end - start);
      const std::string lowered = utf8::ascii_lower(utf8::trim_white_space(word));
      const bool common = is_common_english_word(lowered);
      const bool context = i > 0 || english_context;
      const auto remembered = remembered_selection(word);
      english = !(start > 0 && is_ascii_digit(raw_[start - 1])) &&
                utf8::scalar_count(lowered) >= 2 && all_ascii_letters(lowered) &&
                (is_abbreviation(word) || common) &&
                !(phonetic::has_explicit_case(word) && !all_ascii_letters(word)) &&
                !(remembered && remembered->second >= 2) &&
                !(has_exact_phonetic_with_cache_policy(word, blocking_caches_) &&
                  !is_one_of(lowered, kEnglishAlsoKeys) && !context) &&
                !(!common && suggest::autocorrect_for_with_cache_policy(lowered, blocking_caches_));
    }
    if (english) return Reading{raw_, 0};
  }

  if (spans.size() == 1 && spans.front().first == 0 && spans.front().second == raw_.size()) {
    std::optional<std::string> d =
        reading_with_chat(raw_, rendered_, dictionary_commit_for(raw_, rendered_));
    if (!d) return std::nullopt;
    return Reading{std::move(*d), kStatusReread};
  }
  std::string out;
  bool changed = false;
  size_t cursor = 0;
  for (size_t i = 0; i < spans.size(); ++i) {
    const auto [start, end] = spans[i];
    out += render_whole(std::string_view(raw_).substr(cursor, start - cursor));
    const std::string r = render_word_in_context(raw_, start, end, false);
    const bool after_digits = start > 0 && is_ascii_digit(raw_[start - 1]);
    const std::string_view word = std::string_view(raw_).substr(start, end - start);
    if (i + 1 < spans.size()) {
      if (std::optional<std::string> x = reading_for_word(word, r, after_digits)) {
        out += *x;
        changed = true;
      } else {
        out += r;
      }
      cursor = end;
    } else {
      const std::string l = render_word_in_context(raw_, start, raw_.size(), true);
      std::optional<std::string> x;
      if (l.starts_with(r) && (x = reading_for_word(word, r, after_digits))) {
        out += *x;
        out += std::string_view(l).substr(r.size());
        changed = true;
      } else {
        out += l;
      }
      cursor = raw_.size();
    }
  }
  out += render_whole(std::string_view(raw_).substr(cursor));
  if (!changed) return std::nullopt;
  return Reading{std::move(out), kStatusReread};
}

std::optional<std::string> EngineSession::reading_for_word(std::string_view word,
                                                           std::string_view rendering,
                                                           bool after_digits) const {
  if (word.size() + rendering.size() > 2 * kMemoPiece) {
    return reading_for_word_uncached(word, rendering, after_digits);
  }
  std::string key(word);
  key += '\0';
  key += rendering;
  key += after_digits ? '1' : '0';
  if (const auto it = reading_memo_.find(key); it != reading_memo_.end()) return it->second;
  std::optional<std::string> reading = reading_for_word_uncached(word, rendering, after_digits);
  if (reading_memo_.size() >= kMemoEntries) reading_memo_.clear();
  reading_memo_.emplace(std::move(key), reading);
  return reading;
}

std::optional<std::string> EngineSession::reading_for_word_uncached(std::string_view word,
                                                                    std::string_view rendering,
                                                                    bool after_digits) const {
  std::optional<std::string> d = dictionary_commit_for(word, rendering);
  if (!after_digits || (d && is_one_of(*d, kParticlesAfterDigits))) return d;
  // After digits a particle the key spells wins over a commoner word of the same key ("12ta":
  // টা, not তা); else only a reading of what is no word at all is taken.
  if (all_ascii_letters(word) && !phonetic::has_explicit_case(word)) {
    const IdRange run = exact_key_range(utf8::ascii_lower(word));
    for (uint32_t id = run.start; id < run.end; ++id) {  // most frequent first
      const std::string_view w = lexicon_entry(id).bangla;
      if (!is_one_of(w, kParticlesAfterDigits)) continue;
      if (w == rendering) return std::nullopt;
      return std::string(w);
    }
  }
  if (!d) return d;
  const bool rendering_known =
      frequency_for(rendering) > 0 || stores().user_dictionary.contains(rendering);
  if (!rendering_known) return d;
  return std::nullopt;
}

std::optional<std::string> EngineSession::dictionary_commit_for(std::string_view key,
                                                                std::string_view rendering) const {
  if (!all_ascii_letters(key)) return std::nullopt;
  if (const auto remembered = remembered_selection(key); remembered && remembered->second >= 2) {
    return remembered->first;
  }
  if (phonetic::has_explicit_case(key)) return std::nullopt;
  const std::string k = utf8::ascii_lower(key);
  const bool has_override = phonetic::word_override(k).has_value();
  if (k.size() < 2) return std::nullopt;

  // A final "o" typed for the vowel sign ো: "bhalo" means ভালো when the lexicon says so.
  if (k.ends_with('o')) {
    if (rendering.ends_with(kO)) {
      if (frequency_for(rendering) > 0) return std::nullopt;
    } else if (!has_override) {
      std::string with_o(rendering);
      with_o += kO;
      if (has_exact_entry_for(k, with_o)) {
        const std::optional<uint32_t> fr = lexicon_frequency(rendering);
        if (!fr || *fr == 0 || saturating_times(frequency_for(with_o), 8) >= *fr) return with_o;
      }
    }
  }

  const auto best = best_exact_entry(k);
  if (!best) {
    if (auto split = negation_split(k)) return split->first + " " + split->second;
    return std::nullopt;
  }
  if (best->first == rendering) return std::nullopt;
  if (rejection_penalty(k, best->first) >= 200) return std::nullopt;
  uint32_t base = frequency_for(rendering);
  if (stores().user_dictionary.contains(rendering) && base < 50) base = 50;
  if (base > 0 && static_cast<uint64_t>(std::max(best->second, 0)) < saturating_times(base, 3)) {
    return std::nullopt;
  }
  return std::string(best->first);
}

std::vector<std::string> EngineSession::chat_readings(std::string_view key) const {
  std::vector<std::string> out;
  if (mode_ != KeyboardMode::kPhonetic || !all_ascii_letters(key) ||
      phonetic::has_explicit_case(key)) {
    return out;
  }
  if (key.size() > kMaxChatWord) return out;
  const std::string k = utf8::ascii_lower(key);
  // An "s" that is not part of "sh" may stand for ছ, and a "z" for জ; a long word with many is not
  // read so.
  std::vector<size_t> at;
  for (size_t i = 0; i < k.size(); ++i) {
    const bool s = k[i] == 's' && (i + 1 == k.size() || (k[i + 1] != 'h' && k[i + 1] != 's')) &&
                   (i == 0 || k[i - 1] != 's');
    if (s || k[i] == 'z') at.push_back(i);
  }
  if (at.empty() || at.size() > kMaxChatS) return out;
  const std::string literal = render_whole(k);
  for (uint32_t mask = 1; mask < (1u << at.size()); ++mask) {
    std::string variant;
    size_t from = 0;
    for (size_t j = 0; j < at.size(); ++j) {
      variant.append(k, from, at[j] - from);
      if ((mask >> j & 1u) == 0) {
        variant += k[at[j]];
      } else {
        variant += k[at[j]] == 's' ? "ch" : "j";
      }
      from = at[j] + 1;
    }
    variant.append(k, from);
    std::string word = render_whole(variant);
    // A final "o" typed for the vowel sign ো, as for the literal reading.
    if (k.ends_with('o') && !word.ends_with(kO)) {
      std::string with_o = word + std::string(kO);
      if (frequency_for(with_o) > 0 &&
          saturating_times(frequency_for(with_o), 8) >= frequency_for(word)) {
        word = std::move(with_o);
      }
    }
    if (word == literal || std::find(out.begin(), out.end(), word) != out.end()) continue;
    if (frequency_for(word) == 0 && !stores().user_dictionary.contains(word)) continue;
    out.push_back(std::move(word));
  }
  return out;
}

std::optional<std::string> EngineSession::reading_with_chat(
    std::string_view key, std::string_view rendering, std::optional<std::string> reading) const {
  std::vector<std::string> chats = chat_readings(key);
  const std::string k = utf8::ascii_lower(key);
  const auto known = [&](std::string_view w) {
    return frequency_for(w) > 0 || stores().user_dictionary.contains(w);
  };
  if (chats.empty()) {
    // No word either way: a colloquial verb ending with "s" for ছ is spelled with ছ ("hoitesi"
    // হইতেছি), though the lexicon lacks the form.
    if (reading || known(rendering) || remembered_selection(key) ||
        mode_ != KeyboardMode::kPhonetic || !all_ascii_letters(key) ||
        phonetic::has_explicit_case(key) || k.size() > kMaxChatWord) {
      return reading;
    }
    for (std::string_view ending : kChatVerbEndings) {
      if (k.size() < ending.size() + 2 || !k.ends_with(ending)) continue;
      std::string spelled = k.substr(0, k.size() - ending.size());
      for (char c : ending) {
        if (c == 's') {
          spelled += "ch";
        } else {
          spelled += c;
        }
      }
      std::string word = render_whole(spelled);
      // The final "o" of these endings is the vowel sign ো ("ghumaiso" ঘুমাইছো).
      if (k.ends_with('o') && !word.ends_with(kO)) word += kO;
      if (word == rendering) return reading;
      return word;
    }
    return reading;
  }
  // A remembered choice stands: only it may replace the reading it left.
  if (const auto remembered = remembered_selection(key)) {
    std::erase_if(chats, [&](const std::string& w) { return w != remembered->first; });
  }
  std::erase_if(chats, [&](const std::string& w) { return rejection_penalty(k, w) >= 200; });
  if (chats.empty()) return reading;
  const std::string current = reading ? *reading : std::string(rendering);
  // The letters' own reading: the rendering, or with the final "o" read as ো.
  const bool literal = !reading || *reading == std::string(rendering) + std::string(kO);
  const uint64_t current_frequency = frequency_for(current);
  const auto likeliest =
      std::max_element(chats.begin(), chats.end(), [](const std::string& a, const std::string& b) {
        return frequency_for(a) < frequency_for(b);
      });
  const uint64_t chat_frequency = frequency_for(*likeliest);

  // Without context: the chat reading where what the letters spell is no word, a rare one, or one
  // used a third as often or less.
  std::string chosen = current;
  if (!known(current) ||
      (current_frequency < kRareLiteral && chat_frequency >= current_frequency) ||
      chat_frequency >= kChatMargin * current_frequency ||
      (!literal && kChatMargin * chat_frequency > current_frequency)) {
    chosen = *likeliest;
  }

  // With context: what this person wrote after the words just committed, else the seed pairs.
  if (!committed_last_.empty()) {
    std::vector<std::string> options = chats;
    for (const std::string& w : {current, std::string(rendering)}) {
      if (known(w) && std::find(options.begin(), options.end(), w) == options.end()) {
        options.push_back(w);
      }
    }
    const auto learned = [&](const std::string& w) -> uint64_t {
      uint64_t n = learned_pair_frequency(committed_last_, w).value_or(0);
      if (!committed_previous_.empty()) {
        n += kTripleWeight *
             learned_triple_count(committed_previous_, committed_last_, w).value_or(0);
      }
      return n;
    };
    const auto seeded = [&](const std::string& w) -> uint64_t {
      return seed_pair_count(committed_last_, w).value_or(0);
    };
    const bool any_learned =
        std::any_of(options.begin(), options.end(), [&](const auto& w) { return learned(w) > 0; });
    const auto evidence = [&](const std::string& w) {
      return any_learned ? learned(w) : seeded(w);
    };
    const auto best = std::max_element(
        options.begin(), options.end(),
        [&](const std::string& a, const std::string& b) { return evidence(a) < evidence(b); });
    const uint64_t e = evidence(*best);
    if (*best != chosen && e >= kContextMinimum && e >= kContextMargin * evidence(chosen)) {
      chosen = *best;
    }
  }
  if (chosen == rendering) return std::nullopt;
  return chosen;
}

std::optional<std::pair<std::string, std::string>> EngineSession::negation_split(
    std::string_view key) const {
  if (!key.ends_with("na") && !key.ends_with("ni")) return std::nullopt;
  const std::string_view stem = key.substr(0, key.size() - 2);
  if (stem.size() < 4) return std::nullopt;
  const auto best = best_exact_entry(stem);
  if (!best) return std::nullopt;
  const bool negatable = std::any_of(kNegatedVerbEndings.begin(), kNegatedVerbEndings.end(),
                                     [&](std::string_view e) { return best->first.ends_with(e); });
  if (!negatable) return std::nullopt;
  return std::make_pair(std::string(best->first), std::string(key.ends_with("ni") ? "নি" : "না"));
}

// ---------------------------------------------------------------------------------------------
// Tab, selection, escape

CompositionState EngineSession::commit_top_candidate() {
  if (candidates_.empty()) return commit_with_suffix_with_options("", true);
  return select_candidate_with_intent(0, false);
}

CompositionState EngineSession::select_candidate_with_intent(size_t index, bool explicit_choice) {
  resolve_spelling_offer();
  if (index >= candidates_.size()) return state_with_preview(display_preedit(), 0);
  const Candidate chosen = candidates_[index];
  const bool standard_listed =
      std::any_of(candidates_.begin(), candidates_.end(),
                  [](const Candidate& c) { return c.kind == CandidateKind::kStandard; });
  if (config_.learning_enabled && !raw_.empty()) {
    // The candidates passed over for the chosen one.
    for (size_t i = 0; i < index; ++i) learn_rejection(raw_, candidates_[i].text);
    if (explicit_choice) learn_selection(raw_, chosen.text);
  }
  for (std::string_view token : utf8::split_white_space(chosen.text)) {
    note_committed_token(token, explicit_choice);
  }
  if (!config_.learning_enabled) empty_prediction_context();
  const std::optional<std::string> offer = spelling_offer_for(chosen.text);
  clear_composition();
  if (offer) {
    if (!explicit_choice || !standard_listed) {
      pending_offer_ = SpellingOffer{*offer, chosen.text};
    } else if (config_.learning_enabled) {
      // The standard form was listed and passed over on purpose: do not offer it again.
      learn_rejection(std::string(kStandardKeyPrefix) + chosen.text, *offer);
    }
  }
  CompositionState state = next_word_prediction_state();
  state.commit_text = chosen.text;
  state.status_flags = kStatusCommitted;
  return state;
}

CompositionState EngineSession::select_candidate_matching(std::string_view raw,
                                                          std::string_view text) {
  if (!raw.empty() && raw == raw_) {
    for (size_t i = 0; i < candidates_.size(); ++i) {
      if (candidates_[i].text == text) return select_candidate_with_intent(i, true);
    }
  }
  return state_with_preview(display_preedit(), 0);
}

CompositionState EngineSession::cancel() {
  CompositionState state;
  if (config_.english_passthrough && mode_ == KeyboardMode::kPhonetic) state.commit_text = raw_;
  reset();
  state.status_flags = kStatusCancelled;
  return state;
}

// ---------------------------------------------------------------------------------------------
// Learning from commits

void EngineSession::note_committed_token(std::string_view token, bool explicit_choice) {
  learn_token(token, false, explicit_choice);
}

void EngineSession::note_external_commit(std::string_view text) {
  if (pending_offer_ && pending_offer_->committed == utf8::trim_white_space(text)) {
    pending_offer_.reset();
  }
  resolve_spelling_offer();
  // A text of several words leaves the context as their commit would: its last two words.
  const auto [before, last] = last_two_words(text);
  if (!before.empty() || (last.empty() && !utf8::trim_white_space(text).empty())) {
    committed_previous_.clear();
    committed_last_ = std::string(before);
  }
  if ((!before.empty() || (last.empty() && !utf8::trim_white_space(text).empty())) &&
      config_.learning_enabled) {
    empty_prediction_context();
    last_word_ = std::string(before);
  }
  learn_token(last, true, false);
}

void EngineSession::learn_token(std::string_view token, bool add_when_known, bool explicit_choice) {
  token = utf8::trim_white_space(token);
  if (token.empty()) return;
  committed_previous_ = std::exchange(committed_last_, std::string(token));
  if (!config_.learning_enabled) {
    empty_prediction_context();
    return;
  }
  const bool in_lexicon = lexicon_contains_with_cache_policy(token, blocking_caches_);
  // Asked only where the answer decides what is learned, since the user's words may still load.
  const auto known = [&] {
    return in_lexicon || stores_for_learning().user_dictionary.contains(token);
  };
  if (!last_word_.empty() && known()) {
    learn_pair(last_word_, token);
    if (!previous_word_.empty()) learn_triple(previous_word_, last_word_, token);
  }
  // Latin tokens are never learned as words; text the host inserted is learned when known.
  if (add_when_known ? known() : (has_non_ascii(token) && (explicit_choice || known()))) {
    learn_word(token);
  }
  previous_word_ = std::move(last_word_);
  last_word_ = std::string(token);
}

// ---------------------------------------------------------------------------------------------
// The learned stores

void EngineSession::learn_word(std::string_view word) {
  forget_readings();
  change_stores([word = std::string(word)](LearnedStores& s) { s.user_dictionary.add(word); });
}

void EngineSession::learn_pair(std::string_view first, std::string_view second) {
  change_stores([first = std::string(first), second = std::string(second)](LearnedStores& s) {
    s.bigrams.record(first, second);
  });
}

void EngineSession::learn_triple(std::string_view first, std::string_view second,
                                 std::string_view third) {
  change_stores(
      [first = std::string(first), second = std::string(second),
       third = std::string(third)](LearnedStores& s) { s.trigrams.record(first, second, third); });
}

void EngineSession::learn_rejection(std::string_view raw_key, std::string_view text) {
  forget_readings();
  change_stores([raw_key = std::string(raw_key), text = std::string(text)](LearnedStores& s) {
    s.rejections.record_rejection(raw_key, text);
  });
}

void EngineSession::learn_selection(std::string_view raw, std::string_view text) {
  forget_readings();
  change_stores([raw = std::string(raw), text = std::string(text)](LearnedStores& s) {
    s.selections.remember(raw, text);
  });
}

std::optional<std::pair<std::string, uint32_t>> EngineSession::remembered_selection(
    std::string_view raw) const {
  const SelectionEntry* entry = stores().selections.get(raw);
  if (entry == nullptr) return std::nullopt;
  return std::make_pair(entry->text, entry->count);
}

int32_t EngineSession::rejection_penalty(std::string_view raw_key, std::string_view text) const {
  return stores().rejections.penalty_for(raw_key, text);
}

std::optional<std::string> EngineSession::spelling_offer_for(std::string_view committed) const {
  return spelling::spelling_offer_for(committed, config_.suggestions_enabled,
                                      config_.offer_spoken_standard,
                                      [this](std::string_view key, std::string_view offer) {
                                        return rejection_penalty(key, offer);
                                      });
}

std::vector<Candidate> EngineSession::fresh_suggestions() const {
  return suggest::suggestions_for(static_cast<uint8_t>(KeyboardMode::kPhonetic), raw_, rendered_,
                                  stores().user_dictionary, config_.suggestion_count, true);
}

std::vector<Candidate> EngineSession::lexicon_suggestions() const {
  return suggest::suggestions_for(static_cast<uint8_t>(mode_), raw_, rendered_,
                                  stores().user_dictionary, config_.suggestion_count,
                                  config_.autocorrect);
}

std::vector<Candidate> EngineSession::fuzzy_suggestions() const {
  return phonetic_suggest::fuzzy_phonetic_lookup(raw_, stores().user_dictionary,
                                                 config_.suggestion_count);
}

std::optional<uint64_t> EngineSession::learned_pair_frequency(std::string_view first,
                                                              std::string_view second) const {
  const BigramEntry* entry = stores().bigrams.find(first, second);
  if (entry == nullptr) return std::nullopt;
  return entry->frequency;
}

std::optional<uint64_t> EngineSession::learned_triple_count(std::string_view first,
                                                            std::string_view second,
                                                            std::string_view follower) const {
  const uint32_t n = stores().trigrams.count(first, second, follower);
  if (n == 0) return std::nullopt;
  return n;
}

std::optional<uint64_t> EngineSession::seed_pair_count(std::string_view first,
                                                       std::string_view second) const {
  const auto seen = bigram::seed_pair(first, second, blocking_caches_);
  if (!seen) return std::nullopt;
  return seen->count;
}

std::vector<std::string> EngineSession::learned_triple_followers(std::string_view key) const {
  std::vector<std::pair<std::string_view, uint32_t>> found;
  if (const auto it = stores().trigrams.triples().find(key);
      it != stores().trigrams.triples().end()) {
    for (const auto& [follower, count] : it->second) found.emplace_back(follower, count);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  std::vector<std::string> out;
  for (const auto& [follower, count] : found) out.emplace_back(follower);
  return out;
}

std::vector<std::string> EngineSession::learned_pair_followers(std::string_view word) const {
  std::vector<std::pair<std::string_view, BigramEntry>> found;
  if (const auto it = stores().bigrams.pairs().find(word); it != stores().bigrams.pairs().end()) {
    for (const auto& [follower, entry] : it->second) found.emplace_back(follower, entry);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    if (a.second.frequency != b.second.frequency) return a.second.frequency > b.second.frequency;
    if (a.second.last_used != b.second.last_used) return a.second.last_used > b.second.last_used;
    return a.first < b.first;
  });
  std::vector<std::string> out;
  for (const auto& [follower, entry] : found) out.emplace_back(follower);
  return out;
}

}  // namespace tolvani::engine
