// Start-up: the command line, the choices, the handles, the limit and the
// first check; the program-wide state they fix.
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "watchdog/watchdog.h"

int x_pid;
int moz_pid;
std::uint64_t memory_diff;
std::uint64_t swap_size;
std::uint64_t zram_size;
std::uint64_t ram_and_swap;
std::uint64_t total_memory;

int proc_dir = -1;
int x_dir = -1;
int moz_dir = -1;
int moz_pidfd = -1;

namespace {

// A decimal argument; one that does not fit 32 bits is invalid usage.
std::uint32_t argument(const char *text)
{
    std::uint32_t value = 0;
    if (!parse_number(text, value))
        do_error(invalid_usage_error);
    return value;
}

} // namespace

bool choice(const char *value, const char *off, const char *on)
{
    if (value == nullptr || *value == '\0' || std::strcmp(value, off) == 0)
        return false;
    if (std::strcmp(value, on) != 0)
        do_error(invalid_usage_error);
    return true;
}

void start(int &argc, char **&argv)
{
    if (argc != 4)
        do_error(invalid_usage_error);

    // Everything is parsed before the toolkit sees the command line. A pid
    // keeps the 32-bit pattern: "-1" reads back as -1.
    x_pid = static_cast<int>(argument(argv[1]));
    moz_pid = static_cast<int>(argument(argv[2]));
    memory_diff = static_cast<std::uint64_t>(argument(argv[3])) << 10;
    choose_count(std::getenv("BROWSER_WATCHDOG_COUNT"));
    choose_start(std::getenv("BROWSER_WATCHDOG_START"));
    choose_period(std::getenv("BROWSER_WATCHDOG_PERIOD"));
    choose_dialog(std::getenv("BROWSER_WATCHDOG_DIALOG"));

    // Handles that stay bound to the processes named now: a pid that is
    // reused later can never turn the watchdog on a stranger.
    proc_dir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    x_dir = open_process_dir(x_pid);
    moz_dir = open_process_dir(moz_pid);
    moz_pidfd = open_pidfd(moz_pid, moz_dir);
    choose_box(std::getenv("BROWSER_WATCHDOG_BOX"));

    gtk_set_locale();
    gtk_init(&argc, &argv);

    const std::uint64_t ram = value_of(read_ram_size(proc_dir));
    swap_size = value_of(count->every_area ? read_swap_areas(proc_dir, zram_size)
                                           : read_swap_size(proc_dir));
    ram_and_swap = ram + swap_size;

    g_print("%sx_pid=%d, moz_pid=%d, total_memory=%" PRIu64
            ", memory_diff=%" PRIu64 "\n",
            prefix, x_pid, moz_pid, ram_and_swap, memory_diff);

    // In 64 bits the reserve never wraps into a small one: given with a
    // minus sign it is about 4 PiB, and 4 TiB stays 4 TiB.
    if (memory_diff + limit_margin >= ram_and_swap)
        do_error(invalid_mem_config);
    total_memory = ram_and_swap - memory_diff;

    // A count this kernel cannot give ends the watchdog now, before any
    // browser depends on it.
    if (count != default_count) {
        std::uint64_t memory = 0;
        std::uint64_t x = 0;
        std::uint64_t m = 0;
        fatal_if(measure_count(*count, memory, x, m));
    }

    // Before any check: preparing takes the main loop for as long as the
    // toolkit loads fonts and theme (seconds on a small device), and a
    // browser that runs meanwhile could grow past the limit unchecked. A
    // held browser waits for it, stopped, where it can take no memory.
    if (dialog_ready)
        prepare_dialog();

    // A held browser waits for its first check: it comes at once.
    if (!browser_held || check_memory(nullptr) == TRUE)
        next_check = g_timeout_add(check_period, check_memory, nullptr);
    watch_pressure();
}
