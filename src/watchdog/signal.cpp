// Signalling a watched process, one log line per signal.
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
#endif
    // Refused: a kernel before 5.1 lacks the call, and a policy may forbid
    // it. kill() by pid, and only while the handle still names a live
    // process; a pid reused between the two calls is the one case this
    // cannot rule out.
    return pid > 0 && process_alive(dir) && kill(pid, sig) == 0;
}

} // namespace

bool signal_process(int pid, int dir, int sig)
{
    g_print("%ssignalling process %d (%d)... ", prefix, pid, sig);
    const bool sent = send_signal(pid, dir, sig);
    g_print(sent ? "ok\n" : "failed\n");
    return sent;
}
