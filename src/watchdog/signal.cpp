// Signalling a watched process, one log line per signal.
#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

#include "watchdog/watchdog.h"

namespace {

bool send_signal(int pid, int dir, int sig)
{
#ifdef SYS_pidfd_send_signal
    if (syscall(SYS_pidfd_send_signal, dir, sig, nullptr, 0) == 0)
        return true;
    if (errno != ENOSYS)
        return false;
#endif
    // A kernel before 5.1: kill() by pid, and only while the handle still
    // names a live process. A pid reused between the two calls is the one
    // case this cannot rule out.
    return pid > 0 && process_alive(dir) && kill(pid, sig) == 0;
}

} // namespace

void signal_process(int pid, int dir, int sig)
{
    g_print("%ssignalling process %d (%d)... ", prefix, pid, sig);
    g_print(send_signal(pid, dir, sig) ? "ok\n" : "failed\n");
}
