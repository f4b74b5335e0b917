// The device trial's watch on a box's freezer, run inside the guest for
// a box whose freeze the kernel's trace does not tell:
//
//   freeze-watch FILE
//
// FILE is a cgroup's v1 freezer.state or its v2 cgroup.events. It prints
// the cgroup's state at start and at each change, "MS STATE" (frozen,
// freezing or thawed), MS on CLOCK_BOOTTIME, the clock of the kernel's
// trace with trace_clock=boot. It sleeps on inotify until the file is
// written (the watchdog's write of FROZEN; on v2 the kernel's change of
// the events), and while v1 says FREEZING reads it every millisecond: v1
// says FROZEN only when read. Locked in memory, as the probe is, so that
// its own paging does not delay what it sees. Ends when the file has
// gone; exits 1 when it cannot watch it.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

long long now_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The state the file says, or nullptr once it has gone.
const char *state(const char *path)
{
    char text[256];
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n < 0)
        return nullptr;
    text[n] = '\0';
    if (std::strstr(text, "FREEZING") != nullptr)
        return "freezing";
    return std::strstr(text, "FROZEN") != nullptr || std::strstr(text, "frozen 1") != nullptr
               ? "frozen"
               : "thawed";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: freeze-watch FILE\n");
        return 2;
    }
    if (mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) != 0)
        std::perror("freeze-watch: mlockall");
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, argv[1], IN_MODIFY) < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char *said = "";
    for (;;) {
        const char *now = state(argv[1]);
        for (; now != nullptr; now = state(argv[1])) {
            if (std::strcmp(now, said) != 0)
                std::printf("%lld %s\n", now_ms(), now);
            said = now;
            if (std::strcmp(now, "freezing") != 0)
                break;
            const timespec ms{0, 1000000};
            nanosleep(&ms, nullptr);
        }
        if (now == nullptr)
            return 0;
        char events[4096];
        if (read(watch, events, sizeof events) <= 0)
            return 0;
    }
}
