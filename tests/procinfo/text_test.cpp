// Lines, words and decimal numbers, on chosen text: the bounds of a number,
// its leading zeros and 2^64, a line's ends, and a file read a buffer at a
// time whatever its lines' lengths.
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "procinfo/procinfo.h"
#include "support/files.h"
#include "support/readers.h"

namespace {

struct DecimalCase {
    const char *text;
    std::uint64_t most;
    bool read;
    std::uint64_t value;
};

TEST(ParseDecimal, DigitsAloneUpToTheirBound)
{
    const DecimalCase cases[] = {
        {"0", 9, true, 0},
        {"007", 9, true, 7},                     // leading zeros are a number's
        {"4194304", 4194304, true, 4194304},     // the bound itself
        {"4194305", 4194304, false, 0},
        {"5", 4, false, 0},                      // one digit above a bound below 10
        {"10", 9, false, 0},
        {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, false, 0},   // 2^64
        {"99999999999999999999999", UINT64_MAX, false, 0},
        {"000000000000000000000000001", UINT64_MAX, true, 1},
        {"", UINT64_MAX, false, 0},
        {"12x", UINT64_MAX, false, 0},
        {"-1", UINT64_MAX, false, 0},
        {"+1", UINT64_MAX, false, 0},
        {" 1", UINT64_MAX, false, 0},
        {"1 ", UINT64_MAX, false, 0},
    };
    for (const DecimalCase &c : cases) {
        std::uint64_t value = 12345;
        EXPECT_EQ(parse_decimal(c.text, c.text + std::strlen(c.text), c.most, value), c.read)
            << '"' << c.text << '"';
        EXPECT_EQ(value, c.read ? c.value : 12345) << '"' << c.text << '"';
    }
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    const char *cursor = text.data();
    for (Line line; next_line(cursor, text.data() + text.size(), line);)
        lines.emplace_back(line.start, line.end);
    return lines;
}

TEST(NextLine, EachLineWithoutItsNewline)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(lines_of(""), Lines{});
    EXPECT_EQ(lines_of("a"), Lines{"a"});
    EXPECT_EQ(lines_of("a\n"), Lines{"a"});
    EXPECT_EQ(lines_of("a\nbc"), (Lines{"a", "bc"}));
    EXPECT_EQ(lines_of("\n\n"), (Lines{"", ""}));
    EXPECT_EQ(lines_of(std::string("a\0b\nc", 5)), (Lines{std::string("a\0b", 3), "c"}));
}

void collect(char *line, void *lines)
{
    static_cast<std::vector<std::string> *>(lines)->emplace_back(line);
}

TEST(ReadLines, EveryLineWhateverTheBufferHolds)
{
    support::TempDir dir;
    const int handle = open(dir.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(handle, 0);
    struct Case {
        std::string content;
        std::vector<std::string> lines;
    };
    const std::string long_line(20, 'x');
    const Case cases[] = {
        {"one\ntwo\n", {"one", "two"}},
        {"one\ntwo", {"one", "two"}},                       // no newline at the end
        {"ab\ncdefg\nhi\n", {"ab", "cdefg", "hi"}},         // lines across the buffer's ends
        {"ab\n" + long_line + "\ncd\n", {"ab", "cd"}},      // longer than the buffer: passed over
        {"ab\n" + long_line, {"ab"}},
        {"", {}},
    };
    for (const Case &c : cases) {
        dir.write("text", c.content);
        char buffer[8];
        std::vector<std::string> lines;
        EXPECT_EQ(read_lines(handle, "text", buffer, sizeof buffer, collect, &lines), 0);
        EXPECT_EQ(lines, c.lines) << c.content;
    }
    std::vector<std::string> none;
    char buffer[8];
    EXPECT_EQ(read_lines(handle, "missing", buffer, sizeof buffer, collect, &none), cannot_open);
    close(handle);
}

// The zones of the 64 MiB device, its Normal zone's watermarks boosted: the
// kernel keeps (102 + 30) + 2 * 85 + (1240 - 1024) + 2 * (1204 - 1024)
// pages, 878.
const std::string device_zones =
    "Node 0, zone      DMA\n  pages free     3591\n        boost    0\n        min      68\n"
    "        low      85\n        high     102\n        managed  3680\n"
    "        protection: (0, 30, 30)\n              high:  85\n"
    "Node 0, zone   Normal\n  pages free     469\n        boost    1024\n"
    "        min      1168\n        low      1204\n        high     1240\n"
    "        managed  8693\n        protection: (0, 0, 0)\n              high:  180\n";

std::uint64_t pages(std::uint64_t n)
{
    return n * (static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024);
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

TEST(KernelKeep, TheZonesWatermarksAndProtectionLessTheBoost)
{
    support::expect_reads(read_kernel_keep, "zoneinfo", {
        {device_zones, pages(878)},
        // Before 3.8: a zone's present pages, no managed ones.
        {replaced(device_zones, "managed  3680", "present  3680"), pages(878)},
        // A reserve above the zone's pages is its pages.
        {"Node 0, zone DMA\n        low 10\n        high 100\n        managed 50\n"
         "        protection: (0, 4000)\n", pages(50 + 20)},
    });
    support::expect_failed_reads(read_kernel_keep, "zoneinfo", {
        {"", zone_parse_error},
        {"        low 10\n", zone_parse_error},  // no zone
        {replaced(device_zones, "low      85", "low      8x5"), zone_parse_error},
    }, zone_open_error);
}

} // namespace
