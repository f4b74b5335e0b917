// Text primitives for /proc lines: fixed buffer, no copies, no allocation.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "procinfo/procinfo.h"

static_assert(sizeof(unsigned long) >= sizeof(std::uint32_t),
              "strtoul must hold every 32-bit value");

namespace {
// stdio's buffer for the one open stream. Given before the first read, it
// spares stdio a heap allocation and an fstat() for every file read.
char stream_buf[buf_size];
} // namespace

FILE *open_stream(const char *path)
{
    FILE *file = std::fopen(path, "r");
    if (file != nullptr)
        std::setvbuf(file, stream_buf, _IOFBF, sizeof stream_buf);
    return file;
}

FILE *open_file(const char *path, const char *message)
{
    FILE *file = open_stream(path);
    if (file == nullptr)
        do_error(message);
    return file;
}

char *find_space(char *text, const char *message)
{
    // A space anywhere in the rest wins over an earlier tab.
    char *blank = std::strchr(text, ' ');
    if (blank == nullptr)
        blank = std::strchr(text, '\t');
    if (blank == nullptr)
        do_error(message);
    return blank;
}

char *skip_spaces(char *text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
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

std::uint32_t parse_number(const char *text, const char *message)
{
    errno = 0;
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (errno != 0)
        do_error(message);
    // Where unsigned long is wider than 32 bits, enforce the 32-bit bound on
    // the magnitude that was written, before any negation.
    const unsigned long magnitude = is_negated(text) ? 0UL - value : value;
    if (magnitude > UINT32_MAX)
        do_error(message);
    return static_cast<std::uint32_t>(value);
}
