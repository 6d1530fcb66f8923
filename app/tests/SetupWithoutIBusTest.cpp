// Xfce straight after IBus is installed: the session bus runs, IBus does not yet. The built
// program, run as the desktop user on a virtual X display, first adds Tolvani from the command
// line, then is started as the applications menu starts it ("tolvani --setup"): its setup window
// shows alone and says what is left, a second start reaches it, and the program ends with the
// window; or the session's daemon starts while the window is open, and the window finishes the
// setup. Screenshots of the window in both languages go to the build tree.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "ime/testing/TestUser.h"
#include "ime/testing/WindowReport.h"

namespace tolvani {
namespace {

QString readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool waitUntil(const std::function<bool()>& done, int milliseconds = 60000) {
  const QDeadlineTimer deadline(milliseconds);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  return true;
}

// Whether the process runs: not ended, and not a zombie waiting for its parent.
bool alive(const QProcess& process) {
  const qint64 pid = process.processId();
  if (pid <= 0) return false;
  const QString stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
  return !stat.isEmpty() && stat.mid(stat.lastIndexOf(u')') + 2, 1) != QLatin1String("Z");
}

void stop(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(10000)) {
    process.kill();
    process.waitForFinished(5000);
  }
}

// Stands at the daemon's address and hangs up on every caller at once, as no daemon answers,
// counting the calls of each process.
class AddressWatch {
 public:
  explicit AddressWatch(const QString& path) : path_(QFile::encodeName(path)) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.constData(), sizeof(address.sun_path) - 1);
    listening_ = fd_ >= 0 &&
                 ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                 ::chmod(path_.constData(), 0666) == 0 && ::listen(fd_, 64) == 0;
    if (!listening_) return;
    thread_ = std::thread([this] {
      for (;;) {
        const int caller = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (caller < 0) {
          if (errno == EINTR) continue;
          return;
        }
        ucred peer{};
        socklen_t size = sizeof(peer);
        ::getsockopt(caller, SOL_SOCKET, SO_PEERCRED, &peer, &size);
        ::close(caller);
        const std::lock_guard lock(mu_);
        ++calls_[peer.pid];
      }
    });
  }
  ~AddressWatch() {
    if (fd_ < 0) return;
    // Wakes the accept.
    ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
    ::unlink(path_.constData());
  }
  bool listening() const { return listening_; }
  int mostCallsOfOneProcess() const {
    const std::lock_guard lock(mu_);
    int most = 0;
    for (const auto& [pid, calls] : calls_) most = std::max(most, calls);
    return most;
  }
  int callers() const {
    const std::lock_guard lock(mu_);
    return static_cast<int>(calls_.size());
  }

 private:
  QByteArray path_;
  int fd_ = -1;
  bool listening_ = false;
  std::thread thread_;
  mutable std::mutex mu_;
  std::map<pid_t, int> calls_;
};

class SetupWithoutIBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.isValid());
    root_ = tree_.path();
    for (const char* folder : {"home", "config", "data", "cache", "runtime", "components"})
      ASSERT_TRUE(QDir().mkpath(root_ + u'/' + QLatin1String(folder)));
    QFile::setPermissions(root_ + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::copy(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR "/tolvani.xml"),
                            root_ + "/components/tolvani.xml"));
    testing::giveToTestUser(root_);
    for (const QString& path :
         {QStringLiteral(TOLVANI_PROGRAM), QStringLiteral(TOLVANI_SETUP_WINDOW_MODULE),
          QStringLiteral(TOLVANI_RESOURCES_DIR "/Setup/index.html")})
      testing::letTestUserReach(path);

    xvfb_.start(QStringLiteral("Xvfb"),
                {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    ASSERT_TRUE(xvfb_.waitForStarted());
    QByteArray number;
    while (!number.contains('\n') && xvfb_.waitForReadyRead(10000))
      number += xvfb_.readAllStandardOutput();
    ASSERT_TRUE(number.contains('\n'));
    display_ = u':' + QString::fromLatin1(number.trimmed());

    // The session's bus, the user's own, with no IBus daemon on it or anywhere.
    bus_.setProcessEnvironment(environment());
    testing::startAsTestUser(bus_, QStringLiteral("dbus-daemon"),
                             {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus_.waitForReadyRead(10000));
    busAddress_ = QString::fromUtf8(bus_.readLine()).trimmed();
    ASSERT_FALSE(busAddress_.isEmpty());
  }
  void TearDown() override {
    for (QProcess* process : {&setup_, &daemon_, &bus_, &xvfb_}) stop(*process);
  }

  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "TOLVANI_TEST_USER_ID"})
      env.remove(QString::fromLatin1(name));
    env.insert("DISPLAY", display_);
    env.insert("XDG_CURRENT_DESKTOP", "XFCE");
    env.insert("HOME", root_ + "/home");
    env.insert("XDG_CONFIG_HOME", root_ + "/config");
    env.insert("XDG_DATA_HOME", root_ + "/data");
    env.insert("XDG_CACHE_HOME", root_ + "/cache");
    env.insert("XDG_RUNTIME_DIR", root_ + "/runtime");
    env.insert("GSETTINGS_BACKEND", "keyfile");
    env.insert("IBUS_COMPONENT_PATH", root_ + "/components");
    // Where a daemon would listen; none does.
    env.insert("IBUS_ADDRESS", "unix:path=" + root_ + "/runtime/ibus.sock");
    env.insert("TOLVANI_TEST_WINDOWS", report());
    // The web engine's sandbox needs namespaces a test machine may not give.
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("ASAN_OPTIONS", "detect_leaks=0:new_delete_type_mismatch=0");
    if (!busAddress_.isEmpty()) env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress_);
    return env;
  }
  QString report() const { return root_ + "/windows.txt"; }

  // Runs the program as the user to its end; its status and everything it wrote.
  std::pair<int, QString> runProgram(const QStringList& arguments) {
    return runAsTestUser(QStringLiteral(TOLVANI_PROGRAM), arguments);
  }
  std::pair<int, QString> runAsTestUser(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    testing::startAsTestUser(process, program, arguments);
    if (!process.waitForFinished(60000)) stop(process);
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {status, QString::fromUtf8(process.readAll())};
  }

  // The guide page's `name` (an action, "#phase" or "row-<step>"): its fields are the name, the
  // chapter or state, and the text; none when the page does not show it.
  testing::Widget page(const QString& name) const { return shownPage().value(name); }
  // Everything the page shows, by name, from one reading of the report.
  QHash<QString, testing::Widget> shownPage() const {
    testing::WindowReport windows(report());
    windows.read();
    QHash<QString, testing::Widget> shown;
    for (const testing::Widget& widget : windows.lines()) {
      if (widget.kind == QLatin1String("page")) shown.insert(widget.fields.value(0), widget);
    }
    return shown;
  }
  QString pageText(const QString& name) const { return page(name).fields.value(2); }
  QRect guideWindow() const {
    testing::WindowReport windows(report());
    windows.read();
    for (const testing::Widget& shown : windows.lines()) {
      const QString title = shown.fields.value(2);
      if (shown.kind == QLatin1String("window") &&
          (title == QLatin1String("Keyboard Setup") || title == QString::fromUtf8("কীবোর্ড সেটআপ")))
        return shown.place;
    }
    return {};
  }

  bool clickPage(const QString& name) {
    const QRect place = page(name).place;
    if (place.isEmpty()) return false;
    const QPoint center = place.center();
    return xTool(QStringLiteral("xdotool"), {"mousemove", QString::number(center.x()),
                                             QString::number(center.y()), "click", "1"});
  }
  bool xTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    tool.setProcessEnvironment(env);
    tool.start(program, arguments);
    return tool.waitForFinished(20000) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
  }
  void screenshot(const QString& name) {
    const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    const QString path = folder + "/setup-without-ibus-" + name + ".png";
    QFile::remove(path);
    QStringList arguments{"-window", "root"};
    const QRect window = guideWindow();
    if (window.isValid())
      arguments << "-crop"
                << QStringLiteral("%1x%2+%3+%4")
                       .arg(window.width())
                       .arg(window.height())
                       .arg(window.x())
                       .arg(window.y())
                << "+repage";
    EXPECT_TRUE(xTool(QStringLiteral("import"), arguments << path)) << path.toStdString();
  }

  // Adds Tolvani from the command line, then starts "tolvani --setup" and waits until its page
  // says what is left without IBus.
  void openSetupWithoutIBus() {
    const auto [enabled, said] = runProgram(
        {QStringLiteral("--enable-input-source"), QStringLiteral("--select-input-source")});
    ASSERT_EQ(enabled, 0) << said.toStdString();
    ASSERT_TRUE(said.contains("im-config -n ibus")) << said.toStdString();

    setup_.setProcessEnvironment(environment());
    setup_.setProcessChannelMode(QProcess::MergedChannels);
    testing::startAsTestUser(setup_, QStringLiteral(TOLVANI_PROGRAM), {QStringLiteral("--setup")});
    ASSERT_TRUE(setup_.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return saysWhatIsLeft() || !alive(setup_); }))
        << readFile(report()).toStdString() << setup_.readAll().toStdString();
    ASSERT_TRUE(saysWhatIsLeft()) << setup_.readAll().toStdString();
  }
  bool saysWhatIsLeft() const {
    const QString phase = pageText("#phase");
    return phase == kWaitingEnglish || phase == kWaitingBangla;
  }
  // Switches the page to the other language and waits until its status line reads `phase`.
  bool switchLanguage(const QString& phase) {
    // The button may be missing from the report while the page redraws.
    return waitUntil([&] { return clickPage("language"); }, 10000) &&
           waitUntil([&] { return pageText("#phase") == phase; });
  }

  const QString kWaitingEnglish =
      "IBus is not running in this session yet. Choose it once with \"im-config -n ibus\", then "
      "log out and in again; then Super+Space switches to Tolvani.";
  const QString kWaitingBangla = QString::fromUtf8(
      "এই সেশনে IBus এখনো চালু হয়নি। একবার \"im-config -n ibus\" দিয়ে IBus বেছে নিন, তারপর লগ "
      "আউট করে আবার লগ ইন করুন; তারপর Super+Space চাপলে তোলভানিতে বদলাবে।");

  QTemporaryDir tree_{QDir::tempPath() + QStringLiteral("/tolvani-without-ibus-XXXXXX")};
  QString root_;
  QString display_;
  QString busAddress_;
  QProcess xvfb_;
  QProcess bus_;
  QProcess setup_;
  QProcess daemon_;
};

// "tolvani --setup" ended at once with status 1 and a line on standard error, which nobody sees
// after a click in the applications menu.
TEST_F(SetupWithoutIBusTest, SetupShowsTheWindowAloneSayingWhatIsLeftAndEndsWithIt) {
  ASSERT_NO_FATAL_FAILURE(openSetupWithoutIBus());
  const QString& english = kWaitingEnglish;
  const QString& bangla = kWaitingBangla;

  // Added; the menu and the switch wait for the daemon (no IBus icon can show before it), and the
  // status line says what is left. Nothing offers the tour, whose switch and typing cannot work
  // yet, nor IBus Preferences, which would only offer to start a daemon of their own.
  EXPECT_EQ(page("row-add").fields.value(1), "done");
  EXPECT_EQ(page("row-show").fields.value(1), "waiting");
  EXPECT_EQ(page("row-select").fields.value(1), "waiting");
  EXPECT_TRUE(page("tour").kind.isEmpty()) << readFile(report()).toStdString();
  EXPECT_TRUE(page("settings").kind.isEmpty()) << readFile(report()).toStdString();
  // The page starts in the interface's language; its switch shows the other.
  const bool banglaFirst = pageText("#phase") == bangla;
  for (const bool inBangla : {banglaFirst, !banglaFirst}) {
    if (inBangla != banglaFirst) {
      ASSERT_TRUE(switchLanguage(inBangla ? bangla : english)) << readFile(report()).toStdString();
    }
    EXPECT_EQ(pageText("#phase").toStdString(), (inBangla ? bangla : english).toStdString());
    EXPECT_EQ(
        page("row-select")
            .fields.value(2)
            .endsWith(inBangla ? QString::fromUtf8("IBus চালু হলে") : QString("After IBus starts")),
        true)
        << page("row-select").fields.join(u'|').toStdString();
    EXPECT_FALSE(readFile(report()).contains("all set")) << readFile(report()).toStdString();
    screenshot(inBangla ? "bangla" : "english");
  }

  // A second start reaches the running one, over the session bus, and ends.
  const auto [again, secondSaid] = runProgram({QStringLiteral("--setup")});
  EXPECT_EQ(again, 0) << secondSaid.toStdString();
  EXPECT_TRUE(alive(setup_));

  // Closing the window ends the program, which served nothing else.
  ASSERT_TRUE(clickPage("close"));
  ASSERT_TRUE(setup_.waitForFinished(30000)) << readFile(report()).toStdString();
  EXPECT_EQ(setup_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(setup_.exitCode(), 0) << setup_.readAll().toStdString();
}

// With no daemon the window said "Setting up Tolvani…" for about 7 s: each check of the window,
// a child of its own, kept calling the daemon's address for 2 s, waiting for a daemon restarting
// there, though no daemon process ran that could answer. Each process now calls once a question.
TEST_F(SetupWithoutIBusTest, NoCheckWaitsForADaemonThatDoesNotRun) {
  const AddressWatch watch(root_ + "/runtime/ibus.sock");
  ASSERT_TRUE(watch.listening()) << std::strerror(errno);
  ASSERT_NO_FATAL_FAILURE(openSetupWithoutIBus());
  // The command and the window's checks each asked (the watch hears them), and none kept asking.
  EXPECT_GE(watch.callers(), 2);
  EXPECT_LE(watch.mostCallsOfOneProcess(), 15);
  EXPECT_EQ(page("row-add").fields.value(1), "done");
  EXPECT_EQ(page("row-show").fields.value(1), "waiting");
}

// IBus started while the window was open (IBus Preferences' Yes, or the person): the window said
// "You're all set" with the switch still waiting and another engine current.
TEST_F(SetupWithoutIBusTest, ADaemonStartedWhileOpenGetsTolvaniSelectedBeforeAllSet) {
  ASSERT_NO_FATAL_FAILURE(openSetupWithoutIBus());
  // The session's own daemon, on its bus and at its address, with IBus's own panel, which shows
  // the input menu: without one the menu's row would not read done.
  daemon_.setProcessEnvironment(environment());
  daemon_.setProcessChannelMode(QProcess::ForwardedChannels);
  testing::startAsTestUser(
      daemon_, QStringLiteral("ibus-daemon"),
      {"--panel=/usr/libexec/ibus-ui-gtk3", "--emoji-extension=disable", "--config=disable",
       "--cache=none", "--address=unix:path=" + root_ + "/runtime/ibus.sock"});
  ASSERT_TRUE(daemon_.waitForStarted());

  const QString allSet[] = {
      QString::fromUtf8("You’re all set. Press Super+Space to switch keyboards."),
      QString::fromUtf8("সব তৈরি। কীবোর্ড বদলাতে Super+Space চাপুন।")};
  QStringList rowsWhenAllSet;
  ASSERT_TRUE(waitUntil([&] {
    const QHash<QString, testing::Widget> shown = shownPage();
    const QString phase = shown.value("#phase").fields.value(2);
    if (phase != allSet[0] && phase != allSet[1]) return false;
    for (const char* row : {"row-add", "row-show", "row-select"})
      rowsWhenAllSet << shown.value(row).fields.value(1);
    return true;
  })) << readFile(report()).toStdString();
  EXPECT_EQ(rowsWhenAllSet.join(' '), "done done done");
  const auto [engineRead, engine] = runAsTestUser(QStringLiteral("ibus"), {"engine"});
  EXPECT_EQ(engine.trimmed().toStdString(), "tolvani");

  // The finished window in both languages.
  const bool banglaFirst = pageText("#phase") == allSet[1];
  screenshot(banglaFirst ? "bangla-daemon-started" : "english-daemon-started");
  ASSERT_TRUE(switchLanguage(allSet[banglaFirst ? 0 : 1])) << readFile(report()).toStdString();
  screenshot(banglaFirst ? "english-daemon-started" : "bangla-daemon-started");
}

}  // namespace
}  // namespace tolvani
