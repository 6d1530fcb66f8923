// Resident memory of the process that serves IBus around a visit to the User Dictionary window,
// over 9,900 ordinary learned words (the lexicon's most frequent) and over the largest dictionary
// the store accepts (9,900 words and 10,000 tombstones of about 1,140 bytes each): the built
// tolvani program, started by a private ibus-daemon on a virtual display, after one or three input
// contexts typed a few words each; with the window open (opened from the settings window's Data
// tab, as a person opens it); after REMOVALS words were removed in it one at a time (a row clicked,
// then "Remove Selected"); and after the window and the settings window were closed, their edits
// saved and every input context's session had taken them in: 5 s after the close, and again once
// each context typed a word.
//
//   dictionary_memory [REMOVALS [ITEM...]]   default 10 removals, every item (listed in main)
//
// Items 5 to 7 type a word in a context between two removals (in each context in turn): every
// session then reloads the stores the window saved while the others type. Items 8 and 9 do the
// same with real programs' fields (a Qt 6 line, a GTK 3 text view, a GTK 3 line) typed with X key
// events, and the settings window opened from a panel's menu, as on a desktop.
//
// The window report the benchmark finds its way by (TOLVANI_TEST_WINDOWS) lists only the rows in
// sight, so it holds little of the dictionary itself.
#include <ibus.h>

#include <QCoreApplication>
#include <QFile>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/MenuPanel.h"
#include "ime/testing/ProcessMemory.h"
#include "ime/testing/VirtualDesktop.h"
#include "ime/testing/WindowReport.h"
#include "largest_dictionary.h"
#include "typed_keys.h"

namespace {

using tolvani::testing::IBusDaemonHarness;
using tolvani::testing::MenuPanel;
using tolvani::testing::TestInputContext;
using tolvani::testing::VirtualDesktop;
using tolvani::testing::Widget;
using tolvani::testing::WindowReport;

// How long a step of the visit may take over the largest dictionary.
constexpr int kWaitMs = 60000;

double mb(long kib) { return static_cast<double>(kib) / 1024.0; }

// Resident size and anonymous resident size (RssAnon), KiB.
struct Figure {
  long resident = 0, anonymous = 0;
};
struct Figures {
  Figure before, open, removed, closed, typed;
};

// One item of the benchmark: a dictionary, how many input contexts type, and whether a word is
// typed in one of them (each in turn) between two removals.
struct Item {
  const char* name;
  bool largest;
  int contexts;
  bool typeBetween;
  bool realPrograms = false;
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
std::optional<Figures> visit(const Item& item, const std::string& dictionary, int removals) {
  const int contextCount = item.contexts;
  std::printf("== %s (%.1f MB file)\n", item.name, static_cast<double>(dictionary.size()) / 1e6);
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
  std::vector<tolvani::testing::TextWindow*> windows;
  std::optional<MenuPanel> panel;
  // Types a few words in context `i`, with the focus there only meanwhile.
  const auto typeIn = [&](std::size_t i, std::size_t keys) {
    if (!item.realPrograms) {
      TestInputContext& context = *contexts[i];
      context.focusIn();
      const bool typed = typeWords(harness, context, keys);
      context.focusOut();
      return typed;
    }
    tolvani::testing::TextWindow& window = *windows[i];
    // Whole words: the field keeps the focus, and a word left composing keeps its candidates shown.
    QString text = QString::fromStdString(tolvani::bench::typedKeys(keys));
    text.truncate(text.lastIndexOf(u' ') + 1);
    const auto spaces = [&] { return window.text(0).count(u' '); };
    const qsizetype before = spaces();
    return desktop.focus(window, 0) && desktop.type(text, 15) &&
           tolvani::testing::waitUntil([&] { return spaces() >= before + text.count(u' '); },
                                       20000);
  };
  if (item.realPrograms) {
    using Toolkit = tolvani::testing::TextWindow::Toolkit;
    const std::pair<Toolkit, QStringList> programs[] = {
        {Toolkit::Qt6, {QStringLiteral("--x"), QStringLiteral("20")}},
        {Toolkit::Gtk3,
         {QStringLiteral("--multiline"), QStringLiteral("--x"), QStringLiteral("440")}},
        {Toolkit::Gtk3, {QStringLiteral("--x"), QStringLiteral("860")}}};
    for (int i = 0; i < contextCount; ++i) {
      const auto& [toolkit, arguments] = programs[i % 3];
      tolvani::testing::TextWindow* window = desktop.open(
          toolkit, arguments + QStringList{QStringLiteral("--y"), QStringLiteral("600")});
      if (!window) {
        std::fprintf(stderr, "no program window: %s\n", qPrintable(desktop.failure()));
        return std::nullopt;
      }
      windows.push_back(window);
    }
    panel.emplace(harness.bus());
    if (!panel->owned() || !desktop.selectEngine("tolvani")) {
      std::fprintf(stderr, "no panel, or tolvani was not selected\n");
      return std::nullopt;
    }
  }
  for (int i = 0; i < contextCount; ++i) {
    if (!item.realPrograms) {
      auto& context = *contexts.emplace_back(std::make_unique<TestInputContext>(harness, "bench"));
      context.focusIn();
      context.setCursorLocation(100, 200, 1, 18);
      context.selectEngine("tolvani");
      if (!harness.waitFor(
              [&] { return harness.events().contains("activate " + context.objectPath()); })) {
        std::fprintf(stderr, "the program did not take context %d\n", i);
        return std::nullopt;
      }
      context.focusOut();
    }
    if (!typeIn(static_cast<std::size_t>(i), 120)) {
      std::fprintf(stderr, "context %d did not commit its words\n", i);
      return std::nullopt;
    }
  }
  const qint64 pid = tolvani::testing::servingProcess(harness);
  if (pid == 0) {
    std::fprintf(stderr, "no tolvani --ibus serves the daemon\n");
    return std::nullopt;
  }
  // The figures once the program has been idle for a while.
  const auto settled = [&](const char* when, Figure& figure) {
    tolvani::testing::waitUntil([] { return false; }, 5000);
    harness.settle();
    figure.resident = tolvani::testing::residentKiB(pid);
    figure.anonymous = tolvani::testing::anonymousResidentKiB(pid);
    std::printf("%-44s resident %6.1f MB, anonymous %6.1f MB\n", when, mb(figure.resident),
                mb(figure.anonymous));
    std::fflush(stdout);
  };
  Figures figures;
  settled("before the window", figures.before);

  if (item.realPrograms) {
    if (!desktop.focus(*windows.front(), 0)) {
      std::fprintf(stderr, "the first program's field did not take the focus\n");
      return std::nullopt;
    }
    panel->choose("openPreferences");
  } else {
    contexts.front()->focusIn();
    contexts.front()->activateProperty("openPreferences");
  }
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

  const auto isRow = [](const Widget& w) {
    return w.kind == QLatin1String("row") && w.fields.value(0) == QLatin1String("words");
  };
  for (int i = 0; i < removals; ++i) {
    const std::optional<Widget> row = report.waitFor(isRow, kWaitMs);
    const std::optional<Widget> remove = widget(QStringLiteral("removeSelected"));
    // Gone from the rows rather than one fewer counted: a session that saves what it learned
    // meanwhile adds its words to the file the window reads again after each removal.
    const QString word = row ? row->fields.value(1).section(u'|', 0, 0) : QString();
    const auto gone = [&] {
      report.read();
      return listed(countText()) &&
             std::none_of(report.lines().begin(), report.lines().end(), [&](const Widget& w) {
               return isRow(w) && w.fields.value(1).section(u'|', 0, 0) == word;
             });
    };
    if (!row || !remove || !desktop.click(row->place.center()) ||
        !desktop.click(remove->place.center()) || !tolvani::testing::waitUntil(gone, 60000)) {
      std::fprintf(stderr, "removal %d did not show: %s\n", i + 1, qPrintable(countText()));
      return std::nullopt;
    }
    if (item.typeBetween && i + 1 < removals) {
      // Each context in turn, its session taking in the window's last edit meanwhile.
      if (!typeIn(static_cast<std::size_t>(i % contextCount), 6)) {
        std::fprintf(stderr, "no word committed after removal %d\n", i + 1);
        return std::nullopt;
      }
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
  for (int i = 0; i < contextCount; ++i) {
    if (!typeIn(static_cast<std::size_t>(i), 30)) {
      std::fprintf(stderr, "a context did not commit its words after the close\n");
      return std::nullopt;
    }
  }
  settled("then a word typed in each context", figures.typed);
  return figures;
}

// A dictionary of the lexicon's `words` most frequent words, as bench::userDictionary writes its
// own: words of the lengths people write, most of them too long to be kept inside a string object.
std::string lexiconDictionary(int words) {
  QFile list(QStringLiteral(TOLVANI_LEXICON_WORDS));
  if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  std::string doc = R"({"reset_id":"","words":{)";
  for (int i = 0; i < words && !list.atEnd();) {
    const QByteArray word = list.readLine().split('\t').value(0).trimmed();
    if (word.isEmpty() || word.contains('"') || word.contains('\\')) continue;
    doc += (i ? ",\"" : "\"") + word.toStdString() + R"(":{"frequency":)" +
           std::to_string(1 + i % 97) + R"(,"last_used":)" + std::to_string(now - i) + "}";
    ++i;
  }
  return doc + R"(},"tombstones":{}})";
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  namespace bench = tolvani::bench;
  const std::vector<Item> items = {
      {"1. 9,900 ordinary words, one context", false, 1, false},
      {"2. 9,900 ordinary words, three contexts", false, 3, false},
      {"3. the largest dictionary, one context", true, 1, false},
      {"4. the largest dictionary, three contexts", true, 3, false},
      {"5. 9,900 ordinary words, three contexts typing between removals", false, 3, true},
      {"6. 9,900 ordinary words, one context typing between removals", false, 1, true},
      {"7. the largest dictionary, three contexts typing between removals", true, 3, true},
      {"8. 9,900 ordinary words, three programs' fields typing between removals", false, 3, true,
       true},
      {"9. the largest dictionary, three programs' fields typing between removals", true, 3, true,
       true},
  };
  const int removals = argc > 1 ? std::atoi(argv[1]) : 10;
  std::vector<std::size_t> chosen;
  for (int i = 2; i < argc; ++i) {
    const int n = std::atoi(argv[i]);
    if (n < 1 || n > static_cast<int>(items.size())) {
      std::fprintf(stderr, "usage: dictionary_memory [REMOVALS [ITEM...]], items 1 to %zu\n",
                   items.size());
      return 2;
    }
    chosen.push_back(static_cast<std::size_t>(n - 1));
  }
  if (chosen.empty())
    for (std::size_t i = 0; i < items.size(); ++i) chosen.push_back(i);

  const std::string ordinary = lexiconDictionary(bench::kLargestCaseWords);
  if (ordinary.empty()) {
    std::fprintf(stderr, "cannot read the lexicon's words from %s\n", TOLVANI_LEXICON_WORDS);
    return 1;
  }
  const std::string largest = bench::userDictionary(
      bench::kLargestCaseWords, bench::kLargestTombstones, bench::kLargestCaseWordBytes);
  std::vector<std::pair<const Item*, Figures>> done;
  for (const std::size_t i : chosen) {
    const std::optional<Figures> figures =
        visit(items[i], items[i].largest ? largest : ordinary, removals);
    if (!figures) return 1;
    done.emplace_back(&items[i], *figures);
  }
  std::printf(
      "\nMB, resident / anonymous (RssAnon); after = every window closed, then a word "
      "typed in each context\n");
  std::printf("%-68s %15s %15s %15s\n", "", "before", "after", "after - before");
  for (const auto& [item, f] : done) {
    std::printf("%-68s %7.1f /%6.1f %7.1f /%6.1f %+7.1f /%+6.1f\n", item->name,
                mb(f.before.resident), mb(f.before.anonymous), mb(f.typed.resident),
                mb(f.typed.anonymous), mb(f.typed.resident - f.before.resident),
                mb(f.typed.anonymous - f.before.anonymous));
  }
  return 0;
}
