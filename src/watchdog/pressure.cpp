// The memory pressure trigger: with the period that shortens near the
// limit, a stall on memory brings the next check at once, so that a burst
// that starts between two checks is seen as it starts.
#include <glib-unix.h>
#include <unistd.h>

#include "watchdog/watchdog.h"

namespace {

gboolean on_pressure(gint fd, GIOCondition condition, gpointer)
{
    // A trigger that is gone leaves the period to carry on alone; after the
    // limit nothing is checked any more.
    if ((condition & (G_IO_ERR | G_IO_HUP | G_IO_NVAL)) == 0 && next_check != 0) {
        g_source_remove(next_check);
        next_check = 0;
        check_memory(nullptr);
        if (next_check != 0)
            return TRUE;
    }
    close(fd);
    return FALSE;
}

} // namespace

void watch_pressure()
{
    if (!period_adaptive || next_check == 0)
        return;
    int error = 0;
    const int fd = open_pressure_trigger(proc_dir, error);
    if (fd >= 0)
        g_unix_fd_add(fd, G_IO_PRI, on_pressure, nullptr);
}
