#include "setup/InputSourceRegistration.h"

#include <gtest/gtest.h>

#include "setup/SetupError.h"
#include "setup/SystemUser.h"
#include "setup/tests/FakeInputSourceSystem.h"

namespace tolvani {
namespace {

using State = InputSourceRegistration::State;

const QString kBundle = QStringLiteral("com.tolvani.inputmethod.TolvaniIME");
const QUrl kBundleURL =
    QUrl::fromLocalFile(QStringLiteral("/usr/share/ibus/component/tolvani.xml"));

// "domain code message" of the error a call throws, or "no error".
template <class F>
QString thrown(F&& call) {
  try {
    call();
  } catch (const SetupError& error) {
    return QStringLiteral("%1 %2 %3").arg(error.domain).arg(error.code).arg(error.message);
  }
  return QStringLiteral("no error");
}

class InputSourceRegistrationTest : public ::testing::Test {
 protected:
  // GNOME unless a test says otherwise: the messages name the desktop's settings window.
  InputSourceRegistrationTest() {
    systemuser::testSetId(1000);
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
  }
  ~InputSourceRegistrationTest() override {
    systemuser::testSetId(std::nullopt);
    qunsetenv("XDG_CURRENT_DESKTOP");
  }

  void install(std::initializer_list<const char*> ids) {
    for (const char* id : ids) desktop.installed.push_back({QString::fromUtf8(id), true});
  }

  FakeInputSourceSystem desktop;
};

TEST_F(InputSourceRegistrationTest, StateFollowsInstalledAndEnabledSources) {
  struct Row {
    std::vector<InputSource> installed;
    QSet<QString> enabled;
    QString expected;
  };
  const InputSource a{QStringLiteral("tolvani"), true};
  const InputSource b{QStringLiteral("tolvani-probhat"), true};
  const InputSource unnamed{QString(), true};
  const Row rows[] = {
      {{}, {}, QStringLiteral("notRegistered")},
      {{a, b}, {a.identifier}, QStringLiteral("notEnabled")},
      {{a, b}, {a.identifier, b.identifier}, QStringLiteral("enabled")},
      {{a}, {}, QStringLiteral("notEnabled")},
      {{a, unnamed},
       {a.identifier, QString()},
       QStringLiteral("Tolvani.InputSource 2 IBus returned an input source without an identifier. "
                      "Retry setup.")},
  };
  for (const Row& row : rows) {
    desktop.installed = row.installed;
    desktop.enabled = row.enabled;
    QString got;
    const QString error = thrown(
        [&] { got = InputSourceRegistration::rawValue(InputSourceRegistration::state(kBundle)); });
    EXPECT_EQ(error == QLatin1String("no error") ? got : error, row.expected)
        << row.expected.toStdString();
  }

  desktop.calls.clear();
  EXPECT_EQ(thrown([] { InputSourceRegistration::state(QString()); }),
            "Tolvani.InputSource 1 The keyboard's bundle identifier is missing.");
  EXPECT_TRUE(desktop.calls.isEmpty()) << "no desktop call before the identifier check";
}

TEST_F(InputSourceRegistrationTest, EnableChecksStopAtTheFirstFailure) {
  // The identifier is checked before the user, even for the superuser.
  systemuser::testSetId(0);
  EXPECT_EQ(thrown([] { InputSourceRegistration::enable(kBundleURL, QString()); }),
            "Tolvani.InputSource 1 The keyboard's bundle identifier is missing.");
  EXPECT_EQ(thrown([] { InputSourceRegistration::enable(kBundleURL, kBundle); }),
            "Tolvani.InputSource 5 Run keyboard setup as your desktop user, without sudo.");
  EXPECT_TRUE(desktop.calls.isEmpty());
  systemuser::testSetId(1000);

  desktop.registerStatus = -111;
  EXPECT_EQ(thrown([] { InputSourceRegistration::enable(kBundleURL, kBundle); }),
            "Tolvani.InputSource -111 IBus could not register the keyboard (IBus is not running). "
            "Open Keyboard Settings to add Tolvani.");
  desktop.registerStatus = 0;

  EXPECT_EQ(thrown([] { InputSourceRegistration::enable(kBundleURL, kBundle); }),
            QString::fromUtf8("Tolvani.InputSource 1 IBus has not discovered Tolvani yet. Retry "
                              "setup, or open Settings → Keyboard → Input Sources → + → Bangla."));

  install({"one", "two", "three"});
  desktop.enableStatus.insert(QStringLiteral("two"), -13);
  desktop.calls.clear();
  EXPECT_EQ(thrown([] { InputSourceRegistration::enable(kBundleURL, kBundle); }),
            "Tolvani.InputSource -13 IBus could not add the keyboard (the setting could not be "
            "saved). Open Keyboard Settings to add Tolvani.");
  EXPECT_EQ(desktop.calls.filter(QStringLiteral("enable ")),
            QStringList({"enable one", "enable two"}));
  EXPECT_EQ(desktop.enabled, QSet<QString>({"one"})) << "a failing step leaves what it did";
  // Elsewhere the window that has IBus's list is IBus's own.
  qputenv("XDG_CURRENT_DESKTOP", "XFCE");
  EXPECT_EQ(thrown([] { InputSourceRegistration::enable(kBundleURL, kBundle); }),
            "Tolvani.InputSource -13 IBus could not add the keyboard (the setting could not be "
            "saved). Open IBus Preferences to add Tolvani.");
  qputenv("XDG_CURRENT_DESKTOP", "GNOME");

  desktop.enableStatus.clear();
  desktop.enableTakesEffect = false;
  EXPECT_EQ(thrown([] { InputSourceRegistration::enable(kBundleURL, kBundle); }),
            "Tolvani.InputSource 2 IBus did not confirm the added keyboard. Retry setup or add "
            "Tolvani in Keyboard Settings.");

  desktop.enableTakesEffect = true;
  desktop.calls.clear();
  EXPECT_EQ(InputSourceRegistration::enable(kBundleURL, kBundle), 3);
  EXPECT_EQ(desktop.calls,
            QStringList({"register " + kBundleURL.toString(), "sources " + kBundle + " 1",
                         "enable one", "enable two", "enable three", "sources " + kBundle + " 0"}))
      << "every source is passed, the one already enabled too";
}

TEST_F(InputSourceRegistrationTest, SelectChecksStopAtTheFirstFailure) {
  // The user is checked before the identifier here.
  systemuser::testSetId(0);
  EXPECT_EQ(thrown([] { InputSourceRegistration::select(QString()); }),
            "Tolvani.InputSource 5 Choose the keyboard from your desktop, without sudo.");
  systemuser::testSetId(1000);

  install({"one", "two"});
  desktop.enabled = {"one"};
  EXPECT_EQ(thrown([] { InputSourceRegistration::select(kBundle); }),
            "Tolvani.InputSource 3 Add Tolvani to your input menu before switching to it.");

  desktop.enabled = {"one", "two"};
  desktop.installed[0].selectCapable = false;
  desktop.installed[1].selectCapable = false;
  EXPECT_EQ(thrown([] { InputSourceRegistration::select(kBundle); }),
            "Tolvani.InputSource 6 Choose Tolvani from the input menu in the menu bar.");

  desktop.installed[1].selectCapable = true;
  desktop.selectStatus = -5;
  EXPECT_EQ(thrown([] { InputSourceRegistration::select(kBundle); }),
            "Tolvani.InputSource -5 IBus could not switch keyboards (IBus refused). Choose Tolvani "
            "from the input menu.");

  desktop.selectStatus = 0;
  desktop.selectTakesEffect = false;
  EXPECT_EQ(thrown([] { InputSourceRegistration::select(kBundle); }),
            "Tolvani.InputSource 6 IBus did not confirm the switch. Choose Tolvani from the input "
            "menu.");

  desktop.selectTakesEffect = true;
  desktop.calls.clear();
  EXPECT_EQ(thrown([] { InputSourceRegistration::select(kBundle); }), "no error");
  EXPECT_EQ(desktop.calls.filter(QStringLiteral("select ")), QStringList({"select two"}))
      << "the first select-capable source";
  EXPECT_TRUE(InputSourceRegistration::isSelected(kBundle));
}

TEST_F(InputSourceRegistrationTest, SelectionNeedsAnEnabledCurrentSource) {
  install({"one"});
  EXPECT_FALSE(InputSourceRegistration::isSelected(kBundle)) << "no current source";
  desktop.currentSource = InputSource{QStringLiteral("one"), true};
  EXPECT_FALSE(InputSourceRegistration::isSelected(kBundle)) << "current but not enabled";
  desktop.enabled = {"one"};
  EXPECT_TRUE(InputSourceRegistration::isSelected(kBundle));
  desktop.currentSource = InputSource{QStringLiteral("xkb:us::eng"), true};
  EXPECT_FALSE(InputSourceRegistration::isSelected(kBundle));
  desktop.currentSource = InputSource{QString(), true};
  EXPECT_EQ(thrown([] { InputSourceRegistration::isSelected(kBundle); }),
            "Tolvani.InputSource 2 IBus returned an input source without an identifier. Retry "
            "setup.");
}

TEST_F(InputSourceRegistrationTest, InputMenuPreference) {
  EXPECT_FALSE(InputMenuPreference::isVisible()) << "unset";
  desktop.menuVisible = true;
  EXPECT_TRUE(InputMenuPreference::isVisible());
  InputMenuPreference::show();
  EXPECT_EQ(desktop.calls, QStringList({"show menu"})) << "written even when already on";

  desktop.menuVisible = false;
  desktop.menuSaves = false;
  EXPECT_EQ(thrown([] { InputMenuPreference::show(); }),
            QString::fromUtf8("Tolvani.InputMenu 1 IBus did not save “Show icon on system tray”. "
                              "Turn it on in IBus Preferences → General."));

  systemuser::testSetId(0);
  desktop.calls.clear();
  EXPECT_EQ(thrown([] { InputMenuPreference::show(); }),
            "Tolvani.InputMenu 5 Show the input menu from your desktop, without sudo.");
  EXPECT_TRUE(desktop.calls.isEmpty());
}

}  // namespace
}  // namespace tolvani
