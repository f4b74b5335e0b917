// The X server of this machine, by the lock file of its display: it writes
// its own pid there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "session/session.h"

namespace {

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

// The display's number, from DISPLAY: refuses one of another host.
std::uint64_t display_number(const char *display)
{
    const char *colon = std::strrchr(display, ':');
    if (colon == nullptr)
        refuse("DISPLAY=%s names no display: cannot tell the X server's pid", display);
    // refuse() does not return: colon is set here.
    // cppcheck-suppress nullPointerArithmeticRedundantCheck
    const auto host_length = static_cast<std::size_t>(colon - display);
    // "host::N" is DECnet: never this machine's X server.
    if (host_length > 0 && colon[-1] == ':')
        refuse("DISPLAY=%s is a DECnet display: only an X server of this machine can be "
               "watched; not starting the browser", display);
    if (!is_local(display, host_length))
        refuse("DISPLAY=%s is on the host %.*s: only an X server of this machine can be "
               "watched; not starting the browser", display, static_cast<int>(host_length),
               display);
    // The number, then any ".screen".
    const char *number_end = std::strchr(colon + 1, '.');
    if (number_end == nullptr)
        number_end = colon + 1 + std::strlen(colon + 1);
    std::uint64_t number = 0;
    if (!parse_decimal(colon + 1, number_end, 2147483647, number))
        refuse("DISPLAY=%s names no display number: cannot tell the X server's pid", display);
    return number;
}

// The pid of a lock file's text, "%10d\n": blanks, the pid, a newline.
bool lock_pid(const char *text, std::uint64_t &pid)
{
    const char *start = skip_spaces(text);
    const char *end = start + std::strcspn(start, " \t\n");
    const char *rest = end + std::strspn(end, " \t\n");
    return *rest == '\0' && parse_decimal(start, end, 4194304, pid) && pid != 0;
}

} // namespace

XServer find_x_server()
{
    const char *display = std::getenv("DISPLAY");
    const std::uint64_t number = display_number(display != nullptr ? display : "");
    char lock[64];
    std::snprintf(lock, sizeof lock, "/tmp/.X%llu-lock", static_cast<unsigned long long>(number));
    char text[64];
    const long n = read_regular(lock, text, sizeof text);
    if (n == not_regular)
        refuse("%s is not a regular file: cannot tell the X server's pid", lock);
    if (n < 0)
        refuse("no %s: cannot tell the X server's pid", lock);
    std::uint64_t pid = 0;
    if (!lock_pid(text, pid))
        refuse("%s holds no pid: cannot tell the X server's pid", lock);
    XServer x{static_cast<pid_t>(pid), -1, 0};
    char name[32];
    std::snprintf(name, sizeof name, "/proc/%d", x.pid);
    x.dir = open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ProcessStat stat{};
    if (x.dir < 0 || read_process_stat(x.dir, stat) != nullptr || stat.state == 'Z')
        refuse("%s names pid %d, which is not running: a stale lock file; not starting the "
               "browser", lock, x.pid);
    x.since = stat.since;
    return x;
}

bool x_server_runs(const XServer &x)
{
    ProcessStat stat{};
    return read_process_stat(x.dir, stat) == nullptr && stat.since == x.since &&
           stat.state != 'Z';
}

void check_x_server()
{
    if (!x_server_runs(settings.x))
        refuse("the X server %d has ended: ending the session", settings.x.pid);
}
