// Tolvani as an IBus input method: the engine factory under the component's bus name, the engine
// object the daemon shares among input contexts, and one input controller per context, keyed by
// the context's object path. Thread-safety: main thread only (IBus is served by the main
// thread's event loop through GLib).
#ifndef TOLVANI_IME_IBUS_IBUSFRONTEND_H_
#define TOLVANI_IME_IBUS_IBUSFRONTEND_H_

#include <QString>
#include <QStringList>

namespace tolvani::IBusFrontEnd {

// "org.freedesktop.IBus.Tolvani": the component's bus name.
const QString& busName();
// "tolvani": the engine's name.
const QString& engineName();

// Connects to the IBus daemon and serves the engine. `startedByDaemon`: the daemon ran the
// program from the component file (with "--ibus") and waits for the bus name; otherwise the
// program registers its component itself, naming `executable` to start it. Returns false, after
// one log line, when no daemon answers. When the daemon goes away the application quits.
bool start(bool startedByDaemon, const QString& executable);

// Ends every controller, with its engine session and panel, while the application still exists;
// the program calls it on its way out. Nothing is sent to IBus.
void stop();

// Input contexts with a controller, by object path, in the order they first had the focus.
QStringList contextPaths();

}  // namespace tolvani::IBusFrontEnd

#endif  // TOLVANI_IME_IBUS_IBUSFRONTEND_H_
