// Start-up: command line, memory limit, periodic check, main loop.
#include <cinttypes>
#include <cstdlib>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

int main(int argc, char *argv[])
{
    if (argc != 4)
        do_error(invalid_usage_error);

    // Everything is parsed before the toolkit sees the command line. A pid
    // keeps the 32-bit pattern: "-1" reads back as -1.
    x_pid = static_cast<int>(parse_number(argv[1], invalid_usage_error));
    moz_pid = static_cast<int>(parse_number(argv[2], invalid_usage_error));
    memory_diff =
        static_cast<std::uint64_t>(parse_number(argv[3], invalid_usage_error))
        << 10;
    choose_count(std::getenv("BROWSER_WATCHDOG_COUNT"));
    choose_start(std::getenv("BROWSER_WATCHDOG_START"));
    choose_period(std::getenv("BROWSER_WATCHDOG_PERIOD"));

    // Handles that stay bound to the processes named now: a pid that is
    // reused later can never turn the watchdog on a stranger.
    x_dir = open_process_dir(x_pid);
    moz_dir = open_process_dir(moz_pid);
    moz_pidfd = open_pidfd(moz_pid, moz_dir);

    gtk_set_locale();
    gtk_init(&argc, &argv);

    const std::uint64_t ram = get_ram_size();
    swap_size = get_swap_size();
    ram_and_swap = ram + swap_size;

    g_print("%sx_pid=%d, moz_pid=%d, total_memory=%" PRIu64
            ", memory_diff=%" PRIu64 "\n",
            prefix, x_pid, moz_pid, ram_and_swap, memory_diff);

    // In 64 bits the reserve never wraps into a small one: given with a
    // minus sign it is about 4 PiB, and 4 TiB stays 4 TiB.
    if (memory_diff + limit_margin >= ram_and_swap)
        do_error(invalid_mem_config);
    total_memory = ram_and_swap - memory_diff;

    // A held browser waits for its first check: it comes at once.
    if (!browser_held || check_memory(nullptr) == TRUE)
        g_timeout_add(check_period, check_memory, nullptr);
    gtk_main();
    return 0;
}
