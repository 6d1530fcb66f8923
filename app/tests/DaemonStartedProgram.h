// The built program as a private IBus daemon starts it ("tolvani --ibus") on a virtual X display,
// for the tests that end it from outside: a script between the daemon and the program leaves
// behind the program's process id, what it wrote to standard error and its exit status (128 and
// the signal's number when a signal ended it). Thread-safety: the test's thread only.
#ifndef TOLVANI_APP_TESTS_DAEMONSTARTEDPROGRAM_H_
#define TOLVANI_APP_TESTS_DAEMONSTARTEDPROGRAM_H_

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/ProcessMemory.h"
#include "ime/testing/ProgramWrapper.h"
#include "ime/testing/VirtualDesktop.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani::testing {

inline QString readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

inline QJsonObject readJson(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

template <typename Base = ::testing::Test>
class DaemonStartedProgram : public Base {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    const QString components = componentStartingThroughWrapper(folder_.path());
    ASSERT_FALSE(components.isEmpty());

    // No QT_QUICK_BACKEND=software: the setup window's web view draws with GL, as it does when a
    // desktop session's daemon starts the program, and its end talks to the X server.
    desktop_ = std::make_unique<VirtualDesktop>(IBusDaemonHarness::Options{
        components,
        QString(),
        /*quiet=*/true,
        /*firstStart=*/false,
        {QStringLiteral("TOLVANI_TEST_WINDOWS=") + report(),
         QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX=1"),
         QStringLiteral("ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0")}});
    ASSERT_TRUE(desktop_->ready()) << desktop_->failure().toStdString();
    // English window titles.
    qputenv("XDG_CONFIG_HOME", desktop_->ibus().configHome().toUtf8());
    platform::Defaults::testResetStandard();
    AppSettings::setUiLanguage(1);
  }
  void TearDown() override { desktop_.reset(); }

  // The file the program reports its shown windows to.
  QString report() const { return folder_.filePath(QStringLiteral("windows.txt")); }
  // Waits until a line of the report matches `pattern`.
  bool reported(const QString& pattern) {
    const QRegularExpression line(QLatin1Char('^') + pattern, QRegularExpression::MultilineOption);
    return desktop_->ibus().waitFor([&] { return line.match(readAll(report())).hasMatch(); });
  }

  // Types two words into a new context of the program the daemon starts for it.
  void typeWords(TestInputContext& context) {
    IBusDaemonHarness& ibus = desktop_->ibus();
    context.focusIn();
    context.selectEngine("tolvani");
    ASSERT_TRUE(ibus.waitFor([&] {
      return ibus.events().contains("activate " + context.objectPath()) && !context.menu.isEmpty();
    })) << ibus.events().join('\n').toStdString();
    EXPECT_EQ(typeKeys(context, "ami tomake "), 0);
    ASSERT_TRUE(ibus.waitFor([&] { return context.commits.size() == 2; }))
        << context.commits.join('|').toStdString();
  }

  // Opens the setup window from the input menu and waits until its page has drawn its buttons.
  void openSetupWindow(TestInputContext& context) {
    context.activateProperty("openKeyboardSetup");
    desktop_->ibus().settle();
    ASSERT_TRUE(desktop_->waitForWindow(QStringLiteral("Keyboard Setup"), 20000));
    ASSERT_TRUE(reported(QStringLiteral("page\t"))) << readAll(report()).toStdString();
    windowProcess_ = setupWindowProcess(programId());
    ASSERT_GT(windowProcess_, 0) << "the setup window shows in no process of its own";
  }

  // The program's process id, once the daemon has started it; 0 before.
  pid_t programId() const {
    return static_cast<pid_t>(readAll(folder_.filePath(QStringLiteral("pid"))).trimmed().toInt());
  }

  // Waits for the program to end and checks that it ended with status 0, not by a signal, after
  // saving what it learned and its statistics.
  void expectACleanEndWithEverythingSaved() {
    const QString status = folder_.filePath(QStringLiteral("status"));
    ASSERT_TRUE(desktop_->ibus().waitFor([&] { return readAll(status).endsWith('\n'); }))
        << "the program did not end\n"
        << errors().toStdString();
    EXPECT_EQ(readAll(status).toStdString(), "0\n") << errors().toStdString();
    const QString data = desktop_->ibus().root() + QStringLiteral("/data/tolvani/");
    const QJsonObject words =
        readJson(data + QStringLiteral("user-dictionary.json"))["words"].toObject();
    EXPECT_EQ(words[QString::fromUtf8("তোমাকে")].toObject()["frequency"].toInt(), 1)
        << QJsonDocument(words).toJson().toStdString();
    const QJsonObject stats = readJson(data + QStringLiteral("typing-stats.json"));
    EXPECT_GT(stats["totalKeystrokes"].toInt(), 0) << QJsonDocument(stats).toJson().toStdString();
    // The setup window's process ends with the program, and not by a crash, which the program
    // would have logged had it outlived it.
    if (windowProcess_ != 0) {
      EXPECT_TRUE(waitUntil([&] { return !isRunning(windowProcess_); }, 10000));
    }
    EXPECT_FALSE(errors().contains(QLatin1String("setup window's process")))
        << errors().toStdString();
  }
  QString errors() const { return readAll(folder_.filePath(QStringLiteral("stderr"))); }

  QTemporaryDir folder_;
  std::unique_ptr<VirtualDesktop> desktop_;
  qint64 windowProcess_ = 0;  // the setup window's, once opened
};

}  // namespace tolvani::testing

#endif  // TOLVANI_APP_TESTS_DAEMONSTARTEDPROGRAM_H_
