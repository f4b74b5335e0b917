// The browser's box, told by the session: frozen and killed with the
// browser, and the tripwire in its memory.
#include <glib-unix.h>

#include "watchdog/watchdog.h"

Box box = no_box;
BoxMemory box_memory = no_memory;

namespace {

// Where the tripwire was last set, KiB (0: not yet), and its watch.
std::uint64_t tripwire_at;
guint tripwire_watch;

gboolean on_tripwire(gint, GIOCondition, gpointer)
{
    // memory.events comes with POLLERR on every change: not an end.
    memory_rearm(box_memory);
    if (next_check == 0) {
        tripwire_watch = 0;
        return FALSE;
    }
    g_source_remove(next_check);
    next_check = 0;
    // The fixed period's timeout is the one just removed: a check below
    // the limit starts it again.
    if (check_memory(nullptr) != FALSE)
        next_check = g_timeout_add(check_period, check_memory, nullptr);
    if (next_check != 0)
        return TRUE;
    tripwire_watch = 0;
    return FALSE;
}

void watch_tripwire()
{
    if (tripwire_watch != 0)
        g_source_remove(tripwire_watch);
    tripwire_watch = g_unix_fd_add(box_memory.events, box_memory.v1 ? G_IO_IN : G_IO_PRI,
                                   on_tripwire, nullptr);
}

} // namespace

void choose_box(const char *value)
{
    if (value == nullptr || *value == '\0')
        return;
    if (!box_open(value, moz_pid, box))
        do_error(invalid_usage_error);
    if (!memory_open(box, box_memory))
        box_memory = no_memory;
}

void set_tripwire(std::uint64_t memory, std::uint64_t limit)
{
    std::uint64_t usage = 0;
    if (box_memory.usage < 0 || memory >= limit || !memory_usage(box_memory, usage))
        return;
    const std::uint64_t distance = limit - memory;
    const std::uint64_t at = usage + distance;
    if (tripwire_at != 0 && at < tripwire_at + tripwire_slack_kib &&
        at + tripwire_slack_kib > tripwire_at)
        return;
    const int events = box_memory.events;
    if (!memory_set_tripwire(box_memory, at))
        return;
    tripwire_at = at;
    if (tripwire_watch == 0 || box_memory.events != events)
        watch_tripwire();
}
