// The only road from the front end to the typing engine: one EngineBridge owns one engine
// session for its whole life, makes every session call under its lock and decodes each result
// into an EngineState. It also keeps the registry of live bridges that shut-down saves.
// Thread-safety: safe for concurrent use; the engine session itself takes no lock, so every call
// on it runs under `lock_`, and saves take `persistenceLock_` before `lock_`, never after.
#ifndef TOLVANI_IME_ENGINEBRIDGE_H_
#define TOLVANI_IME_ENGINEBRIDGE_H_

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "composition_record.h"
#include "ime/EngineSeam.h"
#include "settings/AppSettings.h"

namespace tolvani {

// The engine's key kinds, by the numbers its C interface fixes.
enum class EngineKeyKind : std::uint32_t {
  text = TOLVANI_KEY_TEXT,
  space = TOLVANI_KEY_SPACE,
  enter = TOLVANI_KEY_ENTER,
  tab = TOLVANI_KEY_TAB,
  downArrow = TOLVANI_KEY_DOWN_ARROW,
  escape = TOLVANI_KEY_ESCAPE,
  backspace = TOLVANI_KEY_BACKSPACE,
};
// None for a raw value above 6.
std::optional<EngineKeyKind> engineKeyKindFromRawValue(std::uint32_t raw);

inline constexpr std::size_t kMaxDecodedCandidates = 64;
inline constexpr std::size_t kMaxDecodedPredictions = 8;

// Decodes one result of the engine and releases its buffer through `seam`. A null pointer, a
// record shorter than 24 bytes, or one that does not decode as a whole (a length running past the
// end, bytes left over) gives the empty state; a text that is not valid UTF-8 reads as empty, the
// others normally; at most 64 candidates and 8 predictions are kept. Never reads past the end.
EngineState decodeResult(CResult result, const EngineSeam& seam = engineSeam());

class EngineBridge : public std::enable_shared_from_this<EngineBridge> {
 public:
  // A new session in `mode` with the current engine preferences, registered for shut-down
  // saves; null (and one critical log line) when the engine cannot make a session. With
  // `rankingDeferred` a key that leaves a composition answers with its preedit alone (status
  // kStatusRankingPending), and rank() gives its candidates.
  static std::shared_ptr<EngineBridge> create(KeyboardMode mode, bool rankingDeferred = false);

  // Snapshots the session, ends it, and writes the snapshot on the utility queue.
  ~EngineBridge();
  EngineBridge(const EngineBridge&) = delete;
  EngineBridge& operator=(const EngineBridge&) = delete;

  // One key event; the code point is the first Unicode scalar of `text`, 0 when it is empty.
  EngineState send(EngineKeyKind kind, std::uint16_t keyCode, std::uint32_t modifiers,
                   const QString& text = QString());
  // The composition with the candidates the last key left pending; none when none are.
  std::optional<EngineState> rank();
  EngineState selectCandidate(const QString& raw, const QString& text);
  EngineState noteCommittedWord(const QString& word);
  void seedPredictionContext(const QString& word);
  EngineState acceptSpellingOffer();
  // Reloads the learned stores beside the keys; the stores read come into the session at its next
  // key or, on the main thread, once they are read, whichever is first.
  EngineState reloadUserData();
  EngineState applyPreferences(const EnginePreferences& preferences);
  void setMode(KeyboardMode mode);
  void reset();

  // Writes the learned stores from a snapshot taken under the lock; true when every store was
  // written. Typing goes on while the snapshot is written.
  bool sync();
  // sync() on every bridge still alive, one after another on the calling thread.
  static void syncAllForShutdown();
  // Waits until the learning of every bridge already ended is written, at most `limit`; true
  // when nothing is left to write.
  static bool waitForReleasedWrites(std::chrono::milliseconds limit);
  // Builds the engine's shared tables on the utility queue; returns at once.
  static void warmSharedCaches();
  // Starts making, on a thread of its own, the session that the next create() takes, so that
  // the first focus does not wait for the learned stores to load; returns at once. A session
  // made too long before it is taken may have missed changes to the learned data: it is dropped
  // unused, and create() makes a new one. One taken after a reload of the learned data was asked
  // for (a reset, an import, an edit) reloads them as a controller's session would have.
  static void prepareSession();
  // Waits for a session still being prepared and ends it unused: nothing of the engine may run on
  // that thread while the process exits.
  static void discardPreparedSession();
  static bool isCommonEnglish(const QString& word);

  // How many bridges are alive.
  static int testLiveBridgeCount();
  // Waits until the session being prepared, if any, is made (not its stores read).
  static void testWaitForPreparedSession();

 private:
  // Only create() makes bridges.
  struct Passkey {
    explicit Passkey() = default;
  };

 public:
  EngineBridge(Passkey, TolvaniEngine* handle, const EngineSeam& seam);

 private:
  // Holds `lock_`; on the main thread records how long it waited for it.
  std::unique_lock<std::mutex> lockTimed();
  // Looks on the main thread, a few times a second, until the session has taken in the stores it
  // reads beside the keys: until then it holds them and the ones they replace.
  void takeReloadedStoresSoon();

  // Fixed at construction.
  const EngineSeam& seam_;
  TolvaniEngine* const handle_;   // never null; used only under lock_
  bool rankingDeferred_ = false;  // set before the first call on handle_

  std::mutex persistenceLock_;     // serialises sync(); taken before lock_
  std::mutex lock_;                // guards every call on handle_
  bool lookingForStores_ = false;  // main thread only: takeReloadedStoresSoon() is pending
};

}  // namespace tolvani

#endif  // TOLVANI_IME_ENGINEBRIDGE_H_
