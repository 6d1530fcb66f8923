// Resident memory of the process that serves IBus: the built tolvani program, started by a private
// ibus-daemon, after KEYS keys of phonetic text typed through a test client, once more after its
// input menu opened the setup window and the guide page came up, after the window was closed as a
// window manager closes it, and after CYCLES more openings and closings. Beside the first figure,
// the same for the process that serves fcitx5: the program the build's addon starts in a private
// fcitx5 daemon (Debian's), after the same keys typed at a client of fcitx5's D-Bus interface as
// GTK's and Qt's fcitx5 modules are; the two side by side. Each figure is split by
// what holds it: the program and its engine, Qt, the web engine with Qt Quick and QML, graphics
// drivers, other libraries, and memory that maps no file (heaps, stacks); the setup window's own
// process, and the web engine helper processes it starts, are counted apart (the helpers with
// their proportional share, PSS).
//
//   typing_memory [KEYS [CYCLES]]   KEYS keys before the first figure (default 100), CYCLES
//                                   openings and closings after the first (default 5)
//
// The program shows its windows on the X display DISPLAY names or, when it names none, on a
// virtual one of its own (Xvfb); built without the desktop tests and with no DISPLAY it draws
// offscreen, where no window can be closed from outside, and stops once the window is open.
// TOLVANI_BENCH_COMPONENT_DIR names another folder of the tolvani component (an installed
// program).
#include <ibus.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fcitx5_client.h"
#include "ime/testing/Fcitx5DaemonHarness.h"
#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/ProcessMemory.h"
#ifdef TOLVANI_VIRTUAL_DESKTOP
#include "ime/testing/VirtualDesktop.h"
#endif
#include "typed_keys.h"

// Last: its macros (Bool, Status) clash with Qt's headers.
#include <X11/Xlib.h>

namespace {

using tolvani::testing::IBusDaemonHarness;
using tolvani::testing::TestInputContext;
using tolvani::testing::usKey;

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

const QString kHelper = QStringLiteral("QtWebEngineProcess");

// Proportional set size of process `pid` in KiB; 0 when it cannot be read.
long pssKiB(qint64 pid) {
  QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (line.startsWith("Pss:")) return line.mid(4).trimmed().split(' ').value(0).toLong();
  }
  return 0;
}

// Prints the figures of process `pid`; its resident KiB.
long report(const char* when, qint64 pid) {
  std::map<std::string, long> groups;
  for (const auto& [path, kib] : tolvani::testing::residentKiBByFile(pid))
    groups[groupOf(path)] += kib;
  const long resident = tolvani::testing::residentKiB(pid);
  std::printf("%s: resident %.1f MB (PSS %.1f MB)\n", when, resident / 1024.0,
              pssKiB(pid) / 1024.0);
  for (const auto& [group, kib] : groups)
    std::printf("  %-32s %7.1f MB\n", group.c_str(), kib / 1024.0);
  if (const qint64 window = tolvani::testing::setupWindowProcess(pid))
    std::printf("  the setup window's process: resident %.1f MB (PSS %.1f MB)\n",
                tolvani::testing::residentKiB(window) / 1024.0, pssKiB(window) / 1024.0);
  long helpersPss = 0;
  const QStringList helpers = tolvani::testing::descendants(pid, kHelper);
  for (const QString& helper : helpers)
    helpersPss += pssKiB(helper.section(u' ', 0, 0).toLongLong());
  std::printf("  %lld web engine helper processes, PSS %.1f MB together\n",
              static_cast<long long>(helpers.size()), helpersPss / 1024.0);
  std::fflush(stdout);
  return resident;
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool guideShown(const QString& report) { return readAll(report).contains("\npage\t"); }

// The X id of the shown setup window, as the program reports it; 0 when none is shown.
unsigned long setupWindow(const QString& report) {
  for (const QByteArray& line : readAll(report).split('\n')) {
    const QList<QByteArray> fields = line.split('\t');
    if (fields.value(0) == "window" &&
        (fields.value(3) == "Keyboard Setup" || fields.value(3) == "কীবোর্ড সেটআপ"))
      return fields.value(4).toULong();
  }
  return 0;
}

// Asks window `id` to close, as a window manager's close button does.
bool closeWindow(const QString& display, unsigned long id) {
  Display* x = XOpenDisplay(display.toLatin1().constData());
  if (!x) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = id;
  event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(x, id, False, NoEventMask, &event) != 0;
  XSync(x, False);
  XCloseDisplay(x);
  return sent;
}

// Types `text` through a private fcitx5 daemon on `display` and reports the resident memory of
// the program serving it; its resident KiB, -1 when it could not type.
long typeThroughFcitx5(const std::string& text, const QString& display) {
  tolvani::testing::Fcitx5DaemonHarness::Options options;
  options.addons = {QStringLiteral("dbus"), QStringLiteral("dbusfrontend"),
                    QStringLiteral("keyboard")};
  options.display = display;
  options.quiet = true;
  tolvani::testing::Fcitx5DaemonHarness harness(options);
  if (!harness.ready()) {
    std::fprintf(stderr, "no fcitx5: %s\n", qPrintable(harness.failure()));
    return -1;
  }
  tolvani::bench::Fcitx5Client client(harness.sessionBusAddress());
  if (!client.open() || !client.reachTolvani()) return -1;
  const qsizetype words = std::count(text.begin(), text.end(), ' ');
  for (const char c : text) client.sendKey(static_cast<unsigned char>(c), usKey(c).first + 8);
  if (!harness.waitFor([&] { return client.commits >= words; })) {
    std::fprintf(stderr, "%d of %lld words committed through fcitx5\n", client.commits,
                 static_cast<long long>(words));
    return -1;
  }
  // A person's pause, for the candidate list that waits for one.
  tolvani::testing::waitUntil([] { return false; }, 100);
  return report(("serving fcitx5, after " + std::to_string(text.size()) + " keys").c_str(),
                harness.tolvaniPid());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 5;
  QString components = qEnvironmentVariable("TOLVANI_BENCH_COMPONENT_DIR");
  if (components.isEmpty()) components = QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR);

  QTemporaryDir folder;
  const QString windows = folder.path() + QStringLiteral("/windows.txt");
  IBusDaemonHarness::Options options;
  options.componentFolder = components;
  options.quiet = true;
  options.environment = {QStringLiteral("TOLVANI_TEST_WINDOWS=") + windows};
  QString display = qEnvironmentVariable("DISPLAY");
  std::unique_ptr<IBusDaemonHarness> own;
#ifdef TOLVANI_VIRTUAL_DESKTOP
  std::unique_ptr<tolvani::testing::VirtualDesktop> desktop;
  if (display.isEmpty()) {
    desktop = std::make_unique<tolvani::testing::VirtualDesktop>(options, QSize(1280, 800));
    if (!desktop->ready()) {
      std::fprintf(stderr, "no virtual display: %s\n", qPrintable(desktop->failure()));
      return 1;
    }
    display = desktop->display();
  }
  IBusDaemonHarness& harness = desktop ? desktop->ibus() : *(own = [&] {
    options.display = display;
    return std::make_unique<IBusDaemonHarness>(options);
  }());
#else
  options.display = display;
  own = std::make_unique<IBusDaemonHarness>(options);
  IBusDaemonHarness& harness = *own;
#endif
  if (!harness.ready()) {
    std::fprintf(stderr, "no daemon: %s\n", qPrintable(harness.failure()));
    return 1;
  }
  std::printf("display: %s\n", display.isEmpty() ? "none (offscreen)" : qPrintable(display));
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
  const long ibusKiB = report(("after " + std::to_string(count) + " keys").c_str(), pid);
  const long fcitx5KiB = typeThroughFcitx5(text, display);
  if (fcitx5KiB < 0) return 1;
  std::printf("after %zu keys, resident: %.1f MB serving IBus, %.1f MB serving fcitx5\n", count,
              ibusKiB / 1024.0, fcitx5KiB / 1024.0);

  context.activateProperty("openKeyboardSetup");
  if (!harness.waitFor([&] { return guideShown(windows); })) {
    std::fprintf(stderr, "the setup window's guide page did not come up\n");
    return 1;
  }
  harness.settleAfterPause();
  report("with the setup window open", pid);
  if (display.isEmpty()) {
    std::printf("no X display: the window cannot be closed from outside\n");
    return 0;
  }

  // Closes the window and waits for its helpers to go (up to 30 s), and at least 5 s; false when
  // the window was not closed.
  const auto closeAndWait = [&]() -> bool {
    const unsigned long id = setupWindow(windows);
    if (id == 0 || !closeWindow(display, id) ||
        !harness.waitFor([&] { return setupWindow(windows) == 0; })) {
      std::fprintf(stderr, "the setup window did not close\n");
      return false;
    }
    QElapsedTimer gone;
    gone.start();
    if (tolvani::testing::waitUntil(
            [&] {
              return tolvani::testing::descendants(pid, kHelper).isEmpty() &&
                     tolvani::testing::setupWindowProcess(pid) == 0;
            },
            30000))
      std::printf("(helpers gone %lld ms after the close)\n",
                  static_cast<long long>(gone.elapsed()));
    else
      std::printf("(helpers still running 30 s after the close)\n");
    // The figures 5 s after the close.
    tolvani::testing::waitUntil([] { return false; },
                                std::max(0, 5000 - static_cast<int>(gone.elapsed())));
    harness.settle();
    return true;
  };
  if (!closeAndWait()) return 1;
  report("after closing the setup window", pid);
  for (int cycle = 0; cycle < cycles; ++cycle) {
    context.activateProperty("openKeyboardSetup");
    if (!harness.waitFor([&] { return setupWindow(windows) != 0 && guideShown(windows); })) {
      std::fprintf(stderr, "the setup window's guide page did not come up again\n");
      return 1;
    }
    if (!closeAndWait()) return 1;
  }
  report(("after " + std::to_string(cycles) + " more openings and closings").c_str(), pid);
  return 0;
}
