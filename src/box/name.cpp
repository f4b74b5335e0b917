// The box the session names for its watchdog, opened and checked: it must
// hold the browser.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "box/box.h"

namespace {

bool has(int dir, const char *name)
{
    return faccessat(dir, name, F_OK, 0) == 0;
}

// Whether the cgroup lists pid.
bool holds(int cgroup, pid_t pid)
{
    pid_t pids[1024];
    const long n = box_pids(cgroup, pids, 1024);
    for (long i = 0; i < n; ++i)
        if (pids[i] == pid)
            return true;
    return false;
}

// Takes the cgroup directory path into box, by what it is: v2 (it has
// cgroup.controllers), the v1 freezer or the v1 memory controller. False
// when it is none of these, one of them twice, or does not hold pid.
bool take(const char *path, pid_t pid, Box &box)
{
    const int dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    int *part = has(dir, "cgroup.controllers") ? &box.v2
                : has(dir, "freezer.state")   ? &box.v1_freezer
                : has(dir, "memory.usage_in_bytes") ? &box.v1_memory
                                                    : nullptr;
    if (part == nullptr || *part >= 0 || !holds(dir, pid)) {
        close(dir);
        return false;
    }
    *part = dir;
    // v1 controllers mounted together: one directory, both parts.
    if (part == &box.v1_freezer && has(dir, "memory.usage_in_bytes") && box.v1_memory < 0)
        box.v1_memory = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    return true;
}

} // namespace

bool box_open(const char *name, pid_t pid, Box &box)
{
    box = no_box;
    if (pid <= 0)
        return false;
    const bool leads = getpgid(pid) == pid;
    if (std::strcmp(name, "group") == 0) {
        box.group = leads ? pid : 0;
        return leads;
    }
    char path[4096];
    for (const char *start = name; *start != '\0';) {
        const char *end = std::strchr(start, ':');
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - start)
                                                  : std::strlen(start);
        if (length == 0 || length >= sizeof path || start[0] != '/') {
            box_close(box);
            return false;
        }
        std::memcpy(path, start, length);
        path[length] = '\0';
        if (!take(path, pid, box)) {
            box_close(box);
            return false;
        }
        start += length + (end != nullptr ? 1 : 0);
    }
    if (!box_is_cgroup(box))
        return false;
    box.group = leads ? pid : 0;
    box_look(box);
    return true;
}
