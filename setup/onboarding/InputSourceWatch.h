// Desktop changes the setup window follows: the IBus daemon or fcitx5 coming or going, IBus's
// global engine and the settings that list the user's input sources (GNOME's and IBus's), or the
// desktop's animation setting. fcitx5 5.0.21 signals no change of its groups or input method. The
// callback runs on the main thread, from the GLib main context Qt serves. Thread-safety: main
// thread only.
#ifndef TOLVANI_SETUP_ONBOARDING_INPUTSOURCEWATCH_H_
#define TOLVANI_SETUP_ONBOARDING_INPUTSOURCEWATCH_H_

#include <functional>
#include <memory>

namespace tolvani {

class InputSourceWatch {
 public:
  ~InputSourceWatch();
  InputSourceWatch(const InputSourceWatch&) = delete;
  InputSourceWatch& operator=(const InputSourceWatch&) = delete;

  // The session's daemons, IBus's current engine and the lists of input sources.
  static std::unique_ptr<InputSourceWatch> forInputSources(std::function<void()> changed);
  // The desktop's "enable animations" setting.
  static std::unique_ptr<InputSourceWatch> forMotionSetting(std::function<void()> changed);

  // True when the desktop asks for no animations.
  static bool reduceMotion();

 private:
  InputSourceWatch() = default;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_ONBOARDING_INPUTSOURCEWATCH_H_
