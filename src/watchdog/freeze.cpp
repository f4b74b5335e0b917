// The freeze of the browser: from its SIGSTOP to its SIGKILL.
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

#include "watchdog/watchdog.h"

bool frozen;

void freeze_browser()
{
    // Guarded before the browser stops, so that no moment is left in which
    // the program could end and leave it stopped.
    guard_freeze();
    frozen = true;
    signal_process(moz_pid, moz_dir, SIGSTOP);
    // The browser's tree: its other processes grow on otherwise.
    box_freeze(box);
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
    box_kill(box);
#ifdef SYS_process_mrelease
    // A device short of memory needs it back now, not when the browser's
    // exit gets scheduled. Missing before Linux 5.15: nothing lost.
    if (moz_pidfd >= 0)
        syscall(SYS_process_mrelease, moz_pidfd, 0);
#endif
}
