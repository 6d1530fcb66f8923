// Tolvani through a real fcitx5 daemon (Debian's) on a virtual X display: GTK 3 and Qt 6 fields
// typed with X key events through fcitx5's own modules get what they get through IBus (a
// candidate chosen by number, a fixed layout, a word ended by a click or a focus change, English
// in a password field); keys go on, never lost, while the Tolvani program is stopped, killed or
// fcitx5 restarts; and the input menu's rows, as fcitx5 hands them to a KDE panel, act when a
// panel triggers them after the field lost the focus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstring>
#include <memory>
#include <ostream>

#include "ime/fcitx5/Fcitx5Protocol.h"
#include "ime/testing/TestUser.h"
#include "ime/testing/VirtualDesktop.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::Fcitx5DaemonHarness;
using testing::TextWindow;
using testing::VirtualDesktop;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

struct ToolkitCase {
  const char* name;
  TextWindow::Toolkit toolkit;
};
void PrintTo(const ToolkitCase& c, std::ostream* os) { *os << c.name; }

bool tolvaniActive(VirtualDesktop& desktop) {
  return desktop.waitFor([&] {
    for (const QString& line : desktop.events()) {
      // Through fcitx5, the program reached: the first key tells it the field.
      if (line.startsWith(QLatin1String("activate ")) || line == QLatin1String("fcitx5 connected"))
        return true;
    }
    return false;
  });
}

std::string events(VirtualDesktop& desktop) { return desktop.events().join('\n').toStdString(); }

class Fcitx5TypingTest : public ::testing::TestWithParam<ToolkitCase> {};

// One desktop types each case in turn in the window's first field, the second standing by.
TEST_P(Fcitx5TypingTest, CandidatesLayoutsAndFocusChangesTypeAsThroughIBus) {
  const ToolkitCase& c = GetParam();
  VirtualDesktop desktop(Fcitx5DaemonHarness::Options{});
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* window = desktop.open(c.toolkit, {QStringLiteral("--fields"), QStringLiteral("2")});
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);

  // The third candidate of "ach", chosen by its number.
  ASSERT_TRUE(desktop.type(QStringLiteral("kemon ach")));
  ASSERT_TRUE(window->waitForPreedit(0, u("আছ"))) << window->preedit(0).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("3")));
  EXPECT_TRUE(window->waitForText(0, u("কেমন আছে"))) << window->text(0).toStdString();

  // A word being typed when another field takes the focus lands once, where it was typed.
  ASSERT_TRUE(window->clear());
  ASSERT_TRUE(desktop.type(QStringLiteral("ami")));
  ASSERT_TRUE(window->waitForPreedit(0, u("আমি")));
  ASSERT_TRUE(desktop.focus(*window, 1));
  EXPECT_TRUE(window->waitForText(0, u("আমি"))) << window->text(0).toStdString();
  EXPECT_EQ(window->text(1), QString());

  // A click in the field it is typed in loses nothing: Qt's module ends the word there (fcitx5
  // hands Tolvani the click), GTK's keeps it going until the space.
  ASSERT_TRUE(desktop.type(QStringLiteral("tumi")));
  ASSERT_TRUE(window->waitForPreedit(1, u("তুমি")));
  // Away from the click that focused the field: no double click.
  const QRect place = window->field(1);
  ASSERT_TRUE(desktop.click(QPoint(place.right() - 20, place.center().y())));
  if (c.toolkit == TextWindow::Toolkit::Qt6) {
    EXPECT_TRUE(window->waitForText(1, u("তুমি"))) << window->text(1).toStdString();
  }
  ASSERT_TRUE(desktop.type(QStringLiteral(" ")));
  EXPECT_TRUE(window->waitForText(1, u("তুমি "))) << window->text(1).toStdString();

  // Control-Shift-Space switches to the next layout, Probhat, which types its own letters.
  ASSERT_TRUE(window->clear());
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+shift+space")));
  ASSERT_TRUE(desktop.type(QStringLiteral("kml ")));
  EXPECT_TRUE(window->waitForText(1, u("কমল "))) << window->text(1).toStdString();
  EXPECT_EQ(window->text(0), QString());

  // Control-Space is fcitx5's own key: it switches to the keyboard layout, which types English,
  // and back. Control-Alt-B converts the selected Banglish where the field reports its selection
  // as it changes (Qt's module; GTK 3's reports it only with its next commit or focus);
  // Control-Alt-S says what it switched.
  ASSERT_TRUE(window->clear());
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+shift+space ctrl+shift+space ctrl+space")));
  ASSERT_TRUE(desktop.type(QStringLiteral("bhalo")));
  EXPECT_TRUE(window->waitForText(1, QStringLiteral("bhalo"))) << window->text(1).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+space")));
  if (c.toolkit == TextWindow::Toolkit::Qt6) {
    ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+a ctrl+alt+b")));
    EXPECT_TRUE(window->waitForText(1, u("ভালো"))) << window->text(1).toStdString();
  }
  const qsizetype statuses = desktop.events().filter(QStringLiteral("status ")).size();
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+alt+s")));
  EXPECT_TRUE(desktop.waitFor([&] {
    return desktop.events().filter(QStringLiteral("status ")).size() > statuses;
  })) << events(desktop);
}

INSTANTIATE_TEST_SUITE_P(Toolkits, Fcitx5TypingTest,
                         ::testing::Values(ToolkitCase{"gtk3", TextWindow::Toolkit::Gtk3},
                                           ToolkitCase{"qt6", TextWindow::Toolkit::Qt6}),
                         [](const auto& info) { return std::string(info.param.name); });

// A password field gets the keys as typed: nothing converted, nothing shown.
TEST(Fcitx5PasswordTest, PasswordFieldGetsEnglish) {
  VirtualDesktop desktop(Fcitx5DaemonHarness::Options{});
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* window = desktop.open(
      TextWindow::Toolkit::Gtk3,
      {QStringLiteral("--fields"), QStringLiteral("2"), QStringLiteral("--hidden-password")});
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 1));
  ASSERT_TRUE(desktop.type(QStringLiteral("ami bhalo ")));
  EXPECT_TRUE(window->waitForText(1, QStringLiteral("ami bhalo ")))
      << window->text(1).toStdString();
  EXPECT_EQ(window->preedit(1), QString());
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি "))) << window->text(0).toStdString();
}

qint64 listeningPid(VirtualDesktop& desktop, qint64 other) {
  qint64 pid = 0;
  desktop.waitFor([&] {
    pid = desktop.fcitx5()->tolvaniPid();
    return pid > 0 && pid != other;
  });
  return pid;
}

int count(VirtualDesktop& desktop, const QString& line) {
  return static_cast<int>(desktop.events().count(line));
}

// fcitx5 serves every application from one loop: a Tolvani that does not answer holds no key.
TEST(Fcitx5DeadlineTest, KeysGoOnWhileTolvaniIsStoppedKilledOrFcitx5Restarts) {
  VirtualDesktop desktop(Fcitx5DaemonHarness::Options{});
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3);
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
  const qint64 first = listeningPid(desktop, 0);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  ASSERT_TRUE(window->waitForText(0, u("আমি "))) << window->text(0).toStdString();

  // Stopped halfway through a word: the word so far and every key after it reach the field.
  ASSERT_TRUE(desktop.type(QStringLiteral("bha")));
  ASSERT_TRUE(window->waitForPreedit(0, u("ভা")));
  ::kill(static_cast<pid_t>(first), SIGSTOP);
  ASSERT_TRUE(desktop.type(QStringLiteral("lo kemon ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি ভাlo kemon "))) << window->text(0).toStdString();
  // Going on, it catches up and types again.
  ::kill(static_cast<pid_t>(first), SIGCONT);
  ASSERT_TRUE(desktop.waitFor([&] { return count(desktop, QStringLiteral("resync")) == 1; }))
      << events(desktop);
  ASSERT_TRUE(desktop.type(QStringLiteral("acho ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি ভাlo kemon আছো "))) << window->text(0).toStdString();

  // Killed: the next key goes on as typed and starts it again, which then types.
  ASSERT_TRUE(window->clear());
  ::kill(static_cast<pid_t>(first), SIGKILL);
  ASSERT_TRUE(desktop.type(QStringLiteral("x")));
  EXPECT_TRUE(window->waitForText(0, QStringLiteral("x"))) << window->text(0).toStdString();
  const qint64 second = listeningPid(desktop, first);
  ASSERT_GT(second, 0) << events(desktop);
  ASSERT_TRUE(
      desktop.waitFor([&] { return count(desktop, QStringLiteral("fcitx5 connected")) == 2; }));
  ASSERT_TRUE(desktop.type(QStringLiteral(" ami ")));
  EXPECT_TRUE(window->waitForText(0, u("x আমি "))) << window->text(0).toStdString();

  // fcitx5 itself restarts: its new addon finds the same Tolvani, and typing goes on.
  ASSERT_TRUE(desktop.fcitx5()->restartFcitx5());
  ASSERT_TRUE(desktop.waitFor([&] {
    return count(desktop, QStringLiteral("fcitx5 connected")) == 3;
  })) << events(desktop);
  EXPECT_EQ(desktop.fcitx5()->tolvaniPid(), second);
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("tumi ")));
  EXPECT_TRUE(window->waitForText(0, u("x আমি তুমি "))) << window->text(0).toStdString();
}

namespace protocol = fcitx5protocol;

int connectTo(const QString& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray name = QFile::encodeName(path);
  std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()) + 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Everything the peer sends until it closes the connection or 5 s pass.
std::string readUntilClosed(int fd) {
  timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  std::string all;
  char chunk[4096];
  for (ssize_t n; (n = ::recv(fd, chunk, sizeof(chunk), 0)) > 0;) all.append(chunk, n);
  return all;
}

// The program does not trust the addon's side: a message that cannot be read gets a clear
// refusal, that connection ends, and Tolvani keeps serving.
TEST(Fcitx5ProtocolTest, ProgramRefusesUnreadableMessages) {
  VirtualDesktop desktop(Fcitx5DaemonHarness::Options{});
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3);
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
  const QString socket = desktop.fcitx5()->root() + QStringLiteral("/tolvani.socket");

  // A key message cut short, a text that is no UTF-8, a length out of bounds.
  protocol::Writer shortKey(static_cast<std::uint8_t>(protocol::ToProgram::key));
  shortKey.u32(1).u32(1);
  protocol::Writer badText(static_cast<std::uint8_t>(protocol::ToProgram::menuActivate));
  badText.u32(1).text("\xff\xfe").u8(1);
  for (const std::string& message :
       {shortKey.frame(), badText.frame(), std::string("\xff\xff\xff\x7f", 4)}) {
    const int fd = connectTo(socket);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, message.data(), message.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(message.size()));
    std::string answer = readUntilClosed(fd);
    ::close(fd);
    std::string body;
    bool broken = false;
    ASSERT_TRUE(protocol::takeMessage(answer, body, broken));
    protocol::Reader refusal(body);
    EXPECT_EQ(refusal.u8(), static_cast<std::uint8_t>(protocol::ToAddon::refused));
    EXPECT_FALSE(refusal.text().empty());
  }
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি "))) << window->text(0).toStdString();
}

// A KDE panel as fcitx5's kimpanel addon serves one (org.kde.impanel): it receives the status
// area's rows and triggers them as a person's click on the panel does.
class KdePanel final : public QObject {
  Q_OBJECT

 public:
  explicit KdePanel(const QString& address)
      : bus_(QDBusConnection::connectToBus(address, QStringLiteral("kde-panel"))) {
    bus_.connect(QString(), QStringLiteral("/kimpanel"),
                 QStringLiteral("org.kde.kimpanel.inputmethod"),
                 QStringLiteral("RegisterProperties"), this, SLOT(registered(QStringList)));
    bus_.connect(QString(), QStringLiteral("/kimpanel"),
                 QStringLiteral("org.kde.kimpanel.inputmethod"), QStringLiteral("ExecMenu"), this,
                 SLOT(menuShown(QStringList)));
    bus_.registerObject(QStringLiteral("/org/kde/impanel"), this);
    bus_.registerService(QStringLiteral("org.kde.impanel"));
    bus_.send(QDBusMessage::createSignal(QStringLiteral("/org/kde/impanel"),
                                         QStringLiteral("org.kde.impanel"),
                                         QStringLiteral("PanelCreated")));
  }
  ~KdePanel() override {
    bus_.unregisterService(QStringLiteral("org.kde.impanel"));
    QDBusConnection::disconnectFromBus(QStringLiteral("kde-panel"));
  }

  void trigger(const QString& row) {
    QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/kde/impanel"),
                                                      QStringLiteral("org.kde.impanel"),
                                                      QStringLiteral("TriggerProperty"));
    message << QStringLiteral("/Fcitx/tolvani-") + row;
    bus_.send(message);
  }

  // Tolvani's rows as the panel shows them, "key|title" (sub-menus marked " >").
  static QStringList rows(const QStringList& properties) {
    QStringList out;
    for (const QString& p : properties) {
      if (!p.startsWith(QLatin1String("/Fcitx/tolvani-"))) continue;
      const QStringList fields = p.mid(15).split(u':');
      if (fields.size() < 5) continue;
      out << fields[0] + u'|' + fields[1] +
                 (fields[4] == QLatin1String("menu") ? QStringLiteral(" >") : QString());
    }
    return out;
  }

  QStringList properties;
  QStringList menu;

 private Q_SLOTS:
  void registered(const QStringList& list) { properties = list; }
  void menuShown(const QStringList& list) { menu = list; }

 private:
  QDBusConnection bus_;
};

const QStringList kEnglishRows{
    QStringLiteral("layouts|Layouts"),
    u("switchToPhonetic|ফোনেটিক (Phonetic)"),
    u("switchToProbhat|প্রভাত (Probhat)"),
    u("switchToNational|জাতীয় (National)"),
    u("switchToUnijoy|ইউনিজয় (Unijoy)"),
    QStringLiteral("separator1|"),
    QStringLiteral("quickControls|Quick Controls"),
    QStringLiteral("toggleEnglishPassthrough|English Passthrough"),
    QStringLiteral("toggleSuggestions|Suggestions"),
    QStringLiteral("separator2|"),
    QStringLiteral("tools|Tools >"),
    QStringLiteral("separator3|"),
    QStringLiteral("privacy|Privacy"),
    QStringLiteral("fullyOffline|Fully Offline"),
};

// The rows arrive in the order and words of the IBus menu, in both languages, and act when the
// panel triggers them after its menu took the focus from the field.
TEST(Fcitx5MenuTest, StatusAreaRowsActWhenAPanelTriggersThem) {
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("kimpanel");
  options.uiLanguage = 1;
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  KdePanel panel(desktop.fcitx5()->sessionBusAddress());
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3);
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  TextWindow* other =
      desktop.open(TextWindow::Toolkit::Gtk3,
                   {QStringLiteral("--fields"), QStringLiteral("0"), QStringLiteral("--title"),
                    QStringLiteral("No field"), QStringLiteral("--y"), QStringLiteral("300")});
  ASSERT_NE(other, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
  ASSERT_TRUE(desktop.waitFor([&] { return KdePanel::rows(panel.properties) == kEnglishRows; }))
      << KdePanel::rows(panel.properties).join(u'\n').toStdString();

  // The panel's menu opens: the field loses the focus, and the row still speaks for it.
  ASSERT_TRUE(desktop.focusWindow(*other));
  ASSERT_TRUE(desktop.waitFor([&] {
    return desktop.events().contains(QStringLiteral("deactivate fcitx5:1"));
  })) << events(desktop);
  panel.trigger(QStringLiteral("switchToProbhat"));
  ASSERT_TRUE(desktop.waitFor([&] {
    return desktop.events().contains(QStringLiteral("menu row switchToProbhat without focus"));
  })) << events(desktop);
  // The Tools row opens its own rows, which open Tolvani's windows.
  panel.trigger(QStringLiteral("tools"));
  ASSERT_TRUE(desktop.waitFor([&] {
    return KdePanel::rows(panel.menu).contains(QStringLiteral("openKeyboardHelp|Keyboard Help..."));
  })) << panel.menu.join(u'\n').toStdString();
  EXPECT_EQ(KdePanel::rows(panel.menu).size(), 8);
  panel.trigger(QStringLiteral("openKeyboardHelp"));
  EXPECT_TRUE(desktop.waitFor([&] {
    return desktop.events().contains(QStringLiteral("menu row openKeyboardHelp without focus"));
  }));

  // Back in the field, Probhat types.
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("kml ")));
  EXPECT_TRUE(window->waitForText(0, u("কমল "))) << window->text(0).toStdString();

  // In Bangla the same rows come in Bangla.
  desktop.fcitx5()->setSetting(AppSettings::kUiLanguageKey, 0);
  EXPECT_TRUE(desktop.waitFor([&] {
    const QStringList rows = KdePanel::rows(panel.properties);
    return rows.size() == kEnglishRows.size() && rows[0] == u("layouts|লেআউট") &&
           rows[10] == u("tools|টুলস >");
  })) << KdePanel::rows(panel.properties).join(u'\n').toStdString();
}

// A system tray as fcitx5's notification item finds one (org.kde.StatusNotifierWatcher): fcitx5
// registers its item, whose menu (com.canonical.dbusmenu) holds the status area's rows with
// their check marks.
class Tray final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)

 public:
  explicit Tray(const QString& address)
      : bus_(QDBusConnection::connectToBus(address, QStringLiteral("tray"))) {
    bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    bus_.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
  }
  ~Tray() override { QDBusConnection::disconnectFromBus(QStringLiteral("tray")); }
  bool hostRegistered() const { return true; }
  int protocolVersion() const { return 0; }

  // The menu's checkable rows, "label|0" or "label|1", and the id of each label.
  QStringList checkRows() {
    QStringList rows;
    ids_.clear();
    if (item_.isEmpty()) return rows;
    QDBusMessage call = QDBusMessage::createMethodCall(item_, QStringLiteral("/MenuBar"),
                                                       QStringLiteral("com.canonical.dbusmenu"),
                                                       QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = bus_.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) return rows;
    walk(qvariant_cast<QDBusArgument>(reply.arguments()[1]), rows);
    return rows;
  }
  // Clicks the row with this label, as a tray's menu does.
  void click(const QString& label) {
    QDBusMessage event = QDBusMessage::createMethodCall(item_, QStringLiteral("/MenuBar"),
                                                        QStringLiteral("com.canonical.dbusmenu"),
                                                        QStringLiteral("Event"));
    event << ids_.value(label) << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0))
          << 0u;
    bus_.call(event, QDBus::Block, 5000);
  }

 public Q_SLOTS:
  void RegisterStatusNotifierItem(const QString& service) { item_ = service; }

 private:
  void walk(const QDBusArgument& layout, QStringList& rows) {
    int id = 0;
    QVariantMap properties;
    layout.beginStructure();
    layout >> id >> properties;
    const QString label = properties.value(QStringLiteral("label")).toString();
    ids_[label] = id;
    if (properties.contains(QStringLiteral("toggle-state")))
      rows << label + u'|' + properties.value(QStringLiteral("toggle-state")).toString();
    layout.beginArray();
    while (!layout.atEnd()) {
      QDBusVariant child;
      layout >> child;
      walk(qvariant_cast<QDBusArgument>(child.variant()), rows);
    }
    layout.endArray();
    layout.endStructure();
  }

  QDBusConnection bus_;
  QString item_;
  QMap<QString, int> ids_;
};

// The rows' check marks in fcitx5's tray menu follow the state: one layout checked, the switches
// checked when on, and a click on a row moves them.
TEST(Fcitx5TrayTest, CheckMarksFollowTheState) {
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("classicui") << QStringLiteral("notificationitem");
  options.uiLanguage = 1;
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  Tray tray(desktop.fcitx5()->sessionBusAddress());
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3);
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  TextWindow* other =
      desktop.open(TextWindow::Toolkit::Gtk3,
                   {QStringLiteral("--fields"), QStringLiteral("0"), QStringLiteral("--title"),
                    QStringLiteral("No field"), QStringLiteral("--y"), QStringLiteral("300")});
  ASSERT_NE(other, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
  // The tray shows the rows of the field the program serves. A field focused while the program
  // starts may have lost fcitx5's focus before the program was reached (GTK's module can send
  // the field's first focus and a loss of it at once): the person clicks elsewhere and back.
  ASSERT_TRUE(desktop.focusWindow(*other));
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.waitFor([&] {
    const QStringList focus =
        desktop.events().filter(QRegularExpression(QStringLiteral("^(de)?activate ")));
    return !focus.isEmpty() && focus.last().startsWith(QLatin1String("activate "));
  })) << events(desktop);
  const QString phonetic = u("ফোনেটিক (Phonetic)");
  const QString probhat = u("প্রভাত (Probhat)");
  const QStringList before{phonetic + QStringLiteral("|1"), probhat + QStringLiteral("|0"),
                           u("জাতীয় (National)|0"), QStringLiteral("English Passthrough|0"),
                           QStringLiteral("Suggestions|1")};
  QStringList rows;
  EXPECT_TRUE(desktop.waitFor([&] {
    rows =
        tray.checkRows().filter(QRegularExpression(QStringLiteral("\\(P|\\(N|^English|^Suggest")));
    return rows == before;
  })) << rows.join(u'\n').toStdString();
  // One click at a time: the tray's menu runs only the last of clicks that come at once.
  tray.click(probhat);
  EXPECT_TRUE(desktop.waitFor([&] {
    return tray.checkRows().contains(probhat + QStringLiteral("|1"));
  })) << tray.checkRows().join(u'\n').toStdString();
  tray.click(QStringLiteral("Suggestions"));
  const QStringList after{phonetic + QStringLiteral("|0"), probhat + QStringLiteral("|1"),
                          u("জাতীয় (National)|0"), QStringLiteral("English Passthrough|0"),
                          QStringLiteral("Suggestions|0")};
  EXPECT_TRUE(desktop.waitFor([&] {
    rows =
        tray.checkRows().filter(QRegularExpression(QStringLiteral("\\(P|\\(N|^English|^Suggest")));
    return rows == after;
  })) << rows.join(u'\n').toStdString();
}

// Sway 1.7 with its headless backend, as the test user (it refuses root), on a runtime folder of
// its own; it ends with the object.
class Sway {
 public:
  Sway() {
    const QString root = dir_.path();
    QDir(root).mkpath(QStringLiteral("runtime"));
    QDir(root).mkpath(QStringLiteral("home"));
    QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(root + QStringLiteral("/sway.conf"));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write("output HEADLESS-1 resolution 1024x768\n") < 0) {
      return;
    }
    config.close();
    testing::giveToTestUser(root);
    process_.setProcessEnvironment(environment());
    process_.setChildProcessModifier(testing::ownGroup);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    const QStringList command = testing::asTestUser(
        {QStringLiteral("sway"), QStringLiteral("-c"), root + QStringLiteral("/sway.conf")});
    process_.start(command.first(), command.mid(1));
    if (!process_.waitForStarted()) return;
    group_ = process_.processId();
    const QDeadlineTimer deadline(20000);
    while (!ready() && !deadline.hasExpired() && process_.state() == QProcess::Running)
      QThread::msleep(20);
  }
  ~Sway() { testing::endGroup(process_, group_); }
  Sway(const Sway&) = delete;
  Sway& operator=(const Sway&) = delete;

  bool ready() const { return QFile::exists(runtime() + QStringLiteral("/wayland-1")); }
  QString runtime() const { return dir_.path() + QStringLiteral("/runtime"); }
  // A Wayland client's environment on this compositor.
  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "IBUS_ADDRESS", "QT_IM_MODULE", "GTK_IM_MODULE", "XMODIFIERS"}) {
      env.remove(QString::fromLatin1(name));
    }
    env.insert(QStringLiteral("HOME"), dir_.path() + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    if (ready()) env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    return env;
  }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  qint64 group_ = 0;
};

// wtype's virtual keyboard gives each key the next free key code, and Tolvani reads a key's place
// from its code (the fixed layouts go by place): these keys, first, take the places they have on a
// real keyboard (function keys stand on the places of Escape, Tab, Control and the like).
const QStringList kKeyPlaces{QStringLiteral("-k"),
                             QStringLiteral("F13"),
                             QStringLiteral("1234567890-="),
                             QStringLiteral("-k"),
                             QStringLiteral("F14"),
                             QStringLiteral("-k"),
                             QStringLiteral("F15"),
                             QStringLiteral("qwertyuiop[]"),
                             QStringLiteral("-k"),
                             QStringLiteral("F16"),
                             QStringLiteral("-k"),
                             QStringLiteral("F17"),
                             QStringLiteral("asdfghjkl;'`"),
                             QStringLiteral("-k"),
                             QStringLiteral("F18"),
                             QStringLiteral("\\zxcvbnm,./"),
                             QStringLiteral("-k"),
                             QStringLiteral("F19"),
                             QStringLiteral("-k"),
                             QStringLiteral("F20"),
                             QStringLiteral("-k"),
                             QStringLiteral("F21"),
                             QStringLiteral(" ")};

class Fcitx5SwayTest : public ::testing::TestWithParam<const char*> {};

// A GTK 3 field under Sway types the README's sentence through fcitx5, whether GTK talks to it
// through the compositor's text input (fcitx5 as the Wayland input method) or through fcitx5's
// own GTK module.
TEST_P(Fcitx5SwayTest, GtkFieldUnderWaylandTypesTheSentence) {
  Sway sway;
  ASSERT_TRUE(sway.ready()) << "Sway did not start";
  Fcitx5DaemonHarness::Options options;
  options.addons = {QStringLiteral("dbus"), QStringLiteral("dbusfrontend"),
                    QStringLiteral("wayland"), QStringLiteral("waylandim"),
                    QStringLiteral("keyboard")};
  options.waylandDisplay = QStringLiteral("wayland-1");
  options.runtimeDir = sway.runtime();
  options.asTestUser = true;
  Fcitx5DaemonHarness fcitx5(options);
  ASSERT_TRUE(fcitx5.ready()) << fcitx5.failure().toStdString();

  QProcessEnvironment env = sway.environment();
  fcitx5.addProgramEnvironment(env);
  env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
  env.insert(QStringLiteral("GTK_IM_MODULE"), QString::fromLatin1(GetParam()));
  env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
  env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
  testing::letTestUserReach(TextWindow::programPath(TextWindow::Toolkit::Gtk3));
  TextWindow window(TextWindow::Toolkit::Gtk3, {}, env, testing::asTestUser({}));
  ASSERT_TRUE(window.ready()) << window.failure().toStdString();
  ASSERT_TRUE(window.waitForFocus(0));
  ASSERT_TRUE(fcitx5.waitFor([&] {
    return fcitx5.events().filter(QStringLiteral("activate ")).size() > 0;
  })) << fcitx5.events().join(u'\n').toStdString();

  QProcess wtype;
  wtype.setProcessEnvironment(env);
  wtype.setChildProcessModifier(testing::ownGroup);
  const QString sentence = QStringLiteral("ami tomake bhalobashi. kemon acho? ");
  const QStringList command = testing::asTestUser(QStringList{QStringLiteral("wtype")} +
                                                  kKeyPlaces + QStringList{sentence});
  wtype.start(command.first(), command.mid(1));
  ASSERT_TRUE(wtype.waitForStarted());
  const qint64 group = wtype.processId();
  // What the keys that took their places typed comes first, ended by their space.
  const QString expected = u("আমি তোমাকে ভালোবাসি। কেমন আছো? ");
  const QDeadlineTimer deadline(20000);
  while (!window.text(0).endsWith(u(" ") + expected) && !deadline.hasExpired()) {
    window.waitForText(0, expected, 200);
  }
  EXPECT_TRUE(window.text(0).endsWith(u(" ") + expected)) << window.text(0).toStdString();
  wtype.waitForFinished(5000);
  testing::endGroup(wtype, group);
}

INSTANTIATE_TEST_SUITE_P(ImModules, Fcitx5SwayTest, ::testing::Values("wayland", "fcitx"),
                         [](const auto& info) {
                           return std::string(info.param) == "wayland" ? "TextInput"
                                                                       : "Fcitx5Module";
                         });

}  // namespace
}  // namespace tolvani

#include "Fcitx5DesktopTest.moc"
