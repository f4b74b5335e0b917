// The real binary at start-up: command line, memory total, the limit.
#include <csignal>

#include <gtest/gtest.h>

#include "support/display.h"
#include "support/fatal_line.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using support::Options;
using support::Watchdog;

const std::string usage_line = support::fatal_line("invalid usage");
const std::string config_line = support::fatal_line("invalid memory configuration");
const std::string swaps_header = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";

std::string startup_line(const std::string &pids, const std::string &total,
                         const std::string &diff)
{
    return support::log_line(pids + ", total_memory=" + total + ", memory_diff=" + diff);
}

TEST(CommandLine, AWrongCountOrOverflowingArgumentIsInvalidUsage)
{
    // No display: the command line is judged before the toolkit starts.
    const std::vector<std::string> cases[] = {
        {},
        {"1"},
        {"1", "2"},
        {"1", "2", "3", "4"},
        {"--display=:0", "1", "2", "3"},  // a toolkit option still counts
        {"4294967296", "2", "3"},
        {"1", "-4294967296", "3"},
        {"1", "2", "99999999999"},
    };
    for (const auto &args : cases) {
        Watchdog w;
        Options options;
        options.args = args;
        options.display = false;
        EXPECT_EQ(support::run(w, options), 1) << testing::PrintToString(args);
        EXPECT_EQ(w.log, usage_line) << testing::PrintToString(args);
        EXPECT_EQ(w.err(), "") << testing::PrintToString(args);
    }
}

TEST(CommandLine, AnUnknownSettingIsInvalidUsage)
{
    const std::pair<const char *, const char *> cases[] = {
        {"BROWSER_WATCHDOG_COUNT", "rss"},       {"BROWSER_WATCHDOG_COUNT", "Resident"},
        {"BROWSER_WATCHDOG_COUNT", "resident "}, {"BROWSER_WATCHDOG_COUNT", "sizes"},
        {"BROWSER_WATCHDOG_COUNT", "left"},      {"BROWSER_WATCHDOG_START", "Held"},
        {"BROWSER_WATCHDOG_START", "held "},     {"BROWSER_WATCHDOG_START", "1"},
        {"BROWSER_WATCHDOG_PERIOD", "3000"},     {"BROWSER_WATCHDOG_PERIOD", "Adaptive"},
        {"BROWSER_WATCHDOG_PERIOD", "shorter"},
    };
    for (const auto &[name, value] : cases) {
        Watchdog w;
        Options options;
        options.args = {"1", "2", "3"};
        options.display = false;
        options.env = {{name, value}};
        EXPECT_EQ(support::run(w, options), 1) << name << "=" << value;
        EXPECT_EQ(w.log, usage_line) << name << "=" << value;
    }
}

TEST(CommandLine, StartsOnThisMachine)
{
    const unsigned long total = support::machine_ram_kib() + support::machine_swap_kib();
    Watchdog w;
    Options options;
    options.args = {"123", "456", "1"};
    support::start(w, options);
    const std::string expected = startup_line("x_pid=123, moz_pid=456",
                                              std::to_string(total), "1024");
    EXPECT_TRUE(support::wait_for(w, "\n", 5));
    support::collect_for(w, 0.3);
    EXPECT_EQ(w.log, expected);
    EXPECT_FALSE(support::wait_end(w, 0)) << "it must go on watching";
}

struct StartCase {
    const char *name;
    std::string meminfo;
    std::string swaps;
    const char *reserve;
    std::string output;  // everything written
    bool runs;           // still watching afterwards, else exit status 1
};

void PrintTo(const StartCase &c, std::ostream *os)
{
    *os << c.name;
}


class StartUp : public testing::TestWithParam<StartCase> {};

TEST_P(StartUp, FixesTheLimitOrRefuses)
{
    REQUIRE_MOUNTS();
    const StartCase &c = GetParam();
    support::TempDir dir;
    Watchdog w;
    Options options;
    options.args = {"100", "200", c.reserve};
    options.mounts = {{dir.write("meminfo", c.meminfo), "/proc/meminfo"},
                      {dir.write("swaps", c.swaps), "/proc/swaps"}};
    if (c.runs) {
        support::start(w, options);
        support::wait_for(w, c.output, 5);
        support::collect_for(w, 0.3);
        EXPECT_EQ(w.log, c.output);
        EXPECT_FALSE(support::wait_end(w, 0)) << "it must go on watching";
    } else {
        EXPECT_EQ(support::run(w, options), 1);
        EXPECT_EQ(w.log, c.output);
    }
}

const std::string pids = "x_pid=100, moz_pid=200";

INSTANTIATE_TEST_SUITE_P(
    Table, StartUp,
    testing::Values(
        // The limit must exceed 10240 KiB: exactly 10240 is refused.
        StartCase{"LeavesExactly10240KiB", "MemTotal: 20480 kB\n", swaps_header, "10",
                  startup_line(pids, "20480", "10240") + config_line, false},
        StartCase{"Leaves10241KiB", "MemTotal: 20481 kB\n", swaps_header, "10",
                  startup_line(pids, "20481", "10240"), true},
        StartCase{"SwapCountsTowardsTheTotal", "MemTotal: 10000 kB\n",
                  swaps_header + "/dev/sda2                               partition\t11265\t0\t-2\n",
                  "10", startup_line(pids, "21265", "10240"), true},
        StartCase{"NoSwapFileWarnsNot", "MemTotal: 61440 kB\n", "", "12x",
                  startup_line(pids, "61440", "12288"), true},
        // A minus sign or 4 TiB must not wrap into an acceptable reserve.
        StartCase{"ReserveMinusFive", "MemTotal: 1000000 kB\n", swaps_header, "-5",
                  startup_line(pids, "1000000", "4398046505984") + config_line, false},
        StartCase{"ReserveMinusOne", "MemTotal: 1000000 kB\n", swaps_header, "-1",
                  startup_line(pids, "1000000", "4398046510080") + config_line, false},
        StartCase{"ReserveOfFourTiB", "MemTotal: 1000000 kB\n", swaps_header, "4194304",
                  startup_line(pids, "1000000", "4294967296") + config_line, false},
        StartCase{"LargestReserve", "MemTotal: 1000000 kB\n", swaps_header, "4294967295",
                  startup_line(pids, "1000000", "4398046510080") + config_line, false},
        StartCase{"RamNotANumber", "MemTotal: lots kB\n", swaps_header, "0",
                  startup_line(pids, "0", "0") + config_line, false},
        StartCase{"MeminfoWithTab", "MemTotal:\t1000 kB\n", swaps_header, "1",
                  support::fatal_line("cannot parse /proc/meminfo"), false},
        StartCase{"MeminfoEmpty", "", swaps_header, "1",
                  support::fatal_line("cannot read /proc/meminfo"), false},
        StartCase{"SwapAreaMalformed", "MemTotal: 1000000 kB\n", swaps_header + "/dev/sda2\n",
                  "1", support::fatal_line("cannot parse /proc/swaps"), false}),
    [](const testing::TestParamInfo<StartCase> &info) { return info.param.name; });

} // namespace
