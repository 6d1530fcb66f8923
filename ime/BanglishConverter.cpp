#include "ime/BanglishConverter.h"

#include <QTextBoundaryFinder>
#include <vector>

#include "ime/EngineBridge.h"
#include "ime/EngineSeam.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

bool isAsciiLetter(char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A character that is one ASCII letter and nothing more (no combining mark after it).
bool isLetterCharacter(QStringView character) {
  return character.size() == 1 && isAsciiLetter(character.front().unicode());
}

// The extended grapheme clusters of `text`, in order.
std::vector<QStringView> characters(const QString& text) {
  std::vector<QStringView> out;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  qsizetype start = 0;
  while (finder.toNextBoundary() != -1) {
    const qsizetype end = finder.position();
    if (end > start) out.push_back(QStringView(text).mid(start, end - start));
    start = end;
  }
  return out;
}

}  // namespace

BanglishConverter& BanglishConverter::shared() {
  // Never destroyed: a conversion may still run on the queue while the process exits.
  static BanglishConverter* const converter = new BanglishConverter;
  return *converter;
}

BanglishConverter::BanglishConverter()
    : queue_(QStringLiteral("com.tolvani.banglish-selection"),
             platform::SerialQueue::Priority::userInitiated) {}

bool BanglishConverter::containsBanglish(const QString& text) {
  for (const QChar c : text) {
    if (isAsciiLetter(c.unicode())) return true;
  }
  return false;
}

void BanglishConverter::convert(const QString& text,
                                std::function<void(std::optional<QString>)> completion) {
  // A first conversion makes the session here, before its work is queued.
  createEngineIfNeeded();
  queue_.async([this, text, completion = std::move(completion)]() mutable {
    std::optional<QString> result = convertNow(text);
    platform::mainQueue().async(
        [completion = std::move(completion), result = std::move(result)] { completion(result); });
  });
}

std::shared_ptr<EngineBridge> BanglishConverter::createEngineIfNeeded() {
  std::lock_guard lock(engineLock_);
  if (engine_) return engine_;
  if (engineCreationFailed_) return nullptr;
  engine_ = EngineBridge::create(KeyboardMode::phonetic);
  engineCreationFailed_ = !engine_;
  return engine_;
}

std::optional<QString> BanglishConverter::convertNow(const QString& text) {
  const std::shared_ptr<EngineBridge> engine = createEngineIfNeeded();
  if (!engine) return std::nullopt;
  EnginePreferences preferences = AppSettings::enginePreferences();
  preferences.learningDisabled = true;
  preferences.offerSpokenStandard = false;
  engine->applyPreferences(preferences);
  // The user's words as they are now; nothing converted here is learned.
  engine->reloadUserData();
  // Each word converted is context for the next, as when typed; the last conversion's are not.
  // The word pairs that decide are read in full, not skipped while the warm-up still builds them.
  engineSeam().warmCaches();
  engine->seedPredictionContext(QString());

  const std::vector<QStringView> chars = characters(text);
  QString output;
  output.reserve(text.size());
  QString run;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const QStringView c = chars[i];
    const bool nextIsLetter = i + 1 < chars.size() && isLetterCharacter(chars[i + 1]);
    bool inRun = isLetterCharacter(c);
    if (!inRun && c == u"`") inRun = !run.isEmpty() || nextIsLetter;
    if (!inRun && (c == u"^" || c == u"~")) inRun = !run.isEmpty();
    if (inRun) {
      run += c;
      continue;
    }
    output += convertToken(run, *engine);
    run.clear();
    output += c;
  }
  output += convertToken(run, *engine);
  engine->reset();
  return output;
}

QString BanglishConverter::convertToken(const QString& run, EngineBridge& engine) {
  if (run.isEmpty()) return QString();
  if (run.toUtf8().size() > maxRunBytes) return run;
  engine.reset();
  for (const QStringView c : characters(run)) {
    engine.send(EngineKeyKind::text, 0, 0, c.toString());
  }
  QString committed = QString::fromStdString(
      engine.send(EngineKeyKind::space, 0, 0, QStringLiteral(" ")).commit_text);
  if (committed.endsWith(QLatin1Char(' '))) committed.chop(1);
  return committed.isEmpty() ? run : committed;
}

void BanglishConverter::testWaitForQueue() {
  queue_.sync([] {});
}

void BanglishConverter::testReset() {
  testWaitForQueue();
  std::lock_guard lock(engineLock_);
  engine_.reset();
  engineCreationFailed_ = false;
}

}  // namespace tolvani
