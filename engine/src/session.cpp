#include "session.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <utility>

#include "bigram.h"
#include "normalize.h"
#include "phonetic.h"
#include "probhat.h"
#include "spelling_preferences.h"
#include "suggest.h"
#include "tolvani_engine.h"
#include "utf8.h"

namespace tolvani::engine {

namespace {

constexpr char32_t kNukta = 0x09BC;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

std::string encode(char32_t c) {
  std::string s;
  utf8::append(s, c);
  return s;
}

// Only the exact value "1" lets lookups skip tables that are not built yet.
bool blocking_from_environment() {
  const char* value = std::getenv("TOLVANI_NONBLOCKING_CACHES");
  return value == nullptr || std::string_view(value) != "1";
}

// `text` (trimmed) cut before its last word: (the rest, trimmed; the last word).
std::pair<std::string_view, std::string_view> split_last_word(std::string_view text) {
  text = utf8::trim_white_space(text);
  size_t start = text.size();
  while (start > 0) {
    const size_t prev = utf8::last_char_start(text.substr(0, start));
    size_t pos = prev;
    if (utf8::is_white_space(utf8::decode_next(text, pos))) break;
    start = prev;
  }
  return {utf8::trim_white_space(text.substr(0, start)), text.substr(start)};
}

// Frees `garbage` on a thread of its own (here, when none can be had): the stores a reload
// replaces hold tens of thousands of words, whose freeing would delay the key that took it in.
template <typename T>
void release_beside_keys(T garbage) {
  try {
    std::thread([garbage = std::move(garbage)]() mutable {
      run_in_background();
      { T gone = std::move(garbage); }
      give_back_free_memory();
    }).detach();
  } catch (const std::system_error&) {
  }
}

}  // namespace

std::pair<std::string_view, std::string_view> last_two_words(std::string_view text) {
  const auto [rest, last] = split_last_word(text);
  if (last.size() > kRawBufferCap) return {};
  const std::string_view before = split_last_word(rest).second;
  if (before.size() > kRawBufferCap) return {{}, last};
  return {before, last};
}

bool is_passthrough_char(char32_t c) {
  switch (c) {
    case '"':
    case '#':
    case '%':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case '/':
    case ';':
    case '<':
    case '=':
    case '>':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '_':
    case '{':
    case '|':
    case '}':
      return true;
    default:
      return false;
  }
}

std::vector<std::pair<size_t, size_t>> word_spans(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && !utf8::is_ascii_letter(text[end - 1])) --end;
  std::vector<std::pair<size_t, size_t>> spans;
  bool in_word = false;
  size_t start = 0;
  for (size_t i = 0; i < end; ++i) {
    const char b = text[i];
    bool word_byte;
    if (utf8::is_ascii_letter(b)) {
      word_byte = true;
    } else if (b == ',') {
      word_byte = in_word && ((i + 1 < end && text[i + 1] == ',') || (i > 0 && text[i - 1] == ','));
    } else if (b == ':' || b == '^' || b == '~') {
      word_byte = in_word;
    } else if (b == '`') {
      word_byte =
          i == 0 || in_word || (text[i - 1] != '.' && text[i - 1] != ':' && text[i - 1] != '^');
    } else {
      word_byte = false;
    }
    if (word_byte && !in_word) start = i;
    if (!word_byte && in_word) spans.emplace_back(start, i);
    in_word = word_byte;
  }
  if (in_word) spans.emplace_back(start, end);
  return spans;
}

size_t digit_run_start(std::string_view text, size_t pos) {
  while (pos > 0 && is_ascii_digit(text[pos - 1])) --pos;
  return pos;
}

EngineSession::EngineSession() : blocking_caches_(blocking_from_environment()) {
  // The folder is named here: the environment is not read beside the host's thread.
  const auto load = [folder = user_data_directory()] {
    LearnedStores stores = LearnedStores::load_all(folder);
    give_back_free_memory();  // what reading the files took
    return stores;
  };
  if (blocking_caches_ || !loading_stores_.start(load)) {
    // A blocking host, or no thread to spare: the load happens here.
    stores_ = load();
    // Words unused for a month fade; the pass saves in the background when it changed anything.
    stores_.user_dictionary.decay();
  }
  probhat::reload_custom_overrides();
}

void EngineSession::take_loaded_stores(StoresWait wait) {
  if (loading_stores_.running() && (wait != StoresWait::kNone || loading_stores_.done()))
    take_first_load();
  if (reloading_stores_.running() && wait != StoresWait::kFirstLoad &&
      (wait == StoresWait::kAll || reloading_stores_.done()))
    take_reload();
  if (reload_calls_ > calls_read_ && !loading_stores_.running() && !reloading_stores_.running())
    start_reload();
}

void EngineSession::take_first_load() {
  try {
    stores_ = loading_stores_.take();
  } catch (const std::exception& e) {
    // Nothing was read (the load never fails on a file): the stores stay empty, and a later save
    // merges what is on disk, so nothing is lost.
    write_diagnostic(std::string("[Tolvani] cannot load the learned stores: ") + e.what());
  }
  stores_.user_dictionary.decay();
  // What was read and ranked without the stores is read again with them.
  forget_readings();
}

void EngineSession::take_reload() {
  // A reload asked for while the files were read follows another writer's change that the
  // reading may have seen in part, or not at all. When that change was a reset (new reset_ids),
  // what the keys learned before the call, queued here, was learned before the reset (a host that
  // resets the files from another thread also asks for a reload before it writes them): learned
  // into a store read after the reset, it would be saved into the reset file. So then a reloaded
  // store is taken only when it carries the reset_id of the store the session had, and what was
  // learned before the call goes into that generation, whose saves the reset_id rule keeps out of
  // a reset file. What was learned after the call waits for the reload the call asked for, which
  // reads the files as that writer left them, and goes into those.
  const bool asked_again = reload_calls_ > calls_read_;
  try {
    StoresReload reload = reloading_stores_.take();
    reload.apply_to(
        stores_, asked_again ? StoresReload::Take::kSameResetId : StoresReload::Take::kEveryLoaded);
    release_beside_keys(std::move(reload));
  } catch (const std::exception& e) {
    // The stores stay as they were, unsaved changes and all.
    write_diagnostic(std::string("[Tolvani] cannot reload the learned stores: ") + e.what());
  }
  std::vector<QueuedChange> waiting;
  for (QueuedChange& queued : std::exchange(changes_while_reloading_, {})) {
    if (asked_again && queued.after_calls == reload_calls_) {
      waiting.push_back(std::move(queued));
    } else {
      queued.change(stores_);
    }
  }
  changes_while_reloading_ = std::move(waiting);
  forget_readings();
}

void EngineSession::start_reload() {
  calls_read_ = reload_calls_;
  // A sync that fails has counted itself and said why; its store stays as it is.
  if (reloading_stores_.start([reload = StoresReload(stores_)]() mutable {
        (void)reload.run();
        return std::move(reload);
      }))
    return;
  (void)stores_.reload();
  for (QueuedChange& queued : std::exchange(changes_while_reloading_, {})) queued.change(stores_);
}

void EngineSession::change_stores(std::function<void(LearnedStores&)> change) {
  take_loaded_stores(StoresWait::kFirstLoad);
  if (reloading_stores_.running()) {
    changes_while_reloading_.push_back({reload_calls_, std::move(change)});
    return;
  }
  change(stores_);
}

// ---------------------------------------------------------------------------------------------
// Key dispatch

bool EngineSession::key_reads_candidates(const KeyEvent& event) const {
  switch (event.kind) {
    case KeyKind::kBackspace:
      return false;  // the composition is ranked afresh
    case KeyKind::kText: {
      const char32_t c = event.codepoint;
      if (c == 0 || !utf8::is_scalar(c)) return true;
      // A key that joins the composition ranks it afresh; punctuation may commit it.
      return !layout_output(c, event.modifiers).second && is_passthrough_char(c);
    }
    case KeyKind::kSpace:
    case KeyKind::kEnter:
      // A commit reads the list only to look for an autocorrection.
      return autocorrection_due();
    default:
      return true;
  }
}

CompositionState EngineSession::handle_key_event(const KeyEvent& event) {
  take_loaded_stores();
  if (ranking_pending_ && key_reads_candidates(event)) rank();
  struct InKeyEvent {
    bool& flag;
    explicit InKeyEvent(bool& f) : flag(f) { flag = true; }
    ~InKeyEvent() { flag = false; }
  } in_key(in_key_event_);
  resolve_spelling_offer();
  const bool link_held = link_held_;
  if (event.kind != KeyKind::kText) link_held_ = false;
  switch (event.kind) {
    case KeyKind::kText:
      return handle_text_with_options(event);
    case KeyKind::kSpace:
      return commit_with_suffix_with_options(event.codepoint == 0 ? "" : " ", true);
    case KeyKind::kEnter:
      return commit_with_suffix_with_options("\n", true);
    case KeyKind::kTab:
      // After Unijoy's link key the virama stays as typed: no candidate takes its place.
      return link_held ? commit_with_suffix_with_options("", true) : commit_top_candidate();
    case KeyKind::kDownArrow:
      return state_with_preview(display_preedit(), kStatusShowCandidates);
    case KeyKind::kEscape:
      return cancel();
    case KeyKind::kBackspace:
      return handle_backspace_with_options();
  }
  return state_with_preview(display_preedit(), 0);
}

std::pair<std::string, bool> EngineSession::layout_output(char32_t c, uint32_t modifiers) const {
  if (mode_ == KeyboardMode::kPhonetic) return {encode(c), false};
  const bool shift = (modifiers & 1u) != 0 || (c >= 'A' && c <= 'Z');
  const bool alt = (modifiers & 2u) != 0;
  std::string out = mode_ == KeyboardMode::kProbhat    ? probhat::map_char(c, shift, alt)
                    : mode_ == KeyboardMode::kNational ? probhat::map_char_national(c, shift, alt)
                                                       : probhat::map_char_unijoy(c, shift, alt);
  const bool mapped = out != encode(c);
  return {std::move(out), mapped};
}

CompositionState EngineSession::commit_replacement(std::string replacement) {
  clear_composition();
  CompositionState state;
  state.commit_text = std::move(replacement);
  state.status_flags = kStatusCommitted;
  return state;
}

CompositionState EngineSession::handle_text_with_options(const KeyEvent& event) {
  const char32_t c = event.codepoint;
  const uint32_t m = event.modifiers;
  const bool link_held = std::exchange(link_held_, false);
  if (c == 0 || !utf8::is_scalar(c)) return state_with_preview(display_preedit(), 0);
  const bool mapped = layout_output(c, m).second;
  const bool passthrough = is_passthrough_char(c);

  if (raw_.empty()) {
    if (!mapped && !passthrough && suggest::could_start_emoji(c)) {
      keystroke_starts_.clear();
      utf8::append(raw_, c);
      return recompute();
    }
  } else if (suggest::could_start_emoji(*utf8::first_char(raw_))) {
    // An emoji shortcode is being typed.
    std::string s = raw_ + encode(c);
    if (auto replacement = suggest::autocorrect_for(s)) return commit_replacement(*replacement);
    if (suggest::could_be_emoji_prefix(s)) {
      raw_ = std::move(s);
      return recompute();
    }
    // Abandoned: what was typed goes through the layout after all.
    const std::string typed = std::move(raw_);
    clear_composition();
    for (size_t pos = 0; pos < typed.size();) {
      push_mode_char(utf8::decode_next(typed, pos), 0, std::exchange(link_held_, false));
    }
    // A held link key is the last of what was typed, and stays held for this key.
    push_mode_char(c, m, std::exchange(link_held_, false) || link_held);
    return recompute();
  }

  if (mapped || !passthrough) {
    if (!push_mode_char(c, m, link_held)) return state_with_preview(display_preedit(), 0);
    return recompute();
  }

  // An unmapped passthrough character.
  if (raw_.empty() && suggest::could_start_emoji(c)) {
    keystroke_starts_.clear();
    utf8::append(raw_, c);
    return recompute();
  }
  std::string s = raw_ + encode(c);
  if (auto replacement = suggest::autocorrect_for(s)) return commit_replacement(*replacement);
  if (raw_.empty()) return commit_replacement(encode(c));
  if (suggest::could_be_emoji_prefix(s)) {
    raw_ = std::move(s);
    return recompute();
  }
  return commit_with_suffix_with_options(encode(c), false);
}

bool EngineSession::push_mode_char(char32_t c, uint32_t modifiers, bool link_held) {
  link_held_ = false;
  if (mode_ == KeyboardMode::kUnijoy && link_held && (modifiers & 2u) == 0 &&
      !keystroke_starts_.empty()) {
    if (const std::string* joined = probhat::link_follower(probhat::unijoy_layout(), c)) {
      // The held key and this one become one keystroke.
      raw_.resize(std::min(keystroke_starts_.back(), raw_.size()));
      raw_ += *joined;
      return true;
    }
  }
  if (raw_.size() >= kRawBufferCap) return false;
  if (raw_.empty()) keystroke_starts_.clear();
  if (mode_ == KeyboardMode::kPhonetic) {
    utf8::append(raw_, c);
    return true;
  }
  std::string out = layout_output(c, modifiers).first;
  // A nukta belongs to the keystroke before it, so one backspace removes both.
  if (out == encode(kNukta) && !keystroke_starts_.empty()) {
    raw_ += out;
    return true;
  }
  keystroke_starts_.push_back(raw_.size());
  raw_ += out;
  link_held_ =
      mode_ == KeyboardMode::kUnijoy &&
      probhat::starts_link(probhat::unijoy_layout(), c,
                           (modifiers & 1u) != 0 || (c >= 'A' && c <= 'Z'), (modifiers & 2u) != 0);
  return true;
}

CompositionState EngineSession::handle_backspace_with_options() {
  if (raw_.empty()) {
    candidates_.clear();
    return state_with_preview(display_preedit(), 0);
  }
  if (mode_ != KeyboardMode::kPhonetic && !keystroke_starts_.empty()) {
    const size_t start = keystroke_starts_.back();
    keystroke_starts_.pop_back();
    if (start <= raw_.size()) {
      raw_.resize(start);
      return recompute();
    }
  }
  raw_.resize(utf8::last_char_start(raw_));
  return recompute();
}

// ---------------------------------------------------------------------------------------------
// Rendering

void EngineSession::forget_readings() const {
  rendering_memo_.clear();
  reading_memo_.clear();
}

std::string EngineSession::render_whole(std::string_view text) const {
  if (text.empty()) return {};
  if (text.size() > kMemoPiece) {
    return normalize_bengali(phonetic::convert_with_options(text, config_.bangla_digits));
  }
  if (const auto it = rendering_memo_.find(std::string(text)); it != rendering_memo_.end()) {
    return it->second;
  }
  std::string out = normalize_bengali(phonetic::convert_with_options(text, config_.bangla_digits));
  if (rendering_memo_.size() >= kMemoEntries) rendering_memo_.clear();
  rendering_memo_.emplace(text, out);
  return out;
}

std::string EngineSession::render_word_with_tail(std::string_view word) const {
  size_t core_end = word.size();
  while (core_end > 0 && !utf8::is_ascii_letter(word[core_end - 1])) --core_end;
  const std::string_view core = word.substr(0, core_end);
  const std::string_view tail = word.substr(core_end);
  if (core.empty() || tail.empty() || tail.find(",,") != std::string_view::npos ||
      tail.front() == '`') {
    return render_whole(word);
  }
  return render_whole(core) + render_whole(tail);
}

std::string EngineSession::render_word_in_context(std::string_view text, size_t start, size_t end,
                                                  bool with_tail) const {
  const auto render = [&](std::string_view part) {
    return with_tail ? render_word_with_tail(part) : render_whole(part);
  };
  const size_t digits = digit_run_start(text, start);
  if (digits == start) return render(text.substr(start, end - start));
  // Digits change how the word after them reads; keep only the word's share of the reading.
  const std::string p = render_whole(text.substr(digits, start - digits));
  std::string q = render(text.substr(digits, end - digits));
  if (q.starts_with(p)) return q.substr(p.size());
  return render(text.substr(start, end - start));
}

std::string EngineSession::render_phonetic(std::string_view text) const {
  const auto spans = word_spans(text);
  if (spans.empty()) return render_whole(text);
  if (spans.size() == 1 && spans.front().first == 0) return render_word_with_tail(text);
  std::string out;
  size_t cursor = 0;
  for (size_t i = 0; i < spans.size(); ++i) {
    const auto [start, end] = spans[i];
    out += render_whole(text.substr(cursor, start - cursor));
    if (i + 1 < spans.size()) {
      out += render_word_in_context(text, start, end, false);
      cursor = end;
    } else {
      out += render_word_in_context(text, start, text.size(), true);
    }
  }
  return out;
}

std::string EngineSession::display_preedit() const {
  std::optional<Reading> reading = space_reading();
  return with_spelling_preference(reading ? std::move(reading->text) : rendered_);
}

CompositionState EngineSession::state_with_preview(std::string preedit,
                                                   uint32_t status_flags) const {
  CompositionState state;
  state.preedit = std::move(preedit);
  state.raw_text = raw_;
  state.candidates = candidates_;
  state.status_flags = status_flags | (ranking_pending_ ? kStatusRankingPending : 0);
  return state;
}

// ---------------------------------------------------------------------------------------------
// Session state

void EngineSession::clear_composition() {
  forget_readings();
  raw_.clear();
  keystroke_starts_.clear();
  link_held_ = false;
  rendered_.clear();
  candidates_.clear();
  ranking_pending_ = false;
  pending_preedit_.clear();
}

void EngineSession::empty_prediction_context() {
  last_word_.clear();
  previous_word_.clear();
}

void EngineSession::reset() {
  clear_composition();
  pending_offer_.reset();
}

CompositionState EngineSession::reload_user_data() {
  if (blocking_caches_) {
    // Each store writes its own pending changes first and is re-read only if that succeeded, so a
    // failed write never discards a change (the store keeps it and counts the failure).
    (void)stores_.reload();
  } else {
    // Beside the keys: saving and reading the largest dictionary takes far longer than a key may.
    // Counted before a reload done meanwhile is taken in: what it read may be older than the
    // change this call follows, or newer than what the keys learned before it. Either way the
    // stores are read again (take_loaded_stores starts that once nothing else is read).
    ++reload_calls_;
    take_loaded_stores();
  }
  probhat::reload_custom_overrides();
  forget_readings();
  return recompute();
}

bool EngineSession::take_finished_stores() {
  take_loaded_stores();
  return loading_stores_.running() || reloading_stores_.running();
}

void EngineSession::set_mode(uint32_t mode) {
  mode_ = mode == 1   ? KeyboardMode::kProbhat
          : mode == 2 ? KeyboardMode::kNational
          : mode == 3 ? KeyboardMode::kUnijoy
                      : KeyboardMode::kPhonetic;
  forget_readings();
  reset();
  empty_prediction_context();
  committed_last_.clear();
  committed_previous_.clear();
}

CompositionState EngineSession::update_config(uint32_t suggestion_count, uint32_t flags) {
  config_.suggestion_count =
      suggestion_count == 0 ? 1 : std::min(suggestion_count, kMaxSuggestionCount);
  config_.autocorrect = (flags & TOLVANI_FLAG_AUTOCORRECT) != 0;
  config_.bangla_digits = (flags & TOLVANI_FLAG_BANGLA_DIGITS) != 0;
  config_.english_passthrough = (flags & TOLVANI_FLAG_ENGLISH_PASSTHROUGH) != 0;
  config_.suggestions_enabled = (flags & TOLVANI_FLAG_SUGGESTIONS_DISABLED) == 0;
  config_.learning_enabled = (flags & TOLVANI_FLAG_LEARNING_DISABLED) == 0;
  config_.prefer_modern_spellings = (flags & TOLVANI_FLAG_PREFER_MODERN_SPELLINGS) != 0;
  config_.offer_spoken_standard = (flags & TOLVANI_FLAG_OFFER_SPOKEN_STANDARD) != 0;
  config_.defer_ranking = (flags & TOLVANI_FLAG_DEFER_RANKING) != 0;
  if (!config_.learning_enabled) empty_prediction_context();
  forget_readings();
  return recompute();
}

// ---------------------------------------------------------------------------------------------
// Predictions and spelling offers

std::vector<std::string> EngineSession::next_word_predictions() {
  std::vector<std::string> out;
  if (last_word_.empty()) return out;
  auto take = [&](std::string_view word) {
    if (out.size() >= kMaxPredictions || word == last_word_) return;
    if (std::find(out.begin(), out.end(), word) != out.end()) return;
    out.emplace_back(word);
  };
  // What this user wrote after these words wins over what people generally write.
  if (!previous_word_.empty()) {
    for (const std::string& w : learned_triple_followers(previous_word_ + "\t" + last_word_)) {
      take(w);
    }
  }
  for (const std::string& w : learned_pair_followers(last_word_)) take(w);
  for (const std::string& w : bigram::ranked_followers(last_word_, blocking_caches_)) take(w);
  return out;
}

CompositionState EngineSession::next_word_prediction_state() {
  CompositionState state;
  state.predictions = next_word_predictions();
  if (!state.predictions.empty()) state.ghost_text = state.predictions.front();
  if (pending_offer_) {
    state.spelling_offer = pending_offer_->offer;
    state.spelling_offer_for = pending_offer_->committed;
  }
  return state;
}

void EngineSession::seed_prediction_context(std::string_view text_before_cursor) {
  pending_offer_.reset();
  empty_prediction_context();
  // As after a commit, only the last word is context, however long the text.
  const auto [before, last] = last_two_words(text_before_cursor);
  if (config_.learning_enabled) last_word_ = std::string(last);
  committed_previous_ = std::string(before);
  committed_last_ = std::string(last);
}

std::string EngineSession::with_spelling_preference(std::string text) const {
  return spelling::with_spelling_preference(std::move(text), config_.prefer_modern_spellings,
                                            mode_ == KeyboardMode::kPhonetic, raw_,
                                            [this](std::string_view raw) {
                                              const auto remembered = remembered_selection(raw);
                                              return remembered ? remembered->second : 0u;
                                            });
}

CompositionState EngineSession::accept_spelling_offer() {
  std::optional<SpellingOffer> offer = std::exchange(pending_offer_, std::nullopt);
  if (offer && committed_last_ == offer->committed) committed_last_ = offer->offer;
  if (offer && config_.learning_enabled && last_word_ == offer->committed) {
    last_word_ = offer->offer;
    learn_word(offer->offer);
  }
  return next_word_prediction_state();
}

void EngineSession::resolve_spelling_offer() {
  std::optional<SpellingOffer> offer = std::exchange(pending_offer_, std::nullopt);
  // An offer let pass counts against offering it again for this word.
  if (offer && config_.learning_enabled) {
    learn_rejection(spelling::rejection_key(offer->committed), offer->offer);
  }
}

LearningSnapshot EngineSession::learning_snapshot() {
  // A snapshot is written over the files: it must hold what they hold, and what was learned while
  // they were read, also what waits for a reload asked for meanwhile.
  do {
    take_loaded_stores(StoresWait::kAll);
  } while (loading_stores_.running() || reloading_stores_.running());
  return stores_.snapshot();
}

}  // namespace tolvani::engine
