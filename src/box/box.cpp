// A box's tree frozen, thawed and killed as one.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "box/box.h"
#include "procinfo/procinfo.h"

bool write_text(int dir, const char *name, const char *text)
{
    if (dir < 0 && dir != AT_FDCWD)
        return false;
    const int fd = openat(dir, name, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const auto length = static_cast<ssize_t>(std::strlen(text));
    const bool written = write(fd, text, static_cast<std::size_t>(length)) == length;
    close(fd);
    return written;
}

namespace {

bool put(int dir, const char *name, const char *text)
{
    return write_text(dir, name, text);
}

bool has(int dir, const char *name)
{
    return dir >= 0 && faccessat(dir, name, F_OK, 0) == 0;
}

// The cgroup whose list says who is in the box.
int listing(const Box &box)
{
    return box.v2 >= 0 ? box.v2 : box.v1_freezer >= 0 ? box.v1_freezer : box.v1_memory;
}

bool freezable(const Box &box)
{
    return box.v2_freeze || box.v1_freezer >= 0;
}

// SIGKILL to pid, a member of cgroup. A frozen member cannot end, so its
// pid cannot be another's yet; an unfrozen one is held by a pidfd and
// killed only if the cgroup still lists it then (Linux 5.3; by pid before).
void kill_member(pid_t pid, int cgroup, bool frozen)
{
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    if (!frozen) {
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (pidfd >= 0) {
            pid_t pids[256];
            const long n = box_pids(cgroup, pids, 256);
            for (long i = 0; i < n; ++i)
                if (pids[i] == pid)
                    syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
            close(pidfd);
            return;
        }
    }
#else
    (void)cgroup;
    (void)frozen;
#endif
    kill(pid, SIGKILL);
}

struct PidList {
    pid_t *pids;
    std::size_t n;
    std::size_t count;
};

void take_pid(char *line, void *context)
{
    auto &list = *static_cast<PidList *>(context);
    std::uint64_t pid = 0;
    if (list.count < list.n && parse_decimal(line, line + std::strlen(line), 4194304, pid))
        list.pids[list.count++] = static_cast<pid_t>(pid);
}

} // namespace

void box_look(Box &box)
{
    box.v2_freeze = has(box.v2, "cgroup.freeze");
    box.v2_kill = has(box.v2, "cgroup.kill");
    box.v2_memory = has(box.v2, "memory.current");
}

bool box_is_cgroup(const Box &box)
{
    return listing(box) >= 0;
}

// pids is written through the list take_pid fills.
// NOLINTNEXTLINE(readability-non-const-parameter)
long box_pids(int cgroup, pid_t pids[], std::size_t n)
{
    char buffer[512];
    PidList list{pids, n, 0};
    if (read_lines(cgroup, "cgroup.procs", buffer, sizeof buffer, take_pid, &list) != 0)
        return -1;
    return static_cast<long>(list.count);
}

bool box_freeze(const Box &box)
{
    if (box.v2_freeze)
        return put(box.v2, "cgroup.freeze", "1");
    if (box.v1_freezer >= 0)
        return put(box.v1_freezer, "freezer.state", "FROZEN");
    return box.group > 0 && kill(-box.group, SIGSTOP) == 0;
}

bool box_frozen(const Box &box)
{
    char state[16];
    if (box.v2_freeze)
        return read_whole(box.v2, "cgroup.freeze", state, sizeof state) > 0 && state[0] == '1';
    return box.v1_freezer >= 0 &&
           read_whole(box.v1_freezer, "freezer.state", state, sizeof state) > 0 &&
           std::strncmp(state, "THAWED", 6) != 0;
}

void box_thaw(const Box &box)
{
    if (box.v2_freeze)
        put(box.v2, "cgroup.freeze", "0");
    else if (box.v1_freezer >= 0)
        put(box.v1_freezer, "freezer.state", "THAWED");
}

void box_kill(const Box &box)
{
    if (box.v2_kill) {
        // Frozen tasks die too; thawed after, the box is whole again.
        put(box.v2, "cgroup.kill", "1");
        box_thaw(box);
        return;
    }
    const int cgroup = listing(box);
    if (cgroup < 0) {
        if (box.group > 0)
            kill(-box.group, SIGKILL);
        return;
    }
    // Killed, then thawed: on v1 a frozen task dies only once thawed. A
    // dying task leaves the list as it exits; those that forked meanwhile
    // are taken in the next round.
    constexpr int rounds = 50;
    const timespec pause{0, 10000000L};
    for (int round = 0; round < rounds; ++round) {
        const bool frozen = freezable(box) && box_freeze(box);
        pid_t pids[256];
        const long n = box_pids(cgroup, pids, 256);
        for (long i = 0; i < n; ++i)
            kill_member(pids[i], cgroup, frozen);
        if (frozen)
            box_thaw(box);
        if (n <= 0)
            return;
        nanosleep(&pause, nullptr);
    }
}

bool box_populated(const Box &box)
{
    const int cgroup = listing(box);
    if (cgroup >= 0) {
        pid_t pid = 0;
        return box_pids(cgroup, &pid, 1) > 0;
    }
    return box.group > 0 && kill(-box.group, 0) == 0;
}

void box_close(Box &box)
{
    for (int fd : {box.v2, box.v1_memory, box.v1_freezer})
        if (fd >= 0)
            close(fd);
    box = no_box;
}
