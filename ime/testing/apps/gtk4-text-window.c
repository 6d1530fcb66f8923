// A GTK 4 window with text fields, typed into through GTK's own input-method module, for tests
// that drive it with X key events. It writes the same reports as gtk-text-window.c:
//   "field <i> <x> <y> <width> <height>", "window <id>", "ready", "focus <i>", "blur <i>",
//   "text <i>\t<text>", "preedit <i>\t<text>" (a line break written "\n", a backslash "\\"),
// and reads the same requests from standard input ("clear").
// Options: --fields N (0 shows a window with no field), --title TEXT, --multiline (text views, as
// in an editor, instead of one-line entries). GTK 4 cannot place a window itself.
#include <X11/Xlib.h>
#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gtk-report.h"

typedef struct {
  GtkWidget* window;
  GtkWidget** fields;
  int count;
  gboolean multiline;
  gboolean reported;
  gboolean done;
} App;

static void report_text(GtkEditable* editable, gpointer index) {
  report("text", GPOINTER_TO_INT(index), gtk_editable_get_text(editable));
}

static void report_buffer(GtkTextBuffer* buffer, gpointer index) {
  GtkTextIter start;
  GtkTextIter end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  report("text", GPOINTER_TO_INT(index), text);
  g_free(text);
}

static void report_preedit(GtkWidget* field, gchar* preedit, gpointer index) {
  (void)field;
  report("preedit", GPOINTER_TO_INT(index), preedit);
}

static void report_focus(GtkEventControllerFocus* focus, gpointer index) {
  (void)focus;
  printf("focus %d\n", GPOINTER_TO_INT(index));
  fflush(stdout);
}

static void report_blur(GtkEventControllerFocus* focus, gpointer index) {
  (void)focus;
  printf("blur %d\n", GPOINTER_TO_INT(index));
  fflush(stdout);
}

static gboolean read_request(GIOChannel* channel, GIOCondition condition, gpointer data) {
  App* app = data;
  gchar* line = NULL;
  if ((condition & G_IO_IN) &&
      g_io_channel_read_line(channel, &line, NULL, NULL, NULL) == G_IO_STATUS_NORMAL) {
    if (g_strcmp0(g_strstrip(line), "clear") == 0) {
      for (int i = 0; i < app->count; ++i) {
        if (app->multiline) {
          gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(app->fields[i])), "", -1);
        } else {
          gtk_editable_set_text(GTK_EDITABLE(app->fields[i]), "");
        }
      }
    }
    g_free(line);
    return G_SOURCE_CONTINUE;
  }
  g_free(line);
  return G_SOURCE_REMOVE;  // standard input ended
}

// The places are known once the window's surface is mapped and laid out. GTK 4 tells no window
// its place on the screen: X does.
static gboolean report_places(gpointer data) {
  App* app = data;
  if (app->reported) return G_SOURCE_REMOVE;
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(app->window));
  if (!surface || !gdk_surface_get_mapped(surface) || !gtk_widget_get_mapped(app->window) ||
      (app->count > 0 && gtk_widget_get_width(app->fields[0]) == 0)) {
    return G_SOURCE_CONTINUE;
  }
  Display* display = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
  const Window xid = gdk_x11_surface_get_xid(surface);
  int x = 0;
  int y = 0;
  Window child;
  XTranslateCoordinates(display, xid, DefaultRootWindow(display), 0, 0, &x, &y, &child);
  double sx = 0;
  double sy = 0;
  gtk_native_get_surface_transform(GTK_NATIVE(app->window), &sx, &sy);
  for (int i = 0; i < app->count; ++i) {
    double fx = 0;
    double fy = 0;
    gtk_widget_translate_coordinates(app->fields[i], app->window, 0, 0, &fx, &fy);
    printf("field %d %d %d %d %d\n", i, x + (int)(sx + fx), y + (int)(sy + fy),
           gtk_widget_get_width(app->fields[i]), gtk_widget_get_height(app->fields[i]));
  }
  app->reported = TRUE;
  printf("window %lu\nready\n", (unsigned long)xid);
  fflush(stdout);
  return G_SOURCE_REMOVE;
}

static gboolean close_request(GtkWindow* window, gpointer data) {
  (void)window;
  ((App*)data)->done = TRUE;
  return FALSE;
}

int main(int argc, char** argv) {
  gtk_init();
  App app = {0};
  app.count = 1;
  const char* title = "Tolvani GTK 4 test";
  for (int i = 1; i < argc; ++i) {
    const int more = i + 1 < argc;
    if (more && strcmp(argv[i], "--fields") == 0) {
      app.count = atoi(argv[++i]);
    } else if (more && strcmp(argv[i], "--title") == 0) {
      title = argv[++i];
    } else if (strcmp(argv[i], "--multiline") == 0) {
      app.multiline = TRUE;
    } else {
      fprintf(stderr, "usage: %s [--fields N] [--title TEXT] [--multiline]\n", argv[0]);
      return 2;
    }
  }
  if (app.count < 0 || app.count > 8) app.count = 1;
  app.window = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(app.window), title);
  gtk_window_set_default_size(GTK_WINDOW(app.window), 480, -1);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_widget_set_margin_start(box, 12);
  gtk_widget_set_margin_end(box, 12);
  gtk_widget_set_margin_top(box, 12);
  gtk_widget_set_margin_bottom(box, 12);
  gtk_window_set_child(GTK_WINDOW(app.window), box);
  app.fields = g_new0(GtkWidget*, app.count > 0 ? app.count : 1);
  if (app.count == 0) gtk_box_append(GTK_BOX(box), gtk_label_new("No text field"));
  for (int i = 0; i < app.count; ++i) {
    if (app.multiline) {
      app.fields[i] = gtk_text_view_new();
      gtk_widget_set_size_request(app.fields[i], -1, 64);
      g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(app.fields[i])), "changed",
                       G_CALLBACK(report_buffer), GINT_TO_POINTER(i));
    } else {
      app.fields[i] = gtk_entry_new();
      g_signal_connect(app.fields[i], "changed", G_CALLBACK(report_text), GINT_TO_POINTER(i));
    }
    // An entry's composition is its inner text widget's.
    GtkWidget* editor = app.multiline
                            ? app.fields[i]
                            : GTK_WIDGET(gtk_editable_get_delegate(GTK_EDITABLE(app.fields[i])));
    g_signal_connect(editor, "preedit-changed", G_CALLBACK(report_preedit), GINT_TO_POINTER(i));
    GtkEventController* focus = gtk_event_controller_focus_new();
    g_signal_connect(focus, "enter", G_CALLBACK(report_focus), GINT_TO_POINTER(i));
    g_signal_connect(focus, "leave", G_CALLBACK(report_blur), GINT_TO_POINTER(i));
    gtk_widget_add_controller(app.fields[i], focus);
    gtk_box_append(GTK_BOX(box), app.fields[i]);
  }
  g_signal_connect(app.window, "close-request", G_CALLBACK(close_request), &app);
  gtk_window_present(GTK_WINDOW(app.window));
  g_timeout_add(50, report_places, &app);
  GIOChannel* requests = g_io_channel_unix_new(0);
  g_io_add_watch(requests, G_IO_IN | G_IO_HUP | G_IO_ERR, read_request, &app);
  while (!app.done) g_main_context_iteration(NULL, TRUE);
  g_free(app.fields);
  return 0;
}
