// The X server of this machine, by the lock file of its display: it writes
// its own pid there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "session/session.h"

pid_t x_pid;

namespace {

std::uint64_t x_since;

// Whether a display's host part names this machine: none, "unix" (the
// local socket) or "localhost", after any "protocol/" Xlib takes.
bool is_local(const char *host, std::size_t length)
{
    const char *slash = static_cast<const char *>(std::memchr(host, '/', length));
    if (slash != nullptr) {
        length -= static_cast<std::size_t>(slash + 1 - host);
        host = slash + 1;
    }
    const auto is = [&](const char *name) {
        return length == std::strlen(name) && std::strncmp(host, name, length) == 0;
    };
    return length == 0 || is("unix") || is("localhost");
}

// A decimal number of digits alone (leading zeros read as Xlib and the
// kernel read them), at most max; false otherwise.
bool read_decimal(const char *text, const char *end, std::uint64_t max, std::uint64_t &value)
{
    if (text == end)
        return false;
    value = 0;
    for (; text < end; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(*text - '0');
        if (value > max)
            return false;
    }
    return true;
}

} // namespace

void find_x_server()
{
    const char *display = std::getenv("DISPLAY");
    if (display == nullptr)
        display = "";
    const char *colon = std::strrchr(display, ':');
    if (colon == nullptr)
        refuse("DISPLAY=%s names no display: cannot tell the X server's pid", display);
    // refuse() does not return: colon is set here.
    // cppcheck-suppress nullPointerArithmeticRedundantCheck
    const auto host_length = static_cast<std::size_t>(colon - display);
    // "host::N" is DECnet: never this machine's X server.
    if (!is_local(display, host_length) || (host_length > 0 && colon[-1] == ':'))
        refuse("DISPLAY=%s is on the host %.*s: only an X server of this machine can be "
               "watched; not starting the browser", display, static_cast<int>(host_length),
               display);
    // The number, then any ".screen".
    const char *number_end = std::strchr(colon + 1, '.');
    if (number_end == nullptr)
        number_end = colon + 1 + std::strlen(colon + 1);
    std::uint64_t number = 0;
    if (!read_decimal(colon + 1, number_end, 2147483647, number))
        refuse("DISPLAY=%s names no display number: cannot tell the X server's pid", display);

    char lock[64];
    std::snprintf(lock, sizeof lock, "/tmp/.X%llu-lock", static_cast<unsigned long long>(number));
    char text[64];
    const long n = read_whole(AT_FDCWD, lock, text, sizeof text);
    if (n < 0)
        refuse("no %s: cannot tell the X server's pid", lock);
    // "%10d\n": blanks, the pid, a newline.
    const char *start = text;
    while (*start == ' ' || *start == '\t')
        ++start;
    const char *end = start + std::strcspn(start, " \t\n");
    const char *rest = end + std::strspn(end, " \t\n");
    std::uint64_t pid = 0;
    if (*rest != '\0' || !read_decimal(start, end, 4194304, pid) || pid == 0)
        refuse("%s holds no pid: cannot tell the X server's pid", lock);
    x_pid = static_cast<pid_t>(pid);
    char state = 0;
    if (!read_stat(x_pid, state, x_since) || state == 'Z')
        refuse("%s names pid %d, which is not running: a stale lock file; not starting the "
               "browser", lock, x_pid);
}

void check_x_server()
{
    if (!runs(x_pid, x_since))
        refuse("the X server %d has ended: ending the session", x_pid);
}
