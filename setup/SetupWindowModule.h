// The seam between the program and the setup window's module (setup/onboarding/): the one C
// function the module exports and the table of entry points it answers. The module is built with
// the program and takes what it uses of the program's libraries from the program, so the table is
// fixed only within one build; a module of another build is refused by its size and build string.
// Thread-safety: the entry points are the window's, main thread only.
#ifndef TOLVANI_SETUP_SETUPWINDOWMODULE_H_
#define TOLVANI_SETUP_SETUPWINDOWMODULE_H_

#include <QString>
#include <cstddef>
#include <functional>

class QWidget;

namespace tolvani {

struct SetupWindowModule {
  // sizeof(SetupWindowModule) and the project's version, as the module was built.
  std::size_t size;
  const char* build;
  // OnboardingWindowController's entry points: show(), offer(), showTour(), refreshShown(), and
  // its openers and close observer, set together.
  void (*show)();
  void (*offer)();
  void (*showTour)();
  void (*refresh)();
  void (*setOpeners)(std::function<void()> preferences, std::function<void()> shortcutEditor,
                     std::function<void()> help, std::function<void()> closed);
  // The guide page's shown buttons in `view` (a web view of the window), as TestWindowReport
  // writes them: one "action \t chapter \t text \t x \t y \t width \t height" line each, in the
  // page's coordinates, as last asked; asks again. Its status line comes as "#phase", each setup
  // row as "row-<step>" with its state in the chapter's place.
  QString (*testPageButtons)(QWidget* view);
};

}  // namespace tolvani

// Name of the function, resolved after loading the module.
#define TOLVANI_SETUP_WINDOW_ENTRY "tolvani_setup_window_module"
extern "C" const tolvani::SetupWindowModule* tolvani_setup_window_module();

#endif  // TOLVANI_SETUP_SETUPWINDOWMODULE_H_
