// What the device has left, from /proc/meminfo read whole: the RAM the
// kernel can still give without taking it from what is in use, and what is
// free of the first swap area.
#include <cstring>
#include <fcntl.h>

#include "procinfo/procinfo.h"

std::uint64_t parse_device_left(char *text, std::uint64_t first_swap_kib, const char *message)
{
    // Every field is looked up before any is cut out of the text. Free RAM,
    // and the page cache and reclaimable kernel memory the kernel gives back
    // under pressure. Not MemAvailable: it takes the zones' low watermark
    // off the cache twice, and the kernel boosts those watermarks by
    // megabytes for a while after a fragmentation event, with nothing
    // allocated.
    char *fields[] = {std::strstr(text, "\nMemFree:"), std::strstr(text, "\nActive(file):"),
                      std::strstr(text, "\nInactive(file):"), std::strstr(text, "\nKReclaimable:"),
                      std::strstr(text, "\nSwapTotal:"), std::strstr(text, "\nSwapFree:")};
    if (fields[3] == nullptr)
        fields[3] = std::strstr(text, "\nSReclaimable:");
    for (const char *field : fields)
        if (field == nullptr)
            do_error(message);
    std::uint64_t left = 0;
    for (int i = 0; i < 4; ++i)
        left += field_kib(fields[i], message);

    // Free swap beyond the first area is not the watchdog's to count: what
    // the other areas hold free is at most their size.
    const std::uint64_t swap_total = field_kib(fields[4], message);
    const std::uint64_t swap_free = field_kib(fields[5], message);
    const std::uint64_t others = swap_total > first_swap_kib ? swap_total - first_swap_kib : 0;
    const std::uint64_t first_free = swap_free > others ? swap_free - others : 0;
    return left + (first_free < first_swap_kib ? first_free : first_swap_kib);
}

std::uint64_t read_device_left(const char *path, std::uint64_t first_swap_kib)
{
    read_whole(AT_FDCWD, path, file_buf, sizeof file_buf, mem_open_error, mem_read_error);
    return parse_device_left(file_buf, first_swap_kib, mem_parse_error);
}

std::uint64_t get_device_left(std::uint64_t first_swap_kib)
{
    return read_device_left("/proc/meminfo", first_swap_kib);
}
