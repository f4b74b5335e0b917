// Where the session's and its watchdogs' lines go: standard error and
// standard output, or the system log, one message a line.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "session/session.h"

namespace {

// The pipe of the watchdogs' lines, both ends kept by the session, and the
// forwarder that reads it; -1 without the system log.
int pipe_read = -1;
int pipe_write = -1;
pid_t forwarder = -1;

// The forwarder: each whole line of what the watchdogs write, one message
// tagged with the watchdog's name; a line longer than the buffer goes in
// pieces. Ends when the last writer has gone, the session among them; the
// session's ending signals stay blocked here, so that its last lines are
// not lost.
[[noreturn]] void forward_lines(int from)
{
    openlog("browser-watchdog", 0, LOG_USER);
    char buffer[1024];
    std::size_t held = 0;
    for (;;) {
        const ssize_t n = read(from, buffer + held, sizeof buffer - held);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (held > 0)
                syslog(LOG_INFO, "%.*s", static_cast<int>(held), buffer);
            _exit(0);
        }
        held += static_cast<std::size_t>(n);
        char *start = buffer;
        for (char *end;
             (end = static_cast<char *>(std::memchr(start, '\n', buffer + held - start))) !=
             nullptr;
             start = end + 1)
            syslog(LOG_INFO, "%.*s", static_cast<int>(end - start), start);
        held -= static_cast<std::size_t>(start - buffer);
        std::memmove(buffer, start, held);
        if (held == sizeof buffer) {
            syslog(LOG_INFO, "%.*s", static_cast<int>(held), buffer);
            held = 0;
        }
    }
}

// Starts a forwarder on the pipe; false when it cannot fork.
bool start_forwarder()
{
    forwarder = fork();
    if (forwarder == 0) {
        close(pipe_write);
        forward_lines(pipe_read);
    }
    return forwarder > 0;
}

} // namespace

void start_log(const char *value)
{
    if (std::strcmp(value, "stdout") == 0)
        return;
    if (std::strcmp(value, "syslog") != 0)
        refuse("SESSION_LOG=%s is neither stdout nor syslog: not starting the browser", value);
    openlog("browser-session", 0, LOG_USER);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        refuse("cannot make a pipe for the watchdog's lines: %s: not starting the browser",
               std::strerror(errno));
    pipe_read = ends[0];
    pipe_write = ends[1];
    if (!start_forwarder())
        refuse("cannot start the forwarder of the watchdog's lines: %s: not starting the "
               "browser", std::strerror(errno));
}

int watchdog_output()
{
    return pipe_write;
}

bool forwarder_ended(pid_t pid, int status)
{
    if (pid != forwarder || forwarder <= 0)
        return false;
    const int shown = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (start_forwarder())
        say("the forwarder of the watchdog's lines ended with status %d: started again",
            shown);
    else
        say("the forwarder of the watchdog's lines ended with status %d and cannot start "
            "again: %s; the watchdog's lines stay in the pipe", shown, std::strerror(errno));
    return true;
}
