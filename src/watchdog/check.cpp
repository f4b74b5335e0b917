// The periodic memory check and its statm reader.
#include <cinttypes>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

std::uint32_t read_process_memory(int dir, const char *path)
{
    // One read(2) rather than a stdio stream: fdopen() would cost an
    // fcntl() more on every check.
    const int fd = openat(dir, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        do_error(statm_open_error);
    const ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        do_error(statm_read_error);
    buf[n] = '\0';
    // The first line alone, as a line reader would take it.
    char *newline = std::strchr(buf, '\n');
    if (newline != nullptr)
        newline[1] = '\0';

    *find_space(buf, statm_parse_error) = '\0';
    return parse_number(buf, statm_parse_error);
}

std::uint32_t get_process_memory(int dir)
{
    return read_process_memory(dir, "statm");
}

gboolean check_memory(gpointer)
{
    const std::uint64_t x = get_process_memory(x_dir);
    const std::uint64_t m = get_process_memory(moz_dir);

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
