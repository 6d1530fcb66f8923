// Tolvani through a real fcitx5 daemon (Debian's) on a virtual X display: GTK 3, GTK 4 and Qt 6
// fields typed with X key events through fcitx5's own modules get what they get through IBus (a
// candidate chosen by number or clicked in fcitx5's list, a fixed layout, a word ended by a click
// or a focus change, English in a password field); keys go on, never lost, while the Tolvani
// program is stopped, killed, answers what cannot be read, or fcitx5 restarts; the input menu's
// rows, as fcitx5 hands them to a KDE panel, are buttons a person can tell apart and act when a
// panel triggers them after the field lost the focus, and the panel is never shown empty; under
// Sway, fcitx5 ends cleanly with the session.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <utility>
#include <vector>

#include "ime/fcitx5/Fcitx5Messages.h"
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
      // Through fcitx5 too, the program hears of the field before any key.
      if (line.startsWith(QLatin1String("activate "))) return true;
    }
    return false;
  });
}

std::string events(VirtualDesktop& desktop) { return desktop.events().join('\n').toStdString(); }

// The middle of each candidate row in a picture of fcitx5's list, from the first candidate's, which
// is highlighted, down: the bands of the picture that hold more than its ground colour.
std::vector<int> candidateRows(const QImage& list) {
  QHash<QRgb, int> counts;
  for (int y = 0; y < list.height(); ++y)
    for (int x = 0; x < list.width(); ++x) ++counts[list.pixel(x, y)];
  QRgb ground = 0;
  for (auto it = counts.begin(); it != counts.end(); ++it)
    if (it.value() > counts.value(ground)) ground = it.key();
  const auto inked = [&](int y) {
    int n = 0;
    // Not the list's frame.
    for (int x = 3; x < list.width() - 3; ++x) {
      const QRgb p = list.pixel(x, y);
      n += std::abs(qRed(p) - qRed(ground)) + std::abs(qGreen(p) - qGreen(ground)) +
               std::abs(qBlue(p) - qBlue(ground)) >
           90;
    }
    return n;
  };
  std::vector<int> rows;
  bool highlighted = false;
  for (int y = 3, top = -1; y < list.height() - 3; ++y) {
    const int n = inked(y);
    if (n > 0 && top < 0) top = y;
    if (n > (list.width() - 6) * 3 / 4) highlighted = true;
    if ((n == 0 || y == list.height() - 4) && top >= 0) {
      if (highlighted) rows.push_back((top + y) / 2);
      top = -1;
    }
  }
  return rows;
}

class Fcitx5TypingTest : public ::testing::TestWithParam<ToolkitCase> {};

// One desktop types each case in turn in the window's first field, the second standing by.
TEST_P(Fcitx5TypingTest, CandidatesLayoutsAndFocusChangesTypeAsThroughIBus) {
  const ToolkitCase& c = GetParam();
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("classicui");
  VirtualDesktop desktop(options);
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

  // The same candidate clicked in the list fcitx5 draws.
  ASSERT_TRUE(window->clear());
  ASSERT_TRUE(desktop.type(QStringLiteral("kemon ach")));
  ASSERT_TRUE(window->waitForPreedit(0, u("আছ"))) << window->preedit(0).toStdString();
  const QRect list = desktop.windowPlace(QStringLiteral("Fcitx5 Input Window"));
  ASSERT_FALSE(list.isEmpty());
  const QString shot = QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                       QStringLiteral("/screenshots/fcitx5-candidate-list-") +
                       QString::fromLatin1(c.name) + QStringLiteral(".png");
  ASSERT_TRUE(desktop.screenshot(shot, list)) << shot.toStdString();
  const std::vector<int> rows = candidateRows(QImage(shot));
  ASSERT_GE(rows.size(), 3u) << shot.toStdString();
  ASSERT_TRUE(desktop.click(list.topLeft() + QPoint(list.width() / 2, rows[2])));
  EXPECT_TRUE(window->waitForText(0, u("কেমন আছে"))) << window->text(0).toStdString();
  EXPECT_TRUE(window->waitForPreedit(0, QString())) << window->preedit(0).toStdString();

  // Reached with the arrow keys: Down moves fcitx5's highlight, Return picks. The word chosen
  // twice is now the first row, the English one the second, the bare word the third.
  ASSERT_TRUE(window->clear());
  ASSERT_TRUE(desktop.type(QStringLiteral("kemon ach")));
  ASSERT_TRUE(window->waitForPreedit(0, u("আছে"))) << window->preedit(0).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("Down Down Return")));
  EXPECT_TRUE(window->waitForText(0, u("কেমন আছ"))) << window->text(0).toStdString();

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
  // (Qt's one-line fields; GTK 3's tell it in text views only: Fcitx5BanglishTest);
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
                                           ToolkitCase{"qt6", TextWindow::Toolkit::Qt6},
                                           ToolkitCase{"gtk4", TextWindow::Toolkit::Gtk4}),
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

// GTK 3 programs take IBus's GTK module where IBus is installed beside fcitx5, and fcitx5 answers
// it through its IBus frontend: there each letter went in as a word of its own ("আমই তওমআকএ ...").
// The word is kept across keys, as through fcitx5's own module.
TEST(Fcitx5IBusFrontendTest, GtkFieldThroughIBusModuleTypesTheSentence) {
  Fcitx5DaemonHarness::Options options;
  options.gtkThroughIBus = true;
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3, {});
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
  ASSERT_TRUE(desktop.type(QStringLiteral("tomak")));
  EXPECT_TRUE(window->waitForPreedit(0, u("তোমাক"))) << window->preedit(0).toStdString();
  EXPECT_EQ(window->text(0), QString()) << window->text(0).toStdString();
  ASSERT_TRUE(desktop.type(QStringLiteral("e ")));
  ASSERT_TRUE(window->waitForText(0, u("তোমাকে "))) << window->text(0).toStdString();
  ASSERT_TRUE(window->clear());
  ASSERT_TRUE(desktop.type(QStringLiteral("ami tomake bhalobashi. kemon acho? ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন আছো? ")))
      << window->text(0).toStdString();
}

// The pid of the program listening for fcitx5 other than `other`; 0 when none came.
qint64 listeningPid(VirtualDesktop& desktop, qint64 other) {
  qint64 pid = 0;
  const bool found = desktop.waitFor([&] {
    pid = desktop.fcitx5()->tolvaniPid();
    return pid > 0 && pid != other;
  });
  return found ? pid : 0;
}

// Whether nothing listens on the program's socket any more. A killed program's descriptors close
// only once its last thread has gone, a while after its main thread is a zombie.
bool socketClosed(VirtualDesktop& desktop) {
  const QByteArray path = QFile::encodeName(desktop.fcitx5()->root() + "/tolvani.socket");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()) + 1);
  const bool refused =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0;
  ::close(fd);
  return refused;
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
  ASSERT_TRUE(desktop.type(QStringLiteral("lo kem")));
  EXPECT_TRUE(window->waitForText(0, u("আমি ভাlo kem"))) << window->text(0).toStdString();
  // Going on, it catches up: the word begun as typed ends as typed, and the next is Bangla.
  ::kill(static_cast<pid_t>(first), SIGCONT);
  ASSERT_TRUE(desktop.waitFor([&] { return count(desktop, QStringLiteral("resync")) == 1; }))
      << events(desktop);
  ASSERT_TRUE(desktop.type(QStringLiteral("on acho ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি ভাlo kemon আছো "))) << window->text(0).toStdString();

  // Killed between two words: the next key starts it again and waits for it, and the word typed
  // at once comes out whole.
  ASSERT_TRUE(window->clear());
  ::kill(static_cast<pid_t>(first), SIGKILL);
  // Until the killed process is torn down its socket still takes keys and answers none: a key
  // sent then waits out its deadline as for a stopped program, and its word goes on as typed.
  ASSERT_TRUE(desktop.waitFor([&] { return socketClosed(desktop); }));
  ASSERT_TRUE(desktop.type(QStringLiteral("tomake ")));
  EXPECT_TRUE(window->waitForText(0, u("তোমাকে "))) << window->text(0).toStdString();
  const qint64 second = listeningPid(desktop, first);
  ASSERT_GT(second, 0) << events(desktop);
  EXPECT_EQ(count(desktop, QStringLiteral("fcitx5 connected")), 2) << events(desktop);
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  EXPECT_TRUE(window->waitForText(0, u("তোমাকে আমি "))) << window->text(0).toStdString();

  // fcitx5 itself restarts: its new addon finds the same Tolvani, and typing goes on.
  ASSERT_TRUE(desktop.fcitx5()->restartFcitx5());
  ASSERT_TRUE(desktop.waitFor([&] {
    return count(desktop, QStringLiteral("fcitx5 connected")) == 3;
  })) << events(desktop);
  EXPECT_EQ(desktop.fcitx5()->tolvaniPid(), second);
  ASSERT_TRUE(desktop.focus(*window, 0));
  // The new fcitx5 numbers its contexts from 1 again, so the field's context has the name it had
  // before: the field is fcitx5's once the program hears of it after the new connection, not
  // when a context of that name was last activated.
  ASSERT_TRUE(desktop.waitFor([&] {
    const QStringList lines = desktop.events();
    const qsizetype connected = lines.lastIndexOf(QStringLiteral("fcitx5 connected"));
    return connected >= 0 && !lines.mid(connected + 1)
                                  .filter(QRegularExpression(QStringLiteral("^activate ")))
                                  .isEmpty();
  })) << events(desktop);
  ASSERT_TRUE(desktop.type(QStringLiteral("tumi ")));
  EXPECT_TRUE(window->waitForText(0, u("তোমাকে আমি তুমি "))) << window->text(0).toStdString();
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

std::string le(std::uint32_t v) {
  return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}
std::string text(const std::string& v) { return le(static_cast<std::uint32_t>(v.size())) + v; }
std::string framed(const std::string& body) {
  return le(static_cast<std::uint32_t>(body.size())) + body;
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

  // Another peer, halfway through a key, is served all the while.
  protocol::Writer key(static_cast<std::uint8_t>(protocol::ToProgram::key));
  key.u32(41).u32(99).u32(0x61).u32(38).u32(0).u32(0x61).u8(0).text("").u32(0).u32(0);
  const std::string served = key.i32(0).i32(0).i32(0).i32(0).u8(0).frame();
  const int other = connectTo(socket);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::send(other, served.data(), 10, MSG_NOSIGNAL), 10);

  // A key message cut short, a text that is no UTF-8, a length out of bounds, an unknown kind, a
  // byte too many, another version, and no message at all.
  protocol::Writer shortKey(static_cast<std::uint8_t>(protocol::ToProgram::key));
  shortKey.u32(1).u32(1);
  protocol::Writer badText(static_cast<std::uint8_t>(protocol::ToProgram::menuActivate));
  badText.u32(1).text("\xff\xfe").u8(1);
  for (const std::string& message :
       {shortKey.frame(), badText.frame(), std::string("\xff\xff\xff\x7f", 4), framed("\x7f"),
        framed('\x02' + le(1) + '\0'), framed('\x01' + le(protocol::kVersion + 1)),
        std::string("GET / HTTP/1.1\r\n\r\n")}) {
    const int fd = connectTo(socket);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, message.data(), message.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(message.size()));
    std::string answer = readUntilClosed(fd);
    ::close(fd);
    std::string body;
    bool broken = false;
    ASSERT_TRUE(protocol::takeMessage(answer, body, broken)) << ::testing::PrintToString(message);
    const auto refusal = protocol::readProgramMessage(body);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->type, protocol::ToAddon::refused);
    EXPECT_FALSE(refusal->refusal.empty());
  }
  const auto rest = static_cast<ssize_t>(served.size() - 10);
  ASSERT_EQ(::send(other, served.data() + 10, static_cast<std::size_t>(rest), MSG_NOSIGNAL), rest);
  timeval limit{5, 0};
  ::setsockopt(other, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  std::string inbox, body;
  bool answered = false, broken = false;
  char chunk[4096];
  for (ssize_t n; !answered && (n = ::recv(other, chunk, sizeof(chunk), 0)) > 0;) {
    inbox.append(chunk, static_cast<std::size_t>(n));
    while (protocol::takeMessage(inbox, body, broken)) {
      const auto message = protocol::readProgramMessage(body);
      answered |= message && message->type == protocol::ToAddon::answer && message->sequence == 41;
    }
  }
  ::close(other);
  EXPECT_TRUE(answered);
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি "))) << window->text(0).toStdString();
}

// A program in Tolvani's place on the addon's socket: it answers each key as `reply` says, in
// bytes as they go on the socket, and counts the fields it heard of and the connections the addon
// ended.
class FakeProgram {
 public:
  using Reply = std::function<std::string(std::uint32_t sequence)>;
  explicit FakeProgram(const QString& path) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()) + 1);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        ::listen(listener_, 4) == 0) {
      thread_ = std::thread([this] { serve(); });
    }
  }
  ~FakeProgram() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  bool listening() const { return thread_.joinable(); }
  void answerWith(Reply reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
  }
  int ended() const { return ended_; }
  int focused() const { return focused_; }
  // The keys answered so far.
  int keys() const { return keys_; }

 private:
  void serve() {
    std::vector<std::pair<int, std::string>> peers;
    while (!stop_) {
      std::vector<pollfd> polled{{listener_, POLLIN, 0}};
      for (const auto& peer : peers) polled.push_back({peer.first, POLLIN, 0});
      if (::poll(polled.data(), polled.size(), 50) <= 0) continue;
      for (std::size_t i = 1; i < polled.size(); ++i) {
        if (polled[i].revents == 0) continue;
        auto& [fd, inbox] = peers[i - 1];
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0) {
          ::close(std::exchange(fd, -1));
          ++ended_;
          continue;
        }
        inbox.append(chunk, static_cast<std::size_t>(n));
        std::string body;
        bool broken = false;
        while (protocol::takeMessage(inbox, body, broken)) {
          const auto message = protocol::readAddonMessage(body);
          if (message && message->type == protocol::ToProgram::focusIn) ++focused_;
          if (!message || message->type != protocol::ToProgram::key) continue;
          std::lock_guard lock(mutex_);
          ++keys_;
          const std::string out = reply_ ? reply_(message->key.sequence) : std::string();
          ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        }
      }
      std::erase_if(peers, [](const auto& peer) { return peer.first < 0; });
      if (polled[0].revents != 0) peers.emplace_back(::accept4(listener_, nullptr, nullptr, 0), "");
    }
    for (const auto& peer : peers) ::close(peer.first);
  }

  int listener_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_ = false;
  std::atomic<int> ended_ = 0;
  std::atomic<int> focused_ = 0;
  std::atomic<int> keys_ = 0;
  std::mutex mutex_;
  Reply reply_;
};

// The program takes key `sequence` and puts this action in its place.
std::string taken(std::uint32_t sequence, const std::string& action) {
  return framed('\x01' + le(sequence) + '\x01' + le(1) + action);
}

// The addon trusts nothing the program sends: whatever cannot be read, or answers a key it is not
// waiting for, ends that connection at once, the key goes on as typed, and the next key finds the
// program again.
TEST(Fcitx5ProtocolTest, AddonLeavesAProgramThatAnswersBadly) {
  Fcitx5DaemonHarness::Options options;
  options.program = QStringLiteral("/bin/true");
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  FakeProgram program(desktop.fcitx5()->root() + QStringLiteral("/tolvani.socket"));
  ASSERT_TRUE(program.listening());
  QFile fcitx5Pid(desktop.fcitx5()->root() + QStringLiteral("/fcitx5.pid"));
  ASSERT_TRUE(fcitx5Pid.open(QIODevice::ReadOnly));
  const QByteArray fcitx5 = fcitx5Pid.readAll();
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3);
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.waitFor([&] { return program.focused() > 0; }));

  const std::string commitX = '\x02' + text("X");
  std::string rows;
  for (int i = 0; i <= static_cast<int>(protocol::kMaxRows); ++i) rows += text("x") + text("1");
  const std::string row = text("layouts") + '\x03' + text("Layouts") + text("") + '\x00' + '\x01';
  const std::vector<std::pair<const char*, FakeProgram::Reply>> answers{
      {"a length out of bounds", [](auto) { return std::string("\xff\xff\xff\x7f", 4); }},
      {"an unknown kind", [](auto) { return framed("\x7f"); }},
      {"a text cut short", [](auto s) { return taken(s, '\x02' + le(10) + "abc"); }},
      {"a text that is no UTF-8", [](auto s) { return taken(s, '\x02' + text("\xff\xfe")); }},
      {"a caret inside a letter", [](auto s) { return taken(s, '\x01' + text("ক") + le(1)); }},
      {"more rows than a list holds",
       [&](auto s) {
         return taken(s, '\x04' + le(protocol::kMaxRows + 1) + rows + le(0) + text(""));
       }},
      {"a menu row twice", [&](auto s) { return taken(s, '\x05' + le(2) + row + row); }},
      {"an answer to another key", [&](auto s) { return taken(s + 1, commitX); }},
      {"an answer to a key never sent",
       [&](auto s) { return framed('\x01' + le(s) + '\0' + le(0)) + taken(s + 7, commitX); }},
  };
  QString typed;
  for (const auto& [name, reply] : answers) {
    SCOPED_TRACE(name);
    const int ended = program.ended();
    program.answerWith(reply);
    const QChar letter(static_cast<char16_t>(u'a' + typed.size()));
    typed += letter;
    ASSERT_TRUE(desktop.type(letter));
    EXPECT_TRUE(window->waitForText(0, typed)) << window->text(0).toStdString();
    EXPECT_TRUE(desktop.waitFor([&] { return program.ended() > ended; }));
  }
  // The program that answers well types again, in the same fcitx5.
  program.answerWith([](auto s) { return taken(s, '\x02' + text("ক")); });
  ASSERT_TRUE(desktop.type(QStringLiteral("z")));
  EXPECT_TRUE(window->waitForText(0, typed + u("ক"))) << window->text(0).toStdString();
  fcitx5Pid.seek(0);
  EXPECT_EQ(fcitx5Pid.readAll(), fcitx5);
}

// A KDE panel as fcitx5's kimpanel addon serves one (org.kde.impanel): it receives the status
// area's rows and triggers them as a person's click on the panel does, and keeps the input panel
// (the line above the list, the preedit, the list) as Plasma's widget shows it. Plasma's widget
// shows a window for whatever is made visible: each time an empty line or an empty list is made
// visible is kept, as that window shows with nothing in it.
class KdePanel final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.impanel2")

 public:
  explicit KdePanel(const QString& address)
      : bus_(QDBusConnection::connectToBus(address, QStringLiteral("kde-panel"))) {
    const auto listen = [this](const char* signal, const char* slot) {
      bus_.connect(QString(), QStringLiteral("/kimpanel"),
                   QStringLiteral("org.kde.kimpanel.inputmethod"), QString::fromLatin1(signal),
                   this, slot);
    };
    listen("RegisterProperties", SLOT(registered(QStringList)));
    listen("ExecMenu", SLOT(menuShown(QStringList)));
    listen("UpdateAux", SLOT(auxTold(QString, QString)));
    listen("UpdatePreeditText", SLOT(preeditTold(QString, QString)));
    listen("ShowAux", SLOT(auxShown(bool)));
    listen("ShowPreedit", SLOT(preeditShown(bool)));
    listen("ShowLookupTable", SLOT(listShown(bool)));
    bus_.registerObject(QStringLiteral("/org/kde/impanel"), this,
                        QDBusConnection::ExportScriptableSlots);
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

  // Tolvani's rows as the panel shows them, "key|title" (sub-menus marked " >"), without the
  // check mark that begins the title of a row that is on.
  static QStringList rows(const QStringList& properties) {
    QStringList out;
    for (const QStringList& fields : tolvaniRows(properties)) {
      out << fields[0] + u'|' + QString(fields[1]).remove(kCheck) +
                 (fields[4] == QLatin1String("menu") ? QStringLiteral(" >") : QString());
    }
    return out;
  }

  // The rows that are on: their titles begin with a check mark.
  static QStringList checkedRows(const QStringList& properties) {
    QStringList out;
    for (const QStringList& fields : tolvaniRows(properties)) {
      if (fields[1].startsWith(kCheck)) out << fields[0];
    }
    return out;
  }

  // The rows' icons, in order.
  static QStringList icons(const QStringList& properties) {
    QStringList out;
    for (const QStringList& fields : tolvaniRows(properties)) out << fields[2];
    return out;
  }

  QStringList properties;
  QStringList menu;
  // The texts of each list made visible, one line of them each time.
  QStringList listsShown;
  // What was made visible with nothing in it, in order.
  QStringList emptyShown;
  // Every message about the input panel, in order.
  QStringList log;

 public Q_SLOTS:
  // fcitx5 sends the list with this call and shows or hides it with ShowLookupTable.
  Q_SCRIPTABLE Q_NOREPLY void SetLookupTable(const QStringList&, const QStringList& texts,
                                             const QStringList&, bool, bool, int, int) {
    texts_ = texts;
    log << QStringLiteral("list=") + texts.join(u' ');
  }

 private Q_SLOTS:
  void registered(const QStringList& list) { properties = list; }
  void menuShown(const QStringList& list) { menu = list; }
  void auxTold(const QString& text, const QString&) {
    aux_ = text;
    log << QStringLiteral("aux=") + text;
  }
  void preeditTold(const QString& text, const QString&) {
    preedit_ = text;
    log << QStringLiteral("preedit=") + text;
  }
  void auxShown(bool shown) {
    log << QStringLiteral("showAux ") + QString::number(shown);
    if (shown && aux_.trimmed().isEmpty()) emptyShown << QStringLiteral("aux");
  }
  void preeditShown(bool shown) {
    log << QStringLiteral("showPreedit ") + QString::number(shown);
    if (shown && preedit_.trimmed().isEmpty()) emptyShown << QStringLiteral("preedit");
  }
  void listShown(bool shown) {
    log << QStringLiteral("showList ") + QString::number(shown);
    if (!shown) return;
    listsShown << texts_.join(u' ');
    if (texts_.join(QString()).trimmed().isEmpty()) emptyShown << QStringLiteral("list");
  }

 private:
  // Each of Tolvani's rows as its fields: key, title, icon, long title and type.
  static QList<QStringList> tolvaniRows(const QStringList& properties) {
    QList<QStringList> out;
    for (const QString& p : properties) {
      const QStringList fields = p.mid(15).split(u':');
      if (p.startsWith(QLatin1String("/Fcitx/tolvani-")) && fields.size() >= 5) out << fields;
    }
    return out;
  }
  static inline const QString kCheck = QStringLiteral("✓ ");

  QDBusConnection bus_;
  QString aux_;
  QString preedit_;
  QStringList texts_;
};

// The rows the panel shows as buttons: no section title, line or row that does nothing.
const QStringList kEnglishRows{
    u("switchToPhonetic|ফোনেটিক (Phonetic)"),
    u("switchToProbhat|প্রভাত (Probhat)"),
    u("switchToNational|জাতীয় (National)"),
    u("switchToUnijoy|ইউনিজয় (Unijoy)"),
    QStringLiteral("toggleEnglishPassthrough|English Passthrough"),
    QStringLiteral("toggleSuggestions|Suggestions"),
    QStringLiteral("tools|Tools >"),
};

// Whether an icon theme has this icon, as a file of its own.
bool themeHas(const QString& theme, const QString& icon) {
  static QHash<QString, QSet<QString>> names;
  if (!names.contains(theme)) {
    QSet<QString>& found = names[theme];
    QDirIterator files(QStringLiteral("/usr/share/icons/") + theme, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
      QString name = QFileInfo(files.next()).fileName();
      for (const char* end : {".symbolic.png", ".svg", ".png"}) {
        if (name.endsWith(QLatin1String(end))) {
          name.chop(int(std::strlen(end)));
          if (QLatin1String(end) == QLatin1String(".symbolic.png"))
            name += QStringLiteral("-symbolic");
          break;
        }
      }
      found.insert(name);
    }
  }
  return names[theme].contains(icon);
}

// Each button can be told from the others by its icon, which KDE's theme (Breeze) and GNOME's
// (Adwaita, or hicolor under it) both have: Plasma's panel shows a title's first letter for an
// icon its theme lacks.
std::string iconFaults(const QStringList& icons) {
  std::string faults;
  for (int i = 0; i < icons.size(); ++i) {
    if (icons.indexOf(icons[i]) != i) faults += "twice: " + icons[i].toStdString() + "\n";
    if (!themeHas(QStringLiteral("breeze"), icons[i]))
      faults += "not in Breeze: " + icons[i].toStdString() + "\n";
    if (!themeHas(QStringLiteral("Adwaita"), icons[i]) &&
        !themeHas(QStringLiteral("hicolor"), icons[i]))
      faults += "not in Adwaita: " + icons[i].toStdString() + "\n";
  }
  return faults;
}

// The rows arrive in the order and words of the IBus menu, in both languages, and act when the
// panel triggers them after its menu took the focus from the field.
TEST(Fcitx5MenuTest, StatusAreaRowsActWhenAPanelTriggersThem) {
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("kimpanel");
  options.uiLanguage = 1;
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  KdePanel panel(desktop.fcitx5()->sessionBusAddress());
  TextWindow* window =
      desktop.open(TextWindow::Toolkit::Gtk3, {QStringLiteral("--fields"), QStringLiteral("2")});
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

  // Another field takes the focus while the program is stopped: its rows are there all the same,
  // before any key.
  const qint64 program = desktop.fcitx5()->tolvaniPid();
  ASSERT_GT(program, 0);
  ::kill(static_cast<pid_t>(program), SIGSTOP);
  panel.properties.clear();
  ASSERT_TRUE(desktop.focus(*window, 1));
  EXPECT_TRUE(desktop.waitFor([&] { return KdePanel::rows(panel.properties) == kEnglishRows; }))
      << KdePanel::rows(panel.properties).join(u'\n').toStdString();
  ::kill(static_cast<pid_t>(program), SIGCONT);
  ASSERT_TRUE(desktop.waitFor([&] {
    return desktop.events().contains(QStringLiteral("activate fcitx5:2"));
  })) << events(desktop);
  ASSERT_TRUE(desktop.focus(*window, 0));

  // The panel's menu opens: the field loses the focus, and the row still speaks for it.
  ASSERT_TRUE(desktop.focusWindow(*other));
  ASSERT_TRUE(desktop.waitFor([&] {
    return count(desktop, QStringLiteral("deactivate fcitx5:1")) == 2;
  })) << events(desktop);
  EXPECT_EQ(KdePanel::checkedRows(panel.properties).join(u' ').toStdString(),
            "switchToPhonetic toggleSuggestions");
  EXPECT_EQ(iconFaults(KdePanel::icons(panel.properties)), "")
      << KdePanel::icons(panel.properties).join(u' ').toStdString();
  panel.trigger(QStringLiteral("switchToProbhat"));
  ASSERT_TRUE(desktop.waitFor([&] {
    return desktop.events().contains(QStringLiteral("menu row switchToProbhat without focus"));
  })) << events(desktop);
  // The check marks follow, in the titles (the panel draws no check mark); the layout in use
  // keeps its own icon.
  EXPECT_TRUE(desktop.waitFor([&] {
    return KdePanel::checkedRows(panel.properties) ==
           QStringList({QStringLiteral("switchToProbhat"), QStringLiteral("toggleSuggestions")});
  })) << panel.properties.join(u'\n').toStdString();
  EXPECT_EQ(iconFaults(KdePanel::icons(panel.properties)), "")
      << KdePanel::icons(panel.properties).join(u' ').toStdString();
  panel.trigger(QStringLiteral("toggleSuggestions"));
  EXPECT_TRUE(desktop.waitFor([&] {
    return KdePanel::checkedRows(panel.properties) ==
           QStringList(QStringLiteral("switchToProbhat"));
  })) << panel.properties.join(u'\n').toStdString();
  // The Tools row opens its own rows, which open Tolvani's windows.
  panel.trigger(QStringLiteral("tools"));
  ASSERT_TRUE(desktop.waitFor([&] {
    return KdePanel::rows(panel.menu).contains(QStringLiteral("openKeyboardHelp|Keyboard Help..."));
  })) << panel.menu.join(u'\n').toStdString();
  EXPECT_EQ(KdePanel::rows(panel.menu).size(), 8);
  EXPECT_EQ(iconFaults(KdePanel::icons(panel.menu)), "")
      << KdePanel::icons(panel.menu).join(u' ').toStdString();
  panel.trigger(QStringLiteral("openKeyboardHelp"));
  EXPECT_TRUE(desktop.waitFor([&] {
    return desktop.events().contains(QStringLiteral("menu row openKeyboardHelp without focus"));
  }));
  // The window takes the focus as it shows; then the person goes back to the field.
  EXPECT_TRUE(desktop.waitForWindow(u("কীবোর্ড লে-আউট সাহায্য"), 20000));

  // Back in the field, Probhat types.
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("kml ")));
  EXPECT_TRUE(window->waitForText(0, u("কমল "))) << window->text(0).toStdString();

  // In Bangla the same rows come in Bangla.
  desktop.fcitx5()->setSetting(AppSettings::kUiLanguageKey, 0);
  EXPECT_TRUE(desktop.waitFor([&] {
    const QStringList rows = KdePanel::rows(panel.properties);
    return rows.size() == kEnglishRows.size() && rows[6] == u("tools|টুলস >");
  })) << KdePanel::rows(panel.properties).join(u'\n').toStdString();
}

// Plasma's widget shows a window for what fcitx5 makes visible: never an empty one, while words
// are typed and picked by their numbers in a GTK 3 field and the sentence is typed in a Qt field.
TEST(Fcitx5MenuTest, KdePanelIsNeverShownEmpty) {
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("kimpanel");
  options.uiLanguage = 1;
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* gtk =
      desktop.open(TextWindow::Toolkit::Gtk3, {QStringLiteral("--fields"), QStringLiteral("2")});
  ASSERT_NE(gtk, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*gtk, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
  // A panel that comes after the rows were offered (Plasma started again) gets them as its
  // buttons, from the addon alone: the program is stopped meanwhile.
  {
    KdePanel first(desktop.fcitx5()->sessionBusAddress());
    ASSERT_TRUE(desktop.focus(*gtk, 1));
    ASSERT_TRUE(desktop.waitFor([&] { return KdePanel::rows(first.properties) == kEnglishRows; }))
        << KdePanel::rows(first.properties).join(u'\n').toStdString();
  }
  ASSERT_TRUE(desktop.focus(*gtk, 0));
  ASSERT_TRUE(desktop.waitFor([&] {
    return count(desktop, QStringLiteral("activate fcitx5:1")) == 2;
  })) << events(desktop);
  const qint64 program = desktop.fcitx5()->tolvaniPid();
  ASSERT_GT(program, 0);
  ::kill(static_cast<pid_t>(program), SIGSTOP);
  KdePanel panel(desktop.fcitx5()->sessionBusAddress());
  EXPECT_TRUE(desktop.waitFor([&] { return KdePanel::rows(panel.properties) == kEnglishRows; }))
      << KdePanel::rows(panel.properties).join(u'\n').toStdString();
  ::kill(static_cast<pid_t>(program), SIGCONT);
  const qsizetype drawn = panel.log.filter(QStringLiteral("list=")).size();
  for (int round = 0; round < 10; ++round) {
    const QString before = gtk->text(0);
    const qsizetype lists = panel.listsShown.size();
    ASSERT_TRUE(desktop.type(QStringLiteral("ami")));
    ASSERT_TRUE(desktop.waitFor([&] {
      return panel.listsShown.size() > lists && panel.listsShown.last().contains(u("আমি"));
    })) << panel.listsShown.join(u'\n').toStdString();
    ASSERT_TRUE(desktop.key(QStringLiteral("3")));
    ASSERT_TRUE(desktop.waitFor([&] {
      return gtk->text(0).size() > before.size() && gtk->preedit(0).isEmpty();
    })) << gtk->text(0).toStdString();
  }
  // The widget shows and sizes its window anew each time it is drawn: at most once for each key
  // (a list that follows the keys of a word may be drawn once for several).
  EXPECT_LE(panel.log.filter(QStringLiteral("list=")).size() - drawn, 10 * 4)
      << panel.log.join(u'\n').toStdString();
  TextWindow* qt =
      desktop.open(TextWindow::Toolkit::Qt6, {QStringLiteral("--fields"), QStringLiteral("1"),
                                              QStringLiteral("--y"), QStringLiteral("300")});
  ASSERT_NE(qt, nullptr) << desktop.failure().toStdString();
  const qsizetype activations = desktop.events().filter(QStringLiteral("activate ")).size();
  ASSERT_TRUE(desktop.focus(*qt, 0));
  ASSERT_TRUE(desktop.waitFor([&] {
    return desktop.events().filter(QStringLiteral("activate ")).size() > activations;
  })) << events(desktop);
  ASSERT_TRUE(desktop.type(QStringLiteral("ami tomake bhalobashi. kemon acho? ")));
  EXPECT_TRUE(qt->waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন আছো? ")))
      << qt->text(0).toStdString();
  EXPECT_EQ(panel.emptyShown.join(u' ').toStdString(), "") << panel.log.join(u'\n').toStdString();
}

// Rows and messages the program sends blank (spaces only) never reach the panel: Plasma's widget
// would show an empty window for them.
TEST(Fcitx5MenuTest, BlankRowsAndMessagesNeverReachTheKdePanel) {
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("kimpanel");
  options.program = QStringLiteral("/bin/true");
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  KdePanel panel(desktop.fcitx5()->sessionBusAddress());
  FakeProgram program(desktop.fcitx5()->root() + QStringLiteral("/tolvani.socket"));
  ASSERT_TRUE(program.listening());
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3);
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(desktop.waitFor([&] { return program.focused() > 0; }));

  const auto list = [](const std::vector<std::string>& rows, const std::string& status) {
    std::string out = '\x04' + le(static_cast<std::uint32_t>(rows.size()));
    for (const std::string& row : rows) out += text(row) + text("1");
    return out + le(rows.empty() ? 0xffffffffu : 0u) + text(status);
  };
  const std::vector<std::pair<std::string, std::string>> answers{
      {"k", list({" ", ""}, " ")},
      {"l", list({}, "  ")},
      {"m", list({"ক"}, "k")},
  };
  // One key each; the panel hears of them in order, the last one's list ending the wait.
  for (const auto& [key, action] : answers) {
    const int keys = program.keys();
    program.answerWith([action](auto s) { return taken(s, action); });
    ASSERT_TRUE(desktop.type(QString::fromStdString(key)));
    ASSERT_TRUE(desktop.waitFor([&] { return program.keys() > keys; }));
  }
  ASSERT_TRUE(desktop.waitFor([&] { return !panel.listsShown.isEmpty(); }));
  EXPECT_EQ(panel.emptyShown.join(u' ').toStdString(), "") << panel.log.join(u'\n').toStdString();
  EXPECT_EQ(panel.listsShown.join(u'|').toStdString(), "ক");
}

struct SelectionCase {
  const char* name;
  TextWindow::Toolkit toolkit;
  bool multiline;
};
void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class Fcitx5BanglishTest : public ::testing::TestWithParam<SelectionCase> {};

// The Banglish selected is what Control-Alt-B and the menu's row convert, each word of the text
// as long in Bangla. The row comes with no key: it converts the selection the field told last,
// which GTK 3 tells as each key goes up and Qt as it changes, a selection made with the mouse too;
// one GTK 3 has not told is not taken for another.
TEST_P(Fcitx5BanglishTest, KeyAndMenuRowConvertTheSelection) {
  const SelectionCase& c = GetParam();
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("kimpanel");
  options.uiLanguage = 1;
  VirtualDesktop desktop(options);
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  KdePanel panel(desktop.fcitx5()->sessionBusAddress());
  TextWindow* window = desktop.open(
      c.toolkit, c.multiline ? QStringList{QStringLiteral("--multiline")} : QStringList{});
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
  // Banglish through fcitx5's keyboard layout.
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+space")));
  ASSERT_TRUE(desktop.type(QStringLiteral("hello ami tomake bhalo kemon")));
  ASSERT_TRUE(window->waitForText(0, QStringLiteral("hello ami tomake bhalo kemon")))
      << window->text(0).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+space")));

  // "ami", selected with keys, by the key.
  ASSERT_TRUE(desktop.key(QStringLiteral("Home ") + QStringLiteral("Right ").repeated(6) +
                          QStringLiteral("shift+Right ").repeated(3).trimmed()));
  ASSERT_TRUE(window->waitForSelection(0, 6, 9)) << window->selection(0).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+alt+b")));
  EXPECT_TRUE(window->waitForText(0, u("hello আমি tomake bhalo kemon")))
      << window->text(0).toStdString();

  // "tomake", selected with keys, by the row.
  ASSERT_TRUE(
      desktop.key(QStringLiteral("Right ") + QStringLiteral("shift+Right ").repeated(6).trimmed()));
  ASSERT_TRUE(window->waitForSelection(0, 10, 16)) << window->selection(0).toStdString();
  testing::waitUntil([] { return false; }, 200);
  panel.trigger(QStringLiteral("convertBanglishSelection"));
  EXPECT_TRUE(window->waitForText(0, u("hello আমি তোমাকে bhalo kemon")))
      << window->text(0).toStdString();

  // "bhalo", selected with the mouse: by the row where the field tells it at once, else by the key.
  const QPoint from = window->characterPoint(0, 17);
  const QPoint to = window->characterPoint(0, 22);
  ASSERT_FALSE(from.isNull() || to.isNull());
  ASSERT_TRUE(desktop.drag(from + QPoint(1, 0), to + QPoint(1, 0)));
  ASSERT_TRUE(window->waitForSelection(0, 17, 22)) << window->selection(0).toStdString();
  testing::waitUntil([] { return false; }, 200);
  if (c.toolkit == TextWindow::Toolkit::Qt6) {
    panel.trigger(QStringLiteral("convertBanglishSelection"));
  } else {
    // GTK 3 has told nothing since the drag: the row converts nothing, and says why.
    const qsizetype said = desktop.events().size();
    panel.trigger(QStringLiteral("convertBanglishSelection"));
    EXPECT_TRUE(desktop.waitFor([&] {
      return desktop.events().mid(said).contains(
          QStringLiteral("status Can't read the selection in this app"));
    })) << desktop.events().mid(said).join(u'\n').toStdString();
    EXPECT_EQ(window->text(0), u("hello আমি তোমাকে bhalo kemon"));
    ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+alt+b")));
  }
  EXPECT_TRUE(window->waitForText(0, u("hello আমি তোমাকে ভালো kemon")))
      << window->text(0).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Fcitx5BanglishTest,
    ::testing::Values(SelectionCase{"gtk3_view", TextWindow::Toolkit::Gtk3, true},
                      SelectionCase{"qt6_line", TextWindow::Toolkit::Qt6, false}),
    [](const auto& info) { return std::string(info.param.name); });

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
    icons[label] = properties.value(QStringLiteral("icon-name")).toString();
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

 public:
  // The icon of each row, by its label, as the last look at the menu found them.
  QMap<QString, QString> icons;
};

// The rows' check marks in fcitx5's tray menu follow the state: one layout checked, the switches
// checked when on, and a click on a row moves them. The rows are there before any key, even when
// the field lost the focus while the program was starting.
TEST(Fcitx5TrayTest, CheckMarksFollowTheState) {
  Fcitx5DaemonHarness::Options options;
  options.addons << QStringLiteral("classicui") << QStringLiteral("notificationitem");
  options.uiLanguage = 1;
  options.programDelayMs = 1500;
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
  ASSERT_TRUE(desktop.focusWindow(*other));
  ASSERT_TRUE(tolvaniActive(desktop)) << events(desktop);
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
  })) << rows.join(u'\n').toStdString()
      << '\n'
      << events(desktop);
  // The rows keep their own icons and labels there: the menu draws the check marks.
  QStringList icons;
  for (const QString& label : {phonetic, probhat, u("জাতীয় (National)"), u("ইউনিজয় (Unijoy)"),
                               QStringLiteral("English Passthrough"), QStringLiteral("Suggestions"),
                               QStringLiteral("Tools")}) {
    icons << tray.icons.value(label);
  }
  EXPECT_EQ(iconFaults(icons), "") << icons.join(u' ').toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0));
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
  // Ends the compositor as the end of a session does (SIGTERM), its clients left to end as they
  // do when it goes.
  bool end() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    return process_.waitForFinished(20000);
  }
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

// fcitx5 as the input method of a headless Sway, and a GTK 3 field under Sway reaching it through
// `imModule` ("wayland": the compositor's text input), focused with Tolvani on.
struct SwayField {
  explicit SwayField(const QString& imModule, bool overwriteFreedMemory = false) {
    if (!sway.ready()) {
      failure = QStringLiteral("Sway did not start");
      return;
    }
    Fcitx5DaemonHarness::Options options;
    options.addons = {QStringLiteral("dbus"), QStringLiteral("dbusfrontend"),
                      QStringLiteral("wayland"), QStringLiteral("waylandim"),
                      QStringLiteral("keyboard")};
    options.waylandDisplay = QStringLiteral("wayland-1");
    options.runtimeDir = sway.runtime();
    options.asTestUser = true;
    options.overwriteFreedMemory = overwriteFreedMemory;
    fcitx5 = std::make_unique<Fcitx5DaemonHarness>(options);
    if (!fcitx5->ready()) {
      failure = fcitx5->failure();
      return;
    }
    env = sway.environment();
    fcitx5->addProgramEnvironment(env);
    env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("GTK_IM_MODULE"), imModule);
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    testing::letTestUserReach(TextWindow::programPath(TextWindow::Toolkit::Gtk3));
    window = std::make_unique<TextWindow>(TextWindow::Toolkit::Gtk3, QStringList{}, env,
                                          testing::asTestUser({}));
    if (!window->ready()) {
      failure = window->failure();
    } else if (!window->waitForFocus(0)) {
      failure = QStringLiteral("the field took no focus");
    } else if (!fcitx5->waitFor([&] {
                 return fcitx5->events().filter(QStringLiteral("activate ")).size() > 0;
               })) {
      failure = fcitx5->events().join(u'\n');
    }
  }
  Sway sway;
  std::unique_ptr<Fcitx5DaemonHarness> fcitx5;
  QProcessEnvironment env;
  std::unique_ptr<TextWindow> window;
  QString failure;
};

class Fcitx5SwayTest : public ::testing::TestWithParam<const char*> {};

// A GTK 3 field under Sway types the README's sentence through fcitx5, whether GTK talks to it
// through the compositor's text input (fcitx5 as the Wayland input method) or through fcitx5's
// own GTK module, in one call of wtype, whose virtual keyboard gives each key the next free code
// from 9 on, none where the US layout has it. As that keyboard joins the seat, Sway takes the
// focus from the field and gives it back. Through text input fcitx5 hears of it after the first
// key, mid-word, and the word goes on. There fcitx5 also lets go of the keyboard as the field
// loses the focus and takes it again, and drops the keys Sway sent it meanwhile: the call pauses
// after the first key, the word begun.
TEST_P(Fcitx5SwayTest, GtkFieldUnderWaylandTypesTheSentence) {
  SwayField field(QString::fromLatin1(GetParam()));
  ASSERT_TRUE(field.failure.isEmpty()) << field.failure.toStdString();
  TextWindow& window = *field.window;
  const QProcessEnvironment& env = field.env;

  QProcess wtype;
  wtype.setProcessEnvironment(env);
  wtype.setChildProcessModifier(testing::ownGroup);
  QStringList arguments{QStringLiteral("wtype"),
                        QStringLiteral("ami tomake bhalobashi. kemon acho? ")};
  if (QString::fromLatin1(GetParam()) == QStringLiteral("wayland")) {
    arguments =
        QStringList{QStringLiteral("wtype"), QStringLiteral("a"), QStringLiteral("-s"),
                    QStringLiteral("500"), QStringLiteral("mi tomake bhalobashi. kemon acho? ")};
  }
  const QStringList command = testing::asTestUser(arguments);
  wtype.start(command.first(), command.mid(1));
  ASSERT_TRUE(wtype.waitForStarted());
  const qint64 group = wtype.processId();
  EXPECT_TRUE(window.waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন আছো? "), 20000))
      << window.text(0).toStdString();
  wtype.waitForFinished(5000);
  testing::endGroup(wtype, group);
}

// The session ends (the compositor ends) after Tolvani was switched on in a field that reaches
// fcitx5 through the compositor's text input, as Chromium's do: fcitx5 ends with it, by no signal.
TEST(Fcitx5SessionEndTest, Fcitx5EndsCleanlyWithTheCompositor) {
  SwayField field(QStringLiteral("wayland"), /*overwriteFreedMemory=*/true);
  ASSERT_TRUE(field.failure.isEmpty()) << field.failure.toStdString();
  Sway& sway = field.sway;
  Fcitx5DaemonHarness& fcitx5 = *field.fcitx5;

  ASSERT_TRUE(sway.end());
  ASSERT_TRUE(fcitx5.waitFor([&] { return !fcitx5.exits().isEmpty(); }));
  EXPECT_EQ(fcitx5.exits().first(), 0);
}

INSTANTIATE_TEST_SUITE_P(ImModules, Fcitx5SwayTest, ::testing::Values("wayland", "fcitx"),
                         [](const auto& info) {
                           return std::string(info.param) == "wayland" ? "TextInput"
                                                                       : "Fcitx5Module";
                         });

}  // namespace
}  // namespace tolvani

#include "Fcitx5DesktopTest.moc"
