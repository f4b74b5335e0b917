// One browser's life: started held, released by its watchdog's first
// check, ended with the watchdog, the X server and the session. The
// session's children and its signals are waited for here alone.
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
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

// The signals taken as events, and the mask the session found.
sigset_t taken;
sigset_t original_mask;

struct Child {
    pid_t pid;
    bool ended;
    int status;  // as a shell gives it: the exit status, or 128 + signal
};

// One browser and its watchdog.
struct Life {
    Child browser;
    Child watchdog;
    bool stopped;   // the browser is stopped (held, or frozen by the watchdog)
    bool released;  // the watchdog has continued it once
    std::int64_t released_ms;
    std::int64_t ended_ms;
    // The held browser writes here once continued, just before it becomes
    // the browser: a continue the browser outlives for an instant is
    // reported no more once it has ended.
    int release_pipe;
    bool watchdog_seen;  // its end has been acted on
};

int shell_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ignore_here(int) {}

[[noreturn]] void end_session(Life *life, int sig);
void reap_children(Life *life);

// Waits at most ms (for ever when negative) for one of the session's
// signals and handles it: a child's change is reaped, an ending signal
// ends the session.
void wait_for_signal(Life *life, int ms)
{
    const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    const int sig = sigtimedwait(&taken, nullptr, ms < 0 ? nullptr : &wait);
    if (sig == SIGTERM || sig == SIGHUP || sig == SIGINT)
        end_session(life, sig);
    // A child's change, or a wait cut short: whatever changed is reaped.
    reap_children(life);
}

// Waits at most ms for a child's change alone, and reaps it; any other
// signal stays pending.
void wait_for_child(Life *life, int ms)
{
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    sigtimedwait(&child, nullptr, &wait);
    reap_children(life);
}

// Ends the browser: SIGTERM, continued so that it takes it even if it is
// stopped, SIGKILL if it has not ended within the grace. One held since
// its start never ran: SIGKILL at once. It is the session's own child and
// is never signalled once reaped, so its pid is never another's.
void end_browser(Life &life)
{
    if (life.browser.pid <= 0 || life.browser.ended)
        return;
    if (life.stopped && !life.released) {
        kill(life.browser.pid, SIGKILL);
        return;
    }
    kill(life.browser.pid, SIGTERM);
    kill(life.browser.pid, SIGCONT);
    const std::int64_t until = now_ms() + end_grace_ms;
    for (std::int64_t left = end_grace_ms; !life.browser.ended && left > 0;
         left = until - now_ms())
        wait_for_child(&life, static_cast<int>(left));
    if (!life.browser.ended)
        kill(life.browser.pid, SIGKILL);
}

// The watchdog has ended: unless it ended the browser itself (status 0) or
// the browser has ended too, the browser is ended, for nothing watches it.
void watchdog_ended(Life &life)
{
    if (life.watchdog.status == 0 || life.browser.ended)
        return;
    const pid_t browser = life.browser.pid;
    const int status = life.watchdog.status;
    if (!x_server_runs(settings.x))
        say("the X server %d has ended: ending browser %d", settings.x.pid, browser);
    else if (life.stopped && !life.released)
        say("the watchdog ended with status %d before it released browser %d: ending the "
            "browser", status, browser);
    else if (life.stopped)
        say("the watchdog ended with status %d and left browser %d stopped: ending the "
            "browser", status, browser);
    else
        say("the watchdog ended with status %d while browser %d runs: ending the browser, "
            "which nothing watches", status, browser);
    end_browser(life);
}

// A change of the browser: stopped, continued or ended.
void browser_changed(Life &life, int status)
{
    if (WIFSTOPPED(status)) {
        life.stopped = true;
    } else if (WIFCONTINUED(status)) {
        life.stopped = false;
        if (!life.released)
            life.released_ms = now_ms();
        life.released = true;
    } else {
        life.browser.ended = true;
        life.browser.status = shell_status(status);
        life.ended_ms = now_ms();
        char byte = 0;
        if (!life.released && life.release_pipe >= 0 && read(life.release_pipe, &byte, 1) == 1) {
            life.released = true;
            life.released_ms = life.ended_ms;
        }
    }
}

// Reaps what changed among the children and records it: the browser's
// stops, releases and end, the watchdog's end, the log's forwarder. What
// that calls for is run_browser's to do.
void reap_children(Life *life)
{
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG | WUNTRACED | WCONTINUED)) > 0;) {
        if (forwarder_ended(pid, status) || life == nullptr)
            continue;
        if (pid == life->browser.pid && !life->browser.ended) {
            browser_changed(*life, status);
        } else if (pid == life->watchdog.pid && !life->watchdog.ended &&
                   (WIFEXITED(status) || WIFSIGNALED(status))) {
            life->watchdog.ended = true;
            life->watchdog.status = shell_status(status);
        }
    }
}

// Ends the session on sig: the browser and its watchdog first, then the
// session as by that signal.
void end_session(Life *life, int sig)
{
    const char *name = sig == SIGTERM ? "TERM" : sig == SIGHUP ? "HUP" : "INT";
    say("SIG%s: ending the browser and its watchdog", name);
    if (life != nullptr) {
        Child &watchdog = life->watchdog;
        if (watchdog.pid > 0 && !watchdog.ended)
            kill(watchdog.pid, SIGTERM);
        end_browser(*life);
        const std::int64_t until = now_ms() + end_grace_ms;
        for (std::int64_t left = end_grace_ms; watchdog.pid > 0 && !watchdog.ended && left > 0;
             left = until - now_ms())
            wait_for_child(life, static_cast<int>(left));
        if (watchdog.pid > 0 && !watchdog.ended)
            kill(watchdog.pid, SIGKILL);
        while (life->browser.pid > 0 && !life->browser.ended)
            wait_for_child(life, 1000);
    }
    // Ended as by that signal.
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    kill(getpid(), sig);
    _exit(128 + sig);
}

// Raises the browser's oom_score_adj: should memory run out between two
// checks, the kernel's OOM killer takes the browser, not the X server.
void aim_oom_killer(pid_t pid)
{
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%d/oom_score_adj", pid);
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    const bool raised = fd >= 0 && write(fd, "1000\n", 5) == 5;
    if (fd >= 0)
        close(fd);
    if (!raised)
        say("cannot raise the oom_score_adj of browser %d", pid);
}

// Starts the browser stopped before its first instruction; false when it
// ended instead.
bool start_held(Life &life)
{
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0)
        ends[0] = ends[1] = -1;
    life.browser = Child{fork(), false, 0};
    if (life.browser.pid == 0) {
        sigprocmask(SIG_SETMASK, &original_mask, nullptr);
        kill(getpid(), SIGSTOP);
        if (ends[1] >= 0 && write(ends[1], "r", 1) != 1)
            _exit(127);
        execvp(settings.browser_argv[0], settings.browser_argv);
        _exit(127);
    }
    if (ends[1] >= 0)
        close(ends[1]);
    life.release_pipe = ends[0];
    if (life.release_pipe >= 0)
        fcntl(life.release_pipe, F_SETFL, O_NONBLOCK);
    if (life.browser.pid < 0) {
        say("cannot start the browser: %s", std::strerror(errno));
        life.browser.ended = true;
        return false;
    }
    int status = 0;
    while (waitpid(life.browser.pid, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
    if (!WIFSTOPPED(status)) {
        life.browser.ended = true;
        life.browser.status = shell_status(status);
        life.ended_ms = now_ms();
        return false;
    }
    life.stopped = true;
    aim_oom_killer(life.browser.pid);
    return true;
}

void start_watchdog(Life &life, std::uint64_t reserve_mib)
{
    char x[16];
    char m[16];
    char reserve[24];
    std::snprintf(x, sizeof x, "%d", settings.x.pid);
    std::snprintf(m, sizeof m, "%d", life.browser.pid);
    std::snprintf(reserve, sizeof reserve, "%" PRIu64, reserve_mib);
    life.watchdog = Child{fork(), false, 0};
    if (life.watchdog.pid == 0) {
        sigprocmask(SIG_SETMASK, &original_mask, nullptr);
        setenv("BROWSER_WATCHDOG_START", "held", 1);
        const int output = watchdog_output();
        if (output >= 0 &&
            (dup2(output, STDOUT_FILENO) < 0 || dup2(output, STDERR_FILENO) < 0))
            _exit(127);
        char name[] = "browser-watchdog";
        char *const argv[] = {name, x, m, reserve, nullptr};
        execvp(name, argv);
        _exit(127);
    }
    if (life.watchdog.pid < 0)
        life.watchdog = Child{0, true, 126};
}

} // namespace

std::int64_t now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void take_signals()
{
    sigemptyset(&taken);
    struct sigaction action{};
    action.sa_handler = ignore_here;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGCHLD, SIGTERM, SIGHUP, SIGINT}) {
        sigaddset(&taken, sig);
        // A handler, never SIG_IGN: an ignored SIGCHLD would reap the
        // children unseen.
        sigaction(sig, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &taken, &original_mask);
}

void pause_ms(int ms)
{
    const std::int64_t until = now_ms() + ms;
    for (std::int64_t left = ms; left > 0; left = until - now_ms())
        wait_for_signal(nullptr, static_cast<int>(left));
}

Outcome run_browser(std::uint64_t reserve_mib, std::uint64_t &ran_s)
{
    ran_s = 0;
    Life life{};
    life.watchdog = Child{0, true, 0};
    life.release_pipe = -1;
    const bool held = start_held(life);
    if (held)
        start_watchdog(life, reserve_mib);
    const std::int64_t started_ms = now_ms();
    bool bound_kept = true;
    // Until the browser has ended, then until its watchdog has: it ends at
    // its next check once its browser is gone.
    while (held && (!life.browser.ended || !life.watchdog.ended)) {
        int wait = -1;
        if (!life.released && bound_kept && !life.browser.ended) {
            const std::int64_t left =
                started_ms + static_cast<std::int64_t>(held_bound_s) * 1000 - now_ms();
            if (left <= 0) {
                say("browser %d is still held %d s after its watchdog started, which has not "
                    "released it: ending the browser", life.browser.pid, held_bound_s);
                bound_kept = false;
                end_browser(life);
                continue;
            }
            wait = static_cast<int>(left);
        }
        if (life.watchdog.ended && !life.watchdog_seen) {
            life.watchdog_seen = true;
            watchdog_ended(life);
            continue;
        }
        wait_for_signal(&life, wait);
    }
    if (life.release_pipe >= 0)
        close(life.release_pipe);
    if (!held)
        return Outcome::never_ran;
    if (!life.released)
        return life.watchdog.status == 0 ? Outcome::stopped_at_start : Outcome::never_ran;
    ran_s = static_cast<std::uint64_t>((life.ended_ms - life.released_ms) / 1000);
    return Outcome::ran;
}
