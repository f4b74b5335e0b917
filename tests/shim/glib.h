// Stand-in for GLib's header where no GLib exists for the target (the
// /proc readers alone are built and tested there).
#ifndef TESTS_SHIM_GLIB_H
#define TESTS_SHIM_GLIB_H

// Formats like printf to standard output and flushes it, as g_print does.
void g_print(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
