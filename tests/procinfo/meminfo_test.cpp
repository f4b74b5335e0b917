// The RAM reader on chosen meminfo contents.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/readers.h"

namespace {

TEST(RamSize, TakesTheSecondFieldOfTheFirstLine)
{
    support::expect_reads(read_ram_size, "meminfo", {
        {"MemTotal:       24683772 kB\nMemFree:        24034224 kB\n", 24683772},
        {"MemTotal: 61440 kB\n", 61440},
        {"Anything:  12 kB", 12},            // label and unit are not compared
        {"MemTotal: 4294967295 kB\n", 4294967295u},
        {"MemTotal:  lots kB\n", 0},         // not a number: 0
        {"MemTotal:  -1 kB\n", 4294967295u}, // the unsigned negation
    });
}

TEST(RamSize, FailsWithTheMeminfoMessages)
{
    support::expect_failed_reads(read_ram_size, "meminfo", {
        {"", mem_read_error},
        {"MemTotal:\t1000 kB\n", mem_parse_error},  // the space wins: no blank after "kB"
        {"MemTotal:\n", mem_parse_error},
        {"MemTotal: 1000\n", mem_parse_error},
        {"MemTotal: 1000\nMemFree: 5 kB\n", mem_parse_error},  // a later line lends no blank
        {"MemTotal: 4294967296 kB\n", mem_parse_error},
    }, mem_open_error);
}

TEST(RamSize, ReadsThisMachine)
{
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(read_ram_size(proc).value, support::machine_ram_kib());
    close(proc);
}

} // namespace
