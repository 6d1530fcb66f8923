// Resident memory of the process that serves IBus: the built tolvani program, started by a private
// ibus-daemon, after KEYS keys of phonetic text typed through a test client, and once more after
// its input menu opened the setup window and the guide page came up. Each figure is split by what
// holds it: the program and its engine, Qt, the web engine with Qt Quick and QML, graphics
// drivers, other libraries, and memory that maps no file (heaps, stacks).
//
//   typing_memory [KEYS]   KEYS keys before the first figure (default 100)
//
// The program draws offscreen unless DISPLAY names an X display, where it shows its windows as on
// a desktop. TOLVANI_BENCH_COMPONENT_DIR names another folder of the tolvani component (an
// installed program).
#include <ibus.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/ProcessMemory.h"
#include "typed_keys.h"

namespace {

using tolvani::testing::IBusDaemonHarness;
using tolvani::testing::TestInputContext;

std::string keys(std::size_t count) { return tolvani::bench::typedKeys(count); }

// The group a mapped file's resident pages are counted under.
const char* groupOf(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  if (path == QLatin1String("[anonymous]")) return "no file (heaps, stacks)";
  if (name == QLatin1String("tolvani") || name.startsWith(QLatin1String("libtolvani_engine")))
    return "the program and its engine";
  if (name.startsWith(QLatin1String("libQt6WebEngine")) ||
      name.startsWith(QLatin1String("libQt6Quick")) ||
      name.startsWith(QLatin1String("libQt6Qml")) ||
      name.startsWith(QLatin1String("libtolvani_setup_window")))
    return "web engine, Qt Quick and QML";
  if (name.startsWith(QLatin1String("libQt6"))) return "Qt (the rest)";
  if (name.startsWith(QLatin1String("libGL")) || name.startsWith(QLatin1String("libEGL")) ||
      name.startsWith(QLatin1String("libLLVM")) || name.startsWith(QLatin1String("libgallium")) ||
      name.startsWith(QLatin1String("libglapi")) || name.startsWith(QLatin1String("libdrm")) ||
      name.endsWith(QLatin1String("_dri.so")))
    return "graphics drivers (GL)";
  if (name.startsWith(QLatin1String("libicu"))) return "ICU";
  return "other libraries and files";
}

void report(const char* when, qint64 pid) {
  std::map<std::string, long> groups;
  for (const auto& [path, kib] : tolvani::testing::residentKiBByFile(pid))
    groups[groupOf(path)] += kib;
  std::printf("%s: resident %.1f MB\n", when, tolvani::testing::residentKiB(pid) / 1024.0);
  for (const auto& [group, kib] : groups)
    std::printf("  %-32s %7.1f MB\n", group.c_str(), kib / 1024.0);
  std::fflush(stdout);
}

bool guideShown(const QString& report) {
  QFile file(report);
  if (!file.open(QIODevice::ReadOnly)) return false;
  return file.readAll().contains("\npage\t");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  QString components = qEnvironmentVariable("TOLVANI_BENCH_COMPONENT_DIR");
  if (components.isEmpty()) components = QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR);

  QTemporaryDir folder;
  const QString windows = folder.path() + QStringLiteral("/windows.txt");
  IBusDaemonHarness::Options options;
  options.componentFolder = components;
  options.display = qEnvironmentVariable("DISPLAY");
  options.quiet = true;
  options.environment = {QStringLiteral("TOLVANI_TEST_WINDOWS=") + windows};
  IBusDaemonHarness harness(options);
  if (!harness.ready()) {
    std::fprintf(stderr, "no daemon: %s\n", qPrintable(harness.failure()));
    return 1;
  }
  TestInputContext context(harness, "bench");
  context.focusIn();
  context.setCursorLocation(100, 200, 1, 18);
  context.selectEngine("tolvani");
  if (!harness.waitFor(
          [&] { return harness.events().contains("activate " + context.objectPath()); })) {
    std::fprintf(stderr, "the program did not take the context\n");
    return 1;
  }
  const std::string text = keys(count);
  const qsizetype words = std::count(text.begin(), text.end(), ' ');
  for (const char c : text) {
    const auto [keycode, shift] = tolvani::testing::usKey(c);
    tolvani::testing::press(context, c == ' ' ? IBUS_KEY_space : static_cast<unsigned char>(c),
                            keycode, shift ? IBUS_SHIFT_MASK : 0);
  }
  if (!harness.waitFor([&] { return context.commits.size() >= words; })) {
    std::fprintf(stderr, "%lld of %lld words committed\n",
                 static_cast<long long>(context.commits.size()), static_cast<long long>(words));
    return 1;
  }
  harness.settleAfterPause();
  const qint64 pid = tolvani::testing::servingProcess(harness);
  if (pid == 0) {
    std::fprintf(stderr, "no tolvani --ibus serves the daemon\n");
    return 1;
  }
  report(("after " + std::to_string(count) + " keys").c_str(), pid);

  context.activateProperty("openKeyboardSetup");
  if (!harness.waitFor([&] { return guideShown(windows); })) {
    std::fprintf(stderr, "the setup window's guide page did not come up\n");
    return 1;
  }
  harness.settleAfterPause();
  report("with the setup window open", pid);
  return 0;
}
