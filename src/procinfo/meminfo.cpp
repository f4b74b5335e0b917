// RAM total from the first line of /proc/meminfo.
#include "procinfo/procinfo.h"

std::uint32_t read_ram_size(const char *path)
{
    FILE *file = open_file(path, mem_open_error);
    if (std::fgets(buf, sizeof buf, file) == nullptr)
        do_error(mem_read_error);
    std::fclose(file);

    // "MemTotal:" blanks value " kB": neither label nor unit is compared.
    char *value = skip_spaces(find_space(buf, mem_parse_error));
    *find_space(value, mem_parse_error) = '\0';
    return parse_number(value, mem_parse_error);
}

std::uint32_t get_ram_size()
{
    return read_ram_size("/proc/meminfo");
}
