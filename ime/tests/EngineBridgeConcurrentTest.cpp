// The real engine behind bridges used from several threads at once, as the input method does:
// keys on the main thread while a utility thread saves and shut-down saves every bridge. Run
// under ThreadSanitizer, a call on the session outside its lock or a lock-order inversion between
// the save lock and the session lock is reported.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ime/EngineBridge.h"
#include "platform/Queues.h"
#include "stats/RuntimeDiagnostics.h"

namespace tolvani {
namespace {

TEST(EngineBridgeConcurrentTest, KeysRaceSavesAndShutdownSavesWithoutADataRaceOrDeadlock) {
  // Lives until exit, after the utility queue has run the bridges' last writes.
  static QTemporaryDir data;
  ASSERT_TRUE(data.isValid());
  qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
  std::shared_ptr<EngineBridge> bridge = EngineBridge::create(KeyboardMode::phonetic);
  std::shared_ptr<EngineBridge> second = EngineBridge::create(KeyboardMode::probhat);
  ASSERT_TRUE(bridge && second);

  constexpr int kSaves = 20;
  std::mutex mu;
  std::condition_variable cv;
  int savesDone = 0;
  for (int i = 0; i < kSaves; ++i) {
    platform::utilityQueue().async([&] {
      bridge->sync();
      std::lock_guard lock(mu);
      ++savesDone;
      cv.notify_all();
    });
  }
  std::atomic<bool> typing{true};
  std::thread shutdown([&] {
    while (typing) EngineBridge::syncAllForShutdown();
  });
  std::thread converter([&] {  // a second bridge on its own thread, as the Banglish converter's
    while (typing) second->send(EngineKeyKind::text, 0, 0, QStringLiteral("j"));
  });

  int commits = 0;
  for (int round = 0; round < 30; ++round) {
    for (const QChar c : QStringLiteral("ami")) {
      bridge->send(EngineKeyKind::text, 0, 0, QString(c));
    }
    const EngineState state = bridge->send(EngineKeyKind::space, 49, 0, QStringLiteral(" "));
    if (!state.commit_text.empty()) ++commits;
  }
  typing = false;
  shutdown.join();
  converter.join();
  {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return savesDone == kSaves; });
  }
  EXPECT_EQ(commits, 30);
  EXPECT_TRUE(bridge->sync());
  EXPECT_TRUE(QDir(data.path()).exists("user-bigrams.json") ||
              QDir(data.path()).exists("user-dictionary.json"))
      << "learning reached the disk";
  bridge.reset();
  second.reset();
  RuntimeDiagnostics::testWaitForQueue();  // saves ask for a diagnostics write
}

}  // namespace
}  // namespace tolvani
