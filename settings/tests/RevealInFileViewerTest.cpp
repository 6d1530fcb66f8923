#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDesktopServices>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "platform/testing/UrlCatcher.h"
#include "settings/AppSettingsUserData.h"

namespace tolvani {
namespace {

// A file manager on the bus: records what ShowItems is asked, and refuses when told to.
class FakeFileManager : public QDBusVirtualObject {
 public:
  QList<QVariantList> calls;
  bool refuse = false;

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QStringLiteral("ShowItems")) return false;
    calls << message.arguments();
    connection.send(refuse ? message.createErrorReply(QDBusError::Failed, QStringLiteral("no"))
                           : message.createReply());
    return true;
  }
};

class RevealInFileViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
    ASSERT_TRUE(bus_.waitForReadyRead(10000)) << "dbus-daemon did not start";
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher_, "open");
  }
  void TearDown() override {
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDBusConnection::disconnectFromBus(QStringLiteral("viewer"));
    QDBusConnection::disconnectFromBus(QStringLiteral("program"));
    bus_.kill();
    bus_.waitForFinished();
  }
  QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(address_, name);
  }

  QProcess bus_;
  QString address_;
  testing::UrlCatcher catcher_;
  QTemporaryDir folder_;
};

TEST_F(RevealInFileViewerTest, TheFileManagerSelectsTheFolderOrTheFolderItselfIsOpened) {
  const QUrl url = QUrl::fromLocalFile(folder_.path());

  // No file manager on the bus, and no bus at all: the folder itself is opened, at once.
  QDBusConnection program = connect(QStringLiteral("program"));
  ASSERT_TRUE(program.isConnected());
  AppSettings::revealInFileViewer(folder_.path(), program);
  AppSettings::revealInFileViewer(folder_.path(), QDBusConnection(QStringLiteral("not connected")));
  EXPECT_EQ(catcher_.urls, (QList<QUrl>{url, url}));
  catcher_.urls.clear();

  // A file manager shows the folder selected, with no startup token; nothing else is opened.
  FakeFileManager manager;
  QDBusConnection viewer = connect(QStringLiteral("viewer"));
  ASSERT_TRUE(
      viewer.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));
  ASSERT_TRUE(viewer.registerService(QStringLiteral("org.freedesktop.FileManager1")));
  AppSettings::revealInFileViewer(folder_.path(), program);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !manager.calls.isEmpty(); }, 10000));
  EXPECT_EQ(manager.calls.first(), (QVariantList{QStringList{url.toString()}, QString()}));
  QTest::qWait(100);
  EXPECT_TRUE(catcher_.urls.isEmpty());

  // One that refuses: the folder itself is opened once its answer comes.
  manager.refuse = true;
  AppSettings::revealInFileViewer(folder_.path(), program);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher_.urls.isEmpty(); }, 10000));
  EXPECT_EQ(manager.calls.size(), 2);
  EXPECT_EQ(catcher_.urls, QList<QUrl>{url});
}

}  // namespace
}  // namespace tolvani
