// No way out of the program leaves the browser stopped.
#include <csignal>
#include <cstdlib>
#include <initializer_list>

#include <X11/Xlib.h>
#include <glib-unix.h>

#include "watchdog/watchdog.h"

namespace {

XIOErrorHandler toolkit_io_error;

// The display is gone: the toolkit's own handler reports it and exits 1.
int on_display_lost(Display *display)
{
    end_browser();
    if (toolkit_io_error != nullptr)
        toolkit_io_error(display);
    std::exit(1);
}

gboolean on_signal(gpointer number)
{
    const int sig = GPOINTER_TO_INT(number);
    end_browser();
    // End as the signal would have ended the program.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return G_SOURCE_REMOVE;
}

} // namespace

void guard_freeze()
{
    toolkit_io_error = XSetIOErrorHandler(on_display_lost);
    for (const int sig : {SIGHUP, SIGINT, SIGTERM})
        g_unix_signal_add(sig, on_signal, GINT_TO_POINTER(sig));
}
