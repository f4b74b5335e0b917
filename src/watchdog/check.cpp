// The periodic memory check, its statm and status readers, and the choice
// between the two counts.
#include <cinttypes>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

namespace {

// Reads the file at path, relative to dir, into buffer (size bytes, the
// terminator included) and terminates it. One read(2) rather than a stdio
// stream: fdopen() would cost an fcntl() more on every check. A file that
// cannot be opened, or gives nothing, is fatal with the messages given.
void read_once(int dir, const char *path, char *buffer, std::size_t size,
               const char *open_error, const char *read_error)
{
    const int fd = openat(dir, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        do_error(open_error);
    const ssize_t n = read(fd, buffer, size - 1);
    close(fd);
    if (n <= 0)
        do_error(read_error);
    buffer[n] = '\0';
}

} // namespace

std::uint32_t read_process_memory(int dir, const char *path)
{
    read_once(dir, path, buf, sizeof buf, statm_open_error, statm_read_error);
    // The first line alone, as a line reader would take it.
    char *newline = std::strchr(buf, '\n');
    if (newline != nullptr)
        newline[1] = '\0';

    *find_space(buf, statm_parse_error) = '\0';
    return parse_number(buf, statm_parse_error);
}

std::uint32_t get_process_memory(int dir)
{
    return read_process_memory(dir, "statm");
}

namespace {

// A status file whole, in one read: its VmSwap line lies past the 1024
// bytes of the shared line buffer. A status longer than this (a process in
// thousands of groups) loses its tail and, with it, a field: a parse error.
char status_buf[4096];

// The KiB figure of the "\nKey:" line at field, "Key:<blanks>N kB".
std::uint64_t status_kib(char *field)
{
    char *value = skip_spaces(std::strchr(field, ':') + 1);
    *find_space(value, status_parse_error) = '\0';
    return parse_number(value, status_parse_error);
}

} // namespace

void choose_count(const char *value)
{
    if (value == nullptr || *value == '\0' || std::strcmp(value, "size") == 0)
        count_resident = false;
    else if (std::strcmp(value, "resident") == 0)
        count_resident = true;
    else
        do_error(invalid_usage_error);
}

void choose_start(const char *value)
{
    if (value == nullptr || *value == '\0')
        browser_held = false;
    else if (std::strcmp(value, "held") == 0)
        browser_held = true;
    else
        do_error(invalid_usage_error);
}

std::uint64_t read_process_resident(int dir, const char *path)
{
    read_once(dir, path, status_buf, sizeof status_buf, status_open_error, status_read_error);

    // Both found before either is cut out of the text.
    char *rss = std::strstr(status_buf, "\nVmRSS:");
    char *swap = std::strstr(status_buf, "\nVmSwap:");
    if (rss == nullptr || swap == nullptr)
        do_error(status_parse_error);
    const std::uint64_t rss_kib = status_kib(rss);
    return rss_kib + status_kib(swap);
}

std::uint64_t get_process_resident(int dir)
{
    return read_process_resident(dir, "status");
}

gboolean check_memory(gpointer)
{
    // Both figures in KiB, 64-bit: page counts of 64-bit processes reach
    // terabytes of address space. Pages to KiB by the kernel's own page
    // size.
    std::uint64_t x;
    std::uint64_t m;
    if (count_resident) {
        x = get_process_resident(x_dir);
        m = get_process_resident(moz_dir);
    } else {
        const std::uint64_t x_pages = get_process_memory(x_dir);
        const std::uint64_t m_pages = get_process_memory(moz_dir);
        const std::uint64_t page_kib =
            static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
        x = x_pages * page_kib;
        m = m_pages * page_kib;
    }
    const std::uint64_t memory = x + m;
    if (memory < total_memory) {
        // Read below the limit, the held browser may run.
        if (browser_held) {
            browser_held = false;
            signal_process(moz_pid, moz_dir, SIGCONT);
        }
        return TRUE;
    }

    g_print("%smemory limit exceeded, memory=%" PRIu64 " (X=%" PRIu64
            ", durezezur=%" PRIu64 ")\n",
            prefix, memory, x, m);
    memory_error();
    return FALSE;
}
