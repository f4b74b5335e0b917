// A process's state and start time, from its stat.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "session/session.h"

bool read_stat(pid_t pid, char &state, std::uint64_t &since)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    char line[1024];
    if (pid <= 0 || read_whole(AT_FDCWD, path, line, sizeof line) <= 0)
        return false;
    // After the name, which may hold anything, ") " then the state; the
    // start time is the twentieth field after it.
    const char *field = std::strrchr(line, ')');
    if (field == nullptr || field[1] != ' ')
        return false;
    field += 2;
    state = *field;
    for (int i = 1; i < 20; ++i) {
        field = std::strchr(field, ' ');
        if (field == nullptr)
            return false;
        ++field;
    }
    if (*field < '0' || *field > '9')
        return false;
    since = std::strtoull(field, nullptr, 10);
    return true;
}

bool runs(pid_t pid, std::uint64_t since)
{
    char state = 0;
    std::uint64_t now_since = 0;
    return read_stat(pid, state, now_since) && now_since == since && state != 'Z';
}
