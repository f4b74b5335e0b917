// What the session says, on stderr or to the system log, one whole line at
// a time.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <syslog.h>
#include <unistd.h>

#include "session/session.h"

namespace {

void say_line(int priority, const char *format, va_list args)
{
    static constexpr char session_prefix[] = "browser-session: ";
    char line[2048] = "browser-session: ";
    const int n = std::vsnprintf(line + sizeof session_prefix - 1,
                                 sizeof line - sizeof session_prefix, format, args);
    if (n < 0)
        return;
    if (settings.to_syslog) {
        syslog(priority, "%s", line + sizeof session_prefix - 1);
        return;
    }
    std::size_t length = sizeof session_prefix - 1 + static_cast<std::size_t>(n);
    if (length > sizeof line - 2)
        length = sizeof line - 2;
    line[length] = '\n';
    // A line is written whole or not at all: there is no one to tell.
    if (write(STDERR_FILENO, line, length + 1) < 0)
        return;
}

} // namespace

// A printf-like line: its arguments are checked by the format attribute.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    say_line(LOG_INFO, format, args);
    va_end(args);
}

// NOLINTNEXTLINE(cert-dcl50-cpp)
void refuse(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    say_line(LOG_ERR, format, args);
    va_end(args);
    std::exit(1);
}
