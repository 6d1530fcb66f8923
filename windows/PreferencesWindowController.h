// The settings window: one per process, made on first use and kept (closing hides it), centred
// once when it is made. Every opening puts a fresh root view in it, read from the store in the
// current interface language, sets the title again and brings the window to the front.
// Thread-safety: main thread only.
#ifndef TOLVANI_WINDOWS_PREFERENCESWINDOWCONTROLLER_H_
#define TOLVANI_WINDOWS_PREFERENCESWINDOWCONTROLLER_H_

#include <memory>

class QWidget;

namespace tolvani {

class SettingsRootView;

class PreferencesWindowController {
 public:
  static PreferencesWindowController& shared();

  PreferencesWindowController(const PreferencesWindowController&) = delete;
  PreferencesWindowController& operator=(const PreferencesWindowController&) = delete;

  void showWindow();
  // The window; owned by the controller, hidden (never destroyed) when closed.
  QWidget* window() const { return window_.get(); }
  // The root view of the latest opening, null before the first; owned by the window.
  SettingsRootView* rootView() const { return rootView_; }

 private:
  PreferencesWindowController();
  ~PreferencesWindowController();

  std::unique_ptr<QWidget> window_;
  SettingsRootView* rootView_ = nullptr;
};

}  // namespace tolvani

#endif  // TOLVANI_WINDOWS_PREFERENCESWINDOWCONTROLLER_H_
