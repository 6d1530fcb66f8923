#include "app/DisplayWatch.h"

#include <glib.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <utility>

namespace tolvani::DisplayWatch {
namespace {

xcb_connection_t* display = nullptr;
void (*leaving)() = nullptr;

struct Source {
  GSource source;
  xcb_connection_t* connection;
};

gboolean broken(GSource* source) {
  return xcb_connection_has_error(reinterpret_cast<Source*>(source)->connection) != 0;
}

gboolean brokenBeforePoll(GSource* source, gint* timeout) {
  *timeout = -1;
  return broken(source);
}

gboolean leave(GSource*, GSourceFunc, gpointer) {
  if (leaving) leaving();
  return G_SOURCE_REMOVE;
}

GSourceFuncs functions = {brokenBeforePoll, broken, leave, nullptr, nullptr, nullptr};

}  // namespace

void start(void (*leave)()) {
  static bool watching = false;
  leaving = leave;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) return;
  display = x11->connection();
  if (std::exchange(watching, true)) return;
  GSource* source = g_source_new(&functions, sizeof(Source));
  reinterpret_cast<Source*>(source)->connection = display;
  g_source_set_priority(source, G_PRIORITY_HIGH);
  // The main thread's loop turns the default context.
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

bool lost() { return display && xcb_connection_has_error(display) != 0; }

void forget() { display = nullptr; }

}  // namespace tolvani::DisplayWatch
