// Time from a key event sent by a client application to the client's receipt of the new preedit
// (or commit), through a private ibus-daemon and the built tolvani program, over 1,000 keys of
// natural phonetic text; beside it, the engine's own time for the same keys in this process.
//
//   ibus_key_latency [KEYS [RUNS]]   KEYS keys (default 1,000; 0 for none) after 100 keys of
//                                    warm-up; RUNS fresh daemons for the first key (default 7)
//
// Keys go back to back, and once more 20 ms apart as a fast typist's do (there every process
// wakes from sleep for each key, which on a shared machine costs more than the work). Each is
// typed with a caret rectangle (the program shows its own panel window) and without one (the
// daemon's candidate list). The engines take turns over four rounds of the timed keys, each in a
// fresh daemon after the same warm-up. Prints the median and the 99th percentile, in milliseconds.
// Then the first key after the engine is selected, in fresh daemons: sent as soon as the selection
// has returned, and once more after a person's pause (the median and the slowest run). For
// comparison the same keys go to an engine that does no work (its preedit is the keys typed), once
// in a process that runs a plain GLib main loop and once in one that runs Qt's event loop as the
// tolvani program does; this program is that engine when started with "--engine glib" or
// "--engine qt".
//
// Last, the first keys over the largest user dictionary the store can grow to (10,000 words and
// 10,000 tombstones at the length bound, some 23.6 MB), which every new session reads beside its
// first keys: the first key of the program's first session, as the engine is selected and after a
// person's pause: from the first key the program takes to its preedit, from the selection to that
// preedit, and how many keys the daemon passed back to the application before it; then the space
// that ends the first word, typed at once (a key that learns waits for the dictionary).
//
// Beside them, in the same rounds, the same keys through a private fcitx5 daemon (Debian's, with
// the build's addon, which starts the build's program), measured at a client of fcitx5's D-Bus
// interface as GTK's and Qt's fcitx5 modules are: from the key to the preedit's signal.
//
// TOLVANI_BENCH_COMPONENT_DIR names another folder of the tolvani component (an installed
// program, or one started under a profiler).
#include <ibus.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fcitx5_client.h"
#include "ime/testing/Fcitx5DaemonHarness.h"
#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/ProcessMemory.h"
#include "largest_dictionary.h"
#include "tolvani_engine.h"
#include "typed_keys.h"

namespace {

using Clock = std::chrono::steady_clock;
using tolvani::testing::IBusDaemonHarness;

// Evdev key codes of the US layout's letters and the space bar.
unsigned evdev(char c) {
  static const std::string rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
  static const unsigned starts[] = {16, 30, 44};
  if (c == ' ') return 57;
  for (int r = 0; r < 3; ++r) {
    const std::size_t at = rows[r].find(c);
    if (at != std::string::npos) return starts[r] + static_cast<unsigned>(at);
  }
  return 0;
}

// A fast typist's pause between keys. Back to back, the work the program does after answering a
// key (painting its candidate panel) overlaps the next key.
constexpr std::chrono::milliseconds kTypingGap(20);
// A person's pause between choosing the input method and typing.
constexpr std::chrono::milliseconds kFirstKeyPause(300);
// Turns the engines take over the timed keys.
constexpr std::size_t kRounds = 4;

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

std::string keys(std::size_t count) { return tolvani::bench::typedKeys(count); }

// Milliseconds per key through the C interface, with the same keys.
std::vector<double> engineTimes(const std::string& text) {
  TolvaniEngine* engine = tolvani_engine_create();
  std::vector<double> times;
  for (const char c : text) {
    const CKeyEvent event{c == ' ' ? TOLVANI_KEY_SPACE : TOLVANI_KEY_TEXT, 0, 0,
                          static_cast<uint32_t>(c)};
    const auto start = Clock::now();
    const CResult r = tolvani_engine_handle_key_event(engine, event);
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    tolvani_engine_free_result(r.ptr, r.len);
  }
  tolvani_engine_destroy(engine);
  return times;
}

// The engine that does no work: its preedit is the keys typed, Space commits them.
typedef struct {
  IBusEngine parent;
  GString* typed;
} NoWorkEngine;
typedef struct {
  IBusEngineClass parent;
} NoWorkEngineClass;
G_DEFINE_TYPE(NoWorkEngine, no_work_engine, IBUS_TYPE_ENGINE)

gboolean noWorkKey(IBusEngine* engine, guint keyval, guint, guint state) {
  if (state & IBUS_RELEASE_MASK) return FALSE;
  GString* typed = reinterpret_cast<NoWorkEngine*>(engine)->typed;
  if (keyval == IBUS_KEY_space) {
    ibus_engine_update_preedit_text(engine, ibus_text_new_from_static_string(""), 0, FALSE);
    ibus_engine_commit_text(engine, ibus_text_new_from_string(typed->str));
    g_string_truncate(typed, 0);
    return TRUE;
  }
  if (keyval > 0x7F) return FALSE;
  g_string_append_c(typed, static_cast<char>(keyval));
  ibus_engine_update_preedit_text(engine, ibus_text_new_from_string(typed->str),
                                  static_cast<guint>(typed->len), TRUE);
  return TRUE;
}

void no_work_engine_init(NoWorkEngine* engine) { engine->typed = g_string_new(nullptr); }
void no_work_engine_class_init(NoWorkEngineClass* klass) {
  IBUS_ENGINE_CLASS(klass)->process_key_event = noWorkKey;
}

constexpr const char* kNoWorkBus = "org.freedesktop.IBus.TolvaniNoWork";

int runNoWorkEngine(int argc, char** argv, bool qtLoop) {
  ibus_init();
  IBusBus* bus = ibus_bus_new();
  if (!ibus_bus_is_connected(bus)) return 1;
  IBusFactory* factory = ibus_factory_new(ibus_bus_get_connection(bus));
  ibus_factory_add_engine(factory, "nowork", no_work_engine_get_type());
  ibus_bus_request_name(bus, kNoWorkBus, 0);
  if (!qtLoop) {
    ibus_main();
    return 0;
  }
  qunsetenv("QT_NO_GLIB");
  QApplication app(argc, argv);
  return app.exec();
}

// A component folder whose one engine is this program in `loop` mode.
bool writeNoWorkComponent(const QString& folder, const char* loop) {
  QFile file(folder + QStringLiteral("/nowork.xml"));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QString exec = QCoreApplication::applicationFilePath() + QStringLiteral(" --engine ") +
                       QString::fromLatin1(loop);
  file.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><component><name>%1</name>"
                            "<description>no work</description><exec>%2</exec>"
                            "<version>1</version><author>bench</author><license></license>"
                            "<homepage></homepage><textdomain>nowork</textdomain><engines><engine>"
                            "<name>nowork</name><language>bn</language><license></license>"
                            "<author>bench</author><icon></icon><layout>us</layout>"
                            "<longname>nowork</longname><description>no work</description>"
                            "<rank>0</rank></engine></engines></component>")
                 .arg(QString::fromLatin1(kNoWorkBus), exec)
                 .toUtf8());
  return true;
}

struct Figures {
  std::vector<double> times;
  int missed = 0;
  QString commits;
  long residentKiB = -1;  // of the program serving fcitx5, after the keys
};

// Types `text` into a new context of a private daemon that knows `componentFolder`, with
// `engineName` selected; the first `warmUp` keys are not timed.
// An application's input context as GTK's and Qt's modules use it: keys go asynchronously, and
// the preedit is taken the moment its signal arrives, ahead of the key's answer.
struct BenchContext {
  IBusInputContext* context = nullptr;
  std::optional<Clock::time_point> received;  // the first preedit or commit since the key
  QString committed;
  bool answered = false;
  bool handled = false;  // the key's answer
};

void onPreedit(IBusInputContext*, IBusText*, guint, gboolean, BenchContext* bench) {
  if (!bench->received) bench->received = Clock::now();
}

void onCommit(IBusInputContext*, IBusText* text, BenchContext* bench) {
  if (!bench->received) bench->received = Clock::now();
  bench->committed += QString::fromUtf8(ibus_text_get_text(text));
}

void onAnswer(GObject* object, GAsyncResult* result, gpointer data) {
  BenchContext* bench = static_cast<BenchContext*>(data);
  bench->handled = ibus_input_context_process_key_event_async_finish(IBUS_INPUT_CONTEXT(object),
                                                                     result, nullptr) != FALSE;
  bench->answered = true;
}

gboolean onTimeLimit(gpointer data) {
  *static_cast<bool*>(data) = true;
  return G_SOURCE_REMOVE;
}

// Sends one key and serves the main context until its answer is in; false after 2 s. The client
// sleeps in poll while it waits, as an application does: a client that spins holds a processor
// the engine's threads may be woken onto, and the scheduler can let it run for milliseconds
// before them.
bool sendKey(BenchContext& bench, unsigned keyval, unsigned keycode) {
  bench.received.reset();
  bench.answered = false;
  ibus_input_context_process_key_event_async(bench.context, keyval, keycode, 0, -1, nullptr,
                                             onAnswer, &bench);
  bool late = false;
  const guint limit = g_timeout_add(2000, onTimeLimit, &late);
  while (!bench.answered && !late) g_main_context_iteration(nullptr, TRUE);
  if (!late) g_source_remove(limit);
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
  return bench.answered;
}

// Types `text` into a new context of a private daemon that knows `componentFolder`, with
// `engineName` selected; the first `warmUp` keys are not timed.
// A focused context of a client that takes preedits, with `bench` recording what arrives.
bool openContext(IBusDaemonHarness& harness, BenchContext& bench) {
  bench.context = ibus_bus_create_input_context(harness.bus(), "bench");
  if (!bench.context) return false;
  ibus_input_context_set_capabilities(
      bench.context, IBUS_CAP_PREEDIT_TEXT | IBUS_CAP_AUXILIARY_TEXT | IBUS_CAP_LOOKUP_TABLE |
                         IBUS_CAP_FOCUS | IBUS_CAP_PROPERTY | IBUS_CAP_SURROUNDING_TEXT);
  g_signal_connect(bench.context, "update-preedit-text", G_CALLBACK(onPreedit), &bench);
  g_signal_connect(bench.context, "commit-text", G_CALLBACK(onCommit), &bench);
  ibus_input_context_focus_in(bench.context);
  return true;
}

void closeContext(IBusDaemonHarness& harness, BenchContext& bench) {
  ibus_proxy_destroy(IBUS_PROXY(bench.context));
  g_object_unref(bench.context);
  harness.settle();
}

std::optional<Figures> typeThroughDaemon(const QString& componentFolder, const char* engineName,
                                         const std::string& text, std::size_t warmUp,
                                         std::chrono::milliseconds gap, bool caret = true) {
  IBusDaemonHarness harness(componentFolder);
  if (!harness.ready()) {
    std::fprintf(stderr, "no daemon: %s\n", qPrintable(harness.failure()));
    return std::nullopt;
  }
  BenchContext bench;
  if (!openContext(harness, bench)) return std::nullopt;
  ibus_input_context_set_engine(bench.context, engineName);
  ibus_input_context_set_surrounding_text(bench.context, ibus_text_new_from_static_string(""), 0,
                                          0);
  // With a caret the program shows its own panel window; without, the daemon's candidate list.
  if (caret) ibus_input_context_set_cursor_location(bench.context, 100, 200, 1, 18);
  // Keys pass by until the engine process has started and taken the context.
  if (!harness.waitFor([&] {
        return ibus_input_context_process_key_event(bench.context, IBUS_KEY_a, 30, 0) != FALSE;
      })) {
    std::fprintf(stderr, "the engine %s did not start\n", engineName);
    return std::nullopt;
  }
  sendKey(bench, IBUS_KEY_space, 57);
  harness.settle();
  bench.committed.clear();

  Figures figures;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (gap.count() > 0) {
      std::this_thread::sleep_for(gap);
      while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    }
    const auto start = Clock::now();
    if (!sendKey(bench, c == ' ' ? IBUS_KEY_space : static_cast<unsigned>(c), evdev(c))) break;
    if (!bench.received) {
      ++figures.missed;
      continue;
    }
    const double ms = std::chrono::duration<double, std::milli>(*bench.received - start).count();
    if (i >= warmUp) figures.times.push_back(ms);
  }
  figures.commits = bench.committed.left(40);
  closeContext(harness, bench);
  return figures;
}

// Types `text` into a new input context of a private fcitx5 daemon with Tolvani, the first
// `warmUp` keys untimed.
std::optional<Figures> typeThroughFcitx5(const std::string& text, std::size_t warmUp,
                                         std::chrono::milliseconds gap) {
  tolvani::testing::Fcitx5DaemonHarness::Options options;
  options.addons = {QStringLiteral("dbus"), QStringLiteral("dbusfrontend"),
                    QStringLiteral("keyboard")};
  options.quiet = true;
  tolvani::testing::Fcitx5DaemonHarness harness(options);
  if (!harness.ready()) {
    std::fprintf(stderr, "no fcitx5: %s\n", qPrintable(harness.failure()));
    return std::nullopt;
  }
  tolvani::bench::Fcitx5Client client(harness.sessionBusAddress());
  if (!client.open() || !client.reachTolvani()) return std::nullopt;
  Figures figures;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (gap.count() > 0) {
      std::this_thread::sleep_for(gap);
      while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    }
    const auto start = Clock::now();
    if (!client.sendKey(static_cast<unsigned char>(c), evdev(c) + 8)) break;
    if (!client.received) {
      ++figures.missed;
      continue;
    }
    const double ms = std::chrono::duration<double, std::milli>(*client.received - start).count();
    if (i >= warmUp) figures.times.push_back(ms);
  }
  figures.commits = client.committed.left(40);
  figures.residentKiB = tolvani::testing::residentKiB(harness.tolvaniPid());
  return figures;
}

// The first key the engine takes: milliseconds from that key to its preedit and from the engine's
// selection to that preedit, and how many keys the daemon passed back to the application before.
struct TakenKey {
  double ms = 0;
  double sinceSelection = 0;
  int passed = 0;
  double commitMs = -1;  // the space after "mi", typed at once after that key; -1 when not sent
};

// Sends keys until the engine takes one and answers it with a preedit; none within 10 s.
std::optional<TakenKey> firstTakenKey(BenchContext& bench, Clock::time_point selected) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  TakenKey taken;
  while (Clock::now() < deadline) {
    const auto start = Clock::now();
    if (!sendKey(bench, IBUS_KEY_a, evdev('a'))) return std::nullopt;
    if (bench.handled && bench.received) {
      taken.ms = std::chrono::duration<double, std::milli>(*bench.received - start).count();
      taken.sinceSelection =
          std::chrono::duration<double, std::milli>(*bench.received - selected).count();
      return taken;
    }
    ++taken.passed;
  }
  return std::nullopt;
}

// The first key after the engine is selected: a fresh daemon starts the program, the context
// selects the engine, and keys go `pause` after the selection has returned; the daemon passes them
// back until the program has taken the context. Milliseconds from the first key the program takes
// to its preedit.
std::optional<TakenKey> firstKey(const QString& componentFolder, const char* engineName,
                                 std::chrono::milliseconds pause, bool thenCommit = false) {
  IBusDaemonHarness harness(componentFolder);
  if (!harness.ready()) return std::nullopt;
  BenchContext bench;
  if (!openContext(harness, bench)) return std::nullopt;
  ibus_input_context_set_surrounding_text(bench.context, ibus_text_new_from_static_string(""), 0,
                                          0);
  ibus_input_context_set_cursor_location(bench.context, 100, 200, 1, 18);
  // The daemon's own first key, which does not reach an engine, goes before the selection.
  sendKey(bench, IBUS_KEY_a, evdev('a'));
  const auto selected = Clock::now();
  ibus_input_context_set_engine(bench.context, engineName);
  const auto until = Clock::now() + pause;
  while (Clock::now() < until) {
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::optional<TakenKey> taken = firstTakenKey(bench, selected);
  // The first word's space: the first key that learns, and so the first to need the stores.
  if (taken && thenCommit && sendKey(bench, IBUS_KEY_m, evdev('m')) &&
      sendKey(bench, IBUS_KEY_i, evdev('i'))) {
    const auto start = Clock::now();
    if (sendKey(bench, IBUS_KEY_space, evdev(' ')) && bench.received) {
      taken->commitMs = std::chrono::duration<double, std::milli>(*bench.received - start).count();
    }
  }
  closeContext(harness, bench);
  return taken;
}

void reportFirstKeys(const char* what, const QString& componentFolder, const char* engineName,
                     std::chrono::milliseconds pause, int runs) {
  std::vector<double> times;
  int missed = 0;
  for (int i = 0; i < runs; ++i) {
    if (const std::optional<TakenKey> taken = firstKey(componentFolder, engineName, pause)) {
      times.push_back(taken->ms);
    } else {
      ++missed;
    }
  }
  if (times.empty()) {
    std::printf("%-50s no preedit in %d runs\n", what, runs);
    return;
  }
  std::printf("%-50s median %.3f ms, max %.3f ms (%zu runs, %d without a preedit)\n", what,
              percentile(times, 0.5), *std::max_element(times.begin(), times.end()), times.size(),
              missed);
}

void reportTaken(const char* what, const std::vector<TakenKey>& taken, int runs) {
  if (taken.empty()) {
    std::printf("%s no preedit in %d runs\n", what, runs);
    return;
  }
  std::vector<double> ms;
  std::vector<double> since;
  std::vector<double> passed;
  for (const TakenKey& t : taken) {
    ms.push_back(t.ms);
    since.push_back(t.sinceSelection);
    passed.push_back(t.passed);
  }
  const auto max = [](const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
  };
  std::printf(
      "%s (%zu runs of %d)\n    key to preedit: median %.1f ms, max %.1f ms; selection to "
      "preedit: median %.1f ms, max %.1f ms; keys passed back: median %.0f, max %.0f\n",
      what, taken.size(), runs, percentile(ms, 0.5), max(ms), percentile(since, 0.5), max(since),
      percentile(passed, 0.5), max(passed));
  std::vector<double> commits;
  for (const TakenKey& t : taken) {
    if (t.commitMs >= 0) commits.push_back(t.commitMs);
  }
  if (!commits.empty()) {
    std::printf(
        "    then \"mi\" and a space at once, space to commit: median %.1f ms, max %.1f ms\n",
        percentile(commits, 0.5), max(commits));
  }
}

void report(const char* what, const std::vector<double>& times) {
  std::printf("%-50s median %.3f ms, p99 %.3f ms (%zu keys)\n", what, percentile(times, 0.5),
              percentile(times, 0.99), times.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--engine") {
    return runNoWorkEngine(argc, argv, std::string(argv[2]) == "qt");
  }
  QCoreApplication app(argc, argv);
  const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
  const int firstKeyRuns = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::size_t warmUp = 100;
  const std::string text = keys(warmUp + count);

  QTemporaryDir data;
  qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
  const std::vector<double> engine = engineTimes(text);

  // The program's sessions learn in a folder of their own.
  QTemporaryDir programData;
  qputenv("TOLVANI_DATA_DIR", programData.path().toUtf8());
  QString components = qEnvironmentVariable("TOLVANI_BENCH_COMPONENT_DIR");
  if (components.isEmpty()) components = QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR);
  std::printf("keys %zu after %zu of warm-up (keys that change no preedit are left out)\n", count,
              warmUp);
  if (count > 0) {
    report("engine alone, same keys:",
           std::vector<double>(engine.begin() + static_cast<long>(warmUp), engine.end()));
  }
  QTemporaryDir glibFolder;
  QTemporaryDir qtFolder;
  if (!writeNoWorkComponent(glibFolder.path(), "glib") ||
      !writeNoWorkComponent(qtFolder.path(), "qt")) {
    return 1;
  }
  struct Variant {
    const char* label;
    QString folder;
    const char* engine;
    bool caret;
  };
  const Variant variants[] = {
      {"tolvani", components, "tolvani", true},
      {"tolvani, no caret (daemon's list)", components, "tolvani", false},
      {"no-work engine, GLib loop", glibFolder.path(), "nowork", true},
      {"no-work engine, Qt loop", qtFolder.path(), "nowork", true},
  };
  for (const std::chrono::milliseconds gap : {std::chrono::milliseconds(0), kTypingGap}) {
    if (count == 0) break;
    const char* spacing = gap.count() == 0 ? "back to back" : "20 ms apart";
    // The engines take turns over rounds of the same keys, so that a slow spell of a shared
    // machine falls on all of them alike.
    std::vector<std::vector<double>> pooled(std::size(variants));
    QString commits;
    std::vector<double> fcitx5;
    QString fcitx5Commits;
    long fcitx5Resident = -1;
    for (std::size_t round = 0; round < kRounds; ++round) {
      const std::size_t from = round * count / kRounds;
      const std::size_t to = (round + 1) * count / kRounds;
      const std::string slice = text.substr(0, warmUp) + text.substr(warmUp + from, to - from);
      for (std::size_t v = 0; v < std::size(variants); ++v) {
        const std::optional<Figures> figures = typeThroughDaemon(
            variants[v].folder, variants[v].engine, slice, warmUp, gap, variants[v].caret);
        if (!figures) return 1;
        pooled[v].insert(pooled[v].end(), figures->times.begin(), figures->times.end());
        if (round == 0 && v == 0) commits = figures->commits;
      }
      const std::optional<Figures> figures = typeThroughFcitx5(slice, warmUp, gap);
      if (!figures) return 1;
      fcitx5.insert(fcitx5.end(), figures->times.begin(), figures->times.end());
      if (round == 0) fcitx5Commits = figures->commits;
      fcitx5Resident = figures->residentKiB;
    }
    for (std::size_t v = 0; v < std::size(variants); ++v) {
      report((std::string(variants[v].label) + ", " + spacing + ":").c_str(), pooled[v]);
      if (v == 0 && gap.count() == 0) std::printf("  its first commits: %s\n", qPrintable(commits));
    }
    report((std::string("tolvani through fcitx5, ") + spacing + ":").c_str(), fcitx5);
    if (gap.count() == 0) std::printf("  its first commits: %s\n", qPrintable(fcitx5Commits));
    std::printf("  the program's resident size after its last round: %.1f MB\n",
                static_cast<double>(fcitx5Resident) / 1024.0);
  }
  for (const std::chrono::milliseconds pause : {std::chrono::milliseconds(0), kFirstKeyPause}) {
    const char* when = pause.count() == 0 ? "as the engine is selected" : "300 ms after selection";
    reportFirstKeys((std::string("tolvani, first key ") + when + ":").c_str(), components,
                    "tolvani", pause, firstKeyRuns);
    reportFirstKeys((std::string("no-work engine, Qt loop, first key ") + when + ":").c_str(),
                    qtFolder.path(), "nowork", pause, firstKeyRuns);
  }
  // Each run starts from the same file: the program writes the dictionary back as it ends.
  QTemporaryDir largest;
  qputenv("TOLVANI_DATA_DIR", largest.path().toUtf8());
  const std::string dictionary = tolvani::bench::userDictionary(tolvani::bench::kLargestWords,
                                                                tolvani::bench::kLargestTombstones,
                                                                tolvani::bench::kLargestWordBytes);
  const auto placeDictionary = [&] {
    QFile file(largest.filePath(QStringLiteral("user-dictionary.json")));
    return file.open(QIODevice::WriteOnly) &&
           file.write(dictionary.data(), static_cast<qint64>(dictionary.size())) ==
               static_cast<qint64>(dictionary.size());
  };
  std::printf("over the largest user dictionary (%.1f MB):\n",
              static_cast<double>(dictionary.size()) / 1e6);
  for (const std::chrono::milliseconds pause : {std::chrono::milliseconds(0), kFirstKeyPause}) {
    std::vector<TakenKey> taken;
    for (int i = 0; i < firstKeyRuns; ++i) {
      if (!placeDictionary()) return 1;
      if (const std::optional<TakenKey> t = firstKey(components, "tolvani", pause, true)) {
        taken.push_back(*t);
      }
    }
    reportTaken(pause.count() == 0 ? "  tolvani, first key as the engine is selected"
                                   : "  tolvani, first key 300 ms after selection",
                taken, firstKeyRuns);
  }
  return 0;
}
