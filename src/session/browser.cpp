// One browser's life: started held in a box of its own, released by its
// watchdog's first check, ended with its whole tree, the watchdog, the X
// server and the session. The session's children and its signals are
// waited for here alone.
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <sys/prctl.h>
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
// How long a browser or a watchdog asked to end may take before it is
// killed.
constexpr int end_grace_ms = 5000;

// The signals taken as events (SIGIO: the held browser's word that it was
// released), and the mask the session found.
sigset_t taken;
sigset_t original_mask;

struct Child {
    pid_t pid;
    bool ended;
    int status;  // as a shell gives it: the exit status, or 128 + signal
};

// One browser, its box and its watchdog.
struct Life {
    Child browser;
    Child watchdog;
    Box box;
    bool stopped;   // the browser is stopped (held, or by its watchdog, or by anyone)
    bool released;  // its watchdog released it: it said so, before it became the browser
    std::int64_t released_ms;
    std::int64_t ended_ms;
    // The held browser's word that its watchdog released it, written just
    // before it becomes the browser; SIGIO says it came.
    int release_pipe;
    // Where the held browser learns its watchdog's pid.
    int watchdog_pipe;
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
// signals and handles it: a child's change or the browser's word is
// taken, an ending signal ends the session.
void wait_for_signal(Life *life, int ms)
{
    const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    const int sig = sigtimedwait(&taken, nullptr, ms < 0 ? nullptr : &wait);
    if (sig == SIGTERM || sig == SIGHUP || sig == SIGINT)
        end_session(life, sig);
    // A child's change, a word, or a wait cut short: whatever changed.
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

// Waits at most end_grace_ms for child to end.
void await_end(Life &life, const Child &child)
{
    const std::int64_t until = now_ms() + end_grace_ms;
    for (std::int64_t left = end_grace_ms; child.pid > 0 && !child.ended && left > 0;
         left = until - now_ms())
        wait_for_child(&life, static_cast<int>(left));
}

// Kills the box's tree, the browser with it, and waits for it to empty:
// the session reaps whatever of the tree was left to it.
void kill_box(Life &life)
{
    box_kill(life.box);
    if (life.browser.pid > 0 && !life.browser.ended)
        kill(life.browser.pid, SIGKILL);
    for (int round = 0; round < 100 && box_populated(life.box); ++round)
        wait_for_child(&life, 10);
}

// Ends the browser and its tree. One its watchdog has not released never
// ran, and one stopped (frozen at the limit, or held by anyone) is not
// resumed to run unwatched: its box is killed at once. A running one gets
// SIGTERM, continued so that it takes it, then its box is killed once it
// has ended or the grace has passed. It is the session's own child and is
// never signalled once reaped, so its pid is never another's.
void end_browser(Life &life)
{
    if (life.browser.pid <= 0 || life.browser.ended) {
        kill_box(life);
        return;
    }
    if (!life.released || life.stopped || box_frozen(life.box)) {
        kill_box(life);
        return;
    }
    kill(life.browser.pid, SIGTERM);
    kill(life.browser.pid, SIGCONT);
    await_end(life, life.browser);
    kill_box(life);
}

// Ends the watchdog: SIGTERM, SIGKILL after the grace.
void end_watchdog(Life &life)
{
    if (life.watchdog.pid <= 0 || life.watchdog.ended)
        return;
    kill(life.watchdog.pid, SIGTERM);
    await_end(life, life.watchdog);
    if (!life.watchdog.ended)
        kill(life.watchdog.pid, SIGKILL);
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
    else if (!life.released)
        say("the watchdog ended with status %d before it released browser %d: ending the "
            "browser", status, browser);
    else if (life.stopped || box_frozen(life.box))
        say("the watchdog ended with status %d and left browser %d stopped: ending the "
            "browser", status, browser);
    else
        say("the watchdog ended with status %d while browser %d runs: ending the browser, "
            "which nothing watches", status, browser);
    end_browser(life);
}

// Takes the held browser's word that its watchdog released it.
void take_release(Life &life)
{
    char byte = 0;
    if (!life.released && life.release_pipe >= 0 && read(life.release_pipe, &byte, 1) == 1) {
        life.released = true;
        life.released_ms = now_ms();
    }
}

// A change of the browser: stopped, continued or ended.
void browser_changed(Life &life, int status)
{
    if (WIFSTOPPED(status)) {
        life.stopped = true;
    } else if (WIFCONTINUED(status)) {
        life.stopped = false;
    } else {
        take_release(life);
        life.browser.ended = true;
        life.browser.status = shell_status(status);
        life.ended_ms = now_ms();
    }
}

// Reaps what changed among the children and records it: the browser's
// stops, continues, word and end, the watchdog's end, the log's forwarder,
// and what of a box's tree was left to the session. What that calls for is
// run_browser's to do.
void reap_children(Life *life)
{
    if (life != nullptr)
        take_release(*life);
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

// Ends the session on sig: the watchdog, the browser and its box, then the
// session as by that signal. The watchdog's end is no event then.
void end_session(Life *life, int sig)
{
    const char *name = sig == SIGTERM ? "TERM" : sig == SIGHUP ? "HUP" : "INT";
    say("SIG%s: ending the browser and its watchdog", name);
    if (life != nullptr) {
        if (life->watchdog.pid > 0 && !life->watchdog.ended)
            kill(life->watchdog.pid, SIGTERM);
        end_browser(*life);
        end_watchdog(*life);
        while (life->browser.pid > 0 && !life->browser.ended)
            wait_for_child(life, 1000);
        box_remove(settings.box, life->browser.pid, life->box);
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

// The held browser, in the child: stops itself, and becomes the browser
// only once continued by its watchdog, whose pid the session writes to
// from_session. Any other continue leaves it waiting, continued but held:
// a stop would throw away a release that came meanwhile. Its signals are a
// browser's, and it dies with the session.
[[noreturn]] void hold(pid_t session, int from_session, int to_session)
{
    struct sigaction defaults{};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (const int sig : {SIGCHLD, SIGTERM, SIGHUP, SIGINT, SIGIO})
        sigaction(sig, &defaults, nullptr);
    sigset_t held = original_mask;
    sigaddset(&held, SIGCONT);
    sigprocmask(SIG_SETMASK, &held, nullptr);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != session)
        _exit(127);
    setpgid(0, 0);
    kill(getpid(), SIGSTOP);
    sigset_t cont;
    sigemptyset(&cont);
    sigaddset(&cont, SIGCONT);
    pid_t watchdog = 0;
    for (;;) {
        siginfo_t info{};
        if (sigwaitinfo(&cont, &info) != SIGCONT)
            continue;
        if (watchdog == 0 && read(from_session, &watchdog, sizeof watchdog) != sizeof watchdog)
            _exit(127);
        if (info.si_pid == watchdog)
            break;
    }
    sigprocmask(SIG_SETMASK, &original_mask, nullptr);
    if (write(to_session, "r", 1) != 1)
        _exit(127);
    execvp(settings.browser_argv[0], settings.browser_argv);
    _exit(127);
}

// Starts the browser stopped before its first instruction, in its box;
// false when it ended instead.
bool start_held(Life &life)
{
    int release[2] = {-1, -1};
    int word[2] = {-1, -1};
    if (pipe2(release, O_CLOEXEC) != 0 || pipe2(word, O_CLOEXEC) != 0) {
        say("cannot start the browser: %s", std::strerror(errno));
        return false;
    }
    const pid_t session = getpid();
    life.browser = Child{fork(), false, 0};
    if (life.browser.pid == 0)
        hold(session, word[0], release[1]);
    close(release[1]);
    close(word[0]);
    life.release_pipe = release[0];
    life.watchdog_pipe = word[1];
    // The word comes as SIGIO, one of the signals waited for.
    fcntl(life.release_pipe, F_SETOWN, session);
    fcntl(life.release_pipe, F_SETFL, O_NONBLOCK | O_ASYNC);
    if (life.browser.pid < 0) {
        say("cannot start the browser: %s", std::strerror(errno));
        life.browser.ended = true;
        return false;
    }
    setpgid(life.browser.pid, life.browser.pid);
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
    char box[1024];
    std::snprintf(x, sizeof x, "%d", settings.x.pid);
    std::snprintf(m, sizeof m, "%d", life.browser.pid);
    std::snprintf(reserve, sizeof reserve, "%" PRIu64, reserve_mib);
    box_make(settings.box, life.browser.pid, life.box, box, sizeof box);
    life.watchdog = Child{fork(), false, 0};
    if (life.watchdog.pid == 0) {
        sigprocmask(SIG_SETMASK, &original_mask, nullptr);
        setenv("BROWSER_WATCHDOG_START", "held", 1);
        setenv("BROWSER_WATCHDOG_BOX", box, 1);
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
    else if (write(life.watchdog_pipe, &life.watchdog.pid, sizeof life.watchdog.pid) !=
             sizeof life.watchdog.pid)
        say("cannot tell browser %d its watchdog", life.browser.pid);
}

// Waits until the browser and its watchdog have ended, ending the browser
// held past the bound, and the watchdog with it.
void watch(Life &life)
{
    const std::int64_t started_ms = now_ms();
    bool bound_kept = true;
    // Until the browser has ended, then until its watchdog has: it ends at
    // its next check once its browser is gone.
    while (!life.browser.ended || !life.watchdog.ended) {
        if (life.watchdog.ended && !life.watchdog_seen) {
            life.watchdog_seen = true;
            watchdog_ended(life);
            continue;
        }
        int wait = -1;
        if (!life.released && bound_kept && !life.browser.ended) {
            const std::int64_t left =
                started_ms + static_cast<std::int64_t>(held_bound_s) * 1000 - now_ms();
            if (left <= 0) {
                say("browser %d is still held %d s after its watchdog started, which has not "
                    "released it: ending the browser", life.browser.pid, held_bound_s);
                bound_kept = false;
                end_browser(life);
                end_watchdog(life);
                continue;
            }
            wait = static_cast<int>(left);
        }
        wait_for_signal(&life, wait);
    }
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
    for (const int sig : {SIGCHLD, SIGTERM, SIGHUP, SIGINT, SIGIO}) {
        sigaddset(&taken, sig);
        // A handler, never SIG_IGN: an ignored SIGCHLD would reap the
        // children unseen.
        sigaction(sig, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &taken, &original_mask);
    // What of a box's tree its browser leaves behind comes to the session,
    // to be reaped.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
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
    life.box = no_box;
    life.watchdog = Child{0, true, 0};
    life.release_pipe = life.watchdog_pipe = -1;
    const bool held = start_held(life);
    if (held) {
        start_watchdog(life, reserve_mib);
        watch(life);
        // Nothing of the box outlives its browser.
        kill_box(life);
        box_remove(settings.box, life.browser.pid, life.box);
    }
    for (const int fd : {life.release_pipe, life.watchdog_pipe})
        if (fd >= 0)
            close(fd);
    if (!held)
        return Outcome::never_ran;
    if (!life.released)
        return life.watchdog.status == 0 ? Outcome::stopped_at_start : Outcome::never_ran;
    ran_s = static_cast<std::uint64_t>((life.ended_ms - life.released_ms) / 1000);
    return Outcome::ran;
}
