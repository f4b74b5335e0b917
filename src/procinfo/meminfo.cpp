// RAM total from the first line of meminfo.
#include "procinfo/procinfo.h"

Reading read_ram_size(int proc)
{
    if (const char *error = read_text(proc, meminfo_file, buf, sizeof buf))
        return failure(error);
    first_line(buf);

    // "MemTotal:" blanks value " kB": neither label nor unit is compared.
    return cut_number(next_field(buf), mem_parse_error);
}
