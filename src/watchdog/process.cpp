// Handles on the watched processes, taken once at start-up.
#include <cstdio>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

int open_process_dir(int pid)
{
    std::snprintf(buf, sizeof buf, "/proc/%d", pid);
    return open(buf, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool process_alive(int dir)
{
    return faccessat(dir, "stat", F_OK, 0) == 0;
}

int open_pidfd(int pid, int dir)
{
#ifdef SYS_pidfd_open
    if (pid <= 0 || dir < 0)
        return -1;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    // Had the process behind dir ended before pidfd_open, the pid might
    // already be another's: keep the pidfd only if dir is still alive now.
    if (pidfd >= 0 && !process_alive(dir)) {
        close(pidfd);
        return -1;
    }
    return pidfd;
#else
    (void)pid;
    (void)dir;
    return -1;
#endif
}
