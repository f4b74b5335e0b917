// The RAM reader on chosen /proc/meminfo contents.
#include <gtest/gtest.h>

#include "procinfo/procinfo.h"
#include "support/fatal_line.h"
#include "support/files.h"

namespace {

struct RamCase {
    const char *content;
    std::uint32_t kib;
};

TEST(RamSize, TakesTheSecondFieldOfTheFirstLine)
{
    const RamCase cases[] = {
        {"MemTotal:       24683772 kB\nMemFree:        24034224 kB\n", 24683772},
        {"MemTotal: 61440 kB\n", 61440},
        {"Anything:  12 kB", 12},            // label and unit are not compared
        {"MemTotal: 4294967295 kB\n", 4294967295u},
        {"MemTotal:  lots kB\n", 0},         // not a number: 0
        {"MemTotal:  -1 kB\n", 4294967295u}, // the unsigned negation
    };
    support::TempDir dir;
    for (const RamCase &c : cases)
        EXPECT_EQ(read_ram_size(dir.write("meminfo", c.content).c_str()), c.kib)
            << c.content;
}

TEST(RamSize, EveryFailureIsFatal)
{
    const struct {
        const char *content;
        const char *message;
    } cases[] = {
        {"", mem_read_error},
        {"MemTotal:\t1000 kB\n", mem_parse_error},  // the space wins: no blank after "kB"
        {"MemTotal:\n", mem_parse_error},
        {"MemTotal: 1000\n", mem_parse_error},
        {"MemTotal: 4294967296 kB\n", mem_parse_error},
    };
    support::TempDir dir;
    for (const auto &c : cases) {
        const std::string path = dir.write("meminfo", c.content);
        EXPECT_FATAL(read_ram_size(path.c_str()), c.message) << c.content;
    }
    EXPECT_FATAL(read_ram_size(dir.path("missing").c_str()), mem_open_error);
}

TEST(RamSize, ReadsThisMachine)
{
    EXPECT_EQ(get_ram_size(), support::machine_ram_kib());
}

} // namespace
