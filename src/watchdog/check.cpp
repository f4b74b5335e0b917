// The periodic memory check and its statm reader.
#include <cinttypes>
#include <unistd.h>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

std::uint32_t read_process_memory(const char *path)
{
    FILE *file = open_file(path, statm_open_error);
    if (std::fgets(buf, sizeof buf, file) == nullptr)
        do_error(statm_read_error);
    std::fclose(file);

    *find_space(buf, statm_parse_error) = '\0';
    return parse_number(buf, statm_parse_error);
}

std::uint32_t get_process_memory(int pid)
{
    // The path goes into buf; the line read over it no longer needs it.
    std::snprintf(buf, sizeof buf, "/proc/%d/statm", pid);
    return read_process_memory(buf);
}

gboolean check_memory(gpointer)
{
    const std::uint64_t x = get_process_memory(x_pid);
    const std::uint64_t m = get_process_memory(moz_pid);

    // 64-bit sums: page counts of 64-bit processes reach terabytes of
    // address space. Pages to KiB by the kernel's own page size.
    const std::uint64_t page_kib =
        static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
    const std::uint64_t memory = (x + m) * page_kib;
    if (memory < total_memory)
        return TRUE;

    g_print("%smemory limit exceeded, memory=%" PRIu64 " (X=%" PRIu64
            ", durezezur=%" PRIu64 ")\n",
            prefix, memory, x * page_kib, m * page_kib);
    memory_error();
    return FALSE;
}
