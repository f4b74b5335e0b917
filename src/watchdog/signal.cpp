// Signalling the browser, one log line per signal, and ending the freeze.
#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

#include "procinfo/procinfo.h"
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

void end_browser()
{
    if (!frozen)
        return;
    frozen = false;
    // Continue before killing, so the kill is not left pending on a
    // stopped process.
    signal_process(moz_pid, moz_dir, SIGCONT);
    signal_process(moz_pid, moz_dir, SIGKILL);
#ifdef SYS_process_mrelease
    // A device short of memory needs it back now, not when the browser's
    // exit gets scheduled. Missing before Linux 5.15: nothing lost.
    if (moz_pidfd >= 0)
        syscall(SYS_process_mrelease, moz_pidfd, 0);
#endif
}
