#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace tolvani::platform {
namespace {

TEST(NotificationCenterTest, ObserversRunInOrderAndMayChangeTheListDuringAPost) {
  NotificationCenter center;
  QStringList calls;
  NotificationCenter::Token second = 0;
  NotificationCenter::Token self = 0;
  center.addObserver(QStringLiteral("n"), [&](const Notification&) {
    calls << QStringLiteral("first");
    // Added during the post: not called by it.
    center.addObserver(QStringLiteral("n"),
                       [&](const Notification&) { calls << QStringLiteral("late"); });
  });
  self = center.addObserver(QStringLiteral("n"), [&](const Notification&) {
    calls << QStringLiteral("self");
    center.removeObserver(self);
    center.removeObserver(second);  // removed before its turn: not called
  });
  second = center.addObserver(QStringLiteral("n"),
                              [&](const Notification&) { calls << QStringLiteral("second"); });
  center.addObserver(QStringLiteral("other"),
                     [&](const Notification&) { calls << QStringLiteral("other"); });

  center.post(QStringLiteral("n"));
  EXPECT_EQ(calls.join(' '), QStringLiteral("first self"));
  calls.clear();
  center.post(QStringLiteral("n"));
  EXPECT_EQ(calls.join(' '), QStringLiteral("first late"));
  center.removeObserver(self);  // twice: nothing happens
  center.removeObserver(9999);
}

TEST(NotificationCenterTest, UserInfoArrivesAsPostedAndAbsentStaysAbsent) {
  NotificationCenter center;
  std::vector<Notification> seen;
  const NotificationCenter::Token token =
      center.addObserver(QStringLiteral("n"), [&](const Notification& n) { seen.push_back(n); });
  EXPECT_NE(token, 0u);
  center.post(QStringLiteral("n"));
  center.post(QStringLiteral("n"), QVariantMap{{QStringLiteral("reloadUserData"), true}});
  center.post(QStringLiteral("n"), QVariantMap{});
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].name, QStringLiteral("n"));
  EXPECT_FALSE(seen[0].userInfo.has_value());
  EXPECT_EQ(seen[1].userInfo, (QVariantMap{{QStringLiteral("reloadUserData"), true}}));
  EXPECT_EQ(seen[2].userInfo, QVariantMap{});
}

TEST(NotificationCenterTest, APostInsideAnObserverReachesEveryoneAgain) {
  NotificationCenter center;
  int depth = 0;
  QStringList calls;
  center.addObserver(QStringLiteral("n"), [&](const Notification& n) {
    calls << QStringLiteral("a") + n.userInfo->value(QStringLiteral("d")).toString();
    if (depth++ == 0)
      center.post(QStringLiteral("n"), QVariantMap{{QStringLiteral("d"), qint64{1}}});
  });
  center.addObserver(QStringLiteral("n"), [&](const Notification& n) {
    calls << QStringLiteral("b") + n.userInfo->value(QStringLiteral("d")).toString();
  });
  center.post(QStringLiteral("n"), QVariantMap{{QStringLiteral("d"), qint64{0}}});
  EXPECT_EQ(calls.join(' '), QStringLiteral("a0 a1 b1 b0"));
}

}  // namespace
}  // namespace tolvani::platform
