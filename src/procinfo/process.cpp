// The readers of a watched process's own /proc files, opened through its
// /proc/PID directory: its program size (statm) and what it holds (VmRSS
// plus VmSwap of status), and whether it is still there.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"

std::uint64_t parse_statm_pages(char *text, const char *message)
{
    // The first line alone, as a line reader would take it.
    char *newline = std::strchr(text, '\n');
    if (newline != nullptr)
        newline[1] = '\0';
    *find_space(text, message) = '\0';
    return parse_number(text, message);
}

std::uint64_t parse_status_resident(char *text, const char *message)
{
    // Both found before either is cut out of the text.
    char *rss = std::strstr(text, "\nVmRSS:");
    char *swap = std::strstr(text, "\nVmSwap:");
    if (rss == nullptr || swap == nullptr)
        do_error(message);
    const std::uint64_t rss_kib = field_kib(rss, message);
    return rss_kib + field_kib(swap, message);
}

std::uint32_t read_process_memory(int dir, const char *path)
{
    read_whole(dir, path, buf, sizeof buf, statm_open_error, statm_read_error);
    return static_cast<std::uint32_t>(parse_statm_pages(buf, statm_parse_error));
}

std::uint32_t get_process_memory(int dir)
{
    return read_process_memory(dir, "statm");
}

std::uint64_t read_process_resident(int dir, const char *path)
{
    read_whole(dir, path, file_buf, sizeof file_buf, status_open_error, status_read_error);
    return parse_status_resident(file_buf, status_parse_error);
}

std::uint64_t get_process_resident(int dir)
{
    return read_process_resident(dir, "status");
}

void check_process(int dir)
{
    if (faccessat(dir, "status", F_OK, 0) != 0)
        do_error(status_open_error);
}
