// The counts the limit is compared with, one row each, and the reading of
// the chosen one at a check.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

namespace {

std::uint64_t size_kib(char *text, const char *message)
{
    // Pages to KiB by the kernel's own page size, in 64 bits: page counts
    // of 64-bit processes reach terabytes of address space.
    static const std::uint64_t page_kib = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
    return parse_statm_pages(text, message) * page_kib;
}

std::uint64_t left_kib(char *text, const char *message)
{
    return parse_device_left(text, swap_size, message);
}

// One process's share in the count c, through its /proc directory.
std::uint64_t share(const Count &c, int dir)
{
    read_whole(dir, c.file, file_buf, sizeof file_buf, *c.open_error, *c.read_error);
    return c.parse(file_buf, *c.parse_error);
}

} // namespace

const Count counts[3] = {
    {"size", "statm", false, size_kib, &statm_open_error, &statm_read_error, &statm_parse_error},
    {"resident", "status", false, parse_status_resident, &status_open_error, &status_read_error,
     &status_parse_error},
    {"headroom", "/proc/meminfo", true, left_kib, &mem_open_error, &mem_read_error,
     &mem_parse_error},
};
const Count *count = &counts[0];

void choose_count(const char *value)
{
    if (value == nullptr || *value == '\0') {
        count = &counts[0];
        return;
    }
    for (const Count &c : counts)
        if (std::strcmp(value, c.name) == 0) {
            count = &c;
            return;
        }
    do_error(invalid_usage_error);
}

std::uint64_t measure(std::uint64_t &x, std::uint64_t &m)
{
    if (!count->of_device) {
        x = share(*count, x_dir);
        m = share(*count, moz_dir);
        return x + m;
    }
    // Watched all the same: a process that is gone ends the watchdog.
    x = m = 0;
    check_process(x_dir);
    check_process(moz_dir);
    read_whole(AT_FDCWD, count->file, file_buf, sizeof file_buf, *count->open_error,
               *count->read_error);
    const std::uint64_t left = count->parse(file_buf, *count->parse_error);
    return left < ram_and_swap ? ram_and_swap - left : 0;
}

void read_shares(std::uint64_t &x, std::uint64_t &m)
{
    x = share(counts[1], x_dir);
    m = share(counts[1], moz_dir);
}
