// Types text into a real GTK text field through the installed Tolvani, on a virtual X display
// with a private D-Bus session and IBus daemon and a throwaway profile, and prints what the field
// holds: a try of the input method on a machine with no desktop session.
//   tolvani-try [TEXT...]   the words typed as one line; with none, each line of standard input
//                           (or, from a terminal, "ami tomake bhalobashi. kemon acho? ")
// A line that does not end in a space gets one, which commits its last word.
#include <unistd.h>

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <iostream>
#include <string>

#include "ime/testing/VirtualDesktop.h"

namespace {

using tolvani::testing::TextWindow;
using tolvani::testing::VirtualDesktop;

int fail(const QString& message) {
  std::fprintf(stderr, "tolvani-try: %s\n", message.toUtf8().constData());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList lines;
  const QStringList words = app.arguments().mid(1);
  if (!words.isEmpty()) {
    lines << words.join(u' ');
    if (lines.first().trimmed().isEmpty()) {
      std::fprintf(stderr, "tolvani-try: nothing to type: the text is empty\n");
      return 2;
    }
  } else if (::isatty(STDIN_FILENO) == 0) {
    for (std::string line; std::getline(std::cin, line);) lines << QString::fromStdString(line);
  }
  if (lines.isEmpty()) lines << QStringLiteral("ami tomake bhalobashi. kemon acho? ");
  for (const QString& line : lines) {
    for (const QChar c : line) {
      if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
        return fail(QStringLiteral("only printable ASCII is typed as keys: ") + line);
      }
    }
  }

  // The components IBus itself reads: the installed package's.
  VirtualDesktop desktop{QString(), /*quiet=*/true};
  if (!desktop.ready()) return fail(desktop.failure());
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3,
                                    {QStringLiteral("--title"), QStringLiteral("tolvani-try")});
  if (!window) return fail(desktop.failure());
  if (!desktop.focus(*window, 0)) return fail(QStringLiteral("the text field took no focus"));
  if (!desktop.selectEngine("tolvani")) {
    return fail(QStringLiteral("IBus offers no Tolvani engine: is the package installed?"));
  }
  const bool active = desktop.ibus().waitFor([&] {
    for (const QString& event : desktop.ibus().events()) {
      if (event.startsWith(QLatin1String("activate "))) return true;
    }
    return false;
  });
  if (!active) return fail(QStringLiteral("the Tolvani engine did not start"));

  for (const QString& line : lines) {
    if (line.isEmpty()) {
      std::printf("\n");
      continue;
    }
    QString keys = line;
    if (!keys.endsWith(u' ')) keys += u' ';
    if (!desktop.type(keys)) return fail(QStringLiteral("xdotool could not type"));
    // The field has settled when its text stops changing after the last key.
    QString now = window->text(0);
    for (int quiet = 0; quiet < 10;) {
      window->waitForText(0, QStringLiteral("\x01"), 100);
      const QString next = window->text(0);
      quiet = next == now ? quiet + 1 : 0;
      now = next;
    }
    std::printf("%s\n", now.toUtf8().constData());
    std::fflush(stdout);
    // An empty field for the next line.
    if (!window->clear()) {
      return fail(QStringLiteral("the field could not be emptied"));
    }
  }
  return 0;
}
