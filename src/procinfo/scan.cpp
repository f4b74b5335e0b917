// Text primitives for /proc lines: no copies, no allocation.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "procinfo/procinfo.h"

static_assert(sizeof(unsigned long) >= sizeof(std::uint32_t),
              "strtoul must hold every 32-bit value");

char *find_space(char *text)
{
    // A space anywhere in the rest wins over an earlier tab.
    char *blank = std::strchr(text, ' ');
    return blank != nullptr ? blank : std::strchr(text, '\t');
}

const char *skip_spaces(const char *text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
}

char *skip_spaces(char *text)
{
    return text + (skip_spaces(static_cast<const char *>(text)) - text);
}

namespace {

// Whether strtoul reads a minus sign: the white space it skips, then '-'.
bool is_negated(const char *text)
{
    while (std::isspace(static_cast<unsigned char>(*text)) != 0)
        ++text;
    return *text == '-';
}

} // namespace

bool parse_number(const char *text, std::uint32_t &value)
{
    errno = 0;
    const unsigned long converted = std::strtoul(text, nullptr, 10);
    if (errno != 0)
        return false;
    // Where unsigned long is wider than 32 bits, enforce the 32-bit bound on
    // the magnitude that was written, before any negation.
    const unsigned long magnitude = is_negated(text) ? 0UL - converted : converted;
    if (magnitude > UINT32_MAX)
        return false;
    value = static_cast<std::uint32_t>(converted);
    return true;
}

char *next_field(char *text)
{
    char *blank = text != nullptr ? find_space(text) : nullptr;
    return blank != nullptr ? skip_spaces(blank) : nullptr;
}

Reading cut_number(char *text, const char *parse_error)
{
    char *blank = text != nullptr ? find_space(text) : nullptr;
    if (blank == nullptr)
        return failure(parse_error);
    *blank = '\0';
    std::uint32_t value = 0;
    return parse_number(text, value) ? figure(value) : failure(parse_error);
}
