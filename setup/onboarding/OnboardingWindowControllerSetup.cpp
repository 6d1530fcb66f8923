// The setup run: probe, then add, show and select the input source as needed, in that order,
// each through a command-mode child or a system tool; re-probing when the desktop reports a
// change; and the entry points that decide when the window is offered.
#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include "platform/Desktop.h"
#include "platform/Queues.h"
#include "settings/AppSettings.h"
#include "settings/UIStrings.h"
#include "setup/Fcitx5InputSources.h"
#include "setup/GuideSnapshot.h"
#include "setup/InputSourceProbe.h"
#include "setup/InputSourceSetup.h"
#include "setup/InputSourceSystem.h"
#include "setup/SetupWindow.h"
#include "setup/onboarding/InputSourceWatch.h"
#include "setup/onboarding/OnboardingWindowController.h"

namespace tolvani {

namespace {

OnboardingWindowController* instance = nullptr;

std::optional<OnboardingWindowController::Operations>& testOperations() {
  static std::optional<OnboardingWindowController::Operations> operations;
  return operations;
}

OnboardingWindowController::Operations operations() {
  return testOperations() ? *testOperations() : OnboardingWindowController::defaultOperations();
}

}  // namespace

OnboardingWindowController::Operations OnboardingWindowController::defaultOperations() {
  Operations ops;
  ops.probe = [](CancellationRef cancellation, SetupCompletion<InputSourceSnapshot> done) {
    InputSourceProbe::state(std::move(cancellation), std::move(done));
  };
  ops.activate = [](CancellationRef cancellation, SetupCompletion<Done> done) {
    // IBus finds the program's component in its own folders: no bundle path is needed.
    InputSourceSetup::activate(QUrl(), std::move(cancellation), std::move(done));
  };
  ops.activateBeforeShow = [](CancellationRef cancellation, SetupCompletion<Done> done) {
    InputSourceSetup::activate(QUrl(), std::move(cancellation), std::move(done), true);
  };
  ops.showInputMenu = [](CancellationRef cancellation, SetupCompletion<Done> done) {
    InputSourceSetup::showInputMenu(std::move(cancellation), std::move(done));
  };
  ops.select = [](CancellationRef cancellation, SetupCompletion<InputSourceSnapshot> done) {
    InputSourceSetup::select(std::move(cancellation), std::move(done));
  };
  ops.menuVisible = [] { return InputMenuPreference::isVisible(); };
  ops.panelRuns = [] { return inputSourceSystem().panelRuns(); };
  ops.selectedByPerson = [] { return inputSourceSystem().selectedByPerson(); };
  ops.statusArea = [] { return Fcitx5InputSources::statusAreaRuns(); };
  return ops;
}

void OnboardingWindowController::testSetOperations(std::optional<Operations> replacement) {
  testOperations() = std::move(replacement);
}

OnboardingWindowController* OnboardingWindowController::existing() { return instance; }

OnboardingWindowController* OnboardingWindowController::ensureExisting() {
  // Kept for the life of the process, like its window; released as the application ends, since
  // the web engine wants its pages gone before it shuts down.
  if (!instance) {
    instance = new OnboardingWindowController();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
      delete instance;
      instance = nullptr;
    });
  }
  return instance;
}

guide::State OnboardingWindowController::stepState() const {
  guide::State state;
  state.status = status_;
  state.selected = selected_;
  state.menuVisible = menuVisible_;
  state.ibusRunning = ibusRunning_;
  state.panelRuns = panelRuns_;
  state.selectedByPerson = selectedByPerson_;
  state.switchedByPerson = selectedByPerson_ || offered_;
  state.completed = AppSettings::onboardingCompleted();
  state.checked = checked_;
  state.gnome = platform::desktop::isGnome();
  state.fcitx5 = platform::desktop::fcitx5IsFramework();
  if (state.fcitx5) {
    state.switchKey = Fcitx5InputSources::triggerKey();
    state.statusArea = statusArea_;
    state.chooseVirtualKeyboard = platform::desktop::kwinStartsNoFcitx5();
  }
  return state;
}

bool OnboardingWindowController::conditionMet(Step step) const {
  return guide::conditionMet(stepState(), step);
}

bool OnboardingWindowController::stepLeft(Step step, bool force) const {
  // Only the shell switches there, and it does not follow a switch made behind it. A window the
  // program offered switches only on Retry Setup: the person may have left Tolvani meanwhile.
  if (step == Step::select && (selectedByPerson_ || (offered_ && !force))) return false;
  if (!ibusRunning_) {
    // Adding and showing are kept for the daemon the session starts; selecting needs one.
    if (step == Step::select) return false;
    if (step == Step::show) return force || !menuVisible_;
  }
  return force || !conditionMet(step);
}

bool OnboardingWindowController::allStepsMet() const { return guide::allStepsMet(stepState()); }

void OnboardingWindowController::applySnapshot(const InputSourceSnapshot& snapshot) {
  status_ = snapshot.status;
  selected_ = snapshot.selected;
  daemonStarted_ = snapshot.ibusRunning && (daemonStarted_ || !ibusRunning_);
  ibusRunning_ = snapshot.ibusRunning;
  const Operations ops = operations();
  menuVisible_ = ops.menuVisible();
  panelRuns_ = ibusRunning_ && (!ops.panelRuns || ops.panelRuns());
  selectedByPerson_ = ops.selectedByPerson && ops.selectedByPerson();
  statusArea_ = !platform::desktop::fcitx5IsFramework() || !ops.statusArea || ops.statusArea();
  checked_ = true;
}

bool OnboardingWindowController::takeDaemonStart() {
  const bool started = daemonStarted_;
  daemonStarted_ = false;
  return started && !allStepsMet();
}

void OnboardingWindowController::runSetup(bool force) {
  if (setupTask_) return;
  failed_.reset();
  failure_.clear();
  ++stateEpoch_;
  auto task = std::make_shared<Cancellation>();
  setupTask_ = task;
  platform::mainQueue().async([self = QPointer(this), force, generation = session_, task] {
    if (self && !task->isCancelled()) self->setUp(force, generation, task);
  });
  render(false);
}

void OnboardingWindowController::setUp(bool force, const QString& generation,
                                       const CancellationRef& task) {
  awaitAnswer(task);
  operations().probe(task, [self = QPointer(this), force, generation,
                            task](SetupResult<InputSourceSnapshot> probed) {
    // A run given up for want of an answer is no longer the window's.
    if (!self || self->session_ != generation || self->setupTask_ != task) return;
    if (!probed.ok()) {
      self->stopAwaiting();
      self->setupTask_.reset();
      self->running_.reset();
      self->failed_ = Step::add;
      self->failure_ = probed.error().message;
      self->render(false);
      return;
    }
    self->applySnapshot(probed.value());
    std::vector<Step> steps;
    const bool nothingToDo = !force && AppSettings::onboardingCompleted() &&
                             self->status_ == InputSourceRegistration::State::enabled;
    if (!nothingToDo) {
      for (Step step : guide::kAllSteps)
        if (self->stepLeft(step, force)) steps.push_back(step);
    }
    if (steps.empty()) return self->finishSetup(std::nullopt, QString());
    self->runStep(std::move(steps), 0, generation, task);
  });
}

void OnboardingWindowController::runStep(std::vector<Step> steps, size_t index,
                                         const QString& generation, const CancellationRef& task) {
  const Step step = steps[index];
  running_ = step;
  awaitAnswer(task);
  render(false);
  auto next = [self = QPointer(this), steps, index, generation, task,
               step](std::optional<SetupError> error) {
    if (!self || self->session_ != generation || self->setupTask_ != task) return;
    if (error) return self->verify(step, error->message, generation, task);
    if (index + 1 < steps.size()) return self->runStep(steps, index + 1, generation, task);
    self->verify(std::nullopt, QString(), generation, task);
  };
  const Operations ops = operations();
  auto doneStep = [next](SetupResult<Done> result) {
    next(result.ok() ? std::nullopt : std::optional(result.error()));
  };
  switch (step) {
    case Step::add:
      if (ops.activateBeforeShow && index + 1 < steps.size() && steps[index + 1] == Step::show)
        return ops.activateBeforeShow(task, doneStep);
      return ops.activate(task, doneStep);
    case Step::show:
      return ops.showInputMenu(task, doneStep);
    case Step::select:
      return ops.select(task, [next](SetupResult<InputSourceSnapshot> result) {
        next(result.ok() ? std::nullopt : std::optional(result.error()));
      });
  }
}

void OnboardingWindowController::verify(std::optional<Step> failing, const QString& message,
                                        const QString& generation, const CancellationRef& task) {
  awaitAnswer(task);
  operations().probe(task, [self = QPointer(this), failing, message, generation,
                            task](SetupResult<InputSourceSnapshot> probed) {
    if (!self || self->session_ != generation || self->setupTask_ != task) return;
    self->stopAwaiting();
    if (probed.ok()) {
      self->applySnapshot(probed.value());
      return self->finishSetup(failing, message);
    }
    std::optional<Step> step = failing;
    QString recorded = message;
    if (!failing) {
      step = Step::add;
      for (Step candidate : guide::kAllSteps) {
        // The person's own switch is no step of the run's to fail.
        if (!self->conditionMet(candidate) &&
            !(candidate == Step::select && self->stepState().switchedByPerson)) {
          step = candidate;
          break;
        }
      }
      recorded = probed.error().message;
    }
    self->setupTask_.reset();
    self->running_.reset();
    self->failed_ = step;
    self->failure_ = recorded;
    self->render(false);
  });
}

void OnboardingWindowController::finishSetup(std::optional<Step> failing, const QString& message) {
  stopAwaiting();
  setupTask_.reset();
  running_.reset();
  failed_ = failing;
  failure_ = message;
  if (!failing && allStepsMet()) AppSettings::setOnboardingCompleted(true);
  // The session's daemon came up during the run, after its steps were chosen.
  if (takeDaemonStart() && !failing) return runSetup(false);
  render(false);
}

void OnboardingWindowController::refreshStatus() {
  render(false);
  if (setupTask_) return;
  if (refreshTask_) {
    refreshQueued_ = true;
    return;
  }
  auto task = std::make_shared<Cancellation>();
  refreshTask_ = task;
  operations().probe(task, [self = QPointer(this), epoch = stateEpoch_,
                            generation = session_](SetupResult<InputSourceSnapshot> probed) {
    if (!self || self->session_ != generation) return;
    self->refreshTask_.reset();
    if (probed.ok() && epoch == self->stateEpoch_ && !self->setupTask_) {
      self->applySnapshot(probed.value());
      if (self->takeDaemonStart()) {
        // What had to wait for the session's daemon can be done now.
        self->runSetup(false);
      } else if (self->stepState().switchedByPerson && !self->failed_ && self->allStepsMet() &&
                 !AppSettings::onboardingCompleted()) {
        // The person switched to Tolvani: a run with nothing to do completes setup.
        self->runSetup(false);
      } else if (self->failed_ && self->conditionMet(*self->failed_)) {
        if (AppSettings::onboardingCompleted()) {
          self->failed_.reset();
          self->failure_.clear();
        } else {
          self->runSetup(false);
        }
      }
    }
    if (self->refreshQueued_) {
      self->refreshQueued_ = false;
      self->refreshStatus();
    } else {
      self->render(false);
    }
  });
}

void OnboardingWindowController::retrySetup() { runSetup(true); }

void OnboardingWindowController::switchKeyboard() {
  ++stateEpoch_;
  auto task = std::make_shared<Cancellation>();
  setupTask_ = task;
  awaitAnswer(task);
  render(false);
  operations().select(task, [self = QPointer(this), generation = session_,
                             task](SetupResult<InputSourceSnapshot> result) {
    if (!self || self->session_ != generation || self->setupTask_ != task) return;
    self->stopAwaiting();
    self->setupTask_.reset();
    if (result.ok()) {
      self->applySnapshot(result.value());
      if (self->failed_ == Step::select) {
        self->failed_.reset();
        self->failure_.clear();
      }
      self->render(true);
    } else {
      self->failed_ = Step::select;
      self->failure_ = result.error().message;
      self->render(false);
    }
  });
}

void OnboardingWindowController::awaitAnswer(const CancellationRef& task) {
  stopAwaiting();
  // A bound that fired just as its answer came finds a later one in its place.
  const int bound = ++answerBound_;
  answerTimer_ = platform::clock().schedule(
      kAnswerLimit, [self = QPointer(this), weak = std::weak_ptr<Cancellation>(task), bound] {
        platform::mainQueue().async([self, weak, bound] {
          const CancellationRef task = weak.lock();
          if (self && task && self->answerBound_ == bound) self->noAnswer(task);
        });
      });
}

void OnboardingWindowController::stopAwaiting() {
  if (answerTimer_ != 0) platform::clock().cancel(answerTimer_);
  answerTimer_ = 0;
  ++answerBound_;
}

void OnboardingWindowController::noAnswer(const CancellationRef& task) {
  if (setupTask_ != task) return;
  answerTimer_ = 0;
  // Ends the children still running; their late answers find the run gone.
  task->cancel();
  setupTask_.reset();
  std::optional<Step> step = running_;
  if (!step) {
    step = Step::add;
    for (Step candidate : guide::kAllSteps) {
      if (!conditionMet(candidate) && stepLeft(candidate, false)) {
        step = candidate;
        break;
      }
    }
  }
  running_.reset();
  failed_ = step;
  failure_ = UIStrings::setupNoAnswer();
  render(false);
}

bool OnboardingWindowController::keyboardSettingsWork() const {
  return guide::keyboardSettingsWork(stepState());
}

void OnboardingWindowController::openKeyboardSettings() {
  if (!keyboardSettingsWork()) return;
  if (platform::desktop::fcitx5IsFramework()) {
    const QString configTool = QStandardPaths::findExecutable(QStringLiteral("fcitx5-configtool"));
    if (!configTool.isEmpty() && QProcess::startDetached(configTool, {})) return;
    failure_ = UIStrings::setupSettingsPath();
    render(false);
    return;
  }
  // GNOME's Keyboard page where the desktop is GNOME, else IBus's own preferences.
  const bool gnome = platform::desktop::isGnome();
  const QString controlCenter =
      QStandardPaths::findExecutable(QStringLiteral("gnome-control-center"));
  const QString ibusSetup = QStandardPaths::findExecutable(QStringLiteral("ibus-setup"));
  bool opened = false;
  if (gnome && !controlCenter.isEmpty())
    opened = QProcess::startDetached(controlCenter, {QStringLiteral("keyboard")});
  if (!opened && !ibusSetup.isEmpty()) opened = QProcess::startDetached(ibusSetup, {});
  if (opened) return;
  failure_ = UIStrings::setupSettingsPath();
  render(false);
}

void OnboardingWindowController::observeInputSources(bool on) {
  inputSourceWatch_.reset();
  if (!on) return;
  inputSourceWatch_ = InputSourceWatch::forInputSources([self = QPointer(this)] {
    if (self && self->windowShownOrMinimized()) self->refreshStatus();
  });
}

void OnboardingWindowController::showIfNeeded() {
  const Operations ops = operations();
  SetupWindow::offerIfNeeded(
      ops.probe, [ops] { return ops.menuVisible() && (!ops.panelRuns || ops.panelRuns()); },
      [] { offer(); });
}

void OnboardingWindowController::showTour() {
  show();
  OnboardingWindowController* controller = ensureExisting();
  controller->stage_ = Stage::tour;
  controller->tourStep_ = 0;
  controller->render(false);
}

bool OnboardingWindowController::confirmSetup(const QString& committed) {
  return SetupWindow::confirmByCommitting(committed, [] { refreshShown(); });
}

void OnboardingWindowController::refreshShown() {
  if (instance && instance->windowShownOrMinimized()) instance->refreshStatus();
}

}  // namespace tolvani
