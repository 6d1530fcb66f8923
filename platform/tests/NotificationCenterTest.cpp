#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "platform/testing/ChildProcess.h"

namespace tolvani::platform {
namespace {

TEST(NotificationCenterTest, ObserversRunInOrderAndMayChangeTheListDuringAPost) {
  NotificationCenter center;
  QStringList calls;
  NotificationCenter::Token second = 0;
  NotificationCenter::Token self = 0;
  auto add = [&](const char* name, std::function<void()> extra = {}) {
    return center.addObserver(QStringLiteral("n"), [&, name, extra](const Notification&) {
      calls << QLatin1String(name);
      if (extra) extra();
    });
  };
  add("first", [&] { add("late"); });  // added during the post: not called by it
  self = add("self", [&] {
    center.removeObserver(self);
    center.removeObserver(second);  // removed before its turn: not called
  });
  second = add("second");
  center.addObserver(QStringLiteral("other"), [&](const Notification&) { calls << "other"; });

  center.post(QStringLiteral("n"));
  EXPECT_EQ(calls.join(' '), QStringLiteral("first self"));
  calls.clear();
  center.post(QStringLiteral("n"));
  EXPECT_EQ(calls.join(' '), QStringLiteral("first late"));
  center.removeObserver(self);  // twice: nothing happens
  center.removeObserver(9999);
}

TEST(NotificationCenterTest, UserInfoArrivesAsPostedAndAPostInsideAnObserverReachesEveryone) {
  NotificationCenter center;
  QStringList calls;
  auto info = [](const Notification& n) {
    return !n.userInfo ? QStringLiteral("none") : n.userInfo->value("d", "{}").toString();
  };
  center.addObserver(QStringLiteral("n"), [&](const Notification& n) {
    calls << QStringLiteral("a:") + info(n);
    if (info(n) == QStringLiteral("0"))
      center.post(QStringLiteral("n"), QVariantMap{{QStringLiteral("d"), qint64{1}}});
  });
  EXPECT_NE(center.addObserver(QStringLiteral("n"),
                               [&](const Notification& n) { calls << "b:" + info(n); }),
            0u);
  center.post(QStringLiteral("n"));
  center.post(QStringLiteral("n"), QVariantMap{});
  center.post(QStringLiteral("n"), QVariantMap{{QStringLiteral("d"), qint64{0}}});
  EXPECT_EQ(calls.join(' '), QStringLiteral("a:none b:none a:{} b:{} a:0 a:1 b:1 b:0"));
}

// The program crashed at exit in removeObserver: the table of input controllers was made before
// the default centre was first used, so the exit handlers ended the centre first and the
// controllers then removed their observers from it.
TEST(NotificationCenterTest, DefaultCenterOutlivesObjectsMadeBeforeItsFirstUse) {
  const testing::ChildResult child = testing::runChild(QStringLiteral("removeObserverAtExit"));
  EXPECT_EQ(child.exitCode, 0) << child.standardError.toStdString();
  EXPECT_EQ(child.standardOutput, "removed\n");
}

TOLVANI_CHILD_ROLE_WITHOUT_APPLICATION(removeObserverAtExit) {
  static struct Holder {
    NotificationCenter::Token token = 0;
    ~Holder() {
      NotificationCenter::defaultCenter().removeObserver(token);
      std::printf("removed\n");
      std::fflush(stdout);
    }
  } holder;
  holder.token = NotificationCenter::defaultCenter().addObserver(QStringLiteral("n"),
                                                                 [](const Notification&) {});
  std::exit(0);
}

}  // namespace
}  // namespace tolvani::platform
