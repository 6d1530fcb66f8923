#include "ime/EngineBridge.h"

#include <QByteArray>
#include <QStringView>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "ime/EngineLearningSnapshot.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/Queues.h"
#include "stats/RuntimeDiagnostics.h"

namespace tolvani {

namespace {

// The engine's fixed words (flags, replace-before, candidate count) and three string lengths.
constexpr std::uint32_t kMinDecodableLength = 24;

// Well-formed UTF-8 as Unicode defines it: no overlong forms, surrogates or values past U+10FFFF.
bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      extra = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      extra = 2;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      extra = 3;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (s.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return false;
    }
    i += extra + 1;
  }
  return true;
}

void keepValidUtf8(std::string& s) {
  if (!isValidUtf8(s)) s.clear();
}

// Setting the environment while another thread reads it is a data race in the C library, so
// this runs before the first session and before the cache warm-up thread, never after.
void configureProcessOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    ::setenv("TOLVANI_NONBLOCKING_CACHES", "1", 1);
    RuntimeDiagnostics::setPersistenceFailureCounter(
        [] { return engineSeam().persistenceFailures(); });
  });
}

struct Registry {
  std::mutex mu;
  std::vector<std::weak_ptr<EngineBridge>> bridges;  // guarded by mu
};

Registry& liveBridges() {
  // Never destroyed: a bridge may be released on another thread while the process exits.
  static Registry* const registry = new Registry;
  return *registry;
}

void registerBridge(const std::shared_ptr<EngineBridge>& bridge) {
  Registry& r = liveBridges();
  std::lock_guard lock(r.mu);
  std::erase_if(r.bridges, [](const std::weak_ptr<EngineBridge>& b) { return b.expired(); });
  r.bridges.push_back(bridge);
}

// The reloads of the learned data asked for so far. The prepared session is no controller's yet,
// so none reloads it: one asked for after it began may have reset the files it read, and what it
// then learned would be refused by every save.
std::atomic<std::uint64_t> reloadsAsked{0};

void countReloadsAsked() {
  static const platform::NotificationCenter::Token token =
      platform::NotificationCenter::defaultCenter().addObserver(
          AppSettings::didChangeNotification(), [](const platform::Notification& notification) {
            if (AppSettings::reloadUserDataRequested(notification)) ++reloadsAsked;
          });
  (void)token;
}

// How long a prepared session stays fresh enough to be taken.
constexpr std::chrono::seconds kPreparedSessionLifetime{10};

struct PreparedSession {
  std::mutex mu;
  // All guarded by mu.
  std::future<TolvaniEngine*> handle;
  const EngineSeam* seam = nullptr;
  std::chrono::nanoseconds startedAt{0};
  std::uint64_t reloadsBefore = 0;
};

PreparedSession& preparedSession() {
  // Never destroyed: the thread making the session may still run while the process exits.
  static PreparedSession* const prepared = new PreparedSession;
  return *prepared;
}

struct TakenSession {
  TolvaniEngine* session = nullptr;
  const EngineSeam* madeBy = nullptr;
  std::chrono::nanoseconds startedAt{0};
  std::uint64_t reloadsBefore = 0;
};

// The prepared session, once its thread has made it; empty when none is being prepared.
TakenSession takeFinishedPreparedSession() {
  PreparedSession& prepared = preparedSession();
  std::future<TolvaniEngine*> handle;
  TakenSession taken;
  {
    std::lock_guard lock(prepared.mu);
    if (!prepared.handle.valid()) return {};
    handle = std::move(prepared.handle);
    taken.madeBy = std::exchange(prepared.seam, nullptr);
    taken.startedAt = prepared.startedAt;
    taken.reloadsBefore = prepared.reloadsBefore;
  }
  taken.session = handle.get();
  return taken;
}

// The prepared session when `seam` made it and it is fresh, else null (a stale one is ended).
// `missedReload` tells whether a reload was asked for after it began.
TolvaniEngine* takePreparedSession(const EngineSeam& seam, bool& missedReload) {
  const TakenSession taken = takeFinishedPreparedSession();
  if (taken.session && (taken.madeBy != &seam ||
                        platform::clock().uptime() - taken.startedAt > kPreparedSessionLifetime)) {
    taken.madeBy->destroy(taken.session);
    return nullptr;
  }
  missedReload = taken.session && reloadsAsked.load() != taken.reloadsBefore;
  return taken.session;
}

double millisecondsSince(std::chrono::nanoseconds start) {
  return std::chrono::duration<double, std::milli>(platform::clock().uptime() - start).count();
}

}  // namespace

std::optional<EngineKeyKind> engineKeyKindFromRawValue(std::uint32_t raw) {
  if (raw > static_cast<std::uint32_t>(EngineKeyKind::backspace)) return std::nullopt;
  return static_cast<EngineKeyKind>(raw);
}

EngineState decodeResult(CResult result, const EngineSeam& seam) {
  std::optional<EngineState> state;
  if (result.ptr != nullptr && result.len >= kMinDecodableLength) {
    state = decode_engine_state(result.ptr, result.len);
  }
  seam.freeResult(result.ptr, result.len);
  if (!state) return EngineState();
  if (state->candidates.size() > kMaxDecodedCandidates) {
    state->candidates.resize(kMaxDecodedCandidates);
  }
  if (state->predictions.size() > kMaxDecodedPredictions) {
    state->predictions.resize(kMaxDecodedPredictions);
  }
  for (std::string* text :
       {&state->preedit, &state->raw_text, &state->commit_text, &state->ghost_text,
        &state->spelling_offer, &state->spelling_offer_for}) {
    keepValidUtf8(*text);
  }
  for (EngineCandidate& candidate : state->candidates) keepValidUtf8(candidate.text);
  for (std::string& prediction : state->predictions) keepValidUtf8(prediction);
  return std::move(*state);
}

std::shared_ptr<EngineBridge> EngineBridge::create(KeyboardMode mode, bool rankingDeferred) {
  configureProcessOnce();
  const EngineSeam& seam = engineSeam();
  bool missedReload = false;
  TolvaniEngine* handle = takePreparedSession(seam, missedReload);
  if (handle == nullptr) handle = seam.create();
  if (handle == nullptr) {
    platform::log::line(QStringLiteral(
        "CRITICAL: could not create the engine session; keys pass through to the application"));
    return nullptr;
  }
  auto bridge = std::make_shared<EngineBridge>(Passkey(), handle, seam);
  bridge->rankingDeferred_ = rankingDeferred;
  bridge->applyPreferences(AppSettings::enginePreferences());
  bridge->setMode(mode);
  if (missedReload) bridge->reloadUserData();
  registerBridge(bridge);
  return bridge;
}

EngineBridge::EngineBridge(Passkey, TolvaniEngine* handle, const EngineSeam& seam)
    : seam_(seam), handle_(handle) {}

namespace {

// The snapshot writes of ended bridges still on the utility queue.
struct ReleasedWrites {
  std::mutex mu;
  std::condition_variable done;
  int pending = 0;  // guarded by mu
};

ReleasedWrites& releasedWrites() {
  // Never destroyed: a write may still finish on a utility thread while the process exits.
  static ReleasedWrites& writes = *new ReleasedWrites;
  return writes;
}

}  // namespace

EngineBridge::~EngineBridge() {
  std::shared_ptr<EngineLearningSnapshot> snapshot;
  {
    std::lock_guard lock(lock_);
    snapshot = std::make_shared<EngineLearningSnapshot>(seam_.snapshot(handle_), seam_);
    seam_.destroy(handle_);
  }
  // The session is gone; the snapshot alone carries its last learning to disk.
  ReleasedWrites& writes = releasedWrites();
  {
    std::lock_guard lock(writes.mu);
    ++writes.pending;
  }
  platform::utilityQueue().async([snapshot, &writes] {
    snapshot->write();
    std::lock_guard lock(writes.mu);
    if (--writes.pending == 0) writes.done.notify_all();
  });
}

bool EngineBridge::waitForReleasedWrites(std::chrono::milliseconds limit) {
  ReleasedWrites& writes = releasedWrites();
  std::unique_lock lock(writes.mu);
  return writes.done.wait_for(lock, limit, [&] { return writes.pending == 0; });
}

std::unique_lock<std::mutex> EngineBridge::lockTimed() {
  if (!platform::isMainThread()) return std::unique_lock(lock_);
  const std::chrono::nanoseconds start = platform::clock().uptime();
  std::unique_lock lock(lock_);
  RuntimeDiagnostics::record(RuntimeDiagnostics::Metric::engineLockWait, millisecondsSince(start));
  return lock;
}

EngineState EngineBridge::send(EngineKeyKind kind, std::uint16_t keyCode, std::uint32_t modifiers,
                               const QString& text) {
  // Two UTF-16 units hold any first scalar; a lone surrogate becomes U+FFFD.
  const QList<uint> scalars = QStringView(text).left(2).toUcs4();
  const CKeyEvent event{static_cast<std::uint32_t>(kind), keyCode, modifiers,
                        scalars.isEmpty() ? 0u : scalars.first()};
  auto lock = lockTimed();
  return decodeResult(seam_.handleKeyEvent(handle_, event), seam_);
}

std::optional<EngineState> EngineBridge::rank() {
  auto lock = lockTimed();
  const CResult result = seam_.rank(handle_);
  if (result.ptr == nullptr) return std::nullopt;
  return decodeResult(result, seam_);
}

EngineState EngineBridge::selectCandidate(const QString& raw, const QString& text) {
  const QByteArray rawBytes = raw.toUtf8();
  const QByteArray textBytes = text.toUtf8();
  auto lock = lockTimed();
  return decodeResult(seam_.selectMatching(handle_, rawBytes.constData(), textBytes.constData()),
                      seam_);
}

EngineState EngineBridge::noteCommittedWord(const QString& word) {
  const QByteArray bytes = word.toUtf8();
  auto lock = lockTimed();
  return decodeResult(seam_.noteCommittedWord(handle_, bytes.constData()), seam_);
}

void EngineBridge::seedPredictionContext(const QString& word) {
  const QByteArray bytes = word.toUtf8();
  auto lock = lockTimed();
  const CResult result = seam_.seedPredictionContext(handle_, bytes.constData());
  seam_.freeResult(result.ptr, result.len);
}

EngineState EngineBridge::acceptSpellingOffer() {
  auto lock = lockTimed();
  return decodeResult(seam_.acceptSpellingOffer(handle_), seam_);
}

EngineState EngineBridge::reloadUserData() {
  EngineState state;
  {
    auto lock = lockTimed();
    state = decodeResult(seam_.reloadUserData(handle_), seam_);
  }
  if (platform::isMainThread() && !lookingForStores_) {
    lookingForStores_ = true;
    takeReloadedStoresSoon();
  }
  return state;
}

void EngineBridge::takeReloadedStoresSoon() {
  // Long enough that the look costs the keys nothing; soon enough that a window's edits of the
  // largest dictionary do not pile up stores read for each of them.
  constexpr std::chrono::milliseconds kLookEvery{250};
  platform::mainQueue().asyncAfter(kLookEvery, [weak = weak_from_this()] {
    const std::shared_ptr<EngineBridge> bridge = weak.lock();
    if (!bridge) return;
    bool reading = false;
    {
      auto lock = bridge->lockTimed();
      reading = bridge->seam_.takeReloadedStores(bridge->handle_);
    }
    if (reading) {
      bridge->takeReloadedStoresSoon();
    } else {
      bridge->lookingForStores_ = false;
    }
  });
}

EngineState EngineBridge::applyPreferences(const EnginePreferences& preferences) {
  const std::uint32_t flags =
      preferences.flags() | (rankingDeferred_ ? std::uint32_t{TOLVANI_FLAG_DEFER_RANKING} : 0u);
  auto lock = lockTimed();
  return decodeResult(seam_.updateConfig(handle_, preferences.suggestionCount, flags), seam_);
}

void EngineBridge::setMode(KeyboardMode mode) {
  auto lock = lockTimed();
  seam_.setMode(handle_, static_cast<std::uint32_t>(rawValue(mode)));
}

void EngineBridge::reset() {
  auto lock = lockTimed();
  seam_.reset(handle_);
}

bool EngineBridge::sync() {
  std::lock_guard saving(persistenceLock_);
  std::unique_ptr<EngineLearningSnapshot> snapshot;
  {
    auto lock = lockTimed();
    snapshot = std::make_unique<EngineLearningSnapshot>(seam_.snapshot(handle_), seam_);
  }
  const std::chrono::nanoseconds start = platform::clock().uptime();
  const bool written = snapshot->write();
  RuntimeDiagnostics::record(RuntimeDiagnostics::Metric::persistence, millisecondsSince(start));
  RuntimeDiagnostics::flush();
  if (!written) {
    platform::log::line(
        QStringLiteral("Could not save learned data; pending changes will be retried"));
  }
  return written;
}

void EngineBridge::syncAllForShutdown() {
  std::vector<std::shared_ptr<EngineBridge>> alive;
  {
    Registry& r = liveBridges();
    std::lock_guard lock(r.mu);
    for (const std::weak_ptr<EngineBridge>& weak : r.bridges) {
      if (std::shared_ptr<EngineBridge> bridge = weak.lock()) alive.push_back(std::move(bridge));
    }
  }
  for (const std::shared_ptr<EngineBridge>& bridge : alive) bridge->sync();
}

void EngineBridge::warmSharedCaches() {
  configureProcessOnce();
  const EngineSeam& seam = engineSeam();
  platform::utilityQueue().async([&seam] { seam.warmCaches(); });
}

void EngineBridge::prepareSession() {
  configureProcessOnce();
  const EngineSeam& seam = engineSeam();
  PreparedSession& prepared = preparedSession();
  std::lock_guard lock(prepared.mu);
  if (prepared.handle.valid()) return;
  countReloadsAsked();
  prepared.seam = &seam;
  prepared.startedAt = platform::clock().uptime();
  // Counted before the session reads anything: a reload asked for while it reads is handed on.
  prepared.reloadsBefore = reloadsAsked.load();
  prepared.handle = std::async(std::launch::async, [&seam] {
    TolvaniEngine* session = seam.create();
    // A word typed ahead of the first key: the code and tables a key needs are in memory when it
    // comes. The mode set when the session is taken clears what it composed.
    if (session) {
      for (const char32_t c : std::u32string_view(U"ami")) {
        const CResult result = seam.handleKeyEvent(session, CKeyEvent{TOLVANI_KEY_TEXT, 0, 0, c});
        seam.freeResult(result.ptr, result.len);
      }
      seam.reset(session);
    }
    return session;
  });
}

void EngineBridge::discardPreparedSession() {
  const TakenSession taken = takeFinishedPreparedSession();
  if (taken.session) taken.madeBy->destroy(taken.session);
}

void EngineBridge::testWaitForPreparedSession() {
  PreparedSession& prepared = preparedSession();
  std::lock_guard lock(prepared.mu);
  if (prepared.handle.valid()) prepared.handle.wait();
}

bool EngineBridge::isCommonEnglish(const QString& word) {
  const QByteArray bytes = word.toUtf8();
  return engineSeam().isCommonEnglish(bytes.constData());
}

int EngineBridge::testLiveBridgeCount() {
  Registry& r = liveBridges();
  std::lock_guard lock(r.mu);
  return static_cast<int>(std::count_if(r.bridges.begin(), r.bridges.end(),
                                        [](const auto& b) { return !b.expired(); }));
}

}  // namespace tolvani
