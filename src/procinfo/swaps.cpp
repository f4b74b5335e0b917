// Size of the first swap area in swaps. Swap is optional: only a first
// area that cannot be read or taken apart is an error.
#include <cstring>

#include "procinfo/procinfo.h"

Reading read_swap_size(int proc)
{
    const long n = read_whole(proc, swaps_file.name, file_buf, sizeof file_buf);
    if (n == cannot_open || n == cannot_read) {
        Reading none = figure(0);
        none.warning = n == cannot_open ? swap_open_error : swap_read_error;
        return none;
    }
    // The header, then the first area's line, if any.
    char *header_end = std::strchr(file_buf, '\n');
    if (header_end == nullptr || header_end[1] == '\0')
        return figure(0);
    char *area = header_end + 1;
    first_line(area);

    // Name (space padded), type (tab ended), size (tab ended).
    return cut_number(next_field(next_field(area)), swap_parse_error);
}
