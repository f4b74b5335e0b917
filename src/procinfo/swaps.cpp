// Size of the first swap area in swaps. Swap is optional: only a first
// area that cannot be read or taken apart is an error.
#include <cstring>

#include "procinfo/procinfo.h"

namespace {

// Reads swaps under proc whole into file_buf. False when it cannot be read:
// swap is optional, so none then holds 0 with the message as its warning.
bool read_swaps(int proc, Reading &none)
{
    const long n = read_whole(proc, swaps_file.name, file_buf, sizeof file_buf);
    if (n != cannot_open && n != cannot_read)
        return true;
    none = figure(0);
    none.warning = n == cannot_open ? swap_open_error : swap_read_error;
    return false;
}

} // namespace

Reading read_swap_size(int proc)
{
    Reading none = figure(0);
    if (!read_swaps(proc, none))
        return none;
    // The header, then the first area's line, if any.
    char *header_end = std::strchr(file_buf, '\n');
    if (header_end == nullptr || header_end[1] == '\0')
        return figure(0);
    char *area = header_end + 1;
    first_line(area);

    // Name (space padded), type (tab ended), size (tab ended).
    return cut_number(next_field(next_field(area)), swap_parse_error);
}

bool is_zram(const char *area)
{
    return std::strncmp(area, "/dev/zram", 9) == 0;
}

Reading read_swap_areas(int proc, std::uint64_t &zram_kib)
{
    zram_kib = 0;
    Reading none = figure(0);
    if (!read_swaps(proc, none))
        return none;
    char *line = std::strchr(file_buf, '\n');
    std::uint64_t all = 0;
    while (line != nullptr && line[1] != '\0') {
        char *area = line + 1;
        line = std::strchr(area, '\n');
        if (line != nullptr)
            *line = '\0';
        const bool zram = is_zram(area);
        const Reading size = cut_number(next_field(next_field(area)), swap_parse_error);
        if (size.error != nullptr)
            return size;
        all += size.value;
        if (zram)
            zram_kib += size.value;
    }
    return figure(all);
}

namespace {

struct ZramFree {
    std::uint64_t kib;
    int areas;
    bool bad;
};

// A line of swaps, "NAME TYPE SIZE USED PRIORITY": a zram area's size less
// what it uses. The header's first word is no device.
void take_area(char *line, void *context)
{
    auto &free = *static_cast<ZramFree *>(context);
    if (free.areas++ == 0 || !is_zram(line))
        return;
    const char *end = line + std::strlen(line);
    const char *size = skip_spaces(word_end(skip_spaces(word_end(line, end)), end));
    const char *used = skip_spaces(word_end(size, end));
    std::uint64_t size_kib = 0;
    std::uint64_t used_kib = 0;
    if (!parse_decimal(size, word_end(size, end), UINT64_MAX / 2, size_kib) ||
        !parse_decimal(used, word_end(used, end), size_kib, used_kib)) {
        free.bad = true;
        return;
    }
    free.kib += size_kib - used_kib;
}

} // namespace

Reading read_zram_free(int proc)
{
    ZramFree free{0, 0, false};
    const long read = read_lines(proc, swaps_file.name, file_buf, sizeof file_buf, take_area, &free);
    if (read == cannot_open || read == cannot_read)
        return figure(0);
    return free.bad ? failure(swap_parse_error) : figure(free.kib);
}
