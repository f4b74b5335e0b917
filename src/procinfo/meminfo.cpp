// RAM total from the first line of meminfo.
#include "procinfo/procinfo.h"

Reading read_ram_size(int proc)
{
    if (const char *error = read_text(proc, meminfo_file, buf, sizeof buf))
        return failure(error);
    first_line(buf);

    // "MemTotal:" blanks value " kB": neither label nor unit is compared.
    char *label_end = find_space(buf);
    if (label_end == nullptr)
        return failure(mem_parse_error);
    char *value = skip_spaces(label_end);
    char *value_end = find_space(value);
    std::uint32_t kib = 0;
    if (value_end == nullptr)
        return failure(mem_parse_error);
    *value_end = '\0';
    if (!parse_number(value, kib))
        return failure(mem_parse_error);
    return figure(kib);
}
