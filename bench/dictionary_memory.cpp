// Resident memory of the process that serves IBus around a visit to the User Dictionary window,
// over 9,900 ordinary learned words and over the largest dictionary the store accepts (9,900 words
// and 10,000 tombstones of about 1,140 bytes each): the built tolvani program, started by a private
// ibus-daemon on a virtual display, after CONTEXTS input contexts typed a few words each; with the
// window open (opened from the settings window's Data tab, as a person opens it); after REMOVALS
// words were removed in it one at a time (a row clicked, then "Remove Selected"); and after the
// window and the settings window were closed, their edits saved and every input context's session
// had taken them in: 5 s after the close, and again once each context typed a word.
//
//   dictionary_memory [REMOVALS [CONTEXTS]]   defaults 15 and 3
//
// The window report the benchmark finds its way by (TOLVANI_TEST_WINDOWS) lists only the rows in
// sight, so it holds little of the dictionary itself.
#include <ibus.h>

#include <QCoreApplication>
#include <QFile>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/ProcessMemory.h"
#include "ime/testing/VirtualDesktop.h"
#include "ime/testing/WindowReport.h"
#include "largest_dictionary.h"
#include "typed_keys.h"

namespace {

using tolvani::testing::IBusDaemonHarness;
using tolvani::testing::TestInputContext;
using tolvani::testing::VirtualDesktop;
using tolvani::testing::Widget;
using tolvani::testing::WindowReport;

// How long a step of the visit may take over the largest dictionary.
constexpr int kWaitMs = 60000;

double mb(long kib) { return static_cast<double>(kib) / 1024.0; }

struct Figures {
  long before = 0, open = 0, removed = 0, closed = 0, typed = 0;
};

// Types a few words into `context` and waits for their commits.
bool typeWords(IBusDaemonHarness& harness, TestInputContext& context, std::size_t keys) {
  const std::string text = tolvani::bench::typedKeys(keys);
  const qsizetype before = context.commits.size();
  qsizetype words = 0;
  for (const char c : text) {
    const auto [keycode, shift] = tolvani::testing::usKey(c);
    tolvani::testing::press(context, c == ' ' ? IBUS_KEY_space : static_cast<unsigned char>(c),
                            keycode, shift ? IBUS_SHIFT_MASK : 0);
    if (c == ' ') ++words;
  }
  return harness.waitFor([&] { return context.commits.size() >= before + words; });
}

// The visit over `dictionary`; nothing when a step failed (it says which).
std::optional<Figures> visit(const char* name, const std::string& dictionary, int removals,
                             int contextCount) {
  std::printf("== %s (%.1f MB file)\n", name, static_cast<double>(dictionary.size()) / 1e6);
  QTemporaryDir data;
  QTemporaryDir reportFolder;
  {
    QFile file(data.filePath(QStringLiteral("user-dictionary.json")));
    if (!file.open(QIODevice::WriteOnly)) return std::nullopt;
    file.write(dictionary.data(), static_cast<qint64>(dictionary.size()));
  }
  WindowReport report(reportFolder.filePath(QStringLiteral("windows.txt")));
  const auto widget = [&](const QString& name) {
    return report.waitFor(WindowReport::named(name), kWaitMs);
  };
  IBusDaemonHarness::Options options;
  options.componentFolder = QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR);
  options.quiet = true;
  options.environment = {QStringLiteral("TOLVANI_TEST_WINDOWS=") + report.path(),
                         QStringLiteral("TOLVANI_DATA_DIR=") + data.path()};
  VirtualDesktop desktop(options, QSize(1280, 900));
  if (!desktop.ready()) {
    std::fprintf(stderr, "no virtual display: %s\n", qPrintable(desktop.failure()));
    return std::nullopt;
  }
  IBusDaemonHarness& harness = desktop.ibus();
  std::vector<std::unique_ptr<TestInputContext>> contexts;
  for (int i = 0; i < contextCount; ++i) {
    auto& context = *contexts.emplace_back(std::make_unique<TestInputContext>(harness, "bench"));
    context.focusIn();
    context.setCursorLocation(100, 200, 1, 18);
    context.selectEngine("tolvani");
    if (!harness.waitFor(
            [&] { return harness.events().contains("activate " + context.objectPath()); })) {
      std::fprintf(stderr, "the program did not take context %d\n", i);
      return std::nullopt;
    }
    if (!typeWords(harness, context, 120)) {
      std::fprintf(stderr, "context %d did not commit its words\n", i);
      return std::nullopt;
    }
    context.focusOut();
  }
  const qint64 pid = tolvani::testing::servingProcess(harness);
  if (pid == 0) {
    std::fprintf(stderr, "no tolvani --ibus serves the daemon\n");
    return std::nullopt;
  }
  // The figures once the program has been idle for a while.
  const auto settled = [&](const char* when, long& kib) {
    tolvani::testing::waitUntil([] { return false; }, 5000);
    harness.settle();
    kib = tolvani::testing::residentKiB(pid);
    long noFile = 0;
    for (const auto& [path, resident] : tolvani::testing::residentKiBByFile(pid))
      if (path == QLatin1String("[anonymous]")) noFile += resident;
    std::printf("%-44s resident %6.1f MB (%.1f MB mapping no file: heaps, stacks)\n", when, mb(kib),
                mb(noFile));
    std::fflush(stdout);
  };
  Figures figures;
  settled("before the window", figures.before);

  TestInputContext& first = *contexts.front();
  first.focusIn();
  first.activateProperty("openPreferences");
  std::optional<Widget> dataTab;
  for (int tries = 0; tries < 100 && !dataTab; ++tries) {
    std::vector<Widget> tabs;
    report.waitFor([&](const Widget& w) { return w.kind == QLatin1String("tab"); }, kWaitMs);
    for (const Widget& w : report.lines())
      if (w.kind == QLatin1String("tab")) tabs.push_back(w);
    if (tabs.size() > 2) dataTab = tabs[2];
  }
  if (!dataTab || !desktop.click(dataTab->place.center())) {
    std::fprintf(stderr, "no Data tab in the settings window\n");
    return std::nullopt;
  }
  const std::optional<Widget> edit = widget(QStringLiteral("editDictionary"));
  if (!edit || !desktop.click(edit->place.center())) {
    std::fprintf(stderr, "no button for the user dictionary\n");
    return std::nullopt;
  }
  // The count shows the words once the window has read them: "N of N words", in either language.
  const auto countText = [&] {
    const std::optional<Widget> count = widget(QStringLiteral("count"));
    return count ? count->fields.value(2) : QString();
  };
  const auto listed = [&](const QString& text) {
    QStringList n = text.split(QRegularExpression(QStringLiteral("[^0-9]+")), Qt::SkipEmptyParts);
    return n.size() == 2 && n[0] == n[1] && n[0].toInt() > 0;
  };
  if (!tolvani::testing::waitUntil([&] { return listed(countText()); }, 60000)) {
    std::fprintf(stderr, "the window never listed the words: %s\n", qPrintable(countText()));
    return std::nullopt;
  }
  std::printf("(the window lists %s)\n", qPrintable(countText()));
  settled("with the window open", figures.open);

  for (int i = 0; i < removals; ++i) {
    const QString shown = countText();
    const std::optional<Widget> row = report.waitFor(
        [](const Widget& w) {
          return w.kind == QLatin1String("row") && w.fields.value(0) == QLatin1String("words");
        },
        kWaitMs);
    const std::optional<Widget> remove = widget(QStringLiteral("removeSelected"));
    if (!row || !remove || !desktop.click(row->place.center()) ||
        !desktop.click(remove->place.center()) ||
        !tolvani::testing::waitUntil(
            [&] {
              const QString now = countText();
              return listed(now) && now != shown;
            },
            60000)) {
      std::fprintf(stderr, "removal %d did not show: %s\n", i + 1, qPrintable(countText()));
      return std::nullopt;
    }
  }
  std::printf("(the window lists %s)\n", qPrintable(countText()));
  settled(("after " + std::to_string(removals) + " removals").c_str(), figures.removed);

  for (const char* window : {"userDictionaryWindow", "settingsWindow"}) {
    report.read();
    const auto shown = std::find_if(report.lines().begin(), report.lines().end(),
                                    WindowReport::window(QString::fromLatin1(window)));
    const QString id = shown == report.lines().end() ? QString() : shown->fields.value(3);
    if (id.isEmpty() || !desktop.closeWindow(id)) {
      std::fprintf(stderr, "could not close %s\n", window);
      return std::nullopt;
    }
  }
  if (!report.waitForNone([](const Widget& w) { return w.kind == QLatin1String("window"); })) {
    std::fprintf(stderr, "the windows did not close\n");
    return std::nullopt;
  }
  settled("after every window closed (5 s)", figures.closed);
  for (auto& context : contexts) {
    context->focusIn();
    if (!typeWords(harness, *context, 30)) {
      std::fprintf(stderr, "a context did not commit its words after the close\n");
      return std::nullopt;
    }
    context->focusOut();
  }
  settled("then a word typed in each context", figures.typed);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int removals = argc > 1 ? std::atoi(argv[1]) : 15;
  const int contexts = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  namespace bench = tolvani::bench;
  const auto ordinary =
      visit("9,900 ordinary words", bench::userDictionary(bench::kLargestCaseWords, 0, 0), removals,
            contexts);
  const auto largest =
      visit("the largest dictionary the store accepts",
            bench::userDictionary(bench::kLargestCaseWords, bench::kLargestTombstones,
                                  bench::kLargestCaseWordBytes),
            removals, contexts);
  if (!ordinary || !largest) return 1;
  std::printf("\n%-44s %10s %10s\n", "resident MB", "ordinary", "largest");
  const auto row = [&](const char* when, long Figures::*field) {
    std::printf("%-44s %10.1f %10.1f\n", when, mb((*ordinary).*field), mb((*largest).*field));
  };
  row("before the window", &Figures::before);
  row("with the window open", &Figures::open);
  row("after the removals", &Figures::removed);
  row("after every window closed", &Figures::closed);
  row("then a word typed in each context", &Figures::typed);
  std::printf("%-44s %+10.1f %+10.1f\n", "closed minus before",
              mb(ordinary->closed - ordinary->before), mb(largest->closed - largest->before));
  return 0;
}
