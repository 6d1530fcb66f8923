// The main of the front end's test programs: the Qt application exists before any test, as it
// does in the program, so the main queue and widgets work. Each test program gets its own home
// and XDG folders in a temporary folder and no session bus, so that tests never touch the user's
// settings or desktop services and programs running side by side never share files; children
// started in a role (ChildProcess.h) inherit them and run their role instead of the tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <memory>

#include "platform/testing/ChildProcess.h"

namespace {

std::unique_ptr<QTemporaryDir> makePrivateHome() {
  auto home =
      std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tolvani-test-XXXXXX"));
  if (!home->isValid()) return nullptr;
  const QString root = home->path();
  const std::pair<const char*, const char*> folders[] = {{"HOME", "/home"},
                                                         {"XDG_CONFIG_HOME", "/home/.config"},
                                                         {"XDG_DATA_HOME", "/home/.local/share"},
                                                         {"XDG_CACHE_HOME", "/home/.cache"},
                                                         {"XDG_RUNTIME_DIR", "/runtime"}};
  for (const auto& [variable, relative] : folders) {
    const QString folder = root + QLatin1String(relative);
    QDir().mkpath(folder);
    qputenv(variable, QFile::encodeName(folder));
  }
  ::chmod(QFile::encodeName(root + QStringLiteral("/runtime")).constData(), 0700);
  // Tests that need a session bus start their own.
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  return home;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int childExit = 0;
  if (tolvani::testing::runChildRoleIfAsked(false, childExit)) return childExit;
  std::unique_ptr<QTemporaryDir> home;
  if (!tolvani::testing::isChild()) home = makePrivateHome();
  // Qt WebEngine shares its GL context with the application's; this must precede the application.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  if (tolvani::testing::runChildRoleIfAsked(true, childExit)) return childExit;
  return RUN_ALL_TESTS();
}
