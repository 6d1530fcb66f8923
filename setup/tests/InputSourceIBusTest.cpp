// Registration, enabling and selection against a real ibus-daemon with the built program and
// its component file, each state read by a second process: the program in command mode.
#include <gtest/gtest.h>
#include <ibus.h>
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "platform/Log.h"
#include "settings/UIStrings.h"
#include "setup/IBusInputSources.h"
#include "setup/InputSourceCommand.h"
#include "setup/InputSourceProbe.h"
#include "setup/InputSourceRegistration.h"
#include "setup/InputSourceSetup.h"
#include "setup/SessionKeymap.h"
#include "setup/SystemUser.h"
#include "setup/tests/PrivateIBusDaemon.h"
#include "setup/tests/SetupTestSupport.h"

namespace tolvani {
namespace {

using testing::await;

QString probeState() {
  return await<InputSourceSnapshot>(
      [](auto done) { InputSourceProbe::state(nullptr, std::move(done)); });
}

// The state a second process reports once the daemon answers again after a restart.
QString stateAfterRestart() {
  QString state;
  for (int i = 0; i < 40; ++i) {
    state = probeState();
    if (!state.contains(QLatin1String("notRegistered"))) break;
  }
  return state;
}

QString state(const char* status, int selected) {
  return QStringLiteral("tolvani-state status=%1 selected=%2").arg(status).arg(selected);
}

class InputSourceIBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    daemon_ = std::make_unique<testing::PrivateIBusDaemon>(root_.path());
    QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + "/glib-2.0/settings/keyfile");
    qputenv("TOLVANI_TEST_USER_ID", "1000");
    // A desktop other than GNOME unless a test says otherwise.
    qputenv("XDG_CURRENT_DESKTOP", "XFCE");
#ifdef TOLVANI_PROGRAM
    program_ = QStringLiteral(TOLVANI_PROGRAM);
    component_ = QStringLiteral(TOLVANI_PROGRAM_COMPONENT);
#endif
    if (!QFileInfo::exists(program_) || !QFileInfo::exists(component_))
      GTEST_SKIP() << "the build has no program or no component file";
    InputSourceProbe::testSetExecutable(program_);
  }
  void TearDown() override {
    IBusInputSources::testSetRestartObserver({});
    systemuser::testSetId(std::nullopt);
    daemon_.reset();
    InputSourceProbe::testSetExecutable(std::nullopt);
    qunsetenv("TOLVANI_TEST_USER_ID");
    qunsetenv("XDG_CURRENT_DESKTOP");
  }

  void installComponent() {
    ASSERT_TRUE(QFile::copy(component_, daemon_->componentFolder() + "/tolvani.xml"));
    // IBus's own keyboard engines, which an empty list of input sources gets first.
    daemon_->offerKeyboardEngines({sessionkeymap::current().front().layout});
  }
  // The key file's lists after enabling from empty ones: the session's keymap (here, with no
  // display, the system's keyboard configuration), then Tolvani.
  static QString enabledFromEmpty(bool gnome) {
    const sessionkeymap::Layout layout = sessionkeymap::current().front();
    if (gnome)
      return QStringLiteral("sources=[('xkb', '%1'), ('ibus', 'tolvani')]\n")
          .arg(sessionkeymap::gnomeName(layout));
    return QStringLiteral("preload-engines=['xkb:%1:%2:").arg(layout.layout, layout.variant);
  }
  QString keyFile() const {
    QFile file(qEnvironmentVariable("XDG_CONFIG_HOME") + "/glib-2.0/settings/keyfile");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }

  // The person's session for a restart that goes wrong: a daemon with its panel, their keyboard
  // known to it and selected, Tolvani installed while it runs (listed already with `listed`).
  void startSession(bool listed) {
    systemuser::testSetId(1000);
    ASSERT_TRUE(daemon_->startPanel());
    daemon_->keepSession();
    ASSERT_TRUE(daemon_->offerKeyboardEngines({sessionkeymap::current().front().layout}));
    if (listed) installComponent();
    ASSERT_TRUE(daemon_->start());
    if (!listed) installComponent();
    bundle_ = IBusInputSources::componentStarting(program_);
    ASSERT_TRUE(bundle_.has_value());
    testing::spinUntil([&] { return panelRuns(); });
    ASSERT_TRUE(panelRuns());
    // The person's engines and the one they type with.
    const QString keyboard = "xkb:" + sessionkeymap::current().front().layout;
    IBusBus* bus = connect();
    ASSERT_NE(bus, nullptr);
    GList* engines = ibus_bus_list_engines(bus);
    for (GList* it = engines; it; it = it->next) {
      const QString name = ibus_engine_desc_get_name(IBUS_ENGINE_DESC(it->data));
      if (name.startsWith(keyboard + "::") && typedWith_.identifier.isEmpty())
        typedWith_ = {name, true};
      g_object_unref(it->data);
    }
    g_list_free(engines);
    g_object_unref(bus);
    ASSERT_FALSE(typedWith_.identifier.isEmpty());
    ASSERT_EQ(ibus_.enable(typedWith_), 0);
    ASSERT_EQ(ibus_.select(typedWith_), 0);
    engines_ = preload();
  }

  // Runs the command with `arguments` in this process, the daemon killed as IBus's own assertions
  // kill it just as it is asked to restart; what the command printed.
  QString runKillingTheRestart(const QStringList& arguments) {
    IBusInputSources::testSetRestartObserver([&](pid_t pid) {
      killed_.push_back(pid);
      ::kill(pid, SIGABRT);
    });
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const std::optional<int> status =
        InputSourceCommand::run(arguments, bundle_->file, bundle_->name, out, err);
    IBusInputSources::testSetRestartObserver({});
    EXPECT_EQ(status, std::optional<int>(0)) << text(err).toStdString();
    return text(out);
  }

  // A daemon again, not the one killed, serving the session's socket with its panel, Tolvani
  // listed and enabled, the engine typed with current, and the person's engines as before in
  // their order with Tolvani among them once (where enabling puts it depends on the panel: the
  // layouts test checks that); and the command said so.
  void expectSessionBack(const QString& said) {
    ASSERT_EQ(killed_.size(), 1u) << "the restart was not asked for";
    EXPECT_TRUE(IBusInputSources::daemonStartedAgain());
    const std::vector<pid_t> daemons = daemon_->daemonProcesses();
    ASSERT_EQ(daemons.size(), 1u);
    EXPECT_NE(daemons.front(), killed_.front());
    EXPECT_EQ(ibus_.sources(bundle_->name, true).size(), 1u);
    testing::spinUntil([&] { return panelRuns(); });
    EXPECT_TRUE(panelRuns());
    EXPECT_EQ(ibus_.current().value_or(InputSource{}).identifier, typedWith_.identifier);
    EXPECT_EQ(ibus_.sources(bundle_->name, false).size(), 1u);
    QStringList after = preload();
    EXPECT_EQ(after.removeAll("tolvani"), 1);
    EXPECT_EQ(after, engines_);
    EXPECT_TRUE(said.contains("tolvani: " + UIStrings::setupIBusStartedAgain()))
        << said.toStdString();
  }

  // The setup window's process logs the lines the child running `tool` said.
  void expectLogged(const std::function<void(SetupCompletion<Done>)>& step) {
    const QString stand = testing::writeScript(
        root_.path() + "/child", "echo \"tolvani: " + UIStrings::setupIBusStartedAgain() + "\"");
    InputSourceProbe::testSetExecutable(stand);
    platform::log::Capture log;
    EXPECT_EQ(await<Done>(step), "done");
    EXPECT_TRUE(log.lines().contains("[Tolvani] " + UIStrings::setupIBusStartedAgain()))
        << log.lines().join(u'\n').toStdString();
  }

  static IBusBus* connect() {
    ibus_init();
    IBusBus* bus = ibus_bus_new();
    if (ibus_bus_is_connected(bus)) return bus;
    g_object_unref(bus);
    return nullptr;
  }
  static bool panelRuns() {
    IBusBus* bus = connect();
    const bool owned = bus && ibus_bus_name_has_owner(bus, IBUS_SERVICE_PANEL);
    if (bus) g_object_unref(bus);
    return owned;
  }
  static QStringList preload() {
    GSettings* general = g_settings_new("org.freedesktop.ibus.general");
    gchar** names = g_settings_get_strv(general, "preload-engines");
    QStringList list;
    for (gchar** it = names; *it; ++it) list << QString::fromUtf8(*it);
    g_strfreev(names);
    g_object_unref(general);
    return list;
  }
  static QString text(std::FILE* file) {
    std::rewind(file);
    QByteArray bytes;
    char buffer[512];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, file)) bytes.append(buffer, n);
    std::fclose(file);
    return QString::fromUtf8(bytes);
  }

  QTemporaryDir root_;
  std::unique_ptr<testing::PrivateIBusDaemon> daemon_;
  QString program_;
  QString component_;
  IBusInputSources ibus_;
  std::optional<IBusInputSources::Component> bundle_;
  InputSource typedWith_;
  QStringList engines_;
  std::vector<pid_t> killed_;
};

TEST_F(InputSourceIBusTest, NotRegisteredThenRegisteredEnabledAndSelected) {
  ASSERT_TRUE(daemon_->start());
  // A program that no installed component starts has no bundle identifier.
  EXPECT_EQ(probeState(),
            "Tolvani.Setup 1 Open the installed Tolvani app to complete keyboard setup.");
  // Installed while the daemon runs, as a package is: the daemon does not know it yet.
  installComponent();
  EXPECT_EQ(probeState(), state("notRegistered", 0));
  const InputSourceSetup::SystemTools tools = InputSourceSetup::defaultTools();
  EXPECT_EQ(await<Done>([&](auto done) {
              InputSourceSetup::run(tools.rebuildRegistry, nullptr, std::move(done));
            }),
            "done");
  EXPECT_EQ(await<Done>([&](auto done) {
              InputSourceSetup::run(tools.refreshInputMenu, nullptr, std::move(done));
            }),
            "done");
  EXPECT_EQ(stateAfterRestart(), state("notEnabled", 0));

  EXPECT_EQ(await<Done>([](auto done) { InputSourceProbe::enable(nullptr, std::move(done)); }),
            "done");
  EXPECT_EQ(probeState(), state("enabled", 0));
  // IBus's own list only: Xfce never reads GNOME's, whose schema is installed here too.
  EXPECT_TRUE(keyFile().contains(enabledFromEmpty(false))) << keyFile().toStdString();
  EXPECT_TRUE(keyFile().contains(QLatin1String("', 'tolvani']\n"))) << keyFile().toStdString();
  EXPECT_FALSE(keyFile().contains(QLatin1String("input-sources"))) << keyFile().toStdString();

  EXPECT_EQ(await<InputSourceSnapshot>(
                [](auto done) { InputSourceSetup::select(nullptr, std::move(done)); }),
            state("enabled", 1));
  EXPECT_EQ(probeState(), state("enabled", 1));
}

TEST_F(InputSourceIBusTest, ActivateRegistersWithTheDaemonItself) {
  ASSERT_TRUE(daemon_->start());
  installComponent();
  const QUrl bundle = QUrl::fromLocalFile(daemon_->componentFolder() + "/tolvani.xml");
  EXPECT_EQ(
      await<Done>([&](auto done) { InputSourceSetup::activate(bundle, nullptr, std::move(done)); }),
      "done");
  EXPECT_EQ(stateAfterRestart(), state("enabled", 0));
}

TEST_F(InputSourceIBusTest, SuperuserIsRefused) {
  // The real user when it is the superuser, as on CI; otherwise the id set for the child.
  if (::getuid() == 0)
    qunsetenv("TOLVANI_TEST_USER_ID");
  else
    qputenv("TOLVANI_TEST_USER_ID", "0");
  ASSERT_TRUE(daemon_->start());
  installComponent();
  EXPECT_EQ(await<Done>([](auto done) { InputSourceProbe::enable(nullptr, std::move(done)); }),
            "Tolvani.Setup 1 Run keyboard setup as your desktop user, without sudo.");
  EXPECT_EQ(await<Done>([](auto done) { InputSourceProbe::select(nullptr, std::move(done)); }),
            "Tolvani.Setup 1 Choose the keyboard from your desktop, without sudo.");
  EXPECT_EQ(probeState(), state("notRegistered", 0)) << "queries are not refused";

  // In this process too, before anything is changed or started.
  if (::getuid() != 0) systemuser::testSetId(0);
  EXPECT_EQ(
      await<Done>([](auto done) { InputSourceSetup::activate(QUrl(), nullptr, std::move(done)); }),
      "Tolvani.Setup 5 Open keyboard setup from your desktop, without sudo.");
  try {
    InputMenuPreference::show();
    ADD_FAILURE() << "shown for the superuser";
  } catch (const SetupError& error) {
    EXPECT_EQ(error.code, 5);
  }
  systemuser::testSetId(std::nullopt);
}

TEST_F(InputSourceIBusTest, DaemonAbsent) {
  installComponent();
  // The daemon the session starts later will read the installed component; the state says that
  // none runs yet.
  EXPECT_EQ(probeState(), state("notEnabled", 0) + " ibus=0");
  EXPECT_EQ(await<Done>([](auto done) { InputSourceProbe::enable(nullptr, std::move(done)); }),
            "done");
  EXPECT_EQ(probeState(), state("enabled", 0) + " ibus=0");
  EXPECT_TRUE(keyFile().contains(enabledFromEmpty(false))) << keyFile().toStdString();
  // Nothing can be switched yet; what is left is said, not failed.
  EXPECT_EQ(await<Done>([](auto done) { InputSourceProbe::select(nullptr, std::move(done)); }),
            "done");
  EXPECT_EQ(probeState(), state("enabled", 0) + " ibus=0");
  // Restarting a daemon that is not running is nothing to refresh.
  EXPECT_EQ(await<Done>([](auto done) {
              InputSourceSetup::run(InputSourceSetup::defaultTools().refreshInputMenu, nullptr,
                                    std::move(done));
            }),
            "done");
}

TEST_F(InputSourceIBusTest, GnomeDesktopGetsBothListsAndDecidesByItsOwn) {
  GSettingsSchema* gnome = g_settings_schema_source_lookup(g_settings_schema_source_get_default(),
                                                           "org.gnome.desktop.input-sources", TRUE);
  if (gnome == nullptr) GTEST_SKIP() << "GNOME's input-source schema is not installed";
  g_settings_schema_unref(gnome);
  installComponent();
  ASSERT_TRUE(daemon_->start());
  // In this process: GSettings reads the same key file the daemon's session would.
  qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
  systemuser::testSetId(1000);
  const std::optional<IBusInputSources::Component> component =
      IBusInputSources::componentStarting(program_);
  ASSERT_TRUE(component.has_value());
  const QString bundleID = component->name;
  const QUrl bundle = component->file;
  EXPECT_EQ(bundle, QUrl::fromLocalFile(daemon_->componentFolder() + "/tolvani.xml"));

  EXPECT_EQ(InputSourceRegistration::state(bundleID), InputSourceRegistration::State::notEnabled);
  EXPECT_EQ(InputSourceRegistration::enable(bundle, bundleID), 1);
  EXPECT_EQ(InputSourceRegistration::state(bundleID), InputSourceRegistration::State::enabled);
  EXPECT_FALSE(InputSourceRegistration::isSelected(bundleID));
  InputSourceRegistration::select(bundleID);
  EXPECT_TRUE(InputSourceRegistration::isSelected(bundleID));
  EXPECT_TRUE(keyFile().contains(enabledFromEmpty(false))) << keyFile().toStdString();
  EXPECT_TRUE(keyFile().contains(enabledFromEmpty(true))) << keyFile().toStdString();
  // Enabling again adds nothing twice and moves nothing.
  const QString enabled = keyFile();
  EXPECT_EQ(InputSourceRegistration::enable(bundle, bundleID), 1);
  EXPECT_EQ(keyFile(), enabled);

  // Taken out of GNOME's list in its settings, it is not enabled there, whatever IBus's holds.
  GSettings* sources = g_settings_new("org.gnome.desktop.input-sources");
  g_settings_reset(sources, "sources");
  g_settings_sync();
  g_object_unref(sources);
  EXPECT_EQ(InputSourceRegistration::state(bundleID), InputSourceRegistration::State::notEnabled);
  // The same lists on another desktop: IBus's decides.
  qputenv("XDG_CURRENT_DESKTOP", "KDE");
  EXPECT_EQ(InputSourceRegistration::state(bundleID), InputSourceRegistration::State::enabled);

  systemuser::testSetId(std::nullopt);
}

TEST_F(InputSourceIBusTest, InputMenuIsThePanelsTrayIcon) {
  systemuser::testSetId(1000);
  GSettings* panel = g_settings_new("org.freedesktop.ibus.panel");
  g_settings_set_boolean(panel, "show-icon-on-systray", FALSE);
  g_settings_sync();
  EXPECT_FALSE(InputMenuPreference::isVisible());
  InputMenuPreference::show();
  EXPECT_TRUE(InputMenuPreference::isVisible());
  EXPECT_TRUE(g_settings_get_boolean(panel, "show-icon-on-systray"));
  g_object_unref(panel);
  systemuser::testSetId(std::nullopt);
}

// A restart setup asks for never leaves the session without IBus: the daemon killed as IBus's own
// assertions kill it, just as it was asked to restart, is started again as it was started, with
// its panel, Tolvani listed, and the person's engines and engine as before. The command says so,
// and the setup window's process logs what the command said.
TEST_F(InputSourceIBusTest, DaemonKilledInItsRestartIsStartedAgain) {
  ASSERT_NO_FATAL_FAILURE(startSession(false));
  expectSessionBack(runKillingTheRestart({"--enable-input-source"}));
  expectLogged([](auto done) { InputSourceProbe::enable(nullptr, std::move(done)); });
}

// The same for the restart that refreshes the input menu where enabling did not restart the
// daemon (it listed Tolvani already): the setup window's step runs the command that does so.
TEST_F(InputSourceIBusTest, DaemonKilledInTheMenuRefreshIsStartedAgain) {
  ASSERT_NO_FATAL_FAILURE(startSession(true));
  ASSERT_EQ(ibus_.enable({"tolvani", true}), 0);
  const InputSourceSetup::SystemTool refresh = InputSourceSetup::defaultTools().refreshInputMenu;
  EXPECT_EQ(refresh.executable, program_);
  expectSessionBack(runKillingTheRestart(refresh.arguments));
  expectLogged([](auto done) {
    InputSourceSetup::run(InputSourceSetup::defaultTools().refreshInputMenu, nullptr,
                          std::move(done));
  });
}

}  // namespace
}  // namespace tolvani
