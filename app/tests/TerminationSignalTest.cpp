// SIGHUP (a closed terminal, a logout), SIGINT (Control+C) and SIGTERM followed at once by SIGHUP
// (a logout) to the program the IBus daemon started, with the setup window open: each saves what
// was learned and the statistics and exits 0, and signals that keep coming during the shut-down
// do not cut it short.
#include <signal.h>

#include <QDeadlineTimer>
#include <QThread>
#include <ostream>
#include <string>
#include <vector>

#include "app/tests/DaemonStartedProgram.h"

namespace tolvani {
namespace {

using testing::TestInputContext;

struct Ending {
  const char* name;
  std::vector<int> sent;  // one right after another
  bool repeated;          // the last one again every few milliseconds until the program ends
};

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

class TerminationSignalTest
    : public testing::DaemonStartedProgram<::testing::TestWithParam<Ending>> {};

TEST_P(TerminationSignalTest, SavesWhatWasLearnedAndTheStatisticsThenExitsZero) {
  TestInputContext context(desktop_->ibus(), "editor");
  ASSERT_NO_FATAL_FAILURE(typeWords(context));
  ASSERT_NO_FATAL_FAILURE(openSetupWindow(context));
  const pid_t program = programId();
  ASSERT_GT(program, 0);
  // Two words are fewer than the engine saves on its own: only the shut-down writes them.
  desktop_->ibus().settle();
  const QJsonObject words =
      testing::readJson(desktop_->ibus().root() +
                        QStringLiteral("/data/tolvani/user-dictionary.json"))["words"]
          .toObject();
  ASSERT_FALSE(words.contains(QString::fromUtf8("তোমাকে")));

  for (const int signal : GetParam().sent) ::kill(program, signal);
  const QDeadlineTimer deadline(20000);
  while (GetParam().repeated && ::kill(program, GetParam().sent.back()) == 0 &&
         !deadline.hasExpired()) {
    QThread::msleep(2);
  }
  expectACleanEndWithEverythingSaved();
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TerminationSignalTest,
    ::testing::Values(Ending{"sighup", {SIGHUP}, false}, Ending{"sigint", {SIGINT}, false},
                      Ending{"sigterm_then_sighup", {SIGTERM, SIGHUP}, false},
                      Ending{"sigterm_then_sighups_until_the_end", {SIGTERM, SIGHUP}, true},
                      Ending{"sigterm_then_sigterms_until_the_end", {SIGTERM}, true}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvani
