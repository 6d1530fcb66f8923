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

}  // namespace
}  // namespace tolvani::platform
