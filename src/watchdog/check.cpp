// The periodic memory check.
#include <cinttypes>
#include <csignal>
#include <cstring>

#include "watchdog/watchdog.h"

bool browser_held;
guint next_check;
const char held_release_error[] = "cannot release the held browser";

namespace {

Growth growth = nothing_seen;

} // namespace

void choose_start(const char *value)
{
    if (value == nullptr || *value == '\0')
        browser_held = false;
    else if (std::strcmp(value, "held") == 0)
        browser_held = true;
    else
        do_error(invalid_usage_error);
}

gboolean check_memory(gpointer)
{
    // Figures in KiB, 64-bit.
    std::uint64_t memory = 0;
    std::uint64_t x = 0;
    std::uint64_t m = 0;
    fatal_if(measure_count(*count, memory, x, m));
    if (memory < total_memory) {
        set_tripwire(memory, total_memory);
        // Read below the limit, the held browser may run.
        if (browser_held) {
            browser_held = false;
            if (!signal_process(moz_pid, moz_dir, SIGCONT))
                do_error(held_release_error);
        }
        if (!period_adaptive)
            return TRUE;
        const std::int64_t now_ms = g_get_monotonic_time() / 1000;
        next_check = g_timeout_add(next_period(growth, memory, total_memory, now_ms),
                                   check_memory, nullptr);
        return FALSE;
    }
    next_check = 0;

    if (count->kind == CountKind::headroom)
        fatal_if(measure_held(x, m));
    g_print("%smemory limit exceeded, memory=%" PRIu64 " (X=%" PRIu64
            ", durezezur=%" PRIu64 ")\n",
            prefix, memory, x, m);
    memory_error();
    return FALSE;
}
