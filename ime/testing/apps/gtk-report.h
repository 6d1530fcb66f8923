// The report line both GTK test programs write: "<head> <index>\t<text>", with line breaks and
// backslashes in the text escaped so that every report is one line.
#ifndef TOLVANI_GTK_REPORT_H
#define TOLVANI_GTK_REPORT_H

#include <glib.h>
#include <stdio.h>

// One report line; line breaks and backslashes in `text` escaped.
static void report(const char* head, int index, const char* text) {
  GString* line = g_string_new(NULL);
  g_string_printf(line, "%s %d\t", head, index);
  for (const char* c = text ? text : ""; *c; ++c) {
    if (*c == '\n') {
      g_string_append(line, "\\n");
    } else if (*c == '\\') {
      g_string_append(line, "\\\\");
    } else {
      g_string_append_c(line, *c);
    }
  }
  printf("%s\n", line->str);
  fflush(stdout);
  g_string_free(line, TRUE);
}

#endif
