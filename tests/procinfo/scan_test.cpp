// The text primitives: search order, blanks, 32-bit number conversion.
#include <cstring>

#include <gtest/gtest.h>

#include "procinfo/procinfo.h"
#include "support/fatal_line.h"

namespace {

const char *const message = "test message";

struct FindCase {
    const char *text;
    int position;  // expected offset of the blank
};

TEST(FindSpace, ASpaceAnywhereWinsOverAnEarlierTab)
{
    const FindCase cases[] = {
        {"12\t34 kB", 5},           // space after the tab wins
        {"12\t34\n", 2},            // no space: the tab
        {"MemTotal:\t\t100 kB\n", 14},
        {" lead", 0},
        {"a\tb\tc", 1},             // first of several tabs
        {"/dev/sda2     \tpartition\t1024\t0\t-2\n", 9},
    };
    for (const FindCase &c : cases) {
        char text[64];
        std::strcpy(text, c.text);
        EXPECT_EQ(find_space(text, message) - text, c.position) << c.text;
        EXPECT_STREQ(text, c.text) << "the text must not change";
    }
}

TEST(FindSpace, NoBlankAtAllIsFatal)
{
    for (const char *text : {"12\n", "", "abc", "1\n2\n"}) {
        char copy[16];
        std::strcpy(copy, text);
        EXPECT_FATAL(find_space(copy, message), message) << '"' << text << '"';
    }
}

TEST(SkipSpaces, StopsAtTheFirstNonBlank)
{
    const FindCase cases[] = {
        {" \t x", 3}, {"", 0}, {"x", 0}, {"  \n", 2}, {"\t\t\t5 kB", 3},
    };
    for (const FindCase &c : cases) {
        char text[32];
        std::strcpy(text, c.text);
        EXPECT_EQ(skip_spaces(text) - text, c.position) << '"' << c.text << '"';
    }
}

struct NumberCase {
    const char *text;
    std::uint32_t value;
};

TEST(ParseNumber, BehavesAsA32BitStrtoul)
{
    const NumberCase cases[] = {
        {"0", 0},
        {"42", 42},
        {"12x", 12},                  // trailing characters are ignored
        {"abc", 0},                   // no digits: 0, not an error
        {"", 0},
        {"  \t 7", 7},                // leading white space
        {"\n9", 9},
        {"+5", 5},
        {"4294967295", 4294967295u},  // the largest 32-bit value
        {"-1", 4294967295u},          // the unsigned negation
        {"-5", 4294967291u},
        {"-4294967295", 1},
        {"-0", 0},
        {"- 5", 0},                   // a sign must touch its digits
        {"0004294967295", 4294967295u},
        {"24744 0 0 0\n", 24744},
    };
    for (const NumberCase &c : cases)
        EXPECT_EQ(parse_number(c.text, message), c.value) << '"' << c.text << '"';
}

TEST(ParseNumber, AMagnitudeBeyond32BitsIsFatal)
{
    for (const char *text : {"4294967296", "-4294967296", "99999999999",
                             "18446744073709551615", "-18446744073709551615",
                             "18446744073709551616", " 4294967296x"}) {
        EXPECT_FATAL(parse_number(text, message), message) << text;
    }
}

TEST(DoError, WritesOneLineAndExitsWithOne)
{
    EXPECT_FATAL_OUTPUT(do_error(invalid_usage_error),
                        "Browser controller: fatal error (invalid usage), exiting...\n");
}

TEST(OpenFile, AMissingFileIsFatalWithTheCallersMessage)
{
    EXPECT_FATAL(open_file("/nonexistent/meminfo", mem_open_error), mem_open_error);
    FILE *file = open_file("/proc/self/stat", mem_open_error);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
}

TEST(Catalogue, TextsAreTheLoggedOnes)
{
    const struct {
        const char *pointer;
        const char *text;
    } texts[] = {
        {statm_parse_error, "cannot parse /proc/.../statm"},
        {statm_read_error, "cannot read /proc/.../statm"},
        {statm_open_error, "cannot open /proc/.../statm"},
        {mem_parse_error, "cannot parse /proc/meminfo"},
        {mem_read_error, "cannot read /proc/meminfo"},
        {mem_open_error, "cannot open /proc/meminfo"},
        {swap_parse_error, "cannot parse /proc/swaps"},
        {swap_read_error, "cannot read /proc/swaps"},
        {swap_open_error, "cannot open /proc/swaps"},
        {invalid_usage_error, "invalid usage"},
        {invalid_mem_config, "invalid memory configuration"},
    };
    for (const auto &t : texts)
        EXPECT_STREQ(t.pointer, t.text);
    EXPECT_STREQ(prefix, "Browser controller: ");
}

} // namespace
