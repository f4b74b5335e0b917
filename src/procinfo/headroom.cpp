// What the device has left, from meminfo read whole: the RAM the kernel can
// still give without taking it from what is in use, and what is free of
// swap, each KiB of compressed swap at what it gives back.
#include <algorithm>
#include <iterator>

#include "procinfo/procinfo.h"

namespace {

// Free RAM, and the page cache and reclaimable kernel memory the kernel
// gives back under pressure. Not MemAvailable: it takes the zones' low
// watermark off the cache twice, and the kernel boosts those watermarks by
// megabytes for a while after a fragmentation event, with nothing
// allocated.
enum Key { mem_total, mem_free, active_file, inactive_file, kreclaimable, sreclaimable,
           swap_free, key_count };
constexpr const char *keys[key_count] = {"MemTotal",     "MemFree",      "Active(file)",
                                         "Inactive(file)", "KReclaimable", "SReclaimable",
                                         "SwapFree"};

// The fields of meminfo under proc into kib, KReclaimable standing for
// SReclaimable on kernels before 4.20; nullptr, or what failed.
const char *read_fields(int proc, std::uint64_t (&kib)[key_count])
{
    if (const char *error = read_text(proc, meminfo_file, file_buf, sizeof file_buf))
        return error;
    if (!find_fields(file_buf, keys, key_count, kib))
        return mem_parse_error;
    if (kib[kreclaimable] == field_missing)
        kib[kreclaimable] = kib[sreclaimable];
    kib[sreclaimable] = 0;
    if (std::find(std::begin(kib), std::end(kib), field_missing) != std::end(kib))
        return mem_parse_error;
    return nullptr;
}

std::uint64_t ram_left(const std::uint64_t (&kib)[key_count])
{
    return kib[mem_free] + kib[active_file] + kib[inactive_file] + kib[kreclaimable];
}

} // namespace

Reading read_device_left(int proc, std::uint64_t zram_kib, std::uint64_t zram_free_kib)
{
    std::uint64_t kib[key_count];
    if (const char *error = read_fields(proc, kib))
        return failure(error);
    const std::uint64_t zram_free =
        std::min(kib[swap_free], zram_free_kib == zram_free_unknown ? zram_kib : zram_free_kib);
    return figure(ram_left(kib) + kib[swap_free] - zram_free + zram_worth(zram_free));
}

Reading read_in_use(int proc)
{
    std::uint64_t kib[key_count];
    if (const char *error = read_fields(proc, kib))
        return failure(error);
    const std::uint64_t left = ram_left(kib);
    return figure(kib[mem_total] > left ? kib[mem_total] - left : 0);
}
