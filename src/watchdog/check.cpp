// The periodic memory check.
#include <cinttypes>
#include <csignal>
#include <cstring>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

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
    std::uint64_t x;
    std::uint64_t m;
    const std::uint64_t memory = measure(x, m);
    if (memory < total_memory) {
        // Read below the limit, the held browser may run.
        if (browser_held) {
            browser_held = false;
            signal_process(moz_pid, moz_dir, SIGCONT);
        }
        if (!period_adaptive)
            return TRUE;
        g_timeout_add(next_period(memory), check_memory, nullptr);
        return FALSE;
    }

    if (count->of_device)
        read_shares(x, m);
    g_print("%smemory limit exceeded, memory=%" PRIu64 " (X=%" PRIu64
            ", durezezur=%" PRIu64 ")\n",
            prefix, memory, x, m);
    memory_error();
    return FALSE;
}
