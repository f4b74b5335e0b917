// The swap reader on chosen swaps contents.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/readers.h"

namespace {

const std::string header = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";

TEST(SwapSize, ReadsTheFirstAreaOrNothing)
{
    support::expect_reads(read_swap_size, "swaps", {
        {header + "/dev/sda2                               partition\t1046524\t\t0\t\t-2\n",
         1046524},
        {header + "/swapfile                               file\t\t2097148\t\t512\t\t-2\n"
                  "/dev/sdb1                               partition\t999\t\t0\t\t-3\n",
         2097148},                          // only the first area counts
        {header, 0},                        // no swap active
        {"", 0},                            // empty file
        {"Filename\tType\tSize", 0},        // header without newline
        {header + "/a file\t1\t0\t-2", 1},  // last line without newline
    });
    // None of these has anything to say.
    EXPECT_EQ(support::read_content(read_swap_size, "swaps", header).warning, nullptr);
}

TEST(SwapSize, NoFileOrAnUnreadableOneCountsZeroWithAWarning)
{
    support::TempDir dir;
    const int handle = open(dir.dir.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(handle, 0);
    Reading reading = read_swap_size(handle);
    EXPECT_EQ(reading.error, nullptr);
    EXPECT_EQ(reading.value, 0u);
    EXPECT_EQ(reading.warning, swap_open_error);

    // Reading a directory fails with EISDIR.
    ASSERT_EQ(mkdir(dir.path("swaps").c_str(), 0755), 0);
    reading = read_swap_size(handle);
    EXPECT_EQ(reading.error, nullptr);
    EXPECT_EQ(reading.value, 0u);
    EXPECT_EQ(reading.warning, swap_read_error);
    close(handle);
}

TEST(SwapSize, AMalformedFirstAreaFails)
{
    for (const std::string area : {
             "/dev/sda2\n",                               // no blank after the name
             "/dev/sda2 partition\n",                     // none after the type
             "/dev/sda2 partition\t1046524\n",            // none after the size
             "/dev/sda2 partition\t1046524\n/b\tx\ty\n",  // nor lent by a later line
             "/dev/sda2 partition\t4294967296\t0\t-2\n",  // overflows
         }) {
        const Reading reading = support::read_content(read_swap_size, "swaps", header + area);
        EXPECT_EQ(reading.error, swap_parse_error) << area;
    }
}

// Every area, as the headroom count takes swap: a disk and the zram a
// device adds beside it, and the part of it that is zram.
Reading read_areas(int dir)
{
    std::uint64_t zram = 0;
    Reading all = read_swap_areas(dir, zram);
    // Both figures in one: zram in the high half.
    all.value += zram << 32;
    return all;
}

TEST(SwapAreas, EveryAreaAndTheZramAmongThem)
{
    const std::string disk = "/dev/sda2                               partition\t65532\t\t0\t\t-2\n";
    const std::string zram = "/dev/zram0                              partition\t32764\t\t60000\t\t100\n";
    support::expect_reads(read_areas, "swaps", {
        {header + disk, 65532},
        {header + zram + disk, 65532 + 32764 + (32764ull << 32)},
        {header + disk + zram + "/swapfile file\t1000\t0\t-3", 65532 + 32764 + 1000 + (32764ull << 32)},
        {header, 0},
        {"", 0},
    });
    support::expect_failed_reads(read_areas, "swaps", {
        {header + disk + "/dev/sdb1 partition\n", swap_parse_error},  // a later area broken
    }, nullptr);
}

TEST(SwapSize, ReadsThisMachine)
{
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(read_swap_size(proc).value, support::machine_swap_kib());
    close(proc);
}

} // namespace
