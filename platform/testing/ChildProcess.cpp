#include "platform/testing/ChildProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace tolvani::testing {

namespace {

constexpr char kRoleVariable[] = "TOLVANI_TEST_CHILD_ROLE";
constexpr char kArgumentsVariable[] = "TOLVANI_TEST_CHILD_ARGUMENTS";

struct Role {
  ChildRole run;
  bool withoutApplication = false;
};

std::map<std::string, Role>& roles() {
  static std::map<std::string, Role> registered;
  return registered;
}

}  // namespace

ChildRoleRegistration::ChildRoleRegistration(const char* name, ChildRole role,
                                             bool withoutApplication) {
  roles()[name] = Role{std::move(role), withoutApplication};
}

struct Child::State {
  QProcess process;
};

Child::Child(const QString& role, const QStringList& arguments,
             const QProcessEnvironment& environment, const QStringList& launcher)
    : state_(std::make_unique<State>()) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(environment);
  env.insert(QString::fromLatin1(kRoleVariable), role);
  // Arguments travel in the environment so that gtest never sees them; U+001F cannot be typed.
  env.insert(QString::fromLatin1(kArgumentsVariable), arguments.join(QChar(0x1F)));
  state_->process.setProcessEnvironment(env);
  const QString program = QCoreApplication::applicationFilePath();
  if (launcher.isEmpty())
    state_->process.start(program, {});
  else
    state_->process.start(launcher.first(), launcher.mid(1) + QStringList{program});
}

Child::~Child() {
  if (state_->process.state() != QProcess::NotRunning) {
    state_->process.kill();
    state_->process.waitForFinished();
  }
}

ChildResult Child::wait() {
  ChildResult result;
  QProcess& p = state_->process;
  if (!p.waitForStarted(-1) && p.state() == QProcess::NotRunning) return result;
  p.waitForFinished(120'000);
  result.standardOutput = p.readAllStandardOutput();
  result.standardError = p.readAllStandardError();
  if (p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit)
    result.exitCode = p.exitCode();
  return result;
}

ChildResult runChild(const QString& role, const QStringList& arguments,
                     const QProcessEnvironment& environment, const QStringList& launcher) {
  Child child(role, arguments, environment, launcher);
  return child.wait();
}

bool runChildRoleIfAsked(bool applicationExists, int& exitCode) {
  const QByteArray name = qgetenv(kRoleVariable);
  if (name.isEmpty()) return false;
  const auto it = roles().find(name.toStdString());
  if (it != roles().end() && it->second.withoutApplication == applicationExists) return false;
  const QString packed = qEnvironmentVariable(kArgumentsVariable);
  const QStringList arguments = packed.isEmpty() ? QStringList() : packed.split(QChar(0x1F));
  if (it == roles().end()) {
    std::fprintf(stderr, "no child role %s\n", name.constData());
    exitCode = 127;
    return true;
  }
  // The child's own children are not children in this role.
  qunsetenv(kRoleVariable);
  qunsetenv(kArgumentsVariable);
  exitCode = it->second.run(arguments);
  std::fflush(stdout);
  return true;
}

bool isChild() { return qEnvironmentVariableIsSet(kRoleVariable); }

}  // namespace tolvani::testing
