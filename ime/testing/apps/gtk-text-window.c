// A GTK 3 window with text fields, typed into through GTK's own input-method module, for tests
// that drive it with X key events. Every line it writes to standard output is one report:
//   "field <i> <x> <y> <width> <height>"  a field's place on the screen, once it is shown
//   "window <id>"                         the window's X id, after the places
//   "ready"                               after the id
//   "focus <i>"                           a field got the keyboard focus
//   "blur <i>"                            a field lost it
//   "text <i>\t<text>"                    a field's whole text, after every change
//   "preedit <i>\t<text>"                 the composition the field shows, after every change
//   "selection <i> <start> <end>"         the selection (or the caret, start = end), in
//                                         characters, after every change
//   "at <i> <index> <x> <y>"              answers "where": the screen point at the left edge of
//                                         the field's character <index>, halfway down its line
// In the texts a line break is written "\n" and a backslash "\\".
// It reads requests from standard input, one a line: "clear" empties every field; "where <i>
// <index>" asks for a character's place (text views only).
// Options: --fields N (0 shows a window with no field), --title TEXT, --x X --y Y (its place),
// --multiline (text views, as in an editor, instead of one-line entries), --password (entries
// whose purpose is a password; their text shows, as GTK keeps an entry that hides its text away
// from the input method), --hidden-password (the last entry is a password field hiding its text).
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gtk-report.h"

typedef struct {
  int start;
  int end;
} Shown;

typedef struct {
  GtkWidget* window;
  GtkWidget** fields;
  int count;
  gboolean multiline;
  gboolean reported;
  Shown* selections;
} App;

static App* the_app;

static void report_selection(int index, int start, int end) {
  Shown* shown = &the_app->selections[index];
  if (shown->start == start && shown->end == end) return;
  shown->start = start;
  shown->end = end;
  printf("selection %d %d %d\n", index, start, end);
  fflush(stdout);
}

static void buffer_mark_set(GtkTextBuffer* buffer, GtkTextIter* iter, GtkTextMark* mark,
                            gpointer index) {
  (void)iter;
  if (mark != gtk_text_buffer_get_insert(buffer) &&
      mark != gtk_text_buffer_get_selection_bound(buffer)) {
    return;
  }
  GtkTextIter start;
  GtkTextIter end;
  gtk_text_buffer_get_selection_bounds(buffer, &start, &end);
  report_selection(GPOINTER_TO_INT(index), gtk_text_iter_get_offset(&start),
                   gtk_text_iter_get_offset(&end));
}

static void entry_selection(GObject* entry, GParamSpec* property, gpointer index) {
  (void)property;
  int start = 0;
  int end = 0;
  if (!gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end)) {
    start = end = gtk_editable_get_position(GTK_EDITABLE(entry));
  }
  report_selection(GPOINTER_TO_INT(index), start, end);
}

static void report_text(GtkEditable* editable, gpointer index) {
  report("text", GPOINTER_TO_INT(index), gtk_entry_get_text(GTK_ENTRY(editable)));
}

static void report_buffer(GtkTextBuffer* buffer, gpointer index) {
  GtkTextIter start;
  GtkTextIter end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  report("text", GPOINTER_TO_INT(index), text);
  g_free(text);
}

static gboolean report_focus(GtkWidget* widget, GdkEvent* event, gpointer index) {
  (void)widget;
  (void)event;
  printf("focus %d\n", GPOINTER_TO_INT(index));
  fflush(stdout);
  return FALSE;
}

static gboolean report_blur(GtkWidget* widget, GdkEvent* event, gpointer index) {
  (void)widget;
  (void)event;
  printf("blur %d\n", GPOINTER_TO_INT(index));
  fflush(stdout);
  return FALSE;
}

// Entries and text views send the same signal.
static void report_preedit(GtkWidget* field, gchar* preedit, gpointer index) {
  (void)field;
  report("preedit", GPOINTER_TO_INT(index), preedit);
}

static void report_where(App* app, int field, int index) {
  if (!app->multiline || field < 0 || field >= app->count) return;
  GtkTextView* view = GTK_TEXT_VIEW(app->fields[field]);
  GtkTextIter iter;
  gtk_text_buffer_get_iter_at_offset(gtk_text_view_get_buffer(view), &iter, index);
  GdkRectangle at;
  gtk_text_view_get_iter_location(view, &iter, &at);
  int wx = 0;
  int wy = 0;
  gtk_text_view_buffer_to_window_coords(view, GTK_TEXT_WINDOW_WIDGET, at.x, at.y + at.height / 2,
                                        &wx, &wy);
  int fx = 0;
  int fy = 0;
  gtk_widget_translate_coordinates(app->fields[field], app->window, wx, wy, &fx, &fy);
  int x = 0;
  int y = 0;
  gdk_window_get_origin(gtk_widget_get_window(app->window), &x, &y);
  printf("at %d %d %d %d\n", field, index, x + fx, y + fy);
  fflush(stdout);
}

static gboolean read_request(GIOChannel* channel, GIOCondition condition, gpointer data) {
  App* app = data;
  gchar* line = NULL;
  if ((condition & G_IO_IN) &&
      g_io_channel_read_line(channel, &line, NULL, NULL, NULL) == G_IO_STATUS_NORMAL) {
    int field = 0;
    int index = 0;
    if (sscanf(line, "where %d %d", &field, &index) == 2) report_where(app, field, index);
    if (g_strcmp0(g_strstrip(line), "clear") == 0) {
      for (int i = 0; i < app->count; ++i) {
        if (app->multiline) {
          gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(app->fields[i])), "", -1);
        } else {
          gtk_entry_set_text(GTK_ENTRY(app->fields[i]), "");
        }
      }
    }
    g_free(line);
    return G_SOURCE_CONTINUE;
  }
  g_free(line);
  return G_SOURCE_REMOVE;  // standard input ended
}

// The places are known once the window is mapped and laid out.
static gboolean report_places(gpointer data) {
  App* app = data;
  if (app->reported) return G_SOURCE_REMOVE;
  GdkWindow* window = gtk_widget_get_window(app->window);
  if (!window || !gdk_window_is_viewable(window)) return G_SOURCE_CONTINUE;
  for (int i = 0; i < app->count; ++i) {
    GtkAllocation box;
    gtk_widget_get_allocation(app->fields[i], &box);
    int x = 0;
    int y = 0;
    gdk_window_get_origin(window, &x, &y);
    int fx = 0;
    int fy = 0;
    gtk_widget_translate_coordinates(app->fields[i], app->window, 0, 0, &fx, &fy);
    printf("field %d %d %d %d %d\n", i, x + fx, y + fy, box.width, box.height);
  }
  app->reported = TRUE;
  // Under Wayland a window has no X id: "window 0".
  const unsigned long id =
      GDK_IS_X11_WINDOW(window) ? (unsigned long)gdk_x11_window_get_xid(window) : 0;
  printf("window %lu\nready\n", id);
  fflush(stdout);
  return G_SOURCE_REMOVE;
}

static void mapped(GtkWidget* widget, GdkEvent* event, gpointer data) {
  (void)widget;
  (void)event;
  g_timeout_add(50, report_places, data);
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  App app = {0};
  app.count = 1;
  const char* title = "Tolvani GTK test";
  int x = 0;
  int y = 0;
  gboolean password = FALSE;
  gboolean hiddenPassword = FALSE;
  for (int i = 1; i < argc; ++i) {
    const int more = i + 1 < argc;
    if (more && strcmp(argv[i], "--fields") == 0) {
      app.count = atoi(argv[++i]);
    } else if (more && strcmp(argv[i], "--title") == 0) {
      title = argv[++i];
    } else if (more && strcmp(argv[i], "--x") == 0) {
      x = atoi(argv[++i]);
    } else if (more && strcmp(argv[i], "--y") == 0) {
      y = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--multiline") == 0) {
      app.multiline = TRUE;
    } else if (strcmp(argv[i], "--password") == 0) {
      password = TRUE;
    } else if (strcmp(argv[i], "--hidden-password") == 0) {
      hiddenPassword = TRUE;
    } else {
      fprintf(stderr,
              "usage: %s [--fields N] [--title TEXT] [--x X] [--y Y] [--multiline] [--password] "
              "[--hidden-password]\n",
              argv[0]);
      return 2;
    }
  }
  if (app.count < 0 || app.count > 8) app.count = 1;
  app.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(app.window), title);
  gtk_window_set_default_size(GTK_WINDOW(app.window), 480, 0);
  gtk_window_move(GTK_WINDOW(app.window), x, y);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_container_add(GTK_CONTAINER(app.window), box);
  app.fields = g_new0(GtkWidget*, app.count > 0 ? app.count : 1);
  app.selections = g_new0(Shown, app.count > 0 ? app.count : 1);
  for (int i = 0; i < app.count; ++i) app.selections[i].start = app.selections[i].end = -1;
  the_app = &app;
  if (app.count == 0) gtk_box_pack_start(GTK_BOX(box), gtk_label_new("No text field"), 0, 0, 0);
  for (int i = 0; i < app.count; ++i) {
    if (app.multiline) {
      app.fields[i] = gtk_text_view_new();
      gtk_widget_set_size_request(app.fields[i], -1, 64);
      g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(app.fields[i])), "changed",
                       G_CALLBACK(report_buffer), GINT_TO_POINTER(i));
      g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(app.fields[i])), "mark-set",
                       G_CALLBACK(buffer_mark_set), GINT_TO_POINTER(i));
    } else {
      app.fields[i] = gtk_entry_new();
      if (password)
        gtk_entry_set_input_purpose(GTK_ENTRY(app.fields[i]), GTK_INPUT_PURPOSE_PASSWORD);
      g_signal_connect(app.fields[i], "changed", G_CALLBACK(report_text), GINT_TO_POINTER(i));
      g_signal_connect(app.fields[i], "notify::cursor-position", G_CALLBACK(entry_selection),
                       GINT_TO_POINTER(i));
      g_signal_connect(app.fields[i], "notify::selection-bound", G_CALLBACK(entry_selection),
                       GINT_TO_POINTER(i));
      if (hiddenPassword && i == app.count - 1) {
        gtk_entry_set_visibility(GTK_ENTRY(app.fields[i]), FALSE);
        gtk_entry_set_input_purpose(GTK_ENTRY(app.fields[i]), GTK_INPUT_PURPOSE_PASSWORD);
      }
    }
    gtk_box_pack_start(GTK_BOX(box), app.fields[i], FALSE, FALSE, 0);
    g_signal_connect(app.fields[i], "focus-in-event", G_CALLBACK(report_focus), GINT_TO_POINTER(i));
    g_signal_connect(app.fields[i], "focus-out-event", G_CALLBACK(report_blur), GINT_TO_POINTER(i));
    g_signal_connect(app.fields[i], "preedit-changed", G_CALLBACK(report_preedit),
                     GINT_TO_POINTER(i));
  }
  g_signal_connect(app.window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_signal_connect(app.window, "map-event", G_CALLBACK(mapped), &app);
  gtk_widget_show_all(app.window);
  GIOChannel* requests = g_io_channel_unix_new(0);
  g_io_add_watch(requests, G_IO_IN | G_IO_HUP | G_IO_ERR, read_request, &app);
  gtk_main();
  g_free(app.fields);
  g_free(app.selections);
  return 0;
}
