// The setup window follows fcitx5 as it follows IBus's daemon: fcitx5 starting (the session's
// framework chosen, or at the next login) and ending each reach the window, so that it checks
// again. A real fcitx5 daemon on a private session bus, with a private profile.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "setup/onboarding/InputSourceWatch.h"

namespace tolvani {
namespace {

bool spinUntil(const std::function<bool()>& done) {
  QDeadlineTimer limit(20000);
  while (!done() && !limit.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST(InputSourceWatchTest, Fcitx5StartingAndEndingIsEachAChange) {
  if (QStandardPaths::findExecutable(QStringLiteral("fcitx5")).isEmpty())
    GTEST_SKIP() << "fcitx5 is not installed";
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  QDir().mkpath(root.path() + "/config/fcitx5");
  QDir().mkpath(root.path() + "/runtime");
  QFile::setPermissions(root.path() + "/runtime",
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  QProcess bus;
  bus.setStandardErrorFile(QProcess::nullDevice());
  bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                            QStringLiteral("--print-address=1")});
  ASSERT_TRUE(bus.waitForStarted());
  QByteArray address;
  while (!address.contains('\n') && bus.waitForReadyRead(10000))
    address += bus.readAllStandardOutput();
  ASSERT_TRUE(address.contains('\n'));
  // This process's session bus, before anything in it connects to one.
  qputenv("DBUS_SESSION_BUS_ADDRESS", address.trimmed());
  qputenv("GSETTINGS_BACKEND", "memory");
  qputenv("IBUS_ADDRESS", QFile::encodeName("unix:path=" + root.path() + "/runtime/no-ibus"));

  int changes = 0;
  const std::unique_ptr<InputSourceWatch> watch =
      InputSourceWatch::forInputSources([&] { ++changes; });

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", root.path());
  env.insert("XDG_CONFIG_HOME", root.path() + "/config");
  env.insert("XDG_RUNTIME_DIR", root.path() + "/runtime");
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  QProcess fcitx5;
  fcitx5.setProcessEnvironment(env);
  fcitx5.setStandardOutputFile(QProcess::nullDevice());
  fcitx5.setStandardErrorFile(QProcess::nullDevice());
  fcitx5.start(QStringLiteral("fcitx5"), {QStringLiteral("-D"), QStringLiteral("--disable=all"),
                                          QStringLiteral("--enable=dbus,keyboard")});
  ASSERT_TRUE(fcitx5.waitForStarted());
  EXPECT_TRUE(spinUntil([&] { return changes > 0; })) << "fcitx5's start";

  changes = 0;
  fcitx5.terminate();
  ASSERT_TRUE(fcitx5.waitForFinished(10000));
  EXPECT_TRUE(spinUntil([&] { return changes > 0; })) << "fcitx5's end";
  // Once each.
  QCoreApplication::processEvents();
  EXPECT_EQ(changes, 1);

  bus.terminate();
  bus.waitForFinished(5000);
}

}  // namespace
}  // namespace tolvani
