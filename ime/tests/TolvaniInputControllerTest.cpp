#include "ime/TolvaniInputController.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "ime/tests/ScriptedEngine.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Queues.h"
#include "platform/testing/RecordingTextClient.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/TypingStatsStore.h"

namespace tolvani {
namespace {

using platform::RecordingTextClient;

// A composition of `preedit` with `candidates`, committing `commit`.
std::vector<uint8_t> record(const std::string& preedit, const std::string& raw,
                            const std::string& commit, const std::vector<std::string>& candidates) {
  EngineState state;
  state.status_flags = candidates.empty() ? 0 : 1;
  state.preedit = preedit;
  state.raw_text = raw;
  state.commit_text = commit;
  for (const std::string& c : candidates) state.candidates.push_back({c, 10, 0});
  return testing::packState(state);
}

// A scripted engine: each session composes "ক" + the raw letters, offers two candidates, and
// commits its preedit on Space. Every call is recorded with its session.
struct ScriptedEngine {
  struct Session {
    int id = 0;
    std::string raw;
  };
  std::mutex mu;
  std::map<TolvaniEngine*, std::unique_ptr<Session>> sessions;
  std::vector<std::string> calls;
  std::vector<std::thread::id> writeThreads;
  std::condition_variable written;
  int snapshots = 0;  // taken
  int destroyed = 0;  // sessions
  bool createFails = false;
  int nextId = 1;

  void note(const std::string& call) {
    std::lock_guard lock(mu);
    calls.push_back(call);
  }
  Session& session(TolvaniEngine* handle) { return *sessions.at(handle); }
  static CResult result(const std::vector<uint8_t>& bytes) {
    auto* buffer = new uint8_t[bytes.size()];
    std::memcpy(buffer, bytes.data(), bytes.size());
    return {buffer, static_cast<uint32_t>(bytes.size())};
  }
  CResult composition(Session& s, const std::string& commit = "") {
    if (s.raw.empty()) return result(record("", "", commit, {}));
    const std::string preedit = "\u0995" + s.raw;
    return result(record(preedit, s.raw, commit, {preedit, preedit + "\u09BF"}));
  }
  std::vector<std::string> takeCalls() {
    std::lock_guard lock(mu);
    return std::exchange(calls, {});
  }
};

ScriptedEngine* g_engine = nullptr;

const EngineSeam kSeam = [] {
  EngineSeam s;
  s.create = []() -> TolvaniEngine* {
    std::lock_guard lock(g_engine->mu);
    if (g_engine->createFails) return nullptr;
    auto session = std::make_unique<ScriptedEngine::Session>();
    session->id = g_engine->nextId++;
    auto* handle = reinterpret_cast<TolvaniEngine*>(session.get());
    g_engine->calls.push_back("create " + std::to_string(session->id));
    g_engine->sessions[handle] = std::move(session);
    return handle;
  };
  s.destroy = [](TolvaniEngine* h) {
    g_engine->note("destroy " + std::to_string(g_engine->session(h).id));
    std::lock_guard lock(g_engine->mu);
    ++g_engine->destroyed;
  };
  s.handleKeyEvent = [](TolvaniEngine* h, CKeyEvent e) {
    ScriptedEngine::Session& session = g_engine->session(h);
    g_engine->note("key " + std::to_string(e.kind) + " " + std::to_string(session.id));
    if (e.kind == 0) {
      session.raw += static_cast<char>(e.codepoint);
      return g_engine->composition(session);
    }
    const std::string commit =
        session.raw.empty() ? "" : "\u0995" + session.raw + (e.codepoint == ' ' ? " " : "");
    session.raw.clear();
    return g_engine->composition(session, commit);
  };
  s.freeResult = [](uint8_t* ptr, uint32_t) { delete[] ptr; };
  s.reset = [](TolvaniEngine* h) {
    g_engine->session(h).raw.clear();
    g_engine->note("reset " + std::to_string(g_engine->session(h).id));
  };
  s.setMode = [](TolvaniEngine* h, uint32_t mode) {
    g_engine->note("mode " + std::to_string(mode) + " " + std::to_string(g_engine->session(h).id));
  };
  s.updateConfig = [](TolvaniEngine* h, uint32_t, uint32_t flags) {
    g_engine->note("config " + std::to_string(flags & TOLVANI_FLAG_LEARNING_DISABLED));
    return g_engine->composition(g_engine->session(h));
  };
  s.reloadUserData = [](TolvaniEngine* h) {
    g_engine->note("reload");
    return g_engine->composition(g_engine->session(h));
  };
  s.takeReloadedStores = [](TolvaniEngine*) { return false; };
  s.snapshot = [](TolvaniEngine* h) {
    g_engine->note("snapshot " + std::to_string(g_engine->session(h).id));
    std::lock_guard lock(g_engine->mu);
    ++g_engine->snapshots;
    return reinterpret_cast<TolvaniSnapshot*>(h);
  };
  s.snapshotWrite = [](TolvaniSnapshot*) {
    std::lock_guard lock(g_engine->mu);
    g_engine->writeThreads.push_back(std::this_thread::get_id());
    g_engine->written.notify_all();
    return true;
  };
  s.snapshotFree = [](TolvaniSnapshot*) {};
  s.warmCaches = [] {};
  s.isCommonEnglish = [](const char*) { return false; };
  s.persistenceFailures = []() -> uint64_t { return 0; };
  return s;
}();

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

class TolvaniInputControllerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static QTemporaryDir data, config;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  }
  void SetUp() override {
    g_engine = &engine_;
    testSetEngineSeam(&kSeam);
    platform::Defaults::testResetStandard();
    AppSettings::registerDefaults();
    TypingStatsStore::testReset();
    TypingStatsStore::reset();
    RuntimeDiagnostics::testReset();
  }
  void TearDown() override {
    // A released session's last snapshot is written on the utility queue, into this fixture.
    {
      std::unique_lock lock(engine_.mu);
      engine_.written.wait(lock, [&] {
        return engine_.destroyed == engine_.nextId - 1 &&
               static_cast<int>(engine_.writeThreads.size()) == engine_.snapshots;
      });
    }
    RuntimeDiagnostics::testWaitForQueue();
    testSetEngineSeam(nullptr);
  }

  // Types `letters` into the controller's session as the key path would.
  void type(TolvaniInputController& controller, RecordingTextClient& client, const char* letters) {
    for (const char* c = letters; *c; ++c) {
      controller.apply(controller.testEngine()->send(EngineKeyKind::text, 0, 0, QString(*c)),
                       &client);
    }
  }

  void waitForWrites(std::size_t count) {
    std::unique_lock lock(engine_.mu);
    engine_.written.wait(lock, [&] { return engine_.writeThreads.size() >= count; });
  }

  ScriptedEngine engine_;
};

TEST_F(TolvaniInputControllerTest, DeactivationWhileComposingCommitsAndSavesOffTheMainThread) {
  RecordingTextClient client(u("x "));
  auto controller = std::make_unique<TolvaniInputController>(&client);
  EXPECT_EQ(controller->recognizedEvents(), 1024u);
  EXPECT_TRUE(engine_.takeCalls().empty()) << "the session is made at activation";
  controller->activateServer(&client);
  EXPECT_EQ(engine_.takeCalls(),
            (std::vector<std::string>{"create 1", "config 0", "mode 0 1", "config 0", "mode 0 1"}));
  type(*controller, client, "ami");
  EXPECT_EQ(client.markedText(), u("কami"));
  EXPECT_EQ(client.document(), u("x কami"));
  engine_.takeCalls();

  controller->deactivateServer(nullptr);
  EXPECT_EQ(client.document(), u("x কami"));
  EXPECT_TRUE(client.marked().isNotFound());
  EXPECT_EQ(client.insertions(), QStringList{u("কami")});
  EXPECT_TRUE(controller->testCurrentState().preedit.empty());
  EXPECT_FALSE(controller->testPanel()->layout().state != CandidatePanel::State::hidden);
  waitForWrites(1);
  EXPECT_NE(engine_.writeThreads.front(), std::this_thread::get_id());
  const std::vector<std::string> calls = engine_.takeCalls();
  EXPECT_EQ(calls.front(), "key 1 1") << "the composition is committed with a Space of no text";
  EXPECT_NE(std::find(calls.begin(), calls.end(), "snapshot 1"), calls.end());

  // The same controller activates again without a new session, in the mode it had.
  controller->testSetCurrentMode(KeyboardMode::probhat);
  controller->activateServer(&client);
  EXPECT_EQ(engine_.takeCalls(), (std::vector<std::string>{"config 0", "mode 1 1"}));
  EXPECT_EQ(controller->testCurrentMode(), KeyboardMode::probhat);

  // Committing with raw text but no preedit resets without inserting anything.
  controller->apply(EngineState{0, 0, "", "a", "", {}, "", {}, "", ""}, &client);
  client.clearLog();
  controller->commitComposition(nullptr);
  EXPECT_TRUE(client.insertions().isEmpty());
  EXPECT_EQ(engine_.takeCalls(), std::vector<std::string>{"reset 1"});

  controller.reset();
  waitForWrites(2);
  EXPECT_EQ(engine_.takeCalls(), (std::vector<std::string>{"snapshot 1", "destroy 1"}));
  TypingStatsStore::flush();
  EXPECT_EQ(TypingStatsStore::load().sessionCount, 1);
}

TEST_F(TolvaniInputControllerTest, SecureEntryStopsLearningAndKeepsNothingComposed) {
  RecordingTextClient client;
  client.setInputPurpose(platform::InputPurpose::password);
  TolvaniInputController controller(&client);
  controller.activateServer(&client);
  EXPECT_TRUE(controller.testLearningSuppressed());
  EXPECT_EQ(engine_.takeCalls(), (std::vector<std::string>{"create 1", "config 0", "mode 0 1",
                                                           "config 16", "reset 1", "mode 0 1"}));
  TypingStatsStore::flush();
  EXPECT_EQ(TypingStatsStore::load().sessionCount, 0) << "no session is counted";

  // Off again: learning comes back; typing composes.
  client.setInputPurpose(platform::InputPurpose::freeForm);
  controller.commitComposition(&client);
  EXPECT_FALSE(controller.testLearningSuppressed());
  EXPECT_EQ(engine_.takeCalls(), std::vector<std::string>{"config 0"});
  type(controller, client, "ab");
  EXPECT_EQ(client.markedText(), u("কab"));

  // A PIN field while composing: the preedit goes in as plain text and the engine is reset.
  client.setInputPurpose(platform::InputPurpose::pin);
  engine_.takeCalls();
  controller.commitComposition(&client);
  EXPECT_EQ(client.document(), u("কab"));
  EXPECT_TRUE(client.marked().isNotFound());
  EXPECT_EQ(client.insertions(), QStringList{u("কab")});
  EXPECT_EQ(engine_.takeCalls(), (std::vector<std::string>{"config 16", "reset 1"}));
  EXPECT_TRUE(controller.testCurrentState().preedit.empty());
}

TEST_F(TolvaniInputControllerTest, SettingsChangesReachTheEngine) {
  RecordingTextClient client;
  TolvaniInputController controller(&client);
  controller.activateServer(&client);
  type(controller, client, "ka");
  engine_.takeCalls();

  // A new default mode commits the composition before the mode changes.
  AppSettings::setDefaultMode(KeyboardMode::national);
  AppSettings::postDidChange(false);
  EXPECT_EQ(client.insertions(), QStringList{u("কka")});
  std::vector<std::string> calls = engine_.takeCalls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "key 1 1");
  EXPECT_EQ(calls[1], "reset 1");
  EXPECT_EQ(calls[2], "mode 2 1");
  EXPECT_EQ(calls.back(), "config 0");
  EXPECT_EQ(controller.testCurrentMode(), KeyboardMode::national);

  AppSettings::postDidChange(true);
  EXPECT_EQ(engine_.takeCalls(), (std::vector<std::string>{"reload", "config 0"}));

  // Under secure entry only the reload happens; mode and preferences wait.
  client.setInputPurpose(platform::InputPurpose::password);
  controller.commitComposition(&client);
  engine_.takeCalls();
  AppSettings::setDefaultMode(KeyboardMode::phonetic);
  AppSettings::postDidChange(true);
  EXPECT_EQ(engine_.takeCalls(), std::vector<std::string>{"reload"});
  EXPECT_EQ(controller.testCurrentMode(), KeyboardMode::national);

  // A change posted from another thread reaches the controller on the main thread.
  client.setInputPurpose(platform::InputPurpose::freeForm);
  std::thread([] { AppSettings::postDidChange(false); }).join();
  EXPECT_TRUE(engine_.takeCalls().empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(controller.testCurrentMode(), KeyboardMode::phonetic);
}

TEST_F(TolvaniInputControllerTest, FailedSessionIsNotRetriedAndKeysPassThrough) {
  engine_.createFails = true;
  platform::log::Capture log;
  RecordingTextClient client(u("abc"));
  TolvaniInputController controller(&client);
  controller.activateServer(&client);
  controller.activateServer(&client);
  EXPECT_TRUE(controller.testEngineFailed());
  EXPECT_EQ(log.lines().size(), 1) << "one critical line";
  EXPECT_FALSE(controller.handle(KeyEvent{true, 0, 0, "a", "a"}, &client));
  controller.deactivateServer(&client);
  AppSettings::postDidChange(true);
  EXPECT_EQ(client.document(), u("abc"));
  EXPECT_TRUE(client.insertions().isEmpty());
  EXPECT_TRUE(engine_.takeCalls().empty());
}

TEST_F(TolvaniInputControllerTest, TwoClientsKeepSeparateControllersAndSessions) {
  RecordingTextClient first(u("1")), second(u("2"));
  auto a = std::make_unique<TolvaniInputController>(&first);
  auto b = std::make_unique<TolvaniInputController>(&second);
  a->activateServer(&first);
  b->activateServer(&second);
  type(*a, first, "ab");
  type(*b, second, "c");
  EXPECT_EQ(first.markedText(), u("কab"));
  EXPECT_EQ(second.markedText(), u("কc"));
  a->deactivateServer(&first);
  EXPECT_EQ(first.document(), u("1কab"));
  EXPECT_EQ(second.markedText(), u("কc")) << "the other composition is untouched";
  a.reset();
  waitForWrites(2);  // the save after deactivation, then the session's last one
  const std::vector<std::string> calls = engine_.takeCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "destroy 1"), calls.end());
  EXPECT_EQ(std::find(calls.begin(), calls.end(), "destroy 2"), calls.end());
  b->commitComposition(nullptr);
  EXPECT_EQ(second.document(), u("2কc"));
  b.reset();
  waitForWrites(3);
}

}  // namespace
}  // namespace tolvani
