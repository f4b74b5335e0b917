// The statm and status readers on chosen contents and on live processes.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "procinfo/procinfo.h"
#include "support/fatal_line.h"
#include "support/files.h"
#include "support/process.h"
#include "support/readers.h"
#include "support/scene.h"
#include "watchdog/watchdog.h"

namespace {

// The stat fields after the state, the start time (the 19th) not a number.
std::string replaced_start(const std::string &fields)
{
    std::string replaced = fields;
    replaced.replace(replaced.find("123456"), 6, "12x456");
    return replaced;
}

// A /proc file of a running stand-in, as the kernel gives it now.
std::string proc_file(const support::Standin &standin, const char *name)
{
    return support::read_file("/proc/" + std::to_string(standin.pid) + "/" + name);
}

TEST(ProcessResident, AddsVmRssAndVmSwapWhereverTheyStand)
{
    support::expect_reads(read_process_resident, "status", {
        {support::status(1000, 500), 1500},  // VmSwap past the first 1024 bytes
        {"Name:\tx\nVmSwap:\t   7 kB\nVmRSS:\t  30 kB\n", 37},
        {"Name:\tx\nVmRSS:\t4294967295 kB\nVmSwap:\t0 kB\n", 4294967295u},
    });
}

TEST(ProcessResident, FailsWithTheStatusMessages)
{
    support::expect_failed_reads(read_process_resident, "status", {
        {"", status_read_error},
        {"Name:\tx\nVmRSS:\t30 kB\n", status_parse_error},   // a kernel without VmSwap
        {"Name:\tx\nVmSwap:\t0 kB\n", status_parse_error},   // a process without memory
        {"Name:\tx\nVmRSS:\t18446744073709551616 kB\nVmSwap:\t0 kB\n", status_parse_error},
        {"Name:\tx\nVmRSS:\t30\nVmSwap:\t0 kB\n", status_parse_error},  // no blank in its line
    }, status_open_error);
}

// A share for the limit line: VmRSS alone where the kernel has no VmSwap
// (before 2.6.34), where the resident count itself cannot run.
TEST(ProcessShare, VmRssAloneWithoutVmSwap)
{
    support::expect_reads(read_process_share, "status", {
        {"Name:\tx\nVmRSS:\t30 kB\n", 30},
        {"Name:\tx\nVmSwap:\t   7 kB\nVmRSS:\t  30 kB\n", 37},
    });
    support::expect_failed_reads(read_process_share, "status", {
        {"Name:\tx\nVmSwap:\t0 kB\n", status_parse_error},
    }, status_open_error);
}

TEST(ProcessResident, ReadsALiveProcessAndFailsOnceItHasEnded)
{
    support::Standin standin;
    ASSERT_TRUE(standin.ready);
    const int dir = open_process_dir(standin.pid);
    ASSERT_GE(dir, 0);
    const std::string status = proc_file(standin, "status");
    unsigned long rss = 0;
    unsigned long swap = 0;
    ASSERT_EQ(std::sscanf(std::strstr(status.c_str(), "VmRSS:"), "VmRSS: %lu", &rss), 1);
    ASSERT_EQ(std::sscanf(std::strstr(status.c_str(), "VmSwap:"), "VmSwap: %lu", &swap), 1);
    EXPECT_GT(rss, 0u);
    EXPECT_EQ(read_process_resident(dir).value, rss + swap);
    EXPECT_EQ(check_process(dir), nullptr);
    standin.end();
    EXPECT_EQ(read_process_resident(dir).error, status_open_error);
    EXPECT_EQ(check_process(dir), status_open_error);
    close(dir);
}

TEST(ProcessMemory, TakesTheFirstFieldOfTheFirstLine)
{
    support::expect_reads(read_process_pages, "statm", {
        {"730 452 424 5 0 89 0\n", 730},
        {"0 0 0 0 0 0 0\n", 0},                   // exited, not yet reaped
        {"4294967295 1 1 1 0 1 0\n", 4294967295u},
        {"12\t34 5\n", 12},  // cut at the space: "12\t34" converts to 12
        {"731 1 1", 731},    // no newline at the end
    });
}

TEST(ProcessMemory, FailsWithTheStatmMessages)
{
    support::expect_failed_reads(read_process_pages, "statm", {
        {"", statm_read_error},
        {"730\n", statm_parse_error},
        {"730\n 452 424\n", statm_parse_error},  // a later line lends no blank
        {"abc", statm_parse_error},
        {"4294967296 1 1 1 0 1 0\n", statm_parse_error},
    }, statm_open_error);
}

TEST(ProcessMemory, ReadsALiveProcessAndFailsOnceItHasEnded)
{
    // A stand-in, not this process: a sanitizer build reserves more address
    // space than 32 bits of pages can count.
    support::Standin standin;
    ASSERT_TRUE(standin.ready);
    const int dir = open_process_dir(standin.pid);
    ASSERT_GE(dir, 0);
    const std::string statm = proc_file(standin, "statm");
    unsigned long pages = 0;
    ASSERT_EQ(std::sscanf(statm.c_str(), "%lu", &pages), 1);
    const Reading read = read_process_pages(dir);
    EXPECT_GT(read.value, 0u);
    EXPECT_EQ(read.value, pages);

    EXPECT_EQ(open_process_dir(0), -1);
    EXPECT_EQ(open_process_dir(-1), -1);
    EXPECT_EQ(read_process_pages(-1).error, statm_open_error);
    standin.end();
    EXPECT_EQ(read_process_pages(dir).error, statm_open_error);
    close(dir);
}

// A process's state and start, from its stat: the fields after the last
// ")" of its name, whatever the name holds.
TEST(ProcessStat, TheStateAndStartAfterTheName)
{
    const std::string fields = " 1 42 42 0 -1 4194560 96 0 0 0 0 0 0 0 20 0 1 0 123456 2367488 133\n";
    struct Case {
        std::string content;
        const char *error;
        char state;
        std::uint64_t since;
    };
    const Case cases[] = {
        {"42 (sleep) S" + fields, nullptr, 'S', 123456},
        {"42 (a) (b) ) T" + fields, nullptr, 'T', 123456},
        {"42 (sleep) Z 1 42 42\n", stat_parse_error, 0, 0},  // too few fields
        {"42 sleep S" + fields, stat_parse_error, 0, 0},
        {"42 (sleep) S" + replaced_start(fields), stat_parse_error, 0, 0},
        {"", stat_read_error, 0, 0},
    };
    for (const Case &c : cases) {
        support::TempDir dir;
        dir.write("stat", c.content);
        const int handle = open(dir.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ProcessStat stat{'?', 1};
        EXPECT_EQ(read_process_stat(handle, stat), c.error) << c.content;
        if (c.error == nullptr) {
            EXPECT_EQ(stat.state, c.state) << c.content;
            EXPECT_EQ(stat.since, c.since) << c.content;
        }
        close(handle);
    }

    // A live stand-in, stopped, then gone.
    support::Standin standin;
    ASSERT_TRUE(standin.ready);
    const int dir = open_process_dir(standin.pid);
    unsigned long long since = 0;
    const std::string stat_line = proc_file(standin, "stat");
    ASSERT_EQ(std::sscanf(std::strrchr(stat_line.c_str(), ')') + 2,
                          "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d "
                          "%*d %*d %llu", &since), 1);
    kill(standin.pid, SIGSTOP);
    ASSERT_EQ(support::await_state(standin.pid, 'T', 5), 'T');
    ProcessStat stat{};
    EXPECT_EQ(read_process_stat(dir, stat), nullptr);
    EXPECT_EQ(stat.state, 'T');
    EXPECT_EQ(stat.since, since);
    standin.end();
    EXPECT_EQ(read_process_stat(dir, stat), stat_open_error);
    close(dir);
}

} // namespace
