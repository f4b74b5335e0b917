// Signalling: one log line per signal, and never a process group.
#include <csignal>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/process.h"
#include "watchdog/watchdog.h"

namespace {

std::string signalled(int pid, int sig)
{
    testing::internal::CaptureStdout();
    signal_process(pid, sig);
    return testing::internal::GetCapturedStdout();
}

TEST(SignalProcess, LogsTheOutcomeOnOneLine)
{
    const int self = getpid();
    EXPECT_EQ(signalled(self, 0),
              "Browser controller: signalling process " + std::to_string(self) +
                  " (0)... ok\n");

    support::Standin gone;
    const int gone_pid = gone.pid;
    gone.end();
    EXPECT_EQ(signalled(gone_pid, SIGCONT),
              "Browser controller: signalling process " + std::to_string(gone_pid) +
                  " (" + std::to_string(SIGCONT) + ")... failed\n");
}

TEST(SignalProcess, NeverAddressesAProcessGroup)
{
    // kill(0, 0) and kill(-1, 0) would succeed; the pid alone must refuse.
    EXPECT_EQ(signalled(0, 0), "Browser controller: signalling process 0 (0)... failed\n");
    EXPECT_EQ(signalled(-1, 0), "Browser controller: signalling process -1 (0)... failed\n");
    EXPECT_EQ(signalled(-getpgrp(), 0),
              "Browser controller: signalling process " + std::to_string(-getpgrp()) +
                  " (0)... failed\n");
}

} // namespace
