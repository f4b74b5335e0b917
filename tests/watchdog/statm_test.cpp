// The statm reader on chosen contents and on live processes.
#include <unistd.h>

#include <gtest/gtest.h>

#include "procinfo/procinfo.h"
#include "support/fatal_line.h"
#include "support/files.h"
#include "support/process.h"
#include "support/readers.h"
#include "watchdog/watchdog.h"

namespace {

TEST(ProcessMemory, TakesTheFirstField)
{
    support::expect_reads(read_process_memory, {
        {"730 452 424 5 0 89 0\n", 730},
        {"0 0 0 0 0 0 0\n", 0},                   // exited, not yet reaped
        {"4294967295 1 1 1 0 1 0\n", 4294967295u},
        {"12\t34 5\n", 12},  // cut at the space: "12\t34" converts to 12
    });
}

TEST(ProcessMemory, EveryFailureIsFatal)
{
    support::expect_fatal_reads(read_process_memory, {
        {"", statm_read_error},
        {"730\n", statm_parse_error},
        {"abc", statm_parse_error},
        {"4294967296 1 1 1 0 1 0\n", statm_parse_error},
    }, statm_open_error);
}

TEST(ProcessMemory, ReadsALiveProcessAndFailsOnAGoneOne)
{
    // A stand-in, not this process: a sanitizer build reserves more address
    // space than 32 bits of pages can count.
    support::Standin standin;
    const std::string statm =
        support::read_file("/proc/" + std::to_string(standin.pid) + "/statm");
    unsigned long pages = 0;
    ASSERT_EQ(std::sscanf(statm.c_str(), "%lu", &pages), 1);
    const std::uint32_t read = get_process_memory(standin.pid);
    EXPECT_GT(read, 0u);
    EXPECT_EQ(read, pages);

    EXPECT_FATAL(get_process_memory(0), statm_open_error);
    EXPECT_FATAL(get_process_memory(-1), statm_open_error);
    const int gone = standin.pid;
    standin.end();
    EXPECT_FATAL(get_process_memory(gone), statm_open_error);
}

} // namespace
