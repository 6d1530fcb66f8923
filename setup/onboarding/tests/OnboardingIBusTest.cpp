// One setup run from a freshly installed, unregistered Tolvani to completed onboarding, against a
// private ibus-daemon with the built program as the command-mode child and IBus's own tools; then
// a change of the user's input sources reaching the open window.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>

#include "platform/Bundle.h"
#include "settings/AppSettings.h"
#include "setup/InputSourceProbe.h"
#include "setup/SystemUser.h"
#include "setup/onboarding/tests/OnboardingTestSupport.h"
#include "setup/tests/PrivateIBusDaemon.h"

namespace tolvani {
namespace {

using testing::settleUntil;

class OnboardingIBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    ASSERT_TRUE(resources_.isValid());
    daemon_ = std::make_unique<testing::PrivateIBusDaemon>(root_.path());
    QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + "/glib-2.0/settings/keyfile");
    // The steps that change the desktop refuse the superuser: as root (as on CI) the children and
    // this process act for an ordinary user id.
    qputenv("TOLVANI_TEST_USER_ID", "1000");
    systemuser::testSetId(1000);
#ifdef TOLVANI_PROGRAM
    program_ = QStringLiteral(TOLVANI_PROGRAM);
    component_ = QStringLiteral(TOLVANI_PROGRAM_COMPONENT);
#endif
    if (!QFileInfo::exists(program_) || !QFileInfo::exists(component_))
      GTEST_SKIP() << "the build has no program or no component file";
    InputSourceProbe::testSetExecutable(program_);
    platform::bundle::testSetResourcesDir(resources_.path());  // the native panel only
    AppSettings::setOnboardingCompleted(false);
  }
  void TearDown() override {
    controller_.reset();
    daemon_.reset();
    InputSourceProbe::testSetExecutable(std::nullopt);
    platform::bundle::testSetResourcesDir(std::nullopt);
    systemuser::testSetId(std::nullopt);
    qunsetenv("TOLVANI_TEST_USER_ID");
  }

  QTemporaryDir root_;
  QTemporaryDir resources_;
  std::unique_ptr<testing::PrivateIBusDaemon> daemon_;
  std::unique_ptr<OnboardingWindowController> controller_;
  QString program_;
  QString component_;
};

TEST_F(OnboardingIBusTest, OneRunFromNotRegisteredToOnboardingCompleted) {
  ASSERT_TRUE(daemon_->start());
  // Installed while the daemon runs, as a package is: the daemon does not know it yet.
  ASSERT_TRUE(QFile::copy(component_, daemon_->componentFolder() + "/tolvani.xml"));

  controller_ = std::make_unique<OnboardingWindowController>();
  controller_->loadGuide();
  controller_->window()->show();
  ASSERT_TRUE(settleUntil([&] { return controller_->describe().contains("busy=0"); }, 90000))
      << controller_->describe();
  EXPECT_TRUE(controller_->describe().contains(
      "status=enabled selected=1 menu=1 running=- failed=- failure=\"\" busy=0"))
      << controller_->describe();
  EXPECT_TRUE(AppSettings::onboardingCompleted());

  // Removing Tolvani from IBus's own list, which every desktop but GNOME reads, reaches the open
  // window as a change.
  GSettings* settings = g_settings_new("org.freedesktop.ibus.general");
  const gchar* none[] = {nullptr};
  g_settings_set_strv(settings, "preload-engines", none);
  g_settings_sync();
  g_object_unref(settings);
  EXPECT_TRUE(
      settleUntil([&] { return controller_->describe().contains("status=notEnabled"); }, 30000))
      << controller_->describe();
}

}  // namespace
}  // namespace tolvani
