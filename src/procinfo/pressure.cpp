// A memory pressure trigger: a descriptor the kernel marks (POLLPRI) as
// soon as tasks have stalled on memory for a set time within a window,
// which is how a burst shows itself before any count has moved far.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "procinfo/procinfo.h"

namespace {

constexpr long proc_super_magic = 0x9fa0;

// Stall time, then the window, in microseconds. The kernel takes windows
// of 0.5 s to 10 s; a process without CAP_SYS_RESOURCE may set one only on
// Linux 6.5 and later, and only in whole multiples of 2 s.
constexpr const char *triggers[] = {
    "some 50000 1000000",
    "some 100000 2000000",
};

} // namespace

int open_pressure_trigger(int proc, int &error)
{
    error = 0;
    for (const char *trigger : triggers) {
        const int fd = openat(proc, "pressure/memory", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = errno;
            return -1;
        }
        // Anything else laid over the file would take the write and never
        // wake anyone.
        struct statfs fs;
        if (fstatfs(fd, &fs) != 0 || fs.f_type != proc_super_magic) {
            error = ENOTSUP;
            close(fd);
            return -1;
        }
        // The kernel reads the trigger up to its terminator.
        if (write(fd, trigger, std::strlen(trigger) + 1) >= 0)
            return fd;
        error = errno;
        close(fd);
    }
    return -1;
}
