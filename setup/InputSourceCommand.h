// Command mode: with "--enable-input-source", "--refresh-input-menu", "--select-input-source" or
// "--input-source-state" among its arguments, the program runs those input-source steps (in that
// order), prints one line per step and exits without any user interface. Runs on the main thread
// before any event loop; blocks it during the pauses between retries.
#ifndef TOLVANI_SETUP_INPUTSOURCECOMMAND_H_
#define TOLVANI_SETUP_INPUTSOURCECOMMAND_H_

#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdio>
#include <optional>

namespace tolvani {

class InputSourceCommand {
 public:
  // The exit status when `arguments` (the program path first) hold a command flag; nullopt
  // otherwise, with nothing printed. Lines go to `out` and `err`.
  static std::optional<int> run(const QStringList& arguments, const QUrl& bundleURL,
                                const std::optional<QString>& bundleID, std::FILE* out = stdout,
                                std::FILE* err = stderr);

  // run() for the process's own arguments and bundle: the installed IBus component that starts
  // this program (its file and its name); none when no installed component starts it.
  static std::optional<int> runIfRequested(int argc, char** argv);
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_INPUTSOURCECOMMAND_H_
