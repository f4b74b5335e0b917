// One browser's life: started held, released by its watchdog's first
// check, ended with the watchdog, the X server and the session.
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "session/session.h"

namespace {

// A held browser its watchdog has not released within this is ended. The
// watchdog's first check comes at once after its start, its toolkit's
// start-up: 1 to 3 s on the emulated 48 MiB device, 10 s seen there with
// the host loaded; well above that, so as never to end a browser that a
// slow device was about to release.
constexpr int held_bound_s = 30;
// How long a browser asked to end may take before it is killed, and its
// watchdog.
constexpr int end_grace_ms = 5000;

struct Child {
    pid_t pid;
    bool ended;
    int status;  // as a shell gives it: the exit status, or 128 + signal
};

Child browser;
bool stopped;   // the browser is stopped (held, or frozen by the watchdog)
bool released;  // the watchdog has continued it once
std::int64_t released_ms;
std::int64_t ended_ms;
Child watchdog;
// The held browser writes here once continued, just before it becomes the
// browser: a continue the browser outlives for an instant is reported no
// more once it has ended.
int release_pipe = -1;

int shell_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ends the browser: SIGTERM, continued so that it takes it even if it is
// stopped, SIGKILL if it has not ended within the grace. One held since
// its start never ran: SIGKILL at once. It is the session's own child and
// is never signalled once reaped, so its pid is never another's.
void end_browser()
{
    if (browser.pid <= 0 || browser.ended)
        return;
    if (stopped && !released) {
        kill(browser.pid, SIGKILL);
        return;
    }
    kill(browser.pid, SIGTERM);
    kill(browser.pid, SIGCONT);
    const std::int64_t until = now_ms() + end_grace_ms;
    for (std::int64_t left = end_grace_ms; !browser.ended && left > 0; left = until - now_ms())
        wait_for_child(static_cast<int>(left));
    if (!browser.ended)
        kill(browser.pid, SIGKILL);
}

// The watchdog has ended: unless it ended the browser itself (status 0) or
// the browser has ended too, the browser is ended, for nothing watches it.
void watchdog_ended()
{
    if (watchdog.status == 0 || browser.ended)
        return;
    char state = 0;
    std::uint64_t since = 0;
    if (!read_stat(x_pid, state, since) || state == 'Z')
        say("the X server %d has ended: ending browser %d", x_pid, browser.pid);
    else if (stopped && !released)
        say("the watchdog ended with status %d before it released browser %d: ending the "
            "browser", watchdog.status, browser.pid);
    else if (stopped)
        say("the watchdog ended with status %d and left browser %d stopped: ending the "
            "browser", watchdog.status, browser.pid);
    else
        say("the watchdog ended with status %d while browser %d runs: ending the browser, "
            "which nothing watches", watchdog.status, browser.pid);
    end_browser();
}

// Starts the browser stopped before its first instruction; false when it
// ended instead.
bool start_held()
{
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0)
        ends[0] = ends[1] = -1;
    browser = Child{fork(), false, 0};
    if (browser.pid == 0) {
        sigprocmask(SIG_SETMASK, &original_mask, nullptr);
        kill(getpid(), SIGSTOP);
        if (ends[1] >= 0 && write(ends[1], "r", 1) != 1)
            _exit(127);
        execvp(browser_argv[0], browser_argv);
        _exit(127);
    }
    if (ends[1] >= 0)
        close(ends[1]);
    release_pipe = ends[0];
    if (release_pipe >= 0)
        fcntl(release_pipe, F_SETFL, O_NONBLOCK);
    stopped = released = false;
    if (browser.pid < 0) {
        say("cannot start the browser: %s", std::strerror(errno));
        browser.ended = true;
        return false;
    }
    int status = 0;
    while (waitpid(browser.pid, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
    if (!WIFSTOPPED(status)) {
        browser.ended = true;
        browser.status = shell_status(status);
        ended_ms = now_ms();
        return false;
    }
    stopped = true;
    // Should memory run out between two checks, the kernel's OOM killer
    // takes the browser, not the X server.
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/oom_score_adj", browser.pid);
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    const bool raised = fd >= 0 && write(fd, "1000\n", 5) == 5;
    if (fd >= 0)
        close(fd);
    if (!raised)
        say("cannot raise the oom_score_adj of browser %d", browser.pid);
    return true;
}

void start_watchdog()
{
    char x[16];
    char m[16];
    char reserve[24];
    std::snprintf(x, sizeof x, "%d", x_pid);
    std::snprintf(m, sizeof m, "%d", browser.pid);
    std::snprintf(reserve, sizeof reserve, "%" PRIu64, reserve_mib);
    watchdog = Child{fork(), false, 0};
    if (watchdog.pid == 0) {
        sigprocmask(SIG_SETMASK, &original_mask, nullptr);
        setenv("BROWSER_WATCHDOG_START", "held", 1);
        if (watchdog_log >= 0 && dup2(watchdog_log, STDOUT_FILENO) < 0)
            _exit(127);
        char name[] = "browser-watchdog";
        char *const argv[] = {name, x, m, reserve, nullptr};
        execvp(name, argv);
        _exit(127);
    }
    if (watchdog.pid < 0) {
        watchdog = Child{0, true, 126};
        watchdog_ended();
    }
}

} // namespace

void reap_children()
{
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG | WUNTRACED | WCONTINUED)) > 0;) {
        if (pid == browser.pid && !browser.ended) {
            if (WIFSTOPPED(status)) {
                stopped = true;
            } else if (WIFCONTINUED(status)) {
                stopped = false;
                if (!released)
                    released_ms = now_ms();
                released = true;
            } else {
                browser.ended = true;
                browser.status = shell_status(status);
                ended_ms = now_ms();
                char byte = 0;
                if (!released && release_pipe >= 0 && read(release_pipe, &byte, 1) == 1) {
                    released = true;
                    released_ms = ended_ms;
                }
            }
        } else if (pid == watchdog.pid && !watchdog.ended &&
                   (WIFEXITED(status) || WIFSIGNALED(status))) {
            watchdog.ended = true;
            watchdog.status = shell_status(status);
            watchdog_ended();
        }
    }
}

Outcome run_browser(std::uint64_t &ran_s)
{
    ran_s = 0;
    watchdog = Child{0, true, 0};
    if (!start_held()) {
        if (release_pipe >= 0)
            close(release_pipe);
        release_pipe = -1;
        return Outcome::never_ran;
    }
    start_watchdog();
    const std::int64_t started_ms = now_ms();
    bool bound_kept = true;
    // Until the browser has ended, then until its watchdog has: it ends at
    // its next check once its browser is gone.
    while (!browser.ended || !watchdog.ended) {
        int wait = -1;
        if (!released && bound_kept && !browser.ended) {
            const std::int64_t left =
                started_ms + static_cast<std::int64_t>(held_bound_s) * 1000 - now_ms();
            if (left <= 0) {
                say("browser %d is still held %d s after its watchdog started, which has not "
                    "released it: ending the browser", browser.pid, held_bound_s);
                bound_kept = false;
                end_browser();
                continue;
            }
            wait = static_cast<int>(left);
        }
        wait_for_signal(wait);
    }
    browser.pid = 0;
    watchdog.pid = 0;
    if (release_pipe >= 0)
        close(release_pipe);
    release_pipe = -1;
    if (!released)
        return watchdog.status == 0 ? Outcome::stopped_at_start : Outcome::never_ran;
    ran_s = static_cast<std::uint64_t>((ended_ms - released_ms) / 1000);
    return Outcome::ran;
}

void end_session(int sig)
{
    const char *name = sig == SIGTERM ? "TERM" : sig == SIGHUP ? "HUP" : "INT";
    say("SIG%s: ending the browser and its watchdog", name);
    if (watchdog.pid > 0 && !watchdog.ended)
        kill(watchdog.pid, SIGTERM);
    end_browser();
    const std::int64_t until = now_ms() + end_grace_ms;
    for (std::int64_t left = end_grace_ms; watchdog.pid > 0 && !watchdog.ended && left > 0;
         left = until - now_ms())
        wait_for_child(static_cast<int>(left));
    if (watchdog.pid > 0 && !watchdog.ended)
        kill(watchdog.pid, SIGKILL);
    while (browser.pid > 0 && !browser.ended)
        wait_for_child(1000);
    // Ended as by that signal.
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    kill(getpid(), sig);
    _exit(128 + sig);
}
