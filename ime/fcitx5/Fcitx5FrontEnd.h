// Tolvani as an fcitx5 input method, the program's half: it listens on the socket the addon in
// fcitx5's process connects to (Fcitx5Protocol.h), and keeps one input controller per fcitx5
// input context of each connection, as the IBus face does per IBus context. Thread-safety: main
// thread only.
#ifndef TOLVANI_IME_FCITX5_FCITX5FRONTEND_H_
#define TOLVANI_IME_FCITX5_FCITX5FRONTEND_H_

namespace tolvani::Fcitx5FrontEnd {

// Listens for the addon. False, after one log line, when another Tolvani serves the socket or it
// cannot be made.
bool start();

// Ends every controller, with its engine session, and stops listening; the program calls it on
// its way out.
void stop();

}  // namespace tolvani::Fcitx5FrontEnd

#endif  // TOLVANI_IME_FCITX5_FCITX5FRONTEND_H_
