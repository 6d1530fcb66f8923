// Conversion of selected Banglish (Bangla typed in Latin letters) into Bangla: every run of Latin
// letters is typed into a private phonetic engine session and replaced by what it commits, while
// everything else is kept as it is. The session is the converter's own, so a conversion never
// disturbs a composition in progress; it never learns from what it converts.
// Thread-safety: convert() and containsBanglish() may be called from the main thread; the
// conversions run one at a time on the serial queue "com.tolvani.banglish-selection".
#ifndef TOLVANI_IME_BANGLISHCONVERTER_H_
#define TOLVANI_IME_BANGLISHCONVERTER_H_

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/Queues.h"

namespace tolvani {

class EngineBridge;

class BanglishConverter {
 public:
  // The longest selection converted, in UTF-16 units.
  static constexpr qsizetype maxSelectionLength = 20000;
  // A longer run of letters is kept as it is, in UTF-8 bytes.
  static constexpr qsizetype maxRunBytes = 4096;

  // The process's converter, made on first use and never destroyed.
  static BanglishConverter& shared();

  // True when `text` holds at least one ASCII letter.
  static bool containsBanglish(const QString& text);

  // Converts `text` off the main thread; `completion` runs on the main thread with the result,
  // or with none when no engine session could be made.
  void convert(const QString& text, std::function<void(std::optional<QString>)> completion);

  // Waits for the conversions already queued; their completions are then on the main queue.
  void testWaitForQueue();
  // Waits for the conversions already queued, then forgets the engine session and a failure to
  // make one, as a new process would.
  void testReset();

 private:
  BanglishConverter();

  // The converter's session; made once, and never tried again after a failure.
  std::shared_ptr<EngineBridge> createEngineIfNeeded();
  // On the queue.
  std::optional<QString> convertNow(const QString& text);
  static QString convertToken(const QString& run, EngineBridge& engine);

  platform::SerialQueue queue_;
  std::mutex engineLock_;                 // guards the two fields below, nothing else
  std::shared_ptr<EngineBridge> engine_;  // the session, once made
  bool engineCreationFailed_ = false;
};

}  // namespace tolvani

#endif  // TOLVANI_IME_BANGLISHCONVERTER_H_
