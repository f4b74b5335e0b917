// The counts the limit is compared with, measured by their kind.
#include <unistd.h>

#include "watchdog/watchdog.h"

std::uint64_t page_kib = 4;
const Count *const default_count = count_of(CountKind::size);
const Count *count = default_count;

namespace {

// A count made of the two processes' shares, each read through its /proc
// directory in units of unit_kib KiB: the X server first.
const char *add_shares(Reading (*read)(int dir), std::uint64_t unit_kib, std::uint64_t &memory,
                       std::uint64_t &x, std::uint64_t &m)
{
    const Reading x_share = read(x_dir);
    if (x_share.error != nullptr)
        return x_share.error;
    const Reading m_share = read(moz_dir);
    if (m_share.error != nullptr)
        return m_share.error;
    // 64-bit: page counts of 64-bit processes reach terabytes.
    x = x_share.value * unit_kib;
    m = m_share.value * unit_kib;
    memory = x + m;
    return nullptr;
}

// The last headroom count, and whether zram's own use is read: from when
// the count comes within near_kib of the limit until it is far enough
// again that taking free swap as zram first, which counts up to a third of
// zram more, cannot bring it near at once.
std::uint64_t last_headroom;
bool zram_read;

const char *measure_headroom(std::uint64_t &memory, std::uint64_t &x, std::uint64_t &m)
{
    // Watched all the same: a process that is gone ends the watchdog.
    x = m = 0;
    if (const char *error = check_process(x_dir))
        return error;
    if (const char *error = check_process(moz_dir))
        return error;
    // Far from the limit free swap is taken as zram first, which may count
    // less than is left; near it, what zram itself has free.
    if (!zram_read && last_headroom + near_kib >= total_memory)
        zram_read = true;
    else if (zram_read && last_headroom + 2 * near_kib + zram_size / zram_ratio < total_memory)
        zram_read = false;
    std::uint64_t zram_free = zram_free_unknown;
    if (zram_size > 0 && zram_read) {
        const Reading free = read_zram_free(proc_dir);
        if (free.error != nullptr)
            return free.error;
        zram_free = free.value;
    }
    const Reading left = read_device_left(proc_dir, zram_size, zram_free);
    if (left.error != nullptr)
        return left.error;
    memory = left.value < ram_and_swap ? ram_and_swap - left.value : 0;
    last_headroom = memory;
    return nullptr;
}

} // namespace

const char *measure_count(const Count &c, std::uint64_t &memory, std::uint64_t &x,
                          std::uint64_t &m)
{
    switch (c.kind) {
    case CountKind::size:
        return add_shares(read_process_pages, page_kib, memory, x, m);
    case CountKind::resident:
        return add_shares(read_process_resident, 1, memory, x, m);
    case CountKind::headroom:
        return measure_headroom(memory, x, m);
    }
    return invalid_usage_error;
}

const char *measure_held(std::uint64_t &x, std::uint64_t &m)
{
    std::uint64_t memory = 0;
    if (const char *error = add_shares(read_process_share, 1, memory, x, m))
        return error;
    // A box that counts its memory holds the browser's whole tree.
    std::uint64_t swap = 0;
    if (box_memory.usage >= 0 && memory_usage(box_memory, memory) && memory_swap(box_memory, swap))
        m = memory + swap;
    return nullptr;
}

void choose_count(const char *value)
{
    page_kib = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
    count = value == nullptr || *value == '\0' ? default_count : find_count(value);
    if (count == nullptr)
        do_error(invalid_usage_error);
}
