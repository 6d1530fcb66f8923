// The real engine behind bridges used from several threads at once, as the input method does:
// keys on the main thread while a utility thread saves and shut-down saves every bridge. Run
// under ThreadSanitizer, a call on the session outside its lock or a lock-order inversion between
// the save lock and the session lock is reported.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ime/EngineBridge.h"
#include "platform/Queues.h"
#include "settings/AppSettingsUserData.h"
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
  // As the program does before it exits: a released bridge's last write, still running while the
  // process tears its statics down, corrupted the heap.
  EXPECT_TRUE(EngineBridge::waitForReleasedWrites(std::chrono::seconds(10)));
  RuntimeDiagnostics::testWaitForQueue();  // saves ask for a diagnostics write
}

void type(EngineBridge& bridge, const QString& text) {
  for (const QChar c : text) {
    if (c == QLatin1Char(' '))
      bridge.send(EngineKeyKind::space, 49, 0, QStringLiteral(" "));
    else
      bridge.send(EngineKeyKind::text, 0, 0, QString(c));
  }
}

QString learnedPairs(const QTemporaryDir& data) {
  QFile file(data.filePath(QStringLiteral("user-bigrams.json")));
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A reset confirmed in the first seconds, before the first field took the session made at the
// start, never reached that session: it kept the stores it had read before the reset, which every
// save then refused for their replaced reset_id, so nothing that field learned was ever written.
TEST(EngineBridgeConcurrentTest, AResetBeforeThePreparedSessionIsTakenReachesIt) {
  static QTemporaryDir data;
  ASSERT_TRUE(data.isValid());
  qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
  {
    std::shared_ptr<EngineBridge> earlier = EngineBridge::create(KeyboardMode::phonetic);
    ASSERT_TRUE(earlier);
    type(*earlier, QStringLiteral("bhalo achi bhalo achi "));
    ASSERT_TRUE(earlier->sync());
  }
  ASSERT_TRUE(EngineBridge::waitForReleasedWrites(std::chrono::seconds(10)));
  ASSERT_TRUE(learnedPairs(data).contains(QStringLiteral("ভালো")));

  EngineBridge::prepareSession();
  EngineBridge::testWaitForPreparedSession();
  // Its stores are read beside it: give them time to be read before the reset.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(AppSettings::resetLearnedWords());

  std::shared_ptr<EngineBridge> first = EngineBridge::create(KeyboardMode::phonetic);
  ASSERT_TRUE(first);
  type(*first, QStringLiteral("ami tumi ami kal ami tumi ami kal bhat "));
  ASSERT_TRUE(first->sync());
  const QString pairs = learnedPairs(data);
  EXPECT_TRUE(pairs.contains(QStringLiteral("তুমি")) && pairs.contains(QStringLiteral("কাল")))
      << pairs.toStdString();
  EXPECT_FALSE(pairs.contains(QStringLiteral("ভালো"))) << "the reset holds";
  first.reset();
  EXPECT_TRUE(EngineBridge::waitForReleasedWrites(std::chrono::seconds(10)));
  RuntimeDiagnostics::testWaitForQueue();
}

}  // namespace
}  // namespace tolvani
