// Enabling keeps the keyboard the person types with. The program's command mode, run as the
// desktop user (the unprivileged test user when the test runs as root), adds Tolvani after the
// layouts already in GNOME's and IBus's lists, and to an empty list first the layouts of the
// session's X keymap, by the names GNOME and the daemon give them. Real GSettings (the key-file
// backend), a private daemon that offers IBus's own keyboard engines beside Tolvani, and an Xvfb
// display whose keymap setxkbmap sets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>

#include "ime/testing/TestUser.h"
#include "setup/SessionKeymap.h"
#include "setup/tests/PrivateIBusDaemon.h"
#include "setup/tests/SetupTestSupport.h"

namespace tolvani {
namespace {

using sessionkeymap::Layout;

constexpr char kIBusKeyboardEngines[] = "/usr/share/ibus/component/simple.xml";
constexpr char kIBusPanel[] = "/usr/libexec/ibus-ui-gtk3";

TEST(SessionKeymapTest, RulesNamesGiveEachLayoutWithItsVariant) {
  using sessionkeymap::fromRulesNames;
  const QByteArray one("evdev\0pc105\0us\0\0\0", 15);
  EXPECT_EQ(fromRulesNames(one), (std::vector<Layout>{{"us", ""}}));
  const QByteArray two("evdev\0pc105\0de,ru\0nodeadkeys,phonetic\0grp:alt_shift_toggle\0", 58);
  EXPECT_EQ(fromRulesNames(two), (std::vector<Layout>{{"de", "nodeadkeys"}, {"ru", "phonetic"}}));
  // Fewer variants than layouts; a layout named twice counts once.
  const QByteArray uneven("evdev\0pc105\0us,fr,us\0\0\0", 24);
  EXPECT_EQ(fromRulesNames(uneven), (std::vector<Layout>{{"us", ""}, {"fr", ""}}));
  EXPECT_TRUE(fromRulesNames(QByteArray()).empty());
  EXPECT_TRUE(fromRulesNames(QByteArray("evdev\0pc105\0\0\0\0", 15)).empty());
}

TEST(SessionKeymapTest, KeyboardFileStandsInWithoutADisplay) {
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  file.write(
      "# KEYBOARD CONFIGURATION FILE\n"
      "XKBMODEL=\"pc105\"\n"
      "XKBLAYOUT=\"us,bd\"\n"
      "XKBVARIANT=',probhat'\n"
      "XKBOPTIONS=\"grp:alt_shift_toggle\"\n"
      "BACKSPACE=\"guess\"\n");
  file.close();
  EXPECT_EQ(sessionkeymap::fromKeyboardFile(file.fileName()),
            (std::vector<Layout>{{"us", ""}, {"bd", "probhat"}}));
  ASSERT_TRUE(file.open());
  file.resize(0);
  file.write("export XKBLAYOUT=fr\n#XKBVARIANT=\"bepo\"\n");
  file.close();
  EXPECT_EQ(sessionkeymap::fromKeyboardFile(file.fileName()), (std::vector<Layout>{{"fr", ""}}));
  EXPECT_TRUE(sessionkeymap::fromKeyboardFile(file.fileName() + ".missing").empty());
  EXPECT_EQ(sessionkeymap::gnomeName({"de", "nodeadkeys"}), "de+nodeadkeys");
  EXPECT_EQ(sessionkeymap::gnomeName({"us", ""}), "us");
}

// One case: the lists before, the keymap of the display, the desktop; the lists after.
struct Case {
  const char* name;
  const char* desktop;
  const char* layouts;  // setxkbmap's -layout and -variant
  const char* variants;
  const char* gnomeBefore;  // GVariant text of the value, empty for none
  const char* ibusBefore;
  const char* gnomeAfter;  // empty: GNOME's list is not written
  const char* ibusAfter;
};

const Case kCases[] = {
    {"empty lists elsewhere", "XFCE", "de", "nodeadkeys", "", "", "",
     "['xkb:de:nodeadkeys:deu', 'tolvani']"},
    {"empty lists on GNOME, two layouts in the keymap", "ubuntu:GNOME", "us,ru", ",phonetic", "",
     "", "[('xkb', 'us'), ('xkb', 'ru+phonetic'), ('ibus', 'tolvani')]",
     "['xkb:us::eng', 'xkb:ru:phonetic:rus', 'tolvani']"},
    {"one layout on GNOME", "GNOME", "de", "", "[('xkb', 'fr')]", "['xkb:fr::fra']",
     "[('xkb', 'fr'), ('ibus', 'tolvani')]", "['xkb:fr::fra', 'tolvani']"},
    {"two layouts elsewhere", "KDE", "de", "", "", "['xkb:fr::fra', 'xkb:us:dvorak:eng']", "",
     "['xkb:fr::fra', 'xkb:us:dvorak:eng', 'tolvani']"},
    {"two layouts on GNOME, IBus's list empty", "GNOME", "de", "",
     "[('xkb', 'fr'), ('xkb', 'us+dvorak')]", "",
     "[('xkb', 'fr'), ('xkb', 'us+dvorak'), ('ibus', 'tolvani')]", "['xkb:de::deu', 'tolvani']"},
    // GNOME's schema beside another desktop is never read there, so never written.
    {"GNOME's list on another desktop", "MATE", "us", "", "[('xkb', 'fr')]", "", "[('xkb', 'fr')]",
     "['xkb:us::eng', 'tolvani']"},
};

class InputSourceLayoutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef TOLVANI_PROGRAM
    program_ = QStringLiteral(TOLVANI_PROGRAM);
    component_ = QStringLiteral(TOLVANI_PROGRAM_COMPONENT);
#endif
    if (!QFileInfo::exists(program_) || !QFileInfo::exists(component_))
      GTEST_SKIP() << "the build has no program or no component file";
    if (!QFileInfo::exists(QString::fromLatin1(kIBusKeyboardEngines)))
      GTEST_SKIP() << "IBus's keyboard engines are not installed";
    ASSERT_TRUE(tree_.isValid());
    root_ = tree_.path();
    daemon_ = std::make_unique<testing::PrivateIBusDaemon>(root_);
    daemon_->setVariable("XDG_CONFIG_HOME", root_ + "/config");
    daemon_->setVariable("TOLVANI_TEST_USER_ID", QString());
    const QString copy = daemon_->componentFolder() + QStringLiteral("/tolvani.xml");
    ASSERT_TRUE(QFile::copy(component_, copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    // Every layout the cases name, with all their variants.
    ASSERT_TRUE(daemon_->offerKeyboardEngines({"us", "de", "fr", "ru"}));
    testing::giveToTestUser(root_);
    testing::letTestUserReach(program_);
    ASSERT_TRUE(daemon_->start(testing::asTestUser({})));
    startDisplay();
  }
  void TearDown() override {
    daemon_.reset();
    // The panel ends with the daemon it served.
    if (panel_.state() != QProcess::NotRunning && !panel_.waitForFinished(5000)) panel_.kill();
    panel_.waitForFinished();
    if (xvfb_.state() != QProcess::NotRunning) {
      xvfb_.terminate();
      if (!xvfb_.waitForFinished(5000)) xvfb_.kill();
      xvfb_.waitForFinished();
    }
  }

  // Kept from reset, which would give the root window back its first keymap's names.
  void startDisplay() {
    xvfb_.start(QStringLiteral("Xvfb"),
                {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                 QStringLiteral("tcp"), QStringLiteral("-noreset"), QStringLiteral("-screen"),
                 QStringLiteral("0"), QStringLiteral("320x240x24")});
    ASSERT_TRUE(xvfb_.waitForStarted());
    QByteArray number;
    while (!number.contains('\n') && xvfb_.waitForReadyRead(10000))
      number += xvfb_.readAllStandardOutput();
    ASSERT_TRUE(number.contains('\n')) << xvfb_.readAllStandardError().toStdString();
    display_ = u':' + QString::fromLatin1(number.trimmed());
  }

  // Runs `command` as the test user in the session's environment on `desktop`.
  QString runAsUser(const QStringList& command, const char* desktop, int* status) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("XDG_CURRENT_DESKTOP", QString::fromLatin1(desktop));
    env.insert("HOME", root_ + "/home");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    testing::startAsTestUser(process, command.first(), command.mid(1));
    if (!process.waitForFinished(60000)) process.kill();
    process.waitForFinished();
    *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
  }

  // IBus's own panel on the display, as a session starts it beside the daemon; true once it has
  // read its settings and taken the engine it starts with (it records its version just before).
  bool startPanel(const char* desktop = "MATE") {
    // A panel of an earlier session recorded its version already.
    QFile keyFile(keyFilePath());
    if (keyFile.open(QIODevice::ReadWrite)) {
      const QByteArray text = keyFile.readAll();
      QByteArray kept;
      for (const QByteArray& line : text.split('\n'))
        if (!line.startsWith("version=")) kept += line + '\n';
      keyFile.resize(0);
      keyFile.seek(0);
      keyFile.write(kept.chopped(1));
      keyFile.close();
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("XDG_CURRENT_DESKTOP", QString::fromLatin1(desktop));
    env.insert("HOME", root_ + "/home");
    env.insert("NO_AT_BRIDGE", QStringLiteral("1"));
    panel_.setProcessEnvironment(env);
    panel_.setStandardOutputFile(QProcess::nullDevice());
    panel_.setStandardErrorFile(QProcess::nullDevice());
    testing::startAsTestUser(panel_, QStringLiteral("dbus-run-session"),
                             {QStringLiteral("--"), QString::fromLatin1(kIBusPanel)});
    QDeadlineTimer limit(20000);
    while (listIn("desktop/ibus/general", "version").isEmpty() && !limit.hasExpired() &&
           panel_.state() != QProcess::NotRunning)
      QThread::msleep(20);
    return !listIn("desktop/ibus/general", "version").isEmpty();
  }

  QString keyFilePath() const { return root_ + "/config/glib-2.0/settings/keyfile"; }

  // The key file holding the lists before enabling, as GSettings writes it.
  void writeLists(const Case& c) {
    QString text;
    if (*c.gnomeBefore)
      text +=
          QStringLiteral("[org/gnome/desktop/input-sources]\nsources=%1\n\n").arg(c.gnomeBefore);
    if (*c.ibusBefore)
      text += QStringLiteral("[desktop/ibus/general]\npreload-engines=%1\n").arg(c.ibusBefore);
    QDir().mkpath(QFileInfo(keyFilePath()).absolutePath());
    QFile file(keyFilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
    file.close();
    testing::giveToTestUser(root_ + "/config");
  }

  // The value of `key` in the key file's group, empty when it is not there.
  QString listIn(const QString& group, const QString& key) const {
    QFile file(keyFilePath());
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromUtf8(file.readAll());
    const QRegularExpression pattern(
        QStringLiteral(R"(\[%1\]\n(?:[^\[\n][^\n]*\n|\n)*?%2=([^\n]*))")
            .arg(QRegularExpression::escape(group), QRegularExpression::escape(key)));
    return pattern.match(text).captured(1);
  }

  QTemporaryDir tree_{QDir::tempPath() + QStringLiteral("/tolvani-layouts-XXXXXX")};
  QString root_;
  QString program_;
  QString component_;
  std::unique_ptr<testing::PrivateIBusDaemon> daemon_;
  QProcess xvfb_;
  QString display_;
  QProcess panel_;
};

TEST_F(InputSourceLayoutsTest, EnablingKeepsTheKeyboardTheSessionTypesWith) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    writeLists(c);
    // The keymap as a session sets it; the server keeps its names on the root window.
    int status = -1;
    QStringList keymap{QStringLiteral("setxkbmap"), QStringLiteral("-display"), display_,
                       QStringLiteral("-layout"), QString::fromLatin1(c.layouts)};
    if (*c.variants) keymap << QStringLiteral("-variant") << QString::fromLatin1(c.variants);
    const QString set = runAsUser(keymap, c.desktop, &status);
    ASSERT_EQ(status, 0) << set.toStdString();

    const QString out =
        runAsUser({program_, QStringLiteral("--enable-input-source")}, c.desktop, &status);
    EXPECT_EQ(status, 0) << out.toStdString();
    EXPECT_EQ(listIn("desktop/ibus/general", "preload-engines"), QString::fromLatin1(c.ibusAfter));
    EXPECT_EQ(listIn("org/gnome/desktop/input-sources", "sources"),
              QString::fromLatin1(*c.gnomeAfter ? c.gnomeAfter : c.gnomeBefore));
    // The running daemon's panel keeps its own record of use.
    EXPECT_EQ(listIn("desktop/ibus/general", "engines-order"), QString());

    // Enabled again, nothing is added twice and nothing moves.
    const QString ibus = listIn("desktop/ibus/general", "preload-engines");
    const QString gnome = listIn("org/gnome/desktop/input-sources", "sources");
    runAsUser({program_, QStringLiteral("--enable-input-source")}, c.desktop, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(listIn("desktop/ibus/general", "preload-engines"), ibus);
    EXPECT_EQ(listIn("org/gnome/desktop/input-sources", "sources"), gnome);
  }
  // The child ran as the test user, not as root with an id faked.
  if (testing::runsAsOtherUser()) {
    EXPECT_EQ(QFileInfo(keyFilePath()).ownerId(), testing::testUser().uid);
  }
}

// Xfce straight after IBus is installed: the session bus runs, IBus does not yet. The first
// command used to end in "could not register the keyboard (-111)", with Tolvani in no list.
TEST_F(InputSourceLayoutsTest, WithoutARunningDaemonTolvaniIsListedForItsStartAndWhatIsLeftSaid) {
  daemon_->stop();
  const Case& xfce = kCases[0];
  writeLists(xfce);
  int status = -1;
  runAsUser({QStringLiteral("setxkbmap"), QStringLiteral("-display"), display_,
             QStringLiteral("-layout"), QString::fromLatin1(xfce.layouts),
             QStringLiteral("-variant"), QString::fromLatin1(xfce.variants)},
            xfce.desktop, &status);
  ASSERT_EQ(status, 0);

  const QString out =
      runAsUser({QStringLiteral("dbus-run-session"), QStringLiteral("--"), program_,
                 QStringLiteral("--enable-input-source"), QStringLiteral("--select-input-source")},
                xfce.desktop, &status);
  EXPECT_EQ(status, 0) << out.toStdString();
  EXPECT_EQ(listIn("desktop/ibus/general", "preload-engines"), QString::fromLatin1(xfce.ibusAfter));
  EXPECT_TRUE(out.contains(QLatin1String("im-config -n ibus"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QLatin1String("Super+Space switches to Tolvani"))) << out.toStdString();
  EXPECT_FALSE(out.contains(QRegularExpression(QStringLiteral("\\(-?[0-9]+\\)"))))
      << out.toStdString();

  // After the next login the session's daemon offers it, and it switches.
  QFile::remove(daemon_->socketPath());
  ASSERT_TRUE(daemon_->start(testing::asTestUser({})));
  const QString switched = runAsUser(
      {program_, QStringLiteral("--select-input-source"), QStringLiteral("--input-source-state")},
      xfce.desktop, &status);
  EXPECT_EQ(status, 0) << switched.toStdString();
  EXPECT_TRUE(switched.contains(QLatin1String("tolvani-state status=enabled selected=1")))
      << switched.toStdString();
}

// MATE with two layouts, before `im-config -n ibus` and the next login. IBus's panel, started
// then, lists the engines by its record of use and a tap of Super+Space takes the second: Tolvani
// listed after both layouts was never reached.
TEST_F(InputSourceLayoutsTest, WithoutADaemonTolvaniComesSecondForTheHotKey) {
  const Case mate{"two layouts, no daemon",
                  "MATE",
                  "fr,us",
                  "",
                  "",
                  "",
                  "",
                  "['xkb:fr::fra', 'xkb:us::eng', 'tolvani']"};
  daemon_->stop();
  writeLists(mate);
  int status = -1;
  runAsUser({QStringLiteral("setxkbmap"), QStringLiteral("-display"), display_,
             QStringLiteral("-layout"), QString::fromLatin1(mate.layouts)},
            mate.desktop, &status);
  ASSERT_EQ(status, 0);
  // Enabled again, nothing moves.
  for (int run = 0; run < 2; ++run) {
    const QString out =
        runAsUser({program_, QStringLiteral("--enable-input-source")}, mate.desktop, &status);
    EXPECT_EQ(status, 0) << out.toStdString();
    EXPECT_EQ(listIn("desktop/ibus/general", "preload-engines"),
              QString::fromLatin1(mate.ibusAfter));
    EXPECT_EQ(listIn("desktop/ibus/general", "engines-order"),
              QStringLiteral("['xkb:fr::fra', 'tolvani', 'xkb:us::eng']"));
  }
}

// The setup window selects Tolvani between the daemon's start and its panel's: the panel's own
// start used to switch to the first layout.
TEST_F(InputSourceLayoutsTest, SelectedBeforeThePanelStartsTolvaniStaysSelected) {
  if (!QFileInfo::exists(QString::fromLatin1(kIBusPanel)))
    GTEST_SKIP() << "IBus's panel is not installed";
  const Case mate{"enabled beside two layouts",
                  "MATE",
                  "fr,us",
                  "",
                  "",
                  "['xkb:fr::fra', 'xkb:us::eng', 'tolvani']",
                  "",
                  ""};
  writeLists(mate);
  int status = -1;
  const QString selected =
      runAsUser({program_, QStringLiteral("--select-input-source")}, mate.desktop, &status);
  ASSERT_EQ(status, 0) << selected.toStdString();
  ASSERT_TRUE(startPanel());
  const QString state =
      runAsUser({program_, QStringLiteral("--input-source-state")}, mate.desktop, &status);
  EXPECT_TRUE(state.contains(QLatin1String("selected=1"))) << state.toStdString();
}

// KDE Plasma on X11 with two layouts, where IBus and its panel already run: the panel orders its
// engines by preload-engines whenever that changes, with the engine it runs first, and a tap of
// Super+Space takes the second. Tolvani added after both layouts was reached only by a second
// Space with Super held. Added by the program, one tap reaches it and the next goes back, in this
// session and the next.
TEST_F(InputSourceLayoutsTest, WithTheDesktopsPanelRunningOneTapReachesTolvani) {
  if (!QFileInfo::exists(QString::fromLatin1(kIBusPanel)))
    GTEST_SKIP() << "IBus's panel is not installed";
  // The keyboard settings as Plasma 5.27's keyboard settings write them, and the keymap its
  // keyboard daemon makes of them.
  QDir().mkpath(root_ + "/config");
  QFile kxkbrc(root_ + "/config/kxkbrc");
  ASSERT_TRUE(kxkbrc.open(QIODevice::WriteOnly));
  kxkbrc.write(
      "[$Version]\n"
      "update_info=kxkbrc.upd:remove-empty-lists,kxkbrc.upd:add-back-resetoptions,"
      "kxkbrc.upd:45-kcmkeyboard-rename-shortcut\n\n"
      "[Layout]\n"
      "DisplayNames=,\n"
      "LayoutList=fr,us\n"
      "Use=true\n"
      "VariantList=,\n");
  kxkbrc.close();
  int status = -1;
  runAsUser({QStringLiteral("setxkbmap"), QStringLiteral("-display"), display_,
             QStringLiteral("-layout"), QStringLiteral("fr,us")},
            "KDE", &status);
  ASSERT_EQ(status, 0);

  // IBus's list before, and the engine the panel runs then: an empty list the panel fills with
  // the keymap's layouts as it starts, or the two layouts; it runs the first.
  const struct {
    const char* list;
    const char* engine;
  } befores[] = {{"", "xkb:fr::fra"}, {"['xkb:us::eng', 'xkb:fr::fra']", "xkb:us::eng"}};
  // A client of the daemon, as the person: "engine" prints the engine the daemon runs; with no
  // argument it is a field with the focus, as GTK's module makes one (the panel's hot key acts
  // only while a context has the focus), until it is ended.
  const QString client = root_ + QStringLiteral("/client.py");
  {
    QFile script(client);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        "import sys\n"
        "import gi\n"
        "gi.require_version('IBus', '1.0')\n"
        "from gi.repository import GLib, IBus\n"
        "IBus.init()\n"
        "bus = IBus.Bus()\n"
        "if sys.argv[1:] == ['engine']:\n"
        "    engine = bus.get_global_engine()\n"
        "    print(engine.get_name() if engine else 'none')\n"
        "    sys.exit(0)\n"
        "context = bus.create_input_context('gtk3-im:field')\n"
        "context.set_capabilities(IBus.Capabilite.PREEDIT_TEXT | IBus.Capabilite.FOCUS)\n"
        "context.focus_in()\n"
        "bus.get_global_engine()\n"
        "print('focused', flush=True)\n"
        "GLib.MainLoop().run()\n");
    script.close();
    QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
  }
  // The engine the daemon runs, once it is `wanted` or 10 s have passed.
  const auto runs = [&](const char* wanted) {
    QString engine;
    const QDeadlineTimer limit(10000);
    do {
      engine = runAsUser({QStringLiteral("/usr/bin/python3"), client, QStringLiteral("engine")},
                         "KDE", &status)
                   .trimmed();
      if (engine == QLatin1String(wanted)) return true;
      QThread::msleep(100);
    } while (!limit.hasExpired());
    ADD_FAILURE() << "runs " << engine.toStdString() << ", not " << wanted << "; preload-engines "
                  << listIn("desktop/ibus/general", "preload-engines").toStdString()
                  << " engines-order "
                  << listIn("desktop/ibus/general", "engines-order").toStdString();
    return false;
  };
  const auto focusField = [&](QProcess& field) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", root_ + "/home");
    field.setProcessEnvironment(env);
    testing::startAsTestUser(field, QStringLiteral("/usr/bin/python3"), {client});
    return field.waitForReadyRead(10000) && field.readAll().contains("focused");
  };
  const QStringList tap{QStringLiteral("xdotool"), QStringLiteral("key"),
                        QStringLiteral("super+space")};
  for (const auto& before : befores) {
    SCOPED_TRACE(before.list);
    writeLists({"", "KDE", "fr,us", "", "", before.list, "", ""});
    // The panel has bound its hot key by the time it sets the engine it starts with.
    ASSERT_TRUE(startPanel("KDE"));
    ASSERT_TRUE(runs(before.engine));
    QProcess field;
    ASSERT_TRUE(focusField(field)) << field.readAllStandardError().toStdString();
    const QString added =
        runAsUser({program_, QStringLiteral("--enable-input-source")}, "KDE", &status);
    ASSERT_EQ(status, 0) << added.toStdString();
    // The panel hears of the new list through a monitor of the key file, a moment later; adding
    // switches nothing.
    QThread::msleep(2000);
    EXPECT_TRUE(runs(before.engine));
    runAsUser(tap, "KDE", &status);
    EXPECT_TRUE(runs("tolvani"));
    runAsUser(tap, "KDE", &status);
    EXPECT_TRUE(runs(before.engine));
    // The session ends once the panel has recorded the switch back, as it does a moment after it.
    const QString recorded = QStringLiteral("['%1', ").arg(QLatin1String(before.engine));
    const QDeadlineTimer limit(10000);
    while (!listIn("desktop/ibus/general", "engines-order").startsWith(recorded) &&
           !limit.hasExpired())
      QThread::msleep(50);
    // The next session: a new daemon, and a panel that starts from the lists.
    for (int session = 0; session < 2; ++session) {
      daemon_->stop();
      panel_.waitForFinished(5000);
      field.kill();
      field.waitForFinished(5000);
      QFile::remove(daemon_->socketPath());
      ASSERT_TRUE(daemon_->start(testing::asTestUser({})));
      if (session == 1) break;
      ASSERT_TRUE(startPanel("KDE"));
      ASSERT_TRUE(runs(before.engine));
      ASSERT_TRUE(focusField(field)) << field.readAllStandardError().toStdString();
      runAsUser(tap, "KDE", &status);
      EXPECT_TRUE(runs("tolvani"));
    }
  }
}

}  // namespace
}  // namespace tolvani
