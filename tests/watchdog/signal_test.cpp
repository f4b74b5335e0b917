// Signalling: one log line per signal, only ever the process held, and the
// freeze ended exactly once.
#include <csignal>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/fatal_line.h"
#include "support/process.h"
#include "watchdog/watchdog.h"

namespace {

using support::log_line;

std::string signalled(int pid, int dir, int sig)
{
    testing::internal::CaptureStdout();
    signal_process(pid, dir, sig);
    return testing::internal::GetCapturedStdout();
}

std::string line(int pid, int sig, const char *outcome)
{
    return log_line("signalling process " + std::to_string(pid) + " (" +
                    std::to_string(sig) + ")... " + outcome);
}

TEST(SignalProcess, LogsTheOutcomeOnOneLine)
{
    const int self_dir = open_process_dir(getpid());
    EXPECT_EQ(signalled(getpid(), self_dir, 0), line(getpid(), 0, "ok"));
    close(self_dir);

    support::Standin gone;
    const int gone_dir = open_process_dir(gone.pid);
    gone.end();
    EXPECT_EQ(signalled(gone.pid, gone_dir, SIGCONT), line(gone.pid, SIGCONT, "failed"));
    close(gone_dir);
}

TEST(SignalProcess, ReachesOnlyTheProcessItsHandleHolds)
{
    // A decoy's pid with the stand-in's handle: the handle wins. The decoy
    // is a process of its own, so a regression stops it, not this test.
    support::Standin standin;
    support::Standin decoy;
    const int dir = open_process_dir(standin.pid);
    EXPECT_EQ(signalled(decoy.pid, dir, SIGSTOP), line(decoy.pid, SIGSTOP, "ok"));
    EXPECT_EQ(support::await_state(standin.pid, 'T', 5), 'T');
    EXPECT_EQ(support::await_state(decoy.pid, 'S', 1), 'S');
    close(dir);

    // No handle: never kill() by pid, never a process group.
    for (const int pid : {standin.pid, 0, -1, -getpgrp()})
        EXPECT_EQ(signalled(pid, -1, 0), line(pid, 0, "failed"));
}

TEST(EndBrowser, SignalsOnlyWhileFrozenAndOnce)
{
    support::Standin browser;
    moz_pid = browser.pid;
    moz_dir = open_process_dir(browser.pid);
    moz_pidfd = open_pidfd(browser.pid, moz_dir);

    frozen = false;
    testing::internal::CaptureStdout();
    end_browser();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    frozen = true;
    testing::internal::CaptureStdout();
    end_browser();
    end_browser();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              line(browser.pid, SIGCONT, "ok") + line(browser.pid, SIGKILL, "ok"));
    EXPECT_FALSE(frozen);
    const int status = browser.reap(5);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    close(moz_dir);
    if (moz_pidfd >= 0)
        close(moz_pidfd);
}

} // namespace
