// Signalling the browser, one log line per signal.
#include <csignal>

#include "procinfo/procinfo.h"
#include "watchdog/watchdog.h"

void signal_process(int pid, int sig)
{
    g_print("%ssignalling process %d (%d)... ", prefix, pid, sig);
    // kill() with 0 or a negative pid addresses process groups: never.
    const bool sent = pid > 0 && kill(pid, sig) == 0;
    g_print(sent ? "ok\n" : "failed\n");
}
