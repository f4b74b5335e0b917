// The session's signals, taken as events: a child that stopped, went on or
// ended, and the signals that end the session.
#include <cerrno>
#include <csignal>
#include <ctime>
#include <initializer_list>

#include "session/session.h"

namespace {

sigset_t taken;

void ignore_here(int) {}

} // namespace

sigset_t original_mask;

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

bool wait_for_child(int ms)
{
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    const bool woke = sigtimedwait(&child, nullptr, &wait) == SIGCHLD;
    reap_children();
    return woke;
}

void wait_for_signal(int ms)
{
    const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    const int sig = sigtimedwait(&taken, nullptr, ms < 0 ? nullptr : &wait);
    if (sig == SIGTERM || sig == SIGHUP || sig == SIGINT)
        end_session(sig);
    // A child's change, or a wait cut short: whatever changed is reaped.
    reap_children();
}

void pause_ms(int ms)
{
    const std::int64_t until = now_ms() + ms;
    for (std::int64_t left = ms; left > 0; left = until - now_ms())
        wait_for_signal(static_cast<int>(left));
}
