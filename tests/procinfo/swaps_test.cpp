// The swap reader on chosen /proc/swaps contents.
#include <gtest/gtest.h>

#include "procinfo/procinfo.h"
#include "support/files.h"
#include "support/readers.h"

namespace {

const std::string header = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";

struct SwapCase {
    std::string content;
    std::uint32_t kib;
    std::string output;  // warnings written
};

TEST(SwapSize, ReadsTheFirstAreaOrNothing)
{
    const SwapCase cases[] = {
        {header + "/dev/sda2                               partition\t1046524\t\t0\t\t-2\n",
         1046524, ""},
        {header + "/swapfile                               file\t\t2097148\t\t512\t\t-2\n"
                  "/dev/sdb1                               partition\t999\t\t0\t\t-3\n",
         2097148, ""},  // only the first area counts
        {header, 0, ""},                                     // no swap active
        {"", 0, ""},                                         // empty file
        {"Filename\tType\tSize", 0, ""},                     // header without newline
        {header + "/a file\t1\t0\t-2", 1, ""},  // last line without newline
    };
    support::TempDir dir;
    for (const SwapCase &c : cases) {
        const std::string path = dir.write("swaps", c.content);
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_swap_size(path.c_str()), c.kib) << c.content;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output) << c.content;
    }
}

TEST(SwapSize, AMissingFileWarnsAndCountsZero)
{
    support::TempDir dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_swap_size(dir.path("missing").c_str()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Browser controller: cannot open /proc/swaps\n");
}

TEST(SwapSize, AnUnreadableHeaderWarnsAndCountsZero)
{
    // Reading a directory fails with EISDIR without reaching its end.
    support::TempDir dir;
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_swap_size(dir.dir.c_str()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Browser controller: cannot read /proc/swaps\n");
}

TEST(SwapSize, AMalformedFirstAreaIsFatal)
{
    support::expect_fatal_reads(read_swap_size, {
        {header + "/dev/sda2\n", swap_parse_error},                     // no blank after the name
        {header + "/dev/sda2 partition\n", swap_parse_error},           // none after the type
        {header + "/dev/sda2 partition\t1046524\n", swap_parse_error},  // none after the size
        {header + "/dev/sda2 partition\t4294967296\t0\t-2\n", swap_parse_error},  // overflows
    });
}

TEST(SwapSize, ReadsThisMachine)
{
    EXPECT_EQ(get_swap_size(), support::machine_swap_kib());
}

} // namespace
