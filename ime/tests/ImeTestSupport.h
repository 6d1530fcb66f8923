// What the input controller's tests share: key events, a panel face on one screen, and a fixture
// that puts the scripted engine (or the real one) behind a controller on a recording client, with
// settings, statistics and diagnostics in fresh folders. For the tests that go through a private
// ibus-daemon, a fixture that starts the built program behind it. Thread-safety: the test's
// thread.
#ifndef TOLVANI_IME_TESTS_IMETESTSUPPORT_H_
#define TOLVANI_IME_TESTS_IMETESTSUPPORT_H_

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

#include "ime/TolvaniInputController.h"
#include "ime/tests/ScriptedEngine.h"
#include "platform/Defaults.h"
#include "platform/testing/RecordingTextClient.h"
#include "stats/RuntimeDiagnostics.h"
#include "stats/TypingStatsStore.h"
#ifdef TOLVANI_IBUS_COMPONENT_DIR
#include "ime/testing/IBusDaemonHarness.h"
#include "settings/AppSettings.h"
#endif

namespace tolvani::testing {

using platform::RecordingTextClient;

inline QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// A face on one 1920 × 1080 screen; `places` false is the framework's own list.
class ScreenFace : public CandidatePanelFace {
 public:
  explicit ScreenFace(bool places) : places_(places) {}
  bool placesWindows() const override { return places_; }
  std::vector<ScreenArea> screens() const override {
    return {{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1040)}};
  }
  qreal statusTextWidth(const QString& message) const override { return 7.0 * message.size(); }
  void render(const CandidatePanel&) override {}
  void hide() override {}

 private:
  bool places_;
};

inline KeyEvent key(std::uint16_t code, const char* characters, std::uint64_t flags = 0) {
  return KeyEvent{true, code, flags, u(characters), u(characters)};
}
inline KeyEvent letter(char c, std::uint64_t flags = 0) {
  const QString text(QLatin1Char{c});
  return KeyEvent{true, KeyCodes::kUnknown, flags, text, text};
}
inline const KeyEvent kSpace = key(KeyCodes::kSpace, " ");
inline const KeyEvent kReturn = key(KeyCodes::kReturn, "\r");
inline const KeyEvent kTab = key(KeyCodes::kTab, "\t");
inline const KeyEvent kDelete = key(KeyCodes::kDelete, "\x7f");
inline const KeyEvent kEscape = key(KeyCodes::kEscape, "\x1b");

// The rows `controller`'s panel shows, "text/kind" each, "|" between; "hidden" when it is not up.
inline std::string panelRows(const TolvaniInputController& controller) {
  const CandidatePanel* panel = controller.testPanel();
  if (panel->layout().state == CandidatePanel::State::hidden) return "hidden";
  std::string out;
  for (int i = 0; i < panel->itemCount(); ++i) {
    const CandidateItem& item = *panel->rows()[i].item;
    out += (out.empty() ? "" : "|") + (item.text + u("/") + item.kind).toStdString();
  }
  return out;
}

// A controller on `client_` ("x " typed before), the scripted engine behind it unless
// `realEngine` is set before SetUp.
class ControllerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static QTemporaryDir data, config;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  }
  void SetUp() override {
    currentScriptedEngine() = &engine_;
    testSetEngineSeam(realEngine_ ? nullptr : &scriptedSeam());
    // Every test starts from the registered settings, whatever an earlier one stored.
    QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/tolvani")).removeRecursively();
    platform::Defaults::testResetStandard();
    AppSettings::registerDefaults();
    AppSettings::setOnboardingCompleted(true);
    TypingStatsStore::testReset();
    TypingStatsStore::reset();
    RuntimeDiagnostics::testReset();
    CandidatePanel::setFaceFactory([] {
      return std::make_pair(std::make_unique<ScreenFace>(true),
                            std::make_unique<ScreenFace>(false));
    });
    controller_ = makeController(client_);
    engine_.calls.clear();
  }
  void TearDown() override {
    controller_.reset();
    CandidatePanel::setFaceFactory(nullptr);
    RuntimeDiagnostics::testWaitForQueue();
    testSetEngineSeam(nullptr);
  }

  static std::unique_ptr<TolvaniInputController> makeController(RecordingTextClient& client) {
    auto controller = std::make_unique<TolvaniInputController>(&client);
    controller->activateServer(&client);
    return controller;
  }
  bool press(const KeyEvent& event) { return controller_->handle(event, &client_); }
  // Letters as keys; a space is the Space key.
  void type(const char* text) {
    for (const char* c = text; *c; ++c) EXPECT_TRUE(press(*c == ' ' ? kSpace : letter(*c))) << *c;
  }
  std::string rows() const { return panelRows(*controller_); }
  std::vector<std::string> takeCalls() { return std::exchange(engine_.calls, {}); }

  bool realEngine_ = false;
  ScriptedEngine engine_;
  RecordingTextClient client_{u("x ")};
  std::unique_ptr<TolvaniInputController> controller_;
};

// Only the programs built to go through a daemon know where the program's component is.
#ifdef TOLVANI_IBUS_COMPONENT_DIR
// The built program behind a private ibus-daemon, its settings in the daemon's folder, the
// interface in Bangla.
class IBusProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(harness_.ready()) << harness_.failure().toStdString();
    // The program reads its settings from the same folder.
    qputenv("XDG_CONFIG_HOME", harness_.configHome().toUtf8());
    platform::Defaults::testResetStandard();
    AppSettings::setUiLanguage(1);
  }

  // Gives `context` the focus and the program; returns once the program has activated it and
  // `ready` (when given) holds.
  void start(TestInputContext& context, const std::function<bool()>& ready = {}) {
    context.focusIn();
    context.selectEngine("tolvani");
    ASSERT_TRUE(harness_.waitFor([&] {
      return harness_.events().contains("activate " + context.objectPath()) && (!ready || ready());
    })) << harness_.events().join('\n').toStdString();
  }

  IBusDaemonHarness harness_{QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR)};
};
#endif

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTS_IMETESTSUPPORT_H_
