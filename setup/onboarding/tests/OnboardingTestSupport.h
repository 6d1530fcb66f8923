// Helpers of the setup window's tests: a desktop whose probes and setup steps answer when the
// test says (in any order), turning the event loop, and a fixture with the window's controller.
// Thread-safety: a test's thread.
#ifndef TOLVANI_SETUP_ONBOARDING_TESTS_ONBOARDINGTESTSUPPORT_H_
#define TOLVANI_SETUP_ONBOARDING_TESTS_ONBOARDINGTESTSUPPORT_H_

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "settings/AppSettings.h"
#include "setup/onboarding/OnboardingWindowController.h"

// Lets a test's message show a text.
inline std::ostream& operator<<(std::ostream& os, const QString& text) {
  return os << text.toStdString();
}
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text << '"'; }

// Chromium inside Qt WebEngine frees some of its own objects with a sized delete of another type;
// AddressSanitizer would stop every web view test there. Read by AddressSanitizer at start-up;
// ASAN_OPTIONS still overrides it.
extern "C" __attribute__((used, visibility("default"))) inline const char*
__asan_default_options() {
  return "new_delete_type_mismatch=0";
}

namespace tolvani::testing {

// The session variables the tests change while the web engine's threads (and GLib's) read the
// environment. The C library moves its list of variables when one is added, and a thread reading
// it then can crash (a test crashed so as its web view started); a new value of one that exists
// is written in place. So these exist from the start, and a test sets them, "" for none.
inline constexpr const char* kChangedVariables[] = {"XDG_CURRENT_DESKTOP", "GTK_IM_MODULE",
                                                    "QT_IM_MODULE", "XMODIFIERS"};

// Before the web engine starts: as root (as on CI) it cannot start its sandbox, and software
// rendering keeps it from looking for a GPU.
inline const bool kWebEngineTestEnvironment = [] {
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  qputenv("QT_QUICK_BACKEND", "software");
  for (const char* name : kChangedVariables) {
    if (!qEnvironmentVariableIsSet(name)) qputenv(name, QByteArray());
  }
  return true;
}();

inline void settle(int ms = 30) {
  QDeadlineTimer limit(ms);
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  } while (!limit.hasExpired());
}

template <class F>
bool settleUntil(F done, int ms = 20000) {
  QDeadlineTimer limit(ms);
  while (!done() && !limit.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// Each call waits until the test answers it; the log names the calls in the order they came.
class ScriptedDesktop {
 public:
  using Snapshot = InputSourceSnapshot;
  using State = InputSourceRegistration::State;

  OnboardingWindowController::Operations operations() {
    OnboardingWindowController::Operations ops;
    ops.probe = [this](CancellationRef, SetupCompletion<Snapshot> done) {
      add("probe", [done](std::optional<SetupError> error, Snapshot snapshot) {
        error ? done(*error) : done(snapshot);
      });
    };
    ops.activate = [this](CancellationRef, SetupCompletion<Done> done) {
      add("activate", [done](std::optional<SetupError> error, Snapshot) {
        error ? done(*error) : done(Done{});
      });
    };
    ops.showInputMenu = [this](CancellationRef, SetupCompletion<Done> done) {
      add("showInputMenu", [done](std::optional<SetupError> error, Snapshot) {
        error ? done(*error) : done(Done{});
      });
    };
    ops.select = [this](CancellationRef, SetupCompletion<Snapshot> done) {
      add("select", [done](std::optional<SetupError> error, Snapshot snapshot) {
        error ? done(*error) : done(snapshot);
      });
    };
    ops.menuVisible = [this] { return menuVisible; };
    ops.panelRuns = [this] { return panelRuns; };
    ops.selectedByPerson = [this] { return selectedByPerson; };
    ops.statusArea = [this] { return statusArea; };
    return ops;
  }

  // Answers the oldest waiting call of `name`; false when none waits.
  bool answer(const QString& name, Snapshot snapshot = {}) {
    return finish(name, std::nullopt, snapshot);
  }
  // Answers the newest waiting call of `name`.
  bool answerNewest(const QString& name, Snapshot snapshot = {}) {
    return finish(name, std::nullopt, snapshot, true);
  }
  // Answers a whole run of the steps in order: the first probe with `first`, the last one with
  // Tolvani selected.
  bool answerRun(Snapshot first) {
    const Snapshot selected{InputSourceRegistration::State::enabled, true};
    return answer(QStringLiteral("probe"), first) && answer(QStringLiteral("activate")) &&
           answer(QStringLiteral("showInputMenu")) && answer(QStringLiteral("select"), selected) &&
           answer(QStringLiteral("probe"), selected);
  }
  bool fail(const QString& name, const QString& message, int code = 1) {
    return finish(name, SetupError::setup(code, message), {});
  }
  bool failNewest(const QString& name, const QString& message) {
    return finish(name, SetupError::setup(1, message), {}, true);
  }
  QStringList waiting() const {
    QStringList names;
    for (const Pending& pending : pending_) names << pending.name;
    return names;
  }

  QStringList log;
  bool menuVisible = false;
  bool panelRuns = true;
  bool selectedByPerson = false;  // GNOME Shell's: only the shell switches
  bool statusArea = true;         // under fcitx5: a status area shows its icon

 private:
  using Finish = std::function<void(std::optional<SetupError>, Snapshot)>;
  struct Pending {
    QString name;
    Finish finish;
  };
  void add(const char* name, Finish finish) {
    log << QLatin1String(name);
    pending_.push_back({QLatin1String(name), std::move(finish)});
  }
  bool finish(const QString& name, std::optional<SetupError> error, Snapshot snapshot,
              bool newest = false) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->name != name) continue;
      if (newest) {
        auto later = std::find_if(std::next(it), pending_.end(),
                                  [&](const Pending& p) { return p.name == name; });
        if (later != pending_.end()) continue;
      }
      Finish done = std::move(it->finish);
      pending_.erase(it);
      done(std::move(error), snapshot);
      settle(5);
      return true;
    }
    return false;
  }
  std::deque<Pending> pending_;
};

// The window's controller over a scripted desktop and a manual clock, with onboarding neither done
// nor put off and the interface in Bangla. A test sets what else it needs before makeController();
// TearDown ends the controller and takes back what this set, and the bundle's resources folder.
class ControllerTest : public ::testing::Test {
 protected:
  void makeController() {
    platform::testSetClock(&clock_);
    OnboardingWindowController::testSetOperations(desktop_.operations());
    AppSettings::setOnboardingCompleted(false);
    AppSettings::setOnboardingDeferred(false);
    AppSettings::setUiLanguage(1);
    controller_ = std::make_unique<OnboardingWindowController>();
  }
  void TearDown() override {
    controller_.reset();
    OnboardingWindowController::testSetOperations(std::nullopt);
    platform::testSetClock(nullptr);
    platform::bundle::testSetResourcesDir(std::nullopt);
  }

  platform::ManualClock clock_;
  ScriptedDesktop desktop_;
  std::unique_ptr<OnboardingWindowController> controller_;
};

}  // namespace tolvani::testing

#endif  // TOLVANI_SETUP_ONBOARDING_TESTS_ONBOARDINGTESTSUPPORT_H_
