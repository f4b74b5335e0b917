// What the device has left, from meminfo read whole: the RAM the kernel can
// still give without taking it from what is in use, and what is free of the
// first swap area.
#include <algorithm>
#include <iterator>

#include "procinfo/procinfo.h"

namespace {

// Free RAM, and the page cache and reclaimable kernel memory the kernel
// gives back under pressure. Not MemAvailable: it takes the zones' low
// watermark off the cache twice, and the kernel boosts those watermarks by
// megabytes for a while after a fragmentation event, with nothing
// allocated.
enum Key { mem_free, active_file, inactive_file, kreclaimable, sreclaimable, swap_total,
           swap_free, key_count };
constexpr const char *keys[key_count] = {"MemFree",      "Active(file)", "Inactive(file)",
                                         "KReclaimable", "SReclaimable", "SwapTotal",
                                         "SwapFree"};

} // namespace

Reading read_device_left(int proc, std::uint64_t first_swap_kib)
{
    if (const char *error = read_text(proc, meminfo_file, file_buf, sizeof file_buf))
        return failure(error);
    std::uint64_t kib[key_count];
    if (!find_fields(file_buf, keys, key_count, kib))
        return failure(mem_parse_error);
    // KReclaimable from Linux 4.20, SReclaimable before it: either will do.
    if (kib[kreclaimable] == field_missing)
        kib[kreclaimable] = kib[sreclaimable];
    kib[sreclaimable] = 0;
    if (std::find(std::begin(kib), std::end(kib), field_missing) != std::end(kib))
        return failure(mem_parse_error);
    const std::uint64_t ram = kib[mem_free] + kib[active_file] + kib[inactive_file] +
                              kib[kreclaimable];

    // Free swap beyond the first area is not the watchdog's to count: what
    // the other areas hold free is at most their size.
    const std::uint64_t others =
        kib[swap_total] > first_swap_kib ? kib[swap_total] - first_swap_kib : 0;
    const std::uint64_t first_free = kib[swap_free] > others ? kib[swap_free] - others : 0;
    return figure(ram + (first_free < first_swap_kib ? first_free : first_swap_kib));
}
