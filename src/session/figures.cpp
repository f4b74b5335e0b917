// The figures the reserve is chosen from, read with the watchdog's own
// readers, so that the session sees what the watchdog will count.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "session/session.h"

namespace {

// The X server's /proc directory under settings.proc, or -1.
int open_x_dir()
{
    char name[16];
    std::snprintf(name, sizeof name, "%d", settings.x.pid);
    return openat(settings.proc, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The X server's count as the watchdog counts it: its program size, in
// pages of the kernel's size, or what it holds.
Reading read_x_count()
{
    const int dir = open_x_dir();
    if (dir < 0)
        return failure(status_open_error);
    Reading count{};
    if (settings.count->kind == CountKind::size) {
        count = read_process_pages(dir);
        count.value *= static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
    } else {
        count = read_process_resident(dir);
    }
    close(dir);
    return count;
}

} // namespace

bool read_room(Figures &f)
{
    f.tripwire = place_has_tripwire(settings.box);
    const Reading ram = read_ram_size(settings.proc);
    f.zram = 0;
    // No swaps file is no swap, as the watchdog takes it.
    const Reading swap = settings.count->every_area ? read_swap_areas(settings.proc, f.zram)
                                                    : read_swap_size(settings.proc);
    if (ram.error != nullptr || swap.error != nullptr)
        return false;
    f.ram = ram.value;
    f.swap = swap.value;
    if (settings.count->kind != CountKind::headroom) {
        const Reading x = read_x_count();
        f.x_count = x.value;
        return x.error == nullptr;
    }
    const Reading left = read_device_left(settings.proc, f.zram);
    f.left = left.value;
    return left.error == nullptr;
}

bool read_keep(Figures &f)
{
    f.keep = 0;
    if (settings.count->kind == CountKind::size)
        return true;
    const Reading keep = read_kernel_keep(settings.proc);
    f.keep = keep.value;
    return keep.error == nullptr;
}

bool read_rest_sample(Figures &f)
{
    const Reading in_use = read_in_use(settings.proc);
    const Reading x = read_x_count();
    f.in_use = in_use.value;
    f.x_count = x.value;
    return in_use.error == nullptr && x.error == nullptr;
}

const char *kernel_lacks()
{
    // Without the file LRU fields the device's rest cannot be read either:
    // only the size count, with a reserve given, runs there.
    const bool lru = read_device_left(settings.proc, 0).error != mem_parse_error;
    if (settings.count->kind == CountKind::headroom && !lru)
        return "its /proc/meminfo has no Active(file), Inactive(file) or KReclaimable "
               "(SReclaimable) (Linux 2.6.28 and later have them): the headroom count "
               "cannot run; set BROWSER_WATCHDOG_COUNT=size and RESERVE_MIB";
    if (settings.count->kind != CountKind::resident ||
        read_x_count().error != status_parse_error)
        return nullptr;
    if (!lru)
        return "the X server's status has no VmRSS or VmSwap (Linux 2.6.34 and later have "
               "them): the resident count cannot run; set BROWSER_WATCHDOG_COUNT=size and "
               "RESERVE_MIB";
    return "the X server's status has no VmRSS or VmSwap (Linux 2.6.34 and later have them): "
           "the resident count cannot run; set BROWSER_WATCHDOG_COUNT=headroom or size";
}
