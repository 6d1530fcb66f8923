// Through a private ibus-daemon: a word still being typed when the focus moves lands in the
// application it was typed in, once, and the program learns it.
#include <gtest/gtest.h>
#include <ibus.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/ProgramWrapper.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::IBusDaemonHarness;
using testing::TestInputContext;
using testing::typeKeys;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// Carries the program's connections to the daemon, and holds both ways for `hold` from the
// program's question which context has the focus, as a daemon that a busy machine stops for a
// while. Thread-safety: its own thread relays; the test's reads `held`.
class SlowDaemonRelay {
 public:
  SlowDaemonRelay(const QString& listenPath, std::chrono::milliseconds hold) : hold_(hold) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = socketAddress(listenPath);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0) {
      ::close(std::exchange(listener_, -1));
    }
  }
  ~SlowDaemonRelay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (Link& link : links_) {
      ::close(link.program);
      ::close(link.daemon);
    }
    if (listener_ >= 0) ::close(listener_);
  }
  bool listening() const { return listener_ >= 0; }
  // Relays to the daemon at `daemonPath` from now on.
  void start(const QString& daemonPath) {
    daemon_ = socketAddress(daemonPath);
    thread_ = std::thread([this] { run(); });
  }
  bool held() const { return held_; }

 private:
  struct Link {
    int program = -1;
    int daemon = -1;
    std::string seen;      // the end of what the program sent, for a question split in two reads
    std::string toDaemon;  // what the program sent while held
  };
  static sockaddr_un socketAddress(const QString& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(),
                std::min<std::size_t>(bytes.size(), sizeof address.sun_path - 1));
    return address;
  }
  static bool writeAll(int to, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t wrote = ::write(to, bytes.data() + sent, bytes.size() - sent);
      if (wrote <= 0) return false;
      sent += static_cast<std::size_t>(wrote);
    }
    return true;
  }
  static std::optional<std::string> readSome(int from) {
    char buffer[65536];
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(got));
  }
  void run() {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> holdUntil;
    while (!stop_) {
      const bool holding = holdUntil && Clock::now() < *holdUntil;
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (Link& link : links_) {
        if (!holding && !link.toDaemon.empty()) {
          writeAll(link.daemon, link.toDaemon);
          link.toDaemon.clear();
        }
        fds.push_back({holding ? -1 : link.program, POLLIN, 0});
        fds.push_back({holding ? -1 : link.daemon, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), 20) < 0) return;
      if (fds[0].revents & POLLIN) {
        Link link;
        link.program = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        link.daemon = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(link.daemon, reinterpret_cast<const sockaddr*>(&daemon_), sizeof daemon_);
        links_.push_back(std::move(link));
        continue;
      }
      for (std::size_t i = 0; i < links_.size(); ++i) {
        Link& link = links_[i];
        bool open = true;
        if (fds[1 + 2 * i].revents) {
          const std::optional<std::string> bytes = readSome(link.program);
          open = bytes.has_value();
          if (open) {
            link.seen =
                link.seen.substr(link.seen.size() > 64 ? link.seen.size() - 64 : 0) + *bytes;
            if (!held_ && link.seen.find("CurrentInputContext") != std::string::npos) {
              holdUntil = Clock::now() + hold_;
              held_ = true;
            }
            if (held_ && Clock::now() < *holdUntil)
              link.toDaemon += *bytes;
            else
              open = writeAll(link.daemon, *bytes);
          }
        }
        if (open && fds[2 + 2 * i].revents) {
          const std::optional<std::string> bytes = readSome(link.daemon);
          open = bytes && writeAll(link.program, *bytes);
        }
        if (!open) {
          ::shutdown(link.program, SHUT_RDWR);
          ::shutdown(link.daemon, SHUT_RDWR);
        }
      }
    }
  }

  const std::chrono::milliseconds hold_;
  int listener_ = -1;
  sockaddr_un daemon_{};
  std::vector<Link> links_;  // the relay thread's
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> held_{false};
};

class IBusFocusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness_ = std::make_unique<IBusDaemonHarness>(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
    ASSERT_TRUE(harness_->ready()) << harness_->failure().toStdString();
    qputenv("XDG_CONFIG_HOME", harness_->configHome().toUtf8());
    platform::Defaults::testResetStandard();
    AppSettings::setDefaultMode(KeyboardMode::phonetic);
  }
  void TearDown() override { harness_.reset(); }

  // Focuses `context` and waits until the program serves it.
  void focus(TestInputContext& context) {
    const int before = harness_->events().count("activate " + context.objectPath());
    context.focusIn();
    ASSERT_TRUE(harness_->waitFor([&] {
      return harness_->events().count("activate " + context.objectPath()) > before;
    })) << harness_->events().join('\n').toStdString();
  }
  // Types `keys` and waits until the preedit shows `preedit`.
  void compose(TestInputContext& context, const char* keys, const char* preedit) {
    EXPECT_EQ(typeKeys(context, keys), 0);
    ASSERT_TRUE(harness_->waitFor(
        [&] { return !context.preedits.empty() && context.preedits.back().text == u(preedit); }));
  }
  // Every commit the context received, joined by "|".
  static std::string commits(const TestInputContext& context) {
    return context.commits.join('|').toStdString();
  }
  // The learned frequency of `word` in the program's user dictionary on disk, 0 when absent.
  int learnedFrequency(const QString& word) const {
    QFile file(QDir(harness_->configHome()).filePath("../data/tolvani/user-dictionary.json"));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QJsonObject words = QJsonDocument::fromJson(file.readAll()).object()["words"].toObject();
    return words[word].toObject()["frequency"].toInt();
  }

  std::unique_ptr<IBusDaemonHarness> harness_;
};

TEST_F(IBusFocusTest, PendingWordLandsOnceWhereItWasTypedWhateverTakesTheFocus) {
  // The context that has the focus when the engine is chosen is not named by the daemon: its word
  // is committed only when it has the focus again.
  TestInputContext unnamed(*harness_, "QIBusInputContext");
  unnamed.focusIn();
  unnamed.selectEngine("tolvani");
  ASSERT_NO_FATAL_FAILURE(focus(unnamed));
  ASSERT_NO_FATAL_FAILURE(compose(unnamed, "ami", "আমি"));
  unnamed.focusOut();

  // A plain focus-out, the application sending no text.
  TestInputContext first(*harness_, "first-app");
  ASSERT_NO_FATAL_FAILURE(focus(first));
  harness_->settle();
  EXPECT_EQ(commits(unnamed), "");
  ASSERT_NO_FATAL_FAILURE(compose(first, "ami bhalo", "ভালো"));
  first.focusOut();
  ASSERT_TRUE(harness_->waitFor([&] { return first.commits.size() == 2; })) << commits(first);
  EXPECT_EQ(commits(first), "আমি |ভালো");

  // The next application gets only what is typed in it.
  TestInputContext second(*harness_, "second-app");
  second.keepText(QString(), 0);
  ASSERT_NO_FATAL_FAILURE(focus(second));
  ASSERT_NO_FATAL_FAILURE(compose(second, "tomake", "তোমাকে"));
  // With the application's text known, and the focus moving to a context without a focus-out of
  // this one first: IBus drops the preedit, and the word follows when the focus comes back.
  TestInputContext third(*harness_, "third-app");
  ASSERT_NO_FATAL_FAILURE(focus(third));
  EXPECT_EQ(typeKeys(third, "ki "), 0);
  ASSERT_TRUE(harness_->waitFor([&] { return !third.commits.empty(); }));
  harness_->settle();
  EXPECT_EQ(commits(third), "কি ");
  // Its application says it lost the focus only later, as toolkits do when another program
  // takes it.
  second.focusOut();
  harness_->settle();
  EXPECT_EQ(commits(second), "");
  third.focusOut();
  ASSERT_NO_FATAL_FAILURE(focus(second));
  ASSERT_TRUE(harness_->waitFor([&] { return second.text == u("তোমাকে"); }))
      << second.text.toStdString();
  harness_->settle();
  EXPECT_EQ(commits(second), "তোমাকে");
  EXPECT_EQ(commits(third), "কি ");
  EXPECT_EQ(commits(first), "আমি |ভালো");
  second.focusOut();
  ASSERT_NO_FATAL_FAILURE(focus(unnamed));
  ASSERT_TRUE(harness_->waitFor([&] { return !unnamed.commits.isEmpty(); }));
  harness_->settle();
  EXPECT_EQ(commits(unnamed), "আমি");

  // Each word was learned once, as the program saves at every focus change.
  ASSERT_TRUE(harness_->waitFor([&] { return learnedFrequency(u("তোমাকে")) > 0; }));
  EXPECT_EQ(learnedFrequency(u("ভালো")), 1);
  EXPECT_EQ(learnedFrequency(u("তোমাকে")), 1);
}

TEST_F(IBusFocusTest, QtDropsThePreeditWhenAnotherContextTakesTheFocusAndGetsItBack) {
  // Qt's module commits its preedit itself before it resets, so IBus must not commit it again;
  // it drops it when another application takes the focus, and the word follows on return.
  TestInputContext qt(*harness_, "QIBusInputContext");
  qt.focusIn();
  qt.selectEngine("tolvani");
  ASSERT_NO_FATAL_FAILURE(focus(qt));
  ASSERT_NO_FATAL_FAILURE(compose(qt, "ami bhalo", "ভালো"));
  TestInputContext other(*harness_, "other-app");
  ASSERT_NO_FATAL_FAILURE(focus(other));
  harness_->settle();
  qt.focusOut();
  harness_->settle();
  EXPECT_EQ(commits(qt), "আমি ");
  EXPECT_TRUE(other.commits.empty()) << commits(other);

  other.focusOut();
  ASSERT_NO_FATAL_FAILURE(focus(qt));
  ASSERT_TRUE(harness_->waitFor([&] { return qt.commits.size() == 2; })) << commits(qt);
  EXPECT_EQ(commits(qt), "আমি |ভালো");
  EXPECT_TRUE(other.commits.empty()) << commits(other);
}

// The first engine object a fresh daemon makes is focused without the context's path, and the
// program asked the daemon for it while keys kept coming: keys that reached it before the answer
// were answered "not handled", and the application inserted the Latin letters.
TEST_F(IBusFocusTest, KeysTypedThroughTheFirstSwitchOfADaemonAreAllTaken) {
  TestInputContext app(*harness_, "gtk3-app");
  app.focusIn();
  harness_->settle();

  // A key every millisecond, and as fast as they go while the program starts serving, from
  // before the switch until well after the program has the focus.
  std::vector<int> answers;  // per press: -1 until answered, then 1 when taken
  bool switched = false;
  ibus_bus_set_global_engine_async(
      harness_->bus(), "tolvani", -1, nullptr,
      +[](GObject* bus, GAsyncResult* result, gpointer done) {
        *static_cast<bool*>(done) =
            ibus_bus_set_global_engine_async_finish(IBUS_BUS(bus), result, nullptr) != FALSE;
      },
      &switched);
  const char* const keys = "ami tomake bhalobashi ";
  int afterFocus = -1;
  QDeadlineTimer burst(QDeadlineTimer::Forever);
  for (int i = 0; afterFocus < 0 || i < afterFocus + 400; ++i) {
    ASSERT_LT(i, 100000) << "the program never had the focus";
    const char key = keys[i % std::strlen(keys)];
    const unsigned keyval = key == ' ' ? IBUS_KEY_space : static_cast<unsigned char>(key);
    const unsigned keycode = testing::usKey(key).first;
    const std::size_t at = answers.size();
    answers.push_back(-1);
    app.sendKeyWithoutWaiting(keyval, keycode, 0,
                              [&answers, at](bool taken) { answers[at] = taken ? 1 : 0; });
    app.sendKeyWithoutWaiting(keyval, keycode, IBUS_RELEASE_MASK, [](bool) {});
    if (!burst.isForever() && !burst.hasExpired()) {
      g_main_context_iteration(nullptr, FALSE);
      continue;
    }
    testing::waitUntil([] { return false; }, 1);
    if (burst.isForever()) {
      gchar* owner = ibus_bus_get_name_owner(harness_->bus(), "org.freedesktop.IBus.Tolvani");
      if (owner && *owner) burst.setRemainingTime(300);
      g_free(owner);
    } else if (afterFocus < 0 && !harness_->events().filter(QStringLiteral("activate ")).empty()) {
      afterFocus = i;
    }
  }
  ASSERT_TRUE(harness_->waitFor(
      [&] { return switched && std::count(answers.begin(), answers.end(), -1) == 0; }));

  const QStringList events = harness_->events();
  EXPECT_TRUE(events.contains("focus without path " + app.objectPath()))
      << events.join('\n').toStdString();
  EXPECT_EQ(events.filter(QStringLiteral("key without a context")).size(), 0)
      << events.join('\n').toStdString();
  // Once one key was taken, every later one was.
  const auto firstTaken = std::find(answers.begin(), answers.end(), 1);
  ASSERT_NE(firstTaken, answers.end());
  EXPECT_EQ(std::count(firstTaken, answers.end(), 0), 0)
      << "of " << answers.end() - firstTaken << " keys since the first one taken";
}

// Chosen while no application has the focus, the first engine object is focused on the daemon's
// placeholder context, without its path: no controller serves it, as when the path is named.
TEST_F(IBusFocusTest, ThePlaceholderContextGetsNoControllerOnTheFirstSwitch) {
  ASSERT_TRUE(ibus_bus_set_global_engine(harness_->bus(), "tolvani"));
  ASSERT_TRUE(harness_->waitFor(
      [&] { return !harness_->events().filter(QStringLiteral("focus without path ")).empty(); }));
  TestInputContext app(*harness_, "gtk3-app");
  ASSERT_NO_FATAL_FAILURE(focus(app));
  EXPECT_EQ(harness_->events().filter(QStringLiteral("controller ")).join('|').toStdString(),
            ("controller " + app.objectPath()).toStdString());
}

// A daemon late to say which context has the focus (a login's busy machine) held every key
// typed meanwhile without a context: they were answered "not handled", and the application
// inserted them in Latin letters.
TEST_F(IBusFocusTest, KeysTypedWhileTheDaemonIsLateToNameTheFocusAreTakenInOrder) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString relaySocket = folder.filePath(QStringLiteral("relay.sock"));
  SlowDaemonRelay relay(relaySocket, std::chrono::seconds(3));
  ASSERT_TRUE(relay.listening());
  const QString components = testing::componentStartingThroughWrapper(
      folder.path(), {QStringLiteral("IBUS_ADDRESS=unix:path=") + relaySocket});
  ASSERT_FALSE(components.isEmpty());
  harness_.reset();
  IBusDaemonHarness::Options options;
  options.componentFolder = components;
  harness_ = std::make_unique<IBusDaemonHarness>(options);
  ASSERT_TRUE(harness_->ready()) << harness_->failure().toStdString();
  qputenv("XDG_CONFIG_HOME", harness_->configHome().toUtf8());
  relay.start(harness_->address().mid(QStringLiteral("unix:path=").size()));

  TestInputContext app(*harness_, "gtk3-app");
  app.focusIn();
  harness_->settle();
  ASSERT_TRUE(ibus_bus_set_global_engine(harness_->bus(), "tolvani"));
  ASSERT_TRUE(harness_->waitFor([&] { return relay.held(); }));
  // Typed while the answer is held: the daemon passes each key on at once.
  const char* const keys = "ami tomake bhalobashi ";
  std::vector<int> answers(std::strlen(keys), -1);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const unsigned keyval = keys[i] == ' ' ? IBUS_KEY_space : static_cast<unsigned char>(keys[i]);
    const unsigned keycode = testing::usKey(keys[i]).first;
    app.sendKeyWithoutWaiting(keyval, keycode, 0,
                              [&answers, i](bool taken) { answers[i] = taken ? 1 : 0; });
    app.sendKeyWithoutWaiting(keyval, keycode, IBUS_RELEASE_MASK, [](bool) {});
  }
  ASSERT_TRUE(harness_->waitFor([&] {
    return std::count(answers.begin(), answers.end(), -1) == 0 && app.commits.size() == 3;
  })) << commits(app);

  const QStringList events = harness_->events();
  EXPECT_TRUE(events.contains("focus without path " + app.objectPath()))
      << events.join('\n').toStdString();
  EXPECT_EQ(std::count(answers.begin(), answers.end(), 1), std::ssize(answers));
  EXPECT_EQ(events.filter(QStringLiteral("key without a context")).size(), 0);
  EXPECT_TRUE(app.forwardedKeys.empty());
  EXPECT_EQ(commits(app), "আমি |তোমাকে |ভালোবাসি ");

  // The next keys, after the answer, go straight on.
  EXPECT_EQ(typeKeys(app, "kemon "), 0);
  ASSERT_TRUE(harness_->waitFor([&] { return app.commits.size() == 4; })) << commits(app);
  EXPECT_EQ(app.commits.back(), u("কেমন "));
}

}  // namespace
}  // namespace tolvani
