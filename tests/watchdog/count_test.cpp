// The table of counts: each row found by its name and measured where the
// binary measures it, on directories of chosen files laid out as /proc and
// /proc/PID; and the fatal path that turns a failure into the fatal line.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/fatal_line.h"
#include "support/files.h"
#include "watchdog/watchdog.h"

namespace {

int open_dir(const support::TempDir &dir)
{
    return open(dir.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string status(unsigned rss, unsigned swap)
{
    return "Name:\tx\nVmRSS:\t" + std::to_string(rss) + " kB\nVmSwap:\t" +
           std::to_string(swap) + " kB\n";
}

// What is left: 1000 of RAM, and the first swap area's 500 free.
const char *const meminfo =
    "MemTotal: 8000 kB\nMemFree: 400 kB\nActive(file): 300 kB\nInactive(file): 200 kB\n"
    "KReclaimable: 100 kB\nSwapTotal: 500 kB\nSwapFree: 500 kB\n";

// /proc, /proc/X_PID and /proc/BROWSER_PID as chosen files, their handles
// where the counts look for them.
struct Scene : testing::Test {
    support::TempDir proc, x, m;

    void SetUp() override
    {
        proc.write("meminfo", meminfo);
        x.write("statm", "100 50 0 0 0 0 0\n");
        m.write("statm", "200 50 0 0 0 0 0\n");
        x.write("status", status(10, 5));
        m.write("status", status(20, 0));
        proc_dir = open_dir(proc);
        x_dir = open_dir(x);
        moz_dir = open_dir(m);
        page_kib = 4;
        swap_size = 500;
        ram_and_swap = 8000 + 500;
    }

    void TearDown() override
    {
        close(proc_dir);
        close(x_dir);
        close(moz_dir);
    }
};

struct Measured {
    const char *name;
    std::uint64_t memory, x, m;
    bool held;  // the limit line gives what each holds, not shares of its own
};

TEST_F(Scene, EachRowMeasuresItsOwnFiles)
{
    const Measured rows[] = {
        {"size", (100 + 200) * 4, 100 * 4, 200 * 4, false},
        {"resident", 10 + 5 + 20, 15, 20, false},
        {"headroom", 8500 - (400 + 300 + 200 + 100 + 500), 0, 0, true},
    };
    for (const Measured &row : rows) {
        const Count *c = find_count(row.name);
        ASSERT_NE(c, nullptr) << row.name;
        EXPECT_STREQ(c->name, row.name);
        std::uint64_t memory = 1, x = 1, m = 1;
        EXPECT_EQ(measure_count(*c, memory, x, m), nullptr) << row.name;
        EXPECT_EQ(memory, row.memory) << row.name;
        EXPECT_EQ(x, row.x) << row.name;
        EXPECT_EQ(m, row.m) << row.name;
        EXPECT_EQ(c->kind == CountKind::headroom, row.held) << row.name;
        if (row.held) {
            // What each holds, as the resident count reads it.
            EXPECT_EQ(measure_held(x, m), nullptr) << row.name;
            EXPECT_EQ(x, 15u) << row.name;
            EXPECT_EQ(m, 20u) << row.name;
        }
    }
}

struct Missing {
    const char *name;
    support::TempDir Scene::*dir;
    const char *file;
    const char *error;
};

TEST_F(Scene, EachRowFailsWithTheMessageOfWhatIsGone)
{
    const Missing rows[] = {
        {"size", &Scene::x, "statm", statm_open_error},
        {"size", &Scene::m, "statm", statm_open_error},
        {"resident", &Scene::m, "status", status_open_error},
        {"headroom", &Scene::m, "status", status_open_error},  // watched all the same
        {"headroom", &Scene::proc, "meminfo", mem_open_error},
    };
    for (const Missing &row : rows) {
        const std::string path = (this->*row.dir).path(row.file);
        const std::string kept = support::read_file(path);
        ASSERT_EQ(unlink(path.c_str()), 0);
        std::uint64_t memory = 0, x = 0, m = 0;
        EXPECT_EQ(measure_count(*find_count(row.name), memory, x, m), row.error)
            << row.name << " without " << row.file;
        (this->*row.dir).write(row.file, kept);
    }
}

TEST(Counts, ChosenByNameTheSizeByDefault)
{
    for (const char *value : {static_cast<const char *>(nullptr), "", "size"}) {
        choose_count(value);
        EXPECT_STREQ(count->name, "size");
    }
    choose_count("headroom");
    EXPECT_STREQ(count->name, "headroom");
    EXPECT_EQ(find_count("Size"), nullptr);
    EXPECT_EQ(find_count("sizes"), nullptr);
    EXPECT_FATAL(choose_count("rss"), invalid_usage_error);
    choose_count(nullptr);
}

TEST(FatalPath, WritesOneLineAndExitsWithOne)
{
    EXPECT_FATAL_OUTPUT(do_error(invalid_usage_error),
                        "Browser controller: fatal error (invalid usage), exiting...\n");
    EXPECT_FATAL(fatal_if(mem_parse_error), mem_parse_error);
    EXPECT_FATAL(value_of(failure(swap_read_error)), swap_read_error);
    EXPECT_STREQ(prefix, "Browser controller: ");
}

TEST(FatalPath, AWarningIsLoggedAndTheFigureStands)
{
    fatal_if(nullptr);
    Reading reading = figure(0);
    reading.warning = swap_open_error;
    testing::internal::CaptureStdout();
    EXPECT_EQ(value_of(reading), 0u);
    EXPECT_EQ(value_of(figure(42)), 42u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Browser controller: cannot open /proc/swaps\n");
}

} // namespace
