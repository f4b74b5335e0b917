// The figures the reserve is chosen from, read with the watchdog's own
// readers, so that the session sees what the watchdog will count.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "session/session.h"

bool read_totals(Totals &totals)
{
    const Reading ram = read_ram_size(proc);
    if (ram.error != nullptr)
        return false;
    totals.zram = 0;
    const Reading swap = session_count->every_area ? read_swap_areas(proc, totals.zram)
                                                   : read_swap_size(proc);
    // No swaps file is no swap, as the watchdog takes it.
    if (swap.error != nullptr)
        return false;
    totals.ram = ram.value;
    totals.swap = swap.value;
    totals.total = ram.value + swap.value;
    return true;
}

bool read_x_count(std::uint64_t &x_count)
{
    char name[16];
    std::snprintf(name, sizeof name, "%d", x_pid);
    const int dir = openat(proc, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    // The program size in pages of the kernel's size, or what it holds.
    const bool size = std::strcmp(session_count->name, "size") == 0;
    Reading count = size ? read_process_pages(dir) : read_process_resident(dir);
    if (size)
        count.value *= static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
    close(dir);
    x_count = count.value;
    return count.error == nullptr;
}

bool read_base(const Totals &totals, std::uint64_t &base, char *words, std::size_t size)
{
    if (counts_headroom()) {
        const Reading left = read_device_left(proc, totals.zram);
        if (left.error != nullptr)
            return false;
        base = left.value;
        std::snprintf(words, size, "of the %" PRIu64 " KiB the device has left", base);
        return true;
    }
    std::uint64_t x_count = 0;
    if (!read_x_count(x_count))
        return false;
    base = totals.total > x_count ? totals.total - x_count : 0;
    std::snprintf(words, size, "beside the X server's count of %" PRIu64 " KiB", x_count);
    return true;
}
