// What the device has left, on chosen meminfo contents: the figures that do
// not move with the kernel's watermarks, taken by name wherever they stand,
// the free swap of every area, and free zram at what it gives back.
#include <string>

#include <gtest/gtest.h>

#include "support/readers.h"

namespace {

// Swap disks only.
Reading read_left(int proc)
{
    return read_device_left(proc, 0);
}

// Beside them, 32768 KiB of zram.
Reading read_left_zram(int proc)
{
    return read_device_left(proc, 32768);
}

// The emulated 64 MiB device at rest, with its Normal zone's watermarks
// boosted: MemAvailable is 26148, what is left 16240 + 4256 + 9296 + 5808
// of RAM and all the swap.
const char *const device_at_rest =
    "MemTotal:          49492 kB\nMemFree:           16240 kB\nMemAvailable:      26148 kB\n"
    "Buffers:             516 kB\nCached:            15256 kB\nSwapCached:            0 kB\n"
    "Active:             4260 kB\nInactive:          13760 kB\nActive(anon):          4 kB\n"
    "Inactive(anon):     4464 kB\nActive(file):       4256 kB\nInactive(file):     9296 kB\n"
    "Unevictable:        2476 kB\nMlocked:            2476 kB\nSwapTotal:         65532 kB\n"
    "SwapFree:          65532 kB\nDirty:                16 kB\nAnonPages:          4740 kB\n"
    "Mapped:             8340 kB\nShmem:                 4 kB\nKReclaimable:       5808 kB\n"
    "Slab:               9264 kB\nSReclaimable:       5808 kB\nSUnreclaim:         3456 kB\n";

TEST(DeviceLeft, RamTheKernelGivesAndEverySwapAreaFree)
{
    support::expect_reads(read_left, "meminfo", {
        {device_at_rest, 16240 + 4256 + 9296 + 5808 + 65532},
        // A kernel before 4.20: SReclaimable.
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 20 kB\nInactive(file): 30 kB\n"
         "SwapTotal: 65532 kB\nSwapFree: 1000 kB\nSReclaimable: 40 kB\n", 1100},
        // KReclaimable wins where both are given.
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 20 kB\nInactive(file): 30 kB\n"
         "KReclaimable: 5 kB\nSReclaimable: 40 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n", 65},
        // A second area of 1 GiB, all free, added as the dialog advises.
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "KReclaimable: 0 kB\nSwapTotal: 1114108 kB\nSwapFree: 1049576 kB\n", 1049586},
        // Figures of 2^32 KiB and more, as a large host has them.
        {"MemTotal: 1 kB\nMemFree: 4294967296 kB\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "KReclaimable: 0 kB\nSwapTotal: 8589934592 kB\nSwapFree: 8589934592 kB\n",
         4294967296 + 8589934592},
        // No swap at all.
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "KReclaimable: 0 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n", 10},
        // By name, not by place: on the first line too, in any order; the
        // first line of a key counts, and a key is whole ("MemFree" is not
        // "MemFreeX").
        {"MemFree: 10 kB\nSwapFree: 0 kB\nMemFreeX: 99 kB\nKReclaimable: 0 kB\n"
         "Inactive(file): 0 kB\nMemTotal: 1 kB\nActive(file): 0 kB\nMemFree: 77 kB\n", 10},
    });
}

TEST(DeviceLeft, FailsWithTheMeminfoMessages)
{
    support::expect_failed_reads(read_left, "meminfo", {
        {"", mem_read_error},
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "KReclaimable: 0 kB\nSwapTotal: 0 kB\n", mem_parse_error},  // no SwapFree
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "SwapTotal: 0 kB\nSwapFree: 0 kB\n", mem_parse_error},  // nothing reclaimable named
        // A kernel before 2.6.28: no LRU lists of the page cache.
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive: 0 kB\nInactive: 0 kB\n"
         "SReclaimable: 0 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n", mem_parse_error},
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "KReclaimable: 0 kB\nSwapTotal: 0 kB\nSwapFree:0\n", mem_parse_error},  // no blank
        {"MemTotal: 1 kB\nMemFree: 10\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "KReclaimable: 0 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n", mem_parse_error},  // nor lent
        {"MemTotal: 1 kB\nMemFree: 18446744073709551616 kB\nActive(file): 0 kB\n"
         "Inactive(file): 0 kB\nKReclaimable: 0 kB\nSwapFree: 0 kB\n", mem_parse_error},
    }, mem_open_error);
}

// Filling free zram moves pages out of RAM but keeps a third of their size
// in it: it counts at two thirds. Free swap is taken as zram first, at most
// its size.
TEST(DeviceLeft, FreeZramCountsAtWhatItGivesBack)
{
    const std::string ram = "MemTotal: 1 kB\nMemFree: 10 kB\nActive(file): 0 kB\n"
                            "Inactive(file): 0 kB\nKReclaimable: 0 kB\n";
    support::expect_reads(read_left_zram, "meminfo", {
        {ram + "SwapTotal: 32768 kB\nSwapFree: 32768 kB\n", 10 + 32768 - 10922},
        {ram + "SwapTotal: 32768 kB\nSwapFree: 1000 kB\n", 10 + 1000 - 333},
        // A disk of 64 MiB beside it, all free.
        {ram + "SwapTotal: 98304 kB\nSwapFree: 98304 kB\n", 10 + 65536 + 32768 - 10922},
        {ram + "SwapTotal: 0 kB\nSwapFree: 0 kB\n", 10},
    });
}

// What is in use: MemTotal less the RAM counted as left, never below 0.
TEST(InUse, MemTotalLessWhatIsLeftOfRam)
{
    support::expect_reads(read_in_use, "meminfo", {
        {device_at_rest, 49492 - (16240 + 4256 + 9296 + 5808)},
        {"MemTotal: 10 kB\nMemFree: 20 kB\nActive(file): 0 kB\nInactive(file): 0 kB\n"
         "SReclaimable: 0 kB\nSwapFree: 0 kB\n", 0},
    });
    support::expect_failed_reads(read_in_use, "meminfo", {
        // A kernel before 2.6.28.
        {"MemTotal: 1 kB\nMemFree: 10 kB\nActive: 0 kB\nInactive: 0 kB\n"
         "SReclaimable: 0 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n", mem_parse_error},
    }, mem_open_error);
}

} // namespace
