#include "ime/EngineBridge.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "ime/EngineLearningSnapshot.h"
#include "ime/tests/ScriptedEngine.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Queues.h"
#include "stats/RuntimeDiagnostics.h"

namespace tolvani {
namespace {

// A composing state: flags 1, candidates of score 10 and kind exact.
EngineState state(std::string preedit, std::string raw, std::string commit,
                  const std::vector<std::string>& candidates = {}, std::string offer = "") {
  EngineState s;
  s.status_flags = 1;
  s.preedit = std::move(preedit);
  s.raw_text = std::move(raw);
  s.commit_text = std::move(commit);
  for (const std::string& c : candidates) s.candidates.push_back({c, 10, 0});
  s.spelling_offer = std::move(offer);
  return s;
}
std::vector<uint8_t> record(std::string preedit, std::string raw, std::string commit) {
  return testing::packState(state(std::move(preedit), std::move(raw), std::move(commit)));
}

// The scripted engine: answers from a script, records every call. Buffers are allocated at their
// exact size so that AddressSanitizer catches any read past the end.
struct FakeEngine {
  std::mutex mu;
  std::deque<std::vector<uint8_t>> answers;        // guarded by mu; popped by each CResult call
  std::vector<std::string> calls;                  // guarded by mu
  std::vector<CKeyEvent> events;                   // guarded by mu
  std::map<const uint8_t*, uint32_t> outstanding;  // guarded by mu: buffers not yet freed
  int freedNull = 0;                               // guarded by mu
  bool createFails = false;
  bool writeSucceeds = true;
  int storesStillRead = 0;  // guarded by mu: looks for reloaded stores that answer "still read"
  std::condition_variable released;
  int snapshotsReleased = 0;  // guarded by mu
  uintptr_t nextHandle = 0x1000;

  CResult answer(const std::string& call, const CKeyEvent* event = nullptr) {
    std::lock_guard lock(mu);
    calls.push_back(call);
    if (event) events.push_back(*event);
    if (answers.empty()) return {nullptr, 0};
    std::vector<uint8_t> bytes = std::move(answers.front());
    answers.pop_front();
    if (bytes.empty()) return {nullptr, 0};
    auto* buffer = new uint8_t[bytes.size()];
    std::memcpy(buffer, bytes.data(), bytes.size());
    outstanding[buffer] = static_cast<uint32_t>(bytes.size());
    return {buffer, static_cast<uint32_t>(bytes.size())};
  }
  void note(const std::string& call) {
    std::lock_guard lock(mu);
    calls.push_back(call);
  }
  std::vector<std::string> takeCalls() {
    std::lock_guard lock(mu);
    return std::exchange(calls, {});
  }
};

FakeEngine* g_fake = nullptr;

const EngineSeam kFakeSeam = [] {
  EngineSeam s;
  s.create = []() -> TolvaniEngine* {
    g_fake->note("create");
    return g_fake->createFails ? nullptr
                               : reinterpret_cast<TolvaniEngine*>(g_fake->nextHandle += 16);
  };
  s.destroy = [](TolvaniEngine*) { g_fake->note("destroy"); };
  s.handleKeyEvent = [](TolvaniEngine*, CKeyEvent e) { return g_fake->answer("key", &e); };
  s.freeResult = [](uint8_t* ptr, uint32_t len) {
    std::lock_guard lock(g_fake->mu);
    if (ptr == nullptr) {
      ++g_fake->freedNull;
      return;
    }
    ASSERT_EQ(g_fake->outstanding.at(ptr), len);
    g_fake->outstanding.erase(ptr);
    delete[] ptr;
  };
  s.reset = [](TolvaniEngine*) { g_fake->note("reset"); };
  s.setMode = [](TolvaniEngine*, uint32_t mode) { g_fake->note("mode " + std::to_string(mode)); };
  s.updateConfig = [](TolvaniEngine*, uint32_t count, uint32_t flags) {
    return g_fake->answer("config " + std::to_string(count) + " " + std::to_string(flags));
  };
  s.selectMatching = [](TolvaniEngine*, const char* raw, const char* text) {
    return g_fake->answer(std::string("select ") + raw + " " + text);
  };
  s.noteCommittedWord = [](TolvaniEngine*, const char* w) {
    return g_fake->answer(std::string("note ") + w);
  };
  s.seedPredictionContext = [](TolvaniEngine*, const char* w) {
    return g_fake->answer(std::string("seed ") + w);
  };
  s.acceptSpellingOffer = [](TolvaniEngine*) { return g_fake->answer("accept"); };
  s.reloadUserData = [](TolvaniEngine*) { return g_fake->answer("reload"); };
  s.takeReloadedStores = [](TolvaniEngine*) {
    std::lock_guard lock(g_fake->mu);
    g_fake->calls.push_back("take stores");
    return g_fake->storesStillRead-- > 0;
  };
  s.warmCaches = [] { g_fake->note("warm"); };
  s.snapshot = [](TolvaniEngine*) {
    g_fake->note("snapshot");
    return reinterpret_cast<TolvaniSnapshot*>(g_fake->nextHandle += 16);
  };
  s.snapshotWrite = [](TolvaniSnapshot*) {
    g_fake->note("write");
    return g_fake->writeSucceeds;
  };
  s.snapshotFree = [](TolvaniSnapshot* snapshot) {
    g_fake->note(snapshot == nullptr ? "free none" : "free");
    std::lock_guard lock(g_fake->mu);
    ++g_fake->snapshotsReleased;
    g_fake->released.notify_all();
  };
  s.isCommonEnglish = [](const char*) { return false; };
  s.persistenceFailures = []() -> uint64_t { return 0; };
  return s;
}();

class EngineBridgeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Set once, before any engine thread exists; the bridge must overwrite it.
    qputenv("TOLVANI_NONBLOCKING_CACHES", "0");
    static QTemporaryDir data, config;
    qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  }

  void SetUp() override {
    g_fake = &fake_;
    testSetEngineSeam(&kFakeSeam);
    platform::testSetClock(&clock_);
    RuntimeDiagnostics::testReset();
  }

  void TearDown() override {
    RuntimeDiagnostics::testWaitForQueue();  // saves ask for a diagnostics write
    testSetEngineSeam(nullptr);
    platform::testSetClock(nullptr);
    EXPECT_TRUE(fake_.outstanding.empty()) << "a result buffer was never released";
  }

  // Decodes `bytes` as the engine's answer to one key.
  EngineState decode(const std::vector<uint8_t>& bytes) {
    fake_.answers.push_back(bytes);
    return decodeResult(fake_.answer("decode"), kFakeSeam);
  }

  // Releases `bridge` and waits until the utility queue is done with its last snapshot.
  void release(std::shared_ptr<EngineBridge>& bridge) {
    int before = 0;
    {
      std::lock_guard lock(fake_.mu);
      before = fake_.snapshotsReleased;
    }
    bridge.reset();
    std::unique_lock lock(fake_.mu);
    fake_.released.wait(lock, [&] { return fake_.snapshotsReleased > before; });
  }

  FakeEngine fake_;
  platform::ManualClock clock_;
};

TEST_F(EngineBridgeTest, NullShortAndDamagedRecordsDecodeAsTheEmptyStateAndAreReleased) {
  const std::vector<uint8_t> whole = testing::packState(state("ka", "k", "", {"ক"}));
  std::vector<std::vector<uint8_t>> damaged;
  for (size_t n = 1; n < 24; ++n) damaged.emplace_back(whole.begin(), whole.begin() + n);
  damaged.emplace_back(whole.begin(), whole.end() - 1);  // the last length runs past the end
  damaged.push_back(whole);
  damaged.back().push_back(0);  // a byte left over
  // The candidate count at byte 8 and the raw text's length at byte 18, lying.
  for (const auto& [at, value] : {std::pair{8, 0xFFFFFFFFu}, std::pair{18, 1000u}}) {
    damaged.push_back(whole);
    for (int i = 0; i < 4; ++i) damaged.back()[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }

  EXPECT_EQ(decode({}), EngineState());
  EXPECT_EQ(fake_.freedNull, 1) << "a null result is still handed back";
  for (const auto& bytes : damaged) EXPECT_EQ(decode(bytes), EngineState()) << bytes.size();
  EXPECT_EQ(decode(whole).preedit, "ka");
}

TEST_F(EngineBridgeTest, SeventyCandidatesAndTenPredictionsKeep64And8AndTheFieldsAfterThem) {
  EngineState sent{0x1F, 2, "pre", "raw", "", {}, "ghost", {}, "offer", "for"};
  for (int i = 0; i < 70; ++i) {
    sent.candidates.push_back(
        {"c" + std::to_string(i), i % 2 == 0 ? -i : i, static_cast<uint8_t>(i % 9)});
  }
  for (int i = 0; i < 10; ++i) sent.predictions.push_back("p" + std::to_string(i));
  EngineState expected = sent;
  expected.candidates.resize(64);
  for (EngineCandidate& c : expected.candidates) c.kind = c.kind >= 7 ? 0 : c.kind;  // as exact
  expected.predictions.resize(8);
  EXPECT_EQ(decode(testing::packState(sent)), expected);
}

TEST_F(EngineBridgeTest, InvalidUtf8EmptiesOnlyTheTextThatHoldsIt) {
  const char* invalid[] = {"\xff",
                           "a\x80",
                           "\xc0\xaf",
                           "\xed\xa0\x80",
                           "\xf4\x90\x80\x80",
                           "\xe0\xa6",
                           "\xf8\x88\x80\x80\x80"};
  for (const char* bad : invalid) {
    const char* ka = "\xe0\xa6\x95";
    const char* emoji = "\xf0\x9f\x98\x80";
    EXPECT_EQ(decode(testing::packState(state(bad, ka, "", {bad, "ok"}, emoji))),
              state("", ka, "", {"", "ok"}, emoji))
        << bad;
  }
}

TEST_F(EngineBridgeTest, SendPassesTheFirstScalarOfTheTextAndTheKeyAsGiven) {
  std::shared_ptr<EngineBridge> bridge = EngineBridge::create(KeyboardMode::probhat);
  ASSERT_TRUE(bridge);
  struct Row {
    QString text;
    uint32_t codepoint;
  };
  const Row rows[] = {{"", 0},
                      {"abc", 'a'},
                      {QString::fromUtf8("কা"), 0x0995},
                      {QString::fromUtf8("😀x"), 0x1F600},
                      {QString(QChar(0xD800)) + "x", 0xFFFD}};
  for (const Row& row : rows) {
    fake_.answers.push_back(record("p", "r", ""));
    EXPECT_EQ(bridge->send(EngineKeyKind::backspace, 51, 3, row.text).preedit, "p");
    ASSERT_FALSE(fake_.events.empty());
    const CKeyEvent e = fake_.events.back();
    EXPECT_EQ(e.codepoint, row.codepoint) << row.text.toStdString();
    EXPECT_EQ(e.kind, 6u);
    EXPECT_EQ(e.key_code, 51u);
    EXPECT_EQ(e.modifiers, 3u);
  }
  release(bridge);
  EXPECT_EQ(engineKeyKindFromRawValue(6), EngineKeyKind::backspace);
  EXPECT_EQ(engineKeyKindFromRawValue(7), std::nullopt);
}

TEST_F(EngineBridgeTest, CreationConfiguresTheSessionEveryCallReachesItAndFailureIsLogged) {
  const int before = EngineBridge::testLiveBridgeCount();
  std::shared_ptr<EngineBridge> bridge = EngineBridge::create(KeyboardMode::national);
  ASSERT_TRUE(bridge);
  EXPECT_EQ(qgetenv("TOLVANI_NONBLOCKING_CACHES"), "1");
  EXPECT_EQ(EngineBridge::testLiveBridgeCount(), before + 1);
  const EnginePreferences preferences = AppSettings::enginePreferences();
  EXPECT_EQ(fake_.takeCalls(),
            (std::vector<std::string>{"create",
                                      "config " + std::to_string(preferences.suggestionCount) +
                                          " " + std::to_string(preferences.flags()),
                                      "mode 2"}));

  fake_.answers.push_back(record("", "", "ক"));
  EXPECT_EQ(bridge->selectCandidate("ka", QString::fromUtf8("ক")).commit_text, "ক");
  bridge->noteCommittedWord(QString::fromUtf8("আমি"));
  fake_.answers.push_back(record("seeded", "", ""));
  bridge->seedPredictionContext("x");
  bridge->acceptSpellingOffer();
  bridge->reloadUserData();
  EnginePreferences custom;
  custom.suggestionCount = 9;
  custom.autocorrectEnabled = true;
  custom.learningDisabled = true;
  bridge->applyPreferences(custom);
  bridge->setMode(KeyboardMode::phonetic);
  bridge->reset();
  EXPECT_EQ(fake_.takeCalls(),
            (std::vector<std::string>{"select ka ক", "note আমি", "seed x", "accept", "reload",
                                      "config 9 17", "mode 0", "reset"}));

  // The lock wait is timed on the main thread only.
  const auto waits = [] {
    return RuntimeDiagnostics::testSamples(RuntimeDiagnostics::Metric::engineLockWait).size();
  };
  const qsizetype waited = waits();
  std::thread([&] { bridge->reset(); }).join();
  EXPECT_EQ(waits(), waited);
  bridge->reset();
  EXPECT_EQ(waits(), waited + 1);
  fake_.takeCalls();

  release(bridge);
  EXPECT_EQ(fake_.takeCalls(),
            (std::vector<std::string>{"snapshot", "destroy", "write", "free none"}))
      << "teardown snapshots before it destroys, and writes afterwards";
  EXPECT_EQ(EngineBridge::testLiveBridgeCount(), before);

  // A failed creation logs one critical line and registers nothing.
  fake_.createFails = true;
  platform::log::Capture capture;
  EXPECT_EQ(EngineBridge::create(KeyboardMode::phonetic), nullptr);
  ASSERT_EQ(capture.lines().size(), 1);
  EXPECT_TRUE(capture.lines()[0].startsWith("[Tolvani] CRITICAL: "));
  EXPECT_EQ(EngineBridge::testLiveBridgeCount(), before);
  EXPECT_EQ(fake_.takeCalls(), (std::vector<std::string>{"create"}));
}

// The session made ahead of the first focus: the next creation takes it, with the word typed
// into it to warm it cleared by its mode; one made too long before is ended unused and a new one
// made; a creation with none prepared makes its own.
TEST_F(EngineBridgeTest, APreparedSessionServesTheNextCreationAndAStaleOneIsEndedUnused) {
  const EnginePreferences preferences = AppSettings::enginePreferences();
  const std::string config = "config " + std::to_string(preferences.suggestionCount) + " " +
                             std::to_string(preferences.flags());
  const std::vector<std::string> prepared{"create", "key", "key", "key", "reset"};

  EngineBridge::prepareSession();
  std::shared_ptr<EngineBridge> bridge = EngineBridge::create(KeyboardMode::probhat);
  ASSERT_TRUE(bridge);
  std::vector<std::string> expected = prepared;
  expected.insert(expected.end(), {config, "mode 1"});
  EXPECT_EQ(fake_.takeCalls(), expected);
  {
    std::lock_guard lock(fake_.mu);
    ASSERT_EQ(fake_.events.size(), 3u);
    EXPECT_EQ(fake_.events[0].codepoint, U'a');
    EXPECT_EQ(fake_.events[2].codepoint, U'i');
    EXPECT_EQ(fake_.events[2].kind, static_cast<uint32_t>(TOLVANI_KEY_TEXT));
  }
  release(bridge);
  fake_.takeCalls();

  std::shared_ptr<EngineBridge> own = EngineBridge::create(KeyboardMode::phonetic);
  EXPECT_EQ(fake_.takeCalls(), (std::vector<std::string>{"create", config, "mode 0"}));
  release(own);
  fake_.takeCalls();

  EngineBridge::prepareSession();
  clock_.advance(std::chrono::seconds(11));
  std::shared_ptr<EngineBridge> fresh = EngineBridge::create(KeyboardMode::phonetic);
  expected = prepared;
  expected.insert(expected.end(), {"destroy", "create", config, "mode 0"});
  EXPECT_EQ(fake_.takeCalls(), expected);
  release(fresh);
}

// The stores a reload read beside the keys came into the session only at its next key: until the
// person typed again, the session held them beside the ones they replace, which over the largest
// dictionary, after a window's edits, was hundreds of megabytes. The bridge takes them in once
// they are read, looking on the main thread, one look at a time however many reloads were asked.
TEST_F(EngineBridgeTest, StoresReloadedBesideTheKeysAreTakenInWithoutAKey) {
  std::shared_ptr<EngineBridge> bridge = EngineBridge::create(KeyboardMode::phonetic);
  ASSERT_TRUE(bridge);
  fake_.takeCalls();
  fake_.storesStillRead = 2;
  bridge->reloadUserData();
  bridge->reloadUserData();
  const auto look = [&] {
    clock_.advance(std::chrono::milliseconds(250));
    QCoreApplication::processEvents();
  };
  look();
  EXPECT_EQ(fake_.takeCalls(), (std::vector<std::string>{"reload", "reload", "take stores"}));
  for (int i = 0; i < 4; ++i) look();
  EXPECT_EQ(fake_.takeCalls(), (std::vector<std::string>{"take stores", "take stores"}))
      << "looks until the stores are in, then no more";

  // A bridge ended while it looks is not looked at.
  fake_.storesStillRead = 100;
  bridge->reloadUserData();
  release(bridge);
  fake_.takeCalls();
  look();
  EXPECT_TRUE(fake_.takeCalls().empty());
}

TEST_F(EngineBridgeTest, ASnapshotIsWrittenOnceAndFreedOnlyWhenNeverWritten) {
  {
    EngineLearningSnapshot snapshot(reinterpret_cast<TolvaniSnapshot*>(0x10), kFakeSeam);
    EXPECT_TRUE(snapshot.write());
    EXPECT_FALSE(snapshot.write()) << "a second write";
  }
  EXPECT_EQ(fake_.takeCalls(), (std::vector<std::string>{"write", "free none"}));
  { EngineLearningSnapshot unwritten(reinterpret_cast<TolvaniSnapshot*>(0x20), kFakeSeam); }
  EXPECT_EQ(fake_.takeCalls(), (std::vector<std::string>{"free"}));
  EngineLearningSnapshot none(nullptr, kFakeSeam);
  EXPECT_FALSE(none.write());
  EXPECT_TRUE(fake_.takeCalls().empty());
}

TEST_F(EngineBridgeTest, SyncWritesASnapshotTimesItAndLogsAFailure) {
  EngineBridge::syncAllForShutdown();
  EXPECT_TRUE(fake_.takeCalls().empty()) << "no live bridges, nothing to do";

  std::shared_ptr<EngineBridge> kept = EngineBridge::create(KeyboardMode::phonetic);
  std::shared_ptr<EngineBridge> released = EngineBridge::create(KeyboardMode::phonetic);
  release(released);
  fake_.takeCalls();

  platform::log::Capture capture;
  EXPECT_TRUE(kept->sync());
  fake_.writeSucceeds = false;
  EXPECT_FALSE(kept->sync());
  EXPECT_EQ(capture.lines(),
            QStringList{"[Tolvani] Could not save learned data; pending changes will be retried"});
  EXPECT_EQ(RuntimeDiagnostics::testSamples(RuntimeDiagnostics::Metric::persistence).size(), 2);

  EngineBridge::syncAllForShutdown();
  EXPECT_EQ(fake_.takeCalls(),
            (std::vector<std::string>{"snapshot", "write", "free none", "snapshot", "write",
                                      "free none", "snapshot", "write", "free none"}))
      << "the released bridge is not synced";
  release(kept);
}

}  // namespace
}  // namespace tolvani
