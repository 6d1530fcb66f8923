// The engine session: what the user is composing, the current candidates, the prediction context
// and the host's switches; every key event enters here and leaves as a CompositionState.
// Thread-safety: serialised by the caller. A session takes no lock of its own; the C interface's
// host makes every call on one session under its own lock.
#ifndef TOLVANI_ENGINE_SESSION_H_
#define TOLVANI_ENGINE_SESSION_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "persistence.h"
#include "types.h"
#include "user_dict.h"

namespace tolvani::engine {

enum class KeyboardMode : uint8_t { kPhonetic = 0, kProbhat = 1, kNational = 2, kUnijoy = 3 };

// The raw buffer takes no further key once it holds this many bytes.
inline constexpr size_t kRawBufferCap = 4096;

// The last two whitespace-separated words of `text` (either may be empty); a word longer than
// the raw buffer could hold counts as none, and ends the search.
std::pair<std::string_view, std::string_view> last_two_words(std::string_view text);

inline constexpr uint32_t kMaxSuggestionCount = 15;
inline constexpr size_t kMaxPredictions = 3;

// The host's switches, set by update_config.
struct SessionConfig {
  uint32_t suggestion_count = 5;
  bool autocorrect = false;
  bool bangla_digits = true;
  bool english_passthrough = true;
  bool suggestions_enabled = true;
  bool learning_enabled = true;
  bool prefer_modern_spellings = false;
  bool offer_spoken_standard = false;
  bool defer_ranking = false;
};

// A standard spelling offered for a word just committed, until the next key resolves it.
struct SpellingOffer {
  std::string offer;      // the standard form offered
  std::string committed;  // the committed text it is for
};

// One of the 22 ASCII punctuation characters that never join a phonetic composition.
bool is_passthrough_char(char32_t c);

// Byte ranges [first, second) of the words of typed Latin text, in order.
std::vector<std::pair<size_t, size_t>> word_spans(std::string_view text);

// The ranking bonus of a context seen n times: min(max(trunc(max(ln n, 1) * scale), scale), cap),
// the logarithm taken in single precision.
int32_t context_bonus(uint64_t n, float scale, int32_t cap);

// Start of the run of ASCII digits that ends at byte `pos` (`pos` itself when none precedes it).
size_t digit_run_start(std::string_view text, size_t pos);

// Work that a session has done on a thread of its own, beside its keys, and takes in between
// calls: asking whether it is done never waits. Thread-safety: serialised by its session.
template <typename T>
class BesideKeys {
 public:
  // Starts `work` on a thread of its own; false, with nothing started, when none can be had.
  template <typename Work>
  bool start(Work work) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
      result_ = std::async(std::launch::async, [done, work = std::move(work)]() mutable {
        run_in_background();
        struct Done {
          std::atomic<bool>& flag;
          ~Done() { flag.store(true, std::memory_order_release); }
        } mark{*done};
        return work();
      });
    } catch (const std::system_error&) {
      return false;
    }
    done_ = std::move(done);
    return true;
  }
  // Started and not taken yet.
  bool running() const { return result_.valid(); }
  bool done() const { return running() && done_->load(std::memory_order_acquire); }
  // The work's result, after waiting for it; rethrows what the work threw. Requires: running().
  T take() { return result_.get(); }

 private:
  std::future<T> result_;
  std::shared_ptr<const std::atomic<bool>> done_;
};

class EngineSession {
 public:
  // Loads the custom keys and the learned stores (beside the first keys when
  // TOLVANI_NONBLOCKING_CACHES is "1"; see stores_).
  EngineSession();

  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  // Key dispatch.
  CompositionState handle_key_event(const KeyEvent& event);
  CompositionState handle_text_with_options(const KeyEvent& event);
  CompositionState handle_backspace_with_options();
  // Appends one key to the raw buffer (through the layout in the fixed layouts). False, with
  // nothing changed, when the buffer is full. `link_held`: the key before was the layout's link
  // key, which this key may replace along with itself; whether this key holds is left in
  // link_held_.
  bool push_mode_char(char32_t c, uint32_t modifiers, bool link_held = false);

  // Rendering of typed text into Bangla.
  std::string render_phonetic(std::string_view text) const;
  std::string render_whole(std::string_view text) const;
  std::string render_word_with_tail(std::string_view word) const;
  std::string render_word_in_context(std::string_view text, size_t start, size_t end,
                                     bool with_tail) const;

  // What a space would commit now, before autocorrection.
  std::string display_preedit() const;
  // The current composition with `preedit` and `status_flags`, nothing committed.
  CompositionState state_with_preview(std::string preedit, uint32_t status_flags) const;

  void reset();
  // Saves what the session learned and reads the learned stores and custom keys again (the stores
  // beside the keys when they loaded so; see stores_).
  CompositionState reload_user_data();
  // Takes in the stores loaded or reloaded beside the keys if they are read, as the next key would,
  // so that the ones they replace are freed without waiting for a key. True while a load or a
  // reload still runs beside the keys.
  bool take_finished_stores();
  // Mode 1 probhat, 2 national, 3 unijoy, anything else phonetic; resets and empties the context.
  void set_mode(uint32_t mode);
  // Stores the clamped count and the flag word, then recomputes.
  CompositionState update_config(uint32_t suggestion_count, uint32_t flags);

  // Ending a composition.
  CompositionState commit_with_suffix_with_options(std::string_view suffix, bool predictions);
  // What a space would commit instead of the rendered text: the typed English, or the dictionary
  // reading word by word (status bit kStatusReread).
  struct Reading {
    std::string text;
    uint32_t status_bit = 0;
  };
  std::optional<Reading> space_reading() const;
  std::optional<std::string> reading_for_word(std::string_view word, std::string_view rendering,
                                              bool after_digits) const;
  std::optional<std::string> dictionary_commit_for(std::string_view key,
                                                   std::string_view rendering) const;
  // The words `key` spells by chat convention ("s" for ছ: "aso" আছো, "korsi" করছি; "z" for জ:
  // "bazar" বাজার), other than its literal rendering; lexicon or user words only.
  std::vector<std::string> chat_readings(std::string_view key) const;
  // What a space commits for the one word `key` once its chat readings are weighed against
  // `reading` (the dictionary reading, or none for the literal `rendering`): a chat reading where
  // the literal one is no word or a rare one, and then the reading that the words just committed
  // make far likelier. None: the literal rendering.
  std::optional<std::string> reading_with_chat(std::string_view key, std::string_view rendering,
                                               std::optional<std::string> reading) const;
  // A negated verb typed as one word ("korbona"): the verb and the particle.
  std::optional<std::pair<std::string, std::string>> negation_split(std::string_view key) const;
  CompositionState commit_top_candidate();
  CompositionState select_candidate_with_intent(size_t index, bool explicit_choice);
  CompositionState select_candidate_matching(std::string_view raw, std::string_view text);
  CompositionState cancel();
  void note_committed_token(std::string_view token, bool explicit_choice);
  void note_external_commit(std::string_view text);

  // Candidates for the current raw buffer. During a key with ranking deferred, only the preedit:
  // the candidates wait for rank().
  CompositionState recompute();
  // Ranks the candidates a key left pending; none when nothing is pending.
  std::optional<CompositionState> rank();
  // What every call that may read the candidates does first.
  void rank_pending() {
    if (ranking_pending_) rank();
  }
  // Whether `event` reads the candidates the key before left: a key that only edits the
  // composition does not, nor a commit with no autocorrection to look for.
  bool key_reads_candidates(const KeyEvent& event) const;
  // The fallbacks of the ranking when the lexicon offers nothing for the rendered text: forms of
  // a known stem with a suffix, and the nearest lexicon words.
  std::vector<Candidate> known_stem_forms() const;
  std::vector<Candidate> near_misses() const;

  // Next-word predictions.
  std::vector<std::string> next_word_predictions();
  CompositionState next_word_prediction_state();
  void seed_prediction_context(std::string_view text_before_cursor);

  // Spelling offers and standard forms.
  std::string with_spelling_preference(std::string text) const;
  CompositionState accept_spelling_offer();
  void resolve_spelling_offer();

  // A copy of the learned stores, for writing on another thread: waits for a load or reload
  // beside the keys.
  LearningSnapshot learning_snapshot();

  KeyboardMode mode() const { return mode_; }
  const std::string& raw_buffer() const { return raw_; }
  const std::string& rendered_text() const { return rendered_; }
  const std::vector<Candidate>& candidates() const { return candidates_; }
  const std::string& last_word() const { return last_word_; }
  const std::string& previous_word() const { return previous_word_; }
  // The two words committed or seeded last, kept whether or not the session learns: they decide
  // between the readings of the next word.
  const std::string& committed_last() const { return committed_last_; }
  const std::string& committed_previous() const { return committed_previous_; }
  const std::optional<SpellingOffer>& pending_spelling_offer() const { return pending_offer_; }
  const SessionConfig& config() const { return config_; }
  bool blocking_caches() const { return blocking_caches_; }

 private:
  // The layout's output for `c`, and whether the layout maps it at all (phonetic: never).
  std::pair<std::string, bool> layout_output(char32_t c, uint32_t modifiers) const;
  // Ends an emoji shortcode with its replacement.
  CompositionState commit_replacement(std::string replacement);
  void clear_composition();
  // Learns a committed token and moves the prediction context on to it.
  void learn_token(std::string_view token, bool add_when_known, bool explicit_choice);
  // The autocorrection of the composed word at a commit, if one is due.
  std::optional<std::string> commit_autocorrection() const;
  // Whether a commit now would look for an autocorrection (the one use of the list a commit has).
  bool autocorrection_due() const;

  // The learned stores, as the ranking reads them: while they first load, empty ones; while they
  // reload, the ones the session had. They are taken in only between calls (or by
  // stores_for_learning and change_stores), never under a lookup.
  const LearnedStores& stores() const { return stores_; }
  // The learned stores, for a decision about what to learn or what a commit that learns inserts:
  // waits for their first load, as learning does.
  const LearnedStores& stores_for_learning() {
    take_loaded_stores(StoresWait::kFirstLoad);
    return stores_;
  }
  // Makes `change` to the learned stores once they have first loaded (waiting for that); while
  // they reload, to the reloaded ones when they are taken in.
  void change_stores(std::function<void(LearnedStores&)> change);
  // What take_loaded_stores waits for: nothing (at the start of each key and ranking), the first
  // load, or that and a reload.
  enum class StoresWait : uint8_t { kNone, kFirstLoad, kAll };
  // Takes in the stores loaded or reloaded beside the keys once they are done, or after waiting as
  // `wait` says; then starts a reload asked for meanwhile.
  void take_loaded_stores(StoresWait wait = StoresWait::kNone);
  void take_first_load();
  void take_reload();
  // Saves and reads the stores again on a thread of their own (here, when none can be had, and
  // then learns what waited into them).
  void start_reload();
  const UserDictionary& user_dictionary() const { return stores().user_dictionary; }
  void learn_word(std::string_view word);
  void learn_pair(std::string_view first, std::string_view second);
  void learn_triple(std::string_view first, std::string_view second, std::string_view third);
  void learn_rejection(std::string_view raw_key, std::string_view text);
  void learn_selection(std::string_view raw, std::string_view text);
  // The remembered choice for a raw input and how often it was made.
  std::optional<std::pair<std::string, uint32_t>> remembered_selection(std::string_view raw) const;
  int32_t rejection_penalty(std::string_view raw_key, std::string_view text) const;
  std::optional<std::string> spelling_offer_for(std::string_view committed) const;
  // A fresh suggestion list for the composition, with autocorrect entries.
  std::vector<Candidate> fresh_suggestions() const;
  // Ranking sources.
  std::vector<Candidate> lexicon_suggestions() const;
  std::vector<Candidate> fuzzy_suggestions() const;
  std::optional<uint64_t> learned_pair_frequency(std::string_view first,
                                                 std::string_view second) const;
  std::optional<uint64_t> learned_triple_count(std::string_view first, std::string_view second,
                                               std::string_view follower) const;
  std::optional<uint64_t> seed_pair_count(std::string_view first, std::string_view second) const;
  // Followers the user wrote after a triple key ("previous\tlast") or after a word, best first.
  std::vector<std::string> learned_triple_followers(std::string_view key) const;
  std::vector<std::string> learned_pair_followers(std::string_view word) const;
  void empty_prediction_context();
  // The candidates of the composition whose preedit is `preedit`, and its state.
  CompositionState ranked_state(const std::string& preedit);

  KeyboardMode mode_ = KeyboardMode::kPhonetic;
  std::string raw_;
  std::vector<size_t> keystroke_starts_;  // fixed layouts: raw length before each keystroke
  // The last keystroke is the layout's link key, which the next text key may replace.
  bool link_held_ = false;
  std::string rendered_;
  std::vector<Candidate> candidates_;
  bool in_key_event_ = false;
  bool ranking_pending_ = false;
  std::string pending_preedit_;
  std::string last_word_;
  std::string previous_word_;
  std::string committed_last_;
  std::string committed_previous_;
  std::optional<SpellingOffer> pending_offer_;
  SessionConfig config_;
  bool blocking_caches_ = true;
  // Where lookups may skip what is not ready (blocking_caches_ false), the stores load beside the
  // first keys, and reload beside the keys when another writer changed their files, so that no
  // key waits on a large dictionary. Until they first come the session reads empty ones, and
  // whatever would change or save them waits for them. While they reload it reads the stores it
  // had, which must not change (the reload saves them as they are when it runs): what keys learn
  // meanwhile waits in changes_while_reloading_, in order, and is learned into the reloaded ones
  // (see take_reload for what was learned before a reload asked for during the reading).
  LearnedStores stores_;
  BesideKeys<LearnedStores> loading_stores_;
  BesideKeys<StoresReload> reloading_stores_;
  struct QueuedChange {
    uint64_t after_calls;  // reload_calls_ when it was learned
    std::function<void(LearnedStores&)> change;
  };
  std::vector<QueuedChange> changes_while_reloading_;
  // The reloads asked for beside the keys, and how many had been asked for when the stores last
  // began to be read: more means another writer changed the files after (or while) they were
  // read, perhaps resetting them, and the stores are read again.
  uint64_t reload_calls_ = 0;
  uint64_t calls_read_ = 0;

  // Renderings and word readings of short pieces of the buffer, so that a key typed at the end of
  // a long buffer does not read every earlier word again. Emptied whenever what they depend on
  // changes: the composition ends, the switches, the mode or the learned stores change.
  void forget_readings() const;
  std::optional<std::string> reading_for_word_uncached(std::string_view word,
                                                       std::string_view rendering,
                                                       bool after_digits) const;
  // Pieces up to this size are remembered; a memo is emptied when it holds kMemoEntries.
  static constexpr size_t kMemoPiece = 64;
  static constexpr size_t kMemoEntries = 8192;
  mutable std::unordered_map<std::string, std::string> rendering_memo_;
  mutable std::unordered_map<std::string, std::optional<std::string>> reading_memo_;
};

}  // namespace tolvani::engine

#endif  // TOLVANI_ENGINE_SESSION_H_
