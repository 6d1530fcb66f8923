// The X server ending under the program the IBus daemon started, as it does when a desktop session
// ends: the program saves what it learned and its statistics and exits 0 without a crash, with no
// window open and with every window the input menu and the settings window open.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <utility>

#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/VirtualDesktop.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::TestInputContext;
using testing::VirtualDesktop;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

QString readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QJsonObject readJson(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

class DisplayLossTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    // The daemon starts the built program through a script that leaves its exit status (128 and
    // the signal's number for a crash) and what it wrote to standard error behind.
    const QString script = folder_.filePath(QStringLiteral("tolvani"));
    QFile wrapper(script);
    ASSERT_TRUE(wrapper.open(QIODevice::WriteOnly));
    wrapper.write("#!/bin/sh\n'" TOLVANI_PROGRAM "' \"$@\" 2> '" +
                  folder_.filePath(QStringLiteral("stderr")).toUtf8() + "'\necho $? > '" +
                  folder_.filePath(QStringLiteral("status")).toUtf8() + "'\n");
    wrapper.close();
    wrapper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QString component = readAll(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR "/tolvani.xml"));
    ASSERT_TRUE(component.contains(QStringLiteral(TOLVANI_PROGRAM " --ibus")));
    component.replace(QStringLiteral(TOLVANI_PROGRAM " --ibus"),
                      script + QStringLiteral(" --ibus"));
    QDir(folder_.path()).mkdir(QStringLiteral("component"));
    QFile xml(folder_.filePath(QStringLiteral("component/tolvani.xml")));
    ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
    xml.write(component.toUtf8());
    xml.close();

    desktop_ = std::make_unique<VirtualDesktop>(testing::IBusDaemonHarness::Options{
        folder_.filePath(QStringLiteral("component")),
        QString(),
        /*quiet=*/true,
        /*firstStart=*/false,
        {QStringLiteral("TOLVANI_TEST_WINDOWS=") + report(),
         QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX=1"),
         QStringLiteral("QT_QUICK_BACKEND=software"),
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
  // Clicks the settings window's tab number `tab`, then its link `link`, and waits for the window
  // of this object name.
  void openFromSettings(int tab, const char* link, const char* window) {
    ASSERT_TRUE(desktop_->click(inSettings(QString(), tab).center()));
    ASSERT_TRUE(desktop_->click(inSettings(QLatin1String(link)).center()));
    EXPECT_TRUE(reported(QStringLiteral("window\t[^\t]*\t") + QLatin1String(window) + '\t'))
        << window << "\n"
        << readAll(report()).toStdString();
  }
  // Where the settings window shows its widget named `name`, or else its tab number `tab`, once
  // the program reports it; empty when it does not.
  QRect inSettings(const QString& name, int tab = -1) {
    QRect found;
    desktop_->ibus().waitFor([&] {
      QString window;
      int tabs = 0;
      for (const QString& line : readAll(report()).split(u'\n')) {
        const QStringList f = line.split(u'\t');
        if (f[0] == QLatin1String("window")) window = f.value(2);
        if (window != QLatin1String("settingsWindow")) continue;
        const bool hit = name.isEmpty() ? f[0] == QLatin1String("tab") && tabs++ == tab
                                        : f[0] == QLatin1String("widget") && f.value(2) == name;
        if (!hit) continue;
        const QStringList n = f.value(name.isEmpty() ? 2 : 4).split(u' ');
        if (n.size() == 4) found = QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
      }
      return !found.isEmpty();
    });
    return found;
  }

  // Types two words into a new context of the program the daemon starts for it.
  void typeWords(TestInputContext& context) {
    testing::IBusDaemonHarness& ibus = desktop_->ibus();
    context.focusIn();
    context.selectEngine("tolvani");
    ASSERT_TRUE(ibus.waitFor([&] {
      return ibus.events().contains("activate " + context.objectPath()) && !context.menu.isEmpty();
    })) << ibus.events().join('\n').toStdString();
    EXPECT_EQ(testing::typeKeys(context, "ami tomake "), 0);
    ASSERT_TRUE(ibus.waitFor([&] { return context.commits.size() == 2; }))
        << context.commits.join('|').toStdString();
  }

  // Ends the X server, waits for the program to end, and checks that it ended with status 0
  // after saving what it learned and its statistics.
  void endDisplayExpectingACleanEnd() {
    desktop_->endDisplay();
    const QString status = folder_.filePath(QStringLiteral("status"));
    ASSERT_TRUE(desktop_->ibus().waitFor([&] { return readAll(status).endsWith('\n'); }))
        << "the program did not end\n"
        << errors().toStdString();
    EXPECT_EQ(readAll(status).toStdString(), "0\n") << errors().toStdString();
    const QString data = desktop_->ibus().root() + QStringLiteral("/data/tolvani/");
    const QJsonObject words =
        readJson(data + QStringLiteral("user-dictionary.json"))["words"].toObject();
    EXPECT_EQ(words[u("তোমাকে")].toObject()["frequency"].toInt(), 1)
        << QJsonDocument(words).toJson().toStdString();
    const QJsonObject stats = readJson(data + QStringLiteral("typing-stats.json"));
    EXPECT_GT(stats["totalKeystrokes"].toInt(), 0) << QJsonDocument(stats).toJson().toStdString();
  }
  QString errors() const { return readAll(folder_.filePath(QStringLiteral("stderr"))); }

  QTemporaryDir folder_;
  std::unique_ptr<VirtualDesktop> desktop_;
};

TEST_F(DisplayLossTest, EndOfTheDisplaySavesAndExitsZero) {
  TestInputContext context(desktop_->ibus(), "editor");
  ASSERT_NO_FATAL_FAILURE(typeWords(context));
  endDisplayExpectingACleanEnd();
}

TEST_F(DisplayLossTest, EndOfTheDisplayWithEveryWindowOpenSavesAndExitsZero) {
  TestInputContext context(desktop_->ibus(), "editor");
  ASSERT_NO_FATAL_FAILURE(typeWords(context));
  // The settings window last, on top, for the clicks that open its editors.
  const std::pair<const char*, const char*> rows[] = {
      {"openCustomLayoutEditor", "Custom Key Mappings"},
      {"openTypingStats", "Typing Insights"},
      {"openKeyboardHelp", "কীবোর্ড লে-আউট সাহায্য"},
      {"openKeyboardSetup", "Keyboard Setup"},
      {"openPreferences", "Tolvani"}};
  for (const auto& [row, title] : rows) {
    context.activateProperty(row);
    desktop_->ibus().settle();
    ASSERT_TRUE(desktop_->waitForWindow(u(title), 20000)) << title;
  }
  // The typing tab's text-shortcuts editor; then, with the settings window raised again (a
  // fresh view, on its first tab), the data tab's learned-words editor.
  ASSERT_NO_FATAL_FAILURE(openFromSettings(1, "textShortcuts", "textShortcutsWindow"));
  context.activateProperty("openPreferences");
  desktop_->ibus().settle();
  ASSERT_FALSE(inSettings(QStringLiteral("defaultLayout")).isEmpty());
  ASSERT_NO_FATAL_FAILURE(openFromSettings(2, "editDictionary", "userDictionaryWindow"));
  endDisplayExpectingACleanEnd();
}

}  // namespace
}  // namespace tolvani
