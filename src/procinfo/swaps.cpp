// Size of the first swap area in /proc/swaps. Swap is optional: only a
// first area that cannot be read or taken apart is fatal.
#include <glib.h>

#include "procinfo/procinfo.h"

std::uint32_t read_swap_size(const char *path)
{
    FILE *file = open_stream(path);
    if (file == nullptr) {
        g_print("%s%s\n", prefix, swap_open_error);
        return 0;
    }
    if (std::fgets(buf, sizeof buf, file) == nullptr && std::feof(file) == 0) {
        g_print("%s%s\n", prefix, swap_read_error);
        std::fclose(file);
        return 0;
    }
    if (std::feof(file) != 0) {
        // Empty, or a header alone without its newline: no area listed.
        std::fclose(file);
        return 0;
    }
    if (std::fgets(buf, sizeof buf, file) == nullptr) {
        if (std::feof(file) == 0)
            do_error(swap_read_error);
        std::fclose(file);
        return 0;
    }
    std::fclose(file);

    // Name (space padded), type (tab ended), size (tab ended).
    char *type = skip_spaces(find_space(buf, swap_parse_error));
    char *size = skip_spaces(find_space(type, swap_parse_error));
    *find_space(size, swap_parse_error) = '\0';
    return parse_number(size, swap_parse_error);
}

std::uint32_t get_swap_size()
{
    return read_swap_size("/proc/swaps");
}
