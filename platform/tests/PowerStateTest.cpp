// The system's power state against a stand-in for power-profiles-daemon on a private system bus:
// the "power-saver" profile is the low-power mode, and each change is posted.
#include "platform/PowerState.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <string>

#include "platform/NotificationCenter.h"

namespace tolvani::platform {
namespace {

constexpr char kName[] = "net.hadess.PowerProfiles";
constexpr char kPath[] = "/net/hadess/PowerProfiles";

// Serves the daemon's one property that GLib's monitor reads, "ActiveProfile", under its name.
class PowerProfilesDaemon {
 public:
  PowerProfilesDaemon(const QByteArray& address, std::string profile)
      : profile_(std::move(profile)) {
    connection_ = g_dbus_connection_new_for_address_sync(
        address.constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (connection_ == nullptr) return;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='net.hadess.PowerProfiles'>"
        "<property name='ActiveProfile' type='s' access='read'/></interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {nullptr, &getProperty, nullptr, {}};
    g_dbus_connection_register_object(connection_, kPath, node->interfaces[0], &vtable, this,
                                      nullptr, nullptr);
    g_dbus_node_info_unref(node);
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", kName, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
  }
  ~PowerProfilesDaemon() { quit(); }

  bool serving() const { return connection_ != nullptr; }
  void setProfile(std::string profile) {
    profile_ = std::move(profile);
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&changed, "{sv}", "ActiveProfile",
                          g_variant_new_string(profile_.c_str()));
    g_dbus_connection_emit_signal(connection_, nullptr, kPath, "org.freedesktop.DBus.Properties",
                                  "PropertiesChanged",
                                  g_variant_new("(sa{sv}as)", kName, &changed, nullptr), nullptr);
  }
  void quit() {
    if (connection_ == nullptr) return;
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
    connection_ = nullptr;
  }

 private:
  static GVariant* getProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GError**, gpointer self) {
    return g_variant_new_string(static_cast<PowerProfilesDaemon*>(self)->profile_.c_str());
  }

  GDBusConnection* connection_ = nullptr;
  std::string profile_;
};

template <class F>
bool settleUntil(F done) {
  QDeadlineTimer limit(10000);
  while (!done() && !limit.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(PowerStateTest, PowerSaverProfileIsLowPowerModeAndEachChangeIsPosted) {
  QProcess bus;
  bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  ASSERT_TRUE(bus.waitForReadyRead(10000)) << "dbus-daemon did not start";
  const QByteArray address = bus.readLine().trimmed();
  // GLib looks for the system bus here when the power state is first asked for.
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
  PowerProfilesDaemon daemon(address, "power-saver");
  ASSERT_TRUE(daemon.serving());
  int posted = 0;
  const NotificationCenter::Token token = NotificationCenter::defaultCenter().addObserver(
      powerStateDidChangeNotification(), [&](const Notification&) { ++posted; });

  PowerState& state = powerState();
  EXPECT_TRUE(settleUntil([&] { return state.lowPowerModeEnabled(); }));
  EXPECT_TRUE(settleUntil([&] { return posted == 1; })) << posted;
  daemon.setProfile("balanced");
  EXPECT_TRUE(settleUntil([&] { return !state.lowPowerModeEnabled() && posted == 2; })) << posted;
  daemon.setProfile("power-saver");
  EXPECT_TRUE(settleUntil([&] { return state.lowPowerModeEnabled() && posted == 3; })) << posted;
  // A daemon that goes away takes its power-saving mode with it.
  daemon.quit();
  EXPECT_TRUE(settleUntil([&] { return !state.lowPowerModeEnabled() && posted == 4; })) << posted;

  NotificationCenter::defaultCenter().removeObserver(token);
  bus.kill();
  bus.waitForFinished();
}

}  // namespace
}  // namespace tolvani::platform
