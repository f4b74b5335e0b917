// The text primitives: search order, blanks, 32-bit number conversion.
#include <cstring>

#include <gtest/gtest.h>

#include "procinfo/procinfo.h"

namespace {

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
        EXPECT_EQ(find_space(text) - text, c.position) << c.text;
        EXPECT_STREQ(text, c.text) << "the text must not change";
    }
}

TEST(FindSpace, NoBlankAtAllFindsNothing)
{
    for (const char *text : {"12\n", "", "abc", "1\n2\n"}) {
        char copy[16];
        std::strcpy(copy, text);
        EXPECT_EQ(find_space(copy), nullptr) << '"' << text << '"';
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
    for (const NumberCase &c : cases) {
        std::uint32_t value = 12345;
        EXPECT_TRUE(parse_number(c.text, value)) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}

TEST(ParseNumber, AMagnitudeBeyond32BitsFailsAndLeavesTheValue)
{
    for (const char *text : {"4294967296", "-4294967296", "99999999999",
                             "18446744073709551615", "-18446744073709551615",
                             "18446744073709551616", " 4294967296x"}) {
        std::uint32_t value = 12345;
        EXPECT_FALSE(parse_number(text, value)) << text;
        EXPECT_EQ(value, 12345u) << text;
    }
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
}

} // namespace
